// STAND-IN uninstaller of the old release (test support only). It does all its work in the
// process that was started and ends when the removal is over, except in the self-copy mode. It
// lives outside the product folder and the maintenance folder, so it never has to remove itself.
// The removal it plays comes from its command line (as stored in "UninstallString"):
//   /mode=clean    remove the registration, the product folder, the maintenance folder, the
//                  current user's settings key and Run value (exit code 0);
//   /mode=restart  the same, but one program file stays in the product folder; its removal and
//                  the folder's are scheduled for the next restart (exit code 3010);
//   /mode=cancel   change nothing: the user cancelled (exit code 1602);
//   /mode=fail     remove the main executable only; the registration stays (exit code 1603);
//   /mode=self-copy  as many real uninstallers do: copy itself into the temporary folder, start
//                  the copy and return 0 at once; the copy waits until the first has ended,
//                  pauses, then does the clean removal.
// Each start is recorded in C:\tidemark-standin\uninstaller.log with its command line and
// working folder.
#include <windows.h>
#include <shlwapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/product_constants.h"
#include "standin/standin_common.h"

namespace {

void RemoveUserState() {
  SHDeleteKeyA(HKEY_CURRENT_USER, product::kSettingsKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\KORVANE SYSTEMS,INC.");  // only when empty
  HKEY run = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, product::kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
    RegDeleteValueA(run, product::kAutoRunValue);
    RegCloseKey(run);
  }
}

void RemoveRegistrationAndMaintenance() {
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
  const std::string maintenance = standin::MaintenanceFolder();
  standin::RemoveTree(maintenance);
  // The installer's common folder goes too once no other product uses it.
  RemoveDirectoryA(maintenance.substr(0, maintenance.find_last_of('\\')).c_str());
}

// Removes everything in the product folder except `keep` (a file name, or "" for nothing).
void EmptyProductFolder(const std::string& folder, const std::string& keep) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == ".." || lstrcmpiA(name.c_str(), keep.c_str()) == 0) continue;
    standin::RemoveTree(folder + "\\" + name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

}  // namespace

int main() {
  char cwd[MAX_PATH * 2] = "";
  GetCurrentDirectoryA(sizeof(cwd), cwd);
  standin::AppendTrace("uninstaller.log", std::string(GetCommandLineA()) + "\t" + cwd);

  const std::vector<std::string> args = standin::Arguments();
  const std::string mode = standin::OptionValue(args, "/mode", "clean");
  const std::string folder = standin::ProductFolder();
  if (mode == "self-copy") {
    char temp[MAX_PATH] = "";
    const DWORD length = GetTempPathA(sizeof(temp), temp);
    if (length == 0 || length >= sizeof(temp)) return 1603;
    const std::string copy = std::string(temp) + "TidemarkStandInUninstall-copy.exe";
    char self[MAX_PATH * 2] = "";
    GetModuleFileNameA(nullptr, self, sizeof(self));
    if (!CopyFileA(self, copy.c_str(), FALSE) ||
        !standin::StartDetached(
            "\"" + copy + "\" /mode=clean /after=" + std::to_string(GetCurrentProcessId()), temp)) {
      return 1603;
    }
    return 0;
  }
  const std::string after = standin::OptionValue(args, "/after", "");
  if (!after.empty()) {
    standin::WaitForProcessEnd(static_cast<DWORD>(strtoul(after.c_str(), nullptr, 10)));
    Sleep(1500);
  }
  standin::PauseIfAsked("uninstall-start");

  if (mode == "cancel") return 1602;
  if (mode == "fail") {
    DeleteFileA((folder + "\\" + product::kMainExecutable).c_str());
    return 1603;
  }
  if (mode == "restart") {
    RemoveRegistrationAndMaintenance();
    RemoveUserState();
    EmptyProductFolder(folder, standin::kLockedFileName);
    const std::string locked = folder + "\\" + standin::kLockedFileName;
    if (!MoveFileExA(locked.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ||
        !MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      return 1603;
    }
    return 3010;
  }
  // clean: the user's log goes first (a test may cut the power right after it)
  DeleteFileA((folder + "\\" + product::kLogFile).c_str());
  standin::PauseIfAsked("uninstall-log-removed");
  RemoveRegistrationAndMaintenance();
  RemoveUserState();
  return standin::RemoveTree(folder) ? 0 : 1603;
}
