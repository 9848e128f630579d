// An update on a disk that cannot hold it: the folder the work folder is made in (C:\ProgramData)
// is a small file system that disk_full_journey.sh mounts for each step, of the size the row needs.
// The updater costs the disk before it changes anything, and a write that runs into a full disk
// says that the disk is full.
#include <windows.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"
#include "tests/wizard/journey_support.h"
#include "tests/wizard/wizard_driver.h"

namespace {

using namespace wizard_testing;

const char kSmallFolder[] = "C:\\ProgramData\\";

// 「ドライブ C:\ProgramData\ の空き領域が足りません。」 and the amount to free.
const std::wstring kShortStart =
    L"\u30c9\u30e9\u30a4\u30d6 C:\\ProgramData\\ \u306e\u7a7a\u304d"
    L"\u9818\u57df\u304c\u8db3\u308a\u307e\u305b\u3093\u3002";
const std::wstring kToFree = L"\u3042\u3068 ";  // 「あと 」

std::wstring SystemText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
      0, nullptr);
  std::wstring result = text != nullptr ? text : L"";
  LocalFree(text);
  return result;
}

ULONGLONG FreeBytes() {
  ULARGE_INTEGER available = {};
  return GetDiskFreeSpaceExA(kSmallFolder, &available, nullptr, nullptr) ? available.QuadPart : 0;
}

// Leaves about `left` bytes free on the small file system.
bool FillLeaving(const std::string& path, ULONGLONG left) {
  const ULONGLONG free = FreeBytes();
  if (free <= left) return true;
  base::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string block(64 * 1024, 'f');
  for (ULONGLONG written = 0; written + block.size() <= free - left;) {
    DWORD done = 0;
    if (!WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &done, nullptr) ||
        done == 0) {
      break;
    }
    written += done;
  }
  return true;
}

void ExpectShortfallBox(const WizardDriver& wizard) {
  MessageBoxSeen box;
  ASSERT_TRUE(wizard.AnswerMessageBox(&box, 60000)) << "no box about the disk";
  EXPECT_EQ(0u, box.text.find(kShortStart)) << "another box than the one about the disk";
  // "あと <n> MB": a whole number of megabytes, at least one.
  const size_t amount = box.text.find(kToFree);
  ASSERT_NE(std::wstring::npos, amount) << "the amount to free";
  const size_t digits = amount + kToFree.size();
  const size_t unit = box.text.find(L" MB", digits);
  ASSERT_NE(std::wstring::npos, unit);
  ASSERT_LT(digits, unit);
  EXPECT_LE(1, std::stoi(box.text.substr(digits, unit - digits)));
  EXPECT_EQ(L"warning", box.icon);
  EXPECT_EQ(wizard.sheet(), box.owner);
}

// Row "backup": the small file system holds less than the update's copies and unpacked setup.
// Next on the uninstall page says which drive lacks how much, and nothing starts: no backup, no
// work folder, no resume entry, the old release still installed.
TEST(DiskFullJourney, DISABLED_NoRoomBeforeTheUninstaller) {
  CleanMachine();
  ASSERT_TRUE(testing_support::InstallOldRelease());
  const UserData before = CaptureUserData();
  WizardDriver wizard;
  ASSERT_TRUE(wizard.Start());
  ASSERT_TRUE(wizard.WaitForWizard());
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_UNINSTALL));
  wizard.Press(PSBTN_NEXT);
  ExpectShortfallBox(wizard);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_UNINSTALL));
  wizard.Settle();
  EXPECT_TRUE(wizard.SheetVisible());
  EXPECT_TRUE(wizard.Button(kNextButton).enabled);
  EXPECT_TRUE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, product::kUninstallKey))
      << "the uninstaller ran";
  std::string resume;
  EXPECT_FALSE(ResumeRunValue(&resume));
  EXPECT_TRUE(UpdaterString("BackupFolder").empty()) << "nothing saved";
  EXPECT_TRUE(WorkFolders().empty()) << "nothing written";
  ExpectUserDataKept(before, CaptureUserData());
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(1602, wizard.WaitForExit());
  CleanMachine();
}

// Row "unpacking": the uninstall step fits; before Next on the install page the disk is filled.
// Nothing is unpacked and setup does not start; once space is freed, Next finishes the update.
TEST(DiskFullJourney, DISABLED_NoRoomBeforeTheUnpacking) {
  CleanMachine();
  ASSERT_TRUE(testing_support::InstallOldRelease());
  const UserData before = CaptureUserData();
  WizardDriver wizard;
  ASSERT_TRUE(wizard.Start());
  ASSERT_TRUE(wizard.WaitForWizard());
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INTRODUCTION));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_UNINSTALL));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INSTALL, 60000));
  const std::string filler = std::string(kSmallFolder) + "filler.bin";
  ASSERT_TRUE(FillLeaving(filler, 200 * 1024));
  wizard.Press(PSBTN_NEXT);
  ExpectShortfallBox(wizard);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_INSTALL));
  const std::vector<std::string> folders = WorkFolders();
  ASSERT_EQ(1u, folders.size());
  EXPECT_FALSE(testing_support::PathExists(folders[0] + "\\setup")) << "something was unpacked";
  EXPECT_FALSE(testing_support::KeyExists(HKEY_LOCAL_MACHINE, product::kUninstallKey))
      << "setup ran";

  ASSERT_TRUE(DeleteFileA(filler.c_str()));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForPage(PAGE_COMPLETED, 60000));
  ExpectUserDataKept(before, CaptureUserData());
  wizard.Press(PSBTN_FINISH);
  EXPECT_EQ(0, wizard.WaitForExit());
  CleanMachine();
}

// Row "write": a write larger than the room left is written up to the last byte that fits and
// then fails with the system's code for a full disk, never a short count taken for a fault; the
// same for a copy between handles.
TEST(DiskFullJourney, DISABLED_WritesRunIntoAFullDisk) {
  const std::string target = std::string(kSmallFolder) + "full.bin";
  const std::string bytes(3 * 1024 * 1024, 'w');
  {
    base::ScopedHandle file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WriteAll(file.get(), bytes.data(), static_cast<DWORD>(bytes.size())));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
  }
  EXPECT_LT(FreeBytes(), 64u * 1024) << "the disk was not filled up";
  ASSERT_TRUE(DeleteFileA(target.c_str()));

  testing_support::ScopedTempFolder source;
  ASSERT_TRUE(testing_support::WriteFileBytes(source.Child("big.bin"), bytes));
  base::ScopedHandle from(CreateFileA(source.Child("big.bin").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  base::ScopedHandle to(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(from);
  ASSERT_TRUE(to);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(CopyFileBlocks(from.get(), to.get()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
  EXPECT_NE(SystemText(ERROR_WRITE_FAULT), SystemText(ERROR_DISK_FULL));
  to.reset();
  DeleteFileA(target.c_str());
}

}  // namespace
