#include "engine/user_data_backup.h"

#include <cstring>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/file_utils.h"
#include "engine/product_probe.h"
#include "engine/settings_store.h"

const char* const BackupFileList[] = {"Tidemark.log", nullptr};

namespace {


bool Exists(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(path, GetFileExInfoStandard, &data) != FALSE;
}

// The temporary folder with its trailing backslash; false when it cannot be had or does not fit.
bool GetTempFolder(char (&folder)[kPathBufferSize]) {
  folder[0] = '\0';
  const DWORD length = GetTempPathA(sizeof(folder), folder);
  if (length == 0 || length >= sizeof(folder)) {
    folder[0] = '\0';
    return false;
  }
  return AppendBackslash(folder, sizeof(folder));
}

// The product folder with its trailing backslash.
bool GetProductFolder(char (&folder)[kPathBufferSize]) {
  return GetProductInstallFolder(folder) && AppendBackslash(folder, sizeof(folder));
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The last element of path, when it is a backup folder's name (eight hex digits); else nullptr.
const char* BackupFolderName(const char* path) {
  if (path == nullptr || path[0] == '\0' || HasTrailingBackslash(path)) return nullptr;
  const char* last = FindLastBackslash(path);
  if (last == nullptr) return nullptr;
  const char* name = last + 1;
  for (int i = 0; i < 8; ++i) {
    if (!IsHexDigit(name[i])) return nullptr;
  }
  return name[8] == '\0' ? name : nullptr;
}

constexpr DWORD kCompareBlockSize = 64 * 1024;

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

enum class Visit { kAll, kStopped, kNotListed, kPathTooLong };

// Calls visit(saved, inProduct) for every file directly in backupFolder (no trailing backslash)
// with its path and the path of the same name in productFolder (with trailing backslash), until
// a call returns false.
template <typename Visitor>
Visit VisitBackedUpFiles(const char* backupFolder, const char* productFolder, Visitor visit) {
  char pattern[kPathBufferSize];
  if (!base::FormatBounded(pattern, sizeof(pattern), "%s\\*.*", backupFolder)) {
    return Visit::kNotListed;
  }
  WIN32_FIND_DATAA entry;
  base::ScopedFindHandle listing(FindFirstFileA(pattern, &entry));
  if (!listing) return Visit::kNotListed;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    char saved[kPathBufferSize];
    char inProduct[kPathBufferSize];
    if (!base::FormatBounded(saved, sizeof(saved), "%s\\%s", backupFolder, entry.cFileName) ||
        !base::FormatBounded(inProduct, sizeof(inProduct), "%s%s", productFolder,
                             entry.cFileName)) {
      return Visit::kPathTooLong;
    }
    if (!visit(saved, inProduct)) return Visit::kStopped;
  } while (FindNextFileA(listing.get(), &entry));
  return Visit::kAll;
}

}  // namespace

BOOL IsBackupRestored(const char* backupFolder) {
  char productFolder[kPathBufferSize];
  if (!GetProductFolder(productFolder)) return FALSE;
  return VisitBackedUpFiles(backupFolder, productFolder, SameFileContents) == Visit::kAll;
}

BOOL IsOwnBackupFolder(const char* path) {
  const char* name = BackupFolderName(path);
  if (name == nullptr) return FALSE;

  // The folder part, backslash included, must be the temporary folder itself.
  char temp[kPathBufferSize];
  if (!GetTempFolder(temp)) return FALSE;
  const size_t parentLength = static_cast<size_t>(name - path);
  if (parentLength != static_cast<size_t>(lstrlenA(temp))) return FALSE;
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path,
                        static_cast<int>(parentLength), temp,
                        static_cast<int>(parentLength)) == CSTR_EQUAL;
}

BOOL BackUpUserData() {
  char productFolder[kPathBufferSize];
  if (!GetProductInstallFolder(productFolder)) return TRUE;
  if (!AppendBackslash(productFolder, sizeof(productFolder))) return FALSE;

  char temp[kPathBufferSize];
  if (!GetTempFolder(temp)) return FALSE;

  // Named by the tick count; a name in use is built again until the count has moved on.
  char backupFolder[kPathBufferSize];
  do {
    if (!base::FormatBounded(backupFolder, sizeof(backupFolder), "%s%08lx", temp,
                             static_cast<unsigned long>(GetTickCount()))) {
      return FALSE;
    }
  } while (Exists(backupFolder));

  if (!CreateFolderPath(backupFolder)) return FALSE;

  for (const char* const* entry = BackupFileList; *entry != nullptr; ++entry) {
    char source[kPathBufferSize];
    char target[kPathBufferSize];
    if (!base::FormatBounded(source, sizeof(source), "%s%s", productFolder, *entry) ||
        !base::FormatBounded(target, sizeof(target), "%s\\%s", backupFolder, *entry)) {
      ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
      DeleteFolderTree(backupFolder);
      return FALSE;
    }
    if (!Exists(source)) continue;  // a file the user does not have is not an error
    if (!CopyFileA(source, target, FALSE)) {
      ShowSystemErrorBox(GetLastError());
      DeleteFolderTree(backupFolder);
      return FALSE;
    }
  }

  if (!WriteUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder)) {
    DeleteFolderTree(backupFolder);
    return FALSE;
  }
  return TRUE;
}

BOOL RestoreUserData() {
  char productFolder[kPathBufferSize];
  if (!GetProductFolder(productFolder)) return FALSE;

  char backupFolder[kPathBufferSize];
  if (!ReadUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder, sizeof(backupFolder))) {
    return FALSE;
  }
  if (HasTrailingBackslash(backupFolder)) backupFolder[lstrlenA(backupFolder) - 1] = '\0';
  // Only a folder with a backup's name is copied from: a damaged value naming the drive root, the
  // temporary folder or a system folder would otherwise pour all of its files into the product
  // folder. (The temporary folder itself may differ after a restart, so only the name counts.)
  if (BackupFolderName(backupFolder) == nullptr) return FALSE;

  const Visit copied = VisitBackedUpFiles(
      backupFolder, productFolder, [](const char* saved, const char* inProduct) {
        if (CopyFileA(saved, inProduct, FALSE)) return true;
        ShowSystemErrorBox(GetLastError());
        return false;
      });
  if (copied == Visit::kPathTooLong) ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
  if (copied != Visit::kAll) return FALSE;

  // Only a folder the backup could have made is deleted; a value that names anything else leaves
  // that place alone.
  if (IsOwnBackupFolder(backupFolder)) DeleteFolderTree(backupFolder);
  return TRUE;
}
