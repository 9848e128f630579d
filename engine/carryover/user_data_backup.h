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
#include "engine/plan/update_plan.h"

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

// Saves every log of a listed name in the product folder ("Tidemark.log" and the dated copies an
// earlier restore put beside it), each under its own name and by ChooseLogCopy, into
// "<work folder>\backup"; records the names and sizes of the saved copies in BackupFiles and the
// folder in BackupFolder. Every copy is written to a new file, flushed to the disk and then put in
// place of the name. A log that is a link, or has another name too, is not read (the run log says
// so). TRUE also when the product folder cannot be determined (nothing is done). FALSE, after
// showing the system's text, when the work folder or the backup folder cannot be made or a file
// cannot be read or saved; FALSE without a message when the records cannot be written.
BOOL BackUpUserData();

// The saved logs for the reading of the machine: whether a backup is recorded and there, and
// for each recorded copy whether it is in the backup with its recorded size and how the product
// folder's file of that name stands against it. Only the backup folder of the trusted work folder
// is ever read; a record naming anything else counts as none.
void ReadSavedLogs(MachineReading* reading);

enum class LogPlacement {
  kTakeName,  // the saved copy comes back under its own name
  kBeside,    // the log in place stays; the saved copy comes back beside it, dated
};

// Puts one saved copy back into the product folder: written to a new file beside its name,
// flushed, put in place of the name, and only then deleted from the backup. A dated name is made
// from the file's last-write time (local), a second later while the name is taken. FALSE, with
// the system's text shown and naming the file, when any of it fails (the copy stays saved).
BOOL PutSavedLogBack(const char* name, LogPlacement placement);

// Deletes a saved copy that the log in place holds whole.
BOOL DropSavedLog(const char* name);

// The records BackupFolder and BackupFiles go (flushed), then the backup folder of the trusted
// work folder.
BOOL DropBackup();

#endif  // ENGINE_CARRYOVER_USER_DATA_BACKUP_H_
