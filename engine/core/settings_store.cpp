#include "engine/core/settings_store.h"

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

bool OpenOrCreate(const char* suffix, REGSAM access, base::ScopedRegKey& key) {
  char path[kKeyPathSize];
  if (!BuildKeyPath(suffix, path)) return false;
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

int FlushUpdaterKey() {
  base::ScopedRegKey key;
  if (!OpenForQuery(nullptr, key)) return 0;
  return RegFlushKey(key.get()) == ERROR_SUCCESS ? 1 : 0;
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
