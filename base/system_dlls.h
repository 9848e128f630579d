// Where the programs take their DLLs from. The updater runs with administrator rights from
// wherever the user put it (typically the Downloads folder, which the user's programs can write),
// and Windows looks for a DLL in the program's own folder first: a DLL placed there would run with
// those rights. So the search is narrowed to the system folder before anything else happens, and
// a DLL that is not one of the system's known DLLs is loaded by its full path in the system folder
// instead of being imported.
//
// Header-only and free of the C runtime, so that the launcher (no runtime, no default libraries)
// uses the same code.
#ifndef BASE_SYSTEM_DLLS_H_
#define BASE_SYSTEM_DLLS_H_

#include <windows.h>

namespace base {

// SetDefaultDllDirectories of this system, or NULL where it is missing (Windows Vista, and
// Windows 7 without the update that brought it). Where it exists, LoadLibraryEx also understands
// the LOAD_LIBRARY_SEARCH_* flags.
inline FARPROC FindSetDefaultDllDirectories() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
}

// Restricts every later DLL search of the process (LoadLibrary by name, the DLLs a loaded DLL
// imports, the DLLs system libraries load on demand) to the system folder. Where the system cannot
// do that, it takes the current folder out of the search instead (SetDllDirectory("")); the
// program's own folder then stays searched, which is why LoadSystemLibrary loads by full path.
// True when the search is restricted to the system folder; on false GetLastError tells why.
// Call it first thing, before any window and any LoadLibrary. What the program imports is loaded
// before it runs: its imports are the system's known DLLs only (and COMCTL32, bound side by side).
inline bool RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(FindSetDefaultDllDirectories()));
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  SetDllDirectoryA("");
  if (setDefault == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return false;
}

// Loads the named DLL (a bare file name such as "version.dll") from the system folder by its full
// path, its own imports searched in the system folder only where the system supports that. NULL
// with the Win32 error when it cannot be loaded; the caller frees the module.
inline HMODULE LoadSystemLibrary(const char* fileName) {
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0) return nullptr;
  // The system folder has no trailing backslash and is never a drive root.
  const char* source = fileName;
  if (length < MAX_PATH) path[length++] = '\\';
  while (length < MAX_PATH && *source != '\0') path[length++] = *source++;
  if (length >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[length] = '\0';
  const DWORD flags = FindSetDefaultDllDirectories() != nullptr ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0;
  return LoadLibraryExA(path, nullptr, flags);
}

}  // namespace base

#endif  // BASE_SYSTEM_DLLS_H_
