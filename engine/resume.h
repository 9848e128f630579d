// The way back after a restart: the launcher and a copy of the updater in the update's protected
// work folder, the machine-wide Run value "TidemarkSXUpdater" that starts them, and the final
// clean-up of the updater's state.
#ifndef ENGINE_RESUME_H_
#define ENGINE_RESUME_H_

#include <windows.h>

// TRUE: write the launcher and a copy of the running updater (taken from the held file, see
// HoldUpdaterFile) into the work folder (made when there is none yet), record the launcher in
// Launcher and register the Run value "<launcher>" "<updater copy>"; FALSE: delete the work
// folder's launcher file and the Run value. The launcher and the copy are flushed to the disk and
// checked before the Run value names them; a failure on the way shows the system's text.
BOOL RegisterResume(BOOL on);

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

// The final clean-up. Does nothing once the keep-state flag is set. While IsUpdaterStateNeeded(),
// everything stays, and the resume registration too when only the restore is left (a failed
// restore is tried again at the next logon); otherwise the resume registration, the work folder (with the backup, the
// unpacked setup, the launcher and the updater copy) and the whole updater key.
void DiscardUpdaterState();

// After a restore: when everything is back, the resume entry goes (before Marking, which goes
// last); when not, and saved state remains, the resume entry is registered again, so that the next
// logon brings the wizard back to finish the restore.
void KeepResumeUntilRestored(BOOL everythingBack);

// After an uninstaller that left the old release installed, once nothing it started still runs:
// what it removed or changed of the log, the settings and the autorun entry is put back from the
// saved copies (the product is not started). Does nothing at any other stage.
void PutBackWhatTheUninstallerChanged();

// TRUE while the updater key and the work folder hold what the user still needs: an update under
// way (Marking) whose old release is gone or whose new release is in without the saved state put
// back, or whose old release is still installed while its uninstaller (or a program in the
// product folder) still runs, or which no longer holds the log, settings and autorun entry
// exactly as saved.
BOOL IsUpdaterStateNeeded();

// Opens the running updater's own file by its wide-character path for reading and shares it only
// for reading, so that it cannot be changed, renamed or deleted while this run lasts; the copy the
// resume entry starts is made from this handle. The handle is kept only when its file is the one
// mapped as the running image (the path may name another file once the started one was renamed);
// otherwise no copy can be made. Called first thing at start-up (the copy calls it too, should it
// not have been).
void HoldUpdaterFile();

// At start-up: removes the resume Run value unless it starts the launcher of the trusted work
// folder with a program directly in that folder (a folder that is gone or cannot be trusted could
// have been made again by anybody, with their own programs at the names the value starts).
void DropUntrustedResumeEntry();

// The keep-state flag: set when the restart-guidance page is shown, never cleared.
void SetKeepUpdaterState();
BOOL IsKeepingUpdaterState();

#endif  // ENGINE_RESUME_H_
