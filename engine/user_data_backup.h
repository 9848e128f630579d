// The user's own files in the product folder ("Tidemark.log"), saved into a fresh backup folder in
// the temporary folder before the old release is removed and copied back after the new one is in.
#ifndef ENGINE_USER_DATA_BACKUP_H_
#define ENGINE_USER_DATA_BACKUP_H_

#include <windows.h>

// File names relative to the product folder, ended by NULL.
extern const char* const BackupFileList[];

// Creates "<temp>\<8 hex digits of the tick count>", copies the listed files that exist into it
// and records it in BackupFolder. TRUE also when the product folder cannot be determined (nothing
// is done). FALSE when the folder cannot be made, a file cannot be copied (the system's text is
// shown) or BackupFolder cannot be written; the new folder is then gone.
BOOL BackUpUserData();

// Copies every file of the recorded backup folder back into the product folder (overwriting) and
// deletes the backup folder. FALSE, leaving the backup in place, when anything is missing, when
// the recorded folder does not bear a backup's name (eight hexadecimal digits; nothing is copied
// then) or a copy fails (the system's text is shown for a failed copy).
BOOL RestoreUserData();

// TRUE when every file of the backup folder (full path, no trailing backslash) is in the product
// folder with the same contents: nothing of the user's exists only in the backup. FALSE when a file
// differs or is missing there, when the folder cannot be listed, or when the product folder cannot
// be determined.
BOOL IsBackupRestored(const char* backupFolder);

// TRUE when path names a folder the backup could have made: directly inside the temporary folder,
// named by eight hexadecimal digits. Only such a folder is ever deleted through BackupFolder.
BOOL IsOwnBackupFolder(const char* path);

#endif  // ENGINE_USER_DATA_BACKUP_H_
