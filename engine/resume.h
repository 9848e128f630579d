// The way back after a restart: the launcher written to the temporary folder and the machine-wide
// Run value "TidemarkSXUpdater" that starts it, and the final clean-up of the updater's state.
#ifndef ENGINE_RESUME_H_
#define ENGINE_RESUME_H_

#include <windows.h>

// TRUE: write the launcher and register it; FALSE: delete the launcher file and the Run value.
BOOL RegisterResume(BOOL on);

// Writes "<temp>\TmkUpLauncher.exe" from resource "ZELNA" 148 and leaves its path in path[size].
BOOL WriteLauncher(char* path, DWORD size);

// Deletes the file that the Launcher value names, if any.
void DeleteLauncherFile();

// The final clean-up: backup folder, resume registration, updater key. Does nothing once the
// keep-state flag is set. While the product is not installed and a backup is recorded, only the
// resume registration goes: the updater key (with Marking set) and the backup stay, so the next
// start opens on the install page and restores them after a good setup. Otherwise the backup
// folder is deleted only when the product folder holds every file of it with the same contents;
// a backup that is the user's only copy stays in the temporary folder.
void DiscardUpdaterState();

// The keep-state flag: set when the restart-guidance page is shown, never cleared.
void SetKeepUpdaterState();
BOOL IsKeepingUpdaterState();

#endif  // ENGINE_RESUME_H_
