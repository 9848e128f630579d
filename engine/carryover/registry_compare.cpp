#include "engine/carryover/registry_compare.h"

#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/carryover/registry_copy.h"

namespace {

// Registry value names are at most 16,383 characters, key names 255.
constexpr DWORD kValueNameChars = 16384;
constexpr DWORD kKeyNameChars = 256;

// The value's type and data; false when it cannot be read.
bool ReadValue(HKEY key, const wchar_t* name, DWORD* type, base::HeapArray<BYTE>* data) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(data->size());
    const LONG result = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
    if (result == ERROR_SUCCESS) {
      data->resize(size);
      return true;
    }
    if (result != ERROR_MORE_DATA) return false;
    data->resize(size);
  }
  return false;
}

bool SameBytes(const base::HeapArray<BYTE>& a, const base::HeapArray<BYTE>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Opens a subkey without following a link; a link counts as not holding anything.
bool OpenPlainSubkey(HKEY parent, const wchar_t* name, base::ScopedRegKey* key) {
  return RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, KEY_READ, key->receive()) ==
             ERROR_SUCCESS &&
         !IsRegistryLink(key->get());
}

bool Holds(HKEY live, HKEY saved, int depth) {
  if (depth > kMaxCopyDepth) return false;
  base::HeapArray<wchar_t> name(kValueNameChars);
  base::HeapArray<BYTE> savedData(256), liveData(256);
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = kValueNameChars;
    const LONG result =
        RegEnumValueW(saved, index, name.data(), &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) return false;
    DWORD savedType = REG_NONE, liveType = REG_NONE;
    if (!ReadValue(saved, name.data(), &savedType, &savedData) ||
        !ReadValue(live, name.data(), &liveType, &liveData) || savedType != liveType ||
        !SameBytes(savedData, liveData)) {
      return false;
    }
  }
  for (DWORD index = 0;; ++index) {
    wchar_t subkey[kKeyNameChars];
    DWORD nameChars = kKeyNameChars;
    const LONG result =
        RegEnumKeyExW(saved, index, subkey, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) return false;
    base::ScopedRegKey savedSub, liveSub;
    if (!OpenPlainSubkey(saved, subkey, &savedSub) || !OpenPlainSubkey(live, subkey, &liveSub) ||
        !Holds(liveSub.get(), savedSub.get(), depth + 1)) {
      return false;
    }
  }
}

}  // namespace

bool KeyHoldsSavedCopy(HKEY live, HKEY saved) { return Holds(live, saved, 0); }
