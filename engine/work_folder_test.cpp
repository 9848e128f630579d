// The update's protected work folder, on the real file system and the real updater key.
#include "engine/work_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::PathExists;
using testing_support::ScopedKeySave;
using testing_support::ScopedRegistryCleanup;
using testing_support::WriteFileBytes;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return Lower(text).compare(0, prefix.size(), Lower(prefix)) == 0;
}

std::string AppData() { return testing_support::CommonAppDataFolder(); }

// The one parent of every work folder.
std::string Parent() { return AppData() + "\\" + product::kWorkFolderParent; }

class WorkFolderTest : public testing::Test {
 protected:
  WorkFolderTest()
      : updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey) {}
  void TearDown() override { DiscardWorkFolder(); }

  std::string Ensure() {
    char folder[520];
    return EnsureWorkFolder(folder) ? folder : "";
  }

  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
};

TEST_F(WorkFolderTest, EachUpdateGetsAFreshFolderOutsideTheUsersFolders) {
  const std::string first = Ensure();
  // In the updater's own parent folder, never directly in the common application-data folder,
  // where any user may make a name again once its folder is gone.
  const std::string prefix = Parent() + "\\" + product::kWorkFolderPrefix;
  ASSERT_TRUE(StartsWith(first, prefix)) << first;
  const std::string digits = first.substr(prefix.size());
  EXPECT_EQ(16u, digits.size());
  EXPECT_EQ(std::string::npos, digits.find_first_not_of("0123456789abcdef")) << digits;
  char profile[MAX_PATH] = "";
  ASSERT_NE(0u, GetEnvironmentVariableA("USERPROFILE", profile, sizeof(profile)));
  EXPECT_FALSE(StartsWith(first, profile));
  EXPECT_FALSE(StartsWith(first, testing_support::TempFolder()));

  // Found again while recorded; its places are built inside it.
  EXPECT_EQ(first, Ensure());
  char launcher[520];
  ASSERT_TRUE(GetWorkPath(WorkItem::kLauncher, launcher));
  EXPECT_EQ(first + "\\TmkUpLauncher.exe", launcher);
  EXPECT_TRUE(IsWorkPath(WorkItem::kLauncher, Lower(launcher).c_str()));
  EXPECT_FALSE(IsWorkPath(WorkItem::kSetupFolder, launcher));

  // The end of the update takes it and its record away; the next update gets another name.
  ASSERT_TRUE(WriteFileBytes(first + "\\TmkUpLauncher.exe", "MZ"));
  DiscardWorkFolder();
  EXPECT_FALSE(PathExists(first));
  char value[520];
  EXPECT_FALSE(ReadUpdaterString(nullptr, "WorkFolder", value, sizeof(value)));
  EXPECT_TRUE(PathExists(Parent())) << "the parent stays";
  const std::string second = Ensure();
  EXPECT_TRUE(StartsWith(second, prefix));
  EXPECT_NE(first, second);
}

TEST_F(WorkFolderTest, ARecordedFolderThatIsNotAPlainWorkFolderIsNeverUsedOrTouched) {
  const std::string userTemp = testing_support::TempFolder();
  const std::string name = std::string(product::kWorkFolderPrefix) + "00000000c0ffee00";
  testing_support::ScopedTempFolder planted(name);
  ASSERT_TRUE(WriteFileBytes(planted.Child("TmkUpLauncher.exe"), "planted"));
  const std::string shortName = AppData() + "\\" + product::kWorkFolderPrefix + "0123456789abcde";
  ASSERT_TRUE(CreateDirectoryA(shortName.c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  const std::string fileName = AppData() + "\\" + product::kWorkFolderPrefix + "0123456789abcdef";
  ASSERT_TRUE(WriteFileBytes(fileName, "a file, not a folder"));
  // A symbolic link planted at a work folder's name (the file-system fixture makes it).
  const std::string link = AppData() + "\\" + product::kWorkFolderPrefix + "00000000deadbeef";
  // A folder of a work folder's name directly in the common application-data folder, where any
  // user could have made it: the updater's own rights cannot tell (an administrator made it here).
  const std::string outsideParent =
      AppData() + "\\" + product::kWorkFolderPrefix + "00000000c0ffee01";
  ASSERT_TRUE(CreateDirectoryA(outsideParent.c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(WriteFileBytes(outsideParent + "\\TmkUpLauncher.exe", "planted"));

  for (const std::string& recorded :
       {planted.path(), userTemp + "\\" + name, AppData(), AppData() + "\\", shortName, fileName,
        link, link + "\\", outsideParent, Parent(), std::string("C:\\"), std::string(""),
        std::string(product::kWorkFolderPrefix) + "00000000c0ffee00"}) {
    SCOPED_TRACE(recorded);
    ASSERT_TRUE(WriteUpdaterString(nullptr, "WorkFolder", recorded.c_str()));
    char found[520];
    EXPECT_FALSE(GetWorkFolder(found));
    EXPECT_FALSE(GetWorkPath(WorkItem::kLauncher, found));
    DiscardWorkFolder();
    EXPECT_TRUE(PathExists(planted.Child("TmkUpLauncher.exe")));
    EXPECT_TRUE(PathExists(shortName));
    EXPECT_TRUE(PathExists(fileName));
    EXPECT_TRUE(PathExists(link + "\\precious.txt"));
    EXPECT_TRUE(PathExists(outsideParent + "\\TmkUpLauncher.exe"));
    // A new update gets a folder of its own instead.
    ASSERT_TRUE(WriteUpdaterString(nullptr, "WorkFolder", recorded.c_str()));
    const std::string made = Ensure();
    EXPECT_TRUE(StartsWith(made, Parent() + "\\" + product::kWorkFolderPrefix)) << made;
    EXPECT_NE(Lower(recorded), Lower(made));
    DiscardWorkFolder();
  }
  DeleteFileA((outsideParent + "\\TmkUpLauncher.exe").c_str());
  RemoveDirectoryA(outsideParent.c_str());
  RemoveDirectoryA(shortName.c_str());
  DeleteFileA(fileName.c_str());
}

}  // namespace
