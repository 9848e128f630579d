// The per-user state of the product that survives an update: the settings key
// "SOFTWARE\KORVANE SYSTEMS,INC.\Tidesafe" of every loaded user's hive, saved as one snapshot
// per hive (a subkey of the updater key named by the hive's SID) before the uninstall and laid
// back after the installation, together with the user's autorun entry
// (engine/carryover/autorun_entry.h). Snapshots are copied by a bounded walk that follows no
// registry link (engine/carryover/registry_copy.h).
#ifndef ENGINE_CARRYOVER_USER_STATE_H_
#define ENGINE_CARRYOVER_USER_STATE_H_

#include <windows.h>

#include "base/heap_text.h"
#include "engine/carryover/autorun_entry.h"
#include "engine/carryover/user_hives.h"
#include "engine/plan/update_plan.h"

// The autorun entry, then the settings snapshots.
BOOL CaptureUserState();
// While an update is under way (Marking set), a snapshot that exists keeps every value and
// subkey it holds and gets only those it lacks; otherwise it is made anew. Any error of the
// system fails the capture: the system's text is shown and nothing of this capture stays.
BOOL SnapshotUserSettings();

// The saved settings for the reading of the machine, one item per snapshot: not loaded, absent,
// as saved (the hive's settings hold every saved value and subkey with its data) or different.
void ReadSavedSettings(base::HeapArray<SavedUserItem>* items);

// One snapshot back into its loaded hive, then the hive written through to the disk, then the
// snapshot dropped. kOverlay lays the snapshot over the settings key; kMerge adds only what is
// missing and, where the settings in place differ, first keeps the snapshot whole in a dated key
// beside the settings key ("...\Tidesafe_<yyyymmdd-hhmmss>"). FALSE, with the system's text
// shown and the user named, when it cannot be written (the snapshot stays).
BOOL RestoreSettingsOf(const char* hiveName, RestoreMode mode);

// The same for a user whose hive is not loaded: into the profile's hive, loaded for it where the
// system allows and unloaded again, and checked in the hive file before the snapshot goes. FALSE
// (logged, nothing shown) when the snapshot has to wait for the user's hive.
BOOL RestoreSettingsIntoProfile(const char* hiveName, RestoreMode mode);

// A user who no longer exists: the snapshot is saved as a registry hive file in the kept folder
// (administrators and SYSTEM only), which stays, and then dropped; the run log names the file.
BOOL KeepSettingsInFile(const char* hiveName);

// Drops a snapshot whose settings are in place as saved.
BOOL DropSnapshotOf(const char* hiveName);

#endif  // ENGINE_CARRYOVER_USER_STATE_H_
