#include "engine/carryover/profile_hive.h"

#include <aclapi.h>
#include <sddl.h>

#include "base/scoped.h"
#include "engine/core/late_bound.h"
#include "engine/core/names.h"
#include "engine/core/run_log.h"

namespace {

constexpr wchar_t kProfileListKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kHiveFile[] = L"\\NTUSER.DAT";
constexpr DWORD kPathChars = 520;

}  // namespace

ScopedHivePrivileges::ScopedHivePrivileges() {
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
    token_ = nullptr;
    result_ = static_cast<LONG>(GetLastError());
    return;
  }
  union {
    TOKEN_PRIVILEGES privileges;
    BYTE bytes[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)];
  } wanted = {};
  wanted.privileges.PrivilegeCount = 2;
  const wchar_t* const names[] = {L"SeBackupPrivilege", L"SeRestorePrivilege"};
  for (int i = 0; i < 2; ++i) {
    if (!LookupPrivilegeValueW(nullptr, names[i], &wanted.privileges.Privileges[i].Luid)) {
      result_ = static_cast<LONG>(GetLastError());
      return;
    }
    wanted.privileges.Privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
  }
  DWORD size = sizeof(previous_);
  if (!AdjustTokenPrivileges(token_, FALSE, &wanted.privileges, sizeof(previous_),
                             &previous_.privileges, &size)) {
    result_ = static_cast<LONG>(GetLastError());
    return;
  }
  previousSize_ = size;
  // Success with ERROR_NOT_ALL_ASSIGNED: the token lacks one of them.
  result_ = static_cast<LONG>(GetLastError());
}

ScopedHivePrivileges::~ScopedHivePrivileges() {
  if (token_ == nullptr) return;
  if (previousSize_ != 0) {
    AdjustTokenPrivileges(token_, FALSE, &previous_.privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token_);
}

namespace {

// The profile hive file of a user as the profile list names it, into file[kPathChars].
LONG FindProfileHiveFile(const wchar_t* sid, wchar_t (&file)[kPathChars]) {
  wchar_t profileKey[kPathChars];
  if (lstrlenW(kProfileListKey) + lstrlenW(sid) >= static_cast<int>(kPathChars)) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  lstrcpyW(profileKey, kProfileListKey);
  lstrcatW(profileKey, sid);
  base::ScopedRegKey profile;
  LONG result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, profileKey, 0, KEY_QUERY_VALUE, profile.receive());
  if (result != ERROR_SUCCESS) return result;
  wchar_t folder[kPathChars] = {};
  DWORD type = REG_NONE;
  DWORD bytes = sizeof(folder) - sizeof(wchar_t);
  result = RegQueryValueExW(profile.get(), L"ProfileImagePath", nullptr, &type,
                            reinterpret_cast<BYTE*>(folder), &bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_BAD_PATHNAME;
  folder[bytes / sizeof(wchar_t)] = L'\0';
  const DWORD length = ExpandEnvironmentStringsW(folder, file, kPathChars);
  if (length == 0 || length + lstrlenW(kHiveFile) > kPathChars) return ERROR_FILENAME_EXCED_RANGE;
  lstrcatW(file, kHiveFile);
  return ERROR_SUCCESS;
}

// The file itself, never what a link in its place points to; for its attributes, identity and
// owner only, so that a hive file in use can be opened too.
base::ScopedHandle OpenForCheck(const wchar_t* file) {
  return base::ScopedHandle(
      CreateFileW(file, FILE_READ_ATTRIBUTES | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether the open file may be loaded as the user's hive: a plain file with one name, owned by
// the user. ERROR_SUCCESS with its identity, or the reason.
LONG CheckHiveFile(HANDLE file, PSID user, BY_HANDLE_FILE_INFORMATION* identity) {
  if (!GetFileInformationByHandle(file, identity)) return static_cast<LONG>(GetLastError());
  if ((identity->dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return ERROR_BAD_FILE_TYPE;
  }
  if (identity->nNumberOfLinks != 1) return ERROR_TOO_MANY_LINKS;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                     nullptr, nullptr, nullptr, &descriptor);
  if (read != ERROR_SUCCESS) return static_cast<LONG>(read);
  base::ScopedLocalMemory owned(descriptor);
  return owner != nullptr && EqualSid(owner, user) ? ERROR_SUCCESS : ERROR_INVALID_OWNER;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

const char* RefusalOf(LONG code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return "no profile or no hive file is there";
    case ERROR_SHARING_VIOLATION:
      return "the user is logged on";
    case ERROR_BAD_FILE_TYPE:
      return "the hive file is a folder or a link";
    case ERROR_TOO_MANY_LINKS:
      return "the hive file has more than one name";
    case ERROR_INVALID_OWNER:
      return "the hive file is not owned by that user";
    case ERROR_FILE_INVALID:
      return "the hive file was replaced while it was loaded";
    default:
      return "the system refused it";
  }
}

}  // namespace

LONG ScopedProfileHive::Load(const char* sid) {
  LONG result = root_ != nullptr ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  wchar_t file[kPathChars] = {};
  PSID user = nullptr;
  if (result == ERROR_SUCCESS && !ConvertStringSidToSidA(sid, &user)) {
    result = static_cast<LONG>(GetLastError());
  }
  base::ScopedLocalMemory ownedUser(user);
  if (result == ERROR_SUCCESS) result = FindProfileHiveFile(ToWide(sid).c_str(), file);
  // The user's own logon loads the same file: never while they have a session.
  if (result == ERROR_SUCCESS && IsHiveLoaded(sid)) result = ERROR_SHARING_VIOLATION;
  base::ScopedHandle checked;
  BY_HANDLE_FILE_INFORMATION identity = {};
  if (result == ERROR_SUCCESS) {
    checked = OpenForCheck(file);
    result =
        checked ? CheckHiveFile(checked.get(), user, &identity) : static_cast<LONG>(GetLastError());
  }
  base::ScopedRegKey loadedRoot;
  if (result == ERROR_SUCCESS) {
    result = late::RegLoadAppKeyW(file, loadedRoot.receive(), KEY_ALL_ACCESS, 0, 0);
  }
  if (result == ERROR_SUCCESS) {
    // The name may have been given to another file between the check and the load; the loaded
    // file cannot be moved while it is loaded, so the one there now is the one loaded.
    const base::ScopedHandle now = OpenForCheck(file);
    BY_HANDLE_FILE_INFORMATION loaded = {};
    if (!now || !GetFileInformationByHandle(now.get(), &loaded) || !SameFile(identity, loaded) ||
        loaded.nNumberOfLinks != 1) {
      result = ERROR_FILE_INVALID;  // the key closes, which unloads it
    } else {
      root_ = loadedRoot.release();
    }
  }
  if (result != ERROR_SUCCESS) {
    RunLogWrite("restore: the profile hive of user %s is not loaded: %s (error %ld)", sid,
                RefusalOf(result), result);
  }
  return result;
}

LONG ScopedProfileHive::Unload() {
  if (root_ == nullptr) return ERROR_SUCCESS;
  const LONG flushed = RegFlushKey(root_);
  const LONG closed = RegCloseKey(root_);
  root_ = nullptr;
  return flushed != ERROR_SUCCESS ? flushed : closed;
}

ScopedProfileHive::~ScopedProfileHive() { Unload(); }

LONG WriteIntoProfileHive(const char* sid, const char* what, ProfileHiveWork* work) {
  {
    ScopedProfileHive hive;
    LONG result = hive.Load(sid);
    if (result != ERROR_SUCCESS) return result;
    result = work->Write(UserHive(sid, hive.root()));
    const LONG unloaded = hive.Unload();
    if (result == ERROR_SUCCESS) result = unloaded;
    if (result != ERROR_SUCCESS) {
      RunLogWrite(
          "restore: the %s of user %s could not be written into the profile hive "
          "(error %ld)",
          what, sid, result);
      return result;
    }
  }
  ScopedProfileHive check;
  LONG result = check.Load(sid);
  if (result != ERROR_SUCCESS) return result;
  const bool held = work->Holds(UserHive(sid, check.root()));
  result = check.Unload();
  if (!held || result != ERROR_SUCCESS) {
    RunLogWrite("restore: the profile hive file of user %s does not hold the %s written into it",
                sid, what);
    return held ? result : ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}
