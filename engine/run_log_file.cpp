#include "engine/run_log_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <sddl.h>

#include "base/bounded_string.h"
#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/late_bound.h"
#include "engine/core/names.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/work_folder.h"

namespace {

constexpr char kLogNameSuffix[] = ".log";
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr int kRandomDigits = 8;
// A clash of names is all but impossible with the random part; a few fresh names are plenty.
constexpr int kCreateAttempts = 8;
// Only Administrators and SYSTEM may read or change a log; nothing is inherited from the folder,
// which all users may write.
constexpr char kLogSecurity[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLowerHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }

// The time part "yyyymmdd-hhmmss" of a log's file name; "" when the whole name does not have the
// log's form "TidemarkSXUpdater_<8 digits>-<6 digits>_<1 to 10 digits>_<8 hex digits>.log" (or
// that of earlier releases, without the hex digits).
base::Text GetLogNameTime(const char* name) {
  const size_t prefixLength = sizeof(product::kRunLogPrefix) - 1;
  if (strncmp(name, product::kRunLogPrefix, prefixLength) != 0) return "";
  const char* time = name + prefixLength;
  static const char kTimeForm[] = "########-######_";
  for (size_t i = 0; i + 1 < sizeof(kTimeForm); ++i) {
    if (kTimeForm[i] == '#' ? !IsDigit(time[i]) : time[i] != kTimeForm[i]) return "";
  }
  const char* processId = time + sizeof(kTimeForm) - 1;
  size_t digits = 0;
  while (IsDigit(processId[digits])) ++digits;
  if (digits == 0 || digits > 10) return "";
  const char* rest = processId + digits;
  if (rest[0] == '_') {
    for (int i = 1; i <= kRandomDigits; ++i) {
      if (!IsLowerHexDigit(rest[i])) return "";
    }
    rest += 1 + kRandomDigits;
  }
  if (strcmp(rest, kLogNameSuffix) != 0) return "";
  return base::Text(time, sizeof(kTimeForm) - 2);
}

// Where an open handle really leads, as "\\?\C:\...".
bool GetFinalPath(HANDLE handle, char (&path)[kPathBufferSize]) {
  const DWORD length = late::GetFinalPathNameByHandleA(handle, path, sizeof(path),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 0 && length < sizeof(path);
}

// Deletes folder\name when it is a regular file that is really there: not a link, not a folder,
// not a name that resolves elsewhere, and the file's only name (a hard link shares its file
// with a name elsewhere, which may be anybody's). Under Wine a Unix link to a file looks like a
// regular file, and deleting it deletes its target; only its final path gives it away.
void DeleteLogFile(const char* folder, const char* folderFinalPath, const char* name) {
  char path[kPathBufferSize];
  char expected[kPathBufferSize];
  if (!JoinPath(folder, name, path) || !JoinPath(folderFinalPath, name, expected)) return;
  base::ScopedHandle file(CreateFileA(
      path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      information.nNumberOfLinks != 1) {
    return;
  }
  char finalPath[kPathBufferSize];
  if (!GetFinalPath(file.get(), finalPath) || !SameName(finalPath, expected)) return;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  late::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                   sizeof(disposition));
}

// Whether folder\name is one of the updater's own logs: a regular file (no link, no folder) that
// is its file's only name, owned by Administrators or SYSTEM.
bool IsOwnLog(const char* path) {
  base::ScopedHandle file(CreateFileA(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!file || !GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      information.nNumberOfLinks != 1) {
    return false;
  }
  // The owner as the work folder's rules read it (Wine reports one owner for everything).
  file.reset();
  return IsOwnedByAdministrators(path) != FALSE;
}

// Deletes all but the newest kRunLogsKept - 1 logs besides ownName. Entries listed as folders or
// links are no logs and do not count.
void PruneRunLogs(const char* folder, const char* ownName) {
  char folderFinalPath[kPathBufferSize];
  {
    base::ScopedHandle folderHandle(CreateFileA(
        folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folderHandle || !GetFinalPath(folderHandle.get(), folderFinalPath)) return;
  }
  char pattern[kPathBufferSize];
  char wildcard[64];
  if (!base::FormatBounded(wildcard, sizeof(wildcard), "%s*.log", product::kRunLogPrefix) ||
      !JoinPath(folder, wildcard, pattern)) {
    return;
  }

  struct OlderLog {
    base::Text time;
    base::Text name;
  };
  base::HeapArray<OlderLog> logs;
  WIN32_FIND_DATAA entry;
  base::ScopedFindHandle listing(FindFirstFileA(pattern, &entry));
  if (!listing) return;
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    if (SameName(entry.cFileName, ownName)) continue;
    // Users may create files in the Windows folder's Temp: a log one of them planted there (under
    // a name that sorts as newer, or as a second name of a genuine log) neither counts nor is
    // deleted with administrator rights.
    char path[kPathBufferSize];
    if (!JoinPath(folder, entry.cFileName, path) || !IsOwnLog(path)) continue;
    base::Text time = GetLogNameTime(entry.cFileName);
    if (!time.empty()) logs.push_back({time, entry.cFileName});
  } while (FindNextFileA(listing.get(), &entry));
  listing.reset();

  // Newest first; logs of the same second in name order.
  std::sort(logs.begin(), logs.end(), [](const OlderLog& a, const OlderLog& b) {
    return a.time != b.time ? a.time > b.time : a.name > b.name;
  });
  for (size_t i = kRunLogsKept - 1; i < logs.size(); ++i) {
    DeleteLogFile(folder, folderFinalPath, logs[i].name.c_str());
  }
}

}  // namespace

base::ScopedHandle CreateRunLog(const char* folder, const SYSTEMTIME& start, DWORD processId,
                                char (&path)[kPathBufferSize]) {
  path[0] = '\0';
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kLogSecurity, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return {};
  }
  base::ScopedLocalMemory ownedDescriptor(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  char name[64];
  base::ScopedHandle file;
  for (int attempt = 0; attempt < kCreateAttempts && !file; ++attempt) {
    char random[kRandomDigits + 1];
    if (!FormatRandomHex(random, kRandomDigits) ||
        !base::FormatBounded(name, sizeof(name), "%s%s_%lu_%s%s", product::kRunLogPrefix,
                             FormatTimeStamp(start).text, static_cast<unsigned long>(processId),
                             random, kLogNameSuffix) ||
        !JoinPath(folder, name, path)) {
      break;
    }
    // Created new, and a link at the name is not followed: whatever already has the name (a
    // planted file or link) makes this creation fail, and the next name is tried.
    file.reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  if (!file) {
    path[0] = '\0';
    return {};
  }
  DWORD written = 0;
  WriteFile(file.get(), kUtf8ByteOrderMark, sizeof(kUtf8ByteOrderMark) - 1, &written, nullptr);
  PruneRunLogs(folder, name);
  return file;
}

void OpenRunLogFile() {
  base::ScopedLastError keeper;
  static bool tried = false;
  if (tried) return;
  tried = true;
  char folder[kPathBufferSize];
  char path[kPathBufferSize] = "";
  base::ScopedHandle file;
  if (GetWindowsTempFolder(folder)) {
    SYSTEMTIME start;
    GetLocalTime(&start);
    file = CreateRunLog(folder, start, GetCurrentProcessId(), path);
  }
  RunLogOpen(std::move(file), path);
}
