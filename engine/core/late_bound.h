// The system functions the updater uses that Windows XP and Server 2003 do not have, bound when
// first called instead of imported. A program that imports a function its system lacks is not
// even loaded: bound this way, the updater starts on those systems far enough to say that they
// are too old. Each function has the signature of the system's; where the system lacks it, it
// fails as the system's would fail, with ERROR_PROC_NOT_FOUND in GetLastError() (the registry
// function returns that code). The program refuses such systems before it relies on any of them.
#ifndef ENGINE_CORE_LATE_BOUND_H_
#define ENGINE_CORE_LATE_BOUND_H_

#include <windows.h>

namespace late {

int CompareStringOrdinal(const wchar_t* first, int firstLength, const wchar_t* second,
                         int secondLength, BOOL ignoreCase);
DWORD GetFinalPathNameByHandleA(HANDLE file, char* path, DWORD size, DWORD flags);
DWORD GetFinalPathNameByHandleW(HANDLE file, wchar_t* path, DWORD size, DWORD flags);
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* information,
                                  DWORD size);
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* information,
                                DWORD size);
BOOL GetVolumeInformationByHandleW(HANDLE file, wchar_t* name, DWORD nameSize, DWORD* serial,
                                   DWORD* componentLength, DWORD* flags, wchar_t* fileSystem,
                                   DWORD fileSystemSize);
BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* path, DWORD* size);
LONG RegDeleteTreeW(HKEY key, const wchar_t* subKey);
LONG RegLoadAppKeyW(const wchar_t* file, HKEY* key, REGSAM access, DWORD options, DWORD reserved);

}  // namespace late

#endif  // ENGINE_CORE_LATE_BOUND_H_
