// Starts the registered uninstaller and the extracted setup, each under a watcher thread that
// posts WM_WORKER_DONE to the starting page when every process the program started has ended.
#include "engine/process_runner.h"

#include "base/bounded_string.h"
#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/payload.h"
#include "engine/product_processes.h"
#include "engine/carryover/user_data_backup.h"
#include "engine/carryover/user_state.h"
#include "engine/work_folder.h"

namespace {

constexpr size_t kCommandLineSize = 1024;

// CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS: the program gets the system's error mode,
// not ours, and runs at normal priority.
constexpr DWORD kCreationFlags = CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS;
static_assert(kCreationFlags == 0x04000020, "creation flags of the external programs");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68,
              "STARTUPINFOA of the 32-bit program");

// How many uninstallers and setups of this run are running (with anything they started). Each
// program adds its one when it starts and its own watcher takes that one away, so the end of one
// program never counts as the end of another. A program that no watcher follows stays counted:
// nothing can tell when it ends.
volatile LONG g_uninstallersRunning = 0;
volatile LONG g_setupsRunning = 0;

// Refuses a start while a program of this run is followed: a second uninstaller would fail
// against the first (Windows Installer allows one at a time) and report the update as failed
// while the first removes the user's data; a second extraction would empty the running setup's
// folder.
bool IsStartRefused(const char* program) {
  if (!IsProgramFollowed()) return false;
  RunLogWrite("%s not started: a program of this run still runs", program);
  return true;
}

// TMP and TEMP of this process while a program is being started, which it inherits; the old
// values come back afterwards.
class ScopedTempVariables {
 public:
  explicit ScopedTempVariables(const char* folder) {
    for (int i = 0; i < 2; ++i) {
      const DWORD length = GetEnvironmentVariableA(kNames[i], old_[i], sizeof(old_[i]));
      had_[i] = length > 0 && length < sizeof(old_[i]);
      SetEnvironmentVariableA(kNames[i], folder);
    }
  }
  ~ScopedTempVariables() {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableA(kNames[i], had_[i] ? old_[i] : nullptr);
  }
  ScopedTempVariables(const ScopedTempVariables&) = delete;
  ScopedTempVariables& operator=(const ScopedTempVariables&) = delete;

 private:
  static constexpr const char* kNames[2] = {"TMP", "TEMP"};
  char old_[2][kPathBufferSize];
  bool had_[2];
};

// The work folder's temp\ (made when missing, for SYSTEM and Administrators only: what the
// uninstaller and setup leave there is not for other users to read) into folder[520]. The
// administrator's own TEMP may be a folder the user's programs can write, where a program running
// with administrator rights must not unpack and run anything.
bool GetProtectedTempFolder(char (&folder)[kPathBufferSize]) {
  char work[kPathBufferSize];
  if (!EnsureWorkFolder(work) || !GetWorkPath(WorkItem::kTempFolder, folder)) return false;
  if (!CreateProtectedFolder(folder, kBackupFolderSecurity) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  return IsPlainFolder(folder) != 0;
}

// Starts commandLine (modified in place by the system, hence not const) in workingFolder with the
// parent's environment (TMP and TEMP pointing at the work folder's temp\) and no inherited
// handles, followed with every process it starts; the program chooses its own window state.
std::unique_ptr<ProcessTree> StartProgram(char* commandLine, const char* workingFolder) {
  char temp[kPathBufferSize];
  if (!GetProtectedTempFolder(temp)) {
    RunLogFailure("no protected temporary folder for the program", GetLastError());
    return nullptr;
  }
  // Programs from the product folder do not hold the wait: a setup may start the new product.
  std::unique_ptr<ProcessTree> program(new ProcessTree(IsProductFolderProgram));
  const ScopedTempVariables variables(temp);
  if (!program->Start(commandLine, workingFolder, kCreationFlags)) return nullptr;
  return program;
}

// Hands (page, program) to a new watcher thread. The thread owns the record and the program from
// the moment it runs. When no watcher can be had, the program is let go (it runs on), the record
// freed and false returned: the caller decides what that means for its page.
bool StartWatcher(HWND page, std::unique_ptr<ProcessTree> program, volatile LONG* running) {
  base::ScopedHeapBlock record(sizeof(WatchRequest));
  if (!record) return false;
  WatchRequest* request = record.as<WatchRequest>();
  request->page = page;
  request->program = program.get();
  request->running = running;

  DWORD threadId = 0;
  base::ScopedHandle thread(
      CreateThread(nullptr, 0, ProcessWatcherThread, request, CREATE_SUSPENDED, &threadId));
  if (!thread) return false;
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    // The thread never ran a line, so the record and the program are still ours.
    TerminateThread(thread.get(), 0);
    return false;
  }
  // From here the thread frees the record and the program; the thread object goes away by
  // itself when it ends.
  record.release();
  program.release();
  return true;
}

// The folder the uninstaller runs in.
bool GetWindowsFolder(char (&folder)[kPathBufferSize]) {
  const UINT length = GetWindowsDirectoryA(folder, sizeof(folder));
  return length != 0 && length < sizeof(folder);
}

// "<system folder>\msiexec.exe" /x {product code}: Windows Installer's removal of the product.
bool BuildWindowsInstallerRemoval(char (&commandLine)[kCommandLineSize]) {
  char systemFolder[kPathBufferSize];
  const UINT length = GetSystemDirectoryA(systemFolder, sizeof(systemFolder));
  return length != 0 && length < sizeof(systemFolder) &&
         base::FormatBounded(commandLine, sizeof(commandLine), "\"%s\\msiexec.exe\" /x %s",
                             systemFolder, product::kProductGuid);
}

}  // namespace

DWORD WINAPI ProcessWatcherThread(LPVOID parameter) {
  WatchRequest* request = static_cast<WatchRequest*>(parameter);
  const HWND page = request->page;
  std::unique_ptr<ProcessTree> program(request->program);
  volatile LONG* running = request->running;
  HeapFree(GetProcessHeap(), 0, request);

  // No time-out: the wizard waits as long as the program's processes run. Without a program (it
  // could not be started) the end is reported straight away.
  if (program) {
    const DWORD code = program->WaitUntilDone();
    RunLogWrite("the program ended with exit code %lu", static_cast<unsigned long>(code));
    program.reset();
  }
  InterlockedDecrement(running);
  PostMessageA(page, WM_WORKER_DONE, 0, 0);
  return 0;
}

BOOL IsUninstallerRunning() {
  return InterlockedCompareExchange(&g_uninstallersRunning, 0, 0) > 0 ? TRUE : FALSE;
}

BOOL IsProgramFollowed() {
  return IsUninstallerRunning() || InterlockedCompareExchange(&g_setupsRunning, 0, 0) > 0;
}

std::unique_ptr<ProcessTree> RunUninstaller() {
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

    // A release that Windows Installer registered keeps its maintenance command there, which
    // removes nothing: Windows Installer removes the product code instead.
    DWORD byInstaller = 0;
    DWORD type = REG_NONE;
    bytes = sizeof(byInstaller);
    if (RegQueryValueExA(key.get(), product::kWindowsInstallerValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(&byInstaller), &bytes) == ERROR_SUCCESS &&
        type == REG_DWORD && bytes == sizeof(byInstaller) && byInstaller == 1) {
      RunLogWrite(
          "uninstaller: registered by Windows Installer; its removal runs instead of the "
          "stored command %s",
          commandLine);
      if (!BuildWindowsInstallerRemoval(commandLine)) return nullptr;
    } else {
      RunLogWrite("uninstaller: the stored command");
    }
  }

  char windowsFolder[kPathBufferSize];
  if (!GetWindowsFolder(windowsFolder)) return nullptr;
  return StartProgram(commandLine, windowsFolder);
}

std::unique_ptr<ProcessTree> RunSetup(const char* folder) {
  // The program path is quoted: a Windows folder whose path holds a blank would otherwise make the
  // system try each blank-separated prefix as a program first.
  char commandLine[kCommandLineSize];
  if (!base::FormatBounded(commandLine, sizeof(commandLine), "\"%s\\Setup.exe\"", folder)) {
    return nullptr;
  }
  char workingFolder[kPathBufferSize];
  if (!base::CopyBounded(workingFolder, sizeof(workingFolder), folder)) return nullptr;
  std::unique_ptr<ProcessTree> program = StartProgram(commandLine, workingFolder);
  // What setup leaves running from the product folder has setup's rights, not the user's.
  if (program) program->EndOutsideTheWaitWhenDone();
  return program;
}

BOOL StartUninstall(HWND page, BOOL (*beforeUninstaller)()) {
  if (IsStartRefused("uninstaller")) return FALSE;
  if (!BackUpUserData()) return FALSE;
  // A failed capture keeps the backup made above; it is recorded in BackupFolder.
  if (!CaptureUserState()) return FALSE;
  // The backup's record and the captured state are on the disk before the uninstaller removes
  // the originals; when they cannot be, it does not start.
  if (!FlushUpdaterKey()) {
    ShowSystemErrorBox(GetLastError());
    return FALSE;
  }
  if (beforeUninstaller != nullptr && !beforeUninstaller()) return FALSE;

  // May be NULL: the watcher then reports the end at once, and the page judges the outcome.
  InterlockedIncrement(&g_uninstallersRunning);
  if (!StartWatcher(page, RunUninstaller(), &g_uninstallersRunning)) {
    // The uninstaller (if it started) is running and cannot be watched. The page is told at once
    // so that the wizard does not stay hidden waiting for a message that would never come.
    PostMessageA(page, WM_WORKER_DONE, 0, 0);
  }
  return TRUE;
}

BOOL StartInstall(HWND page, base::Text& folder) {
  folder.clear();
  if (IsStartRefused("setup")) return FALSE;
  char extracted[kPathBufferSize];
  if (!ExtractPayload(extracted)) return FALSE;  // the extraction has shown its message

  // When setup cannot be started, the extracted files stay until the next extraction.
  std::unique_ptr<ProcessTree> program = RunSetup(extracted);
  if (!program) return FALSE;

  InterlockedIncrement(&g_setupsRunning);
  if (!StartWatcher(page, std::move(program), &g_setupsRunning)) {
    // Setup runs but nothing can wait for it. It is not stopped (it may be half-way through the
    // installation); the start fails, so the page leaves the waiting state now instead of never.
    // The folder is not handed back, so nothing deletes the files under the running setup.
    return FALSE;
  }
  folder = extracted;
  return TRUE;
}
