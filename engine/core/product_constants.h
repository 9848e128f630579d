// What the updater knows about the product it updates: names, version, registry places and files.
// The stand-in releases of the test suite use the same constants, so both sides cannot drift apart.
#ifndef ENGINE_CORE_PRODUCT_CONSTANTS_H_
#define ENGINE_CORE_PRODUCT_CONSTANTS_H_

// The names spelled once; every constant below that contains one is made from it by joining
// string literals. Undefined again at the end of this header.
#define TIDEMARK_PRODUCT_GUID "{5E1B7A20-3C4D-4F8E-9A61-2D7C0B93E4F5}"
#define TIDEMARK_UPDATER_NAME "TidemarkSXUpdater"
#define TIDEMARK_LAUNCHER_FILE "TmkUpLauncher.exe"
#define TIDEMARK_VENDOR_KEY "SOFTWARE\\KORVANE SYSTEMS,INC."
#define TIDEMARK_NAMESPACE_ALIAS "TidemarkSX"

namespace product {

constexpr char kDisplayName[] = "Tidemark SX";
constexpr char kDisplayVersion[] = "2.30";
constexpr char kTargetVersion[] = "2.30.111";
// The product code: the name of its uninstall registration and of its maintenance folder, and what
// Windows Installer removes.
constexpr char kProductGuid[] = TIDEMARK_PRODUCT_GUID;

// HKEY_LOCAL_MACHINE: the product's uninstall registration; present exactly while it is installed.
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" TIDEMARK_PRODUCT_GUID;
constexpr char kUninstallStringValue[] = "UninstallString";
// REG_DWORD 1 when Windows Installer registered the release (its product code is the key's name).
constexpr char kWindowsInstallerValue[] = "WindowsInstaller";

// Under the program-files folder.
constexpr char kMaintenanceFolder[] =
    "InstallShield Installation Information\\" TIDEMARK_PRODUCT_GUID;
constexpr char kProgramFilesSubfolder[] = "KORVANE\\Tidemark SX";
constexpr char kMainExecutable[] = "Tidemark.exe";
constexpr char kLogFile[] = "Tidemark.log";

// Per-user places, relative to a hive under HKEY_USERS (or HKEY_CURRENT_USER).
constexpr char kSettingsKey[] = TIDEMARK_VENDOR_KEY "\\Tidesafe";
// Where a user's saved autorun entry is kept beside a Run value that changed since: a key of this
// name with "_<yyyymmdd-hhmmss>" added, beside the settings key (settings kept beside get the
// settings key's name with the same ending).
constexpr char kAutoRunKeptBesideKey[] = TIDEMARK_VENDOR_KEY "\\TidesafeAutoRun";
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kAutoRunValue[] = "Tidemark";

// The updater's own key under HKEY_LOCAL_MACHINE and its machine-wide resume entry.
constexpr char kUpdaterKey[] = TIDEMARK_VENDOR_KEY "\\" TIDEMARK_UPDATER_NAME;
constexpr char kResumeRunValue[] = TIDEMARK_UPDATER_NAME;
constexpr wchar_t kResumeRunValueW[] = L"" TIDEMARK_UPDATER_NAME;
constexpr char kLauncherFileName[] = TIDEMARK_LAUNCHER_FILE;
constexpr wchar_t kLauncherFileNameW[] = L"" TIDEMARK_LAUNCHER_FILE;
// The parent of the updates' work folders in the common application-data folder, which only
// administrators may change, and each update's protected work folder in it: this prefix, 16 hex
// digits.
constexpr char kWorkFolderParent[] = TIDEMARK_UPDATER_NAME;
constexpr char kWorkFolderPrefix[] = TIDEMARK_UPDATER_NAME "-";
// The folder in the work folders' parent, for administrators and SYSTEM only, where what was
// saved of a user who no longer exists is kept for good (the run log names each file).
constexpr char kKeptFolderName[] = "Kept";
// The run logs in the Windows folder's Temp: this prefix,
// "<yyyymmdd-hhmmss>_<process id>_<8 random hex digits>.log".
constexpr char kRunLogPrefix[] = TIDEMARK_UPDATER_NAME "_";

// One updater at a time (app/single_instance.h): its mutex in the private namespace bounded by the
// Administrators SID (the boundary's name, the namespace's alias and the mutex's name in it), and
// the mutex where the system has no private namespaces.
constexpr wchar_t kInstanceBoundaryName[] = L"" TIDEMARK_UPDATER_NAME;
constexpr wchar_t kInstanceNamespaceAlias[] = L"" TIDEMARK_NAMESPACE_ALIAS;
constexpr wchar_t kInstanceMutexName[] = L"" TIDEMARK_NAMESPACE_ALIAS "\\Updater";
constexpr char kGlobalInstanceMutexName[] = "Global\\" TIDEMARK_UPDATER_NAME;

// Custom resource type of the embedded files.
constexpr char kPayloadResourceType[] = "ZELNA";
constexpr int kLauncherResourceId = 148;

}  // namespace product

#undef TIDEMARK_PRODUCT_GUID
#undef TIDEMARK_UPDATER_NAME
#undef TIDEMARK_LAUNCHER_FILE
#undef TIDEMARK_VENDOR_KEY
#undef TIDEMARK_NAMESPACE_ALIAS

#endif  // ENGINE_CORE_PRODUCT_CONSTANTS_H_
