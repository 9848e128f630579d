// The harness itself: the suite must run in the users' code page, or the double-byte cases would
// pass without testing anything.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Harness, RunsInJapaneseAnsiCodePage) {
  EXPECT_EQ(932u, GetACP());
  EXPECT_TRUE(IsDBCSLeadByte(0x82));
  EXPECT_TRUE(IsDBCSLeadByte(0x95));  // first byte of 表, whose second byte is 0x5C
}
