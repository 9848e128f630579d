#include "engine/resume.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/updater_copy.h"
#include "engine/work_folder.h"

namespace {

constexpr DWORD kTransferBufferSize = 102400;

// Both paths quoted: "<launcher>" "<updater>".
constexpr size_t kResumeCommandLineSize = 2 * kPathBufferSize + 8;
// The longest Run value the updater writes or reads back: the command line Windows can start.
constexpr size_t kLongestRunValue = 32767;

// A string SID as a hive name gives it: "S-" and then digits and dashes only.
bool IsSidText(const char* text) {
  if (text[0] != 'S' || text[1] != '-' || text[2] == '\0') return false;
  for (const char* c = text + 2; *c != '\0'; ++c) {
    if ((*c < '0' || *c > '9') && *c != '-') return false;
  }
  return true;
}

// The failure exit of WriteLauncher, once the failure is logged: whatever was written under the
// launcher's name goes.
BOOL WriteLauncherFailed(const char* path) {
  if (path[0] != '\0' && !DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    RunLogFailureFormat(GetLastError(), "resume: DeleteFile of the unfinished launcher %s failed",
                        path);
  }
  return FALSE;
}

// A failure of WriteLauncher that the user is shown: logged with what failed, then the system's
// text for the code.
BOOL WriteLauncherShown(const char* what, const char* path, DWORD code) {
  RunLogFailureFormat(code, "resume: %s of the launcher %s failed", what, path);
  ShowSystemErrorBox(code);
  return WriteLauncherFailed(path);
}

// A resume entry that cannot be registered: logged with what failed, and the user told why with
// the system's text (the code in GetLastError(), or fallback when there is none).
BOOL ResumeFailed(const char* what, DWORD fallback) {
  const DWORD error = GetLastError();
  const DWORD code = error != ERROR_SUCCESS ? error : fallback;
  RunLogFailureFormat(code, "resume: the resume entry cannot be registered: %s", what);
  ShowSystemErrorBox(code);
  return FALSE;
}

}  // namespace

BOOL WriteLauncher(char* path, DWORD size) {
  if (path == nullptr || size < kPathBufferSize) {
    RunLogFailure("resume: no room for the launcher's path", ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!GetWorkPath(WorkItem::kLauncher, path)) {
    RunLogFailure("resume: the launcher has no place (no trusted work folder)",
                  ERROR_PATH_NOT_FOUND);
    return FALSE;
  }

  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(path, GetFileExInfoStandard, &data) && !DeleteFileA(path)) {
    RunLogFailureFormat(GetLastError(), "resume: DeleteFile of the earlier launcher %s failed",
                        path);
  }

  base::ScopedHeapBlock buffer(kTransferBufferSize);
  if (!buffer) {
    RunLogFailure("resume: no memory to write the launcher", ERROR_NOT_ENOUGH_MEMORY);
    return WriteLauncherFailed(path);
  }

  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(product::kLauncherResourceId),
                                 product::kPayloadResourceType);
  HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
  const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) return WriteLauncherShown("loading the resource", path, GetLastError());

  base::ScopedHandle file(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return WriteLauncherShown("CreateFile", path, GetLastError());

  const DWORD total = SizeofResource(nullptr, resource);
  DWORD written = 0;
  while (written < total) {
    DWORD chunk = total - written;
    if (chunk > kTransferBufferSize) chunk = kTransferBufferSize;
    CopyMemory(buffer.get(), bytes + written, chunk);
    if (!WriteAll(file.get(), buffer.get(), chunk)) {
      const DWORD error = GetLastError();
      file.reset();
      return WriteLauncherShown("WriteFile", path,
                                error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    }
    written += chunk;
  }
  // On the disk before the resume entry names it.
  if (!FlushFileBuffers(file.get())) {
    const DWORD error = GetLastError();
    file.reset();
    return WriteLauncherShown("FlushFileBuffers", path, error);
  }
  return TRUE;
}

// Each FALSE below is an answer the restart page logs; only a failing call is logged here.
BOOL IsResumeRegistered() {
  base::ScopedRegKey runKey;
  LONG result =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_QUERY_VALUE, runKey.receive());
  if (result != ERROR_SUCCESS) {
    RunLogFailure("resume: RegOpenKeyEx of the Run key failed", static_cast<DWORD>(result));
    return FALSE;
  }
  DWORD type = REG_NONE;
  result =
      RegQueryValueExW(runKey.get(), product::kResumeRunValueW, nullptr, &type, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    if (result != ERROR_FILE_NOT_FOUND) {
      RunLogFailure("resume: RegQueryValueEx of the Run value failed", static_cast<DWORD>(result));
    }
    return FALSE;
  }
  wchar_t launcher[kPathBufferSize];
  wchar_t copy[kPathBufferSize];
  if (type != REG_SZ || !GetWorkPathW(WorkItem::kLauncher, launcher) ||
      !GetWorkPathW(WorkItem::kUpdaterCopy, copy)) {
    return FALSE;
  }
  for (const wchar_t* path : {launcher, copy}) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      RunLogFailureFormat(GetLastError(), "resume: %ls cannot be found", path);
      return FALSE;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return FALSE;
  }
  return TRUE;
}

void DeleteLauncherFile() {
  // Only the launcher inside the trusted work folder is ever deleted, whatever Launcher says.
  char path[kPathBufferSize];
  if (GetWorkPath(WorkItem::kLauncher, path) && !DeleteFileA(path) &&
      GetLastError() != ERROR_FILE_NOT_FOUND) {
    RunLogFailureFormat(GetLastError(), "resume: DeleteFile of the launcher %s failed", path);
  }
}

namespace {

BOOL UnregisterResume() {
  DeleteLauncherFile();
  base::ScopedRegKey runKey;
  const LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS, runKey.receive());
  if (opened != ERROR_SUCCESS) {
    RunLogFailure("resume: RegOpenKeyEx of the Run key failed", static_cast<DWORD>(opened));
    return FALSE;
  }
  const LONG deleted = RegDeleteValueA(runKey.get(), product::kResumeRunValue);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
    RunLogFailure("resume: RegDeleteValue of the Run value failed", static_cast<DWORD>(deleted));
  }
  return TRUE;
}

}  // namespace

BOOL RegisterResume(BOOL on) {
  static const base::HeapArray<base::Text> kEveryLogon;
  return on ? RegisterResumeFor(kEveryLogon) : UnregisterResume();
}

BOOL RegisterResumeFor(const base::HeapArray<base::Text>& users) {
  char workFolder[kPathBufferSize];
  if (!EnsureWorkFolder(workFolder)) return ResumeFailed("no work folder", ERROR_CANNOT_MAKE);
  char launcher[kPathBufferSize];
  if (!WriteLauncher(launcher, sizeof(launcher))) return FALSE;  // logged where it failed
  if (!WriteUpdaterString(nullptr, updater_value::kLauncher, launcher)) {
    const DWORD error = GetLastError();
    WriteLauncherFailed(launcher);
    SetLastError(error);
    return ResumeFailed("the launcher cannot be recorded", ERROR_WRITE_FAULT);
  }

  // The resume entry starts the copy of the updater in the work folder, never the file the user
  // started (which lies wherever the user put it).
  wchar_t updater[kPathBufferSize];
  if (!CopyUpdaterIntoWorkFolder(updater)) return FALSE;  // logged where it failed

  // Both paths are quoted, and the launcher takes the first argument after its own path as the
  // updater; the users the update waits for follow (none: every logon). Written in UTF-16: the
  // copy's name may have no ANSI form.
  wchar_t launcherW[kPathBufferSize];
  if (!GetWorkPathW(WorkItem::kLauncher, launcherW)) {
    return ResumeFailed("the launcher has no wide path", ERROR_PATH_NOT_FOUND);
  }
  base::WideText commandLine = base::WideText(L"\"") + launcherW + L"\" \"" + updater + L"\"";
  base::Text userList;
  for (const base::Text& user : users) {
    if (!IsSidText(user.c_str())) continue;
    commandLine += L" ";
    for (const char* c = user.c_str(); *c != '\0'; ++c) commandLine += static_cast<wchar_t>(*c);
    userList += " ";
    userList += user;
  }
  if (commandLine.size() >= kLongestRunValue) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return ResumeFailed("the command line is too long", ERROR_FILENAME_EXCED_RANGE);
  }

  base::ScopedRegKey runKey;
  LONG result =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS, runKey.receive());
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    return ResumeFailed("RegOpenKeyEx of the Run key failed", ERROR_WRITE_FAULT);
  }
  result = RegSetValueExW(runKey.get(), product::kResumeRunValueW, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(commandLine.c_str()),
                          static_cast<DWORD>((commandLine.size() + 1) * sizeof(wchar_t)));
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    return ResumeFailed("RegSetValueEx of the Run value failed", ERROR_WRITE_FAULT);
  }
  char copyAnsi[kPathBufferSize];
  RunLogWrite(
      "resume registered: \"%s\" \"%s\"%s%s", launcher,
      GetWorkPath(WorkItem::kUpdaterCopy, copyAnsi) ? copyAnsi : "(a name without ANSI form)",
      userList.c_str(), userList.empty() ? " (every logon)" : " (only these users' logons)");
  return TRUE;
}

void DropUntrustedResumeEntry() {
  base::ScopedRegKey runKey;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE, runKey.receive());
  if (opened != ERROR_SUCCESS) {
    RunLogFailure("resume: RegOpenKeyEx of the Run key failed", static_cast<DWORD>(opened));
    return;
  }
  base::HeapArray<wchar_t> buffer(kLongestRunValue + 1);
  DWORD bytes = static_cast<DWORD>(kLongestRunValue * sizeof(wchar_t));
  DWORD type = REG_NONE;
  const LONG read = RegQueryValueExW(runKey.get(), product::kResumeRunValueW, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  if (read == ERROR_FILE_NOT_FOUND) return;
  if (read != ERROR_SUCCESS) {
    RunLogFailure("resume: RegQueryValueEx of the Run value failed", static_cast<DWORD>(read));
  }
  buffer[read == ERROR_SUCCESS ? bytes / sizeof(wchar_t) : 0] = L'\0';
  const wchar_t* value = buffer.data();
  // It must be "<launcher>" "<program>" with the launcher of the trusted work folder and a
  // program directly in that folder, followed by nothing or by the users it waits for.
  bool trusted = false;
  wchar_t launcher[kPathBufferSize];
  if (read == ERROR_SUCCESS && type == REG_SZ && GetWorkPathW(WorkItem::kLauncher, launcher)) {
    wchar_t expected[kResumeCommandLineSize];
    const int folderLength = lstrlenW(launcher) - lstrlenW(product::kLauncherFileNameW);
    wsprintfW(expected, L"\"%s\" \"", launcher);
    lstrcpynW(expected + lstrlenW(expected), launcher, folderLength + 1);
    const int expectedLength = lstrlenW(expected);
    const int valueLength = lstrlenW(value);
    int end = expectedLength;  // the program's closing quote
    while (end < valueLength && value[end] != L'"') ++end;
    trusted = end > expectedLength && end < valueLength &&
              wcsncmp(value, expected, static_cast<size_t>(expectedLength)) == 0;
    for (int i = expectedLength; trusted && i < end; ++i) {
      trusted = value[i] != L'\\' && value[i] != L'/';
    }
    // Then nothing, or " S-<digits and dashes>" for each user.
    for (int i = end + 1; trusted && i < valueLength;) {
      trusted =
          value[i] == L' ' && i + 3 < valueLength && value[i + 1] == L'S' && value[i + 2] == L'-';
      for (i += 3; trusted && i < valueLength && value[i] != L' '; ++i) {
        trusted = (value[i] >= L'0' && value[i] <= L'9') || value[i] == L'-';
      }
    }
  }
  if (trusted) return;
  RunLogWrite("the resume entry does not lead into a trusted work folder; it is removed");
  const LONG deleted = RegDeleteValueW(runKey.get(), product::kResumeRunValueW);
  if (deleted != ERROR_SUCCESS) {
    RunLogFailure("resume: RegDeleteValue of the untrusted Run value failed",
                  static_cast<DWORD>(deleted));
  }
}

void KeepResumeUntilRestored(BOOL everythingBack, BOOL somethingSaved) {
  if (everythingBack) {
    RegisterResume(FALSE);
    return;
  }
  if (!somethingSaved) return;
  RunLogWrite("restore: not everything is back; the resume entry stays for the next logon");
  RegisterResume(TRUE);
}
