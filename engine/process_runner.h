// Runs the two external programs (the registered uninstaller, the extracted setup) and watches each
// on a thread of its own, which posts WM_WORKER_DONE to the page that started it when it ends.
#ifndef ENGINE_PROCESS_RUNNER_H_
#define ENGINE_PROCESS_RUNNER_H_

#include <windows.h>

#include <string>

// Posted once to the page window when the watched program has ended (wParam 0, lParam 0).
constexpr UINT WM_WORKER_DONE = 3024;

struct WatchRequest {
  HWND page;
  HANDLE process;  // owned by the watcher; NULL when the program could not be started
};

// The watcher thread's handle is closed as soon as the thread runs (the thread owns itself), so
// the two starts return a plain truth value.

// Backup, state capture, then the uninstaller under a watcher. TRUE once the watcher runs (also
// when the uninstaller itself could not be started: the end is then reported at once); FALSE when
// a preparation step failed.
BOOL StartUninstall(HWND page);

// Extraction, then setup under a watcher. TRUE with folder = the extraction folder when setup
// runs and is watched; FALSE with folder empty otherwise.
BOOL StartInstall(HWND page, std::string& folder);

// The uninstaller's process handle (the caller owns it), or NULL.
HANDLE RunUninstaller();

// Setup's process handle (the caller owns it), or NULL.
HANDLE RunSetup(const char* folder);

// The watcher thread: waits for the process, closes it, posts WM_WORKER_DONE.
DWORD WINAPI ProcessWatcherThread(LPVOID parameter);

#endif  // ENGINE_PROCESS_RUNNER_H_
