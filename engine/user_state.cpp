#include "engine/user_state.h"

#include <shlwapi.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/autorun_entry.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/registry_compare.h"
#include "engine/user_hives.h"

namespace {

// A restore step that the system refused: the user sees the system's text, and the saved state
// stays for the next start.
BOOL RestoreFailed(LONG code) {
  ShowSystemErrorBox(static_cast<DWORD>(code));
  return FALSE;
}

}  // namespace

BOOL CaptureUserState() {
  if (!CaptureAutoRun()) return FALSE;
  return SnapshotUserSettings();
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
  if (!IsAutoRunInPlace()) return FALSE;
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

