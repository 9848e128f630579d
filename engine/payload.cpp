// PLACEHOLDER until payload extraction lands.
#include "engine/payload.h"
const PayloadEntry PayloadTable[] = {{nullptr, 0}};
int ExtractPayload(char* folder) { folder[0] = '\0'; return 0; }
