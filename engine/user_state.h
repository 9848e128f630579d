// The per-user state of the product that survives an update: the settings key
// "SOFTWARE\KORVANE SYSTEMS,INC.\Tidesafe" of every loaded hive, saved as one snapshot per hive
// (a subkey of the updater key named by the hive) before the uninstall and laid back after the
// installation, together with the user's autorun entry (engine/autorun_entry.h).
#ifndef ENGINE_USER_STATE_H_
#define ENGINE_USER_STATE_H_

#include <windows.h>

#include "engine/autorun_entry.h"
#include "engine/user_hives.h"

// The autorun entry, then the settings snapshots.
BOOL CaptureUserState();
BOOL SnapshotUserSettings();

// The settings, then the autorun entry (which starts the product).
BOOL RestoreUserState();

// TRUE while what the capture saved is still in place in the hives: the saved autorun entry is
// still the user's Run value with its type, and every loaded hive with a settings snapshot still
// has every saved value with its type and data. FALSE once anything of it is gone or changed (an
// uninstaller that removed or reset it and then failed): the saved copy is then the only one.
BOOL IsUserStateInPlace();
BOOL RestoreUserSettings();

#endif  // ENGINE_USER_STATE_H_
