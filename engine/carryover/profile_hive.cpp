#include "engine/carryover/profile_hive.h"

#include "base/scoped.h"

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

LONG ScopedProfileHive::Load(const char* sid) {
  if (loaded_) return ERROR_ALREADY_EXISTS;
  if (privileges_.result() != ERROR_SUCCESS) return privileges_.result();
  if (MultiByteToWideChar(CP_ACP, 0, sid, -1, name_, 256) == 0) {
    return static_cast<LONG>(GetLastError());
  }

  wchar_t profileKey[kPathChars];
  if (lstrlenW(kProfileListKey) + lstrlenW(name_) >= static_cast<int>(kPathChars)) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  lstrcpyW(profileKey, kProfileListKey);
  lstrcatW(profileKey, name_);
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

  wchar_t file[kPathChars];
  const DWORD length = ExpandEnvironmentStringsW(folder, file, kPathChars);
  if (length == 0 || length + lstrlenW(kHiveFile) > kPathChars) return ERROR_FILENAME_EXCED_RANGE;
  lstrcatW(file, kHiveFile);
  result = RegLoadKeyW(HKEY_USERS, name_, file);
  loaded_ = result == ERROR_SUCCESS;
  return result;
}

LONG ScopedProfileHive::Unload() {
  if (!loaded_) return ERROR_SUCCESS;
  const LONG result = RegUnLoadKeyW(HKEY_USERS, name_);
  loaded_ = result != ERROR_SUCCESS;
  return result;
}

ScopedProfileHive::~ScopedProfileHive() { Unload(); }
