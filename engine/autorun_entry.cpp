#include "engine/autorun_entry.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/product_start.h"
#include "engine/user_hives.h"

namespace {

constexpr size_t kCommandLineSize = 512;

// Removes the saved autorun entry from the updater key, written through to the disk.
void DropAutoRunRecord() {
  WriteUpdaterString(nullptr, updater_value::kUserId, nullptr);
  WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, nullptr);
  WriteUpdaterDword(nullptr, updater_value::kAutoRunType, 0, TRUE);
  FlushUpdaterKey();
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
    if (written != ERROR_SUCCESS) {
      // The user sees the system's text, and the saved entry stays for the next start.
      ShowSystemErrorBox(static_cast<DWORD>(written));
      return FALSE;
    }
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

BOOL IsAutoRunInPlace() {
  char hiveName[kHiveNameSize];
  char saved[kCommandLineSize];
  if (!ReadUpdaterString(nullptr, updater_value::kUserId, hiveName, sizeof(hiveName)) ||
      !ReadUpdaterString(nullptr, updater_value::kAutoRunCommandLine, saved, sizeof(saved))) {
    return TRUE;
  }
  char live[kCommandLineSize];
  DWORD type = REG_NONE;
  DWORD savedType = REG_SZ;
  if (!ReadUpdaterDword(nullptr, updater_value::kAutoRunType, &savedType)) savedType = REG_SZ;
  return ReadAutoRunValue(hiveName, live, &type) && lstrcmpA(live, saved) == 0 &&
                 type == savedType
             ? TRUE
             : FALSE;
}
