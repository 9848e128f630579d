// The keep-state flag: once the restart-guidance page has set it, the final clean-up leaves the
// whole saved state for the run after the restart. The flag cannot be cleared, so this program
// holds nothing else.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/clean_up.h"
#include "engine/resume.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using namespace testing_support;

TEST(KeepUpdaterState, DiscardDoesNothingOnceTheFlagIsSet) {
  ScopedValueSave runValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue);
  ScopedKeySave updaterKey(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
  ScopedRegistryCleanup updaterKeyCleanup(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
  // Installed: without the flag everything would go.
  ScopedKeySave registration(HKEY_LOCAL_MACHINE, product::kUninstallKey);
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey, "DisplayName", "x"));

  char work[520];
  ASSERT_TRUE(EnsureWorkFolder(work));
  const std::string backup = std::string(work) + "\\backup";
  ASSERT_TRUE(CreateDirectoryA(backup.c_str(), nullptr));
  ASSERT_TRUE(WriteUpdaterString(nullptr, "BackupFolder", backup.c_str()));
  ASSERT_TRUE(SetMarking(TRUE));
  ASSERT_TRUE(RegisterResume(TRUE));
  const std::string launcher = std::string(work) + "\\TmkUpLauncher.exe";
  const std::string before = DumpKeyTree(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
  DWORD type = 0;
  std::string run;
  ASSERT_TRUE(
      GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &run));

  EXPECT_FALSE(IsKeepingUpdaterState());
  SetKeepUpdaterState();
  EXPECT_TRUE(IsKeepingUpdaterState());
  DiscardUpdaterState();
  DiscardUpdaterState();

  EXPECT_EQ(before, DumpKeyTree(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_TRUE(PathExists(backup));
  EXPECT_TRUE(PathExists(launcher));
  std::string after;
  ASSERT_TRUE(
      GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &after));
  EXPECT_EQ(run, after);
  RemoveTree(work);
}

}  // namespace
