// Extraction in a program without embedded files: the failure rows that need no payload. The
// extraction of real payloads, block by block, is tested by the programs in tests/payload, which
// carry their own scrambled resources.
#include "engine/payload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/file_utils.h"
#include "engine/product_constants.h"
#include "tests/support/test_support.h"

using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ScopedTempFolder;
using testing_support::ScopedTempPath;

namespace {

std::string SystemText(DWORD code) {
  char* text = GetSystemErrorText(code);
  std::string result = text ? text : "";
  if (text) LocalFree(text);
  return result;
}

}  // namespace

TEST(PayloadTableTest, TenFilesInExtractionOrderEndedByNull) {
  const struct {
    const char* name;
    unsigned short id;
  } expected[] = {{"_Setup.dll", 136}, {"data1.cab", 137},   {"data1.hdr", 138},
                  {"data2.cab", 139},  {"ISSetup.dll", 140}, {"layout.bin", 141},
                  {"Setup.bmp", 142},  {"setup.exe", 143},   {"setup.ini", 144},
                  {"setup.inx", 145}};
  size_t i = 0;
  for (; PayloadTable[i].fileName != nullptr; ++i) {
    ASSERT_LT(i, 10u) << "more than ten entries";
    EXPECT_STREQ(expected[i].name, PayloadTable[i].fileName);
    EXPECT_EQ(expected[i].id, PayloadTable[i].resourceId);
  }
  EXPECT_EQ(10u, i);
}

TEST(ExtractPayloadTest, MissingResourceShowsSystemTextAndRemovesLeftoverFolder) {
  // This program carries no "ZELNA" resources: the first entry already fails. A leftover folder
  // with read-only contents is removed first, and the new one is gone afterwards.
  ScopedTempFolder temp;
  ScopedTempPath tempPath(temp.path());
  const std::string extraction = temp.Child(product::kExtractionFolderName);
  ASSERT_TRUE(CreateDirectoryA(extraction.c_str(), nullptr));
  ASSERT_TRUE(testing_support::WriteFileBytes(extraction + "\\stale.txt", "old"));
  ASSERT_TRUE(SetFileAttributesA((extraction + "\\stale.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  char folder[kPathBufferSize];
  lstrcpyA(folder, "garbage");
  int result;
  std::vector<MessageBoxAnswerer::Box> boxes;
  {
    MessageBoxAnswerer answerer;
    result = ExtractPayload(folder);
    boxes = answerer.boxes();
  }
  EXPECT_EQ(0, result);
  EXPECT_STREQ("", folder);
  EXPECT_FALSE(PathExists(extraction));
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("engine_tests", boxes[0].caption);
  // The system's text for what FindResourceA answers for this program's missing resource.
  SetLastError(0);
  ASSERT_EQ(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(136), product::kPayloadResourceType));
  EXPECT_EQ(SystemText(GetLastError()), boxes[0].text);
  EXPECT_FALSE(boxes[0].text.empty());
}

TEST(ExtractPayloadTest, FolderThatCannotBeCreatedFailsSilently) {
  // The temporary folder lies under a file, so no folder can be made there.
  ScopedTempFolder temp;
  ASSERT_TRUE(testing_support::WriteFileBytes(temp.Child("plain-file"), "x"));
  ScopedTempPath tempPath(temp.Child("plain-file") + "\\below");
  char folder[kPathBufferSize];
  int result;
  std::vector<MessageBoxAnswerer::Box> boxes;
  {
    MessageBoxAnswerer answerer;
    result = ExtractPayload(folder);
    Sleep(100);
    boxes = answerer.boxes();
  }
  EXPECT_EQ(0, result);
  EXPECT_STREQ("", folder);
  EXPECT_TRUE(boxes.empty());
}
