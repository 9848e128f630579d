// The resume launcher. Windows runs it at logon from the machine-wide Run entry that the updater
// registers; it hands the updater's path (the first argument of its command line) to the shell, so
// that the updater's own manifest asks for administrator rights, and ends at once.
//
// When further arguments follow, they are the users (string SIDs) the update still waits for: the
// launcher then starts the updater only at the logon of one of them, and at anybody else's logon
// ends without asking anything.
//
// The program carries no C or C++ runtime: its entry point is LauncherEntry below, and it imports
// nothing but KERNEL32, ADVAPI32 and SHELL32. It looks at no result and always ends with
// ExitCode::kCompleted (0).
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include "base/exit_code.h"
#include "base/system_dlls.h"

namespace {

// One committed page holds the path: at most 2047 UTF-16 characters and the terminator.
constexpr SIZE_T kPageSize = 4096;
constexpr SIZE_T kPageCharacters = kPageSize / sizeof(WCHAR);

// Copies text with its terminator into page; false, leaving the page untouched, when it does not
// fit. Written out by hand: there is no runtime to supply a string copy.
bool CopyIntoPage(const WCHAR* text, WCHAR* page) {
  SIZE_T length = 0;
  while (text[length] != L'\0') {
    if (++length >= kPageCharacters) return false;
  }
  for (SIZE_T i = 0; i <= length; ++i) page[i] = text[i];
  return true;
}

bool SameText(const WCHAR* a, const WCHAR* b) {
  for (; *a != L'\0' && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// Whether the user of this logon is one of the users listed from arguments[2] on; true when none
// is listed (every logon is meant).
bool IsForThisUser(LPWSTR* arguments, int count) {
  if (count < 3) return true;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } owner;
  DWORD length = 0;
  LPWSTR sid = nullptr;
  const bool known = GetTokenInformation(token, TokenUser, &owner, sizeof(owner), &length) &&
                     ConvertSidToStringSidW(owner.user.User.Sid, &sid);
  CloseHandle(token);
  if (!known) return false;
  bool listed = false;
  for (int i = 2; i < count && !listed; ++i) listed = SameText(arguments[i], sid);
  LocalFree(sid);
  return listed;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Like the updater, first of all: the shell loads DLLs on demand, and only System32 may serve
  // them.
  base::RestrictDllSearchToSystemFolder();
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return ExitCodeValue(ExitCode::kCompleted);
  // Without an argument after the program name there is nothing to start.
  if (count >= 2 && arguments[1] != nullptr && IsForThisUser(arguments, count)) {
    WCHAR* page = static_cast<WCHAR*>(VirtualAlloc(nullptr, kPageSize, MEM_COMMIT, PAGE_READWRITE));
    if (page != nullptr) {
      static const WCHAR kNoDirectory[] = L"";
      if (CopyIntoPage(arguments[1], page) && page[0] != L'\0') {
        ShellExecuteW(nullptr, L"open", page, nullptr, kNoDirectory, SW_SHOW);
      }
      GlobalFree(arguments);
      arguments = nullptr;
      VirtualFree(page, 0, MEM_RELEASE);
    }
  }
  if (arguments != nullptr) GlobalFree(arguments);
  return ExitCodeValue(ExitCode::kCompleted);
}

// The process entry point, in place of the runtime's start-up code. The parameters of WinMain are
// not used; the instance is the image's own base.
extern "C" IMAGE_DOS_HEADER __ImageBase;
extern "C" void WINAPI LauncherEntry() {
  ExitProcess(static_cast<UINT>(
      WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr, nullptr, SW_SHOWDEFAULT)));
}
