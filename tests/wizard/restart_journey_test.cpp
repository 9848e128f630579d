// An update across a restart, in two halves around a simulated power cycle (restart_journey.sh):
// the first half ends on the restart-guidance page, the machine is switched off and booted, the
// logon runs the resume entry, and the second half drives the wizard that the launcher started.
// The halves are disabled in the ordinary run; the script runs them in order.
#include <windows.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/core/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/wizard/journey_support.h"
#include "tests/wizard/wizard_driver.h"

namespace {

using namespace wizard_testing;
using testing_support::InstallOldRelease;

std::string RecordFile() { return testing_support::TempFolder() + "\\restart-journey-before.txt"; }

TEST(RestartJourney, DISABLED_BeforeRestart) {
  CleanMachine();
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=restart"));
  const UserData before = CaptureUserData();
  ASSERT_TRUE(testing_support::WriteFileBytes(
      RecordFile(), std::to_string(ProductStartCount()) + "\n" + before.Serialize()));

  WizardDriver wizard;
  ASSERT_TRUE(wizard.Start());
  ASSERT_TRUE(wizard.WaitForWizard());
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_UNINSTALL));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_RESTART_GUIDANCE, 60000));
  wizard.Press(PSBTN_FINISH);
  ASSERT_EQ(3010, wizard.WaitForExit());

  ASSERT_TRUE(UpdaterKeyExists());
  EXPECT_EQ(1u, UpdaterMarking());
  // The resume entry: the launcher and the updater's copy in the work folder, both paths quoted,
  // the NUL stored with the string.
  const std::string work = UpdaterString("WorkFolder");
  const std::string launcher = UpdaterString("Launcher");
  EXPECT_EQ(work + "\\" + product::kLauncherFileName, launcher);
  EXPECT_TRUE(testing_support::PathExists(launcher));
  std::string resume;
  DWORD type = 0;
  ASSERT_TRUE(ResumeRunValue(&resume, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ("\"" + launcher + "\" \"" + work + "\\Updater.exe\"" + std::string(1, '\0'), resume);
  // The uninstaller left a file behind for the restart to remove.
  EXPECT_TRUE(testing_support::PathExists(testing_support::ProductFolder()));

  // The user starts the updater again before restarting: it says to restart, installs nothing and
  // keeps everything for the run after the restart.
  WizardDriver early;
  ASSERT_TRUE(early.Start());
  ASSERT_TRUE(early.WaitForWizard());
  ASSERT_TRUE(early.WaitForPage(PAGE_RESTART_GUIDANCE));
  early.Press(PSBTN_FINISH);
  EXPECT_EQ(3010, early.WaitForExit());
  EXPECT_TRUE(testing_support::ReadTraceLines("setup.log").empty())
      << "setup ran before the restart";
  std::string resumeAfter;
  ASSERT_TRUE(ResumeRunValue(&resumeAfter));
  EXPECT_EQ(resume, resumeAfter);
  EXPECT_TRUE(testing_support::PathExists(launcher));
  EXPECT_EQ(1u, UpdaterMarking());
}

TEST(RestartJourney, DISABLED_AfterRestart) {
  std::string record;
  ASSERT_TRUE(testing_support::ReadFileBytes(RecordFile(), &record));
  const size_t newline = record.find('\n');
  const int startsBefore = std::stoi(record.substr(0, newline));
  UserData before;
  ASSERT_TRUE(UserData::Deserialize(record.substr(newline + 1), &before));
  DeleteFileA(RecordFile().c_str());

  // The logon started the launcher, which started the updater.
  const std::string launcher = UpdaterString("Launcher");
  ASSERT_FALSE(launcher.empty()) << "the updater key came through the restart";
  WizardDriver wizard;
  ASSERT_TRUE(wizard.Attach(60000)) << "no wizard came up after the restart";
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INSTALL));
  // Before Next: the install page's creation has undone the resume registration.
  EXPECT_FALSE(testing_support::PathExists(launcher))
      << "launcher file still there on the install page";
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume)) << "unregistered as soon as the install page exists";
  EXPECT_FALSE(testing_support::PathExists(testing_support::ProductFolder()))
      << "the restart removed the rest";
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_COMPLETED, 60000));

  const UserData after = CaptureUserData();
  const bool productStarted = WaitForProductStarts(startsBefore + 1);
  Sleep(500);
  // The report a person reads: the user's data before the update against after it.
  int settingsKept = 0;
  for (const auto& [name, value] : before.settings) {
    auto found = after.settings.find(name);
    if (found != after.settings.end() && found->second == value) ++settingsKept;
  }
  printf("report: log file %s (%zu bytes before, %zu after)\n",
         before.log == after.log ? "identical" : "DIFFERENT", before.log.size(), after.log.size());
  printf("report: settings %d of %zu entries identical (types, data, subkeys)\n", settingsKept,
         before.settings.size());
  printf("report: autorun entry %s: %s\n",
         before.runValue == after.runValue ? "identical" : "DIFFERENT", after.runValue.c_str());
  printf("report: product started %d time(s) since the update began\n",
         ProductStartCount() - startsBefore);
  fflush(stdout);

  EXPECT_EQ(before.log, after.log);
  for (const auto& [name, value] : before.settings) {
    auto found = after.settings.find(name);
    ASSERT_NE(after.settings.end(), found) << name;
    EXPECT_EQ(value, found->second) << name;
  }
  EXPECT_EQ(before.runValue, after.runValue);
  EXPECT_TRUE(productStarted);
  EXPECT_EQ(startsBefore + 1, ProductStartCount()) << "the product is started once";
  ASSERT_TRUE(before.hasRunValue);
  EXPECT_EQ(std::string(before.runValue.c_str()), LastProductStart())
      << "the product is started with the user's autorun command line";

  const std::string work = UpdaterString("WorkFolder");
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
  EXPECT_FALSE(ResumeRunValue(&resume));
  // The updater that ran is the work folder's copy: everything else of the folder is gone, the
  // copy and the folder go at the next restart.
  ASSERT_FALSE(work.empty());
  EXPECT_FALSE(testing_support::PathExists(work + "\\backup"));
  EXPECT_FALSE(testing_support::PathExists(launcher));
  EXPECT_TRUE(testing_support::PathExists(work + "\\Updater.exe"));
  ASSERT_TRUE(testing_support::WriteFileBytes(RecordFile(), work));
}

// After one more restart the new release is whole (nothing the old uninstaller scheduled took any
// of it) and nothing of the update is left.
TEST(RestartJourney, DISABLED_AfterSecondRestart) {
  std::string work;
  ASSERT_TRUE(testing_support::ReadFileBytes(RecordFile(), &work));
  DeleteFileA(RecordFile().c_str());
  for (const char* file : {"Tidemark.exe", "TidemarkShell.dll", "Tidemark.log"}) {
    EXPECT_TRUE(testing_support::PathExists(testing_support::ProductFolder() + "\\" + file))
        << file;
  }
  EXPECT_FALSE(testing_support::PathExists(work));
  EXPECT_TRUE(WorkFolders().empty());
  CleanMachine();
}

// Always run last by the script, whatever the halves did: no updater left running, machine clean.
TEST(RestartJourney, DISABLED_CleanUp) {
  EndRunningUpdaters();
  CleanMachine();
  DeleteFileA(RecordFile().c_str());
  EXPECT_FALSE(UpdaterKeyExists());
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume));
}

}  // namespace
