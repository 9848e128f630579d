#include "engine/work_folder.h"

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"

const char kWorkFolderSecurity[] =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const char kBackupFolderSecurity[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

constexpr int kRandomDigits = 16;
// A clash with an existing name is all but impossible; a few fresh names are plenty.
constexpr int kCreateAttempts = 8;

class ScopedCryptProvider {
 public:
  ScopedCryptProvider() {
    if (!CryptAcquireContextA(&provider_, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
      provider_ = 0;
    }
  }
  ~ScopedCryptProvider() {
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
  }
  ScopedCryptProvider(const ScopedCryptProvider&) = delete;
  ScopedCryptProvider& operator=(const ScopedCryptProvider&) = delete;
  HCRYPTPROV get() const { return provider_; }

 private:
  HCRYPTPROV provider_ = 0;
};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "<Windows>\Temp\" into folder[520].
bool GetWindowsTempFolderWithBackslash(char* folder) {
  return GetWindowsTempFolder(folder) && AppendBackslash(folder, kPathBufferSize);
}

// "<Windows>\Temp\TidemarkSXUpdater-<16 random hex digits>" into folder[520].
bool BuildNewWorkFolderName(char* folder) {
  if (!GetWindowsTempFolderWithBackslash(folder)) return false;
  ScopedCryptProvider provider;
  BYTE random[kRandomDigits / 2];
  if (provider.get() == 0 || !CryptGenRandom(provider.get(), sizeof(random), random)) {
    folder[0] = '\0';
    return false;
  }
  char digits[kRandomDigits + 1];
  for (int i = 0; i < kRandomDigits / 2; ++i) {
    base::FormatBounded(digits + 2 * i, 3, "%02x", static_cast<unsigned>(random[i]));
  }
  return base::AppendBounded(folder, kPathBufferSize, product::kWorkFolderPrefix) &&
         base::AppendBounded(folder, kPathBufferSize, digits);
}

// Creates a folder that did not exist, with the work folder's security. FALSE with the Win32
// code in GetLastError(); ERROR_ALREADY_EXISTS when the name was taken.
BOOL CreateProtectedFolder(const char* path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kWorkFolderSecurity, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return FALSE;
  }
  base::ScopedLocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  if (!CreateDirectoryA(path, &attributes)) return FALSE;
  if (!IsPlainFolder(path)) {
    // Something else stands at the name now; it is not ours to use or to remove.
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
  }
  return TRUE;
}

// The owner of a file or folder; empty when it cannot be read. The descriptor holding it is
// handed to `descriptor`.
PSID GetOwner(const char* path, base::ScopedLocalMemory& descriptor) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            nullptr, nullptr, &read) != ERROR_SUCCESS) {
    return nullptr;
  }
  descriptor.reset(read);
  return owner;
}

// Whether a folder an administrator made, as this system reports its owner, has this owner.
// Windows reports Administrators for a folder created with the work folder's security, so there
// this adds nothing to the rule; a system that does not keep owners (Wine) reports the same owner
// for everything, and this asks it once per run by making such a folder and reading it back.
bool IsOwnerOfAdministratorsFolders(PSID owner) {
  static BYTE reported[SECURITY_MAX_SID_SIZE];
  static bool asked = false;
  if (!asked) {
    asked = true;
    char probe[kPathBufferSize];
    if (BuildNewWorkFolderName(probe) && CreateProtectedFolder(probe)) {
      base::ScopedLocalMemory descriptor;
      const PSID probeOwner = GetOwner(probe, descriptor);
      if (probeOwner != nullptr && GetLengthSid(probeOwner) <= sizeof(reported)) {
        CopySid(sizeof(reported), reported, probeOwner);
      }
      RemoveDirectoryA(probe);
    }
  }
  return IsValidSid(reported) && EqualSid(reported, owner);
}

// A work folder's place and name: directly in the Windows folder's Temp, the prefix and 16 hex
// digits, no trailing backslash.
bool HasWorkFolderShape(const char* path) {
  char temp[kPathBufferSize];
  if (!GetWindowsTempFolderWithBackslash(temp)) return false;
  const int tempLength = lstrlenA(temp);
  if (lstrlenA(path) <= tempLength ||
      CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, tempLength, temp, tempLength) !=
          CSTR_EQUAL) {
    return false;
  }
  const char* name = path + tempLength;
  const int prefixLength = lstrlenA(product::kWorkFolderPrefix);
  if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, prefixLength,
                     product::kWorkFolderPrefix, prefixLength) != CSTR_EQUAL) {
    return false;
  }
  const char* digits = name + prefixLength;
  for (int i = 0; i < kRandomDigits; ++i) {
    if (!IsHexDigit(digits[i])) return false;
  }
  return digits[kRandomDigits] == '\0';
}

bool SamePath(const char* a, const char* b) {
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

bool BuildItemPath(const char* folder, WorkItem item, char (&path)[kPathBufferSize]) {
  const char* name = nullptr;
  char own[kPathBufferSize];
  switch (item) {
    case WorkItem::kSetupFolder:
      name = "setup";
      break;
    case WorkItem::kBackupFolder:
      name = "backup";
      break;
    case WorkItem::kLauncher:
      name = product::kLauncherFileName;
      break;
    case WorkItem::kUpdaterCopy: {
      if (!GetUpdaterPath(own)) return false;
      const char* last = FindLastBackslash(own);
      name = last != nullptr ? last + 1 : own;
      break;
    }
  }
  return JoinPath(folder, name, path);
}

// Schedules what is left of a folder tree, and the folder, for removal at the next restart:
// contents first, so that each folder is empty when its turn comes. Links are removed as links.
void ScheduleRemovalAtRestart(const char* folder) {
  ForEachFolderEntry(folder, [](const char* path, DWORD) {
    if (IsPlainFolder(path)) {
      ScheduleRemovalAtRestart(path);
    } else {
      MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return true;
  });
  MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

BOOL IsOwnedByAdministrators(const char* path) {
  base::ScopedLocalMemory descriptor;
  const PSID owner = GetOwner(path, descriptor);
  if (owner == nullptr || !IsValidSid(owner)) return FALSE;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid)) {
    return TRUE;
  }
  return IsOwnerOfAdministratorsFolders(owner) ? TRUE : FALSE;
}

BOOL GetWorkFolder(char* folder) {
  folder[0] = '\0';
  char recorded[kPathBufferSize];
  if (!ReadUpdaterString(nullptr, updater_value::kWorkFolder, recorded, sizeof(recorded))) {
    return FALSE;
  }
  if (!HasWorkFolderShape(recorded) || !IsPlainFolder(recorded) ||
      !IsOwnedByAdministrators(recorded)) {
    if (recorded[0] != '\0') {
      RunLogWrite("the recorded work folder %s cannot be trusted; it is not used", recorded);
    }
    return FALSE;
  }
  return base::CopyBounded(folder, kPathBufferSize, recorded) ? TRUE : FALSE;
}

BOOL EnsureWorkFolder(char* folder) {
  if (GetWorkFolder(folder)) return TRUE;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!BuildNewWorkFolderName(folder)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return FALSE;
    }
    if (CreateProtectedFolder(folder)) {
      RunLogWrite("work folder created: %s", folder);
      if (!WriteUpdaterString(nullptr, updater_value::kWorkFolder, folder)) {
        const DWORD error = GetLastError();
        RemoveDirectoryA(folder);
        folder[0] = '\0';
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_CANTWRITE);
        return FALSE;
      }
      return TRUE;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  const DWORD error = GetLastError();
  folder[0] = '\0';
  SetLastError(error != ERROR_SUCCESS ? error : ERROR_ALREADY_EXISTS);
  return FALSE;
}

BOOL GetWorkPath(WorkItem item, char* path) {
  path[0] = '\0';
  char folder[kPathBufferSize];
  char built[kPathBufferSize];
  if (!GetWorkFolder(folder) || !BuildItemPath(folder, item, built) ||
      !base::CopyBounded(path, kPathBufferSize, built)) {
    path[0] = '\0';
    return FALSE;
  }
  return TRUE;
}

BOOL IsWorkPath(WorkItem item, const char* path) {
  char expected[kPathBufferSize];
  return path != nullptr && GetWorkPath(item, expected) && SamePath(path, expected);
}

void DiscardWorkFolder() {
  char folder[kPathBufferSize];
  const BOOL trusted = GetWorkFolder(folder);
  WriteUpdaterString(nullptr, updater_value::kWorkFolder, nullptr);
  if (!trusted) return;

  char own[kPathBufferSize];
  char copy[kPathBufferSize];
  const bool runningFromIt =
      GetUpdaterPath(own) && BuildItemPath(folder, WorkItem::kUpdaterCopy, copy) && SamePath(own, copy);
  RunLogWrite("work folder removed: %s", folder);
  if (!runningFromIt) {
    if (!DeleteFolderTree(folder)) ScheduleRemovalAtRestart(folder);
    return;
  }
  // Everything but the running program goes now; the program, anything else that could not go,
  // and the folder go at the next restart.
  ForEachFolderEntry(folder, [&own](const char* path, DWORD attributes) {
    if (SamePath(path, own)) return true;
    if (IsPlainFolder(path)) {
      DeleteFolderTree(path);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveDirectoryA(path);
    } else {
      DeleteFileA(path);
    }
    return true;
  });
  ScheduleRemovalAtRestart(folder);
}
