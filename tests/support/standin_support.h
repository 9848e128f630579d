// Test helpers around the stand-in releases of the product (standin/): where they put things, how
// to run them, and a guard that gives a test a machine without the product and puts back what
// was there before.
#ifndef TESTS_SUPPORT_STANDIN_SUPPORT_H_
#define TESTS_SUPPORT_STANDIN_SUPPORT_H_

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/standin_common.h"

namespace testing_support {

// Folder where the stand-ins leave their traces (starts.log and start-folders.log of the product,
// uninstaller.log, setup.log: one line per start, the command line and the working folder) and
// where the setup mode marker "setup-mode.txt" is read.
constexpr const char* kStandInTraceFolder = standin::kTraceFolder;

// The places the stand-ins themselves use.
using standin::MaintenanceFolder;   // <ProgramFiles>\InstallShield Installation Information\{GUID}
using standin::ProductFolder;       // <ProgramFiles>\KORVANE\Tidemark SX
using standin::ProgramFilesFolder;  // CSIDL_PROGRAM_FILES, no trailing backslash
inline std::string StandInUninstallerPath() { return standin::UninstallerPath(); }
std::string WindowsFolder();
// The common application-data folder (CSIDL_COMMON_APPDATA), where the updater's work folders lie.
std::string CommonAppDataFolder();

// A stand-in program of the build (all programs are in the test program's folder).
std::string StandInProgram(const std::string& fileName);
// The stand-in new release's folder with its ten installer files (kPayloadFiles; the build's
// default payload folder).
std::string StandInNewReleaseFolder();

// Runs a command line with the given working folder (empty: inherit) and waits; exit code or -1.
int RunIn(const std::string& commandLine, const std::string& workingFolder,
          DWORD timeoutMs = 60000);
// Installs the stand-in old release 2.20.5 with the given extra options; succeeds on exit code
// 0, and otherwise reports the exit code (the failed step and its system error code).
::testing::AssertionResult InstallOldRelease(const std::string& options = "");
// Runs the registered "UninstallString" as the updater does (as stored, Windows folder as working
// folder); the uninstaller's exit code, or -1 when there is no registration or it cannot start.
int RunRegisteredUninstaller();

// Lines of a trace file of the stand-ins (empty when it does not exist).
std::vector<std::string> ReadTraceLines(const std::string& fileName);

// Source paths ("\??\" prefix removed) of the removals and renames scheduled for the next restart.
std::vector<std::string> PendingRenameSources();
// Drops every scheduled rename whose source lies in or is the folder.
void DropPendingRenamesUnder(const std::string& folder);

// Removes every trace of the product: registration, product folder, maintenance folder, the
// current user's settings key and Run value, the stand-in uninstaller, scheduled removals in the
// product folder and the stand-ins' trace folder.
void RemoveProductState();

// For the lifetime of the object the machine holds no product: whatever product state existed
// (registration, product and maintenance folders, the user's settings key and Run value) is moved
// aside on construction and put back on destruction, after the test's leftovers are removed.
class ScopedProductState {
 public:
  ScopedProductState();
  ~ScopedProductState();
  ScopedProductState(const ScopedProductState&) = delete;
  ScopedProductState& operator=(const ScopedProductState&) = delete;

 private:
  bool savedUninstallKey_ = false;
  bool savedSettingsKey_ = false;
  bool hadRunValue_ = false;
  DWORD runType_ = 0;
  std::string runData_;
  bool savedProductFolder_ = false;
  bool savedMaintenanceFolder_ = false;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_STANDIN_SUPPORT_H_
