// What the updater knows about the product it updates: names, version, registry places and files.
// The stand-in releases of the test suite use the same constants, so both sides cannot drift apart.
#ifndef ENGINE_CORE_PRODUCT_CONSTANTS_H_
#define ENGINE_CORE_PRODUCT_CONSTANTS_H_

namespace product {

constexpr char kDisplayName[] = "Tidemark SX";
constexpr char kDisplayVersion[] = "2.30";
constexpr char kTargetVersion[] = "2.30.111";
constexpr char kProductGuid[] = "{5E1B7A20-3C4D-4F8E-9A61-2D7C0B93E4F5}";

// HKEY_LOCAL_MACHINE: the product's uninstall registration; present exactly while it is installed.
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5E1B7A20-3C4D-4F8E-9A61-2D7C0B93E4F5}";
constexpr char kUninstallStringValue[] = "UninstallString";
// REG_DWORD 1 when Windows Installer registered the release (its product code is the key's name).
constexpr char kWindowsInstallerValue[] = "WindowsInstaller";

// Under the program-files folder.
constexpr char kMaintenanceFolder[] =
    "InstallShield Installation Information\\{5E1B7A20-3C4D-4F8E-9A61-2D7C0B93E4F5}";
constexpr char kProgramFilesSubfolder[] = "KORVANE\\Tidemark SX";
constexpr char kMainExecutable[] = "Tidemark.exe";
constexpr char kLogFile[] = "Tidemark.log";

// Per-user places, relative to a hive under HKEY_USERS (or HKEY_CURRENT_USER).
constexpr char kSettingsKey[] = "SOFTWARE\\KORVANE SYSTEMS,INC.\\Tidesafe";
// Where a user's saved autorun entry is kept beside a Run value that changed since: a key of this
// name with "_<yyyymmdd-hhmmss>" added, beside the settings key (settings kept beside get the
// settings key's name with the same ending).
constexpr char kAutoRunKeptBesideKey[] = "SOFTWARE\\KORVANE SYSTEMS,INC.\\TidesafeAutoRun";
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kAutoRunValue[] = "Tidemark";

// The updater's own key under HKEY_LOCAL_MACHINE and its machine-wide resume entry.
constexpr char kUpdaterKey[] = "SOFTWARE\\KORVANE SYSTEMS,INC.\\TidemarkSXUpdater";
constexpr char kResumeRunValue[] = "TidemarkSXUpdater";
constexpr wchar_t kResumeRunValueW[] = L"TidemarkSXUpdater";
constexpr char kLauncherFileName[] = "TmkUpLauncher.exe";
constexpr wchar_t kLauncherFileNameW[] = L"TmkUpLauncher.exe";
// The parent of the updates' work folders in the common application-data folder, which only
// administrators may change, and each update's protected work folder in it: this prefix, 16 hex
// digits.
constexpr char kWorkFolderParent[] = "TidemarkSXUpdater";
constexpr char kWorkFolderPrefix[] = "TidemarkSXUpdater-";
// The folder in the work folders' parent, for administrators and SYSTEM only, where what was
// saved of a user who no longer exists is kept for good (the run log names each file).
constexpr char kKeptFolderName[] = "Kept";
// The run logs in the Windows folder's Temp: this prefix,
// "<yyyymmdd-hhmmss>_<process id>_<8 random hex digits>.log".
constexpr char kRunLogPrefix[] = "TidemarkSXUpdater_";

// Custom resource type of the embedded files.
constexpr char kPayloadResourceType[] = "ZELNA";
constexpr int kLauncherResourceId = 148;

}  // namespace product

#endif  // ENGINE_CORE_PRODUCT_CONSTANTS_H_
