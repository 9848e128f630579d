// The hive of a user who is not logged on, loaded from that user's profile for as long as the
// owner lives: HKEY_LOCAL_MACHINE "...\ProfileList\<SID>" names the profile folder
// (ProfileImagePath, environment strings expanded), whose "NTUSER.DAT" is loaded as
// HKEY_USERS\<SID> with the backup and restore privileges enabled for that time.
#ifndef ENGINE_CARRYOVER_PROFILE_HIVE_H_
#define ENGINE_CARRYOVER_PROFILE_HIVE_H_

#include <windows.h>

// The backup and restore privileges of the process token, enabled while the owner lives and then
// put back as they were.
class ScopedHivePrivileges {
 public:
  ScopedHivePrivileges();
  ~ScopedHivePrivileges();
  ScopedHivePrivileges(const ScopedHivePrivileges&) = delete;
  ScopedHivePrivileges& operator=(const ScopedHivePrivileges&) = delete;
  // ERROR_SUCCESS once both are enabled.
  LONG result() const { return result_; }

 private:
  HANDLE token_ = nullptr;
  LONG result_ = ERROR_PRIVILEGE_NOT_HELD;
  union {
    TOKEN_PRIVILEGES privileges;
    BYTE bytes[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)];
  } previous_ = {};
  DWORD previousSize_ = 0;
};

// A user's profile hive loaded under HKEY_USERS\<SID>, written through and unloaded when the owner
// goes. The privileges are released after the hive.
class ScopedProfileHive {
 public:
  ScopedProfileHive() = default;
  ~ScopedProfileHive();
  ScopedProfileHive(const ScopedProfileHive&) = delete;
  ScopedProfileHive& operator=(const ScopedProfileHive&) = delete;

  // ERROR_SUCCESS once the hive of that user is loaded; the system's error otherwise (no profile
  // listed for the SID: ERROR_FILE_NOT_FOUND).
  LONG Load(const char* sid);
  // ERROR_SUCCESS once it is unloaded again (or was never loaded).
  LONG Unload();

 private:
  ScopedHivePrivileges privileges_;
  wchar_t name_[256] = {};
  bool loaded_ = false;
};

#endif  // ENGINE_CARRYOVER_PROFILE_HIVE_H_
