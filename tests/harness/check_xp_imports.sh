#!/usr/bin/env bash
# Checks that every function a program imports is one that Windows XP SP3 (and Server 2003)
# exports: a program that imports a function its system lacks is not loaded at all, so it could
# not even say that the system is too old. Functions of later systems are bound at run time
# (engine/core/late_bound.h). The list below holds the functions of XP SP3 the programs use;
# a new import fails here until it is checked against XP SP3 and added.
# Usage: check_xp_imports.sh <objdump> <exe> [<exe> ...]
set -eu
objdump=$1; shift
known=$(cat <<'LIST'
advapi32.dll AdjustTokenPrivileges ConvertStringSecurityDescriptorToSecurityDescriptorA
advapi32.dll ConvertSidToStringSidW LookupAccountSidA RegSaveKeyA
kernel32.dll SystemTimeToFileTime CreateFileMappingW IsProcessInJob MapViewOfFile TerminateJobObject
kernel32.dll UnmapViewOfFile
msvcrt.dll _vsnprintf realloc strstr wcscmp
user32.dll GetMessageTime InSendMessage IsWindowEnabled
advapi32.dll ConvertStringSecurityDescriptorToSecurityDescriptorW ConvertStringSidToSidA CopySid
advapi32.dll CreateWellKnownSid CryptAcquireContextA CryptGenRandom CryptReleaseContext EqualSid
advapi32.dll GetAce GetLengthSid GetNamedSecurityInfoA GetNamedSecurityInfoW
advapi32.dll GetSecurityDescriptorControl GetSecurityDescriptorDacl GetSecurityDescriptorOwner
advapi32.dll GetSecurityInfo GetTokenInformation IsValidSid IsWellKnownSid LookupPrivilegeValueW
advapi32.dll OpenProcessToken RegCloseKey RegCreateKeyExA RegCreateKeyExW RegDeleteKeyW
advapi32.dll RegDeleteValueA RegDeleteValueW RegEnumKeyExA RegEnumKeyExW RegEnumValueA
advapi32.dll RegEnumValueW RegFlushKey RegGetKeySecurity RegLoadKeyW RegOpenKeyExA RegOpenKeyExW
advapi32.dll RegQueryInfoKeyA RegQueryInfoKeyW RegQueryValueExA RegQueryValueExW
advapi32.dll RegSetKeySecurity RegSetValueExA RegSetValueExW RegUnLoadKeyW SetSecurityInfo
comctl32.dll InitCommonControls PropertySheetA
gdi32.dll DeleteObject
kernel32.dll AssignProcessToJobObject CloseHandle CompareFileTime CompareStringA CompareStringW
kernel32.dll CreateDirectoryA CreateFileA CreateFileW CreateIoCompletionPort CreateJobObjectA
kernel32.dll CreateMutexA CreateMutexW CreateProcessA CreateThread CreateToolhelp32Snapshot
kernel32.dll DeleteCriticalSection DeleteFileA DeleteFileW EnterCriticalSection ExitProcess
kernel32.dll ExpandEnvironmentStringsW FileTimeToLocalFileTime FileTimeToSystemTime FindClose
kernel32.dll FindFirstFileA FindNextFileA FindResourceA FlushFileBuffers FormatMessageA
kernel32.dll FormatMessageW FreeLibrary GetCommandLineW GetCurrentProcess GetCurrentProcessId
kernel32.dll GetCurrentThreadId GetDiskFreeSpaceExA GetEnvironmentVariableA GetExitCodeProcess
kernel32.dll GetFileAttributesA GetFileAttributesExA GetFileAttributesExW GetFileAttributesW
kernel32.dll GetFileInformationByHandle
kernel32.dll GetFileSizeEx GetFullPathNameA GetFullPathNameW GetLastError GetLocalTime
kernel32.dll GetModuleFileNameA GetModuleFileNameW GetModuleHandleA GetModuleHandleW
kernel32.dll GetProcAddress GetProcessHeap GetProcessTimes GetQueuedCompletionStatus
kernel32.dll GetStartupInfoA GetSystemDirectoryA GetSystemWindowsDirectoryA GetTickCount
kernel32.dll GetVersionExA GetVolumePathNameA GetWindowsDirectoryA GlobalFree HeapAlloc HeapFree
kernel32.dll HeapReAlloc InitializeCriticalSection IsDBCSLeadByte IsDBCSLeadByteEx
kernel32.dll LeaveCriticalSection LoadLibraryA LoadLibraryExA LoadResource LocalFree LockResource
kernel32.dll MoveFileExA MoveFileExW MultiByteToWideChar OpenProcess Process32FirstW
kernel32.dll Process32NextW ProcessIdToSessionId QueryInformationJobObject ReadFile
kernel32.dll RemoveDirectoryA ResumeThread SetDllDirectoryA SetEnvironmentVariableA
kernel32.dll SetFileAttributesA SetFilePointerEx SetInformationJobObject SetLastError
kernel32.dll SetUnhandledExceptionFilter SizeofResource Sleep TerminateProcess TerminateThread
kernel32.dll TlsGetValue VirtualAlloc VirtualFree VirtualProtect VirtualQuery WaitForSingleObject
kernel32.dll WideCharToMultiByte WriteFile lstrcatW lstrcmpA lstrcmpiA lstrcpyA lstrcpyW lstrcpynA
kernel32.dll lstrcpynW lstrlenA lstrlenW
msvcrt.dll __getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode
msvcrt.dll __set_app_type __setusermatherr _amsg_exit _cexit _errno _initterm _iob _onexit
msvcrt.dll _snwprintf _strnicmp abort atoi calloc exit fprintf fputc free fwrite localeconv malloc
msvcrt.dll memcmp memcpy memmove memset setlocale signal strchr strcmp strerror strlen strncmp
msvcrt.dll strrchr vfprintf wcslen wcsncmp
ole32.dll CoCreateInstance CoInitializeEx CoInitializeSecurity CoUninitialize
oleaut32.dll SysAllocString SysFreeString VariantInit
shell32.dll CommandLineToArgvW SHGetFolderPathA SHGetSpecialFolderPathA ShellExecuteW
shlwapi.dll SHDeleteKeyA
user32.dll CallNextHookEx CallWindowProcA DefWindowProcA EnableWindow FindWindowW GetDlgItem
user32.dll GetLastActivePopup GetParent GetPropA GetShellWindow GetWindowLongA
user32.dll GetWindowThreadProcessId IsIconic IsWindow IsWindowVisible LoadBitmapA LoadStringA
user32.dll LoadStringW MessageBeep MessageBoxA MessageBoxW PostMessageA RegisterWindowMessageA
user32.dll RemovePropA SendMessageA SetDlgItemTextA SetForegroundWindow SetPropA SetWindowLongA
user32.dll SetWindowTextA SetWindowsHookExA ShowWindow UnhookWindowsHookEx wsprintfW
LIST
)
allowed=$(echo "$known" | awk '{for (i = 2; i <= NF; ++i) print $1, $i}' | sort -u)
fail=0
for exe in "$@"; do
  # "DLL Name: X" opens a DLL's list; its entries are "<vma> <hint> <name>" lines.
  imports=$("$objdump" -p "$exe" | sed -n '/^The Import Tables/,/^The .* section/p' |
            awk '/DLL Name:/ {dll = tolower($3); next}
                 dll != "" && /^\t[0-9a-f]+\t/ {print dll, $NF}' | sort -u)
  if [ -z "$imports" ]; then echo "$exe: no imports read"; fail=1; continue; fi
  missing=$(comm -23 <(echo "$imports") <(echo "$allowed"))
  if [ -n "$missing" ]; then
    echo "$exe imports functions Windows XP SP3 does not export (or not checked yet):"
    echo "$missing" | sed 's/^/  /'
    fail=1
  else
    echo "$exe: $(echo "$imports" | wc -l) imports, all exported by Windows XP SP3"
  fi
done
exit $fail
