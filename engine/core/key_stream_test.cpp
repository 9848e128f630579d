#include "engine/core/key_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

// The two XOR paths behind XorWithKeyStream (engine/core/key_stream.cpp).
namespace key_stream_detail {
void XorPlain(unsigned char* out, const unsigned char* data, const unsigned char* key,
              unsigned length);
void XorSse2(unsigned char* out, const unsigned char* data, const unsigned char* key,
             unsigned length);
bool HasSse2();
}  // namespace key_stream_detail

namespace {

// The C runtime's rand, written out from its definition.
struct ReferenceRand {
  explicit ReferenceRand(uint32_t seed) : state(seed) {}
  unsigned Next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFF;
  }
  uint32_t state;
};

std::vector<unsigned char> FullKeyStream() {
  std::vector<unsigned char> key(kKeyStreamSize);
  FillKeyStream(key.data(), kKeyStreamSize);
  return key;
}

std::vector<unsigned char> IrregularBytes(size_t size, uint32_t seed) {
  std::vector<unsigned char> bytes(size);
  uint32_t x = seed | 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 11);
  }
  return bytes;
}

using XorFunction = void (*)(unsigned char*, const unsigned char*, const unsigned char*, unsigned);

struct XorPath {
  const char* name;
  XorFunction function;
};

std::vector<XorPath> PathsToTest() {
  std::vector<XorPath> paths = {{"public", XorWithKeyStreamInto},
                                {"plain", key_stream_detail::XorPlain}};
  if (key_stream_detail::HasSse2()) paths.push_back({"sse2", key_stream_detail::XorSse2});
  return paths;
}

}  // namespace

TEST(KeyStreamTest, ReferenceGeneratorIsTheCRuntimeRand) {
  // The first draws of the C runtime's rand after srand(1), as every C library of that lineage
  // gives them: the test's reference must be that generator, not merely some LCG.
  ReferenceRand rand1(1);
  const unsigned expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (unsigned value : expected) EXPECT_EQ(value, rand1.Next());
}

TEST(KeyStreamTest, StreamIsTheGeneratorsDrawsAsLittleEndianWords) {
  const std::vector<unsigned char> key = FullKeyStream();
  ReferenceRand reference(kKeyStreamSeed);
  unsigned nonZeroWords = 0;
  for (unsigned i = 0; i < kKeyStreamSize; i += 2) {
    const unsigned draw = reference.Next();
    const unsigned word = key[i] | (key[i + 1] << 8);
    ASSERT_EQ(draw, word) << "word at byte " << i;
    ASSERT_EQ(0, key[i + 1] & 0x80) << "high bit of the word at byte " << i;
    if (word != 0) ++nonZeroWords;
  }
  EXPECT_GT(nonZeroWords, kKeyStreamSize / 2 - 100);
}

TEST(KeyStreamTest, EveryFillStartsFromTheSeed) {
  const std::vector<unsigned char> first = FullKeyStream();
  // Neither the platform's own generator nor another thread disturbs the stream.
  std::srand(12345);
  for (int i = 0; i < 1000; ++i) (void)std::rand();
  EXPECT_EQ(first, FullKeyStream());
  std::vector<unsigned char> fromThread;
  std::thread worker([&fromThread] { fromThread = FullKeyStream(); });
  worker.join();
  EXPECT_EQ(first, fromThread);
}

TEST(KeyStreamTest, ShortAndOddLengthsAreThePrefixOfTheStream) {
  const std::vector<unsigned char> key = FullKeyStream();
  for (unsigned length : {0u, 1u, 2u, 3u, 7u, 101u, 4096u, 102399u}) {
    std::vector<unsigned char> buffer(length + 8, 0xEE);
    FillKeyStream(buffer.data(), length);
    for (unsigned i = 0; i < length; ++i) ASSERT_EQ(key[i], buffer[i]) << length << "/" << i;
    for (unsigned i = length; i < length + 8; ++i) {
      ASSERT_EQ(0xEE, buffer[i]) << "byte written past length " << length;
    }
  }
}

TEST(KeyStreamTest, XorEqualsBytewiseXorForEveryLengthAndAlignment) {
  // The key stream comes from a heap block and the data from the program's resource, written in
  // place or into a write block; none needs to be aligned, so every path is checked at every
  // offset of each against the plain bytewise rule, with guard bytes around the output.
  std::vector<unsigned char> keyStorage(kKeyStreamSize + 32);
  std::vector<unsigned char> dataStorage(kKeyStreamSize + 32);
  std::vector<unsigned char> sourceStorage(kKeyStreamSize + 32);
  const std::vector<unsigned char> original = IrregularBytes(kKeyStreamSize + 32, 0x1234567);
  const std::vector<unsigned char> key = FullKeyStream();
  std::vector<unsigned> lengths;
  for (unsigned n = 0; n <= 200; ++n) lengths.push_back(n);
  for (unsigned n : {255u, 256u, 257u, 4095u, 4096u, 65537u, 102398u, 102399u, kKeyStreamSize}) {
    lengths.push_back(n);
  }
  for (const XorPath& path : PathsToTest()) {
    SCOPED_TRACE(path.name);
    for (unsigned keyOffset : {0u, 1u, 3u, 8u}) {
      std::copy(key.begin(), key.end(), keyStorage.begin() + keyOffset);
      const unsigned char* k = keyStorage.data() + keyOffset;
      for (unsigned dataOffset : {0u, 1u, 2u, 5u, 16u})
        for (int sourceOffset : {-1, 0, 3}) {  // -1: in place
          for (unsigned length : lengths) {
            if (dataOffset + length + 8 > dataStorage.size()) continue;
            std::copy(original.begin(), original.end(), dataStorage.begin());
            unsigned char* d = dataStorage.data() + dataOffset;
            const unsigned char* source = d;
            if (sourceOffset >= 0) {
              std::fill(dataStorage.begin(), dataStorage.end(), 0xA5);
              std::copy(original.begin() + dataOffset, original.begin() + dataOffset + length,
                        sourceStorage.begin() + sourceOffset);
              source = sourceStorage.data() + sourceOffset;
            }
            path.function(d, source, k, length);
            const auto untouched = [&](unsigned i) {
              return sourceOffset < 0 ? original[i] : 0xA5;
            };
            for (unsigned i = 0; i < dataOffset; ++i) ASSERT_EQ(untouched(i), dataStorage[i]);
            for (unsigned i = 0; i < length; ++i) {
              ASSERT_EQ(static_cast<unsigned char>(original[dataOffset + i] ^ key[i]), d[i])
                  << "length " << length << " data offset " << dataOffset << " key offset "
                  << keyOffset << " source offset " << sourceOffset << " byte " << i;
            }
            for (unsigned i = dataOffset + length; i < dataOffset + length + 8; ++i) {
              ASSERT_EQ(untouched(i), dataStorage[i]) << "written past length " << length;
            }
          }
        }
    }
  }
}

TEST(KeyStreamTest, XorTwiceGivesTheDataBack) {
  const std::vector<unsigned char> key = FullKeyStream();
  for (unsigned length : {0u, 1u, 2u, 3u, 1001u, 102399u, kKeyStreamSize}) {
    const std::vector<unsigned char> original = IrregularBytes(length, length + 7);
    std::vector<unsigned char> data = original;
    XorWithKeyStream(data.data(), key.data(), length);
    if (length >= 16) {
      EXPECT_NE(original, data) << length;
    }
    XorWithKeyStream(data.data(), key.data(), length);
    EXPECT_EQ(original, data) << length;
  }
}
