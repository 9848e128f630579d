// The users' hives under HKEY_USERS: their names (string SIDs), whether one is loaded, and which
// one belongs to the user at the desktop.
#ifndef ENGINE_CARRYOVER_USER_HIVES_H_
#define ENGINE_CARRYOVER_USER_HIVES_H_

#include <windows.h>

#include <cstddef>

#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/core/names.h"

// Room for a hive name and for a key path inside a hive.
constexpr size_t kHiveNameSize = 256;
constexpr size_t kKeyPathSize = 260;

// A user's hive as the restore reaches it: below HKEY_USERS by its name while that user's hive
// is loaded there, or at the root of that user's profile hive loaded privately
// (engine/carryover/profile_hive.h).
struct UserHive {
  const char* name;  // the string SID
  HKEY root;         // HKEY_USERS, or the root of the privately loaded hive

  explicit UserHive(const char* hiveName, HKEY privateRoot = HKEY_USERS)
      : name(hiveName), root(privateRoot) {}
  // The path below root of a key of the hive ("<name>\<subkey>" below HKEY_USERS, the subkey
  // itself in a private hive), in wide characters; empty when it does not fit.
  base::WideText PathOf(const char* subkey) const;
};

// True when the name is a string SID ("S-1-..."), the only kind of name GetUserHiveName records
// and a user's hive has.
bool IsUserHiveName(const char* hiveName);

// Calls visit(hiveName) for every hive loaded under HKEY_USERS, in the order the registry lists
// them, until visit returns something other than ERROR_SUCCESS, which is then returned; the
// system's error when the hives cannot be listed. Only names the ANSI code page holds exactly are
// visited (a user's hive is named by its SID, which is ASCII).
template <typename Visit>
LONG ForEachLoadedHive(Visit visit) {
  return ForEachSubkey(HKEY_USERS, [&](const wchar_t* wideName) -> LONG {
    bool exact = false;
    const base::Text name = ToAnsi(wideName, &exact);
    if (!exact || name.size() >= kHiveNameSize) return ERROR_SUCCESS;
    return visit(name.c_str());
  });
}

// True while the hive is loaded under HKEY_USERS.
bool IsHiveLoaded(const char* hiveName);

// The token of the user at the desktop: that of the desktop shell's process, or the updater's own
// where no shell window exists.
bool OpenDesktopUserToken(base::ScopedHandle* token);

// The same token with the given access (TOKEN_QUERY above).
bool OpenDesktopUserToken(base::ScopedHandle* token, DWORD access);

// The hive name under HKEY_USERS (string SID) of the user at the desktop, taken from the desktop
// shell's token, into hiveName[kHiveNameSize]: a user who elevated with an administrator's
// password keeps their own hive. Where no shell window exists, the updater's own user. FALSE when
// the shell's token cannot be read.
BOOL GetUserHiveName(char* hiveName);

// The SID of a token's user in string form ("S-1-5-...") into text[size].
BOOL GetTokenUserSid(HANDLE token, char* text, size_t size);

// "DOMAIN\name (SID)" for a string SID, or the SID alone when it names no account: how a user
// is named in a message and in the run log.
base::Text DescribeUser(const char* sid);

// True when a user is gone for good: no profile is listed for the SID and it maps to no account.
bool IsUserGone(const char* sid);

// "<kept folder>\<SID>_<what>_<yyyymmdd-hhmmss>.<extension>" (local time now), the kept folder
// made when it is not there yet; false when it cannot be.
bool BuildKeptFilePath(const char* sid, const char* what, const char* extension,
                       char (&path)[kPathBufferSize]);

// Creates the key "<keyPath>_<yyyymmdd-hhmmss>" (local time now, a second later while the name is
// taken) in the user's hive: where a saved version is kept beside the one in place. ERROR_SUCCESS
// with the open key and its name below the hive.
LONG CreateDatedKeyBeside(const UserHive& hive, const char* keyPath, HKEY* key,
                          base::Text* createdName);

#endif  // ENGINE_CARRYOVER_USER_HIVES_H_
