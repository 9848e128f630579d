#include "engine/resume.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/process_runner.h"
#include "engine/product_processes.h"
#include "engine/update_stage.h"
#include "engine/user_data_backup.h"
#include "engine/user_state.h"
#include "engine/work_folder.h"

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

// The running updater's own file, held open from the start of the run so that nobody can change,
// rename or replace it while the run lasts: the copy the resume entry starts is made from it.
base::ScopedHandle& HeldUpdaterFile() {
  static base::ScopedHandle file;
  return file;
}

// Copies the running updater, through the held file, into the work folder (unless it runs from
// there) and gives the copy's path in copy[520].
bool CopyUpdaterIntoWorkFolder(char* copy) {
  if (!GetWorkPath(WorkItem::kUpdaterCopy, copy)) return false;
  char own[kPathBufferSize];
  if (!GetUpdaterPath(own)) return false;
  if (lstrcmpiA(own, copy) == 0) return true;
  HoldUpdaterFile();
  base::ScopedHandle& source = HeldUpdaterFile();
  LARGE_INTEGER start = {};
  base::ScopedHandle target(CreateFileA(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  base::ScopedHeapBlock buffer(kTransferBufferSize);
  bool ok = source && target && buffer && SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN);
  for (DWORD read = 1; ok && read > 0;) {
    DWORD written = 0;
    ok = ReadFile(source.get(), buffer.get(), kTransferBufferSize, &read, nullptr) &&
         WriteFile(target.get(), buffer.get(), read, &written, nullptr) && written == read;
  }
  ok = ok && FlushFileBuffers(target.get());
  if (!ok) {
    const DWORD error = GetLastError();
    target.reset();
    DeleteFileA(copy);
    ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

}  // namespace

void HoldUpdaterFile() {
  base::ScopedHandle& file = HeldUpdaterFile();
  if (file) return;
  char own[kPathBufferSize];
  if (!GetUpdaterPath(own)) return;
  file.reset(CreateFileA(own, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
}

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
  PutBackWhatTheUninstallerChanged();
  if (IsUpdaterStateNeeded()) {
    RunLogWrite("clean-up: the saved state is still needed and stays for the next start");
    // Settings that wait for their user's hive: the next logon brings the updater back.
    if (HasWaitingUserSettings(TRUE)) RegisterResume(TRUE);
    return;
  }
  RunLogWrite("clean-up: work folder and updater key removed");
  DiscardWorkFolder();
  DeleteUpdaterKey();
}

namespace {

// TRUE while the uninstaller of this run, or a program in the product folder (which its wait does
// not cover), still runs.
bool IsUninstallRunning() {
  if (IsUninstallerRunning()) {
    RunLogWrite("clean-up: the uninstaller still runs");
    return true;
  }
  return CountRunningProductProcesses() > 0;
}

}  // namespace

void PutBackWhatTheUninstallerChanged() {
  const UpdateState state = GetUpdateState();
  if (!state.underWay || state.stage != kStageUninstallPending || !HasSavedUserState() ||
      IsUninstallRunning()) {
    return;
  }
  char backupFolder[kPathBufferSize];
  if (GetWorkPath(WorkItem::kBackupFolder, backupFolder) && IsPlainFolder(backupFolder) &&
      !IsBackupRestored(backupFolder)) {
    RunLogWrite("clean-up: the log file was removed or changed; the saved copy goes back");
    RestoreUserData();
  }
  if (!IsUserStateInPlace()) {
    RunLogWrite("clean-up: settings or autorun entry removed or changed; the saved copies go back");
    if (RestoreUserSettings()) RestoreAutoRun(FALSE);
  }
}

BOOL IsUpdaterStateNeeded() {
  const UpdateState state = GetUpdateState();
  if (!HasSavedUserState()) return FALSE;
  // The update is over for the machine, but some users' settings still wait for their hive.
  if (HasWaitingUserSettings(TRUE)) return TRUE;
  if (!state.underWay) return FALSE;
  switch (state.stage) {
    case kStageRestartPending:
    case kStageInstallPending:
    case kStageRestorePending:
      // The old release is gone, or the new one is in without what was saved of the user's.
      return TRUE;
    case kStageUninstallPending: {
      // The old release is still there. While anything the uninstaller started may still run,
      // it may still remove the originals: everything stays.
      if (IsUninstallRunning()) return TRUE;
      // Its uninstaller may have removed or changed the log, the settings or the autorun entry
      // before it failed, and putting them back may have failed: a saved copy that is the
      // user's only one stays, with its record.
      char backupFolder[kPathBufferSize];
      const bool logOnlyInBackup = GetWorkPath(WorkItem::kBackupFolder, backupFolder) &&
                                   IsPlainFolder(backupFolder) && !IsBackupRestored(backupFolder);
      return (logOnlyInBackup || !IsUserStateInPlace()) ? TRUE : FALSE;
    }
    case kStageNothingToDo:
      break;
  }
  return FALSE;
}
