#include "engine/resume.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/updater_copy.h"
#include "engine/work_folder.h"

namespace {

constexpr DWORD kTransferBufferSize = 102400;

// Both paths quoted: "<launcher>" "<updater>".
constexpr size_t kResumeCommandLineSize = 2 * kPathBufferSize + 8;

// The failure exit of WriteLauncher: whatever was written under the launcher's name goes.
BOOL WriteLauncherFailed(const char* path) {
  if (path[0] != '\0') DeleteFileA(path);
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
    DWORD done = 0;
    if (!WriteFile(file.get(), buffer.get(), chunk, &done, nullptr) || done != chunk) {
      const DWORD error = GetLastError();
      ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
      file.reset();
      return WriteLauncherFailed(path);
    }
    written += done;
  }
  return TRUE;
}

void DeleteLauncherFile() {
  // Only the launcher inside the trusted work folder is ever deleted, whatever Launcher says.
  char path[kPathBufferSize];
  if (GetWorkPath(WorkItem::kLauncher, path)) DeleteFileA(path);
}

BOOL RegisterResume(BOOL on) {
  if (!on) {
    DeleteLauncherFile();
    base::ScopedRegKey runKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS,
                      runKey.receive()) != ERROR_SUCCESS) {
      return FALSE;
    }
    RegDeleteValueA(runKey.get(), product::kResumeRunValue);
    return TRUE;
  }

  char workFolder[kPathBufferSize];
  if (!EnsureWorkFolder(workFolder)) return FALSE;
  char launcher[kPathBufferSize];
  if (!WriteLauncher(launcher, sizeof(launcher))) return FALSE;
  if (!WriteUpdaterString(nullptr, updater_value::kLauncher, launcher)) {
    DeleteFileA(launcher);
    return FALSE;
  }

  // The resume entry starts the copy of the updater in the work folder, never the file the user
  // started (which lies wherever the user put it).
  wchar_t updater[kPathBufferSize];
  if (!CopyUpdaterIntoWorkFolder(updater)) return FALSE;

  // Both paths are quoted, and the launcher takes the first argument after its own path as the
  // updater. Written in UTF-16: the copy's name may have no ANSI form.
  wchar_t commandLine[kResumeCommandLineSize];
  wchar_t launcherW[kPathBufferSize];
  if (!GetWorkPathW(WorkItem::kLauncher, launcherW) ||
      lstrlenW(launcherW) + lstrlenW(updater) + 6 > static_cast<int>(kResumeCommandLineSize)) {
    return FALSE;
  }
  wsprintfW(commandLine, L"\"%s\" \"%s\"", launcherW, updater);

  base::ScopedRegKey runKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS, runKey.receive()) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  char copyAnsi[kPathBufferSize];
  RunLogWrite("resume registered: \"%s\" \"%s\"", launcher,
              GetWorkPath(WorkItem::kUpdaterCopy, copyAnsi) ? copyAnsi : "(a name without ANSI form)");
  return RegSetValueExW(runKey.get(), product::kResumeRunValueW, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(commandLine),
                        static_cast<DWORD>((lstrlenW(commandLine) + 1) * sizeof(wchar_t))) ==
         ERROR_SUCCESS;
}

void DropUntrustedResumeEntry() {
  base::ScopedRegKey runKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    runKey.receive()) != ERROR_SUCCESS) {
    return;
  }
  wchar_t value[kResumeCommandLineSize + 1] = {};
  DWORD bytes = sizeof(value) - sizeof(wchar_t);
  DWORD type = REG_NONE;
  const LONG read = RegQueryValueExW(runKey.get(), product::kResumeRunValueW, nullptr, &type,
                                     reinterpret_cast<BYTE*>(value), &bytes);
  if (read == ERROR_FILE_NOT_FOUND) return;
  // It must be "<launcher>" "<program>" with the launcher of the trusted work folder and a
  // program directly in that folder.
  bool trusted = false;
  wchar_t launcher[kPathBufferSize];
  if (read == ERROR_SUCCESS && type == REG_SZ && GetWorkPathW(WorkItem::kLauncher, launcher)) {
    wchar_t expected[kResumeCommandLineSize];
    const int folderLength = lstrlenW(launcher) - lstrlenW(product::kLauncherFileNameW);
    wsprintfW(expected, L"\"%s\" \"", launcher);
    lstrcpynW(expected + lstrlenW(expected), launcher, folderLength + 1);
    const int expectedLength = lstrlenW(expected);
    const int valueLength = lstrlenW(value);
    trusted = valueLength > expectedLength + 1 && value[valueLength - 1] == L'"' &&
              wcsncmp(value, expected, static_cast<size_t>(expectedLength)) == 0;
    for (int i = expectedLength; trusted && i < valueLength - 1; ++i) {
      trusted = value[i] != L'"' && value[i] != L'\\' && value[i] != L'/';
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
