// Shared helpers of the STAND-IN releases of the product (test support only; never shipped).
// The stand-ins play the product, its old installer and uninstaller and the new release's setup
// program so that the updater can be exercised end to end without the real programs.
#ifndef STANDIN_STANDIN_COMMON_H_
#define STANDIN_STANDIN_COMMON_H_

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// Folder where the stand-ins leave traces for the tests (start records, setup mode marker).
constexpr char kTraceFolder[] = "C:\\tidemark-standin";
// File name of the stand-in uninstaller, kept in <ProgramFiles>\KORVANE, outside the product
// folder and the maintenance folder, so that it never has to remove itself.
constexpr char kUninstallerFileName[] = "TidemarkStandInUninstall.exe";
// Extra file that every stand-in installation puts into the product folder; the "restart" mode
// of the stand-in uninstaller leaves it behind for removal at the next restart.
constexpr char kLockedFileName[] = "TidemarkShell.dll";
// Sub-key of the settings key that the stand-ins fill.
constexpr char kSettingsSubkey[] = "Alarms";
// The stand-in product started with this argument keeps running, with a window of this class,
// until it is closed; then it appends kClosingLogLine to the Tidemark.log beside it.
constexpr char kStayArgument[] = "/stay";
constexpr char kProductWindowClass[] = "TidemarkStandInProduct";
// While this file exists in the trace folder, every stand-in product that stays closes, as Close
// on its window does.
constexpr char kProductCloseRequest[] = "close-product.txt";
constexpr char kClosingLogLine[] = "2026/12/08 09:30:00 Tidemark SX stop (closed by the user)\r\n";

// Starts a command line in a folder without waiting; false when it cannot start.
bool StartDetached(const std::string& commandLine, const std::string& folder);
// Waits until the process with this id has ended (at once when it cannot be opened).
void WaitForProcessEnd(DWORD processId);

std::string ModuleFolder();        // folder of the running executable
std::string ProgramFilesFolder();  // without trailing backslash; "" on failure
std::string ProductFolder();       // <ProgramFiles>\KORVANE\Tidemark SX
std::string MaintenanceFolder();   // <ProgramFiles>\InstallShield Installation Information\{GUID}
std::string CompanyFolder();       // <ProgramFiles>\KORVANE
std::string UninstallerPath();     // <ProgramFiles>\KORVANE\TidemarkStandInUninstall.exe

bool CreateFolders(const std::string& path);  // every missing level
bool RemoveTree(const std::string& path);     // true when the path is gone
bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string* bytes);  // others may keep it open for writing

// Appends one line to C:\tidemark-standin\<file>, creating the folder.
void AppendTrace(const char* file, const std::string& line);

// Where a test interrupts an update: while C:\tidemark-standin\pause-at.txt holds `point`, the
// stand-in writes the point into paused.txt there and waits until pause-at.txt is gone (or the
// power goes). Points: "uninstall-start", "uninstall-log-removed", "setup-files",
// "setup-registered".
void PauseIfAsked(const char* point);

bool SetString(HKEY root, const char* key, const char* name, const std::string& value,
               DWORD type = REG_SZ);
bool SetDword(HKEY root, const char* key, const char* name, DWORD value);
bool SetBinary(HKEY root, const char* key, const char* name, const void* data, DWORD size);
bool SetBinaryTyped(HKEY root, const char* key, const char* name, DWORD type, const void* data,
                    DWORD size);

// Writes the product's uninstall registration with the given uninstaller command line.
bool WriteUninstallRegistration(const std::string& uninstallString, const char* displayVersion);

// Command-line arguments of the running process (ANSI).
std::vector<std::string> Arguments();
// "--name=value" → value, or fallback when the option is absent.
std::string OptionValue(const std::vector<std::string>& args, const std::string& name,
                        const std::string& fallback);
bool HasFlag(const std::vector<std::string>& args, const std::string& flag);

}  // namespace standin

#endif  // STANDIN_STANDIN_COMMON_H_
