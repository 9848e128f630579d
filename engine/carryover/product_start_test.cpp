// Starting the product through the desktop shell, with a recorder standing in as the product's
// "Tidemark.exe" in the product folder.
#include "engine/carryover/product_start.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/file_utils.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::LastRecordedStart;
using testing_support::MessageBoxAnswerer;
using testing_support::PlaceRecorder;
using testing_support::ScopedProductRecorder;
using testing_support::ScopedTempFolder;
using testing_support::WaitForRecord;

using testing_support::SystemText;

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  wide.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size())) -
      1));
  return wide;
}

class ProductStartTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(product_.placed()); }

  ScopedProductRecorder product_;
  MessageBoxAnswerer answerer_;
};

TEST_F(ProductStartTest, OnlyTheProductsProgramIsStartedInTheProductFolder) {
  ScopedTempFolder temp("product start " + std::to_string(GetTickCount()));
  const std::string elsewhere = temp.Child("Tidemark.exe");
  ASSERT_TRUE(PlaceRecorder(elsewhere));
  const std::string program = product_.program();
  const std::string quoted = "\"" + program + "\"";
  const struct {
    std::string commandLine;
    std::string recorded;  // empty: not started
  } rows[] = {
      // Unquoted with blanks; quoted with arguments (a UNC argument is the product's business);
      // the product's path through "..".
      {program, quoted},
      {quoted + " /tray -x \\\\server\\share", quoted + " /tray -x \\\\server\\share"},
      {"\"" + product_.folder() + "\\..\\Tidemark SX\\Tidemark.exe\" /a", quoted + " /a"},
      // Another program of the same name, a bare name, UNC and device paths of the product.
      {"\"" + elsewhere + "\" /tray", ""},
      {"Tidemark.exe /min", ""},
      {"\\\\localhost\\share\\Tidemark.exe", ""},
      {"\"\\\\?\\" + program + "\"", ""},
      {"\"\\\\.\\" + program + "\"", ""},
      {"\"//?/" + program + "\"", ""},
  };
  int starts = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.commandLine);
    EXPECT_EQ(row.recorded.empty() ? FALSE : TRUE, StartProduct(Wide(row.commandLine).c_str()));
    if (row.recorded.empty()) continue;
    const auto started = LastRecordedStart(WaitForRecord(product_.log(), 4 * ++starts));
    EXPECT_EQ(row.recorded, started.commandLine);
    EXPECT_EQ(product_.folder(), started.folder);
    EXPECT_STRCASEEQ("explorer.exe", started.parent.c_str())
        << "started by the desktop shell, not by the updater";
  }
  EXPECT_FALSE(testing_support::PathExists(elsewhere + ".log")) << "another program was started";
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ProductStartTest, StartProductFailureShowsTheSystemText) {
  // The product's file missing, and a folder where it should be.
  const std::wstring commandLine = Wide("\"" + product_.program() + "\" /tray");
  ASSERT_TRUE(DeleteFileA(product_.program().c_str()));
  EXPECT_FALSE(StartProduct(commandLine.c_str()));
  ASSERT_TRUE(CreateDirectoryA(product_.program().c_str(), nullptr));
  EXPECT_FALSE(StartProduct(commandLine.c_str()));
  const auto boxes = answerer_.boxes();
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes[0].text);
  EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), boxes[1].text);
}

}  // namespace
