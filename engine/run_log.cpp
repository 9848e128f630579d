#include "engine/run_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "engine/product_constants.h"
#include "engine/product_probe.h"
#include "engine/user_state.h"
#include "engine/work_folder.h"

namespace {

constexpr char kLogNameSuffix[] = ".log";
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kSidTextSize = 192;

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

struct RunLogState {
  base::ScopedHandle file;
  char path[kPathBufferSize] = "";
  bool opened = false;  // RunLogOpen has run once
};

RunLogState& Log() {
  static RunLogState state;
  return state;
}

// Restores the caller's GetLastError() value when the logging call returns.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(error_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD error_;
};

bool JoinPath(const char* folder, const char* name, char (&path)[kPathBufferSize]) {
  return base::CopyBounded(path, sizeof(path), folder) && AppendBackslash(path, sizeof(path)) &&
         base::AppendBounded(path, sizeof(path), name);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The time part "yyyymmdd-hhmmss" of a log's file name; "" when the whole name does not have the
// log's form "TidemarkSXUpdater_<8 digits>-<6 digits>_<1 to 10 digits>.log".
std::string GetLogNameTime(const char* name) {
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
  if (digits == 0 || digits > 10 || strcmp(processId + digits, kLogNameSuffix) != 0) return "";
  return std::string(time, sizeof(kTimeForm) - 2);
}

// Where an open handle really leads, as "\\?\C:\...".
bool GetFinalPath(HANDLE handle, char (&path)[kPathBufferSize]) {
  const DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof(path),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 0 && length < sizeof(path);
}

// Deletes folder\name when it is a regular file that is really there: not a link, not a folder,
// and not a name that resolves elsewhere. Under Wine a Unix link to a file looks like a regular
// file, and deleting it deletes its target; only its final path gives it away.
void DeleteLogFile(const char* folder, const char* folderFinalPath, const char* name) {
  char path[kPathBufferSize];
  char expected[kPathBufferSize];
  if (!JoinPath(folder, name, path) || !JoinPath(folderFinalPath, name, expected)) return;
  base::ScopedHandle file(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!file) return;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return;
  }
  char finalPath[kPathBufferSize];
  if (!GetFinalPath(file.get(), finalPath) || lstrcmpiA(finalPath, expected) != 0) return;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition));
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
    std::string time;
    std::string name;
  };
  std::vector<OlderLog> logs;
  WIN32_FIND_DATAA entry;
  base::ScopedFindHandle listing(FindFirstFileA(pattern, &entry));
  if (!listing) return;
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    if (lstrcmpiA(entry.cFileName, ownName) == 0) continue;
    // Users may create files in the Windows folder's Temp: a log one of them planted there (under
    // a name that sorts as newer) neither counts nor is deleted with administrator rights.
    char path[kPathBufferSize];
    if (!JoinPath(folder, entry.cFileName, path) || !IsOwnedByAdministrators(path)) continue;
    std::string time = GetLogNameTime(entry.cFileName);
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

// ANSI (the process's code page) to UTF-8; "" when the text cannot be converted.
std::string AnsiToUtf8(const std::string& text) {
  const int wideLength =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return "";
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], wideLength);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return "";
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr, nullptr);
  return utf8;
}

std::string FormatText(const char* format, va_list args) {
  va_list measuring;
  va_copy(measuring, args);
  const int length = vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  if (length <= 0) return "";
  std::string text(static_cast<size_t>(length) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

// Writes "<local time>  <text>" as one UTF-8 line with a single WriteFile.
void WriteLine(const std::string& text) {
  const HANDLE file = Log().file.get();
  if (!Log().file) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  if (!base::FormatBounded(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u  ", now.wYear,
                           now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                           now.wMilliseconds)) {
    return;
  }
  std::string line = stamp + text;
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  std::string utf8 = AnsiToUtf8(line);
  if (utf8.empty()) return;
  utf8 += "\r\n";
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void GetWindowsVersion(DWORD* major, DWORD* minor, DWORD* build) {
  *major = *minor = *build = 0;
  const auto getVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (getVersion == nullptr || getVersion(&version) != 0) return;
  *major = version.dwMajorVersion;
  *minor = version.dwMinorVersion;
  *build = version.dwBuildNumber;
}

// The SID of the process token's user as "S-1-5-...".
bool GetProcessUserSid(char (&text)[kSidTextSize]) {
  text[0] = '\0';
  base::ScopedHandle token;
  return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()) &&
         GetTokenUserSid(token.get(), text, sizeof(text));
}

}  // namespace

base::ScopedHandle CreateRunLog(const char* folder, const SYSTEMTIME& start, DWORD processId,
                                char (&path)[kPathBufferSize]) {
  path[0] = '\0';
  char name[64];
  if (!base::FormatBounded(name, sizeof(name), "%s%04u%02u%02u-%02u%02u%02u_%lu%s", product::kRunLogPrefix,
                           start.wYear, start.wMonth, start.wDay, start.wHour, start.wMinute,
                           start.wSecond, static_cast<unsigned long>(processId), kLogNameSuffix) ||
      !JoinPath(folder, name, path)) {
    path[0] = '\0';
    return {};
  }
  // Created new, and a link at the name is not followed: whatever already has the name (a log of
  // an earlier run, a planted file or link) makes the creation fail.
  base::ScopedHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!file) {
    path[0] = '\0';
    return {};
  }
  DWORD written = 0;
  WriteFile(file.get(), kUtf8ByteOrderMark, sizeof(kUtf8ByteOrderMark) - 1, &written, nullptr);
  PruneRunLogs(folder, name);
  return file;
}

void RunLogOpen() {
  LastErrorKeeper keeper;
  RunLogState& log = Log();
  if (log.opened) return;
  log.opened = true;
  char folder[kPathBufferSize];
  if (!GetWindowsTempFolder(folder)) return;
  SYSTEMTIME start;
  GetLocalTime(&start);
  log.file = CreateRunLog(folder, start, GetCurrentProcessId(), log.path);
}

void RunLogStart(const char* updaterVersion) {
  LastErrorKeeper keeper;
  if (!Log().file) return;
  DWORD major, minor, build;
  GetWindowsVersion(&major, &minor, &build);
  char sid[kSidTextSize];
  if (!GetProcessUserSid(sid)) base::CopyBounded(sid, sizeof(sid), "unknown");
  const DWORD controls = GetCommonControlsVersion("comctl32.dll");
  RunLogWrite("Updater %s started: Windows %lu.%lu.%lu, user %s, comctl32 %lu.%lu",
              updaterVersion ? updaterVersion : "", static_cast<unsigned long>(major),
              static_cast<unsigned long>(minor), static_cast<unsigned long>(build), sid,
              static_cast<unsigned long>(HIWORD(controls)),
              static_cast<unsigned long>(LOWORD(controls)));
}

void RunLogWrite(const char* format, ...) {
  LastErrorKeeper keeper;
  if (!Log().file) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatText(format, args);
  va_end(args);
  WriteLine(text);
}

void RunLogFailure(const char* what, DWORD code) {
  LastErrorKeeper keeper;
  if (!Log().file) return;
  base::ScopedLocalMemory systemText(GetSystemErrorText(code));
  std::string text = systemText ? static_cast<const char*>(systemText.get()) : "";
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  RunLogWrite("%s: error %lu (0x%08lX)%s%s", what ? what : "", static_cast<unsigned long>(code),
              static_cast<unsigned long>(code), text.empty() ? "" : ": ", text.c_str());
}

void RunLogEnd(int exitCode) {
  LastErrorKeeper keeper;
  if (!Log().file) return;
  RunLogWrite("Updater ended with exit code %d", exitCode);
  Log().file.reset();
}

const char* RunLogPath() { return Log().path; }
