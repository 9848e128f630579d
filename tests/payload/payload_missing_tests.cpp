// Extraction from a program that carries only the first four of the ten resources (ids 136 to
// 139): it writes those four, stops at the fifth with the system's text, and removes the folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/product_constants.h"
#include "engine/payload.h"
#include "tests/payload/payload_test_common.h"
#include "tests/support/test_support.h"

using payload_test::ListFolder;
using payload_test::ReleaseFolder;
using payload_test::SystemText;
using testing_support::PathExists;
using testing_support::ReadFileBytes;

namespace {

// What a folder holds: each entry's name and whether it equals the original, in name order.
std::vector<std::pair<std::string, bool>> FilesComparedWithOriginals(const std::string& folder) {
  std::vector<std::pair<std::string, bool>> files;
  for (const std::string& name : ListFolder(folder)) {
    std::string extracted, original;
    ReadFileBytes(folder + "\\" + name, &extracted);
    const bool same = ReadFileBytes(ReleaseFolder("release-blocks") + "\\" + name, &original) &&
                      original == extracted;
    files.emplace_back(name, same);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TEST(ExtractPayloadMissingTest, StopsAfterTheEarlierFilesShowsSystemTextAndRemovesFolder) {
  payload_test::ScopedWork work;
  const std::string extraction = work.Setup();

  char folder[kPathBufferSize];
  int result;
  std::vector<testing_support::MessageBoxAnswerer::Box> boxes;
  // What the extraction folder held while each box was up (the box is modal: the extraction
  // waits for it before it cleans up).
  std::vector<std::vector<std::pair<std::string, bool>>> filesAtBox;
  {
    testing_support::MessageBoxAnswerer answerer(
        true, [&] { filesAtBox.push_back(FilesComparedWithOriginals(extraction)); });
    result = ExtractPayload(folder);
    boxes = answerer.boxes();
  }
  EXPECT_EQ(0, result);
  EXPECT_STREQ("", folder);
  EXPECT_FALSE(PathExists(extraction));

  ASSERT_EQ(1u, boxes.size());
  ASSERT_EQ(1u, filesAtBox.size());
  EXPECT_EQ("payload_missing_tests", boxes[0].caption);
  // The system's text for what FindResourceA answers for the first missing id.
  SetLastError(0);
  ASSERT_EQ(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(kPayloadFiles[4].resourceId),
                                   product::kPayloadResourceType));
  EXPECT_EQ(SystemText(GetLastError()), boxes[0].text);
  // The four entries before the missing id were complete, and nothing after them was begun.
  std::vector<std::pair<std::string, bool>> expected;
  for (int i = 0; i < 4; ++i) expected.emplace_back(kPayloadFiles[i].fileName, true);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, filesAtBox[0]);
}
