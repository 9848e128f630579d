#include "engine/work_folder.h"

#include <cwchar>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/names.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"

const char kWorkFolderSecurity[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const char kBackupFolderSecurity[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

constexpr int kRandomDigits = 16;
// A clash with an existing name is all but impossible; a few fresh names are plenty.
constexpr int kCreateAttempts = 8;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The common application-data folder with a trailing backslash into folder[520]: not emptied by
// temp cleaners, and users may not delete or rename there what others created.
bool GetCommonAppDataFolder(char* folder) {
  char found[MAX_PATH];
  const HRESULT result =
      SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, found);
  if (FAILED(result)) {
    RunLogFailure("work folder: SHGetFolderPath of the common application data failed",
                  static_cast<DWORD>(result));
    folder[0] = '\0';
    return false;
  }
  if (!base::CopyBounded(folder, kPathBufferSize, found) ||
      !AppendBackslash(folder, kPathBufferSize)) {
    RunLogFailure("work folder: the common application data's path is too long",
                  ERROR_FILENAME_EXCED_RANGE);
    folder[0] = '\0';
    return false;
  }
  return true;
}

// "<common application data>\TidemarkSXUpdater" (no trailing backslash, or with one) into
// folder[520]: the one parent of every work folder.
bool GetWorkFolderParentPath(char* folder, bool withBackslash = false) {
  if (!GetCommonAppDataFolder(folder)) return false;  // logged
  if (!base::AppendBounded(folder, kPathBufferSize, product::kWorkFolderParent) ||
      (withBackslash && !AppendBackslash(folder, kPathBufferSize))) {
    RunLogFailure("work folder: the work folders' parent's path is too long",
                  ERROR_FILENAME_EXCED_RANGE);
    folder[0] = '\0';
    return false;
  }
  return true;
}

// The same with a trailing backslash.
bool GetWorkFolderParent(char* folder) { return GetWorkFolderParentPath(folder, true); }

// "<base>TidemarkSXUpdater-<16 random hex digits>" into folder[520], where base is the work
// folders' parent (or, for Wine's owner probe, the common application-data folder).
bool BuildNewWorkFolderName(char* folder, bool inParent = true) {
  if (!(inParent ? GetWorkFolderParent(folder) : GetCommonAppDataFolder(folder))) return false;
  char digits[kRandomDigits + 1];
  if (!FormatRandomHex(digits, kRandomDigits)) {
    RunLogFailure("work folder: no random name (CryptGenRandom failed)", GetLastError());
    folder[0] = '\0';
    return false;
  }
  if (!base::AppendBounded(folder, kPathBufferSize, product::kWorkFolderPrefix) ||
      !base::AppendBounded(folder, kPathBufferSize, digits)) {
    RunLogFailure("work folder: a new work folder's path is too long", ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

// Wine keeps no owners: it reports the user as the owner of everything.
bool IsWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool IsOwnerOfAdministratorsFolders(PSID owner);

// Administrators or SYSTEM; under Wine also the one owner it reports for a folder an administrator
// made.
bool IsAdministratorsOwner(PSID owner) {
  if (owner == nullptr || !IsValidSid(owner)) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
      IsWellKnownSid(owner, WinLocalSystemSid)) {
    return true;
  }
  return IsWine() && IsOwnerOfAdministratorsFolders(owner);
}

bool SamePath(const char* a, const char* b) { return SameName(a, b); }

// Opens a folder once, without following a link at its name and without letting anybody delete
// or rename it while the handle is open, and checks everything through that one handle: a
// directory that is no reparse point, whose final path is the path itself (Wine shows a Unix link
// only there), on a volume that keeps access lists, with Administrators or SYSTEM as its owner
// (checkOwner false: the owner is not read, for the folder an owner is being learned from). No
// handle, with the Win32 code in GetLastError(), when any of these fails. A call that fails is
// logged here; a folder that fails a test is logged by the caller, which knows what it was for.
base::ScopedHandle OpenTrustedFolder(const char* path, bool checkOwner = true) {
  base::ScopedHandle folder(CreateFileA(
      path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      RunLogFailureFormat(error, "work folder: CreateFile of %s failed", path);
    }
    return {};
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  char finalPath[kPathBufferSize];
  char expected[kPathBufferSize];
  const DWORD finalLength = late::GetFinalPathNameByHandleA(
      folder.get(), finalPath, sizeof(finalPath), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (finalLength == 0) {
    RunLogFailureFormat(GetLastError(), "work folder: GetFinalPathNameByHandle of %s failed", path);
  }
  const BOOL tagged =
      late::GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag, sizeof(tag));
  if (!tagged) {
    RunLogFailureFormat(GetLastError(), "work folder: GetFileInformationByHandleEx of %s failed",
                        path);
  }
  DWORD volumeFlags = 0;
  if (!tagged || !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || finalLength == 0 ||
      finalLength >= sizeof(finalPath) ||
      !base::FormatBounded(expected, sizeof(expected), "\\\\?\\%s", path) ||
      !SamePath(finalPath, expected)) {
    SetLastError(ERROR_BAD_PATHNAME);
    return {};
  }
  if (!late::GetVolumeInformationByHandleW(folder.get(), nullptr, 0, nullptr, nullptr, &volumeFlags,
                                           nullptr, 0)) {
    RunLogFailureFormat(GetLastError(), "work folder: GetVolumeInformationByHandle of %s failed",
                        path);
    return {};
  }
  if (!(volumeFlags & FILE_PERSISTENT_ACLS)) {
    // Without access lists nothing keeps the user's programs out of the folder.
    SetLastError(ERROR_NOT_SUPPORTED);
    return {};
  }
  if (!checkOwner) return folder;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD error = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                      &owner, nullptr, nullptr, nullptr, &read);
  base::ScopedLocalMemory descriptor(read);
  if (error != ERROR_SUCCESS) {
    RunLogFailureFormat(error, "work folder: GetSecurityInfo of %s failed", path);
    SetLastError(error);
    return {};
  }
  if (!IsAdministratorsOwner(owner)) {
    SetLastError(ERROR_INVALID_OWNER);
    return {};
  }
  return folder;
}

// The work folder checked in this run and the handle that keeps it as it was checked.
struct HeldFolder {
  base::ScopedHandle handle;
  char path[kPathBufferSize] = "";
};

HeldFolder& Held() {
  static HeldFolder held;
  return held;
}

void ReleaseHeldFolder() {
  Held().handle.reset();
  Held().path[0] = '\0';
}

// Keeps the handle of a checked folder for the rest of the run.
bool HoldFolder(base::ScopedHandle folder, const char* path) {
  HeldFolder& held = Held();
  if (!base::CopyBounded(held.path, sizeof(held.path), path)) {
    RunLogFailureFormat(ERROR_FILENAME_EXCED_RANGE, "work folder: %s is too long to hold", path);
    return false;
  }
  held.handle = std::move(folder);
  return true;
}

// The owner of a file or folder; empty when it cannot be read. The descriptor holding it is
// handed to `descriptor`.
PSID GetOwner(const char* path, base::ScopedLocalMemory& descriptor) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD error = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                            &owner, nullptr, nullptr, nullptr, &read);
  if (error != ERROR_SUCCESS) {
    RunLogFailureFormat(error, "work folder: GetNamedSecurityInfo of %s failed", path);
    return nullptr;
  }
  descriptor.reset(read);
  return owner;
}

// Wine only: whether a folder an administrator made, as Wine reports its owner, has this owner.
// Wine reports the same owner for everything; this asks it once per run by making such a folder
// and reading it back. (Windows keeps owners: there the rule is Administrators or SYSTEM exactly.)
bool IsOwnerOfAdministratorsFolders(PSID owner) {
  static BYTE reported[SECURITY_MAX_SID_SIZE];
  static bool asked = false;
  if (!asked) {
    asked = true;
    char probe[kPathBufferSize];
    if (!BuildNewWorkFolderName(probe, false)) return false;  // logged
    if (!CreateProtectedFolder(probe, kWorkFolderSecurity)) {
      RunLogFailureFormat(GetLastError(), "work folder: CreateDirectory of Wine's probe %s failed",
                          probe);
      return false;
    }
    base::ScopedLocalMemory descriptor;
    const PSID probeOwner = GetOwner(probe, descriptor);
    if (probeOwner != nullptr && GetLengthSid(probeOwner) <= sizeof(reported)) {
      CopySid(sizeof(reported), reported, probeOwner);
    }
    if (!RemoveDirectoryA(probe)) {
      RunLogFailureFormat(GetLastError(), "work folder: RemoveDirectory of Wine's probe %s failed",
                          probe);
    }
  }
  return IsValidSid(reported) && EqualSid(reported, owner);
}

// The work folders' parent, checked by one handle as OpenTrustedFolder does and held for the rest
// of the run, so that nobody can rename it and put another in its place meanwhile. Made first
// (when create is true and it is missing) with kWorkFolderSecurity: users may read and run what
// is in it, only administrators may create anything there, so no user can make a recorded work
// folder's name again once that folder is gone. FALSE with the Win32 code in GetLastError() when
// it is missing or not to be trusted (logged: somebody else made a folder at its name).
bool HoldTrustedParent(bool create) {
  static base::ScopedHandle held;
  if (held) return true;
  char parent[kPathBufferSize];
  if (!GetWorkFolderParentPath(parent)) {  // logged
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (create && !CreateProtectedFolder(parent, kWorkFolderSecurity) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    RunLogFailure("the work folders' parent cannot be created", GetLastError());
    return false;
  }
  base::ScopedHandle checked = OpenTrustedFolder(parent);
  if (!checked) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      RunLogWrite("the work folders' parent %s cannot be trusted (error %lu); it is not used",
                  parent, static_cast<unsigned long>(error));
    }
    SetLastError(error);
    return false;
  }
  held = std::move(checked);
  return true;
}

// A work folder's place and name: directly in the work folders' parent, the prefix and 16 hex
// digits, no trailing backslash.
bool HasWorkFolderShape(const char* path) {
  char temp[kPathBufferSize];
  if (!GetWorkFolderParent(temp)) return false;
  const int tempLength = lstrlenA(temp);
  if (lstrlenA(path) <= tempLength || !SameName(base::Text(path, tempLength).c_str(), temp)) {
    return false;
  }
  const char* name = path + tempLength;
  const int prefixLength = lstrlenA(product::kWorkFolderPrefix);
  if (lstrlenA(name) < prefixLength ||
      !SameName(base::Text(name, prefixLength).c_str(), product::kWorkFolderPrefix)) {
    return false;
  }
  const char* digits = name + prefixLength;
  for (int i = 0; i < kRandomDigits; ++i) {
    if (!IsHexDigit(digits[i])) return false;
  }
  return digits[kRandomDigits] == '\0';
}

// The names of the work folder's items other than the updater copy.
const wchar_t* FixedItemName(WorkItem item) {
  switch (item) {
    case WorkItem::kSetupFolder:
      return L"setup";
    case WorkItem::kBackupFolder:
      return L"backup";
    case WorkItem::kTempFolder:
      return L"temp";
    case WorkItem::kLauncher:
      return product::kLauncherFileNameW;
    case WorkItem::kUpdaterCopy:
      break;
  }
  return nullptr;
}

// "<folder>\<item's name>" into path[520] (wide).
bool BuildItemPathW(const char* folder, WorkItem item, wchar_t* path) {
  wchar_t copyName[MAX_PATH];
  const wchar_t* name = FixedItemName(item);
  if (name == nullptr) {
    if (!GetUpdaterCopyName(copyName)) return false;  // logged
    name = copyName;
  }
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, folder, -1, path,
                                         static_cast<int>(kPathBufferSize));
  const size_t nameLength = static_cast<size_t>(lstrlenW(name));
  if (length <= 1 || static_cast<size_t>(length) + 1 + nameLength > kPathBufferSize) {
    RunLogFailureFormat(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE,
                        "work folder: the path of %ls in %s cannot be made", name, folder);
    path[0] = L'\0';
    return false;
  }
  path[length - 1] = L'\\';
  CopyMemory(path + length, name, (nameLength + 1) * sizeof(wchar_t));
  return true;
}

// The same in the ANSI code page; false when a character of it has no exact ANSI form.
bool BuildItemPath(const char* folder, WorkItem item, char (&path)[kPathBufferSize]) {
  wchar_t wide[kPathBufferSize];
  BOOL inexact = FALSE;
  if (!BuildItemPathW(folder, item, wide)) {  // logged
    path[0] = '\0';
    return false;
  }
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, sizeof(path), nullptr,
                          &inexact) == 0) {
    RunLogFailureFormat(GetLastError(), "work folder: WideCharToMultiByte of %ls failed", wide);
    path[0] = '\0';
    return false;
  }
  // A name without an exact ANSI form is an answer: such a path is used by its wide form only.
  if (inexact) {
    path[0] = '\0';
    return false;
  }
  return true;
}

// Schedules one file, link or empty folder for removal at the next restart.
void ScheduleRemovalAtRestart(const char* path) {
  if (!MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    RunLogFailureFormat(GetLastError(), "work folder: MoveFileEx of %s to the restart failed",
                        path);
  }
}

// Schedules what is left of a folder tree, and the folder, for removal at the next restart:
// contents first, so that each folder is empty when its turn comes. Links are removed as links.
void ScheduleTreeRemovalAtRestart(const char* folder) {
  ForEachFolderEntry(folder, [](const char* path, DWORD) {
    if (IsPlainFolder(path)) {
      ScheduleTreeRemovalAtRestart(path);
    } else {
      ScheduleRemovalAtRestart(path);
    }
    return true;
  });
  ScheduleRemovalAtRestart(folder);
}

}  // namespace

BOOL CreateProtectedFolder(const char* path, const char* security) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(security, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    RunLogFailureFormat(GetLastError(), "work folder: the descriptor %s cannot be made", security);
    return FALSE;
  }
  base::ScopedLocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  return CreateDirectoryA(path, &attributes);
}

BOOL IsOwnedByAdministrators(const char* path) {
  base::ScopedLocalMemory descriptor;
  return IsAdministratorsOwner(GetOwner(path, descriptor)) ? TRUE : FALSE;
}

BOOL GetUpdaterCopyName(wchar_t* name) {
  name[0] = L'\0';
  wchar_t own[kPathBufferSize];
  if (!GetUpdaterPathW(own)) {
    RunLogFailure("work folder: GetModuleFileName of the updater failed", GetLastError());
    return FALSE;
  }
  const wchar_t* last = own;
  for (const wchar_t* p = own; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') last = p + 1;
  }
  // A name another item of the work folder has would put the copy in its place.
  for (WorkItem item : {WorkItem::kSetupFolder, WorkItem::kBackupFolder, WorkItem::kTempFolder,
                        WorkItem::kLauncher}) {
    if (SameName(last, FixedItemName(item))) {
      last = L"Updater.exe";
      break;
    }
  }
  const size_t length = static_cast<size_t>(lstrlenW(last));
  if (length == 0 || length >= MAX_PATH) {
    RunLogFailureFormat(ERROR_INVALID_NAME, "work folder: the updater's name %ls is no file name",
                        last);
    return FALSE;
  }
  CopyMemory(name, last, (length + 1) * sizeof(wchar_t));
  return TRUE;
}

BOOL GetWorkFolderParentPath(char* folder) { return GetWorkFolderParent(folder) ? TRUE : FALSE; }

BOOL GetWorkFolder(char* folder) {
  folder[0] = '\0';
  char recorded[kPathBufferSize];
  if (!ReadUpdaterString(nullptr, updater_value::kWorkFolder, recorded, sizeof(recorded))) {
    ReleaseHeldFolder();
    return FALSE;
  }
  HeldFolder& held = Held();
  if (!held.handle || !SamePath(held.path, recorded)) {
    ReleaseHeldFolder();
    if (recorded[0] == '\0') return FALSE;
    if (!HasWorkFolderShape(recorded)) {
      RunLogWrite("the recorded work folder %s is not in the work folders' parent; it is not used",
                  recorded);
      return FALSE;
    }
    base::ScopedHandle checked;
    if (HoldTrustedParent(false)) checked = OpenTrustedFolder(recorded);
    if (!checked) {
      RunLogFailureFormat(GetLastError(),
                          "the recorded work folder %s cannot be trusted; it is "
                          "not used",
                          recorded);
      return FALSE;
    }
    if (!HoldFolder(std::move(checked), recorded)) return FALSE;  // logged
  }
  // The held path came from a buffer of this size: it fits.
  return base::CopyBounded(folder, kPathBufferSize, held.path) ? TRUE : FALSE;
}

BOOL EnsureWorkFolder(char* folder) {
  if (GetWorkFolder(folder)) return TRUE;
  if (!HoldTrustedParent(true)) {
    const DWORD error = GetLastError();
    folder[0] = '\0';
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_INVALID_OWNER);
    return FALSE;
  }
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!BuildNewWorkFolderName(folder)) {  // logged
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return FALSE;
    }
    if (CreateProtectedFolder(folder, kWorkFolderSecurity)) {
      base::ScopedHandle made = OpenTrustedFolder(folder);
      if (!made) {
        // Not the folder just made as it was made (or on a volume without access lists): it is
        // not ours to use or to remove.
        const DWORD error = GetLastError();
        RunLogFailureFormat(error, "work folder: the folder just made, %s, cannot be trusted",
                            folder);
        folder[0] = '\0';
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_BAD_PATHNAME);
        return FALSE;
      }
      RunLogWrite("work folder created: %s", folder);
      // A failure to hold or to record it is logged where it happens.
      if (!HoldFolder(std::move(made), folder) ||
          !WriteUpdaterString(nullptr, updater_value::kWorkFolder, folder)) {
        const DWORD error = GetLastError();
        ReleaseHeldFolder();
        if (!RemoveDirectoryA(folder)) {
          RunLogFailureFormat(GetLastError(), "work folder: RemoveDirectory of %s failed", folder);
        }
        folder[0] = '\0';
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_CANTWRITE);
        return FALSE;
      }
      return TRUE;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  const DWORD error = GetLastError();
  RunLogFailureFormat(error, "work folder: CreateDirectory of %s failed", folder);
  folder[0] = '\0';
  SetLastError(error != ERROR_SUCCESS ? error : ERROR_ALREADY_EXISTS);
  return FALSE;
}

BOOL GetWorkPath(WorkItem item, char* path) {
  path[0] = '\0';
  char folder[kPathBufferSize];
  char built[kPathBufferSize];
  // Each failure is logged where it happens; none recorded, or a name without an exact ANSI
  // form, is an answer.
  if (!GetWorkFolder(folder) || !BuildItemPath(folder, item, built)) return FALSE;
  // Both buffers have kPathBufferSize characters: the copy fits.
  base::CopyBounded(path, kPathBufferSize, built);
  return TRUE;
}

BOOL GetWorkPathW(WorkItem item, wchar_t* path) {
  path[0] = L'\0';
  char folder[kPathBufferSize];
  return GetWorkFolder(folder) && BuildItemPathW(folder, item, path) ? TRUE : FALSE;
}

BOOL IsWorkPath(WorkItem item, const char* path) {
  char expected[kPathBufferSize];
  return path != nullptr && GetWorkPath(item, expected) && SamePath(path, expected);
}

void DiscardWorkFolder() {
  char folder[kPathBufferSize];
  const BOOL trusted = GetWorkFolder(folder);
  WriteUpdaterString(nullptr, updater_value::kWorkFolder, nullptr);  // a failure is logged
  // The handle that kept the folder would stop its own deletion.
  ReleaseHeldFolder();
  if (!trusted) return;

  wchar_t own[kPathBufferSize];
  wchar_t copy[kPathBufferSize];
  const bool runningFromIt = GetUpdaterPathW(own) &&
                             BuildItemPathW(folder, WorkItem::kUpdaterCopy, copy) &&
                             wcscmp(own, copy) == 0;
  RunLogWrite("work folder removed: %s", folder);
  if (!runningFromIt) {
    if (!DeleteFolderTree(folder)) {
      RunLogFailureFormat(GetLastError(),
                          "work folder: %s cannot be deleted now; it goes at the "
                          "next restart",
                          folder);
      ScheduleTreeRemovalAtRestart(folder);
    }
    return;
  }
  // Everything but the running program goes now; the program, anything else that could not go,
  // and the folder go at the next restart. A program name without an exact ANSI form is missed
  // by the ANSI listing, so it is scheduled by its wide name.
  char ownAnsi[kPathBufferSize];
  if (!BuildItemPath(folder, WorkItem::kUpdaterCopy, ownAnsi)) {
    ownAnsi[0] = '\0';
    if (!MoveFileExW(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      RunLogFailureFormat(GetLastError(), "work folder: MoveFileEx of %ls to the restart failed",
                          own);
    }
  }
  // What cannot go now is scheduled below with the folder.
  ForEachFolderEntry(folder, [&ownAnsi](const char* path, DWORD attributes) {
    if (SamePath(path, ownAnsi)) return true;
    const BOOL deleted = IsPlainFolder(path)                       ? DeleteFolderTree(path)
                         : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path)
                                                                   : DeleteFileA(path);
    if (!deleted) {
      RunLogFailureFormat(GetLastError(), "work folder: %s cannot be deleted now", path);
    }
    return true;
  });
  ScheduleTreeRemovalAtRestart(folder);
}

BOOL GetKeptFolder(char* folder) {
  if (!HoldTrustedParent(true) || !GetWorkFolderParent(folder)) return FALSE;  // logged
  if (!base::AppendBounded(folder, kPathBufferSize, product::kKeptFolderName)) {
    RunLogFailure("work folder: the kept folder's path is too long", ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  if (!IsPlainFolder(folder) && !CreateProtectedFolder(folder, kBackupFolderSecurity)) {
    RunLogFailure("the folder for kept user data cannot be made", GetLastError());
    return FALSE;
  }
  if (!IsPlainFolder(folder) || !IsOwnedByAdministrators(folder)) {
    RunLogWrite("the folder for kept user data %s is no plain folder of administrators", folder);
    return FALSE;
  }
  return TRUE;
}
