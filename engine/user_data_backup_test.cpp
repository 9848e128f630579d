// Backup and restore of the user's files, on the real file system and the real updater key.
#include "engine/user_data_backup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/file_utils.h"
#include "engine/product_constants.h"
#include "engine/settings_store.h"
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
using testing_support::ScopedTempPath;
using testing_support::WriteFileBytes;

const std::string kLogBytes("first line\r\n\x82\xa0\x95\x5c binary \0 tail\r\n", 31);

std::string SystemText(DWORD code) {
  char* text = GetSystemErrorText(code);
  std::string result = text ? text : "";
  if (text) LocalFree(text);
  return result;
}

// The eight-hex-digit folders directly in a folder.
std::vector<std::string> BackupFoldersIn(const std::string& folder) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name.size() == 8 &&
        name.find_first_not_of("0123456789abcdef") == std::string::npos) {
      found.push_back(folder + "\\" + name);
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return found;
}

std::string RecordedBackupFolder() {
  char value[520];
  if (!ReadUpdaterString(nullptr, "BackupFolder", value, sizeof(value))) return "";
  return value;
}

// Temporary folder with a blank in its path, an empty updater key, the product folder.
class UserDataBackupTest : public testing::Test {
 protected:
  UserDataBackupTest()
      : temp_("userdata test " + std::to_string(GetTickCount())),
        tempPath_(temp_.path() + "\\"),
        updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey) {
    DeleteFileA(LogPath().c_str());
  }
  std::string LogPath() const { return product_.Child("Tidemark.log"); }

  // The new release writes its own log; the restore puts the user's back over it and removes
  // the backup folder.
  void ExpectRestoreOverTheNewReleasesLog(const std::string& folder) {
    ASSERT_TRUE(WriteFileBytes(LogPath(), "new release log\r\n"));
    ASSERT_TRUE(RestoreUserData());
    std::string restored;
    ASSERT_TRUE(ReadFileBytes(LogPath(), &restored));
    EXPECT_EQ(kLogBytes, restored);
    EXPECT_FALSE(PathExists(folder));
  }

  ScopedTempFolder temp_;
  ScopedTempPath tempPath_;
  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  ScopedProductFolder product_;
  MessageBoxAnswerer answerer_;
};

TEST_F(UserDataBackupTest, LogFileSurvivesBackupAndRestoreOverTheNewReleasesLog) {
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));

  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  const auto made = BackupFoldersIn(temp_.path());
  ASSERT_EQ(1u, made.size());
  EXPECT_EQ(made[0], folder);  // the tick-count name, directly in the temporary folder
  std::string saved;
  ASSERT_TRUE(ReadFileBytes(folder + "\\Tidemark.log", &saved));
  EXPECT_EQ(kLogBytes, saved);

  ExpectRestoreOverTheNewReleasesLog(folder);
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(UserDataBackupTest, TemporaryFolderWithDoubleByteNamesIsBackedUpRestoredAndCleared) {
  // "表ソ": both characters end in the byte of a backslash (0x95 0x5C, 0x83 0x5C).
  const std::string dbcsTemp = temp_.Child("\x95\x5c\x83\x5c");
  ASSERT_TRUE(CreateDirectoryA(dbcsTemp.c_str(), nullptr));
  ScopedTempPath inner(dbcsTemp);
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));

  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  const auto made = BackupFoldersIn(dbcsTemp);
  ASSERT_EQ(1u, made.size());
  EXPECT_EQ(made[0], folder);
  EXPECT_TRUE(IsOwnBackupFolder(folder.c_str()));

  ExpectRestoreOverTheNewReleasesLog(folder);
  EXPECT_TRUE(PathExists(dbcsTemp));  // the temporary folder itself stays
  EXPECT_TRUE(answerer_.boxes().empty());
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

TEST_F(UserDataBackupTest, NameInUseIsBuiltAgainFromALaterTickCount) {
  // Occupy the names of the coming ticks; the backup has to wait for a free one.
  const DWORD first = GetTickCount();
  std::vector<std::string> taken;
  for (DWORD tick = first; tick < first + 300; ++tick) {
    char name[16];
    wsprintfA(name, "%08lx", static_cast<unsigned long>(tick));
    taken.push_back(temp_.Child(name));
    CreateDirectoryA(taken.back().c_str(), nullptr);
  }
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  const std::string name = folder.substr(folder.rfind('\\') + 1);
  const DWORD tick = strtoul(name.c_str(), nullptr, 16);
  EXPECT_GE(tick, first + 300);
  EXPECT_EQ(temp_.path(), folder.substr(0, folder.rfind('\\')));
  EXPECT_TRUE(IsFolderEmpty(folder.c_str()));
}

TEST_F(UserDataBackupTest, LogHeldOpenFailsWithSystemTextAndLeavesNoFolder) {
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  HANDLE held = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  EXPECT_FALSE(BackUpUserData());
  CloseHandle(held);

  const auto boxes = answerer_.boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), boxes[0].text);
  EXPECT_TRUE(BackupFoldersIn(temp_.path()).empty());
  EXPECT_EQ("", RecordedBackupFolder());
}

TEST_F(UserDataBackupTest, RestoreCopiesFilesOnlyAndHandlesTrailingBackslash) {
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  ASSERT_TRUE(WriteFileBytes(folder + "\\Tidemark.log", kLogBytes));
  ASSERT_TRUE(WriteFileBytes(folder + "\\extra.dat", "extra"));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(folder + "\\sub\\inner.txt", "inner"));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", (folder + "\\").c_str()));

  ASSERT_TRUE(RestoreUserData());
  std::string restored;
  ASSERT_TRUE(ReadFileBytes(LogPath(), &restored));
  EXPECT_EQ(kLogBytes, restored);
  EXPECT_TRUE(PathExists(product_.Child("extra.dat")));
  EXPECT_FALSE(PathExists(product_.Child("sub")));
  EXPECT_FALSE(PathExists(folder));
  DeleteFileA(product_.Child("extra.dat").c_str());
}

TEST_F(UserDataBackupTest, RestoreFailuresLeaveTheBackupInPlace) {
  // Nothing recorded.
  EXPECT_FALSE(RestoreUserData());
  // Recorded, but the folder is gone.
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", temp_.Child("0badf00d").c_str()));
  EXPECT_FALSE(RestoreUserData());
  EXPECT_TRUE(answerer_.boxes().empty());

  // A copy back that fails: the product's log is held open without sharing.
  ASSERT_TRUE(WriteFileBytes(LogPath(), kLogBytes));
  ASSERT_TRUE(BackUpUserData());
  const std::string folder = RecordedBackupFolder();
  HANDLE held = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(RestoreUserData());
  CloseHandle(held);
  ASSERT_EQ(1u, answerer_.boxes().size());
  EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), answerer_.boxes()[0].text);
  EXPECT_TRUE(PathExists(folder + "\\Tidemark.log"));
  EXPECT_EQ(folder, RecordedBackupFolder());
}

TEST(IsOwnBackupFolder, OnlyEightHexDigitsDirectlyInTheTemporaryFolder) {
  ScopedTempFolder temp("own backup " + std::to_string(GetTickCount()));
  ScopedTempPath tempPath(temp.path());
  const std::string t = temp.path();
  EXPECT_TRUE(IsOwnBackupFolder((t + "\\0a1b2c3d").c_str()));
  EXPECT_TRUE(IsOwnBackupFolder((t + "\\FFFFFFFF").c_str()));
  std::string upper = t;
  for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(IsOwnBackupFolder((upper + "\\0a1b2c3d").c_str()));

  EXPECT_FALSE(IsOwnBackupFolder(""));
  EXPECT_FALSE(IsOwnBackupFolder("\\"));
  EXPECT_FALSE(IsOwnBackupFolder("C:\\"));
  EXPECT_FALSE(IsOwnBackupFolder(t.c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\0a1b2c3").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\0a1b2c3d4").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\0a1b2c3g").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\0a1b2c3d\\").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\sub\\0a1b2c3d").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder((t + "\\..\\0a1b2c3d").c_str()));
  EXPECT_FALSE(IsOwnBackupFolder("C:\\windows\\0a1b2c3d"));
  EXPECT_FALSE(IsOwnBackupFolder("0a1b2c3d"));
}

TEST_F(UserDataBackupTest, RestoreNeverDeletesAFolderThatIsNotABackup) {
  // A damaged value naming the temporary folder itself, or the drive root: nothing is copied
  // from it into the product folder, and nothing is deleted.
  const std::string sentinel = temp_.Child("keep me.txt");
  ASSERT_TRUE(WriteFileBytes(sentinel, "keep"));
  for (const std::string& damaged : {temp_.path() + "\\", temp_.path(), std::string("C:\\")}) {
    SCOPED_TRACE(damaged);
    ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", damaged.c_str()));
    EXPECT_FALSE(RestoreUserData());
    EXPECT_TRUE(PathExists(sentinel));
    EXPECT_FALSE(PathExists(product_.Child("keep me.txt")));
  }

  // A backup-like name one level further down is not ours either.
  const std::string nested = temp_.Child("other");
  ASSERT_TRUE(CreateDirectoryA(nested.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((nested + "\\1234abcd").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(nested + "\\1234abcd\\Tidemark.log", kLogBytes));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", (nested + "\\1234abcd").c_str()));
  EXPECT_TRUE(RestoreUserData());
  EXPECT_TRUE(PathExists(nested + "\\1234abcd\\Tidemark.log"));

  // An emptied value would list the root of the drive: refused, nothing copied or deleted.
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", "\\"));
  EXPECT_FALSE(RestoreUserData());
  EXPECT_TRUE(answerer_.boxes().empty());
}

}  // namespace
