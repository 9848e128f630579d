// Path and folder routines shared by the engine. Paths are ANSI strings in the process's ANSI code
// page, which may be double-byte (code page 932): every backslash search steps over both bytes of
// a double-byte character, whose second byte may have the value 0x5C.
#ifndef ENGINE_CORE_FILE_UTILS_H_
#define ENGINE_CORE_FILE_UTILS_H_

#include <windows.h>

#include "base/scoped.h"

constexpr size_t kPathBufferSize = 520;

// 1 when the path ends in a real backslash (not the second byte of a double-byte character).
// The string is walked from its start, so a trail byte that happens to look like a lead byte
// does not hide a real backslash after it.
int HasTrailingBackslash(const char* path);

// 1 for "\\server\share..." paths; 0 for the long-path prefix "\\?\" and everything else.
int IsUncPath(const char* path);

// Creates every missing level of the path (a UNC path starts at its share). A level that exists
// as a file counts as existing. Nonzero when all missing levels were created; 0 at the first
// failure, leaving the levels already made.
int CreateFolderPath(const char* path);

// Deletes a folder with everything in it, clearing read-only bits as needed. A drive root or a
// share root is emptied but kept. Never follows a junction or symbolic link: such an entry (or a
// path that is one) is removed as a link, and its target is left alone; if the link cannot be
// removed, the deletion fails. Refuses, deleting nothing, an empty or relative path and any path
// whose entries would not fit in a 520-byte buffer. Nonzero when the tree is gone; 0 at the first
// failure, with what was deleted so far gone.
int DeleteFolderTree(const char* path);

// 1 when the folder holds nothing but "." and "..", or cannot be listed; 0 otherwise.
int IsFolderEmpty(const char* path);

// The running program's own full path into path[520]; 0 when it does not fit. The ANSI form may
// name another file than the program's (under code page 932 a "\xA5" in a name reads as a
// backslash): whatever must name exactly the program's own file takes the wide form.
int GetUpdaterPath(char* path);
int GetUpdaterPathW(wchar_t* path);

// The shared Windows folder's Temp into folder[520], without a trailing backslash: where the
// updater keeps its logs. The shared folder (GetSystemWindowsDirectoryA),
// never a per-user one that a terminal server may give a program. 0 when it does not fit.
int GetWindowsTempFolder(char* folder);

// Writes a file's data through to the disk (FlushFileBuffers); 0 when it cannot be opened or
// flushed, with the Win32 code in GetLastError().
int FlushFileToDisk(const char* path);

// Writes all size bytes at the file's position. A write that reports fewer bytes than asked (a
// disk that runs full reports a short count first) is continued with the rest; a write that
// reports none at all without an error counts as a full disk. FALSE with the Win32 code in
// GetLastError() (ERROR_DISK_FULL for a disk with no room left).
BOOL WriteAll(HANDLE file, const void* bytes, DWORD size);

// The block size of CopyFileBlocks and CompareFileBlocks.
constexpr DWORD kFileBlockSize = 1024 * 1024;

// Copies source, from its start to its end, to target at target's position, one block of
// kFileBlockSize at a time through WriteAll: the memory is the same for any size of file. FALSE
// with the Win32 code in GetLastError().
BOOL CopyFileBlocks(HANDLE source, HANDLE target);

// How the contents of two open files compare, read from their starts in blocks.
enum class FileComparison { kEqual, kFirstContinuesSecond, kDifferent };
// kEqual: the same bytes; kFirstContinuesSecond: first is longer and begins with all of second;
// kDifferent otherwise (an error too, with its code in GetLastError() and *failed set when
// failed is not NULL).
FileComparison CompareFileBlocks(HANDLE first, HANDLE second, bool* failed = nullptr);

// 1 when the path is an existing folder that is not a junction or symbolic link.
int IsPlainFolder(const char* path);

// 1 when the path is an existing file that is neither a folder nor a link.
int IsPlainFile(const char* path);

// Whether a folder's security descriptor lets anybody but Administrators, SYSTEM and
// TrustedInstaller add, replace or delete files in it, or change its security: an owner other than
// those three, no access list at all, or an allow entry for another SID with any such right (an
// entry that only its subfolders and files inherit does not count; deny entries are not relied
// on). 1 then, and also for an entry this cannot read.
int DescriptorLetsOthersWrite(PSECURITY_DESCRIPTOR descriptor);

// DescriptorLetsOthersWrite of a folder's descriptor as the system reports it; 1 also when the
// descriptor cannot be read.
int IsFolderWritableByOthers(const wchar_t* folder);

// count random lower-case hex digits (from the system's cryptographic generator) and a NUL into
// digits[count + 1]; 0 (digits "") when the generator cannot be had. count at most 64.
int FormatRandomHex(char* digits, int count);

// The system's text for an error code, allocated by the system (free it with LocalFree), or NULL
// when the system has none.
char* GetSystemErrorText(DWORD code);

// Helpers used by the path builders of the engine.
// Appends a backslash unless the path already ends in one; false when it does not fit.
bool AppendBackslash(char* path, size_t size);
// Position of the last real backslash, or NULL.
const char* FindLastBackslash(const char* path);
// True for a byte that starts a double-byte character in the ANSI code page.
bool IsLeadByte(unsigned char byte);

// "yyyymmdd-hhmmss" of a time: the stamp in the names of dated logs, kept keys and files, and run
// logs.
struct TimeStamp {
  char text[16];
};
TimeStamp FormatTimeStamp(const SYSTEMTIME& time);

// Builds "<folder>\<name>" with one backslash between them into path; false when it does not fit.
bool JoinPath(const char* folder, const char* name, char (&path)[kPathBufferSize]);

// True for the entries "." and ".." of a folder listing.
bool IsDotEntry(const char* name);

// The two walks: over a folder's entries and over a key's subkeys.
//
// Calls visit(entryPath, attributes) for every entry of the folder but "." and "..", in listing
// order, until visit returns false. Entries whose path does not fit are skipped. False when the
// folder cannot be listed.
template <typename Visit>
bool ForEachFolderEntry(const char* folder, Visit visit) {
  char pattern[kPathBufferSize];
  if (!JoinPath(folder, "*", pattern)) return false;
  WIN32_FIND_DATAA entry;
  base::ScopedFindHandle listing(FindFirstFileA(pattern, &entry));
  if (!listing) return false;
  do {
    char path[kPathBufferSize];
    if (IsDotEntry(entry.cFileName) || !JoinPath(folder, entry.cFileName, path)) continue;
    if (!visit(static_cast<const char*>(path), entry.dwFileAttributes)) break;
  } while (FindNextFileA(listing.get(), &entry));
  return true;
}

// Calls visit(name) for every subkey of the key (names read with the wide-character API), in the
// order the registry lists them, until visit returns something other than ERROR_SUCCESS, which is
// then returned: that is how a visitor stops the walk. ERROR_SUCCESS after the last subkey; the
// system's error when the key cannot be listed. A visitor that deletes subkeys must not use it.
template <typename Visit>
LONG ForEachSubkey(HKEY key, Visit visit) {
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // a key name has at most 255 characters
    DWORD nameChars = 256;
    LONG result = RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    result = visit(static_cast<const wchar_t*>(name));
    if (result != ERROR_SUCCESS) return result;
  }
}

#endif  // ENGINE_CORE_FILE_UTILS_H_
