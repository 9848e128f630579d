// An update interrupted at each of its steps, by a power cut or by a kill of the updater, and then
// carried on by the user starting the updater again: nothing of the user's may be lost. Each row
// is two steps around the interruption (interruption_journey.sh runs them, cutting the power in
// between with a kill -9 of the wineserver and booting with wineboot where the row says so).
#include <windows.h>
#include <prsht.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/wizard/journey_support.h"
#include "tests/wizard/wizard_driver.h"

namespace {

using namespace wizard_testing;

std::string Environment(const char* name) {
  char value[256] = "";
  GetEnvironmentVariableA(name, value, sizeof(value));
  return value;
}

std::string RecordFile() { return testing_support::TempFolder() + "\\interruption-before.txt"; }
std::string TracePath(const char* name) { return std::string("C:\\tidemark-standin\\") + name; }

std::string LogPath() { return testing_support::ProductFolder() + "\\" + product::kLogFile; }

// The log the old release begins when it starts again after its uninstaller removed the log.
const char kFreshLog[] = "Tidemark SX 2.20.5 started again\r\n";

// The restore cannot put the log back while a folder with a file in it holds the log's name.
void BlockLogName() {
  DeleteFileA(LogPath().c_str());
  CreateDirectoryA(LogPath().c_str(), nullptr);
  testing_support::WriteFileBytes(LogPath() + "\\inside.txt", "x");
}

void EndProgram(const char* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, name) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
}

// The dated logs ("Tidemark_*.log") in the product folder, by name.
std::vector<std::string> DatedLogs() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find =
      FindFirstFileA((testing_support::ProductFolder() + "\\Tidemark_*.log").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

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
// stand-in pause ("uninstall-start", "uninstall-log-removed", "setup-files", "setup-registered"),
// "install-page", or "restore-log-blocked" (the restore after setup finds the log's name blocked
// and ends on the aborted page with the log not back, everything else restored).
// INTERRUPTION_KIND is "power" (the script then cuts the power), "kill", or "killed-uninstaller"
// (the updater and its uninstaller are ended; the old release, still installed, begins a fresh
// log before the user starts the update again).
TEST(InterruptionJourney, DISABLED_InterruptAt) {
  const std::string point = Environment("INTERRUPTION_POINT");
  const std::string kind = Environment("INTERRUPTION_KIND");
  const bool kill = kind == "kill";
  const bool blockRestore = point == "restore-log-blocked";
  const std::string pause = blockRestore ? "setup-registered" : point;
  CleanMachine();
  ASSERT_TRUE(testing_support::InstallOldRelease());
  ASSERT_TRUE(testing_support::WriteFileBytes(RecordFile(), CaptureUserData().Serialize()));
  if (point != "install-page") {
    CreateDirectoryA(TracePath("").c_str(), nullptr);
    ASSERT_TRUE(testing_support::WriteFileBytes(TracePath("pause-at.txt"), pause));
  }

  WizardDriver wizard;
  ASSERT_TRUE(wizard.Start());
  ASSERT_TRUE(wizard.WaitForWizard());
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
  wizard.Settle();
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_UNINSTALL));
  wizard.Settle();
  wizard.Press(PSBTN_NEXT);
  if (point.compare(0, 9, "uninstall") != 0) {
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INSTALL, 60000));
    wizard.Settle();
    if (point != "install-page") wizard.Press(PSBTN_NEXT);
  }
  if (point != "install-page") {
    ASSERT_TRUE(WaitForPause(pause)) << "never reached " << pause;
  }
  if (blockRestore) {
    BlockLogName();
    DeleteFileA(TracePath("pause-at.txt").c_str());
    MessageBoxSeen box;
    ASSERT_TRUE(wizard.AnswerMessageBox(&box, 60000)) << "the failed restore showed nothing";
    ASSERT_TRUE(wizard.WaitForPage(PAGE_ABORTED, 30000));
    // The saved log still waits: the next logon brings the wizard back to finish the restore.
    std::string resume;
    EXPECT_TRUE(ResumeRunValue(&resume)) << "no resume entry after a failed restore";
  }
  if (kind == "killed-uninstaller") {
    EndRunningUpdaters();
    EndProgram("TidemarkStandInUninstall.exe");
    DeleteFileA(TracePath("pause-at.txt").c_str());
    ASSERT_TRUE(testing_support::WriteFileBytes(LogPath(), kFreshLog));
    return;
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
  const std::string point = Environment("INTERRUPTION_POINT");
  if (point == "restore-log-blocked") {
    std::string resume;
    ASSERT_TRUE(booted && ResumeRunValue(&resume)) << "the failed restore left no resume entry";
  }

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
      ASSERT_NE(PAGE_RESTART_GUIDANCE, page) << "no restart is due on this path";
      if (page == PAGE_COMPLETED || page == PAGE_ABORTED) {
        if (page == PAGE_COMPLETED) after = CaptureUserData();
        wizard.Press(PSBTN_FINISH);
        EXPECT_EQ(page == PAGE_COMPLETED ? 0 : 1603, wizard.WaitForExit());
        completed = page == PAGE_COMPLETED;
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
  // A fresh log begun between the runs is the one in place: it keeps the name, and the saved log
  // is back beside it under a dated name.
  const std::vector<std::string> dated = DatedLogs();
  if (Environment("INTERRUPTION_KIND") == "killed-uninstaller") {
    EXPECT_EQ(kFreshLog, after.log);
    ASSERT_EQ(1u, dated.size()) << "the saved log is not back beside the fresh one";
    std::string saved;
    EXPECT_TRUE(
        testing_support::ReadFileBytes(testing_support::ProductFolder() + "\\" + dated[0], &saved));
    EXPECT_EQ(before.log, saved);
    after.log = before.log;
    ExpectUserDataKept(before, after);
  } else {
    ExpectUserDataKept(before, after);
    EXPECT_TRUE(dated.empty()) << "a log that nobody began came back: " << dated[0];
  }
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
    for (const std::string& source : pending)
      scheduled = scheduled || lstrcmpiA(source.c_str(), work.c_str()) == 0;
    EXPECT_TRUE(scheduled) << work << " is not removed at the next restart";
  }
  CleanMachine();
}

// Between the power cut and the boot: the user clears what kept the restore from putting the log
// back.
TEST(InterruptionJourney, DISABLED_AfterPowerCut) {
  if (Environment("INTERRUPTION_POINT") != "restore-log-blocked") return;
  DeleteFileA((LogPath() + "\\inside.txt").c_str());
  EXPECT_TRUE(RemoveDirectoryA(LogPath().c_str()));
}

TEST(InterruptionJourney, DISABLED_CleanUp) {
  DeleteFileA(TracePath("pause-at.txt").c_str());
  EndRunningUpdaters();
  CleanMachine();
  DeleteFileA(RecordFile().c_str());
}

}  // namespace
