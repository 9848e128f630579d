// Backup and restore of the user's files, on the real file system and the real updater key.
#include "engine/user_data_backup.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedKeySave;
using testing_support::ScopedProductFolder;
using testing_support::ScopedRegistryCleanup;
using testing_support::ScopedTempFolder;
using testing_support::WriteFileBytes;

const std::string kLogBytes("first line\r\n\x82\xa0\x95\x5c binary \0 tail\r\n", 31);

std::string SystemText(DWORD code) {
  char* text = GetSystemErrorText(code);
  std::string result = text ? text : "";
  if (text) LocalFree(text);
  return result;
}

std::string RecordedBackupFolder() {
  char value[520];
  if (!ReadUpdaterString(nullptr, "BackupFolder", value, sizeof(value))) return "";
  return value;
}

std::string WorkBackupFolder() {
  char path[520];
  return GetWorkPath(WorkItem::kBackupFolder, path) ? path : "";
}

// An empty updater key, the product folder; whatever work folder a test made goes at its end.
class UserDataBackupTest : public testing::Test {
 protected:
  UserDataBackupTest()
      : updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey) {
    DeleteFileA(LogPath().c_str());
  }
  void TearDown() override { DiscardWorkFolder(); }
  std::string LogPath() const { return product_.Child("Tidemark.log"); }
  std::string SavedLog() const {
    std::string saved;
    return ReadFileBytes(WorkBackupFolder() + "\\Tidemark.log", &saved) ? saved : "<none>";
  }

  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  ScopedProductFolder product_;
  MessageBoxAnswerer answerer_;
};

TEST_F(UserDataBackupTest, LogFileSurvivesBackupAndRestoreOverTheNewReleasesLog) {
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));

  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  EXPECT_EQ(WorkBackupFolder(), folder);
  EXPECT_EQ(kLogBytes, SavedLog());

  // The new release writes its own log; the restore puts the user's back over it, drops the
  // record and the backup folder.
  ASSERT_TRUE(WriteFileBytes(LogPath(), "new release log\r\n"));
  ASSERT_TRUE(RestoreUserData());
  std::string restored;
  ASSERT_TRUE(ReadFileBytes(LogPath(), &restored));
  EXPECT_EQ(kLogBytes, restored);
  EXPECT_FALSE(PathExists(folder));
  EXPECT_EQ("", RecordedBackupFolder());
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(UserDataBackupTest, ASecondBackupKeepsTheSavedLogOnceTheProductNoLongerHasIt) {
  // First run: saved. The uninstaller removed the log, then the power went: the second run must
  // not replace the user's only copy with nothing. Once the log is there again, it is refreshed.
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  ASSERT_TRUE(BackUpUserData());
  ASSERT_TRUE(DeleteFileA(LogPath().c_str()));
  ASSERT_TRUE(BackUpUserData());
  EXPECT_EQ(kLogBytes, SavedLog());
  ASSERT_TRUE(WriteFileBytes(LogPath(), "a later log"));
  ASSERT_TRUE(BackUpUserData());
  EXPECT_EQ("a later log", SavedLog());
  EXPECT_EQ(WorkBackupFolder(), RecordedBackupFolder());
}

TEST_F(UserDataBackupTest, WithoutLogFileAnEmptyBackupIsRecordedAndRestoredToNothing) {
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsFolderEmpty(folder.c_str()));

  EXPECT_TRUE(RestoreUserData());
  EXPECT_FALSE(PathExists(LogPath()));
  EXPECT_FALSE(PathExists(folder));
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(UserDataBackupTest, LogHeldOpenFailsWithSystemTextAndRecordsNothing) {
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  HANDLE held = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  EXPECT_FALSE(BackUpUserData());
  CloseHandle(held);

  const auto boxes = answerer_.boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), boxes[0].text);
  EXPECT_EQ("<none>", SavedLog());
  EXPECT_EQ("", RecordedBackupFolder());
}

TEST_F(UserDataBackupTest, RestoreCopiesTheListedFilesOnlyAndHandlesTrailingBackslash) {
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  ASSERT_TRUE(WriteFileBytes(folder + "\\Tidemark.log", kLogBytes));
  ASSERT_TRUE(WriteFileBytes(folder + "\\version.dll", "planted"));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", (folder + "\\").c_str()));

  ASSERT_TRUE(RestoreUserData());
  std::string restored;
  ASSERT_TRUE(ReadFileBytes(LogPath(), &restored));
  EXPECT_EQ(kLogBytes, restored);
  EXPECT_FALSE(PathExists(product_.Child("version.dll")));
  EXPECT_FALSE(PathExists(product_.Child("sub")));
  EXPECT_FALSE(PathExists(folder));
}

TEST_F(UserDataBackupTest, RestoreReadsNothingButTheWorkFoldersBackup) {
  // Nothing recorded: nothing to restore.
  EXPECT_TRUE(RestoreUserData());
  // Values naming anything but the work folder's backup: nothing is copied from there into the
  // product folder and nothing there is deleted; the record goes.
  ScopedTempFolder elsewhere("restore elsewhere " + std::to_string(GetTickCount()));
  ASSERT_TRUE(WriteFileBytes(elsewhere.Child("Tidemark.log"), "planted log"));
  ASSERT_TRUE(BackUpUserData());
  const std::string backup = RecordedBackupFolder();
  for (const std::string& damaged :
       {elsewhere.path(), elsewhere.path() + "\\", std::string("C:\\"), std::string("\\"),
        std::string("backup"), backup + "\\..\\backup", testing_support::TempFolder()}) {
    SCOPED_TRACE(damaged);
    ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", damaged.c_str()));
    EXPECT_TRUE(RestoreUserData());
    EXPECT_FALSE(PathExists(LogPath()));
    EXPECT_TRUE(PathExists(elsewhere.Child("Tidemark.log")));
    EXPECT_EQ("", RecordedBackupFolder());
  }
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(UserDataBackupTest, AFailedCopyBackLeavesTheBackupAndItsRecord) {
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  HANDLE held = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(RestoreUserData());
  CloseHandle(held);
  ASSERT_EQ(1u, answerer_.boxes().size());
  EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), answerer_.boxes()[0].text);
  EXPECT_EQ(kLogBytes, SavedLog());
  EXPECT_EQ(folder, RecordedBackupFolder());
}

}  // namespace
