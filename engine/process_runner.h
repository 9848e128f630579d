// Runs the two external programs (the registered uninstaller, the extracted setup) and watches each
// on a thread of its own, which posts WM_WORKER_DONE to the page that started it when every
// process the program started has ended (see ProcessTree).
#ifndef ENGINE_PROCESS_RUNNER_H_
#define ENGINE_PROCESS_RUNNER_H_

#include <windows.h>

#include <memory>

#include "base/heap_text.h"
#include "engine/process_tree.h"

// Posted once to the page window when the watched program has ended (wParam 0, lParam 0).
constexpr UINT WM_WORKER_DONE = 3024;

struct WatchRequest {
  HWND page;
  ProcessTree* program;  // owned by the watcher; NULL when the program could not be started
  // The count of running programs of its kind; the program counts one in it from its start, and
  // the watcher takes that one away when the program's work is over (never another program's).
  volatile LONG* running;
};

// The watcher thread's handle is closed as soon as the thread runs (the thread owns itself), so
// the two starts return a plain truth value.

// Backup, state capture, then the uninstaller under a watcher. TRUE once the watcher runs (also
// when the uninstaller itself could not be started: the end is then reported at once); FALSE when
// a preparation step failed, or when a program of this run is still followed (nothing is done).
// beforeUninstaller, when given, is the last preparation step (the resume entry): when it fails,
// the uninstaller does not start.
BOOL StartUninstall(HWND page, BOOL (*beforeUninstaller)() = nullptr);

// Extraction, then setup under a watcher. TRUE with folder = the extraction folder when setup
// runs and is watched; FALSE with folder empty otherwise, also when a program of this run is
// still followed (nothing is done).
BOOL StartInstall(HWND page, base::Text& folder);

// TRUE while an uninstaller or a setup of this run (or anything it started) runs: one run never
// starts a second one meanwhile.
BOOL IsProgramFollowed();

// The uninstaller, started and followed, or NULL. When the uninstall key says WindowsInstaller = 1
// the product code's removal "<system folder>\msiexec.exe /x {product code}" runs instead of the
// stored command (which is then the maintenance command, "MsiExec.exe /I{...}", removing nothing).
std::unique_ptr<ProcessTree> RunUninstaller();

// Setup, started and followed, or NULL.
std::unique_ptr<ProcessTree> RunSetup(const char* folder);

// TRUE from the start of the uninstaller of this run until its watcher has seen every process it
// started end (those from the product folder aside).
BOOL IsUninstallerRunning();

// The watcher thread: waits for the program's processes, frees them, posts WM_WORKER_DONE.
DWORD WINAPI ProcessWatcherThread(LPVOID parameter);

#endif  // ENGINE_PROCESS_RUNNER_H_
