// An update interrupted at each of its steps, by a power cut or by a kill of the updater, and then
// carried on by the user starting the updater again: nothing of the user's may be lost. Each row
// is two steps around the interruption (interruption_journey.sh runs them, cutting the power in
// between with wineserver -k and booting with wineboot where the row says so).
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

enum { kIntroduction = 0, kUninstall = 1, kInstall = 2, kRestart = 3, kCompleted = 4, kIncompleted = 5 };

std::string Environment(const char* name) {
  char value[256] = "";
  GetEnvironmentVariableA(name, value, sizeof(value));
  return value;
}

std::string RecordFile() { return testing_support::TempFolder() + "\\interruption-before.txt"; }
std::string TracePath(const char* name) { return std::string("C:\\tidemark-standin\\") + name; }

bool WaitForPause(const std::string& point) {
  for (int i = 0; i < 600; ++i) {
    std::string paused;
    if (testing_support::ReadFileBytes(TracePath("paused.txt"), &paused) && paused == point) {
      return true;
    }
    Sleep(50);
  }
  return false;
}

// Drives the update to the row's point and interrupts it there. INTERRUPTION_POINT names a
// stand-in pause ("uninstall-start", "uninstall-log-removed", "setup-files", "setup-registered")
// or "install-page"; INTERRUPTION_KIND is "power" (the script then cuts the power) or "kill".
TEST(InterruptionJourney, DISABLED_InterruptAt) {
  const std::string point = Environment("INTERRUPTION_POINT");
  const bool kill = Environment("INTERRUPTION_KIND") == "kill";
  CleanMachine();
  ASSERT_TRUE(testing_support::InstallOldRelease());
  ASSERT_TRUE(testing_support::WriteFileBytes(RecordFile(), CaptureUserData().Serialize()));
  if (point != "install-page") {
    CreateDirectoryA(TracePath("").c_str(), nullptr);
    ASSERT_TRUE(testing_support::WriteFileBytes(TracePath("pause-at.txt"), point));
  }

  WizardDriver wizard;
  ASSERT_TRUE(wizard.Start());
  ASSERT_TRUE(wizard.WaitForWizard());
  ASSERT_TRUE(wizard.WaitForPage(kIntroduction));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(kUninstall));
  wizard.Press(PSBTN_NEXT);
  if (point.compare(0, 9, "uninstall") != 0) {
    ASSERT_TRUE(wizard.WaitForPage(kInstall, 60000));
    if (point != "install-page") wizard.Press(PSBTN_NEXT);
  }
  if (point != "install-page") {
    ASSERT_TRUE(WaitForPause(point)) << "never reached " << point;
  }

  if (!kill) {
    wizard.Detach();  // running until the power goes
    return;
  }
  EndRunningUpdaters();
  // The uninstaller or setup the updater started runs on to its end without it.
  DeleteFileA(TracePath("pause-at.txt").c_str());
  WaitForProgramsToEnd({"TidemarkStandInUninstall.exe", "setup.exe"});
}

// The user starts the updater again (after a power cut the logon may already have started it) as
// often as it takes, pressing Next, until it completes; then everything of the user's is back
// and nothing of the update is left.
TEST(InterruptionJourney, DISABLED_FinishAfterInterruption) {
  std::string record;
  ASSERT_TRUE(testing_support::ReadFileBytes(RecordFile(), &record));
  DeleteFileA(RecordFile().c_str());
  UserData before;
  ASSERT_TRUE(UserData::Deserialize(record, &before));
  DeleteFileA(TracePath("pause-at.txt").c_str());
  const bool booted = Environment("INTERRUPTION_BOOTED") == "1";

  bool completed = false;
  UserData after;
  for (int run = 0; run < 3 && !completed; ++run) {
    SCOPED_TRACE("start " + std::to_string(run + 1));
    WizardDriver wizard;
    std::string resume;
    if (run == 0 && booted && ResumeRunValue(&resume)) {
      ASSERT_TRUE(wizard.Attach(60000)) << "the logon did not bring the updater back";
    } else {
      ASSERT_TRUE(wizard.Start());
      ASSERT_TRUE(wizard.WaitForWizard());
    }
    for (int step = 0; step < 6 && wizard.Running(); ++step) {
      wizard.Settle();
      const int page = wizard.CurrentPage();
      ASSERT_NE(kRestart, page) << "no restart is due on this path";
      if (page == kCompleted || page == kIncompleted) {
        if (page == kCompleted) after = CaptureUserData();
        wizard.Press(PSBTN_FINISH);
        EXPECT_EQ(page == kCompleted ? 0 : 1603, wizard.WaitForExit());
        completed = page == kCompleted;
        break;
      }
      // The install page may move on by itself (a restore left over); otherwise Next.
      const DWORD start = GetTickCount();
      while (wizard.CurrentPage() == page && GetTickCount() - start < 1000) Sleep(50);
      if (wizard.CurrentPage() == page) wizard.Press(PSBTN_NEXT);
      // No message may come up on the way (the up-to-date message would mean a restore skipped).
      const DWORD pressed = GetTickCount();
      MessageBoxSeen box;
      while ((wizard.CurrentPage() == page || !wizard.SheetVisible()) &&
             GetTickCount() - pressed < 60000) {
        ASSERT_FALSE(wizard.WaitForMessageBox(&box, 50)) << "a message came up on page " << page;
      }
    }
  }
  ASSERT_TRUE(completed) << "the update never completed";
  ExpectUserDataKept(before, after);
  EXPECT_FALSE(UpdaterKeyExists());
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume));
  // A work folder may remain only as the running copy of the updater, gone at the next restart.
  const auto pending = testing_support::PendingRenameSources();
  for (const std::string& work : WorkFolders()) {
    std::string entries;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((work + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (entry.cFileName[0] != '.') entries += std::string(entry.cFileName) + " ";
      } while (FindNextFileA(find, &entry));
      FindClose(find);
    }
    EXPECT_EQ("Updater.exe ", entries) << work;
    bool scheduled = false;
    for (const std::string& source : pending) scheduled = scheduled || lstrcmpiA(source.c_str(), work.c_str()) == 0;
    EXPECT_TRUE(scheduled) << work << " is not removed at the next restart";
  }
  CleanMachine();
}

TEST(InterruptionJourney, DISABLED_CleanUp) {
  DeleteFileA(TracePath("pause-at.txt").c_str());
  EndRunningUpdaters();
  CleanMachine();
  DeleteFileA(RecordFile().c_str());
}

}  // namespace
