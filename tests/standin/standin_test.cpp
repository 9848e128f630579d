// The stand-in releases of the product, run for real under Wine the way the updater meets them:
// the old release's installer and its uninstaller in each of its modes, the product executable,
// and the new release's setup program from a copy of its ten installer files.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "engine/core/payload_files.h"
#include "engine/core/product_constants.h"
#include "engine/product_probe.h"
#include "engine/update_stage.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

std::string Value(HKEY root, const char* key, const char* name, DWORD* type = nullptr) {
  DWORD valueType = 0;
  std::string data;
  if (!GetRawValue(root, key, name, &valueType, &data)) return "<missing>";
  if (type) *type = valueType;
  return data;
}

std::string Text(HKEY root, const char* key, const char* name) {
  std::string data = Value(root, key, name);
  if (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

std::string InstalledVersion() {
  base::Text version;
  GetFileVersionString((ProductFolder() + "\\Tidemark.exe").c_str(), version);
  return version.c_str();
}

bool RunValuePresent() {
  return Value(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue) != "<missing>";
}

class StandInTest : public ::testing::Test {
 protected:
  ScopedProductState clean_;
};

// ---- The old release -----------------------------------------------------------------------

TEST_F(StandInTest, OldReleaseInstallLaysDownWhatTheUpdaterReliesOn) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=restart"));

  EXPECT_EQ(1, IsProductInstalled());
  EXPECT_EQ("\"" + StandInUninstallerPath() + "\" /mode=restart",
            Text(HKEY_LOCAL_MACHINE, product::kUninstallKey, "UninstallString"));
  EXPECT_EQ("Tidemark SX", Text(HKEY_LOCAL_MACHINE, product::kUninstallKey, "DisplayName"));
  EXPECT_EQ("2.20.5", Text(HKEY_LOCAL_MACHINE, product::kUninstallKey, "DisplayVersion"));
  EXPECT_TRUE(PathExists(StandInUninstallerPath()));

  EXPECT_EQ("2.20.5", InstalledVersion());
  int result = 42;
  ASSERT_EQ(1, CompareInstalledVersion(&result));
  EXPECT_EQ(1, result) << "2.20.5 is older than the target";

  std::string log;
  ASSERT_TRUE(ReadFileBytes(ProductFolder() + "\\Tidemark.log", &log));
  EXPECT_NE(std::string::npos, log.find("2.20.5"));
  EXPECT_NE(std::string::npos, log.find("\x95\x5c\x8e\xa6")) << "double-byte text in CP932";
  EXPECT_FALSE(FolderEntries(MaintenanceFolder()).empty());

  // The per-user settings: one value of each type and a sub-key.
  const char* key = product::kSettingsKey;
  DWORD type = 0;
  EXPECT_EQ(std::string("Taro Yamada\0", 12), Value(HKEY_CURRENT_USER, key, "UserName", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  const DWORD thirty = 30;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&thirty), 4),
            Value(HKEY_CURRENT_USER, key, "Interval", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(16u, Value(HKEY_CURRENT_USER, key, "Placement", &type).size());
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(std::string("C:\\Data\\harbor.tmk\0C:\\Data\\\x95\x5c.tmk\0\0", 35),
            Value(HKEY_CURRENT_USER, key, "RecentFiles", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ("%USERPROFILE%\\Tidemark", Text(HKEY_CURRENT_USER, key, "DataFolder"));
  Value(HKEY_CURRENT_USER, key, "DataFolder", &type);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  const std::string alarms = std::string(key) + "\\Alarms";
  EXPECT_EQ("chime.wav", Text(HKEY_CURRENT_USER, alarms.c_str(), "Sound"));

  EXPECT_EQ("\"" + ProductFolder() + "\\Tidemark.exe\" /autorun",
            Text(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue));
}

TEST_F(StandInTest, OldReleaseInstallLeavesOutWhatATestSkips) {
  ASSERT_TRUE(InstallOldRelease("--no-exe --no-log --no-settings --no-run-value --no-maintenance"));
  EXPECT_EQ(1, IsProductInstalled());
  EXPECT_FALSE(PathExists(ProductFolder() + "\\Tidemark.exe"));
  EXPECT_FALSE(PathExists(ProductFolder() + "\\Tidemark.log"));
  EXPECT_FALSE(PathExists(MaintenanceFolder()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_FALSE(RunValuePresent());
  int result = 42;
  EXPECT_EQ(0, CompareInstalledVersion(&result)) << "no executable, no comparison";
}

TEST_F(StandInTest, ProductRecordsEachStartWithItsCommandLine) {
  ASSERT_TRUE(InstallOldRelease());
  const std::string command = Text(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue);
  EXPECT_EQ(0, RunIn(command, ProductFolder()));
  EXPECT_EQ(0, RunIn(command + " second", ProductFolder()));
  const std::vector<std::string> starts = ReadTraceLines("starts.log");
  ASSERT_EQ(2u, starts.size());
  EXPECT_EQ(command, starts[0]);
  EXPECT_EQ(command + " second", starts[1]);
  const std::vector<std::string> folders = ReadTraceLines("start-folders.log");
  ASSERT_EQ(2u, folders.size());
  EXPECT_EQ(ProductFolder(), folders[0]);
  ASSERT_TRUE(CreateDirectoryA((ProductFolder() + "\\sub").c_str(), nullptr));
  EXPECT_EQ(0, RunIn(command, ProductFolder() + "\\sub"));
  EXPECT_EQ(ProductFolder() + "\\sub", ReadTraceLines("start-folders.log").back());
}

TEST_F(StandInTest, CleanUninstallRemovesEverything) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=clean"));
  EXPECT_EQ(0, RunRegisteredUninstaller());
  EXPECT_EQ(0, IsProductInstalled());
  EXPECT_FALSE(PathExists(ProductFolder()));
  EXPECT_FALSE(PathExists(MaintenanceFolder()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_FALSE(RunValuePresent());
  EXPECT_EQ(0, GetUninstallOutcome());
  // It was started with the registered command line in the Windows folder.
  const std::vector<std::string> runs = ReadTraceLines("uninstaller.log");
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ("\"" + StandInUninstallerPath() + "\" /mode=clean\t" + WindowsFolder(), runs[0]);
}

TEST_F(StandInTest, RestartUninstallLeavesAFileAndSchedulesItsRemoval) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=restart"));
  EXPECT_EQ(3010, RunRegisteredUninstaller());
  EXPECT_EQ(0, IsProductInstalled());
  EXPECT_FALSE(PathExists(MaintenanceFolder()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product::kSettingsKey));
  EXPECT_FALSE(RunValuePresent());
  const std::vector<std::string> left = FolderEntries(ProductFolder());
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(1, GetUninstallOutcome());

  // Both the file and the folder are scheduled for removal at the next restart, file first.
  const std::string file = ProductFolder() + "\\" + left[0];
  int fileIndex = -1, folderIndex = -1;
  const std::vector<std::string> pending = PendingRenameSources();
  for (size_t i = 0; i < pending.size(); ++i) {
    if (lstrcmpiA(pending[i].c_str(), file.c_str()) == 0) fileIndex = static_cast<int>(i);
    if (lstrcmpiA(pending[i].c_str(), ProductFolder().c_str()) == 0) {
      folderIndex = static_cast<int>(i);
    }
  }
  EXPECT_GE(fileIndex, 0) << file;
  EXPECT_GT(folderIndex, fileIndex);
  // The guard drops them again, so no later restart of the test prefix removes anything.
}

TEST_F(StandInTest, CancelledUninstallChangesNothing) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=cancel"));
  const std::vector<std::string> before = FolderEntries(ProductFolder());
  const std::string settingsBefore = Value(HKEY_CURRENT_USER, product::kSettingsKey, "Interval");
  EXPECT_EQ(1602, RunRegisteredUninstaller());
  EXPECT_EQ(1, IsProductInstalled());
  EXPECT_EQ(before, FolderEntries(ProductFolder()));
  EXPECT_TRUE(PathExists(MaintenanceFolder()));
  EXPECT_EQ(settingsBefore, Value(HKEY_CURRENT_USER, product::kSettingsKey, "Interval"));
  EXPECT_TRUE(RunValuePresent());
  EXPECT_EQ(2, GetUninstallOutcome());
}

TEST_F(StandInTest, FailedUninstallKeepsTheRegistration) {
  ASSERT_TRUE(InstallOldRelease("--uninstall-mode=fail"));
  EXPECT_EQ(1603, RunRegisteredUninstaller());
  EXPECT_EQ(1, IsProductInstalled());
  EXPECT_FALSE(PathExists(ProductFolder() + "\\Tidemark.exe")) << "some files are gone";
  EXPECT_TRUE(PathExists(ProductFolder() + "\\Tidemark.log"));
  EXPECT_EQ(2, GetUninstallOutcome());
}

// ---- The new release -----------------------------------------------------------------------

class NewSetupTest : public StandInTest {
 protected:
  void SetUp() override {
    // The updater unpacks the installer files into a folder of the temporary folder, whose path
    // commonly holds a blank, and starts "Setup.exe" there.
    for (const PayloadFile& file : kPayloadFiles) {
      const char* name = file.fileName;
      ASSERT_TRUE(CopyFileA((StandInNewReleaseFolder() + "\\" + name).c_str(),
                            folder_.Child(name).c_str(), FALSE))
          << name;
    }
  }
  int RunSetup() { return RunIn("\"" + folder_.Child("Setup.exe") + "\"", folder_.path()); }
  void ExpectNothingRegistered() {
    EXPECT_EQ(0, IsProductInstalled());
    EXPECT_FALSE(PathExists(MaintenanceFolder()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product::kSettingsKey));
  }

  ScopedTempFolder folder_{"Setup Files " + std::to_string(GetCurrentProcessId())};
};

TEST_F(NewSetupTest, InstallsRelease230111) {
  ASSERT_EQ(0, RunSetup());
  EXPECT_EQ(1, IsProductInstalled());
  EXPECT_EQ("2.30.111", Text(HKEY_LOCAL_MACHINE, product::kUninstallKey, "DisplayVersion"));
  EXPECT_EQ("2.30.111", InstalledVersion());
  int result = 42;
  ASSERT_EQ(1, CompareInstalledVersion(&result));
  EXPECT_EQ(0, result);

  std::string log;
  ASSERT_TRUE(ReadFileBytes(ProductFolder() + "\\Tidemark.log", &log));
  EXPECT_NE(std::string::npos, log.find("2.30.111"));
  EXPECT_EQ(std::string::npos, log.find("2.20.5"));

  // New defaults in the settings key, some of them unlike the old release's.
  const DWORD sixty = 60;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sixty), 4),
            Value(HKEY_CURRENT_USER, product::kSettingsKey, "Interval"));
  const std::string alarms = std::string(product::kSettingsKey) + "\\Alarms";
  EXPECT_EQ("default.wav", Text(HKEY_CURRENT_USER, alarms.c_str(), "Sound"));
  EXPECT_FALSE(RunValuePresent()) << "the autorun entry is the user's, not the setup's";

  // The registered uninstaller of the new release removes it again.
  EXPECT_TRUE(PathExists(StandInUninstallerPath()));
  EXPECT_EQ(0, RunRegisteredUninstaller());
  EXPECT_EQ(0, IsProductInstalled());
  EXPECT_EQ(0, GetUninstallOutcome());

  const std::vector<std::string> runs = ReadTraceLines("setup.log");
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ("\"" + folder_.Child("Setup.exe") + "\"\t" + folder_.path() + "\t0", runs[0]);
}

TEST_F(NewSetupTest, FailsOrIsCancelledOnRequestWithoutRegistration) {
  ASSERT_TRUE(SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", "fail"));
  const int failed = RunSetup();
  SetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", nullptr);
  EXPECT_EQ(1603, failed);
  ExpectNothingRegistered();
  RemoveProductState();

  // The marker file works where no environment can be passed (after a restart).
  CreateDirectoryA(kStandInTraceFolder, nullptr);
  const std::string marker = std::string(kStandInTraceFolder) + "\\setup-mode.txt";
  ASSERT_TRUE(WriteFileBytes(marker, "cancel\r\n"));
  EXPECT_EQ(1602, RunSetup());
  ExpectNothingRegistered();
  EXPECT_FALSE(PathExists(ProductFolder())) << "a cancelled setup writes nothing";

  ASSERT_TRUE(WriteFileBytes(marker, "Fail"));
  EXPECT_EQ(1603, RunSetup());
  ExpectNothingRegistered();

  ASSERT_TRUE(DeleteFileA(marker.c_str()));
  RemoveProductState();
  EXPECT_EQ(0, RunSetup()) << "without a request it installs";
  EXPECT_EQ(1, IsProductInstalled());
}

TEST_F(NewSetupTest, RefusesDamagedOrIncompleteInstallerFiles) {
  std::string cab;
  ASSERT_TRUE(ReadFileBytes(folder_.Child("data1.cab"), &cab));
  ASSERT_GT(cab.size(), 4096u);

  // One byte changed inside the stored program: the checksum catches it.
  std::string damaged = cab;
  damaged[cab.size() / 2] = static_cast<char>(damaged[cab.size() / 2] ^ 0x20);
  ASSERT_TRUE(WriteFileBytes(folder_.Child("data1.cab"), damaged));
  EXPECT_EQ(2, RunSetup());
  ExpectNothingRegistered();
  EXPECT_FALSE(PathExists(ProductFolder()));

  // Cut short.
  ASSERT_TRUE(WriteFileBytes(folder_.Child("data1.cab"), cab.substr(0, cab.size() - 100)));
  EXPECT_EQ(2, RunSetup());
  ExpectNothingRegistered();

  // Another installer file missing.
  ASSERT_TRUE(WriteFileBytes(folder_.Child("data1.cab"), cab));
  ASSERT_TRUE(DeleteFileA(folder_.Child("data2.cab").c_str()));
  EXPECT_EQ(2, RunSetup());
  ExpectNothingRegistered();
  EXPECT_FALSE(PathExists(ProductFolder()));
}

TEST(NewReleaseFiles, TenNonEmptyFilesWithTheLargeOneAcrossBlockBoundaries) {
  for (const PayloadFile& file : kPayloadFiles) {
    const char* name = file.fileName;
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((StandInNewReleaseFolder() + "\\" + name).c_str(),
                                     GetFileExInfoStandard, &data))
        << name;
    EXPECT_GT(data.nFileSizeLow, 0u) << name;
    if (std::string(name) == "data2.cab") {
      EXPECT_GT(data.nFileSizeLow, 102400u * 2);
      EXPECT_NE(0u, data.nFileSizeLow % 102400u);
    }
  }
}

}  // namespace
