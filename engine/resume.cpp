#include "engine/resume.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "base/system_dlls.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/process_runner.h"
#include "engine/product_processes.h"
#include "engine/update_stage.h"
#include "engine/carryover/user_data_backup.h"
#include "engine/carryover/user_state.h"
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

// A resume entry that cannot be registered: logged, and the user told why with the system's text
// (the code in GetLastError(), or fallback when there is none).
BOOL ResumeFailed(DWORD fallback) {
  const DWORD error = GetLastError();
  RunLogWrite("the resume entry cannot be registered");
  ShowSystemErrorBox(error != ERROR_SUCCESS ? error : fallback);
  return FALSE;
}

// The running updater's own file, held open from the start of the run so that nobody can change,
// rename or replace it while the run lasts: the copy the resume entry starts is made from it.
base::ScopedHandle& HeldUpdaterFile() {
  static base::ScopedHandle file;
  return file;
}

using GetMappedFileNameFunction = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);

// The path of the file mapped as this program's image, as the system names it now (it follows a
// rename): "\Device\HarddiskVolume1\...", or "\??\C:\..." under Wine. False when unknown.
bool GetMappedImagePath(wchar_t (&path)[kPathBufferSize]) {
  auto getMapped = reinterpret_cast<GetMappedFileNameFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32GetMappedFileNameW")));
  base::ScopedLibrary psapi;
  if (getMapped == nullptr) {
    psapi.reset(base::LoadSystemLibrary("psapi.dll"));
    if (psapi) {
      getMapped = reinterpret_cast<GetMappedFileNameFunction>(
          reinterpret_cast<void*>(GetProcAddress(psapi.get(), "GetMappedFileNameW")));
    }
  }
  if (getMapped == nullptr) return false;
  const DWORD length = getMapped(GetCurrentProcess(), GetModuleHandleW(nullptr), path, kPathBufferSize);
  return length > 0 && length < kPathBufferSize;
}

bool SameText(const wchar_t* a, const wchar_t* b) {
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

// Whether an open file is the one mapped as this program's image: the mapped file's path equals
// the handle's final path, in the system's device form or (Wine) in its "\??\" form.
bool IsMappedImage(HANDLE file) {
  wchar_t mapped[kPathBufferSize];
  wchar_t opened[kPathBufferSize];
  if (!GetMappedImagePath(mapped)) return false;
  DWORD length = late::GetFinalPathNameByHandleW(file, opened, kPathBufferSize,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
  if (length > 0 && length < kPathBufferSize && SameText(mapped, opened)) return true;
  length = late::GetFinalPathNameByHandleW(file, opened, kPathBufferSize,
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 4 && length < kPathBufferSize && CompareStringW(LOCALE_INVARIANT, 0, mapped, 4,
                                                                   L"\\??\\", 4) == CSTR_EQUAL &&
         CompareStringW(LOCALE_INVARIANT, 0, opened, 4, L"\\\\?\\", 4) == CSTR_EQUAL &&
         SameText(mapped + 4, opened + 4);
}

// Copies the running updater, through the held file, into the work folder (unless it runs from
// there) and gives the copy's path in copy[520].
bool CopyUpdaterIntoWorkFolder(wchar_t* copy) {
  if (!GetWorkPathW(WorkItem::kUpdaterCopy, copy)) return false;
  wchar_t own[kPathBufferSize];
  if (!GetUpdaterPathW(own)) return false;
  if (SameText(own, copy)) return true;
  HoldUpdaterFile();
  base::ScopedHandle& source = HeldUpdaterFile();
  if (!source) {
    // The program's own file could not be held, or what its path opens is not the running image:
    // nothing else is ever copied in its place.
    RunLogWrite("the running updater's own file cannot be held; no copy is made");
    ShowSystemErrorBox(ERROR_FILE_INVALID);
    return false;
  }
  LARGE_INTEGER start = {};
  base::ScopedHandle target(CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  base::ScopedHeapBlock buffer(kTransferBufferSize);
  bool ok = target && buffer && SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN);
  for (DWORD read = 1; ok && read > 0;) {
    ok = ReadFile(source.get(), buffer.get(), kTransferBufferSize, &read, nullptr) &&
         WriteAll(target.get(), buffer.get(), read);
  }
  ok = ok && FlushFileBuffers(target.get());
  // The copy is checked: it has every byte of the running updater's file.
  LARGE_INTEGER sourceSize = {}, copySize = {};
  ok = ok && GetFileSizeEx(source.get(), &sourceSize) && GetFileSizeEx(target.get(), &copySize) &&
       (sourceSize.QuadPart == copySize.QuadPart || (SetLastError(ERROR_WRITE_FAULT), false));
  if (!ok) {
    const DWORD error = GetLastError();
    RunLogFailure("copying the updater into the work folder", error);
    target.reset();
    DeleteFileW(copy);
    ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

// An update under way whose new release is in: only the restore is left.
bool IsOnlyRestoreLeft() {
  const UpdateState state = GetUpdateState();
  return state.underWay && state.stage == kStageRestorePending;
}

}  // namespace

void HoldUpdaterFile() {
  base::ScopedHandle& file = HeldUpdaterFile();
  if (file) return;
  wchar_t own[kPathBufferSize];
  if (!GetUpdaterPathW(own)) return;
  base::ScopedHandle opened(CreateFileW(own, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  // The path names the file the program was started from only while nobody has renamed that
  // file and put another one in its place.
  if (opened && IsMappedImage(opened.get())) file = std::move(opened);
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
  // updater. Written in UTF-16: the copy's name may have no ANSI form.
  wchar_t commandLine[kResumeCommandLineSize];
  wchar_t launcherW[kPathBufferSize];
  if (!GetWorkPathW(WorkItem::kLauncher, launcherW) ||
      lstrlenW(launcherW) + lstrlenW(updater) + 6 > static_cast<int>(kResumeCommandLineSize)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return ResumeFailed(ERROR_FILENAME_EXCED_RANGE);
  }
  wsprintfW(commandLine, L"\"%s\" \"%s\"", launcherW, updater);

  base::ScopedRegKey runKey;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kRunKey, 0, KEY_ALL_ACCESS,
                              runKey.receive());
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExW(runKey.get(), product::kResumeRunValueW, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(commandLine),
                            static_cast<DWORD>((lstrlenW(commandLine) + 1) * sizeof(wchar_t)));
  }
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    return ResumeFailed(ERROR_WRITE_FAULT);
  }
  char copyAnsi[kPathBufferSize];
  RunLogWrite("resume registered: \"%s\" \"%s\"", launcher,
              GetWorkPath(WorkItem::kUpdaterCopy, copyAnsi) ? copyAnsi : "(a name without ANSI form)");
  return TRUE;
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
              CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, value, expectedLength, expected,
                             expectedLength) == CSTR_EQUAL;
    for (int i = expectedLength; trusted && i < valueLength - 1; ++i) {
      trusted = value[i] != L'"' && value[i] != L'\\' && value[i] != L'/';
    }
  }
  if (trusted) return;
  RunLogWrite("the resume entry does not lead into a trusted work folder; it is removed");
  RegDeleteValueW(runKey.get(), product::kResumeRunValueW);
}

void KeepResumeUntilRestored(BOOL everythingBack) {
  if (everythingBack) {
    RegisterResume(FALSE);
    return;
  }
  if (!HasSavedUserState()) return;
  RunLogWrite("restore: not everything is back; the resume entry stays for the next logon");
  RegisterResume(TRUE);
}

void DiscardUpdaterState() {
  if (IsKeepingUpdaterState()) return;
  PutBackWhatTheUninstallerChanged();
  if (IsUpdaterStateNeeded()) {
    // The next start of the updater carries on from the stage it finds. A restore that is left
    // over (it failed, or was cut short) keeps its resume entry, and so do settings that wait for
    // their user's hive, so that the next logon finishes them; any other stage waits for the user
    // to start the updater again.
    if (IsOnlyRestoreLeft() || HasWaitingUserSettings(TRUE)) {
      RunLogWrite("clean-up: the restore is not finished; the saved state and the resume entry "
                  "stay for the next logon");
      RegisterResume(TRUE);
    } else {
      RunLogWrite("clean-up: the saved state is still needed and stays for the next start");
      RegisterResume(FALSE);
    }
    return;
  }
  RegisterResume(FALSE);
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
