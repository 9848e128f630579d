// The updater key: HKEY_LOCAL_MACHINE "SOFTWARE\KORVANE SYSTEMS,INC.\TidemarkSXUpdater", where the
// updater remembers an update under way across a restart. It exists only while an update runs.
//
// The key admits SYSTEM and Administrators only (owner Administrators, a protected DACL that its
// subkeys inherit): every operation that may create it checks an existing key's owner and DACL
// and sets them anew when they differ. The vendor key, the updater key and every name below it
// are opened one at a time without following a registry link; a link is refused. An existing
// key counts only when it and every key below it are owned by Administrators or SYSTEM, have
// access entries for those two only and are no links: otherwise a read finds nothing and a write
// sets it aside (deletes it, following no link) and makes the key anew, logged either way.
//
// Every operation returns nonzero on success and 0 on failure and shows nothing; each failure is
// written to the run log where it happens, with its code (a name or value that is not there is an
// answer, not a failure, and is not logged). `suffix` (may be NULL) is appended to the key path
// as it is, with no separator; key path and suffix together must fit in 255 characters, or the
// operation fails without touching the registry.
#ifndef ENGINE_CORE_SETTINGS_STORE_H_
#define ENGINE_CORE_SETTINGS_STORE_H_

#include <windows.h>

// The names of the updater key's values: the one place that spells them.
namespace updater_value {
// REG_DWORD 1 while an update is under way.
constexpr char kMarking[] = "Marking";
// REG_SZ: the folder holding the saved copy of the user's files.
constexpr char kBackupFolder[] = "BackupFolder";
// REG_SZ: the saved copies in that folder, "<name>:<size>|...": what a restore must find there.
constexpr char kBackupFiles[] = "BackupFiles";
// REG_DWORD 1: a restore since the new release's setup did not finish (it waited or failed); from
// then on what is in place stays and saved versions are kept beside it.
constexpr char kRestoreWaited[] = "RestoreWaited";
// REG_SZ: the hive name (string SID) of the user whose autorun entry was saved.
constexpr char kUserId[] = "UserID";
// REG_SZ: the saved command line of that user's autorun entry, whole (written and read with the
// wide-character API; no length limit).
constexpr char kAutoRunCommandLine[] = "AutoRunCommandLine";
// REG_DWORD: the registry type the autorun entry had (REG_SZ or REG_EXPAND_SZ).
constexpr char kAutoRunType[] = "AutoRunType";
// Subkey: the saved autorun entries of the other users, one value per user named by the hive
// (string SID), with the entry's own type (REG_SZ or REG_EXPAND_SZ) and data.
constexpr char kAutoRunRecords[] = "AutoRun";
// REG_SZ: the resume launcher's full path.
constexpr char kLauncher[] = "Launcher";
// REG_SZ: the protected work folder of this update.
constexpr char kWorkFolder[] = "WorkFolder";
}  // namespace updater_value

// 1 when the value exists (of any type and size).
int HasUpdaterValue(const char* valueName);

// Reads a DWORD. Never creates the key. A value longer than 4 bytes fails; the type is not tested.
int ReadUpdaterDword(const char* suffix, const char* valueName, DWORD* value);

// Reads a string into buffer[bufferSize]. On success the text is always NUL-terminated inside the
// buffer, also when the stored data lacks its NUL; a value that does not fit (with its NUL) fails.
// On failure the buffer holds "" (when bufferSize > 0). The type is not tested.
int ReadUpdaterString(const char* suffix, const char* valueName, char* buffer, DWORD bufferSize);

// Sets a REG_DWORD (remove == FALSE) or deletes the value (remove != FALSE). Creates the key when
// absent. A removal succeeds once the key is open, whether or not the value existed.
int WriteUpdaterDword(const char* suffix, const char* valueName, DWORD value, BOOL remove);

// Sets a REG_SZ with its NUL counted, or deletes the value when text is NULL ("" is stored, not a
// removal). Creates the key when absent; removal succeeds once the key is open.
int WriteUpdaterString(const char* suffix, const char* valueName, const char* text);

// Deletes the key with every value and subkey, one key at a time by a handle that follows no
// link (a link below is deleted as a link). An absent key is a failure.
int DeleteUpdaterKey();

// Opens the updater key (with suffix as above) as the other operations do, creating it when
// create is true, into *key, which the caller closes. ERROR_SUCCESS or the system's code
// (ERROR_CANT_RESOLVE_FILENAME for a registry link on the way, ERROR_ACCESS_DENIED for a key
// that is not the updater's).
LONG OpenTrustedUpdaterKey(const char* suffix, REGSAM access, bool create, HKEY* key);

// Opens the updater key with KEY_ALL_ACCESS, creating it (or setting its descriptor) as above,
// into *key, which the caller closes. 1 on success.
int OpenOrCreateUpdaterKey(HKEY* key);

// Writes the updater key through to the disk (RegFlushKey), so that what it records survives a
// power cut from here on. 1 on success; on failure the thread's last error holds the system's
// code (ERROR_FILE_NOT_FOUND when the key is absent).
int FlushUpdaterKey();

// Marking = 1 (on) or removes Marking (off), written through to the disk. 1 when the write
// succeeded.
int SetMarking(BOOL on);

// 1 when Marking can be read and is nonzero; 0 when it is 0, absent, unreadable or too long.
int IsMarkingSet();

#endif  // ENGINE_CORE_SETTINGS_STORE_H_
