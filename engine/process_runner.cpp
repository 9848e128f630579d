// PLACEHOLDER until the process runner lands.
#include "engine/process_runner.h"
BOOL StartUninstall(HWND page) { PostMessageA(page, WM_WORKER_DONE, 0, 0); return TRUE; }
BOOL StartInstall(HWND, std::string& folder) { folder.clear(); return FALSE; }
HANDLE RunUninstaller() { return nullptr; }
HANDLE RunSetup(const char*) { return nullptr; }
DWORD WINAPI ProcessWatcherThread(LPVOID) { return 0; }
