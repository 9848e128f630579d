// The per-user carry-over on the real registry: the user's hive, a second hive loaded from a file,
// the updater key, and a recorder program standing in for the product.
#include "engine/user_state.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::DumpKeyTree;
using testing_support::GetRawValue;
using testing_support::KeyExists;
using testing_support::MessageBoxAnswerer;
using testing_support::LastRecordedStart;
using testing_support::ScopedKeySave;
using testing_support::ScopedLoadedHive;
using testing_support::ScopedProductRecorder;
using testing_support::ScopedRegistryCleanup;
using testing_support::ScopedTempFolder;
using testing_support::ScopedValueSave;
using testing_support::SetRawValue;
using testing_support::SetStringValue;
using testing_support::WaitForRecord;

const char kSecondHive[] = "S-1-5-21-7-7-7-1001";

std::string HiveName() {
  char name[256];
  return GetUserHiveName(name) ? name : "";
}

// The user's Run value and settings key and the updater key are saved and put back; the
// recorder stands ready as the product's "Tidemark.exe".
class UserStateTest : public testing::Test {
 protected:
  UserStateTest()
      : hive_(HiveName()),
        runValue_(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue),
        settings_(HKEY_CURRENT_USER, product::kSettingsKey),
        updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        program_(product_.program()),
        log_(product_.log()) {
    SHDeleteKeyA(HKEY_CURRENT_USER, product::kSettingsKey);
    DeleteRunValue();
  }

  void SetUp() override {
    ASSERT_FALSE(hive_.empty());
    ASSERT_TRUE(product_.placed());
  }

  static void DeleteRunValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, product::kRunKey, 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
      RegDeleteValueA(key, product::kAutoRunValue);
      RegCloseKey(key);
    }
  }

  // The user's Run value holds commandLine again and the product was started with it.
  void ExpectAutoRunBackAndStarted(const std::string& commandLine) {
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(GetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, &type,
                            &data));
    EXPECT_EQ(commandLine + std::string(1, '\0'), data);
    EXPECT_EQ(commandLine, LastRecordedStart(WaitForRecord(log_)).commandLine);
  }

  static void FillSettings(HKEY root, const std::string& path, const std::string& tag) {
    const DWORD number = 0x12345678;
    const BYTE binary[] = {0, 1, 0x5c, 0x82, 0xff};
    ASSERT_TRUE(SetStringValue(root, path, "Name", "settings of " + tag));
    ASSERT_TRUE(SetStringValue(root, path, "Folder", "%USERPROFILE%\\Tidemark", REG_EXPAND_SZ));
    ASSERT_TRUE(SetRawValue(root, path, "Count", REG_DWORD, &number, sizeof(number)));
    ASSERT_TRUE(SetRawValue(root, path, "Blob", REG_BINARY, binary, sizeof(binary)));
    ASSERT_TRUE(SetRawValue(root, path, "List", REG_MULTI_SZ, "one\0two\0", 9));
    ASSERT_TRUE(SetStringValue(root, path + "\\Windows\\Main", "Placement", "10,20,300,400"));
  }

  std::string hive_;
  ScopedValueSave runValue_;
  ScopedKeySave settings_;
  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  ScopedProductRecorder product_;
  MessageBoxAnswerer answerer_;
  std::string program_, log_;
};

TEST_F(UserStateTest, HiveNameIsTheCurrentUsersHive) {
  ASSERT_EQ(0u, hive_.rfind("S-1-", 0));
  // The same key seen through HKEY_CURRENT_USER and through HKEY_USERS\<hive name>.
  ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, product::kSettingsKey, "Probe", hive_));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(GetRawValue(HKEY_USERS, hive_ + "\\" + product::kSettingsKey, "Probe", &type, &data));
  EXPECT_EQ(hive_ + std::string(1, '\0'), data);
}

TEST_F(UserStateTest, WithoutSettingsSnapshotsTheAutoRunIsStillRestored) {
  const std::string commandLine = "\"" + program_ + "\"";
  ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue,
                             commandLine));
  ASSERT_TRUE(CaptureUserState());  // no hive has settings: no snapshot subkeys
  DeleteRunValue();
  EXPECT_TRUE(RestoreUserState());
  ExpectAutoRunBackAndStarted(commandLine);
}

TEST_F(UserStateTest, SettingsOfTwoHivesAreSnapshotAndRestored) {
  ScopedTempFolder hiveFolder("second hive " + std::to_string(GetTickCount()));
  ScopedLoadedHive second(kSecondHive, hiveFolder.Child("ntuser.dat"));
  ASSERT_TRUE(second.loaded());
  const std::string secondSettings = std::string(kSecondHive) + "\\" + product::kSettingsKey;
  FillSettings(HKEY_CURRENT_USER, product::kSettingsKey, "first user");
  FillSettings(HKEY_USERS, secondSettings, "second user");
  const std::string firstTree = DumpKeyTree(HKEY_CURRENT_USER, product::kSettingsKey);
  const std::string secondTree = DumpKeyTree(HKEY_USERS, secondSettings);
  ASSERT_NE(firstTree, secondTree);

  ASSERT_TRUE(SnapshotUserSettings());
  const std::string updater = product::kUpdaterKey;
  EXPECT_EQ(firstTree, DumpKeyTree(HKEY_LOCAL_MACHINE, updater + "\\" + hive_));
  EXPECT_EQ(secondTree, DumpKeyTree(HKEY_LOCAL_MACHINE, updater + "\\" + kSecondHive));

  // The new release leaves fresh settings; the snapshots are laid back over them.
  SHDeleteKeyA(HKEY_CURRENT_USER, product::kSettingsKey);
  SHDeleteKeyA(HKEY_USERS, secondSettings.c_str());
  ASSERT_TRUE(SetStringValue(HKEY_USERS, secondSettings, "Name", "fresh"));
  ASSERT_TRUE(RestoreUserSettings());
  EXPECT_EQ(firstTree, DumpKeyTree(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_EQ(secondTree, DumpKeyTree(HKEY_USERS, secondSettings));
}

TEST_F(UserStateTest, UnloadedHiveIsSkippedAndTheOthersAndTheAutoRunAreStillRestored) {
  const std::string commandLine = "\"" + program_ + "\"";
  ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue,
                             commandLine));
  // The second user's hive name sorts before the current user's, so a stop at the first
  // unloaded hive would leave the current user's settings unrestored.
  const char kEarlyHive[] = "S-1-5-21-0-0-0-0999";
  ScopedTempFolder hiveFolder("early hive " + std::to_string(GetTickCount()));
  ScopedLoadedHive second(kEarlyHive, hiveFolder.Child("ntuser.dat"));
  ASSERT_TRUE(second.loaded());
  FillSettings(HKEY_CURRENT_USER, product::kSettingsKey, "first user");
  FillSettings(HKEY_USERS, std::string(kEarlyHive) + "\\" + product::kSettingsKey, "early user");
  const std::string firstTree = DumpKeyTree(HKEY_CURRENT_USER, product::kSettingsKey);
  ASSERT_NE(std::string::npos, firstTree.find("|Name|1|")) << firstTree;  // the test's own writes

  ASSERT_TRUE(CaptureUserState());
  const std::string snapshot = std::string(product::kUpdaterKey) + "\\" + kEarlyHive;
  const std::string savedEarly = DumpKeyTree(HKEY_LOCAL_MACHINE, snapshot);
  ASSERT_NE("", savedEarly);

  // The second user logs off (or the machine restarts); the uninstaller removes the rest.
  ASSERT_TRUE(second.Unload());
  SHDeleteKeyA(HKEY_CURRENT_USER, product::kSettingsKey);
  DeleteRunValue();

  EXPECT_TRUE(RestoreUserState());
  EXPECT_EQ(firstTree, DumpKeyTree(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_FALSE(KeyExists(HKEY_USERS, kEarlyHive));  // nothing made in its place
  EXPECT_EQ(savedEarly, DumpKeyTree(HKEY_LOCAL_MACHINE, snapshot));  // its snapshot is kept
  ExpectAutoRunBackAndStarted(commandLine);
}

TEST_F(UserStateTest, WithoutAnySnapshotSettingsRestoreSucceeds) {
  ASSERT_TRUE(SnapshotUserSettings());  // no hive has settings: the key is made, no subkeys
  EXPECT_EQ("(key)\n", DumpKeyTree(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_TRUE(RestoreUserSettings());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product::kSettingsKey));
}

}  // namespace
