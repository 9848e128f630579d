// Whole update journeys with the stand-in releases: the wizard driven from outside, the user's
// data compared before and after.
#include <windows.h>
#include <prsht.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/work_folder.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/wizard/journey_support.h"
#include "tests/wizard/page_checks.h"
#include "tests/wizard/wizard_driver.h"

namespace {

using namespace wizard_testing;
using testing_support::InstallOldRelease;

const wchar_t kUpToDateText[] =
    L"\u73fe\u5728\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3055\u308c\u3066\u3044\u308b\u30d0\u30fc"
    L"\u30b8\u30e7\u30f3\u306e\u65b9\u304c\u65b0\u3057\u3044\u304b\u3001\u540c\u3058\u30d0\u30fc"
    L"\u30b8\u30e7\u30f3\u3067\u3059\u3002\n\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u306e\u5fc5\u8981"
    L"\u306f\u3042\u308a\u307e\u305b\u3093\u3002";
const wchar_t kCloseText[] = L"\u9589\u3058\u308b";  // 閉じる
const wchar_t kDoneText[] = L"\u5b8c\u4e86";         // 完了
// The closing pages' body texts, with the product name filled in.
const wchar_t kCompletedBody[] =
    L"Tidemark "
    L"SX\u306e\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u306f\u6b63\u5e38\u306b\u7d42\u4e86\u3057\u307e"
    L"\u3057\u305f\u3002";
const wchar_t kAbortedBody[] =
    L"Tidemark "
    L"SX\u306e\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u306f\u3001\u30ad\u30e3\u30f3\u30bb\u30eb\u307e"
    L"\u305f\u306f\u30a8\u30e9\u30fc\u306b\u3088\u308a\u4e2d\u6b62\u3055\u308c\u307e\u3057\u305f"
    L"\u3002";
constexpr int kCompletedBodyControl = 1007;
constexpr int kAbortedBodyControl = 1008;

// The page the wizard is on is a closing page: its Finish text, no Cancel, no Back, no Help.
void ExpectClosingPage(const WizardDriver& wizard, const wchar_t* finishText) {
  wizard.Settle();
  EXPECT_EQ(kWizardTitle, wizard.Title());
  EXPECT_EQ(finishText, wizard.ButtonText(kFinishButton));
  EXPECT_TRUE(wizard.Button(kFinishButton).visible);
  EXPECT_TRUE(wizard.Button(kFinishButton).enabled);
  EXPECT_FALSE(wizard.Button(kCancelButton).visible);
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
  ExpectPageFrame(wizard);
}

void ExpectCompletedPage(const WizardDriver& wizard) {
  ExpectClosingPage(wizard, kDoneText);
  EXPECT_EQ(kCompletedBody, wizard.PageText(kCompletedBodyControl));
}

void ExpectAbortedPage(const WizardDriver& wizard) {
  ExpectClosingPage(wizard, kCloseText);
  EXPECT_EQ(kAbortedBody, wizard.PageText(kAbortedBodyControl));
}

class UpdateJourneyTest : public ::testing::Test {
 protected:
  void SetUp() override { CleanMachine(); }
  void TearDown() override { CleanMachine(); }

  void StartAndWaitFor(int page) {
    ASSERT_TRUE(wizard_.Start());
    ASSERT_TRUE(wizard_.WaitForWizard());
    ASSERT_TRUE(wizard_.WaitForPage(page));
  }
  // Next on a page that is shown and settled: a press that arrives as a page appears does nothing.
  void Next(int expectedPage) {
    wizard_.Settle();
    wizard_.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard_.WaitForPage(expectedPage, 60000)) << "page now " << wizard_.CurrentPage();
  }

  WizardDriver wizard_;
};

TEST_F(UpdateJourneyTest, CurrentOrNewerReleaseIsDeclinedAndLeftoverStateDiscarded) {
  for (const char* exe : {"Tidemark-2.30.111.exe", "Tidemark-2.30.112.exe", "Tidemark-2.31.0.exe",
                          "Tidemark-3.0.exe"}) {
    SCOPED_TRACE(exe);
    CleanMachine();
    ASSERT_TRUE(InstallOldRelease(std::string("--product-exe=") + exe));
    // A value left over from an earlier run: ending the wizard cancelled discards the whole key.
    ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "UserID",
                                                "S-1-5-21-0-0-0-1000"));
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
    wizard.Settle();
    wizard.Press(PSBTN_NEXT);
    MessageBoxSeen box;
    ASSERT_TRUE(wizard.WaitForMessageBox(&box));
    // While the box is up the wizard stays on the introduction page and nothing is marked.
    int otherPage = -1;
    for (int poll = 0; poll < 5; ++poll) {
      if (wizard.CurrentPage() != PAGE_INTRODUCTION) otherPage = wizard.CurrentPage();
      Sleep(40);
    }
    EXPECT_EQ(-1, otherPage) << "the page left the introduction while the box was up";
    EXPECT_EQ(kNoMarking, UpdaterMarking()) << "Marking is never written";
    WizardDriver::DismissMessageBox(box);
    EXPECT_EQ(kUpToDateText, box.text);
    EXPECT_EQ(L"Updater", box.caption);
    EXPECT_EQ(L"information", box.icon);
    EXPECT_EQ(wizard.sheet(), box.owner);
    // Until the process has ended, no page after the introduction is shown.
    const DWORD start = GetTickCount();
    while (wizard.Running() && GetTickCount() - start < 20000) {
      const int page = wizard.CurrentPage();
      if (page != PAGE_INTRODUCTION && page != -1) otherPage = page;
      Sleep(10);
    }
    EXPECT_EQ(-1, otherPage) << "a page after the introduction was shown";
    EXPECT_EQ(1638, wizard.WaitForExit()) << "already current";
    EXPECT_FALSE(UpdaterKeyExists()) << "the cancelled wizard discards the updater key";
  }
}

TEST_F(UpdateJourneyTest, FailedBackupLeavesTheWizardReadyOnTheUninstallPage) {
  ASSERT_TRUE(InstallOldRelease());
  // The log file is held open without read sharing: copying it into the backup fails.
  const std::string log = testing_support::ProductFolder() + "\\" + product::kLogFile;
  HANDLE held = CreateFileA(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  StartAndWaitFor(PAGE_INTRODUCTION);
  Next(PAGE_UNINSTALL);
  wizard_.Press(PSBTN_NEXT);
  MessageBoxSeen box;
  const bool boxShown = wizard_.AnswerMessageBox(&box);
  CloseHandle(held);
  ASSERT_TRUE(boxShown) << "the failed copy is reported";
  wchar_t* system = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, ERROR_SHARING_VIOLATION, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&system), 0, nullptr);
  ASSERT_NE(nullptr, system);
  const std::wstring sharingViolation = system;
  LocalFree(system);
  EXPECT_EQ(sharingViolation, box.text);
  EXPECT_EQ(L"Updater", box.caption);
  EXPECT_EQ(L"warning", box.icon);
  EXPECT_EQ(wizard_.sheet(), box.owner);

  // Back where it was before Next: visible, Next and Cancel enabled.
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_UNINSTALL));
  wizard_.Settle();
  EXPECT_TRUE(wizard_.SheetVisible());
  EXPECT_TRUE(wizard_.Button(kNextButton).enabled);
  EXPECT_TRUE(wizard_.Button(kCancelButton).visible);
  EXPECT_TRUE(wizard_.Button(kCancelButton).enabled);
  EXPECT_FALSE(wizard_.Button(kBackButton).enabled);
  ExpectPageFrame(wizard_);
  // Nothing was uninstalled and nothing registered to resume.
  EXPECT_TRUE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, product::kUninstallKey));
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume)) << "no resume registration after a failed start";
  EXPECT_TRUE(UpdaterString("Launcher").empty()) << "no launcher written";
  EXPECT_TRUE(UpdaterString("BackupFolder").empty()) << "no backup recorded";
  // Not busy: the close box is accepted.
  wizard_.Close();
  EXPECT_EQ(1602, wizard_.WaitForExit()) << "cancelled";
  EXPECT_TRUE(WorkFolders().empty()) << "nothing of the update is left";
  EXPECT_TRUE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, product::kUninstallKey))
      << "the product is still registered: the uninstaller never ran";
  EXPECT_TRUE(testing_support::PathExists(log));
  EXPECT_FALSE(ResumeRunValue(&resume));
  EXPECT_FALSE(UpdaterKeyExists());
}

// The message that asks the user to quit the product before the data is saved or put back.
const wchar_t kCloseProductText[] =
    L"Tidemark SX\u304c\u8d77\u52d5\u3057\u3066\u3044\u307e\u3059\u3002\nTidemark SX\u3092"
    L"\u7d42\u4e86\u3057\u3066\u304b\u3089\u3001[\u518d\u8a66\u884c]\u3092\u30af\u30ea"
    L"\u30c3\u30af\u3057\u3066\u304f\u3060\u3055\u3044\u3002";

// The box that asks for the product to be closed is up: the user closes the product, then presses
// Retry.
void CloseProductAndRetry(const WizardDriver& wizard) {
  MessageBoxSeen box;
  ASSERT_TRUE(wizard.WaitForMessageBox(&box, 60000)) << "no request to close the product";
  EXPECT_EQ(kCloseProductText, box.text);
  EXPECT_EQ(L"warning", box.icon);
  EXPECT_EQ(wizard.sheet(), box.owner);
  ASSERT_TRUE(CloseRunningProduct());
  WizardDriver::PressMessageBoxButton(box, IDRETRY);
}

// The old release as Windows Installer installs it, with the user's data beside it.
::testing::AssertionResult InstallOldReleaseByWindowsInstaller() {
  const std::string msiexec = "\"" + testing_support::WindowsFolder() + "\\system32\\msiexec.exe\"";
  testing_support::RunIn(msiexec + " /x " + product::kProductGuid + " /qn", "");  // a leftover
  const std::string package = testing_support::ExecutableFolder() + "\\TidemarkOld.msi";
  if (!testing_support::PathExists(package)) return ::testing::AssertionFailure() << package;
  const int code = testing_support::RunIn(msiexec + " /i \"" + package + "\" /qn", "");
  if (code != 0) return ::testing::AssertionFailure() << "msiexec /i: " << code;
  return InstallOldRelease("--no-exe --no-maintenance --no-registration");
}

// Real uninstallers and setups hand their work on to other processes, and the product may run
// while the update starts: every row ends with the user's data as it was.
TEST_F(UpdateJourneyTest, UpdateWithoutRestartKeepsEverythingOfTheUser) {
  struct Row {
    const char* name;
    const char* oldRelease;  // options of the old release's set-up; nullptr: Windows Installer
    const char* setupMode;
    bool productRunning;  // the product runs when the update starts
  } const rows[] = {
      {"stand-ins that do their work themselves", "", "", false},
      {"uninstaller that hands over to a copy of itself", "--uninstall-mode=self-copy", "", false},
      {"setup that hands over to a child", "", "hand-over", false},
      {"setup that starts the product", "", "start-product", false},
      {"old release installed by Windows Installer", nullptr, "", false},
      {"product running when the update starts", "", "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CleanMachine();
    ASSERT_TRUE(row.oldRelease ? InstallOldRelease(row.oldRelease)
                               : InstallOldReleaseByWindowsInstaller());
    if (row.productRunning) {
      const std::string product = testing_support::ProductFolder();
      ASSERT_TRUE(standin::StartDetached("\"" + product + "\\Tidemark.exe\" /stay", product));
      for (int wait = 0; wait < 100 && !FindWindowA(standin::kProductWindowClass, nullptr);
           ++wait) {
        Sleep(50);
      }
    }
    UserData before = CaptureUserData();
    SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", row.setupMode);
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
    wizard.Settle();
    wizard.Press(PSBTN_NEXT);
    DWORD markingAtFirstSight = kNoMarking;
    ASSERT_TRUE(
        wizard.WaitForPage(PAGE_UNINSTALL, 20000, [&] { markingAtFirstSight = UpdaterMarking(); }));
    EXPECT_EQ(1u, markingAtFirstSight) << "Marking is written before the uninstall page is shown";
    wizard.Settle();
    ExpectPageFrame(wizard);
    wizard.Press(PSBTN_NEXT);
    if (row.productRunning) {
      CloseProductAndRetry(wizard);
      before = CaptureUserData();  // with the line the product wrote when it was closed
    }
    const int startsBefore = ProductStartCount();
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INSTALL, 60000))
        << "page now " << wizard.CurrentPage() << RunLogOf(wizard.pid());
    wizard.Settle();
    ExpectPageFrame(wizard);
    std::string resume;
    EXPECT_FALSE(ResumeRunValue(&resume)) << "the install page removes the resume registration";
    const std::string work = UpdaterString("WorkFolder");
    ASSERT_FALSE(work.empty());
    EXPECT_FALSE(testing_support::PathExists(work + "\\" + product::kLauncherFileName));
    EXPECT_EQ(work + "\\backup", UpdaterString("BackupFolder"));
    wizard.Press(PSBTN_NEXT);
    // What setup started from the product folder runs with setup's (the updater's) rights on the
    // user's desktop: the updater ends it without asking once setup has ended, and starts the
    // product again as the user once the user's data is back.
    const bool setupStartsProduct = std::string(row.setupMode) == "start-product";
    ASSERT_TRUE(wizard.WaitForPage(PAGE_COMPLETED, 60000))
        << "page now " << wizard.CurrentPage() << RunLogOf(wizard.pid());
    ExpectCompletedPage(wizard);
    if (setupStartsProduct) {
      EXPECT_NE(std::string::npos,
                RunLogOf(wizard.pid()).find("runs with the updater's rights: ended"))
          << RunLogOf(wizard.pid());
    }

    DWORD type = 0;
    std::string marking;
    EXPECT_FALSE(testing_support::GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking",
                                              &type, &marking))
        << "Marking is removed before the completed page";
    ExpectUserDataKept(before, CaptureUserData());
    if (row.productRunning) {
      const std::string closing = standin::kClosingLogLine;
      EXPECT_EQ(closing, before.log.substr(before.log.size() - closing.size()))
          << "the restored log ends with the line the product wrote when it was closed";
    }
    // Setup's own start of the product may or may not be recorded before the updater ends it;
    // the user's start comes after it either way, once.
    const int starts = startsBefore + 1;
    EXPECT_TRUE(WaitForProductStarts(starts)) << "the product is started";
    for (int wait = 0; wait < 200 && LastProductStart() != before.runValue.c_str(); ++wait) {
      Sleep(50);
    }
    Sleep(500);
    const int counted = ProductStartCount();
    if (setupStartsProduct) {
      EXPECT_TRUE(counted == starts || counted == starts + 1) << counted << " starts";
    } else {
      EXPECT_EQ(starts, counted) << "the product is started once";
    }
    EXPECT_EQ(std::string(before.runValue.c_str()), LastProductStart())
        << "the product is started with the user's autorun command line";

    wizard.Press(PSBTN_FINISH);
    EXPECT_EQ(0, wizard.WaitForExit());
    EXPECT_FALSE(UpdaterKeyExists());
    EXPECT_FALSE(ResumeRunValue(&resume));
    EXPECT_FALSE(testing_support::PathExists(work)) << "the work folder goes at the end";
  }
}

// Count of the lines of a run log that hold `text`.
int CountOf(const std::string& log, const std::string& text) {
  int count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

TEST_F(UpdateJourneyTest, FreshInstallationEndsCompletedAndLeavesNothingBehind) {
  const struct {
    const char* name;
    const char* setupMode;
    bool closeBox;  // the completed page is closed with the close box instead of Finish
  } rows[] = {
      {"Finish", "", false},
      {"close box", "", true},
      // Nothing of the user's goes back, so nothing asks for the product to be closed.
      {"setup that starts the product", "start-product", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CleanMachine();
    SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", row.setupMode);
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
    wizard.Settle();
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INSTALL));
    wizard.Settle();
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForPage(PAGE_COMPLETED, 60000)) << "page now " << wizard.CurrentPage();
    ExpectCompletedPage(wizard);
    EXPECT_TRUE(testing_support::PathExists(testing_support::ProductFolder() + "\\Tidemark.exe"));
    const std::string work = UpdaterString("WorkFolder");
    ASSERT_FALSE(work.empty());
    EXPECT_FALSE(testing_support::PathExists(work + "\\setup"))
        << "the unpacked setup is deleted when it has ended";
    if (row.closeBox) {
      wizard.Close();
    } else {
      wizard.Press(PSBTN_FINISH);
    }
    EXPECT_EQ(0, wizard.WaitForExit());
    EXPECT_FALSE(UpdaterKeyExists());
    EXPECT_TRUE(WorkFolders().empty()) << "nothing of the update is left";
    EXPECT_EQ(1, CountOf(RunLogOf(wizard.pid()), "clean-up: work folder and updater key removed"))
        << "the state is discarded once";
  }
}

// Presses as automation, remote-desktop lag and impatient users deliver them: each acts once, and
// only on the page it was meant for. Idle pages get the row's presses after a second in view;
// closing pages get them and then Finish. Every row ends as its plain journey does.
TEST_F(UpdateJourneyTest, EachPressActsOnceAndOnlyOnThePageItWasMeantFor) {
  enum Presses { kTwoPostedBackToBack, kPostedAsThePageAppears, kEnterTypedTwiceOnIntroduction };
  const struct {
    const char* name;
    const char* oldRelease;  // options of the old release's set-up; nullptr: Windows Installer
    Presses presses;
    std::vector<int> pages;  // every page shown, in order
    int exitCode;
  } rows[] = {
      // Windows Installer allows one removal at a time: a second one fails at once.
      {"two Nexts back to back on every page",
       nullptr,
       kTwoPostedBackToBack,
       {PAGE_INTRODUCTION, PAGE_UNINSTALL, PAGE_INSTALL, PAGE_COMPLETED},
       0},
      {"Next the moment each page appears",
       "",
       kPostedAsThePageAppears,
       {PAGE_INTRODUCTION, PAGE_UNINSTALL, PAGE_INSTALL, PAGE_COMPLETED},
       0},
      {"Next the moment the restart page appears",
       "--uninstall-mode=restart",
       kPostedAsThePageAppears,
       {PAGE_INTRODUCTION, PAGE_UNINSTALL, PAGE_RESTART_GUIDANCE},
       3010},
      {"Enter typed twice on the introduction page",
       "",
       kEnterTypedTwiceOnIntroduction,
       {PAGE_INTRODUCTION, PAGE_UNINSTALL, PAGE_INSTALL, PAGE_COMPLETED},
       0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CleanMachine();
    ASSERT_TRUE(row.oldRelease ? InstallOldRelease(row.oldRelease)
                               : InstallOldReleaseByWindowsInstaller());
    const UserData before = CaptureUserData();
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    ASSERT_TRUE(wizard.WaitForWizard());
    std::vector<int> shown, pressedOn;  // pages shown; pages the row's presses were made on
    DWORD lastPress = 0;
    for (const DWORD start = GetTickCount(); wizard.Running();) {
      ASSERT_LT(GetTickCount() - start, 180000u) << "no end on page " << wizard.CurrentPage();
      MessageBoxSeen box;
      if (wizard.WaitForMessageBox(&box, 0)) {
        ADD_FAILURE() << "message box: " << testing::PrintToString(box.text);
        WizardDriver::DismissMessageBox(box);
        continue;
      }
      const int page = wizard.CurrentPage();
      if (page == -1) continue;
      if (shown.empty() || shown.back() != page) {
        shown.push_back(page);
        lastPress = GetTickCount();
        if (row.presses == kPostedAsThePageAppears) wizard.Press(PSBTN_NEXT);
        continue;
      }
      // A page in view for a second since the last press, waiting for the next one (not at work
      // with its buttons off): what the presses meant has been carried out.
      if (!wizard.SheetVisible() || GetTickCount() - lastPress < 1000) {
        Sleep(20);
        continue;
      }
      wizard.Settle();
      if (wizard.CurrentPage() != page || !wizard.SheetVisible() ||
          !wizard.Button(page >= PAGE_RESTART_GUIDANCE ? kFinishButton : kNextButton).enabled) {
        continue;
      }
      if (page >= PAGE_RESTART_GUIDANCE) {
        // A closing page refuses Next: the row's presses change nothing, Finish ends it.
        if (row.presses == kTwoPostedBackToBack) {
          wizard.Press(PSBTN_NEXT);
          wizard.Press(PSBTN_NEXT);
          Sleep(500);
          wizard.Settle();
        }
        EXPECT_EQ(page, wizard.CurrentPage());
        wizard.Press(PSBTN_FINISH);
        break;
      }
      if (row.presses == kEnterTypedTwiceOnIntroduction && page == PAGE_INTRODUCTION) {
        wizard.TypeKey(VK_RETURN, 2);
      } else {
        // Also where a press that came as the page appeared was refused: it is pressed again.
        wizard.Press(PSBTN_NEXT);
        if (row.presses == kTwoPostedBackToBack) wizard.Press(PSBTN_NEXT);
      }
      pressedOn.push_back(page);
      lastPress = GetTickCount();
    }
    EXPECT_EQ(row.exitCode, wizard.WaitForExit(60000));
    EXPECT_EQ(row.pages, shown);
    if (row.presses != kPostedAsThePageAppears) {
      // Each page before the last waited, in view, for a press of its own.
      EXPECT_EQ(std::vector<int>(row.pages.begin(), row.pages.end() - 1), pressedOn);
    }
    const std::string log = RunLogOf(wizard.pid());
    EXPECT_EQ(static_cast<int>(row.pages.size()) - 2, CountOf(log, "  starting: "))
        << "one uninstaller and one setup\n"
        << log;
    if (row.exitCode == 0) {
      ExpectUserDataKept(before, CaptureUserData());
      EXPECT_FALSE(UpdaterKeyExists());
    } else {
      EXPECT_EQ(1u, UpdaterMarking()) << "kept for the run after the restart";
    }
  }
}

TEST_F(UpdateJourneyTest, CancelledUninstallerEndsOnTheAbortedPageWithNothingTouched) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=cancel"));
  const UserData before = CaptureUserData();
  StartAndWaitFor(PAGE_INTRODUCTION);
  Next(PAGE_UNINSTALL);
  Next(PAGE_ABORTED);
  ExpectAbortedPage(wizard_);
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(1603, wizard_.WaitForExit()) << "failed";
  EXPECT_FALSE(UpdaterKeyExists());
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume));
  EXPECT_TRUE(WorkFolders().empty()) << "nothing of the update is left";
  const UserData after = CaptureUserData();
  EXPECT_EQ(before.log, after.log);
  EXPECT_EQ(before.settings, after.settings);
  EXPECT_EQ(before.runValue, after.runValue);
}

TEST_F(UpdateJourneyTest, UninstallerThatCannotStartEndsOnTheAbortedPageAndTheLogSaysWhy) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-string=C:\\no-such-folder\\uninstall.exe"));
  StartAndWaitFor(PAGE_INTRODUCTION);
  Next(PAGE_UNINSTALL);
  Next(PAGE_ABORTED);
  ExpectAbortedPage(wizard_);
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(1603, wizard_.WaitForExit());

  // The run's log, in the Windows folder's Temp, holds every step in order, the failure with its
  // code and the exit code.
  const std::string log = RunLogOf(wizard_.pid());
  ASSERT_EQ(0u, log.find("\xEF\xBB\xBF")) << "UTF-8 with a byte-order mark";
  size_t at = 0;
  for (const std::string& step :
       {std::string(" started: Windows "),
        std::string("stage: uninstall pending; start page: introduction"),
        std::string("page shown: introduction"), std::string("page shown: uninstall"),
        std::string("backup: ") + testing_support::ProductFolder() + "\\Tidemark.log -> ",
        std::string("capture: settings of hive S-1-5-21-"),
        std::string("starting: C:\\no-such-folder\\uninstall.exe"),
        // The system's code for the missing program (2 or 3) with its text.
        std::string("the program could not be started: error "), std::string(" (0x0000000"),
        std::string("uninstall outcome: still installed"), std::string("page shown: aborted"),
        std::string("ended with exit code 1603")}) {
    const size_t found = log.find(step, at);
    ASSERT_NE(std::string::npos, found) << "missing after position " << at << ": " << step << "\n"
                                        << log;
    at = found;
  }
}

TEST_F(UpdateJourneyTest, CloseBoxIsRefusedWhileTheUninstallerRuns) {
  const std::string sleeper = testing_support::ExecutableFolder() + "\\wizard_sleeper.exe 4000";
  ASSERT_TRUE(InstallOldRelease("\"--uninstall-string=" + sleeper + "\""));
  StartAndWaitFor(PAGE_INTRODUCTION);
  Next(PAGE_UNINSTALL);
  wizard_.Press(PSBTN_NEXT);
  Sleep(1000);
  wizard_.Settle();  // the page has returned from Next and its posted button change is in
  EXPECT_FALSE(wizard_.SheetVisible()) << "hidden while the external program runs";
  EXPECT_FALSE(wizard_.Button(kNextButton).enabled);
  EXPECT_FALSE(wizard_.Button(kCancelButton).enabled);
  wizard_.Close();
  Sleep(500);
  EXPECT_TRUE(wizard_.Running()) << "the close box is refused while busy";
  // The sleeper leaves the product registered: the update failed.
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_ABORTED, 30000));
  ExpectAbortedPage(wizard_);
  wizard_.Close();  // not busy any more: accepted, and the state is discarded once
  EXPECT_EQ(1603, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
}

TEST_F(UpdateJourneyTest, FailedSetupAfterUninstallKeepsTheBackupForTheNextRun) {
  ASSERT_TRUE(InstallOldRelease());
  const UserData before = CaptureUserData();
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", "fail");
  StartAndWaitFor(PAGE_INTRODUCTION);
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
  Next(PAGE_UNINSTALL);
  Next(PAGE_INSTALL);
  Next(PAGE_ABORTED);
  ExpectAbortedPage(wizard_);
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(1603, wizard_.WaitForExit());
  // The old release is gone and the new one is not in: the user's data must survive.
  ASSERT_TRUE(UpdaterKeyExists());
  const std::string backup = UpdaterString("BackupFolder");
  ASSERT_FALSE(backup.empty());
  EXPECT_TRUE(testing_support::PathExists(backup + "\\" + product::kLogFile));
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume));

  // The next start resumes on the install page and brings everything back.
  WizardDriver again;
  ASSERT_TRUE(again.Start());
  ASSERT_TRUE(again.WaitForWizard());
  ASSERT_TRUE(again.WaitForPage(PAGE_INSTALL));
  again.Settle();
  again.Press(PSBTN_NEXT);
  ASSERT_TRUE(again.WaitForPage(PAGE_COMPLETED, 60000));
  ExpectCompletedPage(again);
  ExpectUserDataKept(before, CaptureUserData());
  again.Press(PSBTN_FINISH);
  EXPECT_EQ(0, again.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
  EXPECT_FALSE(testing_support::PathExists(backup));
  EXPECT_TRUE(WorkFolders().empty());
}

TEST_F(UpdateJourneyTest, CancelledSetupOnAFreshMachineDiscardsEverything) {
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", "cancel");
  StartAndWaitFor(PAGE_INTRODUCTION);
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
  Next(PAGE_INSTALL);
  Next(PAGE_ABORTED);
  ExpectAbortedPage(wizard_);
  const std::string work = UpdaterString("WorkFolder");
  ASSERT_FALSE(work.empty());
  EXPECT_FALSE(testing_support::PathExists(work + "\\setup"));
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(1603, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists()) << "no backup was ever made: nothing to keep";
  EXPECT_TRUE(WorkFolders().empty());
}

// The whole content of a file named by a wide path ("" when it cannot be read).
std::string WideFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

std::wstring Wide(const std::string& text) {
  wchar_t wide[1024];
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 1024);
  return wide;
}

TEST_F(UpdateJourneyTest, RestartGuidanceKeepsTheStateWhateverEndsTheWizard) {
  const std::wstring genuine = ProgramFolder() + L"\\Updater.exe";
  const std::string genuineBytes = WideFileBytes(genuine);
  ASSERT_FALSE(genuineBytes.empty());
  const std::wstring elsewhere = L"C:\\started elsewhere";
  const struct {
    const char* name;
    bool useFinish;
    const wchar_t* startedAs;  // the updater's file name in `elsewhere`; none: the build's own
    const wchar_t* copyName;   // the copy the resume entry starts
  } kRows[] = {
      {"Finish", true, nullptr, L"Updater.exe"},
      {"close box", false, nullptr, L"Updater.exe"},
      // In code page 932 the ANSI form of its path names "a\Updater.exe", where another program
      // lies: only the running file may be copied.
      {"started as a\u00a5Updater.exe", true, L"a\u00a5Updater.exe", L"a\u00a5Updater.exe"},
      // The launcher's name: the copy may not take the launcher's place.
      {"started as TmkUpLauncher.exe", true, L"TmkUpLauncher.exe", L"Updater.exe"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    CleanMachine();
    testing_support::RemoveTree("C:\\started elsewhere");
    std::wstring started = genuine;
    if (row.startedAs != nullptr) {
      ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
      ASSERT_TRUE(CreateDirectoryW((elsewhere + L"\\a").c_str(), nullptr));
      ASSERT_TRUE(
          testing_support::WriteFileBytes("C:\\started elsewhere\\a\\Updater.exe", "planted"));
      started = elsewhere + L"\\" + row.startedAs;
      ASSERT_TRUE(CopyFileW(genuine.c_str(), started.c_str(), TRUE));
    }
    ASSERT_TRUE(InstallOldRelease("--uninstall-mode=restart"));
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start(started));
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
    wizard.Settle();
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForPage(PAGE_UNINSTALL));
    wizard.Settle();
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForPage(PAGE_RESTART_GUIDANCE, 60000));
    ExpectClosingPage(wizard, kCloseText);
    if (row.useFinish) {
      wizard.Press(PSBTN_FINISH);
    } else {
      wizard.Close();
    }
    EXPECT_EQ(3010, wizard.WaitForExit()) << "restart needed";
    ASSERT_TRUE(UpdaterKeyExists());
    EXPECT_EQ(1u, UpdaterMarking()) << "Marking stays a REG_DWORD 1 for the run after the restart";
    EXPECT_FALSE(UpdaterString("BackupFolder").empty());
    EXPECT_TRUE(testing_support::PathExists(UpdaterString("BackupFolder")));
    // The resume entry starts the launcher and a copy of the updater, both in the work folder:
    // the genuine updater, and the launcher still the launcher.
    const std::string work = UpdaterString("WorkFolder");
    const std::string launcher = UpdaterString("Launcher");
    EXPECT_EQ(work + "\\" + product::kLauncherFileName, launcher);
    const std::string launcherBytes = WideFileBytes(Wide(launcher));
    EXPECT_FALSE(launcherBytes.empty());
    EXPECT_TRUE(genuineBytes != launcherBytes) << "the launcher was overwritten with the updater";
    const std::wstring copy = Wide(work) + L"\\" + row.copyName;
    EXPECT_TRUE(genuineBytes == WideFileBytes(copy)) << "the copy is not the genuine updater";
    wchar_t resume[1024] = L"";
    DWORD size = sizeof(resume) - sizeof(wchar_t);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, Wide(product::kRunKey).c_str(),
                                          Wide(product::kResumeRunValue).c_str(), RRF_RT_REG_SZ,
                                          nullptr, resume, &size));
    EXPECT_TRUE(L"\"" + Wide(launcher) + L"\" \"" + copy + L"\"" == resume);
    // Names without an ANSI form go by their wide names before the (ANSI) clean-up.
    DeleteFileW(copy.c_str());
    if (started != genuine) DeleteFileW(started.c_str());
    CleanMachine();
    testing_support::RemoveTree("C:\\started elsewhere");
  }
}

// The current user's hive name under HKEY_USERS.
std::string OwnHiveName() {
  HANDLE token = nullptr;
  std::string name;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return name;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } owner;
  DWORD size = 0;
  char* text = nullptr;
  if (GetTokenInformation(token, TokenUser, &owner, sizeof(owner), &size) &&
      ConvertSidToStringSidA(owner.user.User.Sid, &text)) {
    name = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return name;
}

// Every value the updater reads, all in one odd shape at once, on a machine with or without the
// old release; the wizard is driven to its end as a user would. Whatever the key says, nothing
// outside the updater's own folders is deleted, changed or copied into the product folder, every
// message box is the updater's with a text, and an installation that succeeded completes.
TEST_F(UpdateJourneyTest, DamagedUpdaterKeyNeverReachesBeyondTheUpdatersOwnFolders) {
  char current[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryA(sizeof(current), current));  // the updater's working folder
  const std::string sys = "C:\\sentinel-sys";
  const std::string dbcs = "C:\\sentinel-\x95\x5C";  // 表: its second byte is a backslash
  const std::string rel = "sentinel-rel";
  const testing_support::ScopedTempFolder userTemp("key-sentinel");
  const std::string winTemp = testing_support::WindowsFolder() + "\\Temp";
  const std::string hive = OwnHiveName();
  ASSERT_FALSE(hive.empty());
  // Places a damaged value names, each holding files under names the updater uses itself.
  const std::vector<std::string> places = {sys, dbcs, std::string(current) + "\\" + rel,
                                           userTemp.path()};
  const char* const kPlanted[] = {"Tidemark.log", "version.dll", product::kLauncherFileName,
                                  "backup\\Tidemark.log", "setup\\Setup.exe"};
  const std::string winTempSentinel = winTemp + "\\key-sentinel.txt";

  constexpr DWORD kAbsent = 0xFFFFFFFF;
  const auto sz = [](const std::string& text) { return text + '\0'; };
  const auto longer = [](std::string text, size_t buffer) {  // with its NUL one byte too many
    text.resize(buffer, 'a');
    return text + '\0';
  };
  const std::string dwordOne("\1\0\0\0", 4), shortOne("\1\0", 2), longOne("\1\0\0\0\0\0\0\0", 8);
  const std::string appData = testing_support::CommonAppDataFolder();
  const std::string work = appData + "\\" + product::kWorkFolderParent + "\\" +
                           product::kWorkFolderPrefix + "0123456789abcdef";
  struct Shape {
    const char* name;
    bool installOld;
    int startPage;
    int exitCode;  // 1602: cancelled on the uninstall page; otherwise driven to the end
    DWORD stringType, dwordType;
    std::string backup, user, command, launcher, workFolder, marking, autoRunType;
    std::string snapshot;  // a subkey holding one value; none when empty
  };
  const Shape shapes[] = {
      {"missing", true, PAGE_INTRODUCTION, 1602, kAbsent, kAbsent, "", "", "", "", "", "", "", ""},
      {"empty", false, PAGE_INTRODUCTION, 0, REG_SZ, REG_DWORD, sz(""), sz(""), sz(""), sz(""),
       sz(""), "", "", hive},
      {"wrong type", false, PAGE_INSTALL, 0, REG_DWORD, REG_SZ, dwordOne, dwordOne, dwordOne,
       dwordOne, dwordOne, sz("1"), sz("2"), ""},
      {"no terminating NUL", false, PAGE_INSTALL, 0, REG_SZ, REG_BINARY, userTemp.path(), hive,
       sys + "\\missing.exe", sys + "\\" + product::kLauncherFileName, work, shortOne,
       std::string("\2\0", 2), ""},
      {"longer than its buffer", false, PAGE_INTRODUCTION, 0, REG_SZ, REG_BINARY,
       longer(sys + "\\", 520), longer(hive, 256), longer(sys + "\\missing.exe ", 512),
       longer(sys + "\\", 520), longer(work, 520), longOne, longOne, ""},
      {"system folder", true, PAGE_INTRODUCTION, 1602, REG_SZ, REG_SZ, sz(sys), sz(sys), sz(sys),
       sz(userTemp.path() + "\\" + product::kLauncherFileName), sz(appData), sz(sys), sz(sys), ""},
      {"relative path", true, PAGE_INTRODUCTION, 0, REG_SZ, REG_SZ, sz(rel), sz("..\\" + hive),
       sz(rel + "\\missing.exe"), sz(rel + "\\" + product::kLauncherFileName), sz(rel), sz(rel),
       sz(rel), ""},
      {"double-byte with 0x5C trail bytes", false, PAGE_INSTALL, 0, REG_SZ, REG_SZ, sz(dbcs),
       sz("\x95\x5C"), sz(dbcs + "\\\x95\x5C.exe"), sz(dbcs + "\\" + product::kLauncherFileName),
       sz(appData + "\\" + product::kWorkFolderPrefix + "\x95\x5C"), sz("\x95\x5C"), sz("\x95\x5C"),
       "\x95\x5C"},
  };
  const auto removePlaces = [&] {
    for (const std::string& place : places) testing_support::RemoveTree(place);
    DeleteFileA(winTempSentinel.c_str());
  };

  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    CleanMachine();
    removePlaces();
    for (const std::string& place : places) {
      for (const char* sub : {"", "\\backup", "\\setup"}) {
        CreateDirectoryA((place + sub).c_str(), nullptr);
      }
      for (const char* name : kPlanted) {
        const std::string path = place + "\\" + name;
        ASSERT_TRUE(testing_support::WriteFileBytes(path, "sentinel " + path));
      }
    }
    ASSERT_TRUE(testing_support::WriteFileBytes(winTempSentinel, "sentinel"));
    if (shape.installOld) {
      ASSERT_TRUE(InstallOldRelease());
    }

    ASSERT_TRUE(testing_support::CreateKey(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
    const auto set = [&](const char* name, DWORD type, const std::string& data) {
      if (type == kAbsent) return;
      EXPECT_TRUE(testing_support::SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, name, type,
                                               data.data(), static_cast<DWORD>(data.size())))
          << name;
    };
    set(updater_value::kMarking, shape.dwordType, shape.marking);
    set(updater_value::kAutoRunType, shape.dwordType, shape.autoRunType);
    set(updater_value::kBackupFolder, shape.stringType, shape.backup);
    set(updater_value::kUserId, shape.stringType, shape.user);
    set(updater_value::kAutoRunCommandLine, shape.stringType, shape.command);
    set(updater_value::kLauncher, shape.stringType, shape.launcher);
    set(updater_value::kWorkFolder, shape.stringType, shape.workFolder);
    if (!shape.snapshot.empty()) {
      const std::string snapshot = std::string(product::kUpdaterKey) + "\\" + shape.snapshot;
      ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, snapshot, "Odd", sys));
    }

    // Next on every page (Cancel on the uninstall page where the row says so), Finish on the
    // closing page; every message box is answered.
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(shape.startPage)) << "page " << wizard.CurrentPage();
    int pressedOn = -1;
    for (const DWORD start = GetTickCount(); wizard.Running();) {
      ASSERT_LT(GetTickCount() - start, 120000u) << "no end on page " << wizard.CurrentPage();
      MessageBoxSeen box;
      if (wizard.WaitForMessageBox(&box, 50)) {
        WizardDriver::DismissMessageBox(box);
        EXPECT_EQ(L"Updater", box.caption);
        EXPECT_FALSE(box.text.empty());
        continue;
      }
      const int page = wizard.CurrentPage();
      wizard.Settle();
      if (page == pressedOn || !wizard.SheetVisible()) continue;
      if (page >= PAGE_RESTART_GUIDANCE) {
        wizard.Press(PSBTN_FINISH);
      } else if (page == PAGE_UNINSTALL && shape.exitCode == 1602) {
        wizard.Press(PSBTN_CANCEL);
      } else if (wizard.Button(kNextButton).enabled) {
        wizard.Press(PSBTN_NEXT);
      } else {
        continue;
      }
      pressedOn = page;
    }
    EXPECT_EQ(shape.exitCode, wizard.WaitForExit()) << RunLogOf(wizard.pid());

    for (const std::string& place : places) {
      for (const char* name : kPlanted) {
        const std::string path = place + "\\" + name;
        std::string bytes;
        EXPECT_TRUE(testing_support::ReadFileBytes(path, &bytes) && bytes == "sentinel " + path)
            << path;
      }
    }
    EXPECT_TRUE(testing_support::PathExists(winTempSentinel));
    for (const char* name : kPlanted) {
      std::string bytes;
      testing_support::ReadFileBytes(testing_support::ProductFolder() + "\\" + name, &bytes);
      EXPECT_EQ(std::string::npos, bytes.find("sentinel")) << name << " copied into the product";
    }
    // A work folder left behind is the one the updater made for the saved state it keeps.
    for (const std::string& left : WorkFolders()) {
      EXPECT_EQ(UpdaterString(updater_value::kWorkFolder), left);
    }
  }
  removePlaces();
}

TEST_F(UpdateJourneyTest, AProductFolderWaitingForARestartGetsNothingBeforeIt) {
  // The old release was removed by hand; one of its files is still scheduled for removal at the
  // restart. Installing now would lose the new file of that name then: the wizard asks for the
  // restart first and is registered to go on after it.
  const std::string folder = testing_support::ProductFolder();
  ASSERT_TRUE(standin::CreateFolders(folder));
  ASSERT_TRUE(testing_support::WriteFileBytes(folder + "\\TidemarkShell.dll", "in use"));
  ASSERT_TRUE(
      MoveFileExA((folder + "\\TidemarkShell.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  StartAndWaitFor(PAGE_INTRODUCTION);
  Next(PAGE_RESTART_GUIDANCE);
  ExpectClosingPage(wizard_, kCloseText);
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(3010, wizard_.WaitForExit());
  EXPECT_TRUE(testing_support::ReadTraceLines("setup.log").empty())
      << "setup ran before the restart";
  EXPECT_EQ(1u, UpdaterMarking());
  std::string resume;
  EXPECT_TRUE(ResumeRunValue(&resume)) << "the update goes on by itself after the restart";
}

}  // namespace

namespace {

// Starts the stand-in product from the product folder; it runs until it is closed.
bool StartProductThatStays() {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + testing_support::ProductFolder() + "\\Tidemark.exe\" /stay";
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      testing_support::ProductFolder().c_str(), &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  WaitForInputIdle(process.hProcess, 10000);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

// Run 1's uninstaller fails while the product runs: the aborted page keeps the saved state. The
// user then works with the old release for a week: a setting, the Run value and the log change.
// Run 2 either completes or is cancelled on the introduction page; either way the week's versions
// are in place, and run 1's are kept beside them.
TEST_F(UpdateJourneyTest, ALaterRunKeepsWhatTheUserChangedAfterAFailedAttempt) {
  const std::string settings = product::kSettingsKey;
  const std::string runKey = product::kRunKey;
  for (const bool complete : {true, false}) {
    SCOPED_TRACE(complete ? "run 2 completes" : "run 2 is cancelled on the introduction page");
    CleanMachine();
    ASSERT_TRUE(InstallOldRelease("--uninstall-mode=cancel"));
    const UserData first = CaptureUserData();
    {
      WizardDriver run1;
      ASSERT_TRUE(run1.Start());
      ASSERT_TRUE(run1.WaitForWizard());
      ASSERT_TRUE(run1.WaitForPage(PAGE_INTRODUCTION));
      run1.Settle();
      run1.Press(PSBTN_NEXT);
      ASSERT_TRUE(run1.WaitForPage(PAGE_UNINSTALL));
      run1.Settle();
      run1.Press(PSBTN_NEXT);
      ASSERT_TRUE(run1.WaitForPage(PAGE_ABORTED, 60000));
      ASSERT_TRUE(StartProductThatStays());
      run1.Press(PSBTN_FINISH);
      EXPECT_EQ(1603, run1.WaitForExit());
    }
    ASSERT_TRUE(UpdaterKeyExists()) << "the saved state stays while the product runs";
    ASSERT_TRUE(CloseRunningProduct());
    // A week of work with the old release.
    const DWORD interval = 600;
    ASSERT_TRUE(testing_support::SetRawValue(HKEY_CURRENT_USER, settings, "Interval", REG_DWORD,
                                             &interval, sizeof(interval)));
    const std::string weekRun = "\"" + testing_support::ProductFolder() + "\\Tidemark.exe\" /week";
    ASSERT_TRUE(testing_support::SetStringValue(HKEY_CURRENT_USER, runKey, "Tidemark", weekRun));
    std::string log;
    ASSERT_TRUE(
        testing_support::ReadFileBytes(testing_support::ProductFolder() + "\\Tidemark.log", &log));
    log += "a week of work\r\n";
    ASSERT_TRUE(
        testing_support::WriteFileBytes(testing_support::ProductFolder() + "\\Tidemark.log", log));
    const UserData week = CaptureUserData();

    if (complete) {
      ASSERT_TRUE(testing_support::SetStringValue(
          HKEY_LOCAL_MACHINE, product::kUninstallKey, "UninstallString",
          "\"" + testing_support::StandInUninstallerPath() + "\" /mode=clean"));
    }
    StartAndWaitFor(PAGE_INTRODUCTION);
    if (complete) {
      Next(PAGE_UNINSTALL);
      Next(PAGE_INSTALL);
      Next(PAGE_COMPLETED);
      wizard_.Press(PSBTN_FINISH);
      EXPECT_EQ(0, wizard_.WaitForExit());
    } else {
      wizard_.Press(PSBTN_CANCEL);
      EXPECT_EQ(1602, wizard_.WaitForExit());
    }
    const UserData after = CaptureUserData();
    EXPECT_EQ(week.log, after.log) << "the week's log is in place";
    ExpectUserDataKept(week, after);
    EXPECT_FALSE(UpdaterKeyExists());
    // Run 1's versions are kept beside the week's: the settings and the Run value in dated keys.
    const std::string settingsBeside =
        testing_support::FindDatedKeyBeside(HKEY_CURRENT_USER, settings);
    ASSERT_FALSE(settingsBeside.empty()) << "run 1's settings were not kept beside";
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(
        testing_support::GetRawValue(HKEY_CURRENT_USER, settingsBeside, "Interval", &type, &data));
    EXPECT_EQ(first.settings.at("|Interval").second, data);
    const std::string runBeside =
        testing_support::FindDatedKeyBeside(HKEY_CURRENT_USER, product::kAutoRunKeptBesideKey);
    ASSERT_FALSE(runBeside.empty()) << "run 1's Run value was not kept beside";
    ASSERT_TRUE(
        testing_support::GetRawValue(HKEY_CURRENT_USER, runBeside, "Tidemark", &type, &data));
    EXPECT_EQ(first.runValue, data);
    RegDeleteTreeA(HKEY_CURRENT_USER, settingsBeside.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, settingsBeside.c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, runBeside.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, runBeside.c_str());
  }
}

// The update is over but a logged-off user's settings wait; then the product is removed by hand.
// The next logon's start by the resume entry shows nothing, removes the entry and ends.
TEST_F(UpdateJourneyTest, AResumeStartForAProductRemovedByHandEndsQuietly) {
  char folder[520];
  ASSERT_TRUE(EnsureWorkFolder(folder));
  const std::string copy = std::string(folder) + "\\Updater.exe";
  ASSERT_TRUE(CopyFileA((testing_support::ExecutableFolder() + "\\Updater.exe").c_str(),
                        copy.c_str(), FALSE));
  const std::string waiting = "S-1-5-21-9-9-9-1234";
  ASSERT_TRUE(testing_support::SetStringValue(
      HKEY_LOCAL_MACHINE, std::string(product::kUpdaterKey) + "\\" + waiting, "Server", "tide01"));
  ASSERT_TRUE(testing_support::SetStringValue(
      HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue,
      "\"" + std::string(folder) + "\\TmkUpLauncher.exe\" \"" + copy + "\" " + waiting));
  ASSERT_TRUE(wizard_.Start(std::wstring(copy.begin(), copy.end())));
  EXPECT_FALSE(wizard_.WaitForWizard(3000)) << "a wizard was shown";
  EXPECT_EQ(0, wizard_.WaitForExit());
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume)) << "the resume entry stays";
  EXPECT_NE(std::string::npos, RunLogOf(wizard_.pid()).find("the resume entry is removed"));
}
