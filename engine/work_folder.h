// The protected work folder of one update: everything the elevated updater writes and later runs,
// loads or copies back lives there, never in a place the user's own programs can change.
//
//   <common application data>\TidemarkSXUpdater\   the parent: only Administrators and SYSTEM
//                                                 may change it or make anything in it
//   <parent>\TidemarkSXUpdater-<16 hex digits>      only Administrators and SYSTEM may change it
//     setup\                 the unpacked setup files
//     backup\                the saved copy of the user's files (BackupFolder names it)
//     temp\                  TMP and TEMP of the uninstaller and setup
//     TmkUpLauncher.exe      the resume launcher
//     <updater file name>    the copy of the updater that the resume entry starts (Updater.exe
//                            when the started file has the name of another item here)
//
// The common application-data folder (C:\ProgramData) is not emptied by temp cleaners, and users
// may create folders in it but not delete or rename what others created there. The parent is made
// once, protected, and stays: once a work folder is gone, no user can make its name again. It is
// checked by handle (a directory, no link, owned by Administrators or SYSTEM) before any work
// folder in it is made or used, and held open for the run.
//
// The folder is recorded in the updater key (WorkFolder). Every path inside it is built here. Once
// checked, the folder stays open (without delete sharing) until the run ends or it is discarded,
// so that it cannot be renamed, removed or replaced by a link meanwhile.
#ifndef ENGINE_WORK_FOLDER_H_
#define ENGINE_WORK_FOLDER_H_

#include <windows.h>

// The places inside the work folder.
enum class WorkItem { kSetupFolder, kBackupFolder, kTempFolder, kLauncher, kUpdaterCopy };

// The security of the work folder, as SDDL: owner Administrators; SYSTEM and Administrators full
// control; Users read and execute (the launcher and the updater copy run at any user's logon);
// nothing inherited from the parent.
extern const char kWorkFolderSecurity[];
// The security of its backup folder (the user's saved files): SYSTEM and Administrators only.
extern const char kBackupFolderSecurity[];

// Creates a folder that did not exist, with the given security (SDDL). FALSE with the Win32 code in
// GetLastError(); ERROR_ALREADY_EXISTS when the name was taken.
BOOL CreateProtectedFolder(const char* path, const char* security);

// TRUE when a file or folder is owned by Administrators or SYSTEM, as everything an elevated
// administrator creates is. (Wine does not keep owners and reports one owner for everything; under
// Wine, and only there, the owner it reports for a folder an administrator creates counts too.)
BOOL IsOwnedByAdministrators(const char* path);

// "<work folders' parent>\Kept" into folder[520] (the parent made and checked first), made with
// kBackupFolderSecurity when it is not there; FALSE when it cannot be made or is no plain folder
// owned by Administrators or SYSTEM.
BOOL GetKeptFolder(char* folder);

// The recorded work folder into folder[520] when it can still be trusted: directly in the trusted
// parent, named like a work folder, and, as one handle opened without following
// links tells, a directory that is no reparse point and resolves to that very path, on a volume
// that keeps access lists, owned by Administrators or SYSTEM. That handle is then held. FALSE
// (folder "") when none is recorded or the recorded one fails any of these tests: it is then
// treated as missing and nothing is ever copied from it.
BOOL GetWorkFolder(char* folder);

// The folder work folders are made in (the common application-data folder), with a trailing
// backslash, into folder[520]; FALSE when it cannot be had.
BOOL GetWorkFolderParentPath(char* folder);

// The recorded work folder when it can be trusted; otherwise a new one, created with
// kWorkFolderSecurity under a fresh random name (never a folder that already existed) and
// recorded in WorkFolder. FALSE with the Win32 code in GetLastError() when none can be had.
BOOL EnsureWorkFolder(char* folder);

// The path of an item inside the trusted recorded work folder into path[520]; FALSE (path "")
// when there is no trusted work folder or the path does not fit. The updater copy's path is given
// only when the ANSI code page can name it exactly; GetWorkPathW gives it always.
BOOL GetWorkPath(WorkItem item, char* path);
BOOL GetWorkPathW(WorkItem item, wchar_t* path);

// The file name of the updater copy into name[260]: the started file's name, or "Updater.exe" when
// that is the name of another item of the work folder (the launcher's). FALSE when unknown.
BOOL GetUpdaterCopyName(wchar_t* name);

// TRUE when path is the item's place inside the trusted recorded work folder (case-insensitive).
BOOL IsWorkPath(WorkItem item, const char* path);

// Deletes the recorded work folder with everything in it and removes WorkFolder. The running
// program cannot delete its own file: when it runs from the work folder, that file and the folder
// are scheduled for removal at the next restart instead. A folder that cannot be trusted is left
// alone.
void DiscardWorkFolder();

#endif  // ENGINE_WORK_FOLDER_H_
