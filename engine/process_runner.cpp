// Starts the registered uninstaller and the extracted setup, each under a watcher thread that
// posts WM_WORKER_DONE to the starting page when the program has ended.
#include "engine/process_runner.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/payload.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/user_data_backup.h"
#include "engine/user_state.h"

namespace {

constexpr size_t kCommandLineSize = 1024;

// CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS: the program gets the system's error mode,
// not ours, and runs at normal priority.
constexpr DWORD kCreationFlags = CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS;
static_assert(kCreationFlags == 0x04000020, "creation flags of the external programs");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA of the 32-bit program");

// Starts commandLine (modified in place by the system, hence not const) in workingFolder with the
// parent's environment and no inherited handles; the program chooses its own window state. The
// thread handle is not needed and is closed here; the process handle goes to the caller.
HANDLE StartProgram(char* commandLine, const char* workingFolder) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);  // 68 in the 32-bit program
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));
  RunLogWrite("starting: %s (in %s)", commandLine, workingFolder);
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, kCreationFlags, nullptr,
                      workingFolder, &startup, &process)) {
    RunLogFailure("the program could not be started", GetLastError());
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Hands (page, process) to a new watcher thread. The thread owns the record and the process
// handle from the moment it runs. When no watcher can be had, the process handle is closed, the
// record freed and false returned: the caller decides what that means for its page.
bool StartWatcher(HWND page, HANDLE process) {
  base::ScopedHandle processOwner(process);
  base::ScopedHeapBlock record(sizeof(WatchRequest));
  if (!record) return false;
  WatchRequest* request = record.as<WatchRequest>();
  request->page = page;
  request->process = process;

  DWORD threadId = 0;
  base::ScopedHandle thread(
      CreateThread(nullptr, 0, ProcessWatcherThread, request, CREATE_SUSPENDED, &threadId));
  if (!thread) return false;
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    // The thread never ran a line, so the record and the handle are still ours.
    TerminateThread(thread.get(), 0);
    return false;
  }
  // From here the thread frees the record and closes the process handle; the thread object goes
  // away by itself when it ends.
  record.release();
  processOwner.release();
  return true;
}

}  // namespace

DWORD WINAPI ProcessWatcherThread(LPVOID parameter) {
  WatchRequest* request = static_cast<WatchRequest*>(parameter);
  const HWND page = request->page;
  const HANDLE process = request->process;
  HeapFree(GetProcessHeap(), 0, request);

  // No time-out: the wizard waits as long as the program runs. On a NULL handle (the program
  // could not be started) the wait fails at once and the end is reported straight away.
  WaitForSingleObject(process, INFINITE);
  if (process != nullptr) {
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) {
      RunLogWrite("the program ended with exit code %lu", static_cast<unsigned long>(code));
    }
    CloseHandle(process);
  }
  PostMessageA(page, WM_WORKER_DONE, 0, 0);
  return 0;
}

HANDLE RunUninstaller() {
  char commandLine[kCommandLineSize];
  {
    base::ScopedRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUninstallKey, 0, KEY_QUERY_VALUE,
                      key.receive()) != ERROR_SUCCESS) {
      return nullptr;
    }
    // Used exactly as stored: no expansion, no quoting, no arguments added. A value that does
    // not fit (more than 1,024 bytes) counts as missing.
    DWORD bytes = sizeof(commandLine);
    if (RegQueryValueExA(key.get(), product::kUninstallStringValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(commandLine), &bytes) != ERROR_SUCCESS) {
      return nullptr;
    }
    if (!base::TerminateRegistryString(commandLine, sizeof(commandLine), bytes)) return nullptr;
  }

  char windowsFolder[kPathBufferSize];
  const UINT length = GetWindowsDirectoryA(windowsFolder, sizeof(windowsFolder));
  if (length == 0 || length >= sizeof(windowsFolder)) return nullptr;

  return StartProgram(commandLine, windowsFolder);
}

HANDLE RunSetup(const char* folder) {
  // The program path is quoted: a Windows folder whose path holds a blank would otherwise make the
  // system try each blank-separated prefix as a program first.
  char commandLine[kCommandLineSize];
  if (!base::FormatBounded(commandLine, sizeof(commandLine), "\"%s\\Setup.exe\"", folder)) {
    return nullptr;
  }
  char workingFolder[kPathBufferSize];
  if (!base::CopyBounded(workingFolder, sizeof(workingFolder), folder)) return nullptr;
  return StartProgram(commandLine, workingFolder);
}

BOOL StartUninstall(HWND page) {
  if (!BackUpUserData()) return FALSE;
  // A failed capture keeps the backup made above; it is recorded in BackupFolder.
  if (!CaptureUserState()) return FALSE;
  // The backup's record and the captured state are on the disk before the uninstaller removes
  // the originals.
  FlushUpdaterKey();

  // May be NULL: the watcher then reports the end at once, and the page judges the outcome.
  HANDLE process = RunUninstaller();
  if (!StartWatcher(page, process)) {
    // The uninstaller (if it started) is running and cannot be watched. The page is told at once
    // so that the wizard does not stay hidden waiting for a message that would never come.
    PostMessageA(page, WM_WORKER_DONE, 0, 0);
  }
  return TRUE;
}

BOOL StartInstall(HWND page, std::string& folder) {
  folder.clear();
  char extracted[kPathBufferSize];
  if (!ExtractPayload(extracted)) return FALSE;  // the extraction has shown its message

  // When setup cannot be started, the extracted files stay until the next extraction.
  HANDLE process = RunSetup(extracted);
  if (process == nullptr) return FALSE;

  if (!StartWatcher(page, process)) {
    // Setup runs but nothing can wait for it. It is not stopped (it may be half-way through the
    // installation); the start fails, so the page leaves the waiting state now instead of never.
    // The folder is not handed back, so nothing deletes the files under the running setup.
    return FALSE;
  }
  folder = extracted;
  return TRUE;
}
