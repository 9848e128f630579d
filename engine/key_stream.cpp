// PLACEHOLDER until payload extraction lands.
#include "engine/key_stream.h"
void FillKeyStream(unsigned char*, unsigned) {}
void XorWithKeyStream(unsigned char* data, const unsigned char* key, unsigned length) {
  for (unsigned i = 0; i < length; ++i) data[i] ^= key[i];
}
