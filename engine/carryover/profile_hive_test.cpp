// A logged-off user's profile hive is loaded only from a file that user cannot have planted
// elsewhere: each refusal on the real file system and registry, and that nothing is loaded where
// the user's own logon would meet it.
#include "engine/carryover/profile_hive.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using namespace testing_support;  // NOLINT: the helpers of these tests

constexpr char kUser[] = "S-1-5-21-7-7-7-1001";  // the second user the tests load a hive of

enum class HiveFile { kNone, kFolder, kTwoNames, kPlain };

struct RefusalRow {
  const char* name;
  bool profileListed;
  bool userLoggedOn;
  HiveFile file;
  LONG expected;
};

// Under Wine every file is owned by the user running the tests: a plain hive file of the second
// user is owned by someone else, the last check before the load.
const RefusalRow kRefusals[] = {
    {"no profile listed", false, false, HiveFile::kPlain, ERROR_FILE_NOT_FOUND},
    {"the user is logged on", true, true, HiveFile::kPlain, ERROR_SHARING_VIOLATION},
    {"no hive file", true, false, HiveFile::kNone, ERROR_FILE_NOT_FOUND},
    {"a folder in its place", true, false, HiveFile::kFolder, ERROR_BAD_FILE_TYPE},
    {"a second name", true, false, HiveFile::kTwoNames, ERROR_TOO_MANY_LINKS},
    {"owned by someone else", true, false, HiveFile::kPlain, ERROR_INVALID_OWNER},
};

TEST(ProfileHiveTest, RefusesEveryHiveFileTheUserCouldHavePlanted) {
  for (const RefusalRow& row : kRefusals) {
    SCOPED_TRACE(row.name);
    const std::string profileKey =
        std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + kUser;
    ScopedRegistryCleanup profileCleanup(HKEY_LOCAL_MACHINE, profileKey);
    ScopedTempFolder profile("profile " + std::to_string(GetTickCount()));
    const std::string hiveFile = profile.Child("NTUSER.DAT");
    const std::string otherName = profile.Child("other.dat");
    if (row.profileListed) {
      ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, profileKey, "ProfileImagePath", profile.path(),
                                 REG_EXPAND_SZ));
    }
    // A real, loadable hive file: a load that skipped a check would succeed.
    ScopedLoadedHive session(kUser, hiveFile);
    ASSERT_TRUE(session.loaded());
    if (!row.userLoggedOn) {
      ASSERT_TRUE(session.Unload());
    }
    if (row.file == HiveFile::kNone) {
      ASSERT_TRUE(DeleteFileA(hiveFile.c_str()));
    }
    if (row.file == HiveFile::kFolder) {
      ASSERT_TRUE(DeleteFileA(hiveFile.c_str()));
      ASSERT_TRUE(CreateDirectoryA(hiveFile.c_str(), nullptr));
    }
    if (row.file == HiveFile::kTwoNames) {
      ASSERT_TRUE(CreateHardLinkA(otherName.c_str(), hiveFile.c_str(), nullptr));
    }

    {
      ScopedProfileHive hive;
      EXPECT_EQ(row.expected, hive.Load(kUser));
      EXPECT_EQ(nullptr, hive.root());
    }
    // Never loaded under HKEY_USERS, where the user's own logon loads it.
    EXPECT_EQ(row.userLoggedOn, KeyExists(HKEY_USERS, kUser));

    EXPECT_TRUE(session.Unload());
    DeleteFileA(otherName.c_str());
    RemoveDirectoryA(hiveFile.c_str());
  }
}

}  // namespace
