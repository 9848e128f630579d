// The per-user state of the product that survives an update: the settings key
// "SOFTWARE\KORVANE SYSTEMS,INC.\Tidesafe" of every loaded user's hive, saved as one snapshot
// per hive (a subkey of the updater key named by the hive's SID) before the uninstall and laid
// back after the installation, together with the user's autorun entry (engine/carryover/autorun_entry.h).
// Snapshots are copied by a bounded walk that follows no registry link (engine/carryover/registry_copy.h).
#ifndef ENGINE_CARRYOVER_USER_STATE_H_
#define ENGINE_CARRYOVER_USER_STATE_H_

#include <windows.h>

#include "engine/carryover/autorun_entry.h"
#include "engine/carryover/user_hives.h"

// The autorun entry, then the settings snapshots.
BOOL CaptureUserState();
// While an update is under way (Marking set), a snapshot that exists keeps every value and
// subkey it holds and gets only those it lacks; otherwise it is made anew. Any error of the
// system fails the capture: the system's text is shown and nothing of this capture stays.
BOOL SnapshotUserSettings();

// The settings, then the autorun entry (which starts the product).
BOOL RestoreUserState();

// TRUE while what the capture saved is still in place in the hives: the saved autorun entry is
// still the user's Run value with its type, and every loaded hive with a settings snapshot still
// has every saved value with its type and data. FALSE once anything of it is gone or changed (an
// uninstaller that removed or reset it and then failed), and while a snapshot's hive is not
// loaded: the saved copy is then (or may be) the only one.
BOOL IsUserStateInPlace();

// Each snapshot in turn: written back into its hive, the hive flushed, then the snapshot deleted.
// A hive that is not loaded is loaded from the user's profile for it where the system allows;
// otherwise its snapshot stays and waits (logged with the user's SID). TRUE unless a loaded hive
// could not be written (the system's text is shown).
BOOL RestoreUserSettings();

// TRUE when no update is under way (Marking absent) and settings snapshots remain: users whose
// settings wait until their hive is loaded. With unloadedOnly, only snapshots whose hive is not
// loaded now count (the clean-up's question; a start asks about all of them).
BOOL HasWaitingUserSettings(BOOL unloadedOnly);

#endif  // ENGINE_CARRYOVER_USER_STATE_H_
