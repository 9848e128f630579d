#include "engine/user_data_backup.h"

#include <cstring>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/product_probe.h"
#include "engine/work_folder.h"

const char* const BackupFileList[] = {"Tidemark.log", nullptr};

namespace {

constexpr DWORD kCompareBlockSize = 64 * 1024;

// The product folder with its trailing backslash.
bool GetProductFolder(char (&folder)[kPathBufferSize]) {
  return GetProductInstallFolder(folder) && AppendBackslash(folder, sizeof(folder));
}

// True when both files exist and hold the same bytes.
bool SameFileContents(const char* first, const char* second) {
  base::ScopedHandle a(CreateFileA(first, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  base::ScopedHandle b(CreateFileA(second, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!a || !b) return false;
  LARGE_INTEGER sizeA, sizeB;
  if (!GetFileSizeEx(a.get(), &sizeA) || !GetFileSizeEx(b.get(), &sizeB) ||
      sizeA.QuadPart != sizeB.QuadPart) {
    return false;
  }
  base::ScopedHeapBlock blockA(kCompareBlockSize);
  base::ScopedHeapBlock blockB(kCompareBlockSize);
  if (!blockA || !blockB) return false;
  for (;;) {
    DWORD readA = 0, readB = 0;
    if (!ReadFile(a.get(), blockA.get(), kCompareBlockSize, &readA, nullptr) ||
        !ReadFile(b.get(), blockB.get(), kCompareBlockSize, &readB, nullptr) || readA != readB) {
      return false;
    }
    if (readA == 0) return true;
    if (memcmp(blockA.get(), blockB.get(), readA) != 0) return false;
  }
}

// Calls visit(saved, inProduct) for every listed file name with its path in the backup folder
// (no trailing backslash) and in the product folder (with one), until a call returns false.
// False when a path does not fit (ERROR_FILENAME_EXCED_RANGE) or a call returned false.
template <typename Visitor>
bool VisitListedFiles(const char* backupFolder, const char* productFolder, Visitor visit) {
  for (const char* const* entry = BackupFileList; *entry != nullptr; ++entry) {
    char saved[kPathBufferSize];
    char inProduct[kPathBufferSize];
    if (!JoinPath(backupFolder, *entry, saved) ||
        !base::FormatBounded(inProduct, sizeof(inProduct), "%s%s", productFolder, *entry)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    if (!visit(saved, inProduct)) return false;
  }
  return true;
}

// Copies source over target through a new file beside the target that is written through to the
// disk first, so that an interruption never leaves a half-written target.
bool ReplaceWithCopy(const char* source, const char* target) {
  char fresh[kPathBufferSize];
  if (!base::FormatBounded(fresh, sizeof(fresh), "%s.new", target)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!CopyFileA(source, fresh, FALSE)) return false;
  if (!FlushFileToDisk(fresh) ||
      !MoveFileExA(fresh, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileA(fresh);
    SetLastError(error);
    return false;
  }
  return true;
}

}  // namespace

BOOL IsBackupRestored(const char* backupFolder) {
  char productFolder[kPathBufferSize];
  if (!GetProductFolder(productFolder)) return FALSE;
  return VisitListedFiles(backupFolder, productFolder,
                          [](const char* saved, const char* inProduct) {
                            return !IsPlainFile(saved) || SameFileContents(saved, inProduct);
                          })
             ? TRUE
             : FALSE;
}

BOOL BackUpUserData() {
  char productFolder[kPathBufferSize];
  if (!GetProductInstallFolder(productFolder)) return TRUE;
  if (!AppendBackslash(productFolder, sizeof(productFolder))) return FALSE;

  char workFolder[kPathBufferSize];
  char backupFolder[kPathBufferSize];
  if (!EnsureWorkFolder(workFolder) || !GetWorkPath(WorkItem::kBackupFolder, backupFolder) ||
      (!IsPlainFolder(backupFolder) && !CreateDirectoryA(backupFolder, nullptr))) {
    const DWORD error = GetLastError();
    ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_CANNOT_MAKE);
    return FALSE;
  }

  const bool copied =
      VisitListedFiles(backupFolder, productFolder, [](const char* saved, const char* inProduct) {
        // A file the product folder no longer holds keeps the copy an earlier run saved.
        if (!IsPlainFile(inProduct)) {
          RunLogWrite("backup: %s not there; the saved copy %s is kept", inProduct,
                      IsPlainFile(saved) ? "that exists" : "(none)");
          return true;
        }
        RunLogWrite("backup: %s -> %s", inProduct, saved);
        return ReplaceWithCopy(inProduct, saved);
      });
  if (!copied) {
    ShowSystemErrorBox(GetLastError());
    return FALSE;
  }
  return WriteUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder) ? TRUE : FALSE;
}

BOOL RestoreUserData() {
  char backupFolder[kPathBufferSize];
  if (!ReadUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder,
                         sizeof(backupFolder))) {
    return TRUE;  // nothing was saved
  }
  if (HasTrailingBackslash(backupFolder)) backupFolder[lstrlenA(backupFolder) - 1] = '\0';
  // Only the backup folder of the trusted work folder is ever read: a value naming anything else
  // (a place the user's programs can write, a system folder) is nothing that can be restored.
  if (!IsWorkPath(WorkItem::kBackupFolder, backupFolder) || !IsPlainFolder(backupFolder)) {
    RunLogWrite("restore: the recorded backup %s is not the work folder's; nothing taken from it",
                backupFolder);
    WriteUpdaterString(nullptr, updater_value::kBackupFolder, nullptr);
    return TRUE;
  }

  char productFolder[kPathBufferSize];
  if (!GetProductFolder(productFolder)) return FALSE;
  const bool copied =
      VisitListedFiles(backupFolder, productFolder, [](const char* saved, const char* inProduct) {
        if (!IsPlainFile(saved)) return true;  // not saved, or not a plain file: never followed
        RunLogWrite("restore: %s -> %s", saved, inProduct);
        return CopyFileA(saved, inProduct, FALSE) && FlushFileToDisk(inProduct);
      });
  if (!copied) {
    ShowSystemErrorBox(GetLastError());
    return FALSE;
  }
  // The record goes before the folder: an interruption in between leaves an unrecorded folder
  // inside the work folder, which goes with it, never a record of a half-deleted backup.
  WriteUpdaterString(nullptr, updater_value::kBackupFolder, nullptr);
  FlushUpdaterKey();
  DeleteFolderTree(backupFolder);
  return TRUE;
}
