#include "engine/resume.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/file_utils.h"
#include "engine/product_constants.h"
#include "engine/product_probe.h"
#include "engine/settings_store.h"
#include "engine/user_data_backup.h"
#include "framework/app.h"

namespace {

// Set once the restart-guidance page has been shown; never cleared.
BOOL g_keepUpdaterState = FALSE;

constexpr DWORD kTransferBufferSize = 102400;

// Both paths quoted: "<launcher>" "<updater>".
constexpr size_t kResumeCommandLineSize = 2 * kPathBufferSize + 8;

// The failure exit of WriteLauncher: whatever was written under the launcher's name goes.
BOOL WriteLauncherFailed(const char* path) {
  if (path[0] != '\0') DeleteFileA(path);
  return FALSE;
}

}  // namespace

void SetKeepUpdaterState() { g_keepUpdaterState = TRUE; }
BOOL IsKeepingUpdaterState() { return g_keepUpdaterState; }

BOOL WriteLauncher(char* path, DWORD size) {
  if (path == nullptr || size == 0) return FALSE;
  path[0] = '\0';
  const DWORD length = GetTempPathA(size, path);
  if (length == 0 || length >= size || !AppendBackslash(path, size) ||
      !base::AppendBounded(path, size, product::kLauncherFileName)) {
    path[0] = '\0';
    return FALSE;
  }

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
  char path[kPathBufferSize];
  if (!ReadUpdaterString(nullptr, updater_value::kLauncher, path, sizeof(path))) return;
  // Only the launcher is ever deleted through the value: a damaged one naming another file is
  // left alone, as this runs with administrator rights.
  const char* last = FindLastBackslash(path);
  if (last == nullptr || lstrcmpiA(last + 1, product::kLauncherFileName) != 0) return;
  DeleteFileA(path);
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

  char launcher[kPathBufferSize];
  if (!WriteLauncher(launcher, sizeof(launcher))) return FALSE;
  if (!WriteUpdaterString(nullptr, updater_value::kLauncher, launcher)) {
    DeleteFileA(launcher);
    return FALSE;
  }

  char updater[kPathBufferSize];
  CWinApp* app = AfxGetApp();
  const DWORD length =
      GetModuleFileNameA(app != nullptr ? app->m_hInstance : nullptr, updater, sizeof(updater));
  if (length == 0 || length >= sizeof(updater)) return FALSE;

  // Both paths are quoted: the temporary folder lies in the user's profile, whose name may
  // contain blanks, and the launcher takes the first argument after its own path as the updater.
  char commandLine[kResumeCommandLineSize];
  if (!base::FormatBounded(commandLine, sizeof(commandLine), "\"%s\" \"%s\"", launcher, updater)) {
    return FALSE;
  }

  base::ScopedRegKey runKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS, runKey.receive()) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  return RegSetValueExA(runKey.get(), product::kResumeRunValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(commandLine),
                        static_cast<DWORD>(lstrlenA(commandLine) + 1)) == ERROR_SUCCESS;
}

void DiscardUpdaterState() {
  if (IsKeepingUpdaterState()) return;

  char backupFolder[kPathBufferSize];
  const bool backupRecorded =
      ReadUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder, sizeof(backupFolder)) != 0;

  // The old release is gone and the new one did not get installed: the backed-up log file, the
  // settings snapshots and the saved autorun entry are all the user has left. Keep them, with
  // Marking, so that the next start of the updater opens on the install page and restores them
  // after a good setup; only the resume registration goes.
  if (backupRecorded && !IsProductInstalled()) {
    SetMarking(TRUE);
    RegisterResume(FALSE);
    return;
  }

  if (backupRecorded) {
    if (HasTrailingBackslash(backupFolder)) backupFolder[lstrlenA(backupFolder) - 1] = '\0';
    // Only a folder the backup could have made is ever deleted through the recorded value, and
    // only when the product folder holds all of it: a restore that failed (a log held open by the
    // freshly started product) or an uninstaller that removed the log before failing leaves the
    // user's only copy in the backup, and that stays.
    if (IsOwnBackupFolder(backupFolder) && IsBackupRestored(backupFolder)) {
      DeleteFolderTree(backupFolder);
    }
  }
  RegisterResume(FALSE);
  DeleteUpdaterKey();
}
