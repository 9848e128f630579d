#include "engine/core/names.h"

#include "engine/core/late_bound.h"

base::WideText ToWide(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (length <= 0) return base::WideText();
  base::WideText wide(static_cast<size_t>(length - 1), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length) != length) {
    return base::WideText();
  }
  return wide;
}

base::Text ToAnsi(const wchar_t* text, bool* exact) {
  BOOL defaulted = FALSE;
  const int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &defaulted);
  if (exact != nullptr) *exact = length > 0 && !defaulted;
  if (length <= 0) return base::Text();
  base::Text ansi(static_cast<size_t>(length - 1), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, &ansi[0], length, nullptr, nullptr);
  return ansi;
}

bool SameName(const wchar_t* a, const wchar_t* b) {
  return late::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool SameName(const char* a, const char* b) {
  const base::WideText wideA = ToWide(a);
  const base::WideText wideB = ToWide(b);
  return (!wideA.empty() || a[0] == '\0') && (!wideB.empty() || b[0] == '\0') &&
         SameName(wideA.c_str(), wideB.c_str());
}

bool SameNamePrefix(const wchar_t* a, const wchar_t* b, int length) {
  return lstrlenW(a) >= length && lstrlenW(b) >= length &&
         late::CompareStringOrdinal(a, length, b, length, TRUE) == CSTR_EQUAL;
}

bool IsUnder(const wchar_t* path, const wchar_t* folder) {
  int length = lstrlenW(folder);
  while (length > 0 && folder[length - 1] == L'\\') --length;  // "C:\" is the folder "C:"
  if (length == 0 || !SameNamePrefix(path, folder, length)) return false;
  return path[length] == L'\0' || path[length] == L'\\';
}

bool IsUnder(const char* path, const char* folder) {
  const base::WideText widePath = ToWide(path);
  const base::WideText wideFolder = ToWide(folder);
  return !widePath.empty() && IsUnder(widePath.c_str(), wideFolder.c_str());
}
