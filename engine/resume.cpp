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

// The failure exit of WriteLauncher: whatever was written under the launcher's name goes.
BOOL WriteLauncherFailed(const char* path) {
  if (path[0] != '\0') DeleteFileA(path);
  return FALSE;
}

// A resume entry that cannot be registered: logged, and the user told why with the system's text
// (the code in GetLastError(), or fallback when there is none).
BOOL ResumeFailed(DWORD fallback) {
  const DWORD error = GetLastError();
  RunLogWrite("the resume entry cannot be registered");
  ShowSystemErrorBox(error != ERROR_SUCCESS ? error : fallback);
  return FALSE;
}

}  // namespace


BOOL WriteLauncher(char* path, DWORD size) {
  if (path == nullptr || size < kPathBufferSize) return FALSE;
  if (!GetWorkPath(WorkItem::kLauncher, path)) return FALSE;

  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(path, GetFileExInfoStandard, &data)) DeleteFileA(path);

  base::ScopedHeapBlock buffer(kTransferBufferSize);
  if (!buffer) return WriteLauncherFailed(path);

  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(product::kLauncherResourceId),
                                 product::kPayloadResourceType);
  HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
  const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) {
    ShowSystemErrorBox(GetLastError());
    return WriteLauncherFailed(path);
  }

  base::ScopedHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    ShowSystemErrorBox(GetLastError());
    return WriteLauncherFailed(path);
  }

  const DWORD total = SizeofResource(nullptr, resource);
  DWORD written = 0;
  while (written < total) {
    DWORD chunk = total - written;
    if (chunk > kTransferBufferSize) chunk = kTransferBufferSize;
    CopyMemory(buffer.get(), bytes + written, chunk);
    if (!WriteAll(file.get(), buffer.get(), chunk)) {
      const DWORD error = GetLastError();
      RunLogWrite("writing the launcher %s failed", path);
      ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
      file.reset();
      return WriteLauncherFailed(path);
    }
    written += chunk;
  }
  // On the disk before the resume entry names it.
  if (!FlushFileBuffers(file.get())) {
    const DWORD error = GetLastError();
    RunLogWrite("writing the launcher %s failed", path);
    ShowSystemErrorBox(error);
    file.reset();
    return WriteLauncherFailed(path);
  }
  return TRUE;
}

BOOL IsResumeRegistered() {
  base::ScopedRegKey runKey;
  DWORD type = REG_NONE;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_QUERY_VALUE, runKey.receive()) !=
          ERROR_SUCCESS ||
      RegQueryValueExW(runKey.get(), product::kResumeRunValueW, nullptr, &type, nullptr,
                       nullptr) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return FALSE;
  }
  wchar_t launcher[kPathBufferSize];
  wchar_t copy[kPathBufferSize];
  if (!GetWorkPathW(WorkItem::kLauncher, launcher) || !GetWorkPathW(WorkItem::kUpdaterCopy, copy)) {
    return FALSE;
  }
  for (const wchar_t* path : {launcher, copy}) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      return FALSE;
    }
  }
  return TRUE;
}

void DeleteLauncherFile() {
  // Only the launcher inside the trusted work folder is ever deleted, whatever Launcher says.
  char path[kPathBufferSize];
  if (GetWorkPath(WorkItem::kLauncher, path)) DeleteFileA(path);
}

namespace {

BOOL UnregisterResume() {
  DeleteLauncherFile();
  base::ScopedRegKey runKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS, runKey.receive()) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  RegDeleteValueA(runKey.get(), product::kResumeRunValue);
  return TRUE;
}

}  // namespace

BOOL RegisterResume(BOOL on) {
  static const base::HeapArray<base::Text> kEveryLogon;
  return on ? RegisterResumeFor(kEveryLogon) : UnregisterResume();
}

BOOL RegisterResumeFor(const base::HeapArray<base::Text>& users) {
  char workFolder[kPathBufferSize];
  if (!EnsureWorkFolder(workFolder)) return ResumeFailed(ERROR_CANNOT_MAKE);
  char launcher[kPathBufferSize];
  if (!WriteLauncher(launcher, sizeof(launcher))) return FALSE;
  if (!WriteUpdaterString(nullptr, updater_value::kLauncher, launcher)) {
    const DWORD error = GetLastError();
    DeleteFileA(launcher);
    SetLastError(error);
    return ResumeFailed(ERROR_WRITE_FAULT);
  }

  // The resume entry starts the copy of the updater in the work folder, never the file the user
  // started (which lies wherever the user put it).
  wchar_t updater[kPathBufferSize];
  if (!CopyUpdaterIntoWorkFolder(updater)) return FALSE;

  // Both paths are quoted, and the launcher takes the first argument after its own path as the
  // updater; the users the update waits for follow (none: every logon). Written in UTF-16: the
  // copy's name may have no ANSI form.
  wchar_t launcherW[kPathBufferSize];
  if (!GetWorkPathW(WorkItem::kLauncher, launcherW)) return ResumeFailed(ERROR_PATH_NOT_FOUND);
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
    return ResumeFailed(ERROR_FILENAME_EXCED_RANGE);
  }

  base::ScopedRegKey runKey;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS,
                              runKey.receive());
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExW(runKey.get(), product::kResumeRunValueW, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(commandLine.c_str()),
                            static_cast<DWORD>((commandLine.size() + 1) * sizeof(wchar_t)));
  }
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    return ResumeFailed(ERROR_WRITE_FAULT);
  }
  char copyAnsi[kPathBufferSize];
  RunLogWrite("resume registered: \"%s\" \"%s\"%s%s", launcher,
              GetWorkPath(WorkItem::kUpdaterCopy, copyAnsi) ? copyAnsi : "(a name without ANSI form)",
              userList.c_str(), userList.empty() ? " (every logon)" : " (only these users' logons)");
  return TRUE;
}

void DropUntrustedResumeEntry() {
  base::ScopedRegKey runKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    runKey.receive()) != ERROR_SUCCESS) {
    return;
  }
  base::HeapArray<wchar_t> buffer(kLongestRunValue + 1);
  DWORD bytes = static_cast<DWORD>(kLongestRunValue * sizeof(wchar_t));
  DWORD type = REG_NONE;
  const LONG read = RegQueryValueExW(runKey.get(), product::kResumeRunValueW, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  if (read == ERROR_FILE_NOT_FOUND) return;
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
      trusted = value[i] == L' ' && i + 3 < valueLength && value[i + 1] == L'S' &&
                value[i + 2] == L'-';
      for (i += 3; trusted && i < valueLength && value[i] != L' '; ++i) {
        trusted = (value[i] >= L'0' && value[i] <= L'9') || value[i] == L'-';
      }
    }
  }
  if (trusted) return;
  RunLogWrite("the resume entry does not lead into a trusted work folder; it is removed");
  RegDeleteValueW(runKey.get(), product::kResumeRunValueW);
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
