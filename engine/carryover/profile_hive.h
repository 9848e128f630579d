// The hive of a user who is not logged on: HKEY_LOCAL_MACHINE "...\ProfileList\<SID>" names the
// profile folder (ProfileImagePath, environment strings expanded), whose "NTUSER.DAT" it is.
#ifndef ENGINE_CARRYOVER_PROFILE_HIVE_H_
#define ENGINE_CARRYOVER_PROFILE_HIVE_H_

#include <windows.h>

#include "engine/carryover/user_hives.h"

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

// The profile hive of a user who is not logged on, loaded privately (RegLoadAppKeyW: not under
// HKEY_USERS, where that user's own logon would meet it) for as long as the owner lives. Before it
// is loaded, the hive file is checked through one handle that follows no link: a plain file (no
// folder, no reparse point) with one name, owned by that user, at the path the profile list gives.
// It is never loaded while that user's own hive is loaded (the user has a session), and after the
// load the file at that path must still be the one checked.
class ScopedProfileHive {
 public:
  ScopedProfileHive() = default;
  ~ScopedProfileHive();
  ScopedProfileHive(const ScopedProfileHive&) = delete;
  ScopedProfileHive& operator=(const ScopedProfileHive&) = delete;

  // ERROR_SUCCESS once the hive of that user is loaded; otherwise, logged with its reason: no
  // profile listed (ERROR_FILE_NOT_FOUND), the user has a session (ERROR_SHARING_VIOLATION), not a
  // plain file (ERROR_BAD_FILE_TYPE), more than one name (ERROR_TOO_MANY_LINKS), owned by someone
  // else (ERROR_INVALID_OWNER), replaced while it was loaded (ERROR_FILE_INVALID), or the system's
  // error.
  LONG Load(const char* sid);
  // The root key of the loaded hive.
  HKEY root() const { return root_; }
  // Flushes the hive and closes its root, which unloads it: ERROR_SUCCESS once that is done (or
  // nothing was loaded). Every key opened below the root must be closed before.
  LONG Unload();

 private:
  HKEY root_ = nullptr;
};

// What a restore writes into a logged-off user's profile hive, and how it sees that the hive holds
// it.
class ProfileHiveWork {
 public:
  virtual LONG Write(const UserHive& hive) = 0;
  virtual bool Holds(const UserHive& hive) = 0;

 protected:
  ~ProfileHiveWork() = default;
};

// Loads the user's profile hive, writes into it, flushes and unloads it, then loads it once more
// and checks that its file holds what was written: only that counts. ERROR_SUCCESS then; each
// failure is logged with what and whose it concerns.
LONG WriteIntoProfileHive(const char* sid, const char* what, ProfileHiveWork* work);

#endif  // ENGINE_CARRYOVER_PROFILE_HIVE_H_
