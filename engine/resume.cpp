#include "engine/run_log.h"
#include "engine/resume.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/file_utils.h"
#include "engine/product_constants.h"
#include "engine/settings_store.h"
#include "engine/update_stage.h"
#include "engine/user_data_backup.h"
#include "engine/work_folder.h"
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

// Copies the running updater into the work folder (unless it runs from there) and gives the copy's
// path in copy[520].
bool CopyUpdaterIntoWorkFolder(char* copy) {
  if (!GetWorkPath(WorkItem::kUpdaterCopy, copy)) return false;
  char own[kPathBufferSize];
  CWinApp* app = AfxGetApp();
  const DWORD length =
      GetModuleFileNameA(app != nullptr ? app->m_hInstance : nullptr, own, sizeof(own));
  if (length == 0 || length >= sizeof(own)) return false;
  if (lstrcmpiA(own, copy) == 0) return true;
  if (!CopyFileA(own, copy, FALSE)) {
    ShowSystemErrorBox(GetLastError());
    return false;
  }
  return true;
}

}  // namespace

void SetKeepUpdaterState() { g_keepUpdaterState = TRUE; }
BOOL IsKeepingUpdaterState() { return g_keepUpdaterState; }

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
  char updater[kPathBufferSize];
  if (!CopyUpdaterIntoWorkFolder(updater)) return FALSE;

  // Both paths are quoted, and the launcher takes the first argument after its own path as the
  // updater.
  char commandLine[kResumeCommandLineSize];
  if (!base::FormatBounded(commandLine, sizeof(commandLine), "\"%s\" \"%s\"", launcher, updater)) {
    return FALSE;
  }

  base::ScopedRegKey runKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS, runKey.receive()) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  RunLogWrite("resume registered: %s", commandLine);
  return RegSetValueExA(runKey.get(), product::kResumeRunValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(commandLine),
                        static_cast<DWORD>(lstrlenA(commandLine) + 1)) == ERROR_SUCCESS;
}

void DiscardUpdaterState() {
  if (IsKeepingUpdaterState()) return;
  // Only the resume registration goes while what it holds is still needed; the next start of the
  // updater carries on from the stage it finds.
  RegisterResume(FALSE);
  if (IsUpdaterStateNeeded()) {
    RunLogWrite("clean-up: the saved state is still needed and stays for the next start");
    return;
  }
  RunLogWrite("clean-up: work folder and updater key removed");
  DiscardWorkFolder();
  DeleteUpdaterKey();
}

BOOL IsUpdaterStateNeeded() {
  const UpdateState state = GetUpdateState();
  if (!state.underWay || !HasSavedUserState()) return FALSE;
  switch (state.stage) {
    case kStageRestartPending:
    case kStageInstallPending:
    case kStageRestorePending:
      // The old release is gone, or the new one is in without what was saved of the user's.
      return TRUE;
    case kStageUninstallPending: {
      // The old release is still there. Its uninstaller may have removed the log before it
      // failed: a backup that is the user's only copy stays, with its record.
      char backupFolder[kPathBufferSize];
      return GetWorkPath(WorkItem::kBackupFolder, backupFolder) && IsPlainFolder(backupFolder) &&
             !IsBackupRestored(backupFolder);
    }
    case kStageNothingToDo:
      break;
  }
  return FALSE;
}
