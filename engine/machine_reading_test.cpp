// The reading of a real (Wine) machine set up row by row: the product's
// registration and main executable, Marking, removals listed for the restart and a saved state;
// each row gives the stage and the page the wizard opens on.
#include "engine/machine_reading.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

constexpr int kNoMarking = -1;

struct Row {
  const char* installed;  // nullptr: not registered; "": registered, no main executable
  int marking;            // the Marking DWORD, or kNoMarking
  const char* pending;    // a removal listed for the restart, below <ProgramFiles>\KORVANE
  bool saved;             // BackupFolder recorded
  UpdateStage stage;
  int startPage;
};

const Row kRows[] = {
    {nullptr, kNoMarking, nullptr, false, kStageInstallPending, PAGE_INTRODUCTION},
    {nullptr, 0, nullptr, true, kStageInstallPending, PAGE_INTRODUCTION},
    {nullptr, 1, nullptr, true, kStageInstallPending, PAGE_INSTALL},
    // Removed by hand, its removal still waiting: the name is compared ignoring case.
    {nullptr, kNoMarking, "tidemark sx\\Tidemark.exe", false, kStageRestartPending,
     PAGE_INTRODUCTION},
    {nullptr, 1, "Tidemark SX", true, kStageRestartPending, PAGE_RESTART_GUIDANCE},
    // A folder whose name only begins with the product folder's is another folder.
    {nullptr, 1, "Tidemark SX2\\Tidemark.exe", true, kStageInstallPending, PAGE_INSTALL},
    {"Tidemark-2.20.5.exe", kNoMarking, nullptr, false, kStageUninstallPending, PAGE_INTRODUCTION},
    {"Tidemark-2.20.5.exe", 1, nullptr, true, kStageUninstallPending, PAGE_INTRODUCTION},
    {"", 1, nullptr, false, kStageUninstallPending, PAGE_INTRODUCTION},
    {"Tidemark-2.30.111.exe", kNoMarking, nullptr, true, kStageNothingToDo, PAGE_INTRODUCTION},
    // The new release in wins over removals still listed in its folder.
    {"Tidemark-2.30.112.exe", 1, "Tidemark SX\\old.dll", true, kStageRestorePending, PAGE_INSTALL},
};

TEST(MachineReadingTable, StageAndStartPageFromWhatTheMachineHolds) {
  ScopedProductState clean;
  const std::string korvane = ProgramFilesFolder() + "\\KORVANE";
  for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); ++i) {
    const Row& row = kRows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    ScopedRegistryCleanup updaterKey(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
    ScopedRegistryCleanup uninstallKey(HKEY_LOCAL_MACHINE, product::kUninstallKey);
    RemoveTree(ProductFolder());
    DropPendingRenamesUnder(korvane);
    CreateDirectoryA(korvane.c_str(), nullptr);
    if (row.installed != nullptr) {
      ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey, "UninstallString",
                                 "\"C:\\nowhere\\uninstall.exe\""));
    }
    if (row.installed != nullptr && row.installed[0] != '\0') {
      ASSERT_TRUE(CreateDirectoryA(ProductFolder().c_str(), nullptr));
      ASSERT_TRUE(CopyFileA(StandInProgram(row.installed).c_str(),
                            (ProductFolder() + "\\Tidemark.exe").c_str(), FALSE));
    }
    if (row.marking != kNoMarking) {
      const DWORD marking = static_cast<DWORD>(row.marking);
      ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_DWORD,
                              &marking, sizeof(marking)));
    }
    if (row.pending != nullptr) {
      ASSERT_TRUE(MoveFileExA((korvane + "\\" + row.pending).c_str(), nullptr,
                              MOVEFILE_DELAY_UNTIL_REBOOT));
    }
    if (row.saved) {
      ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "BackupFolder",
                                 "C:\\windows\\Temp\\backup"));
    }

    const MachineReading reading = ReadMachine();
    EXPECT_EQ(row.stage, GetStage(reading)) << GetUpdateStageName(GetStage(reading));
    EXPECT_EQ(row.startPage, ChooseStartPage(reading)) << GetPageName(ChooseStartPage(reading));
    EXPECT_EQ(row.saved, HasSavedUserState(reading));
  }
  DropPendingRenamesUnder(korvane);
}

}  // namespace
