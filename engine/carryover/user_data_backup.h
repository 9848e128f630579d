// The user's own files in the product folder ("Tidemark.log"), saved into the backup folder inside
// the update's protected work folder before the old release is removed, and copied back after the
// new one is in.
//
// One update keeps one set of saved copies: a later run of the same update never replaces what an
// earlier run saved. When the product folder's log is not the saved one grown, both are kept, and
// both come back: the saved copy as "Tidemark.log", the other beside it as
// "Tidemark_<yyyymmdd-hhmmss>.log" (the time it was last written, local time).
//
// Neither side follows a link: the product's log is opened once, without following a reparse
// point, refused when it has more than one name or leads elsewhere, and read from that handle; a
// copy goes back as a new file beside its name that then replaces the name.
#ifndef ENGINE_CARRYOVER_USER_DATA_BACKUP_H_
#define ENGINE_CARRYOVER_USER_DATA_BACKUP_H_

#include <windows.h>

#include "base/heap_text.h"

// File names relative to the product folder, ended by NULL.
extern const char* const BackupFileList[];

// What a backup does with the log it finds, given the copy an earlier run of the same update
// saved.
enum class LogCopyRule {
  kKeepSaved,          // no log in the product folder (or an empty one): the saved copy stays
  kSaveLive,           // nothing saved yet: the log is saved
  kLiveReplacesSaved,  // the log begins with the saved bytes: the same log grown, saved over it
  kKeepBoth,           // another log: saved beside the saved copy under a dated name
};

// The rule, on the bytes of the saved copy and of the product folder's log (NULL: none).
LogCopyRule ChooseLogCopy(const base::Text* saved, const base::Text* live);

// Saves the listed files into "<work folder>\backup" by ChooseLogCopy and records that folder in
// BackupFolder. Every copy is written to a new file, flushed to the disk and then put in place of
// the name. A log that is a link, or has another name too, is not read (the run log says so).
// TRUE also when the product folder cannot be determined (nothing is done). FALSE, after showing
// the system's text, when the work folder or the backup folder cannot be made or a file cannot be
// read or saved; FALSE without a message when BackupFolder cannot be written.
BOOL BackUpUserData();

// Puts every saved copy of the recorded backup back into the product folder: each one written to
// a new file beside its name, flushed, put in place of the name, and only then deleted from the
// backup; then BackupFolder goes (flushed) and the backup folder with it. Only the backup folder
// of the trusted work folder is ever read, and only the listed names and their dated copies.
// TRUE when everything saved is back, and when nothing was recorded. FALSE, with the system's
// text shown, when a copy fails (what is not back stays saved and recorded for the next start).
// FALSE with *backupMissing TRUE (nothing shown: the caller tells the user) when a backup is
// recorded but is not there; its record is then dropped, as nothing can bring it back.
BOOL RestoreUserData(BOOL* backupMissing = nullptr);

// TRUE when the product folder holds every saved copy of the backup folder (under the same name)
// with the same contents: nothing of the user's exists only in the backup. FALSE when a saved file
// differs or is missing there, or when the product folder cannot be determined.
BOOL IsBackupRestored(const char* backupFolder);

#endif  // ENGINE_CARRYOVER_USER_DATA_BACKUP_H_
