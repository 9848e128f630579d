// The resume registration's removal side and the final clean-up, on the real registry and file
// system. (Writing the launcher needs resource "ZELNA" 148; the program in tests/userstate/
// carries it and tests that side.)
#include "engine/resume.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/file_utils.h"
#include "engine/product_constants.h"
#include "engine/settings_store.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::GetRawValue;
using testing_support::KeyExists;
using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedKeySave;
using testing_support::ScopedRegistryCleanup;
using testing_support::ScopedTempFolder;
using testing_support::ScopedTempPath;
using testing_support::ScopedValueSave;
using testing_support::SetStringValue;
using testing_support::WriteFileBytes;

bool RunValueExists() {
  DWORD type = 0;
  std::string data;
  return GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &data);
}

// A temporary folder with a blank, the Run value, the updater key and the product's uninstall
// registration saved and put back.
class ResumeTest : public testing::Test {
 protected:
  ResumeTest()
      : temp_("resume test " + std::to_string(GetTickCount())),
        tempPath_(temp_.path()),
        runValue_(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue),
        updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        registration_(HKEY_LOCAL_MACHINE, product::kUninstallKey) {
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
  }

  void SetInstalled() {
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey, "DisplayName",
                               product::kDisplayName));
  }

  // The state an update leaves before its end: backup folder with the log, launcher file and Run
  // value, Marking, a settings snapshot.
  void Register() {
    backup_ = temp_.Child("00c0ffee");
    ASSERT_TRUE(CreateDirectoryA(backup_.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(backup_ + "\\Tidemark.log", "the user's log"));
    ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", backup_.c_str()));
    launcher_ = temp_.Child("TmkUpLauncher.exe");
    ASSERT_TRUE(WriteFileBytes(launcher_, "MZ launcher"));
    ASSERT_TRUE(WriteUpdaterString(nullptr, "Launcher", launcher_.c_str()));
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue,
                               "\"" + launcher_ + "\" \"C:\\updater.exe\""));
    ASSERT_TRUE(SetMarking(TRUE));
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE,
                               std::string(product::kUpdaterKey) + "\\.DEFAULT", "Name", "x"));
  }

  ScopedTempFolder temp_;
  ScopedTempPath tempPath_;
  ScopedValueSave runValue_;
  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  ScopedKeySave registration_;
  testing_support::ScopedProductFolder product_;
  MessageBoxAnswerer answerer_;
  std::string backup_, launcher_;
};

TEST_F(ResumeTest, WithoutTheLauncherResourceNothingIsWrittenOrRegistered) {
  char path[520];
  EXPECT_FALSE(WriteLauncher(path, sizeof(path)));
  EXPECT_FALSE(PathExists(temp_.Child("TmkUpLauncher.exe")));
  EXPECT_FALSE(RegisterResume(TRUE));
  EXPECT_FALSE(RunValueExists());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_EQ(2u, answerer_.boxes().size());  // the system's text, once per attempt
}

TEST_F(ResumeTest, UnregisterRemovesLauncherFileAndRunValueAndKeepsTheKey) {
  Register();
  EXPECT_TRUE(RegisterResume(FALSE));
  EXPECT_FALSE(PathExists(launcher_));
  EXPECT_FALSE(RunValueExists());
  char value[520];
  EXPECT_TRUE(ReadUpdaterString(nullptr, "Launcher", value, sizeof(value)));
  // Nothing registered: still TRUE, nothing changes.
  EXPECT_TRUE(RegisterResume(FALSE));
  EXPECT_TRUE(PathExists(backup_));
}

TEST_F(ResumeTest, OnlyTheLauncherIsEverDeletedThroughTheLauncherValue) {
  Register();
  const std::string other = temp_.Child("keep me.exe");
  ASSERT_TRUE(WriteFileBytes(other, "not the launcher"));
  for (const std::string& damaged :
       {other, temp_.path() + "\\", temp_.Child("tmkuplauncher.exe.bak")}) {
    SCOPED_TRACE(damaged);
    ASSERT_TRUE(WriteUpdaterString(nullptr, "Launcher", damaged.c_str()));
    DeleteLauncherFile();
    EXPECT_TRUE(PathExists(other));
    EXPECT_TRUE(PathExists(launcher_));
  }
  // The file name is compared without regard to case.
  std::string upper = launcher_;
  upper.replace(upper.size() - 17, 17, "TMKUPLAUNCHER.EXE");
  ASSERT_TRUE(WriteUpdaterString(nullptr, "Launcher", upper.c_str()));
  DeleteLauncherFile();
  EXPECT_FALSE(PathExists(launcher_));
}

TEST_F(ResumeTest, DiscardRemovesEverythingWhenTheProductIsInstalled) {
  SetInstalled();
  Register();
  // The restore put the user's log back: the product folder holds all of the backup.
  ASSERT_TRUE(WriteFileBytes(product_.Child("Tidemark.log"), "the user's log"));
  DiscardUpdaterState();
  EXPECT_FALSE(PathExists(backup_));
  EXPECT_FALSE(PathExists(launcher_));
  EXPECT_FALSE(RunValueExists());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeTest, DiscardKeepsABackupThatIsTheUsersOnlyCopy) {
  // The product is installed, but its folder holds the new release's log (the restore failed) or
  // no log at all (the uninstaller removed it and then failed): the backup stays, the rest goes.
  SetInstalled();
  const char* const productLogs[] = {"new release log", "the user's lo", nullptr};
  for (const char* productLog : productLogs) {
    SCOPED_TRACE(productLog ? productLog : "(no log)");
    Register();
    DeleteFileA(product_.Child("Tidemark.log").c_str());
    if (productLog != nullptr) {
      ASSERT_TRUE(WriteFileBytes(product_.Child("Tidemark.log"), productLog));
    }
    DiscardUpdaterState();
    std::string log;
    EXPECT_TRUE(ReadFileBytes(backup_ + "\\Tidemark.log", &log));
    EXPECT_EQ("the user's log", log);
    EXPECT_FALSE(PathExists(launcher_));
    EXPECT_FALSE(RunValueExists());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
    testing_support::RemoveTree(backup_);
  }
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeTest, DiscardKeepsTheBackupWhileTheProductIsNotInstalled) {
  // The old release is gone and the new setup failed: the user's data must survive the wizard's
  // end, and the next start must open on the install page.
  Register();
  DiscardUpdaterState();
  EXPECT_FALSE(PathExists(launcher_));
  EXPECT_FALSE(RunValueExists());
  std::string log;
  EXPECT_TRUE(ReadFileBytes(backup_ + "\\Tidemark.log", &log));
  EXPECT_EQ("the user's log", log);
  EXPECT_TRUE(IsMarkingSet());
  char value[520];
  ASSERT_TRUE(ReadUpdaterString(nullptr, "BackupFolder", value, sizeof(value)));
  EXPECT_EQ(backup_, value);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(product::kUpdaterKey) + "\\.DEFAULT"));
}

TEST_F(ResumeTest, DiscardWithoutBackupRemovesEverythingAlsoWhenNotInstalled) {
  ASSERT_TRUE(SetMarking(TRUE));
  DiscardUpdaterState();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  // Nothing at all: no message, nothing to do.
  DiscardUpdaterState();
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeTest, DiscardNeverDeletesAFolderThatIsNotABackup) {
  SetInstalled();
  const std::string sentinel = temp_.Child("keep me.txt");
  ASSERT_TRUE(WriteFileBytes(sentinel, "keep"));
  // The temporary folder itself, with a trailing backslash.
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", (temp_.path() + "\\").c_str()));
  DiscardUpdaterState();
  EXPECT_TRUE(PathExists(sentinel));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));

  // A backup-like name outside the temporary folder.
  ScopedTempFolder elsewhere("elsewhere " + std::to_string(GetTickCount()));
  const std::string foreign = elsewhere.Child("1234abcd");
  ASSERT_TRUE(CreateDirectoryA(foreign.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(foreign + "\\data.txt", "data"));
  {
    ScopedTempPath inner(temp_.Child("inner"));  // the temporary folder is somewhere else now
    ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", foreign.c_str()));
    DiscardUpdaterState();
  }
  EXPECT_TRUE(PathExists(foreign + "\\data.txt"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
}

}  // namespace
