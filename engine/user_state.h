// The per-user state of the product that survives an update: the user's autorun entry (Run value
// "Tidemark") and the settings key "SOFTWARE\KORVANE SYSTEMS,INC.\Tidesafe" of every loaded hive,
// saved into the updater key before the uninstall and laid back after the installation.
#ifndef ENGINE_USER_STATE_H_
#define ENGINE_USER_STATE_H_

#include <windows.h>

// The current user's hive name under HKEY_USERS (string SID) into hiveName[256].
BOOL GetUserHiveName(char* hiveName);

BOOL CaptureUserState();
BOOL CaptureAutoRun();
BOOL SnapshotUserSettings();

BOOL RestoreUserState();
BOOL RestoreUserSettings();
BOOL RestoreAutoRun();

// Starts a command line with the program's folder as working folder (the program path is the first
// element of the command line; without a folder part the updater's own is kept). Shows the
// system's text and returns FALSE when it cannot be started.
BOOL StartProduct(const char* commandLine);

#endif  // ENGINE_USER_STATE_H_
