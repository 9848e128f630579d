// The user's own files in the product folder ("Tidemark.log"), saved into the backup folder inside
// the update's protected work folder before the old release is removed, and copied back after the
// new one is in.
#ifndef ENGINE_USER_DATA_BACKUP_H_
#define ENGINE_USER_DATA_BACKUP_H_

#include <windows.h>

// File names relative to the product folder, ended by NULL.
extern const char* const BackupFileList[];

// Saves the listed files into "<work folder>\backup" and records that folder in BackupFolder.
// A listed file that the product folder holds is copied (to a new file first, written through to
// the disk, then put in place of an earlier copy); one it no longer holds keeps the copy an
// earlier run saved, so that a second run after an interrupted uninstall never replaces the
// user's only copy with nothing. TRUE also when the product folder cannot be determined (nothing
// is done). FALSE, after showing the system's text, when the work folder or the backup folder
// cannot be made or a file cannot be copied; FALSE without a message when BackupFolder cannot be
// written.
BOOL BackUpUserData();

// Copies the listed files of the recorded backup back into the product folder (overwriting),
// writes them through to the disk, removes BackupFolder and deletes the backup folder. Only the
// backup folder of the trusted work folder is ever read, only the listed names are copied and
// never through a link. TRUE when everything saved is back, and when nothing usable was saved
// (no BackupFolder, or one that is not the work folder's backup). FALSE, with the system's text
// shown, when a copy fails; the backup and BackupFolder then stay for the next start.
BOOL RestoreUserData();

// TRUE when the product folder holds every listed file of the backup folder with the same
// contents: nothing of the user's exists only in the backup. FALSE when a saved file differs or
// is missing there, or when the product folder cannot be determined.
BOOL IsBackupRestored(const char* backupFolder);

#endif  // ENGINE_USER_DATA_BACKUP_H_
