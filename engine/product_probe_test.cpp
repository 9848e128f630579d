// The product probe on the real (Wine) registry and file system. The version comparison is
// driven through real executables with real version resources (the stand-in Tidemark builds)
// placed into the product folder, the way the updater meets them on a machine.
#include "engine/product_probe.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "engine/core/product_constants.h"
#include "engine/update_stage.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace testing_support;

class ProductProbeTest : public ::testing::Test {
 protected:
  void MakeProductFolder() {
    CreateDirectoryA((ProgramFilesFolder() + "\\KORVANE").c_str(), nullptr);
    CreateDirectoryA(ProductFolder().c_str(), nullptr);
    ASSERT_TRUE(PathExists(ProductFolder()));
  }
  void PlaceMainExecutable(const std::string& standInFile) {
    MakeProductFolder();
    ASSERT_TRUE(CopyFileA(StandInProgram(standInFile).c_str(),
                          (ProductFolder() + "\\Tidemark.exe").c_str(), FALSE))
        << standInFile;
  }
  void Register() {
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey, "UninstallString",
                               "\"C:\\nowhere\\uninstall.exe\""));
  }

  ScopedProductState clean_;
};

TEST_F(ProductProbeTest, InstallFolderIsUnderProgramFilesWithoutTrailingBackslash) {
  char buffer[520];
  memset(buffer, 'x', sizeof(buffer));
  ASSERT_NE(0, GetProductInstallFolder(buffer));
  EXPECT_EQ(ProductFolder(), std::string(buffer));
  EXPECT_NE('\\', buffer[strlen(buffer) - 1]);
  EXPECT_FALSE(PathExists(buffer)) << "the probe must not create the folder";
}

TEST_F(ProductProbeTest, ProductInstalledExactlyWhileTheRegistrationExists) {
  EXPECT_EQ(0, IsProductInstalled());
  // Files alone do not make an installation.
  PlaceMainExecutable("Tidemark-2.20.5.exe");
  EXPECT_EQ(0, IsProductInstalled());
  Register();
  EXPECT_EQ(1, IsProductInstalled());
  // An empty registration key still counts: no value is read.
  ASSERT_EQ(ERROR_SUCCESS,
            SHDeleteValueA(HKEY_LOCAL_MACHINE, product::kUninstallKey, "UninstallString"));
  EXPECT_EQ(1, IsProductInstalled());
}

struct VersionCase {
  const char* standInFile;
  const char* fileVersion;
  int expected;
};

TEST_F(ProductProbeTest, CompareInstalledVersionReadsEveryEdgeCaseFromARealExecutable) {
  const VersionCase cases[] = {
      {"Tidemark-2.30.111.exe", "2.30.111", 0},
      {"Tidemark-2.30.110.exe", "2.30.110", 1},
      {"Tidemark-2.30.112.exe", "2.30.112", -1},
      {"Tidemark-2.30.exe", "2.30", 0},
      {"Tidemark-2.30.111.7.exe", "2.30.111.7", 0},
      {"Tidemark-2.4.999.exe", "2.4.999", 1},
      {"Tidemark-3.0.exe", "3.0", -1},
      {"Tidemark-2.30.0111.exe", "2.30.0111", 0},
      {"Tidemark-empty.exe", "", 1},
      {"Tidemark-commas.exe", "2, 30, 111, 0", 0},
      {"Tidemark-2.20.5.exe", "2.20.5", 1},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.standInFile);
    PlaceMainExecutable(c.standInFile);
    base::Text version = "unchanged";
    ASSERT_NE(0, GetFileVersionString((ProductFolder() + "\\Tidemark.exe").c_str(), version));
    EXPECT_EQ(c.fileVersion, version);
    int result = 42;
    ASSERT_EQ(1, CompareInstalledVersion(&result));
    EXPECT_EQ(c.expected, result);
  }
}

TEST_F(ProductProbeTest, CompareInstalledVersionMakesNoComparisonWithoutAVersion) {
  int result = 42;
  // No product folder at all.
  EXPECT_EQ(0, CompareInstalledVersion(&result));
  EXPECT_EQ(42, result);
  // A folder without the main executable (the log file alone).
  MakeProductFolder();
  ASSERT_TRUE(WriteFileBytes(ProductFolder() + "\\Tidemark.log", "log\r\n"));
  EXPECT_EQ(0, CompareInstalledVersion(&result));
  EXPECT_EQ(42, result);
  // A main executable without any version resource.
  PlaceMainExecutable("Tidemark-noversion.exe");
  EXPECT_EQ(0, CompareInstalledVersion(&result));
  EXPECT_EQ(42, result);
  // Something that is not a program at all under the executable's name.
  ASSERT_TRUE(WriteFileBytes(ProductFolder() + "\\Tidemark.exe", "MZ but nothing more"));
  EXPECT_EQ(0, CompareInstalledVersion(&result));
  EXPECT_EQ(42, result);
}

TEST_F(ProductProbeTest, FileVersionStringFailsWithoutVersionDataAndKeepsTheText) {
  ScopedTempFolder folder;
  const std::string text = folder.Child("plain.txt");
  ASSERT_TRUE(WriteFileBytes(text, "no version here"));
  base::Text version = "kept";
  EXPECT_EQ(0, GetFileVersionString(text.c_str(), version));
  EXPECT_EQ("kept", version);
  EXPECT_EQ(0, GetFileVersionString(StandInProgram("Tidemark-noversion.exe").c_str(), version));
  EXPECT_EQ("kept", version);
  EXPECT_EQ(0, GetFileVersionString(folder.Child("missing.exe").c_str(), version));
  EXPECT_EQ("kept", version);
  // A path with a blank and double-byte characters reads like any other.
  const std::string odd = folder.Child("\x83\x65\x83\x58\x83\x67 \x95\x5c.exe");
  ASSERT_TRUE(CopyFileA(StandInProgram("Tidemark-2.30.112.exe").c_str(), odd.c_str(), FALSE));
  EXPECT_NE(0, GetFileVersionString(odd.c_str(), version));
  EXPECT_EQ("2.30.112", version);
}

TEST(VersionSegmentRule, TextAroundTheNumbersFollowsTheAtoiRule) {
  // Leading blanks are skipped, text after the digits of a segment is ignored, a segment without
  // digits reads 0, and a number too large for an int compares as newer instead of wrapping.
  EXPECT_EQ(0, CompareWithTargetVersion(" 2. 30 .111"));
  EXPECT_EQ(0, CompareWithTargetVersion("2.30beta.111rc1"));
  EXPECT_EQ(1, CompareWithTargetVersion("2.x.111"));
  EXPECT_EQ(1, CompareWithTargetVersion("-3.0"));
  EXPECT_EQ(0, CompareWithTargetVersion("+2.30.111"));
  EXPECT_EQ(-1, CompareWithTargetVersion("99999999999999999999999.0"));
  EXPECT_EQ(-1, CompareWithTargetVersion("2.4294967326.0"));
  // A trailing or doubled dot opens an empty segment, which reads 0.
  EXPECT_EQ(1, CompareWithTargetVersion("2.30."));
  EXPECT_EQ(1, CompareWithTargetVersion("2.30..5"));
}

TEST_F(ProductProbeTest, UninstallOutcomeWhileTheRegistrationRemains) {
  Register();
  EXPECT_EQ(2, GetUninstallOutcome()) << "no folder";
  MakeProductFolder();
  EXPECT_EQ(2, GetUninstallOutcome()) << "empty folder";
  ASSERT_TRUE(WriteFileBytes(ProductFolder() + "\\Tidemark.log", "log"));
  EXPECT_EQ(2, GetUninstallOutcome()) << "folder with a file";
}

TEST_F(ProductProbeTest, UninstallOutcomeWhileTheMaintenanceFolderRemains) {
  const std::string maintenance = MaintenanceFolder();
  CreateDirectoryA(maintenance.substr(0, maintenance.find_last_of('\\')).c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryA(maintenance.c_str(), nullptr));
  EXPECT_EQ(2, GetUninstallOutcome());
  ASSERT_TRUE(WriteFileBytes(maintenance + "\\setup.ilg", "x"));
  EXPECT_EQ(2, GetUninstallOutcome());
  RemoveTree(maintenance);
  EXPECT_EQ(0, GetUninstallOutcome()) << "the folder is gone again";
}

TEST_F(ProductProbeTest, UninstallOutcomeIgnoresAMaintenanceFolderInTheCurrentDirectory) {
  // The installer keeps the folder under the program-files folder; a folder of that name in
  // whatever directory the updater happens to run from says nothing about the product.
  ScopedTempFolder folder;
  ASSERT_TRUE(
      CreateDirectoryA(folder.Child("InstallShield Installation Information").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(
      folder.Child(std::string("InstallShield Installation Information\\") + product::kProductGuid)
          .c_str(),
      nullptr));
  char previous[MAX_PATH * 2];
  GetCurrentDirectoryA(sizeof(previous), previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
  const int outcome = GetUninstallOutcome();
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(0, outcome);
}

TEST_F(ProductProbeTest, UninstallOutcomeFromWhatTheProductFolderHolds) {
  EXPECT_EQ(0, GetUninstallOutcome()) << "no folder";
  MakeProductFolder();
  EXPECT_EQ(0, GetUninstallOutcome()) << "empty folder";
  ASSERT_TRUE(WriteFileBytes(ProductFolder() + "\\Tidemark.log", "log"));
  EXPECT_EQ(1, GetUninstallOutcome()) << "one file left";
  ASSERT_TRUE(DeleteFileA((ProductFolder() + "\\Tidemark.log").c_str()));
  ASSERT_TRUE(CreateDirectoryA((ProductFolder() + "\\empty").c_str(), nullptr));
  EXPECT_EQ(1, GetUninstallOutcome()) << "an empty subfolder is still an entry";
  RemoveTree(ProductFolder());
  // A plain file where the folder should be: something exists, but it is no folder with
  // entries; it cannot be listed and counts as empty.
  ASSERT_TRUE(WriteFileBytes(ProductFolder(), "not a folder"));
  EXPECT_EQ(0, GetUninstallOutcome());
  DeleteFileA(ProductFolder().c_str());
}

TEST(CommonControlsVersion, ReadsDllGetVersionOrGivesZero) {
  EXPECT_EQ(0u, GetCommonControlsVersion("kernel32.dll")) << "no DllGetVersion";
  EXPECT_EQ(0u, GetCommonControlsVersion("no-such-library-here.dll"));
  const DWORD plain = GetCommonControlsVersion("comctl32.dll");
  EXPECT_GE(plain >> 16, 5u) << std::hex << plain;
  EXPECT_LE(plain >> 16, 6u) << std::hex << plain;
}

// A library whose DllGetVersion answers as the test chooses (the system's own comctl32 under this
// Wine reports one fixed version).
TEST(CommonControlsVersion, PacksMajorAndMinorAndRefusesAFailedCall) {
  const std::string dll = StandInProgram("fake_dll_version.dll");
  ASSERT_TRUE(PathExists(dll));
  SetEnvironmentVariableA("FAKE_DLL_VERSION", "6.0");
  EXPECT_EQ(0x60000u, GetCommonControlsVersion(dll.c_str()));
  SetEnvironmentVariableA("FAKE_DLL_VERSION", "wide");
  EXPECT_EQ(0x0006000Au, GetCommonControlsVersion(dll.c_str())) << "each part keeps 16 bits";
  SetEnvironmentVariableA("FAKE_DLL_VERSION", "fail");
  EXPECT_EQ(0u, GetCommonControlsVersion(dll.c_str()));
  SetEnvironmentVariableA("FAKE_DLL_VERSION", nullptr);
  // The library is released again after each call.
  EXPECT_EQ(nullptr, GetModuleHandleA(dll.c_str()));
}

TEST(SupportedWindows, ThisSystemQualifies) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExA(&info));
#pragma GCC diagnostic pop
  ASSERT_GE(info.dwMajorVersion, 6u) << "the test system reports an old Windows";
  EXPECT_EQ(1, IsSupportedWindows());
}

// The gate as the system reports different versions: a helper program calls IsSupportedWindows
// and returns 10 + its result; Wine's per-program version setting makes the system report the
// chosen Windows version to that program only.
TEST(SupportedWindows, RefusesVersionFiveAndAcceptsSixAndLater) {
  const std::string helper = StandInProgram("os_gate_probe.exe");
  ASSERT_TRUE(PathExists(helper));
  const std::string key = "Software\\Wine\\AppDefaults\\os_gate_probe.exe";
  ScopedRegistryCleanup cleanup(HKEY_CURRENT_USER, key);
  const struct {
    const char* version;
    int expected;
  } cases[] = {{"winxp", 10}, {"win2003", 10}, {"vista", 11}, {"win7", 11}, {"win10", 11}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, key, "Version", c.version));
    EXPECT_EQ(c.expected, RunAndWait("\"" + helper + "\""));
  }
}

}  // namespace
