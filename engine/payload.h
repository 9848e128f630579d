// The new release's setup files, carried scrambled in the updater's own resources ("ZELNA" 136 to
// 145), and their extraction into "<work folder>\setup".
#ifndef ENGINE_PAYLOAD_H_
#define ENGINE_PAYLOAD_H_

#include "engine/core/payload_files.h"

// Unscrambles every file of kPayloadFiles into a fresh setup folder inside the update's work folder
// (made first when there is none; an earlier setup folder is deleted first). Returns 1 with
// folder[520] holding the folder's path; 0 on failure, after which the partial folder is gone and
// folder must not be used. A work folder that cannot be had, an earlier setup folder that cannot
// be removed completely, resource, file and write failures show the system's text (nothing is
// written then into the earlier folder); a setup folder that cannot be created or memory that
// cannot be had show nothing.
int ExtractPayload(char* folder);

// Deletes the setup folder that ExtractPayload made, once the setup has ended. A failure is logged
// with its code; what is left goes with the work folder.
void DeleteExtractedPayload(const char* folder);

#endif  // ENGINE_PAYLOAD_H_
