#include "engine/core/late_bound.h"

namespace {

// The function of a DLL the program imports anyway (so it is loaded), or NULL.
template <typename Function>
Function Find(const wchar_t* dll, const char* name) {
  const HMODULE module = GetModuleHandleW(dll);
  return module != nullptr
             ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
             : nullptr;
}

template <typename Result>
Result Missing(Result failure) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return failure;
}

// decltype of the system's own declaration: the type only, never a reference to its import.
#define LATE_BOUND(dll, function) \
  static const auto bound = Find<decltype(&::function)>(dll, #function)

}  // namespace

namespace late {

int CompareStringOrdinal(const wchar_t* first, int firstLength, const wchar_t* second,
                         int secondLength, BOOL ignoreCase) {
  LATE_BOUND(L"kernel32.dll", CompareStringOrdinal);
  if (bound == nullptr) return Missing(0);
  return bound(first, firstLength, second, secondLength, ignoreCase);
}

DWORD GetFinalPathNameByHandleA(HANDLE file, char* path, DWORD size, DWORD flags) {
  LATE_BOUND(L"kernel32.dll", GetFinalPathNameByHandleA);
  if (bound == nullptr) return Missing<DWORD>(0);
  return bound(file, path, size, flags);
}

DWORD GetFinalPathNameByHandleW(HANDLE file, wchar_t* path, DWORD size, DWORD flags) {
  LATE_BOUND(L"kernel32.dll", GetFinalPathNameByHandleW);
  if (bound == nullptr) return Missing<DWORD>(0);
  return bound(file, path, size, flags);
}

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* information,
                                  DWORD size) {
  LATE_BOUND(L"kernel32.dll", GetFileInformationByHandleEx);
  if (bound == nullptr) return Missing<BOOL>(FALSE);
  return bound(file, kind, information, size);
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* information,
                                DWORD size) {
  LATE_BOUND(L"kernel32.dll", SetFileInformationByHandle);
  if (bound == nullptr) return Missing<BOOL>(FALSE);
  return bound(file, kind, information, size);
}

BOOL GetVolumeInformationByHandleW(HANDLE file, wchar_t* name, DWORD nameSize, DWORD* serial,
                                   DWORD* componentLength, DWORD* flags, wchar_t* fileSystem,
                                   DWORD fileSystemSize) {
  LATE_BOUND(L"kernel32.dll", GetVolumeInformationByHandleW);
  if (bound == nullptr) return Missing<BOOL>(FALSE);
  return bound(file, name, nameSize, serial, componentLength, flags, fileSystem, fileSystemSize);
}

BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* path, DWORD* size) {
  LATE_BOUND(L"kernel32.dll", QueryFullProcessImageNameW);
  if (bound == nullptr) return Missing<BOOL>(FALSE);
  return bound(process, flags, path, size);
}

LONG RegDeleteTreeW(HKEY key, const wchar_t* subKey) {
  LATE_BOUND(L"advapi32.dll", RegDeleteTreeW);
  if (bound == nullptr) return ERROR_PROC_NOT_FOUND;
  return bound(key, subKey);
}

LONG RegLoadAppKeyW(const wchar_t* file, HKEY* key, REGSAM access, DWORD options, DWORD reserved) {
  LATE_BOUND(L"advapi32.dll", RegLoadAppKeyW);
  if (bound == nullptr) return ERROR_PROC_NOT_FOUND;
  return bound(file, key, access, options, reserved);
}

}  // namespace late
