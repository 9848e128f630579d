// The per-user carry-over on the real registry: the user's hive, a second hive loaded from a file,
// the updater key, and a recorder program standing in for the product.
#include "engine/apply_plan.h"
#include "engine/carryover/user_state.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/clean_up.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using namespace testing_support;  // NOLINT: the helpers of these tests

// The user's Run value and settings key and the updater key are saved and put back; the
// recorder stands ready as the product's "Tidemark.exe".
class UserStateTest : public testing::Test {
 protected:
  UserStateTest()
      : hive_(DesktopHiveName()),
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
    SHDeleteValueA(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue);
  }

  // The user's Run value holds commandLine again and the product was started with it.
  void ExpectAutoRunBackAndStarted(const std::string& commandLine) {
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(
        GetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, &type, &data));
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
  ASSERT_TRUE(
      SetStringValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, commandLine));
  ASSERT_TRUE(CaptureUserState());  // no hive has settings: no snapshot subkeys
  DeleteRunValue();
  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, true).everythingBack);
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
  ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  EXPECT_EQ(firstTree, DumpKeyTree(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_EQ(secondTree, DumpKeyTree(HKEY_USERS, secondSettings));
}

TEST_F(UserStateTest, UnloadedHiveIsSkippedAndTheOthersAndTheAutoRunAreStillRestored) {
  const std::string commandLine = "\"" + program_ + "\"";
  ASSERT_TRUE(
      SetStringValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, commandLine));
  // The second user's hive name sorts before the current user's, so a stop at the first
  // unloaded hive would leave the current user's settings unrestored.
  const char kEarlyHive[] = "S-1-5-21-0-0-0-0999";
  // A user who exists (a profile is listed) but has logged off: the settings wait for them.
  const std::string profile =
      std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + kEarlyHive;
  ScopedRegistryCleanup profileCleanup(HKEY_LOCAL_MACHINE, profile);
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, profile, "ProfileImagePath", "C:\\nowhere"));
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

  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, true).everythingBack);
  EXPECT_EQ(firstTree, DumpKeyTree(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_FALSE(KeyExists(HKEY_USERS, kEarlyHive));                   // nothing made in its place
  EXPECT_EQ(savedEarly, DumpKeyTree(HKEY_LOCAL_MACHINE, snapshot));  // its snapshot is kept
  ExpectAutoRunBackAndStarted(commandLine);
}

TEST_F(UserStateTest, OnceAnUpdateIsUnderWayALaterCaptureKeepsWhatASnapshotHolds) {
  const std::string snapshot = std::string(product::kUpdaterKey) + "\\" + hive_;
  const struct {
    bool marking;
    const char* saved;  // "Name" in the snapshot an earlier run made; nullptr: no snapshot
    const char* expected;
  } rows[] = {{true, "earlier", "earlier"}, {true, nullptr, "live"}, {false, "earlier", "live"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.saved ? row.saved : "no snapshot");
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
    ASSERT_EQ(1, SetMarking(row.marking));
    if (row.saved) {
      ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, snapshot, "Name", row.saved));
    }
    ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, product::kSettingsKey, "Name", "live"));
    ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, std::string(product::kSettingsKey) + "\\Sub",
                               "Added", "new"));
    ASSERT_TRUE(SnapshotUserSettings());
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, snapshot, "Name", &type, &data));
    EXPECT_EQ(std::string(row.expected) + std::string(1, '\0'), data);
    EXPECT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, snapshot + "\\Sub", "Added", &type, &data));
  }
}

// Deletes a registry link itself (a plain delete would act on its target).
void DeleteLink(HKEY root, const std::string& path) {
  using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
  const auto deleteKey = reinterpret_cast<NtDeleteKeyFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
  const base::ScopedRegKey link = OpenKey(root, path, DELETE, REG_OPTION_OPEN_LINK);
  if (deleteKey && link) {
    deleteKey(link.get());
  }
}

TEST_F(UserStateTest, CaptureIsBoundedFollowsNoLinkAndFailsWholeOnAnyError) {
  const std::string settings = product::kSettingsKey;
  const std::string snapshot = std::string(product::kUpdaterKey) + "\\" + hive_;
  const std::wstring target = L"\\Registry\\User\\" + std::wstring(hive_.begin(), hive_.end()) +
                              L"\\SOFTWARE\\KORVANE SYSTEMS,INC.\\Tidesafe";
  enum Plant { kTooDeep, kTooLarge, kTwoLinksBack };
  const struct {
    Plant plant;
    bool captured;
    DWORD error;
  } rows[] = {{kTooDeep, false, ERROR_STACK_OVERFLOW},
              {kTooLarge, false, ERROR_FILE_TOO_LARGE},
              {kTwoLinksBack, true, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.plant);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
    SHDeleteKeyA(HKEY_CURRENT_USER, settings.c_str());
    const size_t before = answerer_.boxes().size();
    ASSERT_EQ(1, SetMarking(TRUE));
    ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, settings, "Name", "x"));
    if (row.plant == kTooDeep) {
      std::string deep = settings;
      for (int level = 0; level < 65; ++level) deep += "\\d";
      ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, deep, "Leaf", "x"));
    } else if (row.plant == kTooLarge) {
      const std::string big(16 * 1024 * 1024 + 1, 'b');
      ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, settings, "Big", REG_BINARY, big.data(),
                              static_cast<DWORD>(big.size())));
    } else {
      for (const char* name : {"LoopA", "LoopB"}) {
        const base::ScopedRegKey link =
            CreateKey(HKEY_CURRENT_USER, settings + "\\" + name, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                      REG_OPTION_CREATE_LINK);
        ASSERT_TRUE(link);
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                 reinterpret_cast<const BYTE*>(target.c_str()),
                                 static_cast<DWORD>(target.size() * sizeof(wchar_t))));
      }
    }
    const BOOL captured = SnapshotUserSettings();
    if (row.plant == kTwoLinksBack) {
      DeleteLink(HKEY_CURRENT_USER, settings + "\\LoopA");
      DeleteLink(HKEY_CURRENT_USER, settings + "\\LoopB");
    }
    SHDeleteKeyA(HKEY_CURRENT_USER, settings.c_str());
    EXPECT_EQ(row.captured ? TRUE : FALSE, captured);
    const auto all = answerer_.boxes();
    const std::vector<testing_support::MessageBoxAnswerer::Box> boxes(all.begin() + before,
                                                                      all.end());
    if (row.captured) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ("(key)\n|Name|1|7800\n", DumpKeyTree(HKEY_LOCAL_MACHINE, snapshot))
          << "the links are not copied";
    } else {
      ASSERT_EQ(1u, boxes.size());
      // The system's text, or its number where the system has none.
      const std::string text = testing_support::SystemText(row.error);
      if (text.empty()) {
        EXPECT_NE(std::string::npos, boxes[0].text.find(std::to_string(row.error)))
            << boxes[0].text;
      } else {
        EXPECT_EQ(0u, boxes[0].text.find(text.substr(0, text.find_last_not_of("\r\n") + 1)))
            << boxes[0].text;
      }
      // The administrator is told whose settings stopped the update.
      EXPECT_NE(std::string::npos, boxes[0].text.find(hive_)) << boxes[0].text;
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, snapshot)) << "nothing is half-saved";
    }
  }
}

TEST_F(UserStateTest, WithoutAnySnapshotSettingsRestoreSucceeds) {
  ASSERT_TRUE(SnapshotUserSettings());  // no hive has settings: the key is made, no subkeys
  EXPECT_EQ("(key)\n", DumpKeyTree(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product::kSettingsKey));
}

}  // namespace

namespace {

// The names of the kept files of a user (the kept folder's "<SID>_*").
std::vector<std::string> KeptFilesOf(const std::string& sid) {
  char folder[520];
  std::vector<std::string> names;
  if (!GetKeptFolder(folder)) return names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((std::string(folder) + "\\" + sid + "_*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(std::string(folder) + "\\" + entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

// A user who no longer exists (no profile listed, no account): what was saved of theirs is kept
// in files for administrators, and nothing waits for that user any more.
TEST_F(UserStateTest, AUserWhoNoLongerExistsEndsTheWaitWithKeptFiles) {
  const std::string gone = "S-1-5-21-9-9-9-4321";
  const std::string updaterKey = product::kUpdaterKey;
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, updaterKey + "\\" + gone, "Server", "tide01"));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, updaterKey + "\\AutoRun", gone,
                             "\"C:\\Program Files\\Tidemark\\Tidemark.exe\" /gone"));
  DiscardUpdaterState();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, updaterKey)) << "the update still waits";
  const std::vector<std::string> kept = KeptFilesOf(gone);
  ASSERT_EQ(2u, kept.size());
  bool settingsKept = false, autoRunKept = false;
  for (const std::string& path : kept) {
    std::string bytes;
    ASSERT_TRUE(testing_support::ReadFileBytes(path, &bytes));
    if (path.find("_settings_") != std::string::npos) settingsKept = !bytes.empty();
    if (path.find("_autorun_") != std::string::npos) {
      const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
      autoRunKept =
          text.find(
              L"\"Tidemark\"=\"\\\"C:\\\\Program Files\\\\Tidemark\\\\Tidemark.exe\\\" /gone\"") !=
          std::wstring::npos;
    }
    DeleteFileA(path.c_str());
  }
  EXPECT_TRUE(settingsKept);
  EXPECT_TRUE(autoRunKept);
  EXPECT_TRUE(answerer_.boxes().empty());
}

}  // namespace

namespace {

// Value and subkey names outside code page 932 compare equal to themselves: such settings in
// place are recognised as saved, and their snapshot does not wait for ever.
TEST_F(UserStateTest, NamesOutsideTheAnsiCodePageCompareEqual) {
  const std::wstring key = std::wstring(L"SOFTWARE\\KORVANE SYSTEMS,INC.\\Tidesafe\\Caf\u00E9");
  base::ScopedRegKey settings;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, settings.receive(), nullptr));
  const wchar_t data[] = L"\u00E9t\u00E9";
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(settings.get(), L"Sa\u00EFson", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(data), sizeof(data)));
  settings.reset();
  ASSERT_TRUE(SnapshotUserSettings());
  base::HeapArray<SavedUserItem> items;
  ReadSavedSettings(&items);
  bool found = false;
  for (const SavedUserItem& item : items) {
    if (item.user == hive_.c_str()) {
      found = true;
      EXPECT_EQ(ItemState::kSame, item.live) << GetItemStateName(item.live);
    }
  }
  EXPECT_TRUE(found);
}

}  // namespace
