#include "engine/carryover/user_hives.h"

#include <sddl.h>

#include "base/bounded_string.h"
#include "engine/work_folder.h"

namespace {

using ConvertSidToStringSidAFunction = BOOL(WINAPI*)(PSID, LPSTR*);

}  // namespace

base::WideText UserHive::PathOf(const char* subkey) const {
  char path[kKeyPathSize];
  const bool fits = root == HKEY_USERS
                        ? base::FormatBounded(path, sizeof(path), "%s\\%s", name, subkey)
                        : base::CopyBounded(path, sizeof(path), subkey);
  return fits ? ToWide(path) : L"";
}

bool IsUserHiveName(const char* hiveName) {
  PSID sid = nullptr;
  if ((hiveName[0] != 'S' && hiveName[0] != 's') || hiveName[1] != '-' ||
      !ConvertStringSidToSidA(hiveName, &sid)) {
    return false;
  }
  base::ScopedLocalMemory owned(sid);
  return true;
}

bool IsHiveLoaded(const char* hiveName) {
  base::ScopedRegKey hive;
  return RegOpenKeyExA(HKEY_USERS, hiveName, 0, KEY_QUERY_VALUE, hive.receive()) == ERROR_SUCCESS;
}

bool OpenDesktopUserToken(base::ScopedHandle* token) {
  return OpenDesktopUserToken(token, TOKEN_QUERY);
}

bool OpenDesktopUserToken(base::ScopedHandle* token, DWORD access) {
  const HWND shell = GetShellWindow();
  if (shell == nullptr) {
    return OpenProcessToken(GetCurrentProcess(), access, token->receive()) != FALSE;
  }
  DWORD processId = 0;
  if (GetWindowThreadProcessId(shell, &processId) == 0) return false;
  base::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  return process && OpenProcessToken(process.get(), access, token->receive()) != FALSE;
}

BOOL GetTokenUserSid(HANDLE token, char* text, size_t size) {
  text[0] = '\0';
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } owner;
  DWORD length = 0;
  if (!GetTokenInformation(token, TokenUser, &owner, sizeof(owner), &length)) return FALSE;

  base::ScopedLibrary advapi(LoadLibraryA("advapi32.dll"));
  if (!advapi) return FALSE;
  const auto convert = reinterpret_cast<ConvertSidToStringSidAFunction>(
      reinterpret_cast<void*>(GetProcAddress(advapi.get(), "ConvertSidToStringSidA")));
  if (convert == nullptr) return FALSE;

  LPSTR sid = nullptr;
  if (!convert(owner.user.User.Sid, &sid)) return FALSE;
  base::ScopedLocalMemory owned(sid);
  return base::CopyBounded(text, size, sid) ? TRUE : FALSE;
}

BOOL GetUserHiveName(char* hiveName) {
  hiveName[0] = '\0';
  base::ScopedHandle token;
  if (!OpenDesktopUserToken(&token)) return FALSE;
  return GetTokenUserSid(token.get(), hiveName, kHiveNameSize);
}

base::Text DescribeUser(const char* sid) {
  char name[256] = "";
  char domain[256] = "";
  PSID binary = nullptr;
  if (ConvertStringSidToSidA(sid, &binary)) {
    base::ScopedLocalMemory owned(binary);
    DWORD nameSize = sizeof(name);
    DWORD domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, binary, name, &nameSize, domain, &domainSize, &use)) {
      name[0] = '\0';
    }
  }
  char described[kKeyPathSize + 520];
  if (name[0] != '\0' && base::FormatBounded(described, sizeof(described), "%s%s%s (%s)", domain,
                                             domain[0] != '\0' ? "\\" : "", name, sid)) {
    return described;
  }
  return sid;
}

LONG CreateDatedKeyBeside(const UserHive& hive, const char* keyPath, HKEY* key,
                          base::Text* createdName) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME at;
  SystemTimeToFileTime(&now, &at);
  ULARGE_INTEGER time;
  time.LowPart = at.dwLowDateTime;
  time.HighPart = at.dwHighDateTime;
  for (int attempt = 0; attempt < 64; ++attempt, time.QuadPart += 10000000ull) {
    FILETIME stamp = {time.LowPart, time.HighPart};
    SYSTEMTIME local;
    char name[kKeyPathSize];
    if (!FileTimeToSystemTime(&stamp, &local) ||
        !base::FormatBounded(name, sizeof(name), "%s_%s", keyPath, FormatTimeStamp(local).text)) {
      return ERROR_FILENAME_EXCED_RANGE;
    }
    const base::WideText path = hive.PathOf(name);
    if (path.empty()) return ERROR_FILENAME_EXCED_RANGE;
    DWORD disposition = 0;
    const LONG result =
        RegCreateKeyExW(hive.root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key, &disposition);
    if (result != ERROR_SUCCESS) return result;
    if (disposition == REG_CREATED_NEW_KEY) {
      *createdName = name;
      return ERROR_SUCCESS;
    }
    RegCloseKey(*key);
    *key = nullptr;
  }
  return ERROR_ALREADY_EXISTS;
}

bool IsUserGone(const char* sid) {
  char profileKey[kKeyPathSize];
  base::ScopedRegKey profile;
  if (!base::FormatBounded(profileKey, sizeof(profileKey),
                           "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\%s",
                           sid) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, profileKey, 0, KEY_QUERY_VALUE, profile.receive()) !=
          ERROR_FILE_NOT_FOUND) {
    return false;  // a profile is listed, or the list cannot be read: the user may come back
  }
  PSID binary = nullptr;
  if (!ConvertStringSidToSidA(sid, &binary)) return false;
  base::ScopedLocalMemory owned(binary);
  char name[256];
  char domain[256];
  DWORD nameSize = sizeof(name);
  DWORD domainSize = sizeof(domain);
  SID_NAME_USE use;
  return !LookupAccountSidA(nullptr, binary, name, &nameSize, domain, &domainSize, &use) &&
         GetLastError() == ERROR_NONE_MAPPED;
}

bool BuildKeptFilePath(const char* sid, const char* what, const char* extension,
                       char (&path)[kPathBufferSize]) {
  char folder[kPathBufferSize];
  SYSTEMTIME now;
  GetLocalTime(&now);
  return GetKeptFolder(folder) &&
         base::FormatBounded(path, sizeof(path), "%s\\%s_%s_%s.%s", folder, sid, what,
                             FormatTimeStamp(now).text, extension);
}
