#include "engine/carryover/registry_copy.h"

#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/run_log.h"

namespace {

// Registry value names are at most 16,383 characters, key names 255.
constexpr DWORD kValueNameChars = 16384;
constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";

base::WideText Join(const base::WideText& path, const wchar_t* name) {
  return path.empty() ? base::WideText(name) : path + L"\\" + name;
}

// Opens a subkey itself, never what it links to. ERROR_SUCCESS; kErrorRegistryLink for a link.
LONG OpenSubkeyWithoutLink(HKEY parent, const wchar_t* name, REGSAM access,
                           base::ScopedRegKey* key) {
  const LONG result = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, key->receive());
  if (result != ERROR_SUCCESS) return result;
  return IsRegistryLink(key->get()) ? kErrorRegistryLink : ERROR_SUCCESS;
}

// The value's type and data; false when it cannot be read.
bool ReadWholeValue(HKEY key, const wchar_t* name, DWORD* type, base::HeapArray<BYTE>* data) {
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

// The comparison by the copy's rule: wide names, no link followed, the same bounds.
class KeyTreeCompare {
 public:
  KeyTreeCompare() : name_(kValueNameChars), savedData_(256), liveData_(256) {}

  bool Holds(HKEY live, HKEY saved, int depth) {
    if (depth > kMaxCopyDepth) return false;
    for (DWORD index = 0;; ++index) {
      DWORD nameChars = kValueNameChars;
      const LONG result =
          RegEnumValueW(saved, index, name_.data(), &nameChars, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_NO_MORE_ITEMS) break;
      if (result != ERROR_SUCCESS) return false;
      DWORD savedType = REG_NONE, liveType = REG_NONE;
      if (!ReadWholeValue(saved, name_.data(), &savedType, &savedData_) ||
          !Count((nameChars + 1) * sizeof(wchar_t) + savedData_.size()) ||
          !ReadWholeValue(live, name_.data(), &liveType, &liveData_) || savedType != liveType ||
          !SameBytes(savedData_, liveData_)) {
        return false;
      }
    }
    // A link, on either side, holds nothing.
    return ForEachSubkey(saved, [&](const wchar_t* subkey) -> LONG {
             base::ScopedRegKey savedSub, liveSub;
             const bool held =
                 Count((lstrlenW(subkey) + 1) * sizeof(wchar_t)) &&
                 OpenSubkeyWithoutLink(saved, subkey, KEY_READ, &savedSub) == ERROR_SUCCESS &&
                 OpenSubkeyWithoutLink(live, subkey, KEY_READ, &liveSub) == ERROR_SUCCESS &&
                 Holds(liveSub.get(), savedSub.get(), depth + 1);
             return held ? ERROR_SUCCESS : ERROR_CANCELLED;
           }) == ERROR_SUCCESS;
  }

 private:
  bool Count(size_t bytes) {
    total_ += bytes;
    return total_ <= kMaxCopyBytes;
  }

  base::HeapArray<wchar_t> name_;
  base::HeapArray<BYTE> savedData_, liveData_;
  unsigned long long total_ = 0;
};

}  // namespace

bool IsRegistryLink(HKEY key) {
  DWORD type = REG_NONE;
  return RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

LONG OpenKeyWithoutLinks(HKEY root, const wchar_t* path, REGSAM access, bool create, HKEY* key) {
  *key = nullptr;
  base::ScopedRegKey current;
  HKEY parent = root;
  for (const wchar_t* name = path; *name != L'\0';) {
    const wchar_t* end = name;
    while (*end != L'\0' && *end != L'\\') ++end;
    const base::WideText part(name, end);
    name = *end == L'\\' ? end + 1 : end;
    const bool last = *name == L'\0';
    const REGSAM partAccess =
        (last ? access : KEY_ENUMERATE_SUB_KEYS | KEY_CREATE_SUB_KEY) | KEY_QUERY_VALUE;
    base::ScopedRegKey next;
    const LONG result = create ? RegCreateKeyExW(parent, part.c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                                                 partAccess, nullptr, next.receive(), nullptr)
                               : RegOpenKeyExW(parent, part.c_str(), REG_OPTION_OPEN_LINK,
                                               partAccess, next.receive());
    if (result != ERROR_SUCCESS) return result;
    if (IsRegistryLink(next.get())) return kErrorRegistryLink;
    current = std::move(next);
    parent = current.get();
  }
  if (!current) return ERROR_INVALID_PARAMETER;
  *key = current.release();
  return ERROR_SUCCESS;
}

KeyTreeCopy::KeyTreeCopy(CopyRule rule) : rule_(rule), valueName_(kValueNameChars) {}

LONG KeyTreeCopy::Copy(HKEY source, HKEY target) {
  total_ = 0;
  path_.clear();
  added_.clear();
  return CopyKey(source, target, 0);
}

LONG KeyTreeCopy::Count(size_t bytes) {
  total_ += bytes;
  return total_ > kMaxCopyBytes ? ERROR_FILE_TOO_LARGE : ERROR_SUCCESS;
}

LONG KeyTreeCopy::CopyValues(HKEY source, HKEY target) {
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = kValueNameChars;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    LONG result = RegEnumValueW(source, index, valueName_.data(), &nameChars, nullptr, &type,
                                nullptr, &bytes);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    if (type == REG_LINK) continue;
    const wchar_t* name = valueName_.data();
    if ((result = Count((nameChars + 1) * sizeof(wchar_t) + bytes)) != ERROR_SUCCESS) return result;

    if (rule_ == CopyRule::kKeepTarget) {
      result = RegQueryValueExW(target, name, nullptr, nullptr, nullptr, nullptr);
      if (result == ERROR_SUCCESS) continue;  // the saved value stays
      if (result != ERROR_FILE_NOT_FOUND) return result;
    }
    // The value may grow between the enumeration and the read: read again at its new size.
    for (int attempt = 0;; ++attempt) {
      data_.resize(bytes + 1);
      DWORD read = bytes;
      result = RegQueryValueExW(source, name, nullptr, &type, data_.data(), &read);
      if (result == ERROR_SUCCESS) {
        bytes = read;
        break;
      }
      if (result != ERROR_MORE_DATA || attempt == 3) return result;
      if (read > kMaxCopyBytes) return ERROR_FILE_TOO_LARGE;
      bytes = read;
    }
    if (rule_ == CopyRule::kKeepTarget) added_.emplace_back(path_, name);
    result = RegSetValueExW(target, name, 0, type, data_.data(), bytes);
    if (result != ERROR_SUCCESS) return result;
  }
}

LONG KeyTreeCopy::CopyKey(HKEY source, HKEY target, int depth) {
  const LONG result = CopyValues(source, target);
  if (result != ERROR_SUCCESS) return result;
  return ForEachSubkey(source, [&](const wchar_t* name) -> LONG {
    return CopySubkey(source, target, name, depth + 1);
  });
}

LONG KeyTreeCopy::CopySubkey(HKEY source, HKEY target, const wchar_t* name, int depth) {
  if (depth > kMaxCopyDepth) return ERROR_STACK_OVERFLOW;
  LONG result = Count((lstrlenW(name) + 1) * sizeof(wchar_t));
  if (result != ERROR_SUCCESS) return result;
  base::ScopedRegKey from;
  result = OpenSubkeyWithoutLink(source, name, KEY_READ, &from);
  if (result == kErrorRegistryLink) {
    RunLogWrite("copy: the registry link %ls is not followed", Join(path_, name).c_str());
    return ERROR_SUCCESS;
  }
  if (result != ERROR_SUCCESS) return result;
  base::ScopedRegKey to;
  DWORD disposition = 0;
  result = RegCreateKeyExW(target, name, 0, nullptr, REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                           KEY_READ | KEY_WRITE, nullptr, to.receive(), &disposition);
  if (result != ERROR_SUCCESS) return result;
  if (IsRegistryLink(to.get())) {
    RunLogWrite("copy: nothing is written through the registry link %ls",
                Join(path_, name).c_str());
    return ERROR_SUCCESS;
  }
  const base::WideText outer = path_;
  path_ = Join(outer, name);
  const bool created = disposition == REG_CREATED_NEW_KEY;
  if (rule_ == CopyRule::kKeepTarget && created) added_.emplace_back(path_, L"");
  // Below a subkey that this copy created, everything is added: it goes with the subkey.
  const CopyRule rule = rule_;
  if (created) rule_ = CopyRule::kOverwrite;
  result = CopyKey(from.get(), to.get(), depth);
  rule_ = rule;
  path_ = outer;
  return result;
}

bool KeyHoldsSavedCopy(HKEY live, HKEY saved) { return KeyTreeCompare().Holds(live, saved, 0); }

void KeyTreeCopy::UndoAdditions(HKEY target) {
  for (size_t i = added_.size(); i-- > 0;) {
    const auto* entry = &added_[i];
    if (entry->second.empty()) {
      late::RegDeleteTreeW(target, entry->first.c_str());
      RegDeleteKeyW(target, entry->first.c_str());
      continue;
    }
    base::ScopedRegKey key;
    if (entry->first.empty()) {
      RegDeleteValueW(target, entry->second.c_str());
    } else if (RegOpenKeyExW(target, entry->first.c_str(), 0, KEY_SET_VALUE, key.receive()) ==
               ERROR_SUCCESS) {
      RegDeleteValueW(key.get(), entry->second.c_str());
    }
  }
  added_.clear();
}
