// The users' autorun entries: the Run value "Tidemark" of every loaded user hive, saved with its
// type into the updater key before the uninstall and written back after the installation; the
// product is started again for the user at the desktop only.
//
// The records: the desktop user's entry in the updater key's values UserID (the hive name),
// AutoRunCommandLine (the data) and AutoRunType (the type); every other user's, and the desktop
// user's when those values already hold another user's record of the same update, as a value of
// the updater key's subkey "AutoRun" named by the hive, with the entry's own type and data.
// Entries are read and written with the wide-character API, whole, whatever their length.
#ifndef ENGINE_CARRYOVER_AUTORUN_ENTRY_H_
#define ENGINE_CARRYOVER_AUTORUN_ENTRY_H_

#include <windows.h>

#include "base/heap_text.h"
#include "engine/plan/update_plan.h"

// Saves the Run value "Tidemark" (REG_SZ or REG_EXPAND_SZ; a value of another type counts as
// none) of every loaded user hive (named by a string SID) with its type. While an update is under
// way (Marking set), a hive whose entry is already saved keeps its record: a later run replaces
// nothing. FALSE, with the system's text shown, when the hives cannot be listed or an entry cannot
// be read or saved.
BOOL CaptureAutoRun();

// The saved entries for the reading of the machine, one item per record: unusable (it names no
// user or holds no string), not loaded, absent, as saved (type and data) or different.
void ReadSavedAutoRuns(base::HeapArray<SavedUserItem>* items);

// Writes a user's saved entry back as the hive's Run value with its saved type, flushes that
// hive's Run key, then removes the record (written through to the disk). The desktop user's
// entry is kept for StartProductWithRestoredEntry. TRUE when there is no such record. FALSE, with
// the system's text shown and the user named, when it cannot be written (the record stays).
BOOL WriteAutoRunBackOf(const char* hiveName);

// Keeps a user's saved entry beside the Run value in place, which stays: written as the value
// "Tidemark" of a new dated key "...\TidesafeAutoRun_<yyyymmdd-hhmmss>" in that user's hive,
// flushed, then the record goes.
BOOL KeepAutoRunBesideOf(const char* hiveName);

// A user who no longer exists: the saved entry is written as a registry script into the kept
// folder (administrators and SYSTEM only), which stays, and then the record goes.
BOOL KeepAutoRunInFile(const char* hiveName);

// The same for a user whose hive is not loaded: into that user's profile hive, loaded privately
// for it, by the rule (kOverlay writes the Run value; kMerge writes it where none is and keeps the
// entry beside one that differs), checked in the hive file before the record goes. FALSE (logged,
// nothing shown) when the record has to wait for the user's hive.
BOOL WriteAutoRunIntoProfile(const char* hiveName, RestoreMode mode);

// Drops a user's record (the Run value in place is the saved one, or the record is unusable).
BOOL DropAutoRunRecordOf(const char* hiveName);

// Starts the product with the desktop user's entry that this run wrote back, if any: environment
// variables of a REG_EXPAND_SZ entry expanded in that user's environment, and only when its
// program is the product's (StartProduct).
void StartProductWithRestoredEntry();
// Forgets such an entry: a plan starts the product only with what it wrote back itself.
void ForgetRestoredDesktopEntry();

#endif  // ENGINE_CARRYOVER_AUTORUN_ENTRY_H_
