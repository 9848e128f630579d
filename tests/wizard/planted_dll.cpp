// Planted by the wizard tests beside a copy of the updater. It leaves a trace beside itself:
// "<its file>.loaded" when it is loaded, "<its file>.called" when the updater's first version call
// (GetFileVersionInfoSizeA, which then fails) comes to it. The wide version functions, which Wine's
// own USER32 imports, are forwarded to the system (planted_dll.def).
#include <windows.h>

namespace {

HMODULE g_self = nullptr;

void LeaveTrace(const char* suffix) {
  char path[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameA(g_self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatA(path, suffix);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = self;
    LeaveTrace(".loaded");
  }
  return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD) {
  LeaveTrace(".called");
  return 0;
}
