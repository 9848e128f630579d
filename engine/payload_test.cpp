// Extraction in a program without embedded files: the failure rows that need no payload. The
// extraction of real payloads, block by block, is tested by the programs in tests/payload, which
// carry their own scrambled resources.
#include "engine/payload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;

namespace {

using testing_support::SystemText;

}  // namespace

// An empty updater key; the work folder a test makes goes at its end.
class ExtractPayloadTest : public testing::Test {
 protected:
  ExtractPayloadTest()
      : updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey) {}
  void TearDown() override { DiscardWorkFolder(); }

  // ExtractPayload's result, folder and message boxes.
  int Extract(char* folder, std::vector<MessageBoxAnswerer::Box>* boxes) {
    MessageBoxAnswerer answerer;
    const int result = ExtractPayload(folder);
    Sleep(100);
    *boxes = answerer.boxes();
    return result;
  }

  testing_support::ScopedKeySave updaterKey_;
  testing_support::ScopedRegistryCleanup updaterKeyCleanup_;
};

TEST_F(ExtractPayloadTest, MissingResourceShowsSystemTextAndRemovesLeftoverFolder) {
  // This program carries no "ZELNA" resources: the first entry already fails. A leftover setup
  // folder with read-only contents is removed first, and the new one is gone afterwards.
  char work[kPathBufferSize];
  ASSERT_TRUE(EnsureWorkFolder(work));
  const std::string extraction = std::string(work) + "\\setup";
  ASSERT_TRUE(CreateDirectoryA(extraction.c_str(), nullptr));
  ASSERT_TRUE(testing_support::WriteFileBytes(extraction + "\\stale.txt", "old"));
  ASSERT_TRUE(SetFileAttributesA((extraction + "\\stale.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  char folder[kPathBufferSize];
  lstrcpyA(folder, "garbage");
  std::vector<MessageBoxAnswerer::Box> boxes;
  EXPECT_EQ(0, Extract(folder, &boxes));
  EXPECT_STREQ("", folder);
  EXPECT_FALSE(PathExists(extraction));
  EXPECT_TRUE(PathExists(work));
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("engine_tests", boxes[0].caption);
  // The system's text for what FindResourceA answers for this program's missing resource.
  SetLastError(0);
  ASSERT_EQ(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(136), product::kPayloadResourceType));
  EXPECT_EQ(SystemText(GetLastError()), boxes[0].text);
  EXPECT_FALSE(boxes[0].text.empty());
}

TEST_F(ExtractPayloadTest, AFileWhereTheSetupFolderGoesIsNeverExtractedInto) {
  // A file stands at the setup folder's name: it is not a folder the extraction can clear, so the
  // extraction is refused with the system's text and the file stays.
  char work[kPathBufferSize];
  ASSERT_TRUE(EnsureWorkFolder(work));
  const std::string setup = std::string(work) + "\\setup";
  ASSERT_TRUE(testing_support::WriteFileBytes(setup, "x"));
  char folder[kPathBufferSize];
  std::vector<MessageBoxAnswerer::Box> boxes;
  EXPECT_EQ(0, Extract(folder, &boxes));
  EXPECT_STREQ("", folder);
  EXPECT_EQ(1u, boxes.size());
  std::string bytes;
  EXPECT_TRUE(testing_support::ReadFileBytes(setup, &bytes));
  EXPECT_EQ("x", bytes);
}
