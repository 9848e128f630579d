#include "engine/core/settings_store.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/product_constants.h"

namespace {

constexpr size_t kKeyPathSize = 256;

// Key path + suffix; false when the combination does not fit.
bool BuildKeyPath(const char* suffix, char (&path)[kKeyPathSize]) {
  return base::CopyBounded(path, sizeof(path), product::kUpdaterKey) &&
         (suffix == nullptr || base::AppendBounded(path, sizeof(path), suffix));
}

bool OpenForQuery(const char* suffix, base::ScopedRegKey& key) {
  char path[kKeyPathSize];
  if (!BuildKeyPath(suffix, path)) return false;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key.receive()) == ERROR_SUCCESS;
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

// Opens or creates the updater key itself with the admin-only descriptor. A key that exists with
// another owner or DACL (made by an older release, or by somebody else) gets the descriptor anew:
// SetSecurityInfo carries the inheritable entries down to the subkeys already there, and
// RegSetKeySecurity then sets the descriptor exactly as given (some systems drop the protection
// in the first).
bool CreateAdminOnlyKey(REGSAM access, base::ScopedRegKey& key) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlyDescriptor, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  base::ScopedLocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  wchar_t path[kKeyPathSize];
  if (MultiByteToWideChar(CP_ACP, 0, product::kUpdaterKey, -1, path, kKeyPathSize) == 0 ||
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      access | READ_CONTROL | WRITE_DAC | WRITE_OWNER, &attributes, key.receive(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  if (HasAdminOnlyDescriptor(key.get(), descriptor)) return true;
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
  return RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                           descriptor) == ERROR_SUCCESS &&
         HasAdminOnlyDescriptor(key.get(), descriptor);
}

// The updater key is always made (or checked) first, so that a subkey made below it inherits its
// descriptor.
bool OpenOrCreate(const char* suffix, REGSAM access, base::ScopedRegKey& key) {
  char path[kKeyPathSize];
  if (!BuildKeyPath(suffix, path)) return false;
  if (!CreateAdminOnlyKey(access, key)) return false;
  if (suffix == nullptr) return true;
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                         nullptr, key.receive(), nullptr) == ERROR_SUCCESS;
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
  return SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUpdaterKey) == ERROR_SUCCESS;
}

int OpenOrCreateUpdaterKey(HKEY* key) {
  base::ScopedRegKey opened;
  if (!OpenOrCreate(nullptr, KEY_ALL_ACCESS, opened)) return 0;
  *key = opened.release();
  return 1;
}

int FlushUpdaterKey() {
  base::ScopedRegKey key;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUpdaterKey, 0, KEY_QUERY_VALUE,
                              key.receive());
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
