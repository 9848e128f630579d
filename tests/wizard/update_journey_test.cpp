// Whole update journeys with the stand-in releases: the wizard driven from outside, the user's
// data compared before and after.
#include <windows.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/wizard/journey_support.h"
#include "tests/wizard/wizard_driver.h"

namespace {

using namespace wizard_testing;

enum { kIntroduction = 0, kUninstall = 1, kInstall = 2, kRestart = 3, kCompleted = 4, kIncompleted = 5 };

const wchar_t kUpToDateText[] =
    L"\u73fe\u5728\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3055\u308c\u3066\u3044\u308b\u30d0\u30fc\u30b8\u30e7\u30f3\u306e\u65b9\u304c\u65b0\u3057\u3044\u304b\u3001\u540c\u3058\u30d0\u30fc\u30b8\u30e7\u30f3\u3067\u3059\u3002\n\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u306e\u5fc5\u8981\u306f\u3042\u308a\u307e\u305b\u3093\u3002";
const wchar_t kCloseText[] = L"\u9589\u3058\u308b";  // 閉じる
const wchar_t kDoneText[] = L"\u5b8c\u4e86";         // 完了

// Every old value must be back with its type and data; the new release may add values of its own.
void ExpectUserDataKept(const UserData& before, const UserData& after) {
  ASSERT_TRUE(before.hasLog);
  EXPECT_TRUE(after.hasLog);
  EXPECT_EQ(before.log, after.log) << "log file not byte-identical";
  ASSERT_FALSE(before.settings.empty());
  for (const auto& [name, value] : before.settings) {
    auto found = after.settings.find(name);
    ASSERT_NE(after.settings.end(), found) << "settings entry lost: " << name;
    EXPECT_EQ(value.first, found->second.first) << "type changed: " << name;
    EXPECT_EQ(value.second, found->second.second) << "data changed: " << name;
  }
  ASSERT_TRUE(before.hasRunValue);
  EXPECT_TRUE(after.hasRunValue);
  EXPECT_EQ(before.runValue, after.runValue);
}

void ExpectClosingPage(const WizardDriver& wizard, const wchar_t* finishText) {
  wizard.Settle();
  EXPECT_EQ(kWizardTitle, wizard.Title());
  EXPECT_EQ(finishText, wizard.ButtonText(kFinishButton));
  EXPECT_TRUE(wizard.Button(kFinishButton).visible);
  EXPECT_TRUE(wizard.Button(kFinishButton).enabled);
  EXPECT_FALSE(wizard.Button(kCancelButton).visible);
  EXPECT_FALSE(wizard.Button(kBackButton).enabled);
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
  void Next(int expectedPage) {
    wizard_.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard_.WaitForPage(expectedPage, 60000)) << "page now " << wizard_.CurrentPage();
  }

  WizardDriver wizard_;
};

TEST_F(UpdateJourneyTest, CurrentOrNewerReleaseIsDeclinedWithoutMarking) {
  for (const char* exe : {"Tidemark-2.30.111.exe", "Tidemark-2.30.112.exe", "Tidemark-3.0.exe"}) {
    SCOPED_TRACE(exe);
    CleanMachine();
    ASSERT_TRUE(InstallOldRelease(std::string("--product-exe=") + exe));
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(kIntroduction));
    wizard.Press(PSBTN_NEXT);
    MessageBoxSeen box;
    ASSERT_TRUE(wizard.AnswerMessageBox(&box));
    EXPECT_EQ(kUpToDateText, box.text);
    EXPECT_EQ(L"Updater", box.caption);
    EXPECT_EQ(wizard.sheet(), box.owner);
    EXPECT_EQ(0, wizard.WaitForExit());
    EXPECT_FALSE(UpdaterKeyExists()) << "Marking is never written";
  }
}

TEST_F(UpdateJourneyTest, UpdateWithoutRestartKeepsEverythingOfTheUser) {
  ASSERT_TRUE(InstallOldRelease());
  const UserData before = CaptureUserData();
  const int startsBefore = ProductStartCount();
  StartAndWaitFor(kIntroduction);
  Next(kUninstall);
  Next(kInstall);
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume)) << "the install page removes the resume registration";
  EXPECT_FALSE(testing_support::PathExists(testing_support::TempFolder() + "\\" + product::kLauncherFileName));
  Next(kCompleted);
  ExpectClosingPage(wizard_, kDoneText);

  DWORD type = 0;
  std::string marking;
  EXPECT_FALSE(testing_support::GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking",
                                            &type, &marking))
      << "Marking is removed before the completed page";
  ExpectUserDataKept(before, CaptureUserData());
  EXPECT_TRUE(WaitForProductStarts(startsBefore + 1)) << "the product is started";
  Sleep(500);
  EXPECT_EQ(startsBefore + 1, ProductStartCount()) << "the product is started once";
  EXPECT_NE(std::string::npos, LastProductStart().find("/autorun"));

  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
  EXPECT_FALSE(ResumeRunValue(&resume));
}

TEST_F(UpdateJourneyTest, FreshInstallationEndsCompletedAndLeavesNothingBehind) {
  StartAndWaitFor(kIntroduction);
  Next(kInstall);
  Next(kCompleted);
  ExpectClosingPage(wizard_, kDoneText);
  EXPECT_TRUE(testing_support::PathExists(testing_support::ProductFolder() + "\\Tidemark.exe"));
  EXPECT_FALSE(testing_support::PathExists(testing_support::TempFolder() + "\\" +
                                           product::kExtractionFolderName))
      << "the unpacked setup is deleted when it has ended";
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
}

TEST_F(UpdateJourneyTest, CancelledUninstallerEndsOnTheAbortedPageWithNothingTouched) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=cancel"));
  const UserData before = CaptureUserData();
  StartAndWaitFor(kIntroduction);
  Next(kUninstall);
  Next(kIncompleted);
  ExpectClosingPage(wizard_, kCloseText);
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume));
  EXPECT_FALSE(testing_support::PathExists(testing_support::TempFolder() + "\\" + product::kLauncherFileName));
  const UserData after = CaptureUserData();
  EXPECT_EQ(before.log, after.log);
  EXPECT_EQ(before.settings, after.settings);
  EXPECT_EQ(before.runValue, after.runValue);
}

TEST_F(UpdateJourneyTest, UninstallerThatCannotStartEndsOnTheAbortedPage) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-string=C:\\no-such-folder\\uninstall.exe"));
  StartAndWaitFor(kIntroduction);
  Next(kUninstall);
  Next(kIncompleted);
  ExpectClosingPage(wizard_, kCloseText);
}

TEST_F(UpdateJourneyTest, CloseBoxIsRefusedWhileTheUninstallerRuns) {
  const std::string sleeper = testing_support::ExecutableFolder() + "\\wizard_sleeper.exe 4000";
  ASSERT_TRUE(InstallOldRelease("\"--uninstall-string=" + sleeper + "\""));
  StartAndWaitFor(kIntroduction);
  Next(kUninstall);
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
  ASSERT_TRUE(wizard_.WaitForPage(kIncompleted, 30000));
  ExpectClosingPage(wizard_, kCloseText);
  wizard_.Close();  // not busy any more: accepted, and the state is discarded once
  EXPECT_EQ(0, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
}

TEST_F(UpdateJourneyTest, FailedSetupAfterUninstallKeepsTheBackupForTheNextRun) {
  ASSERT_TRUE(InstallOldRelease());
  const UserData before = CaptureUserData();
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", "fail");
  StartAndWaitFor(kIntroduction);
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
  Next(kUninstall);
  Next(kInstall);
  Next(kIncompleted);
  ExpectClosingPage(wizard_, kCloseText);
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard_.WaitForExit());
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
  ASSERT_TRUE(again.WaitForPage(kInstall));
  again.Press(PSBTN_NEXT);
  ASSERT_TRUE(again.WaitForPage(kCompleted, 60000));
  ExpectUserDataKept(before, CaptureUserData());
  again.Press(PSBTN_FINISH);
  EXPECT_EQ(0, again.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists());
  EXPECT_FALSE(testing_support::PathExists(backup));
}

TEST_F(UpdateJourneyTest, CancelledSetupOnAFreshMachineDiscardsEverything) {
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", "cancel");
  StartAndWaitFor(kIntroduction);
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
  Next(kInstall);
  Next(kIncompleted);
  EXPECT_FALSE(testing_support::PathExists(testing_support::TempFolder() + "\\" +
                                           product::kExtractionFolderName));
  wizard_.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard_.WaitForExit());
  EXPECT_FALSE(UpdaterKeyExists()) << "no backup was ever made: nothing to keep";
}

TEST_F(UpdateJourneyTest, RestartGuidanceKeepsTheStateWhateverEndsTheWizard) {
  for (bool useFinish : {true, false}) {
    SCOPED_TRACE(useFinish ? "Finish" : "close box");
    CleanMachine();
    ASSERT_TRUE(InstallOldRelease("--uninstall-mode=restart"));
    WizardDriver wizard;
    ASSERT_TRUE(wizard.Start());
    ASSERT_TRUE(wizard.WaitForWizard());
    ASSERT_TRUE(wizard.WaitForPage(kIntroduction));
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForPage(kUninstall));
    wizard.Press(PSBTN_NEXT);
    ASSERT_TRUE(wizard.WaitForPage(kRestart, 60000));
    ExpectClosingPage(wizard, kCloseText);
    if (useFinish) {
      wizard.Press(PSBTN_FINISH);
    } else {
      wizard.Close();
    }
    EXPECT_EQ(0, wizard.WaitForExit());
    ASSERT_TRUE(UpdaterKeyExists());
    EXPECT_FALSE(UpdaterString("BackupFolder").empty());
    EXPECT_TRUE(testing_support::PathExists(UpdaterString("BackupFolder")));
    const std::string launcher = UpdaterString("Launcher");
    EXPECT_TRUE(testing_support::PathExists(launcher));
    std::string resume;
    ASSERT_TRUE(ResumeRunValue(&resume));
    EXPECT_EQ("\"" + launcher + "\" \"" + testing_support::ExecutableFolder() + "\\Updater.exe\"",
              std::string(resume.c_str()));
  }
}

}  // namespace
