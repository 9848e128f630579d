// The per-user state of the product that survives an update: the user's autorun entry (Run value
// "Tidemark") and the settings key "SOFTWARE\KORVANE SYSTEMS,INC.\Tidesafe" of every loaded hive,
// saved into the updater key before the uninstall and laid back after the installation.
#ifndef ENGINE_USER_STATE_H_
#define ENGINE_USER_STATE_H_

#include <windows.h>

// The hive name under HKEY_USERS (string SID) of the user at the desktop, taken from the desktop
// shell's token, into hiveName[256]: a user who elevated with an administrator's password keeps
// their own hive. Where no shell window exists, the updater's own user. FALSE when the shell's
// token cannot be read.
BOOL GetUserHiveName(char* hiveName);

// The SID of a token's user in string form ("S-1-5-...") into text[size].
BOOL GetTokenUserSid(HANDLE token, char* text, size_t size);

BOOL CaptureUserState();
// Saves the user's Run value "Tidemark" (REG_SZ or REG_EXPAND_SZ; a value of another type counts
// as none) with its type into the updater key.
BOOL CaptureAutoRun();
BOOL SnapshotUserSettings();

BOOL RestoreUserState();

// TRUE while what the capture saved is still in place in the hives: the saved autorun entry is
// still the user's Run value with its type, and every loaded hive with a settings snapshot still
// has every saved value with its type and data. FALSE once anything of it is gone or changed (an
// uninstaller that removed or reset it and then failed): the saved copy is then the only one.
BOOL IsUserStateInPlace();
BOOL RestoreUserSettings();
// Writes the saved Run value back with its saved type (REG_SZ unless that was REG_EXPAND_SZ),
// removes the saved entry from the updater key and starts the product with it, environment
// variables expanded for a REG_EXPAND_SZ value (one whose expansion exceeds 511 characters is not
// started: the system's text is shown). TRUE once the entry is back, whether or not the product
// could be started, and when none was saved; also when the recorded user is no string SID, which
// no hive can ever be named: that record is removed and nothing is written or started. FALSE when
// it cannot be written back (its owner's hive is not loaded, the Run key cannot be written),
// keeping the saved entry. With startProduct FALSE the entry is only written back.
BOOL RestoreAutoRun(BOOL startProduct = TRUE);

#endif  // ENGINE_USER_STATE_H_
