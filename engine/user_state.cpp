#include "engine/user_state.h"

#include <sddl.h>
#include <shlwapi.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/product_start.h"
#include "engine/registry_compare.h"

namespace {

constexpr size_t kHiveNameSize = 256;
constexpr size_t kKeyPathSize = 260;
constexpr size_t kCommandLineSize = 512;

using ConvertSidToStringSidAFunction = BOOL(WINAPI*)(PSID, LPSTR*);

bool BuildHivePath(const char* hiveName, const char* subkey, char (&path)[kKeyPathSize]) {
  return base::FormatBounded(path, sizeof(path), "%s\\%s", hiveName, subkey);
}

// True when the name is a string SID ("S-1-..."), the only kind of name GetUserHiveName records
// and a user's hive has.
bool IsUserHiveName(const char* hiveName) {
  PSID sid = nullptr;
  if ((hiveName[0] != 'S' && hiveName[0] != 's') || hiveName[1] != '-' ||
      !ConvertStringSidToSidA(hiveName, &sid)) {
    return false;
  }
  base::ScopedLocalMemory owned(sid);
  return true;
}

// Removes the saved autorun entry from the updater key, written through to the disk.
void DropAutoRunRecord() {
  WriteUpdaterString(nullptr, updater_value::kUserId, nullptr);
  WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, nullptr);
  WriteUpdaterDword(nullptr, updater_value::kAutoRunType, 0, TRUE);
  FlushUpdaterKey();
}

// A restore step that the system refused: the user sees the system's text, and the saved state
// stays for the next start.
BOOL RestoreFailed(LONG code) {
  ShowSystemErrorBox(static_cast<DWORD>(code));
  return FALSE;
}

// The user's Run value "Tidemark" in the hive into commandLine (terminated), with its type; false
// when there is no Run key, no such value, or one too long for the buffer.
bool ReadAutoRunValue(const char* hiveName, char (&commandLine)[kCommandLineSize], DWORD* type) {
  char runKeyPath[kKeyPathSize];
  base::ScopedRegKey runKey;
  DWORD size = sizeof(commandLine);
  return BuildHivePath(hiveName, product::kRunKey, runKeyPath) &&
         RegOpenKeyExA(HKEY_USERS, runKeyPath, 0, KEY_QUERY_VALUE, runKey.receive()) ==
             ERROR_SUCCESS &&
         RegQueryValueExA(runKey.get(), product::kAutoRunValue, nullptr, type,
                          reinterpret_cast<BYTE*>(commandLine), &size) == ERROR_SUCCESS &&
         base::TerminateRegistryString(commandLine, sizeof(commandLine), size);
}

// True while the hive is loaded under HKEY_USERS.
bool IsHiveLoaded(const char* hiveName) {
  base::ScopedRegKey hive;
  return RegOpenKeyExA(HKEY_USERS, hiveName, 0, KEY_QUERY_VALUE, hive.receive()) == ERROR_SUCCESS;
}

// The token of the user at the desktop: that of the desktop shell's process, or the updater's own
// where no shell window exists.
bool OpenDesktopUserToken(base::ScopedHandle* token) {
  const HWND shell = GetShellWindow();
  if (shell == nullptr) {
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token->receive()) != FALSE;
  }
  DWORD processId = 0;
  if (GetWindowThreadProcessId(shell, &processId) == 0) return false;
  base::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  return process && OpenProcessToken(process.get(), TOKEN_QUERY, token->receive()) != FALSE;
}

// commandLine with its environment variables expanded into expanded[kCommandLineSize]; false when
// the result does not fit.
bool ExpandCommandLine(const char* commandLine, char (&expanded)[kCommandLineSize]) {
  // The ANSI function may need one byte more than the text it writes.
  const DWORD room = sizeof(expanded) - 1;
  const DWORD needed = ExpandEnvironmentStringsA(commandLine, expanded, room);
  expanded[room] = '\0';
  if (needed == 0 || needed > room) {
    expanded[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

BOOL GetTokenUserSid(HANDLE token, char* text, size_t size) {
  text[0] = '\0';
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } owner;
  DWORD length = 0;
  if (!GetTokenInformation(token, TokenUser, &owner, sizeof(owner), &length)) return FALSE;

  base::ScopedLibrary advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return FALSE;
  const auto convert = reinterpret_cast<ConvertSidToStringSidAFunction>(
      reinterpret_cast<void*>(GetProcAddress(advapi.get(), "ConvertSidToStringSidA")));
  if (convert == nullptr) return FALSE;

  LPSTR sid = nullptr;
  if (!convert(owner.user.User.Sid, &sid)) return FALSE;
  base::ScopedLocalMemory owned(sid);
  return base::CopyBounded(text, size, sid) ? TRUE : FALSE;
}

BOOL GetUserHiveName(char* hiveName) {
  hiveName[0] = '\0';
  base::ScopedHandle token;
  if (!OpenDesktopUserToken(&token)) return FALSE;
  return GetTokenUserSid(token.get(), hiveName, kHiveNameSize);
}

BOOL CaptureUserState() {
  if (!CaptureAutoRun()) return FALSE;
  return SnapshotUserSettings();
}

BOOL CaptureAutoRun() {
  char hiveName[kHiveNameSize];
  if (!GetUserHiveName(hiveName)) return FALSE;
  char commandLine[kCommandLineSize];
  DWORD type = REG_NONE;
  // No Run key, no value, not a string, or one too long to be kept: nothing to save.
  if (!ReadAutoRunValue(hiveName, commandLine, &type) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return TRUE;
  }

  if (!WriteUpdaterString(nullptr, updater_value::kUserId, hiveName)) return FALSE;
  if (!WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, commandLine)) return FALSE;
  if (!WriteUpdaterDword(nullptr, updater_value::kAutoRunType, type, FALSE)) return FALSE;
  RunLogWrite("capture: autorun entry of %s saved: %s", hiveName, commandLine);
  return TRUE;
}

BOOL SnapshotUserSettings() {
  base::ScopedRegKey updaterKey;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, product::kUpdaterKey, 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, updaterKey.receive(),
                      nullptr) != ERROR_SUCCESS) {
    return FALSE;
  }

  for (DWORD index = 0;; ++index) {
    char hiveName[kKeyPathSize];
    DWORD nameSize = sizeof(hiveName);
    if (RegEnumKeyExA(HKEY_USERS, index, hiveName, &nameSize, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    char settingsPath[kKeyPathSize];
    if (!BuildHivePath(hiveName, product::kSettingsKey, settingsPath)) continue;
    {
      base::ScopedRegKey settings;
      if (RegOpenKeyExA(HKEY_USERS, settingsPath, 0, KEY_READ, settings.receive()) !=
          ERROR_SUCCESS) {
        continue;  // this hive has no settings of the product
      }
    }
    base::ScopedRegKey snapshot;
    if (RegCreateKeyExA(updaterKey.get(), hiveName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, snapshot.receive(), nullptr) != ERROR_SUCCESS) {
      break;
    }
    if (SHCopyKeyA(HKEY_USERS, settingsPath, snapshot.get(), 0) != ERROR_SUCCESS) break;
    RunLogWrite("capture: settings of hive %s saved", hiveName);
  }
  return TRUE;
}

BOOL RestoreUserState() {
  if (!RestoreUserSettings()) return FALSE;
  return RestoreAutoRun();
}

BOOL IsUserStateInPlace() {
  char hiveName[kHiveNameSize];
  char saved[kCommandLineSize];
  if (ReadUpdaterString(nullptr, updater_value::kUserId, hiveName, sizeof(hiveName)) &&
      ReadUpdaterString(nullptr, updater_value::kAutoRunCommandLine, saved, sizeof(saved))) {
    char live[kCommandLineSize];
    DWORD type = REG_NONE;
    DWORD savedType = REG_SZ;
    if (!ReadUpdaterDword(nullptr, updater_value::kAutoRunType, &savedType)) savedType = REG_SZ;
    if (!ReadAutoRunValue(hiveName, live, &type) || lstrcmpA(live, saved) != 0 ||
        type != savedType) {
      return FALSE;
    }
  }
  base::ScopedRegKey updaterKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUpdaterKey, 0, KEY_READ,
                    updaterKey.receive()) != ERROR_SUCCESS) {
    return TRUE;
  }
  for (DWORD index = 0;; ++index) {
    char snapshot[kKeyPathSize];
    DWORD nameSize = sizeof(snapshot);
    if (RegEnumKeyExA(updaterKey.get(), index, snapshot, &nameSize, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      return TRUE;
    }
    if (!IsHiveLoaded(snapshot)) continue;
    // Every saved value is still there with its type and data.
    char settingsPath[kKeyPathSize];
    base::ScopedRegKey settings;
    base::ScopedRegKey savedSettings;
    if (!BuildHivePath(snapshot, product::kSettingsKey, settingsPath) ||
        RegOpenKeyExA(HKEY_USERS, settingsPath, 0, KEY_READ, settings.receive()) !=
            ERROR_SUCCESS ||
        RegOpenKeyExA(updaterKey.get(), snapshot, 0, KEY_READ, savedSettings.receive()) !=
            ERROR_SUCCESS ||
        !KeyHoldsSavedCopy(settings.get(), savedSettings.get())) {
      return FALSE;
    }
  }
}

BOOL RestoreUserSettings() {
  base::ScopedRegKey updaterKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUpdaterKey, 0, KEY_ENUMERATE_SUB_KEYS,
                    updaterKey.receive()) != ERROR_SUCCESS) {
    return FALSE;
  }

  for (DWORD index = 0;; ++index) {
    char hiveName[kKeyPathSize];
    DWORD nameSize = sizeof(hiveName);
    const LONG result = RegEnumKeyExA(updaterKey.get(), index, hiveName, &nameSize, nullptr,
                                      nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return TRUE;
    if (result != ERROR_SUCCESS) return RestoreFailed(result);

    // The snapshot of a user who is not logged on now is skipped; the others and the autorun
    // entry are still restored.
    if (!IsHiveLoaded(hiveName)) {
      RunLogWrite("restore: hive %s is not loaded; its settings are not restored", hiveName);
      continue;
    }
    RunLogWrite("restore: settings of hive %s", hiveName);

    char settingsPath[kKeyPathSize];
    if (!BuildHivePath(hiveName, product::kSettingsKey, settingsPath)) return FALSE;
    base::ScopedRegKey settings;
    LONG written = RegCreateKeyExA(HKEY_USERS, settingsPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE, nullptr, settings.receive(), nullptr);
    if (written == ERROR_SUCCESS) {
      written = static_cast<LONG>(SHCopyKeyA(updaterKey.get(), hiveName, settings.get(), 0));
    }
    if (written != ERROR_SUCCESS) return RestoreFailed(written);
  }
}

BOOL RestoreAutoRun(BOOL startProduct) {
  char hiveName[kHiveNameSize];
  char commandLine[kCommandLineSize];
  if (!ReadUpdaterString(nullptr, updater_value::kUserId, hiveName, sizeof(hiveName)) ||
      !ReadUpdaterString(nullptr, updater_value::kAutoRunCommandLine, commandLine,
                         sizeof(commandLine))) {
    return TRUE;  // no autorun entry was saved: nothing to put back
  }
  if (!IsUserHiveName(hiveName)) {
    // No hive of that name can ever be loaded: waiting for it would hold the update open for
    // good. The record is nothing that can be restored, like one that was never made.
    RunLogWrite("restore: the recorded user %s names no user; the autorun record is dropped",
                hiveName);
    DropAutoRunRecord();
    return TRUE;
  }
  if (!IsHiveLoaded(hiveName)) {
    RunLogWrite("restore: the autorun entry's user %s is not logged on; it waits for the next start",
                hiveName);
    return FALSE;
  }
  DWORD type = REG_SZ;
  if (!ReadUpdaterDword(nullptr, updater_value::kAutoRunType, &type) || type != REG_EXPAND_SZ) {
    type = REG_SZ;
  }

  char runKeyPath[kKeyPathSize];
  if (!BuildHivePath(hiveName, product::kRunKey, runKeyPath)) return FALSE;
  {
    // The Run key is made again if the uninstaller took it away with the entry.
    base::ScopedRegKey runKey;
    LONG written = RegCreateKeyExA(HKEY_USERS, runKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, runKey.receive(), nullptr);
    if (written == ERROR_SUCCESS) {
      written = RegSetValueExA(runKey.get(), product::kAutoRunValue, 0, type,
                               reinterpret_cast<const BYTE*>(commandLine),
                               static_cast<DWORD>(lstrlenA(commandLine) + 1));
    }
    if (written != ERROR_SUCCESS) return RestoreFailed(written);
  }
  RunLogWrite("restore: autorun entry of %s written back (%s): %s", hiveName,
              type == REG_EXPAND_SZ ? "REG_EXPAND_SZ" : "REG_SZ", commandLine);
  // The entry is back, so its record goes: a restore run again after an interruption does not
  // start the product a second time. Whether the product starts now does not change that the
  // entry is back: its next logon starts it in any case.
  DropAutoRunRecord();
  if (!startProduct) return TRUE;
  char expanded[kCommandLineSize];
  if (type == REG_EXPAND_SZ && !ExpandCommandLine(commandLine, expanded)) {
    ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
    return TRUE;
  }
  StartProduct(type == REG_EXPAND_SZ ? expanded : commandLine);
  return TRUE;
}
