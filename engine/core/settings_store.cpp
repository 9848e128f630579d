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
  if (RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &current,
                        &size) != ERROR_SUCCESS) {
    return false;
  }
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(&current, &owner, &defaulted) || owner == nullptr ||
      (!IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
       !IsWellKnownSid(owner, WinLocalSystemSid))) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(&current, &control, &revision) ||
      (control & SE_DACL_PROTECTED) == 0) {
    return false;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  PACL wantedDacl = nullptr;
  if (!GetSecurityDescriptorDacl(&current, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr || !GetSecurityDescriptorDacl(wanted, &present, &wantedDacl, &defaulted) ||
      dacl->AceCount != wantedDacl->AceCount) {
    return false;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    void* wantedAce = nullptr;
    if (!GetAce(dacl, index, &ace) || !GetAce(wantedDacl, index, &wantedAce)) return false;
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
    result = RegCreateKeyExW(parent, name, 0, nullptr,
                             REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                             access | KEY_QUERY_VALUE, attributes, key.receive(), disposition);
  } else {
    result = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access | KEY_QUERY_VALUE,
                           key.receive());
  }
  if (result != ERROR_SUCCESS) return result;
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
    if (length >= kKeyNameChars) return ERROR_INVALID_NAME;
    if (length > 0) {
      memcpy(part, name, length * sizeof(wchar_t));
      part[length] = L'\0';
      const bool last = *end == L'\0';
      base::ScopedRegKey next;
      const LONG result = OpenLevel(at, part, last ? access : KEY_CREATE_SUB_KEY, create, nullptr,
                                    next, nullptr);
      if (result != ERROR_SUCCESS) return result;
      current = std::move(next);
      at = current.get();
    }
    name = *end == L'\0' ? end : end + 1;
  }
  key = std::move(current);
  return key ? ERROR_SUCCESS : ERROR_INVALID_NAME;
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
    if (RegCreateKeyExW(HKEY_CURRENT_USER, probe, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ,
                        nullptr, key.receive(), nullptr) == ERROR_SUCCESS) {
      DWORD readSize = sizeof(reported);
      if (RegGetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            reported, &readSize) == ERROR_SUCCESS) {
        reportedSize = readSize;
      }
      key.reset();
      RegDeleteKeyW(HKEY_CURRENT_USER, probe);
    }
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
  if (RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &current,
                        &size) != ERROR_SUCCESS) {
    return false;
  }
  if (IsWineDefaultDescriptor(&current, size)) return true;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorOwner(&current, &owner, &defaulted) ||
      !IsAdministratorsOrSystem(owner) ||
      !GetSecurityDescriptorDacl(&current, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return false;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace)) return false;
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
    if (listed != ERROR_SUCCESS || depth + 1 > kMaxTrustDepth) return false;
    base::ScopedRegKey subkey;
    if (RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK,
                      READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                      subkey.receive()) != ERROR_SUCCESS ||
        IsLink(subkey.get())) {
      RunLogWrite("updater key: %ls\\%ls is a link or cannot be read", path, name);
      return false;
    }
    if (!IsTrustedTree(subkey.get(), name, depth + 1)) return false;
  }
}

using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);

// Deletes parent\name with everything below it, one key at a time by its own handle opened
// without following links: a link below is deleted as the link it is, never its target.
LONG DeleteTreeWithoutLinks(HKEY parent, const wchar_t* name, int depth) {
  static const auto deleteKey = reinterpret_cast<NtDeleteKeyFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
  if (deleteKey == nullptr) return ERROR_PROC_NOT_FOUND;
  if (depth > kMaxTrustDepth) return ERROR_STACK_OVERFLOW;
  base::ScopedRegKey key;
  LONG result = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK,
                              DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.receive());
  if (result != ERROR_SUCCESS) return result;
  if (!IsLink(key.get())) {
    for (;;) {
      wchar_t child[kKeyNameChars];
      DWORD childChars = kKeyNameChars;
      result = RegEnumKeyExW(key.get(), 0, child, &childChars, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_NO_MORE_ITEMS) break;
      if (result != ERROR_SUCCESS) return result;
      result = DeleteTreeWithoutLinks(key.get(), child, depth + 1);
      if (result != ERROR_SUCCESS) return result;
    }
  }
  return deleteKey(key.get()) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The vendor key ("SOFTWARE\KORVANE SYSTEMS,INC.") and the updater key's own name below it.
bool SplitUpdaterKeyPath(wchar_t (&vendor)[kKeyPathSize], const wchar_t** own) {
  if (MultiByteToWideChar(CP_ACP, 0, product::kUpdaterKey, -1, vendor, kKeyPathSize) == 0) {
    return false;
  }
  wchar_t* last = nullptr;
  for (wchar_t* at = vendor; *at != L'\0'; ++at) {
    if (*at == L'\\') last = at;
  }
  if (last == nullptr) return false;
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
    return static_cast<LONG>(GetLastError());
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
  SetSecurityInfo(key.get(), SE_REGISTRY_KEY,
                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                      PROTECTED_DACL_SECURITY_INFORMATION,
                  owner, nullptr, dacl, nullptr);
  result = RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                             descriptor);
  if (result == ERROR_SUCCESS && !HasAdminOnlyDescriptor(key.get(), descriptor)) {
    result = ERROR_ACCESS_DENIED;
  }
  if (result != ERROR_SUCCESS) key.reset();
  return result;
}

// The updater key (opened or made as above), then the suffix's names below it, each without
// following a link; a subkey made below inherits the key's descriptor.
LONG OpenChecked(const char* suffix, REGSAM access, bool create, base::ScopedRegKey& key) {
  char path[kKeyPathSize];
  if (!BuildKeyPath(suffix, path)) return ERROR_FILENAME_EXCED_RANGE;
  const bool below = suffix != nullptr && suffix[0] != '\0';
  LONG result = OpenUpdaterKeyItself(below ? KEY_CREATE_SUB_KEY : access, create, key);
  if (result != ERROR_SUCCESS || !below) return result;
  wchar_t wideSuffix[kKeyPathSize];
  if (MultiByteToWideChar(CP_ACP, 0, suffix, -1, wideSuffix, kKeyPathSize) == 0) {
    key.reset();
    return ERROR_INVALID_NAME;
  }
  base::ScopedRegKey updater = std::move(key);
  return OpenPath(updater.get(), wideSuffix, access, create, key);
}

bool OpenForQuery(const char* suffix, base::ScopedRegKey& key) {
  return OpenChecked(suffix, KEY_QUERY_VALUE, false, key) == ERROR_SUCCESS;
}

bool OpenOrCreate(const char* suffix, REGSAM access, base::ScopedRegKey& key) {
  return OpenChecked(suffix, access, true, key) == ERROR_SUCCESS;
}

}  // namespace

int HasUpdaterValue(const char* valueName) {
  base::ScopedRegKey key;
  if (!OpenForQuery(nullptr, key)) return 0;
  return RegQueryValueExA(key.get(), valueName, nullptr, nullptr, nullptr, nullptr) ==
                 ERROR_SUCCESS
             ? 1
             : 0;
}

int ReadUpdaterDword(const char* suffix, const char* valueName, DWORD* value) {
  base::ScopedRegKey key;
  if (value == nullptr || !OpenForQuery(suffix, key)) return 0;
  DWORD size = sizeof(DWORD);
  DWORD data = 0;
  if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                       &size) != ERROR_SUCCESS) {
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
  if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                       &size) != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return 0;
  }
  return base::TerminateRegistryString(buffer, bufferSize, size) ? 1 : 0;
}

int WriteUpdaterDword(const char* suffix, const char* valueName, DWORD value, BOOL remove) {
  base::ScopedRegKey key;
  if (!OpenOrCreate(suffix, KEY_SET_VALUE, key)) return 0;
  if (remove) {
    RegDeleteValueA(key.get(), valueName);
    return 1;
  }
  return RegSetValueExA(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

int WriteUpdaterString(const char* suffix, const char* valueName, const char* text) {
  base::ScopedRegKey key;
  if (!OpenOrCreate(suffix, KEY_ALL_ACCESS, key)) return 0;
  if (text == nullptr) {
    RegDeleteValueA(key.get(), valueName);
    return 1;
  }
  const DWORD bytes = static_cast<DWORD>(lstrlenA(text)) + 1;
  return RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        bytes) == ERROR_SUCCESS;
}

int DeleteUpdaterKey() {
  wchar_t vendorPath[kKeyPathSize];
  const wchar_t* own = nullptr;
  base::ScopedRegKey vendor;
  return SplitUpdaterKeyPath(vendorPath, &own) &&
                 OpenPath(HKEY_LOCAL_MACHINE, vendorPath, KEY_ENUMERATE_SUB_KEYS, false,
                          vendor) == ERROR_SUCCESS &&
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
  if (!OpenOrCreate(nullptr, KEY_ALL_ACCESS, opened)) return 0;
  *key = opened.release();
  return 1;
}

int FlushUpdaterKey() {
  base::ScopedRegKey key;
  LONG result = OpenChecked(nullptr, KEY_QUERY_VALUE, false, key);
  if (result == ERROR_SUCCESS) result = RegFlushKey(key.get());
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
