// The way back after a restart: the launcher and a copy of the updater (engine/updater_copy.h) in
// the update's protected work folder, and the machine-wide Run value "TidemarkSXUpdater" that
// starts them.
#ifndef ENGINE_RESUME_H_
#define ENGINE_RESUME_H_

#include <windows.h>

#include "base/heap_text.h"

// TRUE: write the launcher and a copy of the running updater (taken from the held file, see
// HoldUpdaterFile) into the work folder (made when there is none yet), record the launcher in
// Launcher and register the Run value "<launcher>" "<updater copy>"; FALSE: delete the work
// folder's launcher file and the Run value. The launcher and the copy are flushed to the disk and
// checked before the Run value names them; a failure on the way shows the system's text.
BOOL RegisterResume(BOOL on);

// The same as RegisterResume(TRUE), but the entry starts the updater only at the logon of one of
// these users (string SIDs; anything else is left out): "<launcher>" "<updater copy>" S-1-...
// An empty list means every logon.
BOOL RegisterResumeFor(const base::HeapArray<base::Text>& users);

// Writes "<work folder>\TmkUpLauncher.exe" from resource "ZELNA" 148 and leaves its path in
// path[size] (size at least 520). FALSE when there is no trusted work folder or the file cannot be
// written (the system's text is shown for a resource or file failure).
BOOL WriteLauncher(char* path, DWORD size);

// TRUE when the resume entry is in place: the Run value is there and the launcher and the
// updater's copy it starts are files of the trusted work folder. What the restart page promises.
BOOL IsResumeRegistered();

// Deletes the launcher file of the trusted work folder, if any; never a file Launcher names
// elsewhere.
void DeleteLauncherFile();

// After a restore: when everything is back, the resume entry goes (before Marking, which goes
// last); when not, and something is still saved, the resume entry is registered again, so that
// the next logon brings the wizard back to finish the restore.
void KeepResumeUntilRestored(BOOL everythingBack, BOOL somethingSaved);

// At start-up: removes the resume Run value unless it starts the launcher of the trusted work
// folder with a program directly in that folder (a folder that is gone or cannot be trusted could
// have been made again by anybody, with their own programs at the names the value starts).
void DropUntrustedResumeEntry();

#endif  // ENGINE_RESUME_H_
