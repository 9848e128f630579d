// The launcher as a program: what it starts and how it ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::ExecutableFolder;
using testing_support::PathExists;
using testing_support::PlaceRecorder;
using testing_support::RunAndWait;
using testing_support::ScopedTempFolder;
using testing_support::WaitForRecord;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

class LauncherTest : public testing::Test {
 protected:
  LauncherTest() : temp_("launcher test " + std::to_string(GetTickCount())) {
    CreateDirectoryA(temp_.Child("up dater").c_str(), nullptr);
    updater_ = temp_.Child("up dater\\Up dater.exe");
    // The launcher as the updater writes it: in a folder whose path holds a blank.
    launcher_ = temp_.Child("TmkUpLauncher.exe");
  }
  void SetUp() override {
    ASSERT_TRUE(PlaceRecorder(updater_));
    ASSERT_TRUE(
        CopyFileA((ExecutableFolder() + "\\TmkUpLauncher.exe").c_str(), launcher_.c_str(), FALSE));
  }

  ScopedTempFolder temp_;
  std::string updater_, launcher_;
};

// Arguments after the program are the users the update waits for: the program is started only at
// the logon of one of them (or of anybody, when none is listed), always without parameters.
TEST_F(LauncherTest, StartsTheQuotedProgramWithoutParametersOnlyForTheListedUsers) {
  const std::string me = testing_support::DesktopHiveName();
  ASSERT_EQ(0u, me.rfind("S-1-", 0));
  const struct {
    const char* what;
    std::string users;
    bool started;
  } rows[] = {
      {"any logon", "", true},
      {"this user among the listed", "S-1-5-21-9-9-9-1001 " + me, true},
      {"only other users", "S-1-5-21-9-9-9-1001 S-1-5-21-9-9-9-1002", false},
      {"a prefix of this user's SID", me.substr(0, me.size() - 1), false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    DeleteFileA((updater_ + ".log").c_str());
    EXPECT_EQ(0, RunAndWait(Quoted(launcher_) + " " + Quoted(updater_) + " " + row.users));
    if (!row.started) {
      Sleep(1000);
      EXPECT_FALSE(PathExists(updater_ + ".log")) << "started at another user's logon";
      continue;
    }
    const std::string record = WaitForRecord(updater_ + ".log");
    ASSERT_NE("", record) << "the program was not started";
    const std::string commandLine = record.substr(0, record.find('\n'));
    EXPECT_NE(std::string::npos, commandLine.find(updater_)) << commandLine;
    EXPECT_EQ(std::string::npos, commandLine.find("S-1-")) << commandLine;
    // The argument count: the program name only.
    EXPECT_EQ("1\n", record.substr(record.rfind('\n', record.size() - 2) + 1));
  }
}

TEST_F(LauncherTest, EndsWithZeroWhenTheProgramCannotBeStarted) {
  EXPECT_EQ(0,
            RunAndWait(Quoted(launcher_) + " " + Quoted(temp_.Child("gone\\missing.exe")), 20000));
}

TEST_F(LauncherTest, WithoutArgumentOrWithAnOverlongOneItStartsNothingAndEndsWithZero) {
  EXPECT_EQ(0, RunAndWait(Quoted(launcher_), 20000));
  EXPECT_EQ(0, RunAndWait(Quoted(launcher_) + " ", 20000));
  // Longer than the one-page working copy holds: nothing is started.
  const std::string overlong = updater_ + std::string(2100, ' ');
  EXPECT_EQ(0, RunAndWait(Quoted(launcher_) + " " + Quoted(overlong), 20000));
  Sleep(500);
  EXPECT_FALSE(PathExists(updater_ + ".log"));
}

}  // namespace
