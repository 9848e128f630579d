#include "engine/carryover/user_state.h"

#include "base/bounded_string.h"
#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/carryover/autorun_entry.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/names.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/carryover/profile_hive.h"
#include "engine/carryover/registry_copy.h"
#include "engine/carryover/user_hives.h"

namespace {

// A capture step that the system refused: the user sees the system's text, and the uninstaller
// is not started.
BOOL CaptureFailed(LONG code) {
  ShowSystemErrorBox(static_cast<DWORD>(code));
  return FALSE;
}

// The same for one user's settings: the box names that user.
BOOL CaptureFailedFor(LONG code, const char* hiveName) {
  ShowSystemErrorBoxAbout(static_cast<DWORD>(code), DescribeUser(hiveName).c_str());
  return FALSE;
}

// True when a subkey of the updater key is a settings snapshot: every subkey but the one that holds
// the other users' autorun records. Snapshots are named as their hives (a string SID, ".DEFAULT").
bool IsSnapshotName(const char* name) { return !SameName(name, updater_value::kAutoRunRecords); }

// The names of the settings snapshots.
LONG ListSnapshots(HKEY updaterKey, base::HeapArray<base::Text>* names) {
  names->clear();
  return ForEachSubkey(updaterKey, [&](const wchar_t* wideName) -> LONG {
    bool exact = false;
    const base::Text name = ToAnsi(wideName, &exact);
    if (exact && IsSnapshotName(name.c_str())) names->push_back(name);
    return ERROR_SUCCESS;
  });
}

// Removes a snapshot and writes the removal through.
void DropSnapshot(HKEY updaterKey, const char* hiveName) {
  const base::WideText name = ToWide(hiveName);
  late::RegDeleteTreeW(updaterKey, name.c_str());
  RegDeleteKeyW(updaterKey, name.c_str());
  FlushUpdaterKey();
}

bool HiveHoldsSnapshot(HKEY updaterKey, const UserHive& hive);

// Writes a snapshot back into the hive's settings key (created when the new release has none
// yet) by the rule, and that key through to the disk.
LONG WriteBack(HKEY updaterKey, const UserHive& hive, CopyRule rule = CopyRule::kOverwrite) {
  const base::WideText path = hive.PathOf(product::kSettingsKey);
  if (path.empty()) return ERROR_FILENAME_EXCED_RANGE;
  base::ScopedRegKey snapshot;
  LONG result =
      RegOpenKeyExW(updaterKey, ToWide(hive.name).c_str(), 0, KEY_READ, snapshot.receive());
  if (result != ERROR_SUCCESS) return result;
  base::ScopedRegKey settings;
  result = OpenKeyWithoutLinks(hive.root, path.c_str(), KEY_ALL_ACCESS, true, settings.receive());
  if (result != ERROR_SUCCESS) return result;
  KeyTreeCopy copy(rule);
  result = copy.Copy(snapshot.get(), settings.get());
  if (result != ERROR_SUCCESS) return result;
  return RegFlushKey(settings.get());
}

// The snapshot whole into a new dated key beside the settings key of the hive, flushed.
LONG KeepSnapshotBeside(HKEY updaterKey, const UserHive& hive) {
  base::ScopedRegKey snapshot;
  LONG result =
      RegOpenKeyExW(updaterKey, ToWide(hive.name).c_str(), 0, KEY_READ, snapshot.receive());
  if (result != ERROR_SUCCESS) return result;
  base::ScopedRegKey beside;
  base::Text name;
  result = CreateDatedKeyBeside(hive, product::kSettingsKey, beside.receive(), &name);
  if (result != ERROR_SUCCESS) return result;
  KeyTreeCopy copy(CopyRule::kOverwrite);
  result = copy.Copy(snapshot.get(), beside.get());
  if (result == ERROR_SUCCESS) result = RegFlushKey(beside.get());
  if (result == ERROR_SUCCESS) {
    RunLogWrite("restore: the saved settings of %s are kept beside the ones in place as %s",
                hive.name, name.c_str());
  }
  return result;
}

// The merge rule in a hive: what is missing comes back, what is in place stays, and when the
// settings in place differ from the snapshot, the snapshot is kept beside them.
LONG MergeBack(HKEY updaterKey, const UserHive& hive) {
  if (HiveHoldsSnapshot(updaterKey, hive)) return ERROR_SUCCESS;
  const base::WideText path = hive.PathOf(product::kSettingsKey);
  base::ScopedRegKey settings;
  const bool inPlace =
      !path.empty() && OpenKeyWithoutLinks(hive.root, path.c_str(), KEY_READ, false,
                                           settings.receive()) == ERROR_SUCCESS;
  settings.reset();
  if (inPlace) {
    const LONG kept = KeepSnapshotBeside(updaterKey, hive);
    if (kept != ERROR_SUCCESS) return kept;
  }
  return WriteBack(updaterKey, hive, CopyRule::kKeepTarget);
}

LONG PutBack(HKEY updaterKey, const UserHive& hive, RestoreMode mode) {
  return mode == RestoreMode::kOverlay ? WriteBack(updaterKey, hive) : MergeBack(updaterKey, hive);
}

// TRUE when the hive's settings still hold everything of the snapshot.
bool HiveHoldsSnapshot(HKEY updaterKey, const UserHive& hive) {
  const base::WideText path = hive.PathOf(product::kSettingsKey);
  base::ScopedRegKey settings;
  base::ScopedRegKey snapshot;
  return !path.empty() &&
         OpenKeyWithoutLinks(hive.root, path.c_str(), KEY_READ, false, settings.receive()) ==
             ERROR_SUCCESS &&
         RegOpenKeyExW(updaterKey, ToWide(hive.name).c_str(), 0, KEY_READ, snapshot.receive()) ==
             ERROR_SUCCESS &&
         KeyHoldsSavedCopy(settings.get(), snapshot.get());
}

// A snapshot put back into a logged-off user's profile hive, by the rule.
class SettingsIntoProfile : public ProfileHiveWork {
 public:
  SettingsIntoProfile(HKEY updaterKey, RestoreMode mode) : updaterKey_(updaterKey), mode_(mode) {}
  LONG Write(const UserHive& hive) override { return PutBack(updaterKey_, hive, mode_); }
  bool Holds(const UserHive& hive) override { return HiveHoldsSnapshot(updaterKey_, hive); }

 private:
  HKEY updaterKey_;
  RestoreMode mode_;
};

}  // namespace

BOOL CaptureUserState() {
  if (!CaptureAutoRun()) return FALSE;
  return SnapshotUserSettings();
}

BOOL SnapshotUserSettings() {
  base::ScopedRegKey updaterKey;
  if (!OpenOrCreateUpdaterKey(updaterKey.receive())) return CaptureFailed(ERROR_CANTWRITE);
  // Once an update is under way, what an earlier run saved is the only copy that may be left of
  // it: a later capture keeps every value and subkey already saved and adds only new ones.
  const bool keepSaved = IsMarkingSet() != 0;

  // A failure inside the walk shows its box where it happens.
  bool shown = false;
  const auto fail = [&shown](LONG code, const char* hiveName) {
    shown = true;
    if (hiveName != nullptr) {
      CaptureFailedFor(code, hiveName);
    } else {
      CaptureFailed(code);
    }
    return code;
  };
  const LONG walked = ForEachLoadedHive([&](const char* hiveName) -> LONG {
    if (!IsSnapshotName(hiveName)) return ERROR_SUCCESS;
    const base::WideText wideName = ToWide(hiveName);
    const base::WideText path = UserHive(hiveName).PathOf(product::kSettingsKey);
    if (path.empty()) return fail(ERROR_FILENAME_EXCED_RANGE, nullptr);
    base::ScopedRegKey settings;
    LONG result =
        OpenKeyWithoutLinks(HKEY_USERS, path.c_str(), KEY_READ, false, settings.receive());
    if (result == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // no settings of the product here
    if (result == kErrorRegistryLink) {
      RunLogWrite("capture: the settings of hive %s lie behind a registry link; not saved",
                  hiveName);
      return ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS) {
      // A real refusal (a deny entry on the user's own key): the uninstaller must not start
      // while these settings cannot be saved; the administrator is told whose they are.
      RunLogWrite("capture: the settings of hive %s cannot be read (error %ld)", hiveName, result);
      return fail(result, hiveName);
    }

    if (!keepSaved) {
      late::RegDeleteTreeW(updaterKey.get(), wideName.c_str());
      RegDeleteKeyW(updaterKey.get(), wideName.c_str());
    }
    base::ScopedRegKey snapshot;
    DWORD disposition = 0;
    result =
        RegCreateKeyExW(updaterKey.get(), wideName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, snapshot.receive(), &disposition);
    if (result != ERROR_SUCCESS) {
      RunLogWrite("capture: no snapshot of hive %s can be made (error %ld)", hiveName, result);
      return fail(result, nullptr);
    }
    KeyTreeCopy copy(keepSaved ? CopyRule::kKeepTarget : CopyRule::kOverwrite);
    result = copy.Copy(settings.get(), snapshot.get());
    if (result != ERROR_SUCCESS) {
      // Nothing of this capture stays: a snapshot it made goes, and one that an earlier run
      // made loses only what this capture added to it.
      if (disposition == REG_CREATED_NEW_KEY) {
        snapshot.reset();
        late::RegDeleteTreeW(updaterKey.get(), wideName.c_str());
        RegDeleteKeyW(updaterKey.get(), wideName.c_str());
      } else {
        copy.UndoAdditions(snapshot.get());
      }
      RunLogWrite("capture: the settings of hive %s could not be saved (error %ld)", hiveName,
                  result);
      return fail(result, hiveName);
    }
    RunLogWrite(disposition == REG_CREATED_NEW_KEY
                    ? "capture: settings of hive %s saved"
                    : "capture: settings of hive %s added to the snapshot an earlier run made",
                hiveName);
    return ERROR_SUCCESS;
  });
  if (walked == ERROR_SUCCESS) return TRUE;
  if (!shown) {
    RunLogWrite("capture: the loaded hives cannot be listed (error %ld)", walked);
    CaptureFailed(walked);
  }
  return FALSE;
}

void ReadSavedSettings(base::HeapArray<SavedUserItem>* items) {
  items->clear();
  base::ScopedRegKey updaterKey;
  base::HeapArray<base::Text> snapshots;
  if (OpenTrustedUpdaterKey(nullptr, KEY_READ, false, updaterKey.receive()) != ERROR_SUCCESS ||
      ListSnapshots(updaterKey.get(), &snapshots) != ERROR_SUCCESS) {
    return;
  }
  for (const base::Text& hiveName : snapshots) {
    SavedUserItem item;
    item.user = hiveName;
    if (!IsHiveLoaded(hiveName.c_str())) {
      // A hive that is not loaded cannot show its settings: its snapshot may be the only copy.
      item.live = ItemState::kNotLoaded;
      item.userGone = IsUserGone(hiveName.c_str());
    } else if (HiveHoldsSnapshot(updaterKey.get(), UserHive(hiveName.c_str()))) {
      item.live = ItemState::kSame;
    } else {
      const base::WideText path = UserHive(hiveName.c_str()).PathOf(product::kSettingsKey);
      base::ScopedRegKey settings;
      item.live = !path.empty() && OpenKeyWithoutLinks(HKEY_USERS, path.c_str(), KEY_READ, false,
                                                       settings.receive()) == ERROR_SUCCESS
                      ? ItemState::kDifferent
                      : ItemState::kAbsent;
    }
    items->push_back(item);
  }
}

BOOL RestoreSettingsOf(const char* hiveName, RestoreMode mode) {
  base::ScopedRegKey updaterKey;
  LONG result = OpenTrustedUpdaterKey(nullptr, KEY_ALL_ACCESS, false, updaterKey.receive());
  if (result == ERROR_SUCCESS) result = PutBack(updaterKey.get(), UserHive(hiveName), mode);
  if (result != ERROR_SUCCESS) {
    RunLogWrite("restore: the settings of hive %s could not be written (error %ld)", hiveName,
                result);
    ShowSystemErrorBoxAbout(static_cast<DWORD>(result), DescribeUser(hiveName).c_str());
    return FALSE;
  }
  DropSnapshot(updaterKey.get(), hiveName);
  return TRUE;
}

BOOL RestoreSettingsIntoProfile(const char* hiveName, RestoreMode mode) {
  base::ScopedRegKey updaterKey;
  if (OpenTrustedUpdaterKey(nullptr, KEY_ALL_ACCESS, false, updaterKey.receive()) ==
      ERROR_SUCCESS) {
    SettingsIntoProfile work(updaterKey.get(), mode);
    if (WriteIntoProfileHive(hiveName, "settings", &work) == ERROR_SUCCESS) {
      RunLogWrite("restore: settings of user %s written into the profile's hive", hiveName);
      DropSnapshot(updaterKey.get(), hiveName);
      return TRUE;
    }
  }
  RunLogWrite("restore: the settings of user %s wait until that user's hive is loaded", hiveName);
  return FALSE;
}

BOOL DropSnapshotOf(const char* hiveName) {
  base::ScopedRegKey updaterKey;
  if (OpenTrustedUpdaterKey(nullptr, KEY_ALL_ACCESS, false, updaterKey.receive()) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  DropSnapshot(updaterKey.get(), hiveName);
  return TRUE;
}

BOOL KeepSettingsInFile(const char* hiveName) {
  char path[kPathBufferSize];
  base::ScopedRegKey updaterKey;
  base::ScopedRegKey snapshot;
  LONG result =
      BuildKeptFilePath(hiveName, "settings", "hiv", path) ? ERROR_SUCCESS : ERROR_CANNOT_MAKE;
  if (result == ERROR_SUCCESS) {
    result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUpdaterKey, 0, KEY_ALL_ACCESS,
                           updaterKey.receive());
  }
  if (result == ERROR_SUCCESS) {
    result = RegOpenKeyExA(updaterKey.get(), hiveName, 0, KEY_READ, snapshot.receive());
  }
  if (result == ERROR_SUCCESS) {
    // A registry hive file: an administrator loads it ("reg load") to look at it or take it over.
    ScopedHivePrivileges privileges;
    result = privileges.result();
    if (result == ERROR_SUCCESS) result = RegSaveKeyA(snapshot.get(), path, nullptr);
  }
  if (result != ERROR_SUCCESS) {
    RunLogWrite("restore: the settings of the removed user %s cannot be kept in a file (error %ld)",
                hiveName, result);
    ShowSystemErrorBoxAbout(static_cast<DWORD>(result), DescribeUser(hiveName).c_str());
    return FALSE;
  }
  RunLogWrite("restore: user %s no longer exists; their saved settings are kept in %s", hiveName,
              path);
  snapshot.reset();
  DropSnapshot(updaterKey.get(), hiveName);
  return TRUE;
}
