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

// Saves the Run value "Tidemark" (REG_SZ or REG_EXPAND_SZ; a value of another type counts as
// none) of every loaded user hive (named by a string SID) with its type. While an update is under
// way (Marking set), a hive whose entry is already saved keeps its record: a later run replaces
// nothing. FALSE, with the system's text shown, when the hives cannot be listed or an entry cannot
// be read or saved.
BOOL CaptureAutoRun();

// Writes every saved entry back as its hive's Run value with its saved type, flushes that hive's
// Run key, then removes the record (written through to the disk). The product is started only with
// the entry of the user at the desktop (the desktop shell's user), environment variables of a
// REG_EXPAND_SZ entry expanded in that user's environment, and only when its program is the
// product's (StartProduct); the other users' logons start their own. TRUE once every entry is
// back, whether or not the product could be started, and when none was saved; a record that
// names no user (no string SID) or holds no string is removed, and nothing is written for it.
// FALSE while an entry cannot be written back (its owner's hive is not loaded, the Run key cannot
// be written), keeping its record for the next start; the others are still restored. With
// startProduct FALSE the entries are only written back.
BOOL RestoreAutoRun(BOOL startProduct = TRUE);

// TRUE while every saved entry of a loaded hive is still that hive's Run value with its type and
// data, and when none was saved.
BOOL IsAutoRunInPlace();

#endif  // ENGINE_CARRYOVER_AUTORUN_ENTRY_H_
