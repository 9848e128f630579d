// The bounded text routines under every path and registry buffer: a text either fits whole and is
// terminated inside the buffer, or the buffer is left empty; nothing is ever written past it.
#include "base/bounded_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A buffer of `size` usable bytes with guard bytes after it that must never change.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size) : size_(size), bytes_(size + kGuard, 'G') {
    std::memset(&bytes_[0], 'x', size);
  }
  char* get() { return &bytes_[0]; }
  size_t size() const { return size_; }
  bool GuardIntact() const { return bytes_.compare(size_, kGuard, std::string(kGuard, 'G')) == 0; }

 private:
  static constexpr size_t kGuard = 16;
  size_t size_;
  std::string bytes_;
};

TEST(BoundedString, FormatFitsExactlyOrLeavesTheBufferEmpty) {
  GuardedBuffer buffer(8);
  EXPECT_TRUE(base::FormatBounded(buffer.get(), buffer.size(), "%s\\%02d", "C:", 7));
  EXPECT_STREQ("C:\\07", buffer.get());
  EXPECT_TRUE(base::FormatBounded(buffer.get(), buffer.size(), "%s", "1234567"));  // 7 + NUL
  EXPECT_STREQ("1234567", buffer.get());
  EXPECT_FALSE(base::FormatBounded(buffer.get(), buffer.size(), "%s", "12345678"));
  EXPECT_STREQ("", buffer.get());
  EXPECT_TRUE(buffer.GuardIntact());
  EXPECT_FALSE(base::FormatBounded(buffer.get(), 0, "%s", ""));
  EXPECT_FALSE(base::FormatBounded(nullptr, 8, "%s", ""));
}

TEST(BoundedString, CopyFitsExactlyOrLeavesTheBufferEmpty) {
  GuardedBuffer buffer(6);
  EXPECT_TRUE(base::CopyBounded(buffer.get(), buffer.size(), "\x95\x5c\x83\x5c\\"));  // 表ソ\ .
  EXPECT_STREQ("\x95\x5c\x83\x5c\\", buffer.get());
  EXPECT_FALSE(base::CopyBounded(buffer.get(), buffer.size(), "abcdef"));
  EXPECT_STREQ("", buffer.get());
  EXPECT_TRUE(base::CopyBounded(buffer.get(), buffer.size(), nullptr));  // treated as ""
  EXPECT_STREQ("", buffer.get());
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(BoundedString, AppendFitsExactlyOrEmptiesTheWholeBuffer) {
  GuardedBuffer buffer(8);
  ASSERT_TRUE(base::CopyBounded(buffer.get(), buffer.size(), "C:\\a"));
  EXPECT_TRUE(base::AppendBounded(buffer.get(), buffer.size(), "\\bc"));  // 7 + NUL
  EXPECT_STREQ("C:\\a\\bc", buffer.get());
  // One byte too many: the half-built path is gone too, so it cannot be used by mistake.
  EXPECT_FALSE(base::AppendBounded(buffer.get(), buffer.size(), "d"));
  EXPECT_STREQ("", buffer.get());
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(BoundedString, AppendToABufferWithoutTerminatorFailsInsideIt) {
  GuardedBuffer buffer(8);  // eight 'x' and no NUL
  EXPECT_FALSE(base::AppendBounded(buffer.get(), buffer.size(), ""));
  EXPECT_STREQ("", buffer.get());
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(BoundedString, RegistryTextIsTerminatedInsideTheBufferOrRefused) {
  {
    // Stored with its NUL and filling the buffer exactly.
    GuardedBuffer buffer(4);
    std::memcpy(buffer.get(), "abc", 4);
    EXPECT_TRUE(base::TerminateRegistryString(buffer.get(), buffer.size(), 4));
    EXPECT_STREQ("abc", buffer.get());
  }
  {
    // Stored without NUL, one byte shorter than the buffer: terminated after the data.
    GuardedBuffer buffer(4);
    std::memcpy(buffer.get(), "abc", 3);
    EXPECT_TRUE(base::TerminateRegistryString(buffer.get(), buffer.size(), 3));
    EXPECT_STREQ("abc", buffer.get());
  }
  {
    // Stored without NUL and filling the buffer: no room for the terminator.
    GuardedBuffer buffer(4);
    std::memcpy(buffer.get(), "abcd", 4);
    EXPECT_FALSE(base::TerminateRegistryString(buffer.get(), buffer.size(), 4));
    EXPECT_STREQ("", buffer.get());
    EXPECT_TRUE(buffer.GuardIntact());
  }
  {
    // A reported length beyond the buffer is never trusted.
    GuardedBuffer buffer(4);
    std::memcpy(buffer.get(), "abcd", 4);
    EXPECT_FALSE(base::TerminateRegistryString(buffer.get(), buffer.size(), 4000));
    EXPECT_TRUE(buffer.GuardIntact());
  }
  {
    // An empty value (zero bytes) is the empty text.
    GuardedBuffer buffer(4);
    EXPECT_TRUE(base::TerminateRegistryString(buffer.get(), buffer.size(), 0));
    EXPECT_STREQ("", buffer.get());
  }
}

}  // namespace
