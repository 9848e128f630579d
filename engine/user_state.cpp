#include "engine/run_log.h"
#include "engine/user_state.h"

#include <shlwapi.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/file_utils.h"
#include "engine/product_constants.h"
#include "engine/settings_store.h"

namespace {

constexpr size_t kHiveNameSize = 256;
constexpr size_t kKeyPathSize = 260;
constexpr size_t kCommandLineSize = 512;
constexpr size_t kWorkingFolderSize = 260;
constexpr DWORD kProductCreationFlags = CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS;


using ConvertSidToStringSidAFunction = BOOL(WINAPI*)(PSID, LPSTR*);

bool BuildHivePath(const char* hiveName, const char* subkey, char (&path)[kKeyPathSize]) {
  return base::FormatBounded(path, sizeof(path), "%s\\%s", hiveName, subkey);
}

// True while the hive is loaded under HKEY_USERS.
bool IsHiveLoaded(const char* hiveName) {
  base::ScopedRegKey hive;
  return RegOpenKeyExA(HKEY_USERS, hiveName, 0, KEY_QUERY_VALUE, hive.receive()) == ERROR_SUCCESS;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program path of a command line, the way CreateProcessA finds it: a quoted first element
// without its quotes; otherwise the shortest blank-separated prefix that names a file (as it is or
// with ".exe"), or the first blank-separated element when none does.
bool GetProgramPath(const char* commandLine, char (&program)[kPathBufferSize]) {
  program[0] = '\0';
  const char* start = commandLine;
  while (IsBlank(*start)) ++start;
  if (*start == '"') {
    ++start;
    size_t length = 0;
    while (start[length] != '\0' && start[length] != '"') {
      length += (IsLeadByte(static_cast<unsigned char>(start[length])) && start[length + 1] != '\0')
                    ? 2 : 1;
    }
    if (length >= sizeof(program)) return false;
    lstrcpynA(program, start, static_cast<int>(length) + 1);
    return true;
  }
  size_t firstEnd = 0;
  for (size_t end = 0;; ++end) {
    const char c = start[end];
    if (c == '\0' || IsBlank(c)) {
      if (firstEnd == 0) firstEnd = end;
      if (end >= sizeof(program)) break;
      char candidate[kPathBufferSize];
      lstrcpynA(candidate, start, static_cast<int>(end) + 1);
      char withExtension[kPathBufferSize];
      if (IsFile(candidate) ||
          (base::FormatBounded(withExtension, sizeof(withExtension), "%s.exe", candidate) &&
           IsFile(withExtension))) {
        lstrcpynA(program, start, static_cast<int>(end) + 1);
        return true;
      }
      if (c == '\0') break;
    } else if (IsLeadByte(static_cast<unsigned char>(c)) && start[end + 1] != '\0') {
      ++end;
    }
  }
  if (firstEnd >= sizeof(program)) return false;
  lstrcpynA(program, start, static_cast<int>(firstEnd) + 1);
  return true;
}

// The program's folder as working folder: "" when the program path has no folder part (the
// process then keeps the updater's working folder). A drive root keeps its backslash.
bool GetWorkingFolder(const char* commandLine, char (&folder)[kWorkingFolderSize]) {
  folder[0] = '\0';
  char program[kPathBufferSize];
  if (!GetProgramPath(commandLine, program)) return false;
  const char* last = FindLastBackslash(program);
  if (last == nullptr) return true;
  size_t length = static_cast<size_t>(last - program);
  if (length == 2 && program[1] == ':') length = 3;
  if (length == 0) length = 1;  // "\program.exe": the root of the current drive
  if (length >= sizeof(folder)) return false;
  lstrcpynA(folder, program, static_cast<int>(length) + 1);
  return true;
}

}  // namespace

BOOL GetUserHiveName(char* hiveName) {
  hiveName[0] = '\0';
  char userName[256];
  DWORD userNameSize = sizeof(userName);
  if (!GetUserNameA(userName, &userNameSize)) return FALSE;

  BYTE sid[256];
  DWORD sidSize = sizeof(sid);
  char domain[256];
  DWORD domainSize = sizeof(domain);
  SID_NAME_USE use;
  if (!LookupAccountNameA(nullptr, userName, sid, &sidSize, domain, &domainSize, &use)) {
    return FALSE;
  }

  base::ScopedLibrary advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return FALSE;
  const auto convert = reinterpret_cast<ConvertSidToStringSidAFunction>(
      reinterpret_cast<void*>(GetProcAddress(advapi.get(), "ConvertSidToStringSidA")));
  if (convert == nullptr) return FALSE;

  LPSTR text = nullptr;
  if (!convert(reinterpret_cast<PSID>(sid), &text)) return FALSE;
  base::ScopedLocalMemory owned(text);
  return base::CopyBounded(hiveName, kHiveNameSize, text) ? TRUE : FALSE;
}

BOOL CaptureUserState() {
  if (!CaptureAutoRun()) return FALSE;
  return SnapshotUserSettings();
}

BOOL CaptureAutoRun() {
  char hiveName[kHiveNameSize];
  if (!GetUserHiveName(hiveName)) return FALSE;
  char runKeyPath[kKeyPathSize];
  if (!BuildHivePath(hiveName, product::kRunKey, runKeyPath)) return FALSE;

  char commandLine[kCommandLineSize];
  {
    base::ScopedRegKey runKey;
    if (RegOpenKeyExA(HKEY_USERS, runKeyPath, 0, KEY_QUERY_VALUE, runKey.receive()) !=
        ERROR_SUCCESS) {
      return TRUE;  // no Run key: nothing to save
    }
    DWORD size = sizeof(commandLine);
    if (RegQueryValueExA(runKey.get(), product::kAutoRunValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(commandLine), &size) != ERROR_SUCCESS ||
        !base::TerminateRegistryString(commandLine, sizeof(commandLine), size)) {
      return TRUE;  // no value, or one too long to be kept: nothing to save
    }
  }

  if (!WriteUpdaterString(nullptr, updater_value::kUserId, hiveName)) return FALSE;
  if (!WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, commandLine)) return FALSE;
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
    if (result != ERROR_SUCCESS) return FALSE;

    // The snapshot of a user who is not logged on now stays in the updater key; the others and
    // the autorun entry are still restored.
    if (!IsHiveLoaded(hiveName)) {
      RunLogWrite("restore: hive %s is not loaded; its settings wait in the updater key", hiveName);
      continue;
    }
    RunLogWrite("restore: settings of hive %s", hiveName);

    char settingsPath[kKeyPathSize];
    if (!BuildHivePath(hiveName, product::kSettingsKey, settingsPath)) return FALSE;
    base::ScopedRegKey settings;
    if (RegCreateKeyExA(HKEY_USERS, settingsPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, settings.receive(), nullptr) != ERROR_SUCCESS) {
      return FALSE;
    }
    if (SHCopyKeyA(updaterKey.get(), hiveName, settings.get(), 0) != ERROR_SUCCESS) return FALSE;
  }
}

BOOL RestoreAutoRun() {
  char hiveName[kHiveNameSize];
  char commandLine[kCommandLineSize];
  if (!ReadUpdaterString(nullptr, updater_value::kUserId, hiveName, sizeof(hiveName)) ||
      !ReadUpdaterString(nullptr, updater_value::kAutoRunCommandLine, commandLine,
                         sizeof(commandLine))) {
    return TRUE;  // no autorun entry was saved: nothing to put back
  }
  if (!IsHiveLoaded(hiveName)) return FALSE;

  char runKeyPath[kKeyPathSize];
  if (!BuildHivePath(hiveName, product::kRunKey, runKeyPath)) return FALSE;
  {
    base::ScopedRegKey runKey;
    if (RegOpenKeyExA(HKEY_USERS, runKeyPath, 0, KEY_SET_VALUE, runKey.receive()) !=
        ERROR_SUCCESS) {
      return FALSE;
    }
    if (RegSetValueExA(runKey.get(), product::kAutoRunValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(commandLine),
                       static_cast<DWORD>(lstrlenA(commandLine) + 1)) != ERROR_SUCCESS) {
      return FALSE;
    }
  }
  return StartProduct(commandLine);
}

BOOL StartProduct(const char* commandLine) {
  char line[kCommandLineSize];
  char workingFolder[kWorkingFolderSize];
  if (!base::CopyBounded(line, sizeof(line), commandLine) ||
      !GetWorkingFolder(commandLine, workingFolder)) {
    ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, kProductCreationFlags, nullptr,
                      workingFolder[0] != '\0' ? workingFolder : nullptr, &startup, &process)) {
    ShowSystemErrorBox(GetLastError());
    return FALSE;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return TRUE;
}
