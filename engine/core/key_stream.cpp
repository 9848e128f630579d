// The key stream of the embedded setup files and the XOR that applies it. This file is compiled
// twice: into the updater (MinGW) and into the host build tool that scrambles the files, so it uses
// nothing but the language and the compiler's own CPU-feature helpers.
#include "engine/core/key_stream.h"

#include <cstddef>
#include <cstring>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define KEY_STREAM_HAVE_SSE2_PATH 1
#include <cpuid.h>
#include <emmintrin.h>
#else
#define KEY_STREAM_HAVE_SSE2_PATH 0
#endif

namespace key_stream_detail {

// The plain path: whole machine words, then 16-bit words, then an odd final byte. Loads and stores
// go through memcpy, so any alignment of out, data and key is fine; the compiler turns them into
// single moves. out may be data itself.
void XorPlain(unsigned char* out, const unsigned char* data, const unsigned char* key,
              unsigned length) {
  typedef uintptr_t Word;  // 32 bits on the shipped build, 64 on the test build
  unsigned i = 0;
  const unsigned wordCount = length / sizeof(Word);
  // Four words per round keeps the loop overhead small against the memory traffic.
  const unsigned unrolled = wordCount & ~3u;
  for (unsigned w = 0; w < unrolled; w += 4, i += 4 * sizeof(Word)) {
    Word d[4], k[4];
    std::memcpy(d, data + i, sizeof(d));
    std::memcpy(k, key + i, sizeof(k));
    d[0] ^= k[0];
    d[1] ^= k[1];
    d[2] ^= k[2];
    d[3] ^= k[3];
    std::memcpy(out + i, d, sizeof(d));
  }
  for (unsigned w = unrolled; w < wordCount; ++w, i += sizeof(Word)) {
    Word d, k;
    std::memcpy(&d, data + i, sizeof(d));
    std::memcpy(&k, key + i, sizeof(k));
    d ^= k;
    std::memcpy(out + i, &d, sizeof(d));
  }
  for (; i + 2 <= length; i += 2) {
    uint16_t d, k;
    std::memcpy(&d, data + i, sizeof(d));
    std::memcpy(&k, key + i, sizeof(k));
    d ^= k;
    std::memcpy(out + i, &d, sizeof(d));
  }
  if (i < length) out[i] = data[i] ^ key[i];
}

#if KEY_STREAM_HAVE_SSE2_PATH

// The SSE2 path: 64 bytes per round in 16-byte registers, the rest through the plain path. The
// output pointer is first brought to a 16-byte boundary (the 32-bit heap only promises 8), so the
// stores are aligned; the data and the key stream are read unaligned, as their offsets relative
// to the output are arbitrary. Compiled for SSE2 whatever the target's baseline is; only ever
// called after HasSse2() said yes.
__attribute__((target("sse2"))) void XorSse2(unsigned char* out, const unsigned char* data,
                                             const unsigned char* key, unsigned length) {
  unsigned head = static_cast<unsigned>((16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15);
  if (head > length) head = length;
  XorPlain(out, data, key, head);
  unsigned i = head;
  for (; i + 64 <= length; i += 64) {
    const __m128i* d = reinterpret_cast<const __m128i*>(data + i);
    const __m128i* k = reinterpret_cast<const __m128i*>(key + i);
    __m128i* o = reinterpret_cast<__m128i*>(out + i);
    const __m128i x0 = _mm_xor_si128(_mm_loadu_si128(d), _mm_loadu_si128(k));
    const __m128i x1 = _mm_xor_si128(_mm_loadu_si128(d + 1), _mm_loadu_si128(k + 1));
    const __m128i x2 = _mm_xor_si128(_mm_loadu_si128(d + 2), _mm_loadu_si128(k + 2));
    const __m128i x3 = _mm_xor_si128(_mm_loadu_si128(d + 3), _mm_loadu_si128(k + 3));
    _mm_store_si128(o, x0);
    _mm_store_si128(o + 1, x1);
    _mm_store_si128(o + 2, x2);
    _mm_store_si128(o + 3, x3);
  }
  for (; i + 16 <= length; i += 16) {
    _mm_store_si128(reinterpret_cast<__m128i*>(out + i),
                    _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + i))));
  }
  XorPlain(out + i, data + i, key + i, length - i);
}

// CPUID leaf 1, EDX bit 26. __get_cpuid also copes with processors that have no CPUID at all
// (it answers 0 there), so the plain path serves every processor the updater may meet.
bool HasSse2() {
#if defined(__x86_64__)
  return true;  // part of the x86-64 baseline
#else
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx & bit_SSE2) != 0;
#endif
}

#else

void XorSse2(unsigned char* out, const unsigned char* data, const unsigned char* key,
             unsigned length) {
  XorPlain(out, data, key, length);
}
bool HasSse2() { return false; }

#endif

}  // namespace key_stream_detail

void FillKeyStream(unsigned char* buffer, unsigned length) {
  // The C runtime's rand, with its state local to this call: seeding here makes the stream
  // independent of any earlier use of the generator, on every thread.
  uint32_t state = kKeyStreamSeed;
  auto draw = [&state]() -> unsigned {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  };
  unsigned i = 0;
  for (; i + 2 <= length; i += 2) {
    const unsigned value = draw();
    buffer[i] = static_cast<unsigned char>(value & 0xFF);
    buffer[i + 1] = static_cast<unsigned char>(value >> 8);
  }
  if (i < length) buffer[i] = static_cast<unsigned char>(draw() & 0xFF);
}

void XorWithKeyStreamInto(unsigned char* out, const unsigned char* data, const unsigned char* key,
                          unsigned length) {
  // The processor is asked once; the answer cannot change while the process runs.
  static const bool useSse2 = key_stream_detail::HasSse2();
  if (useSse2) {
    key_stream_detail::XorSse2(out, data, key, length);
  } else {
    key_stream_detail::XorPlain(out, data, key, length);
  }
}

void XorWithKeyStream(unsigned char* data, const unsigned char* key, unsigned length) {
  XorWithKeyStreamInto(data, data, key, length);
}
