#include "engine/core/settings_store.h"

#include <aclapi.h>
#include <sddl.h>

#include <utility>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"

namespace {

constexpr size_t kKeyPathSize = 256;

// Key path + suffix; false when the combination does not fit.
bool BuildKeyPath(const char* suffix, char (&path)[kKeyPathSize]) {
  return base::CopyBounded(path, sizeof(path), product::kUpdaterKey) &&
         (suffix == nullptr || base::AppendBounded(path, sizeof(path), suffix));
}

// The updater key's descriptor: owned by Administrators, full control for SYSTEM and
// Administrators, inherited by every subkey, nothing inherited from above and nothing for anybody
// else (the saved settings and command lines are the users' own).
constexpr wchar_t kAdminOnlyDescriptor[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// True when the key's owner is Administrators or SYSTEM and its DACL is protected and holds
// exactly the entries of `wanted`.
bool HasAdminOnlyDescriptor(HKEY key, PSECURITY_DESCRIPTOR wanted) {
  union {
    SECURITY_DESCRIPTOR header;
    BYTE bytes[4096];
  } current;
  DWORD size = sizeof(current);
  const LONG read = RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &current, &size);
  if (read != ERROR_SUCCESS) {
    RunLogFailure("updater key: RegGetKeySecurity failed", static_cast<DWORD>(read));
    return false;
  }
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL wantedPresent = FALSE;
  PACL dacl = nullptr;
  PACL wantedDacl = nullptr;
  if (!GetSecurityDescriptorOwner(&current, &owner, &defaulted) ||
      !GetSecurityDescriptorControl(&current, &control, &revision) ||
      !GetSecurityDescriptorDacl(&current, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorDacl(wanted, &wantedPresent, &wantedDacl, &defaulted)) {
    RunLogFailure("updater key: its descriptor cannot be read", GetLastError());
    return false;
  }
  // Another owner or access list is no failure: the caller sets the descriptor anew.
  if (owner == nullptr ||
      (!IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
       !IsWellKnownSid(owner, WinLocalSystemSid)) ||
      (control & SE_DACL_PROTECTED) == 0 || !present || dacl == nullptr || wantedDacl == nullptr ||
      dacl->AceCount != wantedDacl->AceCount) {
    return false;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    void* wantedAce = nullptr;
    if (!GetAce(dacl, index, &ace) || !GetAce(wantedDacl, index, &wantedAce)) {
      RunLogFailure("updater key: an access entry cannot be read", GetLastError());
      return false;
    }
    const WORD aceSize = static_cast<ACE_HEADER*>(ace)->AceSize;
    if (aceSize != static_cast<ACE_HEADER*>(wantedAce)->AceSize ||
        memcmp(ace, wantedAce, aceSize) != 0) {
      return false;
    }
  }
  return true;
}

// The registry link's value, which a key opened with REG_OPTION_OPEN_LINK shows when it is a link.
constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";
// What an open answers for a link on the way: told apart from a real refusal.
constexpr LONG kErrorRegistryLink = ERROR_CANT_RESOLVE_FILENAME;
// Levels below the updater key that the trust check walks; a deeper key is not the updater's.
constexpr int kMaxTrustDepth = 64;
constexpr DWORD kKeyNameChars = 256;

bool IsLink(HKEY key) {
  DWORD type = REG_NONE;
  return RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

// Opens (or creates, with `attributes`) one name below parent without following a link: a link
// is closed again and answers kErrorRegistryLink.
LONG OpenLevel(HKEY parent, const wchar_t* name, REGSAM access, bool create,
               SECURITY_ATTRIBUTES* attributes, base::ScopedRegKey& key, DWORD* disposition) {
  LONG result;
  if (create) {
    result =
        RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                        access | KEY_QUERY_VALUE, attributes, key.receive(), disposition);
  } else {
    result =
        RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access | KEY_QUERY_VALUE, key.receive());
  }
  if (result != ERROR_SUCCESS) {
    // A name that is not there is an answer, not a failure: the caller decides.
    if (result != ERROR_FILE_NOT_FOUND) {
      RunLogFailureFormat(static_cast<DWORD>(result), "updater key: %s of %ls failed",
                          create ? "RegCreateKeyEx" : "RegOpenKeyEx", name);
    }
    return result;
  }
  if (IsLink(key.get())) {
    key.reset();
    RunLogWrite("updater key: the registry link %ls is not followed", name);
    return kErrorRegistryLink;
  }
  return ERROR_SUCCESS;
}

// Opens each backslash-separated name of path below parent in turn with OpenLevel.
LONG OpenPath(HKEY parent, const wchar_t* path, REGSAM access, bool create,
              base::ScopedRegKey& key) {
  base::ScopedRegKey current;
  HKEY at = parent;
  for (const wchar_t* name = path; *name != L'\0';) {
    const wchar_t* end = name;
    while (*end != L'\0' && *end != L'\\') ++end;
    wchar_t part[kKeyNameChars];
    const size_t length = static_cast<size_t>(end - name);
    if (length >= kKeyNameChars) {
      RunLogFailureFormat(ERROR_INVALID_NAME, "updater key: a name in %ls is too long", path);
      return ERROR_INVALID_NAME;
    }
    if (length > 0) {
      memcpy(part, name, length * sizeof(wchar_t));
      part[length] = L'\0';
      const bool last = *end == L'\0';
      base::ScopedRegKey next;
      const LONG result =
          OpenLevel(at, part, last ? access : KEY_CREATE_SUB_KEY, create, nullptr, next, nullptr);
      if (result != ERROR_SUCCESS) return result;
      current = std::move(next);
      at = current.get();
    }
    name = *end == L'\0' ? end : end + 1;
  }
  key = std::move(current);
  if (!key) {
    RunLogFailure("updater key: an empty path names no key", ERROR_INVALID_NAME);
    return ERROR_INVALID_NAME;
  }
  return ERROR_SUCCESS;
}

bool IsAdministratorsOrSystem(PSID sid) {
  return sid != nullptr && IsValidSid(sid) &&
         (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
          IsWellKnownSid(sid, WinLocalSystemSid));
}

// Wine sets no descriptor given to RegCreateKeyEx and reports one descriptor of its own for
// every key made without RegSetKeySecurity (it enforces none). Under Wine only, that descriptor,
// learned once per run from a volatile key made for the purpose, counts as the updater's own.
// (Windows keeps descriptors: there the rule below holds exactly.)
bool IsWineDefaultDescriptor(const void* descriptor, DWORD size) {
  static BYTE reported[1024];
  static DWORD reportedSize = 0;
  static bool asked = false;
  if (!asked) {
    asked = true;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return false;
    wchar_t probe[64];
    wsprintfW(probe, L"Software\\TidemarkSXUpdaterProbe-%lu", GetCurrentProcessId());
    base::ScopedRegKey key;
    const LONG made = RegCreateKeyExW(HKEY_CURRENT_USER, probe, 0, nullptr, REG_OPTION_VOLATILE,
                                      KEY_READ, nullptr, key.receive(), nullptr);
    if (made != ERROR_SUCCESS) {
      RunLogFailure("updater key: RegCreateKeyEx of Wine's probe key failed",
                    static_cast<DWORD>(made));
      return false;
    }
    DWORD readSize = sizeof(reported);
    const LONG read = RegGetKeySecurity(
        key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, reported, &readSize);
    if (read == ERROR_SUCCESS) {
      reportedSize = readSize;
    } else {
      RunLogFailure("updater key: RegGetKeySecurity of Wine's probe key failed",
                    static_cast<DWORD>(read));
    }
    key.reset();
    RegDeleteKeyW(HKEY_CURRENT_USER, probe);
  }
  return reportedSize > 0 && size == reportedSize && memcmp(descriptor, reported, size) == 0;
}

// True when the key is owned by Administrators or SYSTEM and its DACL (present) has entries for
// SYSTEM and Administrators only: a key that the updater made, or an administrator.
bool HasOnlyOwnEntries(HKEY key) {
  union {
    SECURITY_DESCRIPTOR header;
    BYTE bytes[4096];
  } current;
  DWORD size = sizeof(current);
  const LONG read = RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &current, &size);
  if (read != ERROR_SUCCESS) {
    RunLogFailure("updater key: RegGetKeySecurity failed", static_cast<DWORD>(read));
    return false;
  }
  if (IsWineDefaultDescriptor(&current, size)) return true;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorOwner(&current, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(&current, &present, &dacl, &defaulted)) {
    RunLogFailure("updater key: its descriptor cannot be read", GetLastError());
    return false;
  }
  if (!IsAdministratorsOrSystem(owner) || !present || dacl == nullptr) return false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) {
      RunLogFailure("updater key: an access entry cannot be read", GetLastError());
      return false;
    }
    const BYTE type = static_cast<ACE_HEADER*>(ace)->AceType;
    if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_DENIED_ACE_TYPE) return false;
    // Allowed and denied entries have the same layout.
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    if (!IsAdministratorsOrSystem(sid)) return false;
  }
  return true;
}

// True when the key and every key below it are no link and carry only the updater's own owner
// and entries. `path` names the key for the log.
bool IsTrustedTree(HKEY key, const wchar_t* path, int depth) {
  if (!HasOnlyOwnEntries(key)) {
    RunLogWrite("updater key: %ls has another owner or access entries for others", path);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[kKeyNameChars];
    DWORD nameChars = kKeyNameChars;
    const LONG listed =
        RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (listed == ERROR_NO_MORE_ITEMS) return true;
    if (listed != ERROR_SUCCESS) {
      RunLogFailureFormat(static_cast<DWORD>(listed), "updater key: RegEnumKeyEx of %ls failed",
                          path);
      return false;
    }
    if (depth + 1 > kMaxTrustDepth) {
      RunLogWrite("updater key: %ls has keys more than %d levels deep", path, kMaxTrustDepth);
      return false;
    }
    base::ScopedRegKey subkey;
    const LONG opened =
        RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK,
                      READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, subkey.receive());
    if (opened != ERROR_SUCCESS) {
      RunLogFailureFormat(static_cast<DWORD>(opened),
                          "updater key: RegOpenKeyEx of %ls\\%ls failed", path, name);
      return false;
    }
    if (IsLink(subkey.get())) {
      RunLogWrite("updater key: %ls\\%ls is a link", path, name);
      return false;
    }
    if (!IsTrustedTree(subkey.get(), name, depth + 1)) return false;
  }
}

using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);

// Deletes parent\name with everything below it, one key at a time by its own handle opened
// without following links: a link below is deleted as the link it is, never its target.
LONG DeleteTreeWithoutLinks(HKEY parent, const wchar_t* name, int depth) {
  static const auto deleteKey = reinterpret_cast<NtDeleteKeyFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
  if (deleteKey == nullptr) {
    RunLogFailure("updater key: ntdll has no NtDeleteKey", ERROR_PROC_NOT_FOUND);
    return ERROR_PROC_NOT_FOUND;
  }
  if (depth > kMaxTrustDepth) {
    RunLogFailureFormat(ERROR_STACK_OVERFLOW, "updater key: %ls lies too deep to be deleted", name);
    return ERROR_STACK_OVERFLOW;
  }
  base::ScopedRegKey key;
  LONG result = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK,
                              DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.receive());
  if (result != ERROR_SUCCESS) {
    // A key that is not there needs no deletion; the caller decides what that means.
    if (result != ERROR_FILE_NOT_FOUND) {
      RunLogFailureFormat(static_cast<DWORD>(result),
                          "updater key: RegOpenKeyEx of %ls for its deletion failed", name);
    }
    return result;
  }
  if (!IsLink(key.get())) {
    for (;;) {
      wchar_t child[kKeyNameChars];
      DWORD childChars = kKeyNameChars;
      result = RegEnumKeyExW(key.get(), 0, child, &childChars, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_NO_MORE_ITEMS) break;
      if (result != ERROR_SUCCESS) {
        RunLogFailureFormat(static_cast<DWORD>(result),
                            "updater key: RegEnumKeyEx of %ls for its deletion failed", name);
        return result;
      }
      // A failure below is logged where it happened.
      result = DeleteTreeWithoutLinks(key.get(), child, depth + 1);
      if (result != ERROR_SUCCESS) return result;
    }
  }
  const LONG status = deleteKey(key.get());
  if (status != 0) {
    RunLogWrite("updater key: NtDeleteKey of %ls failed (status 0x%08lX)", name,
                static_cast<unsigned long>(status));
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

// The vendor key ("SOFTWARE\KORVANE SYSTEMS,INC.") and the updater key's own name below it.
bool SplitUpdaterKeyPath(wchar_t (&vendor)[kKeyPathSize], const wchar_t** own) {
  if (MultiByteToWideChar(CP_ACP, 0, product::kUpdaterKey, -1, vendor, kKeyPathSize) == 0) {
    RunLogFailure("updater key: MultiByteToWideChar of its path failed", GetLastError());
    return false;
  }
  wchar_t* last = nullptr;
  for (wchar_t* at = vendor; *at != L'\0'; ++at) {
    if (*at == L'\\') last = at;
  }
  if (last == nullptr) {
    RunLogFailure("updater key: its path names no vendor key", ERROR_INVALID_NAME);
    return false;
  }
  *last = L'\0';
  *own = last + 1;
  return true;
}

// Opens the updater key itself without following a link anywhere on its path. An existing key
// that is not wholly the updater's (another owner, entries for others, a link below it) never
// counts: a read finds nothing, and a write sets it aside (deleted without following links,
// logged) and makes the key anew with the admin-only descriptor, which admits no user to make
// anything below it. A key that is the updater's but whose descriptor differs from the wanted
// one (an older release's) gets the descriptor anew: SetSecurityInfo carries the inheritable
// entries down to the subkeys already there, and RegSetKeySecurity then sets the descriptor
// exactly as given (some systems drop the protection in the first).
LONG OpenUpdaterKeyItself(REGSAM access, bool create, base::ScopedRegKey& key) {
  wchar_t vendorPath[kKeyPathSize];
  const wchar_t* own = nullptr;
  if (!SplitUpdaterKeyPath(vendorPath, &own)) return ERROR_INVALID_NAME;
  base::ScopedRegKey vendor;
  LONG result = OpenPath(HKEY_LOCAL_MACHINE, vendorPath,
                         KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS, create, vendor);
  if (result != ERROR_SUCCESS) return result;
  const REGSAM wanted = access | KEY_ENUMERATE_SUB_KEYS | READ_CONTROL;
  result = OpenLevel(vendor.get(), own, wanted, false, nullptr, key, nullptr);
  if (result == ERROR_SUCCESS && IsTrustedTree(key.get(), own, 0)) {
    if (!create) return ERROR_SUCCESS;
  } else if (result == ERROR_FILE_NOT_FOUND && !create) {
    return result;
  } else if (result == ERROR_SUCCESS || result == kErrorRegistryLink) {
    key.reset();
    if (!create) {
      RunLogWrite("updater key: the key at its name is not the updater's and is not read");
      return ERROR_ACCESS_DENIED;
    }
    RunLogWrite("updater key: the key at its name is not the updater's; it is set aside");
    result = DeleteTreeWithoutLinks(vendor.get(), own, 0);
    if (result != ERROR_SUCCESS) {
      RunLogFailure("updater key: setting the untrusted key aside", static_cast<DWORD>(result));
      return result;
    }
  } else if (result != ERROR_FILE_NOT_FOUND) {
    return result;
  }

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlyDescriptor, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    const DWORD error = GetLastError();
    RunLogFailure("updater key: its descriptor cannot be made", error);
    return static_cast<LONG>(error);
  }
  base::ScopedLocalMemory owned(descriptor);
  if (!key) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    DWORD disposition = 0;
    result = OpenLevel(vendor.get(), own, wanted | WRITE_DAC | WRITE_OWNER, true, &attributes, key,
                       &disposition);
    if (result != ERROR_SUCCESS) return result;
    // Made by somebody else between the look and the creation: not the updater's.
    if (disposition != REG_CREATED_NEW_KEY && !IsTrustedTree(key.get(), own, 0)) {
      key.reset();
      RunLogFailure("updater key: made by somebody else before the updater could make it",
                    ERROR_ACCESS_DENIED);
      return ERROR_ACCESS_DENIED;
    }
  } else {
    key.reset();
    result = OpenLevel(vendor.get(), own, wanted | WRITE_DAC | WRITE_OWNER, false, nullptr, key,
                       nullptr);
    if (result != ERROR_SUCCESS) return result;
  }
  if (HasAdminOnlyDescriptor(key.get(), descriptor)) return ERROR_SUCCESS;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  // Only carries the entries down to the subkeys: RegSetKeySecurity below decides.
  const DWORD inherited = SetSecurityInfo(
      key.get(), SE_REGISTRY_KEY,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
  if (inherited != ERROR_SUCCESS) {
    RunLogFailure("updater key: SetSecurityInfo failed", inherited);
  }
  result = RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                             descriptor);
  if (result != ERROR_SUCCESS) {
    RunLogFailure("updater key: RegSetKeySecurity failed", static_cast<DWORD>(result));
  } else if (!HasAdminOnlyDescriptor(key.get(), descriptor)) {
    RunLogFailure("updater key: its descriptor did not hold", ERROR_ACCESS_DENIED);
    result = ERROR_ACCESS_DENIED;
  }
  if (result != ERROR_SUCCESS) key.reset();
  return result;
}

// The updater key (opened or made as above), then the suffix's names below it, each without
// following a link; a subkey made below inherits the key's descriptor.
LONG OpenChecked(const char* suffix, REGSAM access, bool create, base::ScopedRegKey& key) {
  char path[kKeyPathSize];
  if (!BuildKeyPath(suffix, path)) {
    RunLogFailureFormat(ERROR_FILENAME_EXCED_RANGE, "updater key: the path with %s is too long",
                        suffix);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  const bool below = suffix != nullptr && suffix[0] != '\0';
  LONG result = OpenUpdaterKeyItself(below ? KEY_CREATE_SUB_KEY : access, create, key);
  if (result != ERROR_SUCCESS || !below) return result;
  wchar_t wideSuffix[kKeyPathSize];
  if (MultiByteToWideChar(CP_ACP, 0, suffix, -1, wideSuffix, kKeyPathSize) == 0) {
    RunLogFailureFormat(GetLastError(), "updater key: MultiByteToWideChar of %s failed", suffix);
    key.reset();
    return ERROR_INVALID_NAME;
  }
  base::ScopedRegKey updater = std::move(key);
  return OpenPath(updater.get(), wideSuffix, access, create, key);
}

bool OpenForQuery(const char* suffix, base::ScopedRegKey& key) {
  return OpenChecked(suffix, KEY_QUERY_VALUE, false, key) == ERROR_SUCCESS;
}

// A value read that failed, logged unless the value is simply not there (an answer, not a
// failure). The result is passed on.
LONG LogQueryFailure(LONG result, const char* valueName) {
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    RunLogFailureFormat(static_cast<DWORD>(result), "updater key: RegQueryValueEx of %s failed",
                        valueName);
  }
  return result;
}

// Opens (creating) the key for a write or a removal of valueName; a failure is logged with its
// code, naming the value.
bool OpenForWrite(const char* suffix, REGSAM access, const char* valueName, bool remove,
                  base::ScopedRegKey& key) {
  const LONG opened = OpenChecked(suffix, access, true, key);
  if (opened == ERROR_SUCCESS) return true;
  RunLogFailureFormat(static_cast<DWORD>(opened), "updater key: %s cannot be %s", valueName,
                      remove ? "removed" : "written");
  return false;
}

// Deletes a value of the open key. 1: a removal succeeds once the key is open, whether or not the
// value existed; a deletion that fails otherwise is logged.
int RemoveValue(HKEY key, const char* valueName) {
  const LONG deleted = RegDeleteValueA(key, valueName);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
    RunLogFailureFormat(static_cast<DWORD>(deleted), "updater key: RegDeleteValue of %s failed",
                        valueName);
  }
  return 1;
}

// A value written: 1, or 0 with the failure logged.
int LogSetFailure(LONG result, const char* valueName) {
  if (result == ERROR_SUCCESS) return 1;
  RunLogFailureFormat(static_cast<DWORD>(result), "updater key: RegSetValueEx of %s failed",
                      valueName);
  return 0;
}

}  // namespace

int HasUpdaterValue(const char* valueName) {
  base::ScopedRegKey key;
  if (!OpenForQuery(nullptr, key)) return 0;
  return LogQueryFailure(RegQueryValueExA(key.get(), valueName, nullptr, nullptr, nullptr, nullptr),
                         valueName) == ERROR_SUCCESS
             ? 1
             : 0;
}

int ReadUpdaterDword(const char* suffix, const char* valueName, DWORD* value) {
  base::ScopedRegKey key;
  if (value == nullptr || !OpenForQuery(suffix, key)) return 0;
  DWORD size = sizeof(DWORD);
  DWORD data = 0;
  if (LogQueryFailure(RegQueryValueExA(key.get(), valueName, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&data), &size),
                      valueName) != ERROR_SUCCESS) {
    return 0;
  }
  *value = data;
  return 1;
}

int ReadUpdaterString(const char* suffix, const char* valueName, char* buffer, DWORD bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  buffer[0] = '\0';
  base::ScopedRegKey key;
  if (!OpenForQuery(suffix, key)) return 0;
  DWORD size = bufferSize;
  if (LogQueryFailure(RegQueryValueExA(key.get(), valueName, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &size),
                      valueName) != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return 0;
  }
  if (!base::TerminateRegistryString(buffer, bufferSize, size)) {
    RunLogFailureFormat(ERROR_MORE_DATA, "updater key: %s does not fit with its NUL", valueName);
    return 0;
  }
  return 1;
}

int WriteUpdaterDword(const char* suffix, const char* valueName, DWORD value, BOOL remove) {
  base::ScopedRegKey key;
  if (!OpenForWrite(suffix, KEY_SET_VALUE, valueName, remove != FALSE, key)) return 0;
  if (remove) return RemoveValue(key.get(), valueName);
  return LogSetFailure(RegSetValueExA(key.get(), valueName, 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                       valueName);
}

int WriteUpdaterString(const char* suffix, const char* valueName, const char* text) {
  base::ScopedRegKey key;
  if (!OpenForWrite(suffix, KEY_ALL_ACCESS, valueName, text == nullptr, key)) return 0;
  if (text == nullptr) return RemoveValue(key.get(), valueName);
  const DWORD bytes = static_cast<DWORD>(lstrlenA(text)) + 1;
  return LogSetFailure(
      RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes),
      valueName);
}

int DeleteUpdaterKey() {
  wchar_t vendorPath[kKeyPathSize];
  const wchar_t* own = nullptr;
  base::ScopedRegKey vendor;
  return SplitUpdaterKeyPath(vendorPath, &own) &&
                 OpenPath(HKEY_LOCAL_MACHINE, vendorPath, KEY_ENUMERATE_SUB_KEYS, false, vendor) ==
                     ERROR_SUCCESS &&
                 DeleteTreeWithoutLinks(vendor.get(), own, 0) == ERROR_SUCCESS
             ? 1
             : 0;
}

LONG OpenTrustedUpdaterKey(const char* suffix, REGSAM access, bool create, HKEY* key) {
  base::ScopedRegKey opened;
  const LONG result = OpenChecked(suffix, access, create, opened);
  *key = result == ERROR_SUCCESS ? opened.release() : nullptr;
  return result;
}

int OpenOrCreateUpdaterKey(HKEY* key) {
  base::ScopedRegKey opened;
  // A failure is logged where it happens, by the call that failed.
  if (OpenChecked(nullptr, KEY_ALL_ACCESS, true, opened) != ERROR_SUCCESS) return 0;
  *key = opened.release();
  return 1;
}

int FlushUpdaterKey() {
  base::ScopedRegKey key;
  LONG result = OpenChecked(nullptr, KEY_QUERY_VALUE, false, key);
  if (result == ERROR_SUCCESS) {
    result = RegFlushKey(key.get());
    if (result != ERROR_SUCCESS) {
      RunLogFailure("updater key: RegFlushKey failed", static_cast<DWORD>(result));
    }
  }
  SetLastError(static_cast<DWORD>(result));
  return result == ERROR_SUCCESS ? 1 : 0;
}

int SetMarking(BOOL on) {
  if (!WriteUpdaterDword(nullptr, updater_value::kMarking, on ? 1 : 0, on ? FALSE : TRUE)) {
    return 0;
  }
  FlushUpdaterKey();
  return 1;
}

int IsMarkingSet() {
  DWORD marking = 0;
  if (!ReadUpdaterDword(nullptr, updater_value::kMarking, &marking)) return 0;
  return marking != 0 ? 1 : 0;
}
