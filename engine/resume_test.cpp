// The resume registration's removal side and the final clean-up, on the real registry and file
// system. (Writing the launcher needs resource "ZELNA" 148; the program in tests/userstate/
// carries it and tests that side.)
#include "engine/clean_up.h"
#include "engine/resume.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

// The hive whose settings snapshot the rows make: the test user's own (Wine names it so).
const char kSnapshotHive[] = "S-1-5-21-0-0-0-1000";

using testing_support::GetRawValue;
using testing_support::KeyExists;
using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ScopedKeySave;
using testing_support::ScopedRegistryCleanup;
using testing_support::ScopedTempFolder;
using testing_support::ScopedValueSave;
using testing_support::SetStringValue;
using testing_support::WriteFileBytes;

bool RunValueExists() {
  DWORD type = 0;
  std::string data;
  return GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &data);
}

// The Run value, the updater key and the product's uninstall registration saved and put back.
class ResumeTest : public testing::Test {
 protected:
  ResumeTest()
      : runValue_(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue),
        updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        registration_(HKEY_LOCAL_MACHINE, product::kUninstallKey) {
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
  }
  void TearDown() override { DiscardWorkFolder(); }

  void SetInstalled() {
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey, "DisplayName",
                               product::kDisplayName));
  }

  // The state an update leaves before its end: the work folder with the backed-up log and the
  // launcher, the Run value, Marking, a settings snapshot.
  void Register() {
    char folder[520];
    ASSERT_TRUE(EnsureWorkFolder(folder));
    work_ = folder;
    backup_ = work_ + "\\backup";
    ASSERT_TRUE(CreateDirectoryA(backup_.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(WriteFileBytes(backup_ + "\\Tidemark.log", "the user's log"));
    ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", backup_.c_str()));
    launcher_ = work_ + "\\TmkUpLauncher.exe";
    ASSERT_TRUE(WriteFileBytes(launcher_, "MZ launcher"));
    ASSERT_TRUE(WriteUpdaterString(nullptr, "Launcher", launcher_.c_str()));
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue,
                               "\"" + launcher_ + "\" \"" + work_ + "\\Updater.exe\""));
    ASSERT_TRUE(SetMarking(TRUE));
    ASSERT_TRUE(SetStringValue(
        HKEY_LOCAL_MACHINE, std::string(product::kUpdaterKey) + "\\" + kSnapshotHive, "Name", "x"));
  }

  ScopedValueSave runValue_;
  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  ScopedKeySave registration_;
  testing_support::ScopedProductFolder product_;
  MessageBoxAnswerer answerer_;
  std::string work_, backup_, launcher_;
};

TEST_F(ResumeTest, WithoutTheLauncherResourceNothingIsRegistered) {
  char path[520];
  EXPECT_FALSE(WriteLauncher(path, sizeof(path)));  // no work folder yet
  EXPECT_FALSE(RegisterResume(TRUE));
  EXPECT_FALSE(RunValueExists());
  ASSERT_TRUE(GetWorkPath(WorkItem::kLauncher, path));
  EXPECT_FALSE(PathExists(path));
  EXPECT_EQ(1u, answerer_.boxes().size());  // the system's text for the missing resource
}

// What the restart page promises: an entry whose Run value, launcher and updater copy are there.
TEST_F(ResumeTest, TheResumeCountsAsRegisteredOnlyWithEverythingItStarts) {
  struct Row {
    const char* name;
    void (*change)(const std::string& launcher, const std::string& copy);
    bool registered;
  };
  const Row rows[] = {
      {"all there", [](const std::string&, const std::string&) {}, true},
      {"no Run value",
       [](const std::string&, const std::string&) {
         SHDeleteValueA(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue);
       },
       false},
      {"no launcher",
       [](const std::string& launcher, const std::string&) { DeleteFileA(launcher.c_str()); },
       false},
      {"no updater copy",
       [](const std::string&, const std::string& copy) { DeleteFileA(copy.c_str()); }, false},
      {"a folder at the launcher's name",
       [](const std::string& launcher, const std::string&) {
         DeleteFileA(launcher.c_str());
         CreateDirectoryA(launcher.c_str(), nullptr);
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Register();
    char copy[520];
    ASSERT_TRUE(GetWorkPath(WorkItem::kUpdaterCopy, copy));
    ASSERT_TRUE(WriteFileBytes(copy, "MZ updater"));
    row.change(launcher_, copy);
    EXPECT_EQ(row.registered, IsResumeRegistered() != FALSE);
    DiscardWorkFolder();
  }
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

TEST_F(ResumeTest, OnlyTheWorkFoldersLauncherIsEverDeleted) {
  Register();
  ScopedTempFolder elsewhere("launcher elsewhere " + std::to_string(GetTickCount()));
  const std::string other = elsewhere.Child("TmkUpLauncher.exe");
  ASSERT_TRUE(WriteFileBytes(other, "not the launcher"));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "Launcher", other.c_str()));
  DeleteLauncherFile();
  EXPECT_TRUE(PathExists(other));
  EXPECT_FALSE(PathExists(launcher_));
  // A work folder that is not a plain one in the common application-data folder is not ours
  // either.
  ASSERT_TRUE(WriteUpdaterString(nullptr, "WorkFolder", elsewhere.path().c_str()));
  DeleteLauncherFile();
  EXPECT_TRUE(PathExists(other));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "WorkFolder", work_.c_str()));
}

// At start-up the Run value stays only while it starts the trusted work folder's launcher with a
// program directly in that folder: a folder that is gone could have been made again by anybody.
TEST_F(ResumeTest, AResumeEntryThatDoesNotLeadIntoTheTrustedWorkFolderIsRemovedAtStartUp) {
  Register();
  ScopedTempFolder elsewhere("resume elsewhere");
  const std::string quoted = "\"" + launcher_ + "\" \"";
  const struct {
    const char* name;
    std::string value;
    std::string workFolder;  // recorded WorkFolder
    bool kept;
  } kRows[] = {
      {"registered", quoted + work_ + "\\Updater.exe\"", work_, true},
      {"program of another name", quoted + work_ + "\\Tidemark Updater.exe\"", work_, true},
      {"work folder gone", quoted + work_ + "\\Updater.exe\"", work_ + "0", false},
      {"folder not trusted", quoted + work_ + "\\Updater.exe\"", elsewhere.path(), false},
      {"program elsewhere", quoted + elsewhere.path() + "\\Updater.exe\"", work_, false},
      {"program in a subfolder", quoted + work_ + "\\setup\\Setup.exe\"", work_, false},
      {"program unquoted", quoted.substr(0, quoted.size() - 1) + work_ + "\\Updater.exe", work_,
       false},
      {"for two users", quoted + work_ + "\\Updater.exe\" S-1-5-21-1-2-3-1001 S-1-5-21-1-2-3-1002",
       work_, true},
      {"a second program after it", quoted + work_ + "\\Updater.exe\" \"C:\\x.exe\"", work_, false},
      {"an option after it", quoted + work_ + "\\Updater.exe\" --evil", work_, false},
      {"a user that is no SID", quoted + work_ + "\\Updater.exe\" S-1-5-21 S-x", work_, false},
      {"launcher elsewhere",
       "\"" + elsewhere.Child("TmkUpLauncher.exe") + "\" \"" + work_ + "\\Updater.exe\"", work_,
       false},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(
        SetStringValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, row.value));
    ASSERT_TRUE(WriteUpdaterString(nullptr, "WorkFolder", row.workFolder.c_str()));
    DropUntrustedResumeEntry();
    EXPECT_EQ(row.kept, RunValueExists());
  }
  ASSERT_TRUE(WriteUpdaterString(nullptr, "WorkFolder", work_.c_str()));
}

TEST_F(ResumeTest, DiscardKeepsWhatTheUserStillNeedsAndRemovesEverythingElse) {
  // Register() saves a settings snapshot of a user's hive; whether its live key is still there is
  // the row's.
  const std::string liveSettings = std::string(kSnapshotHive) + "\\" + product::kSettingsKey;
  ScopedKeySave liveSettingsSave(HKEY_USERS, liveSettings);
  const struct {
    const char* what;
    bool installed;
    const char* productLog;  // nullptr: none
    const char* settings;    // the live settings value; nullptr: no settings key
    bool marking;
    bool productRuns;  // a program from the product folder runs
    bool kept;
  } kRows[] = {
      {"the product holds the saved log and settings", true, "the user's log", "x", true, false,
       false},
      {"no update under way", true, nullptr, nullptr, false, false, false},
      // What a failed uninstaller removed or changed is put back before the saved copies go.
      {"the uninstaller removed the log, then failed", true, nullptr, "x", true, false, false},
      {"the uninstaller removed the settings, then failed", true, "the user's log", nullptr, true,
       false, false},
      {"the uninstaller reset a setting, then failed", true, "the user's log", "packaged", true,
       false, false},
      {"the product holds another log", true, "new release log", "x", true, false, false},
      {"a program from the product folder still runs", true, "the user's log", "x", true, true,
       true},
      {"the old release is gone, the new one is not in", false, nullptr, "x", true, false, true},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.what);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
    if (row.installed) {
      SetInstalled();
    }
    SHDeleteKeyA(HKEY_USERS, liveSettings.c_str());
    if (row.settings != nullptr) {
      ASSERT_TRUE(SetStringValue(HKEY_USERS, liveSettings, "Name", row.settings));
    }
    DeleteFileA(product_.Child("Tidemark.log").c_str());
    if (row.productLog != nullptr) {
      ASSERT_TRUE(WriteFileBytes(product_.Child("Tidemark.log"), row.productLog));
    }
    PROCESS_INFORMATION running = {};
    if (row.productRuns) {
      const std::string program = product_.Child("running.exe");
      ASSERT_TRUE(
          CopyFileA((testing_support::ExecutableFolder() + "\\runner_test_program.exe").c_str(),
                    program.c_str(), FALSE));
      STARTUPINFOA startup;
      ZeroMemory(&startup, sizeof(startup));
      startup.cb = sizeof(startup);
      std::string line = "\"" + program + "\" 3000";
      ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &running));
    }
    Register();
    if (!row.marking) {
      ASSERT_TRUE(SetMarking(FALSE));
    }
    DiscardUpdaterState();
    EXPECT_FALSE(PathExists(launcher_));
    EXPECT_FALSE(RunValueExists());
    EXPECT_EQ(row.kept, KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
    EXPECT_EQ(row.kept, PathExists(backup_ + "\\Tidemark.log"));
    if (row.kept) {
      EXPECT_TRUE(IsMarkingSet());
      char value[520];
      ASSERT_TRUE(ReadUpdaterString(nullptr, "BackupFolder", value, sizeof(value)));
      EXPECT_EQ(backup_, value);
      EXPECT_TRUE(
          KeyExists(HKEY_LOCAL_MACHINE, std::string(product::kUpdaterKey) + "\\" + kSnapshotHive));
    } else {
      EXPECT_FALSE(PathExists(work_));
    }
    if (row.installed && row.marking && !row.kept) {
      // What is in place stays; what was missing is back; a saved version that differs from the
      // one in place is kept beside it (the log as a dated copy, the settings in a dated key).
      const bool logChanged =
          row.productLog != nullptr && std::string(row.productLog) != "the user's log";
      const bool settingsChanged = row.settings != nullptr && std::string(row.settings) != "x";
      std::string log;
      EXPECT_TRUE(testing_support::ReadFileBytes(product_.Child("Tidemark.log"), &log));
      EXPECT_EQ(logChanged ? row.productLog : "the user's log", log);
      WIN32_FIND_DATAA dated;
      HANDLE find = FindFirstFileA(product_.Child("Tidemark_*.log").c_str(), &dated);
      EXPECT_EQ(logChanged, find != INVALID_HANDLE_VALUE);
      if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        EXPECT_TRUE(testing_support::ReadFileBytes(product_.Child(dated.cFileName), &log));
        EXPECT_EQ("the user's log", log);
        DeleteFileA(product_.Child(dated.cFileName).c_str());
      }
      DWORD type = 0;
      std::string name;
      EXPECT_TRUE(GetRawValue(HKEY_USERS, liveSettings, "Name", &type, &name));
      EXPECT_EQ(std::string(settingsChanged ? row.settings : "x") + std::string(1, '\0'), name);
      const std::string beside = testing_support::FindDatedKeyBeside(HKEY_USERS, liveSettings);
      EXPECT_EQ(settingsChanged, !beside.empty());
      if (!beside.empty()) {
        EXPECT_TRUE(GetRawValue(HKEY_USERS, beside, "Name", &type, &name));
        EXPECT_EQ(std::string("x", 2), name);
        SHDeleteKeyA(HKEY_USERS, beside.c_str());
      }
    }
    if (running.hProcess != nullptr) {
      WaitForSingleObject(running.hProcess, 20000);
      CloseHandle(running.hProcess);
      CloseHandle(running.hThread);
    }
    DiscardWorkFolder();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
  }
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeTest, DiscardWithoutAnythingSavedRemovesEverythingAlsoWhenNotInstalled) {
  ASSERT_TRUE(SetMarking(TRUE));
  DiscardUpdaterState();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  // Nothing at all: no message, nothing to do.
  DiscardUpdaterState();
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeTest, DiscardNeverDeletesAFolderOutsideTheWorkFolder) {
  SetInstalled();
  ScopedTempFolder elsewhere("elsewhere " + std::to_string(GetTickCount()));
  ASSERT_TRUE(WriteFileBytes(elsewhere.Child("data.txt"), "data"));
  for (const char* value : {"BackupFolder", "WorkFolder"}) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(WriteUpdaterString(nullptr, value, elsewhere.path().c_str()));
    DiscardUpdaterState();
    EXPECT_TRUE(PathExists(elsewhere.Child("data.txt")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  }
}

}  // namespace
