#include "engine/carryover/registry_compare.h"

#include "base/heap_text.h"
#include "base/scoped.h"

namespace {

// Registry value names are at most 16,383 characters, key names 255.
constexpr DWORD kValueNameSize = 16384;
constexpr DWORD kKeyNameSize = 256;

// The value's type and data; false when it cannot be read.
bool ReadValue(HKEY key, const char* name, DWORD* type, base::Text* data) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(data->size());
    const LONG result = RegQueryValueExA(key, name, nullptr, type,
                                         reinterpret_cast<BYTE*>(&(*data)[0]), &size);
    if (result == ERROR_SUCCESS) {
      data->resize(size);
      return true;
    }
    if (result != ERROR_MORE_DATA) return false;
    data->resize(size);
  }
  return false;
}

}  // namespace

bool KeyHoldsSavedCopy(HKEY live, HKEY saved) {
  base::Text name(kValueNameSize, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = kValueNameSize;
    const LONG result =
        RegEnumValueA(saved, index, &name[0], &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) return false;
    DWORD savedType = REG_NONE, liveType = REG_NONE;
    base::Text savedData(256, '\0'), liveData(256, '\0');
    if (!ReadValue(saved, name.c_str(), &savedType, &savedData) ||
        !ReadValue(live, name.c_str(), &liveType, &liveData) || savedType != liveType ||
        savedData != liveData) {
      return false;
    }
  }
  for (DWORD index = 0;; ++index) {
    char subkey[kKeyNameSize];
    DWORD nameSize = sizeof(subkey);
    const LONG result =
        RegEnumKeyExA(saved, index, subkey, &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) return false;
    base::ScopedRegKey savedSub, liveSub;
    if (RegOpenKeyExA(saved, subkey, 0, KEY_READ, savedSub.receive()) != ERROR_SUCCESS ||
        RegOpenKeyExA(live, subkey, 0, KEY_READ, liveSub.receive()) != ERROR_SUCCESS ||
        !KeyHoldsSavedCopy(liveSub.get(), savedSub.get())) {
      return false;
    }
  }
}
