// The user's autorun entry: the Run value "Tidemark" of the user at the desktop, saved with its
// type into the updater key before the uninstall, written back after the installation, and the
// product started with it.
#ifndef ENGINE_AUTORUN_ENTRY_H_
#define ENGINE_AUTORUN_ENTRY_H_

#include <windows.h>

// Saves the user's Run value "Tidemark" (REG_SZ or REG_EXPAND_SZ; a value of another type counts
// as none) with its type into the updater key.
BOOL CaptureAutoRun();

// Writes the saved Run value back with its saved type (REG_SZ unless that was REG_EXPAND_SZ),
// removes the saved entry from the updater key and starts the product with it, environment
// variables expanded for a REG_EXPAND_SZ value (one whose expansion exceeds 511 characters is not
// started: the system's text is shown). TRUE once the entry is back, whether or not the product
// could be started, and when none was saved; also when the recorded user is no string SID, which
// no hive can ever be named: that record is removed and nothing is written or started. FALSE when
// it cannot be written back (its owner's hive is not loaded, the Run key cannot be written),
// keeping the saved entry. With startProduct FALSE the entry is only written back.
BOOL RestoreAutoRun(BOOL startProduct = TRUE);

// TRUE while the saved autorun entry is still the user's Run value with its type, and when none
// was saved.
BOOL IsAutoRunInPlace();

#endif  // ENGINE_AUTORUN_ENTRY_H_
