// The key stream that scrambles the embedded setup files, shared by the build step that packs them
// and the updater that unpacks them. Plain C++: no Windows headers, so the host build tool uses
// this very file.
#ifndef ENGINE_CORE_KEY_STREAM_H_
#define ENGINE_CORE_KEY_STREAM_H_

#include <cstdint>

// Size of one block and of the key stream: the byte at file offset k is XORed with key byte
// (k mod kKeyStreamSize).
constexpr unsigned kKeyStreamSize = 102400;

// The generator's seed (the same for packing and unpacking).
constexpr uint32_t kKeyStreamSeed = 0x54D5A7C3u;

// Fills buffer with length/2 successive draws of the C runtime's rand algorithm seeded with
// kKeyStreamSeed (state = state * 214013 + 2531011; draw = (state >> 16) & 0x7FFF), each stored
// as a 16-bit little-endian word. An odd final byte gets the low byte of one more draw.
void FillKeyStream(unsigned char* buffer, unsigned length);

// data[i] ^= key[i] for i < length. Applying it twice gives the data back.
void XorWithKeyStream(unsigned char* data, const unsigned char* key, unsigned length);

// out[i] = data[i] ^ key[i] for i < length: the same rule in one pass from a read-only source,
// such as the program's own resource. out may be data itself; the two may not overlap otherwise.
void XorWithKeyStreamInto(unsigned char* out, const unsigned char* data, const unsigned char* key,
                          unsigned length);

#endif  // ENGINE_CORE_KEY_STREAM_H_
