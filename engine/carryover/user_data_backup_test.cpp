// Backup and restore of the user's files, on the real file system and the real updater key.
#include "engine/apply_plan.h"
#include "engine/carryover/user_data_backup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/scoped.h"

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

using testing_support::SystemText;

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
  ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  std::string restored;
  ASSERT_TRUE(ReadFileBytes(LogPath(), &restored));
  EXPECT_EQ(kLogBytes, restored);
  EXPECT_FALSE(PathExists(folder));
  EXPECT_EQ("", RecordedBackupFolder());
  EXPECT_TRUE(answerer_.boxes().empty());
}

// The rule for a log found at a later run of the same update, on the bytes of the saved copy and
// of the product folder's log.
TEST(LogCopyRuleTest, ALaterRunNeverReplacesADifferentSavedLog) {
  const base::Text saved = "run 1 line\r\nrun 1 more\r\n";
  struct Row {
    const char* name;
    const base::Text* saved;
    base::Text live;
    bool hasLive;
    LogCopyRule expected;
  };
  const base::Text empty;
  const Row rows[] = {
      {"nothing saved, a log", nullptr, "log\r\n", true, LogCopyRule::kSaveLive},
      {"nothing saved, an empty log", nullptr, "", true, LogCopyRule::kSaveLive},
      {"nothing saved, no log", nullptr, "", false, LogCopyRule::kKeepSaved},
      {"no log any more", &saved, "", false, LogCopyRule::kKeepSaved},
      {"an empty log", &saved, "", true, LogCopyRule::kKeepSaved},
      {"the same log", &saved, saved, true, LogCopyRule::kLiveReplacesSaved},
      {"the same log grown", &saved, saved + "later\r\n", true, LogCopyRule::kLiveReplacesSaved},
      {"an empty saved copy, a log", &empty, "log", true, LogCopyRule::kLiveReplacesSaved},
      {"a fresh log", &saved, "fresh\r\n", true, LogCopyRule::kKeepBoth},
      {"a fresh log of the same length", &saved, base::Text(saved.size(), 'x'), true,
       LogCopyRule::kKeepBoth},
      {"the saved log cut short", &saved, saved.substr(0, 5), true, LogCopyRule::kKeepBoth},
      {"changed in its first byte", &saved, base::Text("R") + saved.substr(1) + "more", true,
       LogCopyRule::kKeepBoth},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(static_cast<int>(row.expected),
              static_cast<int>(ChooseLogCopy(row.saved, row.hasLive ? &row.live : nullptr)));
  }
}

TEST_F(UserDataBackupTest, ALaterRunKeepsBothLogsAndBothComeBack) {
  // Run 1 saved the log; the uninstaller removed it and died; a second run finds none and keeps
  // the copy.
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  ASSERT_TRUE(BackUpUserData());
  ASSERT_TRUE(DeleteFileA(LogPath().c_str()));
  ASSERT_TRUE(BackUpUserData());
  EXPECT_EQ(kLogBytes, SavedLog());
  // The old release started again with a fresh log, last written at a known time.
  ASSERT_TRUE(WriteFileBytes(LogPath(), "fresh log\r\n"));
  {
    HANDLE file = CreateFileA(LogPath().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SYSTEMTIME local = {2026, 12, 0, 8, 19, 5, 7, 0};
    FILETIME localTime, time;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &time);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
  }
  const std::string dated = "Tidemark_20261208-190507.log";
  ASSERT_TRUE(BackUpUserData());
  EXPECT_EQ(kLogBytes, SavedLog());
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(WorkBackupFolder() + "\\" + dated, &bytes));
  EXPECT_EQ("fresh log\r\n", bytes);
  // A third run finds the fresh log grown: its dated copy is refreshed, nothing else added.
  ASSERT_TRUE(WriteFileBytes(LogPath(), "fresh log\r\ngrown\r\n"));
  ASSERT_TRUE(BackUpUserData());
  ASSERT_TRUE(ReadFileBytes(WorkBackupFolder() + "\\" + dated, &bytes));
  EXPECT_EQ("fresh log\r\ngrown\r\n", bytes);

  // Both come back over the new release's log: the saved copy as Tidemark.log.
  ASSERT_TRUE(WriteFileBytes(LogPath(), "new release log\r\n"));
  ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  ASSERT_TRUE(ReadFileBytes(LogPath(), &bytes));
  EXPECT_EQ(kLogBytes, bytes);
  ASSERT_TRUE(ReadFileBytes(product_.Child(dated), &bytes));
  EXPECT_EQ("fresh log\r\ngrown\r\n", bytes);
  EXPECT_EQ("", RecordedBackupFolder());
  EXPECT_TRUE(answerer_.boxes().empty());
  DeleteFileA(product_.Child(dated).c_str());
}

TEST_F(UserDataBackupTest, ALogWithASecondNameIsNeitherReadNorWrittenThrough) {
  // Backup: the product's log is another name of a file elsewhere; its bytes are not saved.
  ScopedTempFolder elsewhere("log link " + std::to_string(GetTickCount()));
  ASSERT_TRUE(WriteFileBytes(elsewhere.Child("secret.txt"), "not the user's log"));
  ASSERT_TRUE(CreateHardLinkA(LogPath().c_str(), elsewhere.Child("secret.txt").c_str(), nullptr));
  ASSERT_TRUE(BackUpUserData());
  EXPECT_EQ("<none>", SavedLog());
  // Restore: the saved log replaces the name; the file it was another name of stays as it was.
  ASSERT_TRUE(WriteFileBytes(WorkBackupFolder() + "\\Tidemark.log", kLogBytes));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFiles", "Tidemark.log:31"));
  ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(LogPath(), &bytes));
  EXPECT_EQ(kLogBytes, bytes);
  ASSERT_TRUE(ReadFileBytes(elsewhere.Child("secret.txt"), &bytes));
  EXPECT_EQ("not the user's log", bytes);
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(UserDataBackupTest, WithoutLogFileAnEmptyBackupIsRecordedAndRestoredToNothing) {
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsFolderEmpty(folder.c_str()));

  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
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
  // A backup recorded before the list of its copies was: every copy of a listed name counts.
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFiles", nullptr));

  ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  std::string restored;
  ASSERT_TRUE(ReadFileBytes(LogPath(), &restored));
  EXPECT_EQ(kLogBytes, restored);
  EXPECT_FALSE(PathExists(product_.Child("version.dll")));
  EXPECT_FALSE(PathExists(product_.Child("sub")));
  EXPECT_FALSE(PathExists(folder));
}

TEST_F(UserDataBackupTest, RestoreReadsNothingButTheWorkFoldersBackup) {
  // Nothing recorded: nothing to restore.
  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  // Values naming anything but the work folder's backup: nothing is copied from there into the
  // product folder and nothing there is deleted; the damaged record goes.
  ScopedTempFolder elsewhere("restore elsewhere " + std::to_string(GetTickCount()));
  ASSERT_TRUE(WriteFileBytes(elsewhere.Child("Tidemark.log"), "planted log"));
  ASSERT_TRUE(BackUpUserData());
  const std::string backup = RecordedBackupFolder();
  for (const std::string& damaged :
       {elsewhere.path(), elsewhere.path() + "\\", std::string("C:\\"), std::string("\\"),
        std::string("backup"), backup + "\\..\\backup", testing_support::TempFolder()}) {
    SCOPED_TRACE(damaged);
    ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", damaged.c_str()));
    const ApplyResult result = RestoreSavedState(RestoreMode::kOverlay, false);
    EXPECT_TRUE(result.everythingBack);
    EXPECT_FALSE(result.backupMissing);
    EXPECT_FALSE(PathExists(LogPath()));
    EXPECT_TRUE(PathExists(elsewhere.Child("Tidemark.log")));
    EXPECT_EQ("", RecordedBackupFolder());
  }
  // The work folder's own backup, recorded but gone (a cleaner emptied the folder): a failure
  // for the caller to tell, and the record goes.
  ASSERT_TRUE(RemoveDirectoryA(backup.c_str()));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", backup.c_str()));
  const ApplyResult result = RestoreSavedState(RestoreMode::kOverlay, false);
  EXPECT_FALSE(result.everythingBack);
  EXPECT_TRUE(result.backupMissing);
  EXPECT_EQ("", RecordedBackupFolder());
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(UserDataBackupTest, AFailedCopyBackLeavesTheBackupAndItsRecord) {
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  HANDLE held = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  CloseHandle(held);
  ASSERT_EQ(1u, answerer_.boxes().size());
  // The system's text, and the file it concerns.
  const std::string text = SystemText(ERROR_ACCESS_DENIED);
  EXPECT_EQ(0u, answerer_.boxes()[0].text.find(text.substr(0, text.find_last_not_of("\r\n") + 1)));
  EXPECT_NE(std::string::npos, answerer_.boxes()[0].text.find("Tidemark.log"));
  EXPECT_EQ(kLogBytes, SavedLog());
  EXPECT_EQ(folder, RecordedBackupFolder());
}

// Bytes that differ from block to block, so that a block read twice or out of order shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4093) % 251);
  return bytes;
}

// The dated copies the restore put into the product folder: their names, deleted.
std::vector<std::string> TakeDatedCopies(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE listing = FindFirstFileA((folder + "\\Tidemark_*.log").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(entry.cFileName);
    DeleteFileA((folder + "\\" + entry.cFileName).c_str());
  } while (FindNextFileA(listing, &entry));
  FindClose(listing);
  return names;
}

// Whether the product folder holds every saved log as it was saved.
bool EverySavedLogInPlace() {
  MachineReading reading;
  ReadSavedLogs(&reading);
  for (const SavedLog& log : reading.logs) {
    if (log.live != ItemState::kSame) return false;
  }
  return true;
}

// Logs larger than the copy's block: a first run saves one, a later run finds another, and the
// rule decides on bytes beyond the first block; the restore puts back what was saved, whole.
TEST_F(UserDataBackupTest, LogsLargerThanABlockAreComparedAndCopiedWhole) {
  const std::string big = Pattern(2 * kFileBlockSize + 777);
  std::string changedLate = big;
  changedLate[kFileBlockSize + 5] ^= 0x5A;
  struct Row {
    const char* name;
    std::string later;  // the product folder's log at the second run
    std::string saved;  // the saved Tidemark.log after it
    bool dated;         // a dated copy beside it, which the restore puts back too
  };
  const Row rows[] = {
      {"grown past two blocks", big + "later\r\n", big + "later\r\n", false},
      {"the same", big, big, false},
      {"one byte other in the second block", changedLate, big, true},
      {"cut short in the second block", big.substr(0, kFileBlockSize + 100), big, true},
      {"one block exactly", big.substr(0, kFileBlockSize), big, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(WriteFileBytes(LogPath(), big));
    ASSERT_TRUE(BackUpUserData());
    EXPECT_EQ(big, SavedLog());
    EXPECT_TRUE(EverySavedLogInPlace());
    ASSERT_TRUE(WriteFileBytes(LogPath(), row.later));
    ASSERT_TRUE(BackUpUserData());
    EXPECT_EQ(row.saved, SavedLog());
    EXPECT_EQ(!row.dated, EverySavedLogInPlace());

    ASSERT_TRUE(WriteFileBytes(LogPath(), "new release log\r\n"));
    ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(LogPath(), &bytes));
    EXPECT_EQ(row.saved, bytes);
    const std::vector<std::string> dated = TakeDatedCopies(product_.path());
    EXPECT_EQ(row.dated ? 1u : 0u, dated.size());
    EXPECT_EQ("", RecordedBackupFolder());
  }
  EXPECT_TRUE(answerer_.boxes().empty());
}

// A log of any size is saved and comes back: here one over 256 MiB, mostly a gap that reads as
// zeros, with its first and last bytes set.
TEST_F(UserDataBackupTest, ALogOverQuarterOfAGibibyteComesBackWhole) {
  const LONGLONG size = 300ll * 1024 * 1024 + 3;
  const auto writeAt = [](HANDLE file, LONGLONG at, const char* bytes) {
    LARGE_INTEGER position;
    position.QuadPart = at;
    DWORD written = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           WriteFile(file, bytes, lstrlenA(bytes), &written, nullptr) &&
           written == static_cast<DWORD>(lstrlenA(bytes));
  };
  {
    base::ScopedHandle file(CreateFileA(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(writeAt(file.get(), 0, "head"));
    ASSERT_TRUE(writeAt(file.get(), size - 4, "tail"));
  }
  ASSERT_TRUE(BackUpUserData());
  ASSERT_TRUE(WriteFileBytes(LogPath(), "new release log\r\n"));
  ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  EXPECT_TRUE(answerer_.boxes().empty());

  base::ScopedHandle file(CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  LARGE_INTEGER restored = {};
  ASSERT_TRUE(GetFileSizeEx(file.get(), &restored));
  EXPECT_EQ(size, restored.QuadPart);
  char head[5] = "", tail[5] = "";
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file.get(), head, 4, &read, nullptr));
  LARGE_INTEGER at;
  at.QuadPart = size - 4;
  EXPECT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
  EXPECT_TRUE(ReadFile(file.get(), tail, 4, &read, nullptr));
  EXPECT_STREQ("head", head);
  EXPECT_STREQ("tail", tail);
  file.reset();
  DeleteFileA(LogPath().c_str());
}

}  // namespace

namespace {

// Every log of a saved name is saved under its own name and comes back under it; a recorded copy
// that has gone from the backup is a failure, never "restored".
TEST_F(UserDataBackupTest, EverySavedNameLogComesBackAndAMissingCopyIsAFailure) {
  const std::string dated = "Tidemark_20261201-090000.log";
  for (const bool removeCopy : {false, true}) {
    SCOPED_TRACE(removeCopy ? "a saved copy gone from the backup" : "every copy there");
    ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
    ASSERT_TRUE(WriteFileBytes(product_.Child(dated), "put back by an earlier restore"));
    ASSERT_TRUE(WriteFileBytes(product_.Child("Tidemark.txt"), "not a log of a saved name"));
    ASSERT_TRUE(BackUpUserData());
    char record[520] = "";
    ReadUpdaterString(nullptr, "BackupFiles", record, sizeof(record));
    const std::string recorded = record;
    EXPECT_NE(std::string::npos, recorded.find("Tidemark.log:31")) << recorded;
    EXPECT_NE(std::string::npos, recorded.find(dated + ":30")) << recorded;
    EXPECT_EQ(std::string::npos, recorded.find("Tidemark.txt")) << recorded;
    // The uninstaller removes the product folder's files.
    DeleteFileA(LogPath().c_str());
    DeleteFileA(product_.Child(dated).c_str());
    if (removeCopy) {
      ASSERT_TRUE(DeleteFileA((WorkBackupFolder() + "\\" + dated).c_str()));
    }
    const ApplyResult result = RestoreSavedState(RestoreMode::kOverlay, false);
    EXPECT_EQ(!removeCopy, result.everythingBack);
    EXPECT_EQ(removeCopy, result.backupMissing);
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(LogPath(), &bytes));
    EXPECT_EQ(kLogBytes, bytes);
    EXPECT_EQ(!removeCopy, ReadFileBytes(product_.Child(dated), &bytes));
    EXPECT_EQ("", RecordedBackupFolder()) << "the backup's record goes either way";
    DeleteFileA(product_.Child("Tidemark.txt").c_str());
  }
  EXPECT_TRUE(answerer_.boxes().empty());
}

}  // namespace
