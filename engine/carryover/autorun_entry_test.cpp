// The users' autorun entries on the real registry: the user's hive, a second hive loaded from a
// file, the updater key, and the recorder standing in as the product's "Tidemark.exe".
#include "engine/apply_plan.h"
#include "engine/carryover/autorun_entry.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>

#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/carryover/user_hives.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using namespace testing_support;  // NOLINT: the helpers of these tests

std::string UpdaterString(const char* name) {
  char value[520];
  return ReadUpdaterString(nullptr, name, value, sizeof(value)) ? value : "<absent>";
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A hive's Run value "Tidemark" as the registry holds it, read and written with the wide API.
struct Entry {
  DWORD type;
  std::wstring data;  // the terminating NUL included
  bool operator==(const Entry& other) const { return type == other.type && data == other.data; }
};

Entry ReadEntry(const std::string& hive) {
  Entry entry{REG_NONE, L""};
  wchar_t buffer[4096];
  DWORD size = sizeof(buffer);
  const base::ScopedRegKey key = OpenKey(HKEY_USERS, hive + "\\" + product::kRunKey);
  if (!key) return entry;
  if (RegQueryValueExW(key.get(), L"Tidemark", nullptr, &entry.type,
                       reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
    entry.data.assign(buffer, size / sizeof(wchar_t));
  }
  return entry;
}

bool WriteEntry(const std::string& hive, DWORD type, const std::wstring& text) {
  const base::ScopedRegKey key = CreateKey(HKEY_USERS, hive + "\\" + product::kRunKey);
  return key && RegSetValueExW(key.get(), L"Tidemark", 0, type,
                               reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * 2)) == ERROR_SUCCESS;
}

void DeleteEntry(const std::string& hive) {
  if (const base::ScopedRegKey key =
          OpenKey(HKEY_USERS, hive + "\\" + product::kRunKey, KEY_SET_VALUE)) {
    RegDeleteValueW(key.get(), L"Tidemark");
  }
}

// The user's Run value, the updater key and the product folder's program are saved and put back.
class AutoRunEntryTest : public testing::Test {
 protected:
  AutoRunEntryTest()
      : hive_(DesktopHiveName()),
        runValue_(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue),
        updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        quoted_("\"" + product_.program() + "\"") {
    DeleteEntry(hive_);
  }

  void SetUp() override {
    ASSERT_FALSE(hive_.empty());
    ASSERT_TRUE(product_.placed());
  }

  // The recorder's log after a moment in which a start would have been written.
  std::string StartsSoFar() {
    Sleep(1500);
    std::string log;
    testing_support::ReadFileBytes(product_.log(), &log);
    return log;
  }

  std::string hive_;
  ScopedValueSave runValue_;
  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  ScopedProductRecorder product_;
  std::string quoted_;
  MessageBoxAnswerer answerer_;
};

TEST_F(AutoRunEntryTest, AutoRunIsCapturedRewrittenWithItsTypeAndTheProductStarted) {
  // The product's path given as it is and through a variable of the user's environment.
  ScopedValueSave userVariable(HKEY_CURRENT_USER, "Environment", "TIDEMARK_TEST_FOLDER");
  ASSERT_TRUE(
      SetStringValue(HKEY_CURRENT_USER, "Environment", "TIDEMARK_TEST_FOLDER", product_.folder()));
  SetEnvironmentVariableA("TIDEMARK_TEST_FOLDER", product_.folder().c_str());
  const std::string direct = quoted_ + " /tray /log C:\\logs\\x";
  const struct {
    DWORD type;
    std::string value;
  } rows[] = {{REG_SZ, direct},
              {REG_EXPAND_SZ, "\"%TIDEMARK_TEST_FOLDER%\\Tidemark.exe\" /tray /log C:\\logs\\x"}};
  int starts = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue,
                               row.value, row.type));
    ASSERT_TRUE(CaptureAutoRun());
    EXPECT_EQ(hive_, UpdaterString("UserID"));
    EXPECT_EQ(row.value, UpdaterString("AutoRunCommandLine"));

    DeleteEntry(hive_);  // the uninstaller takes it away
    ASSERT_TRUE(RestoreSavedState(RestoreMode::kOverlay, true).everythingBack);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(
        GetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, &type, &data));
    EXPECT_EQ(row.type, type);
    EXPECT_EQ(row.value + std::string(1, '\0'), data);
    EXPECT_EQ("<absent>", UpdaterString("AutoRunCommandLine")) << "the entry is back: no record";

    const auto started = LastRecordedStart(WaitForRecord(product_.log(), 4 * ++starts));
    EXPECT_EQ(direct, started.commandLine);
    EXPECT_EQ(product_.folder(), started.folder);
  }
  SetEnvironmentVariableA("TIDEMARK_TEST_FOLDER", nullptr);
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(AutoRunEntryTest, SavedTypeOtherThanExpandSzIsWrittenAsRegSzAndOnlyTheProductStarted) {
  ScopedTempFolder temp("autorun " + std::to_string(GetTickCount()));
  SetEnvironmentVariableA("TIDEMARK_TEST_SHARE", "\\\\localhost\\share");
  const std::string plain = quoted_ + " /tray";
  const DWORD kAbsent = 0xFFFFFFFF;
  const struct {
    DWORD savedType;
    std::string value;
    DWORD writtenType;
    bool started;
  } rows[] = {{kAbsent, plain, REG_SZ, true},
              {REG_MULTI_SZ, plain, REG_SZ, true},
              {REG_EXPAND_SZ, "%TIDEMARK_TEST_SHARE%\\Tidemark.exe /tray", REG_EXPAND_SZ, false},
              {REG_SZ, "\"" + temp.Child("Tidemark.exe") + "\" /tray", REG_SZ, false}};
  int starts = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    ASSERT_TRUE(WriteUpdaterString(nullptr, updater_value::kUserId, hive_.c_str()));
    ASSERT_TRUE(WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, row.value.c_str()));
    ASSERT_TRUE(WriteUpdaterDword(nullptr, updater_value::kAutoRunType, row.savedType,
                                  row.savedType == kAbsent));
    EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, true).everythingBack);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(
        GetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, &type, &data));
    EXPECT_EQ(row.writtenType, type);
    EXPECT_EQ(row.value + std::string(1, '\0'), data);
    if (row.started) {
      EXPECT_EQ(plain, LastRecordedStart(WaitForRecord(product_.log(), 4 * ++starts)).commandLine);
    } else {
      const std::string log = StartsSoFar();
      EXPECT_EQ(4 * starts, std::count(log.begin(), log.end(), '\n')) << "started: " << log;
    }
  }
  SetEnvironmentVariableA("TIDEMARK_TEST_SHARE", nullptr);
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(AutoRunEntryTest, WithoutAStringRunValueNothingIsSavedWrittenOrStarted) {
  const DWORD number = 1;
  const struct {
    DWORD type;  // REG_NONE: no value at all
    const void* data;
    DWORD size;
  } rows[] = {{REG_NONE, nullptr, 0},
              {REG_MULTI_SZ, "C:\\x.exe\0", 10},
              {REG_BINARY, "C:\\x.exe", 9},
              {REG_DWORD, &number, sizeof(number)}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    DeleteEntry(hive_);
    if (row.data != nullptr) {
      ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, row.type,
                              row.data, row.size));
    }
    ASSERT_TRUE(CaptureAutoRun());
    EXPECT_EQ("<absent>", UpdaterString("UserID"));
    EXPECT_EQ("<absent>", UpdaterString("AutoRunCommandLine"));
    EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, true).everythingBack)
        << "nothing saved is nothing to put back";
    EXPECT_EQ(row.type, ReadEntry(hive_).type) << "the Run value is left as it was";
  }
}

TEST_F(AutoRunEntryTest, AutoRunOfAUserWhoseHiveIsNotLoadedIsNeitherWrittenNorStarted) {
  // A user who exists (a profile is listed) but has logged off.
  const std::string profile =
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-0998";
  testing_support::ScopedRegistryCleanup profileCleanup(HKEY_LOCAL_MACHINE, profile);
  ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, profile, "ProfileImagePath",
                                              "C:\\nowhere"));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "UserID", "S-1-5-21-0-0-0-0998"));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "AutoRunCommandLine", quoted_.c_str()));
  // Waiting for the user's hive is no failure, and the record is not taken for a value in place.
  const ApplyResult result = RestoreSavedState(RestoreMode::kOverlay, true);
  EXPECT_TRUE(result.everythingBack);
  EXPECT_TRUE(result.itemsWait);
  EXPECT_FALSE(KeyExists(HKEY_USERS, "S-1-5-21-0-0-0-0998"));  // nothing made in its place
  EXPECT_EQ(quoted_, UpdaterString("AutoRunCommandLine")) << "the record waits";
  EXPECT_EQ("", StartsSoFar()) << "the product was started";
  EXPECT_TRUE(answerer_.boxes().empty());
}

// Two users, each with an entry: both come back as they were, whatever their length and
// characters; and once an update is under way a second capture replaces neither record.
class TwoUsersAutoRunTest : public AutoRunEntryTest {
 protected:
  TwoUsersAutoRunTest()
      : hiveFolder_("second hive " + std::to_string(GetTickCount())),
        second_(kSecondHive, hiveFolder_.Child("ntuser.dat")) {}

  void SetUp() override {
    AutoRunEntryTest::SetUp();
    ASSERT_TRUE(second_.loaded());
  }

  ScopedTempFolder hiveFolder_;
  ScopedLoadedHive second_;
};

TEST_F(TwoUsersAutoRunTest, EveryUsersEntryComesBackWhole) {
  const std::wstring product = Wide(quoted_);
  const struct {
    const char* name;
    DWORD firstType, secondType;
    std::wstring first, second;
  } rows[] = {
      {"longer than 511 bytes", REG_SZ, REG_EXPAND_SZ, product + L" /x " + std::wstring(1500, L'a'),
       L"\"%SystemRoot%\\x.exe\" " + std::wstring(600, L'b')},
      {"characters outside code page 932", REG_SZ, REG_SZ,
       product + L" /name \u00e9\u2603\U0001D11E", L"\"C:\\\u00e9\u0110\\t.exe\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(WriteEntry(hive_, row.firstType, row.first));
    ASSERT_TRUE(WriteEntry(kSecondHive, row.secondType, row.second));
    const Entry first = ReadEntry(hive_);
    const Entry second = ReadEntry(kSecondHive);
    ASSERT_TRUE(CaptureAutoRun());
    EXPECT_EQ(hive_, UpdaterString(updater_value::kUserId)) << "the desktop user's record";
    DeleteEntry(hive_);
    DeleteEntry(kSecondHive);
    EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
    EXPECT_TRUE(first == ReadEntry(hive_));
    EXPECT_TRUE(second == ReadEntry(kSecondHive));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(product::kUpdaterKey) + "\\AutoRun"))
        << "every entry is back: no record";
  }
}

// An entry is saved up to the longest command line Windows can start (32,767 characters); a
// longer one stops the capture with a message that names its user, and nothing of it reaches the
// machine's hive. A value that is no string is no entry, whatever its size.
TEST_F(TwoUsersAutoRunTest, AnEntryLongerThanWindowsCanStartIsRefusedNamingItsUser) {
  const std::string records = std::string(product::kUpdaterKey) + "\\AutoRun";
  const struct {
    const char* name;
    DWORD type;
    size_t characters;  // without the NUL
    bool captured;
    bool saved;
  } rows[] = {
      {"the longest command", REG_SZ, 32767, true, true},
      {"one character more", REG_EXPAND_SZ, 32768, false, false},
      {"a mebibyte", REG_SZ, 512 * 1024, false, false},
      {"a mebibyte of binary data", REG_BINARY, 512 * 1024, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
    DeleteEntry(hive_);
    ASSERT_TRUE(
        WriteEntry(kSecondHive, row.type, L"C:\\x.exe " + std::wstring(row.characters - 9, L'a')));
    const size_t before = answerer_.boxes().size();
    EXPECT_EQ(row.captured, CaptureAutoRun() != FALSE);
    const auto boxes = answerer_.boxes();
    DWORD size = 0;
    const base::ScopedRegKey key = OpenKey(HKEY_LOCAL_MACHINE, records, KEY_QUERY_VALUE);
    const bool saved = key && RegQueryValueExW(key.get(), Wide(kSecondHive).c_str(), nullptr,
                                               nullptr, nullptr, &size) == ERROR_SUCCESS;
    EXPECT_EQ(row.saved, saved);
    if (row.saved) {
      EXPECT_EQ((row.characters + 1) * 2, size) << "saved whole";
    }
    if (row.captured) {
      EXPECT_EQ(before, boxes.size());
    } else {
      ASSERT_EQ(before + 1, boxes.size());
      EXPECT_NE(std::string::npos, boxes.back().text.find(kSecondHive)) << boxes.back().text;
    }
  }
  DeleteEntry(kSecondHive);
}

TEST_F(TwoUsersAutoRunTest, ALaterCaptureReplacesNoRecordOfTheUpdate) {
  ASSERT_TRUE(SetMarking(TRUE));
  ASSERT_TRUE(WriteEntry(hive_, REG_SZ, Wide(quoted_ + " /saved")));
  ASSERT_TRUE(WriteEntry(kSecondHive, REG_SZ, L"second /saved"));
  const Entry first = ReadEntry(hive_);
  const Entry second = ReadEntry(kSecondHive);
  ASSERT_TRUE(CaptureAutoRun());
  // An uninstaller that failed half-way; the old release then wrote entries of its own.
  ASSERT_TRUE(WriteEntry(hive_, REG_SZ, L"fresh"));
  ASSERT_TRUE(WriteEntry(kSecondHive, REG_SZ, L"fresh"));
  ASSERT_TRUE(CaptureAutoRun());
  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, false).everythingBack);
  EXPECT_TRUE(first == ReadEntry(hive_));
  EXPECT_TRUE(second == ReadEntry(kSecondHive));
}

TEST_F(TwoUsersAutoRunTest, AnotherUsersEntryIsWrittenBackButNotStartedOnThisDesktop) {
  // The update began on the second user's desktop and ends on this one.
  ASSERT_TRUE(WriteUpdaterString(nullptr, updater_value::kUserId, kSecondHive));
  ASSERT_TRUE(WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, quoted_.c_str()));
  EXPECT_TRUE(RestoreSavedState(RestoreMode::kOverlay, true).everythingBack);
  EXPECT_TRUE(Entry({REG_SZ, Wide(quoted_) + L'\0'}) == ReadEntry(kSecondHive));
  EXPECT_EQ(REG_NONE, ReadEntry(hive_).type) << "written into this user's hive";
  EXPECT_EQ("", StartsSoFar()) << "the product was started for another user";
}

}  // namespace
