// The wizard driven from outside: start page, texts, buttons, routing on Next, cancelling and the
// close box, the operating-system gate and the message-box caption.
#include <windows.h>
#include <prsht.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "engine/core/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/wizard/journey_support.h"
#include "tests/wizard/page_checks.h"
#include "tests/wizard/wizard_driver.h"

namespace {

using namespace wizard_testing;
using testing_support::KeyExists;
using testing_support::ScopedRegistryCleanup;

void SetMarkingValue() {
  const DWORD one = 1;
  ASSERT_TRUE(testing_support::SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking",
                                           REG_DWORD, &one, 4));
}

// Registers a product without any program behind it.
void RegisterFakeProduct() {
  ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey,
                                              "UninstallString", "C:\\nothing-here\\uninst.exe"));
}

class WizardFlowTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    testing_support::RemoveTree(NarrowProductFolder());
    for (const std::string& work : wizard_testing::WorkFolders()) testing_support::RemoveTree(work);
  }
  static std::string NarrowProductFolder() {
    char folder[MAX_PATH];
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    return std::string(folder) + "\\KORVANE\\Tidemark SX";
  }
  ScopedRegistryCleanup updaterKey_{HKEY_LOCAL_MACHINE, product::kUpdaterKey};
  ScopedRegistryCleanup uninstallKey_{HKEY_LOCAL_MACHINE, product::kUninstallKey};
  WizardDriver wizard_;
};

TEST_F(WizardFlowTest, FreshMachineOpensOnTheIntroductionWithItsTextsAndNextOnly) {
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INTRODUCTION));
  wizard_.Settle();
  EXPECT_TRUE(wizard_.HasWizardWindow());
  EXPECT_EQ(kWizardTitle, wizard_.Title());
  EXPECT_EQ(
      L"Tidemark "
      L"SX\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7\u30ed\u30b0\u30e9\u30e0\u3078\u3088\u3046"
      L"\u3053\u305d\u3002",
      wizard_.PageText(1002));
  EXPECT_EQ(
      L"\u3053\u306e\u30d7\u30ed\u30b0\u30e9\u30e0\u306f\u3001\u300cTidemark "
      L"SX\u300d\u306e\u66f4\u65b0\u3001\u307e\u305f\u306f\u65b0\u898f\u30a4\u30f3\u30b9\u30c8"
      L"\u30fc\u30eb\u3092\u884c\u3044\u307e\u3059\u3002",
      wizard_.PageText(1003));
  EXPECT_EQ(
      L"\u66f4\u65b0\uff0f\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u5f8c\u306e\u30d0\u30fc\u30b8\u30e7"
      L"\u30f3\u306f\u3001\u300c2.30\u300d\u3068\u306a\u308a\u307e\u3059\u3002",
      wizard_.PageText(1004));
  EXPECT_TRUE(wizard_.Button(kNextButton).enabled);
  EXPECT_FALSE(wizard_.Button(kBackButton).enabled);
  EXPECT_FALSE(wizard_.Button(kFinishButton).visible);
  EXPECT_TRUE(wizard_.Button(kCancelButton).visible);
  EXPECT_TRUE(wizard_.Button(kCancelButton).enabled);
  ExpectPageFrame(wizard_);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey)) << "nothing written at start";
}

TEST_F(WizardFlowTest, AutoPlayIsVetoedWhileTheWizardIsOpen) {
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  const UINT query = RegisterWindowMessageW(L"QueryCancelAutoPlay");
  ASSERT_NE(0u, query);
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(wizard_.sheet(), query, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
  EXPECT_EQ(1u, answer);
  ASSERT_TRUE(
      SendMessageTimeoutW(wizard_.sheet(), query, 2, 0x10, SMTO_ABORTIFHUNG, 5000, &answer));
  EXPECT_EQ(1u, answer) << "every medium and content type";
}

TEST_F(WizardFlowTest, NextWithoutProductMarksTheUpdateAndGoesStraightToInstall) {
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INTRODUCTION));
  wizard_.Press(PSBTN_NEXT);
  DWORD markingAtFirstSight = kNoMarking;
  ASSERT_TRUE(
      wizard_.WaitForPage(PAGE_INSTALL, 20000, [&] { markingAtFirstSight = UpdaterMarking(); }));
  EXPECT_EQ(1u, markingAtFirstSight) << "Marking is written before the install page is shown";
  wizard_.Settle();
  EXPECT_EQ(kWizardTitle, wizard_.Title()) << "the caption survives the page change";
  EXPECT_FALSE(wizard_.Button(kBackButton).enabled);
  EXPECT_TRUE(wizard_.Button(kNextButton).enabled);
  ExpectPageFrame(wizard_);
}

TEST_F(WizardFlowTest, NextWithAnUnreadableInstalledVersionGoesToUninstall) {
  RegisterFakeProduct();  // registered, but no Tidemark.exe to read a version from
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INTRODUCTION));
  wizard_.Press(PSBTN_NEXT);
  DWORD markingAtFirstSight = kNoMarking;
  ASSERT_TRUE(
      wizard_.WaitForPage(PAGE_UNINSTALL, 20000, [&] { markingAtFirstSight = UpdaterMarking(); }));
  EXPECT_EQ(1u, markingAtFirstSight) << "Marking is written before the uninstall page is shown";
  wizard_.Settle();
  EXPECT_EQ(kWizardTitle, wizard_.Title());
  EXPECT_EQ(
      L"\u65e7\u30d0\u30fc\u30b8\u30e7\u30f3\u306eTidemark "
      L"SX\u3092\u30a2\u30f3\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3059\u308b\u5fc5\u8981\u304c"
      L"\u3042\u308a\u307e\u3059\u3002",
      wizard_.PageText(1009));
  EXPECT_FALSE(wizard_.Button(kBackButton).enabled);
  ExpectPageFrame(wizard_);
}

TEST_F(WizardFlowTest, CancelOnTheIntroductionEndsAndDiscardsTheUpdaterKey) {
  SetMarkingValue();
  RegisterFakeProduct();
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INTRODUCTION));
  wizard_.Press(PSBTN_CANCEL);
  EXPECT_EQ(1602, wizard_.WaitForExit()) << "cancelled";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
}

TEST_F(WizardFlowTest, CloseBoxWhileIdleEndsLikeCancel) {
  SetMarkingValue();
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INSTALL));
  wizard_.Close();
  EXPECT_EQ(1602, wizard_.WaitForExit()) << "cancelled";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
}

TEST_F(WizardFlowTest, InstallThatCannotStartLeavesTheWizardReadyOnTheSamePage) {
  // The recorded work folder holds a file where the setup goes: unpacking fails (and says why)
  // before setup starts.
  const std::string parent =
      testing_support::CommonAppDataFolder() + "\\" + product::kWorkFolderParent;
  const std::string work = parent + "\\" + product::kWorkFolderPrefix + "0123456789abcdef";
  CreateDirectoryA(parent.c_str(), nullptr);  // the updater's own, where earlier runs made it
  ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  ASSERT_TRUE(testing_support::WriteFileBytes(work + "\\setup", "in the way"));
  ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey,
                                              "WorkFolder", work));
  SetMarkingValue();
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INSTALL));
  wizard_.Press(PSBTN_NEXT);
  MessageBoxSeen box;
  EXPECT_TRUE(wizard_.AnswerMessageBox(&box));
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INSTALL));
  wizard_.Settle();
  EXPECT_TRUE(wizard_.SheetVisible());
  EXPECT_TRUE(wizard_.Button(kNextButton).enabled);
  EXPECT_TRUE(wizard_.Button(kCancelButton).enabled);
  // Not busy: the close box is accepted; nothing was saved, so the work folder goes.
  wizard_.Close();
  EXPECT_EQ(1602, wizard_.WaitForExit());
  EXPECT_FALSE(testing_support::PathExists(work));
}

TEST_F(WizardFlowTest, SecondStartEndsAtOnceAndBringsBackTheRunningWizard) {
  SetMarkingValue();  // the install page, whose opening undoes the resume registration
  ASSERT_TRUE(wizard_.Start());
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INSTALL));
  ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kRunKey,
                                              product::kResumeRunValue, "resume"));
  ShowWindow(wizard_.sheet(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(wizard_.sheet()));

  WizardDriver second;
  ASSERT_TRUE(second.Start());
  bool secondWizard = false;
  for (const DWORD start = GetTickCount(); second.Running() && GetTickCount() - start < 5000;) {
    secondWizard = secondWizard || second.HasWizardWindow();
    Sleep(20);
  }
  EXPECT_FALSE(second.Running()) << "the second updater does not end by itself";
  EXPECT_EQ(1618, second.WaitForExit()) << "another updater is already running";
  EXPECT_FALSE(secondWizard) << "a second wizard was shown";
  std::string resume;
  EXPECT_TRUE(ResumeRunValue(&resume)) << "the second updater changed the registry";
  SHDeleteValueA(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue);
  EXPECT_FALSE(IsIconic(wizard_.sheet())) << "the running wizard stays minimised";
  EXPECT_EQ(PAGE_INSTALL, wizard_.CurrentPage());
  EXPECT_TRUE(wizard_.SheetVisible());
}

const wchar_t kBlockedText[] =
    L"\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7\u30ed\u30b0\u30e9\u30e0\u3092\u958b\u59cb\u3067"
    L"\u304d\u307e\u305b\u3093\u3002\u5225\u306e\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7\u30ed"
    L"\u30b0\u30e9\u30e0\u304c\u5b9f\u884c\u4e2d\u304b\u3001\u4ed6\u306e\u30d7\u30ed\u30b0\u30e9"
    L"\u30e0\u304c\u958b\u59cb\u3092\u59a8\u3052\u3066\u3044\u307e\u3059\u3002\n\n\u5b9f\u884c"
    L"\u4e2d\u306e\u30d7\u30ed\u30b0\u30e9\u30e0\u3092\u7d42\u4e86\u3057\u3066\u304b\u3089\u3001"
    L"\u3082\u3046\u4e00\u5ea6\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002";

// Another program took the global mutex name first. Where the system has private namespaces the
// updater's mutex is not that one and the wizard comes up; where it has none (this Wine), the
// updater says that it cannot start instead of ending silently.
TEST_F(WizardFlowTest, AMutexSquattedByAnotherProgramNeverSilencesTheUpdater) {
  HANDLE squatted = CreateMutexA(nullptr, FALSE, "Global\\TidemarkSXUpdater");
  ASSERT_NE(nullptr, squatted);
  ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  const bool privateNamespaces =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreatePrivateNamespaceW") != nullptr &&
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddSIDToBoundaryDescriptor") != nullptr;
  ASSERT_TRUE(wizard_.Start());
  if (privateNamespaces) {
    EXPECT_TRUE(wizard_.WaitForWizard());
    wizard_.Close();
    EXPECT_EQ(1602, wizard_.WaitForExit());
  } else {
    MessageBoxSeen box;
    ASSERT_TRUE(wizard_.WaitForMessageBox(&box)) << "ended silently: " << wizard_.WaitForExit(0);
    EXPECT_FALSE(wizard_.HasWizardWindow());
    WizardDriver::DismissMessageBox(box);
    EXPECT_EQ(L"Updater", box.caption);
    EXPECT_EQ(kBlockedText, box.text);
    EXPECT_EQ(1618, wizard_.WaitForExit());
  }
  CloseHandle(squatted);
}

// Settings Wine applies to programs of the given file name only (HKCU\Software\Wine\AppDefaults),
// removed again at the end. With them the operating-system gate is exercised for real (Wine
// reports Windows XP, 5.1), and Wine searches DLLs the way Windows does for those that are not
// known DLLs: the program's folder first.
class ScopedProgramDefaults {
 public:
  ScopedProgramDefaults(const std::wstring& exeName, const std::wstring& subkey,
                        std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values)
      : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {
    const std::wstring path = subkey.empty() ? key_ : key_ + L"\\" + subkey;
    for (const auto& value : values) {
      SHSetValueW(HKEY_CURRENT_USER, path.c_str(), value.first, REG_SZ, value.second,
                  static_cast<DWORD>((lstrlenW(value.second) + 1) * sizeof(wchar_t)));
    }
  }
  ~ScopedProgramDefaults() { SHDeleteKeyW(HKEY_CURRENT_USER, key_.c_str()); }

 private:
  std::wstring key_;
};

const wchar_t kUnsupportedText[] =
    L"\u3053\u306e\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7\u30ed\u30b0\u30e9\u30e0\u3067\u30a2"
    L"\u30c3\u30d7\u30c7\u30fc\u30c8\u3059\u308bTidemark\u306f\u3001\u304a\u4f7f\u3044\u306eOS"
    L"\u3067\u306f\u4f7f\u7528\u51fa\u6765\u306a\u3044\u70ba\u3001\u30a2\u30c3\u30d7\u30c7\u30fc"
    L"\u30c8\u51fa\u6765\u307e\u305b\u3093\u3002\n\n\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7"
    L"\u30ed\u30b0\u30e9\u30e0\u3092\u7d42\u4e86\u3057\u307e\u3059\u3002";

TEST_F(WizardFlowTest, OlderWindowsIsRefusedWithoutWizardOrRegistryChange) {
  ScopedProgramDefaults xp(L"Updater.exe", L"", {{L"Version", L"winxp"}});
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  ASSERT_TRUE(wizard_.Start());
  MessageBoxSeen box;
  ASSERT_TRUE(wizard_.WaitForMessageBox(&box));
  EXPECT_FALSE(wizard_.HasWizardWindow()) << "the refusal comes before any wizard is built";
  EXPECT_EQ(nullptr, box.owner);
  WizardDriver::DismissMessageBox(box);
  EXPECT_EQ(L"Updater", box.caption);
  EXPECT_EQ(kUnsupportedText, box.text);
  EXPECT_EQ(L"warning", box.icon);
  EXPECT_EQ(1150, wizard_.WaitForExit()) << "Windows too old";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey)) << "nothing written";
  EXPECT_FALSE(wizard_.WaitForWizard(200));
}

TEST_F(WizardFlowTest, RenamedCopyShowsItsOwnNameAsMessageBoxCaption) {
  testing_support::ScopedTempFolder folder;
  wchar_t wideFolder[MAX_PATH * 2];
  MultiByteToWideChar(CP_ACP, 0, folder.path().c_str(), -1, wideFolder, MAX_PATH * 2);
  // A folder and a name with characters whose second byte in code page 932 is a backslash
  // (ソ 0x83 0x5C, 表 0x95 0x5C): only a real backslash ends the folder part.
  const std::wstring subfolder = std::wstring(wideFolder) + L"\\\u30bd\u8868";  // ソ表
  ASSERT_TRUE(CreateDirectoryW(subfolder.c_str(), nullptr));
  const std::wstring name = L"\u8868\u793a\u30bd\u30d5\u30c8";  // 表示ソフト
  const std::wstring copy = subfolder + L"\\" + name + L".exe";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\Updater.exe").c_str(), copy.c_str(), FALSE));
  ScopedProgramDefaults xp(name + L".exe", L"", {{L"Version", L"winxp"}});
  ASSERT_TRUE(wizard_.Start(copy));
  MessageBoxSeen box;
  ASSERT_TRUE(wizard_.AnswerMessageBox(&box));
  EXPECT_EQ(name, box.caption);
  EXPECT_EQ(1150, wizard_.WaitForExit());
}

// DLLs planted beside a copy of the updater in a user folder, each a planted_dll.dll that leaves
// a trace when it is loaded or serves a version call. Wine's own USER32 imports VERSION, so Wine
// loads a planted version.dll into any program before the program runs; what matters there is
// that the updater's own version reads never reach it.
TEST_F(WizardFlowTest, DllsPlantedBesideTheUpdaterNeverServeIt) {
  RegisterFakeProduct();  // Next reads the installed release's version
  testing_support::ScopedTempFolder folder;
  const std::string programs = testing_support::ExecutableFolder();
  const std::string copy = folder.Child("Updater.exe");
  ASSERT_TRUE(CopyFileA((programs + "\\Updater.exe").c_str(), copy.c_str(), FALSE));
  const struct {
    const char* dll;
    const char* trace;  // must never appear
  } cases[] = {
      {"version.dll", ".called"},
      {"libgcc_s_dw2-1.dll", ".loaded"},  // the i686 runtime's start-up asks for it by name
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(
        CopyFileA((programs + "\\planted_dll.dll").c_str(), folder.Child(c.dll).c_str(), FALSE));
  }
  ScopedProgramDefaults nativeFirst(
      L"Updater.exe", L"DllOverrides",
      {{L"version", L"native,builtin"}, {L"libgcc_s_dw2-1", L"native,builtin"}});

  wchar_t wideCopy[MAX_PATH * 2];
  MultiByteToWideChar(CP_ACP, 0, copy.c_str(), -1, wideCopy, MAX_PATH * 2);
  ASSERT_TRUE(wizard_.Start(wideCopy));
  ASSERT_TRUE(wizard_.WaitForWizard());
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_INTRODUCTION));
  wizard_.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard_.WaitForPage(PAGE_UNINSTALL));
  wizard_.Press(PSBTN_CANCEL);
  EXPECT_EQ(1602, wizard_.WaitForExit());
  ASSERT_TRUE(testing_support::PathExists(folder.Child("version.dll.loaded")))
      << "Wine did not take the planted version.dll: the case shows nothing";
  for (const auto& c : cases) {
    EXPECT_FALSE(testing_support::PathExists(folder.Child(c.dll) + c.trace)) << c.dll << c.trace;
  }
}

}  // namespace
