// The updater's exit codes, as software-distribution tools read them: Windows Installer's codes
// for the same outcomes. The one place that numbers them. It lives in base/, the floor that every
// layer may include: the out-of-memory exit (base/heap_text.cpp), the framework's WinMain, the
// engine's run log, the pages, the application and the launcher (which has no C runtime: this
// header needs none).
#ifndef BASE_EXIT_CODE_H_
#define BASE_EXIT_CODE_H_

enum class ExitCode : int {
  kCompleted = 0,              // ERROR_SUCCESS: updated, installed, or nothing was left to do
  kUnsupportedWindows = 1150,  // ERROR_OLD_WIN_VERSION: this Windows is too old
  kCancelled = 1602,           // ERROR_INSTALL_USEREXIT: the user cancelled, nothing changed
  kFailed = 1603,              // ERROR_INSTALL_FAILURE: the update stopped unfinished
  kAlreadyRunning = 1618,      // ERROR_INSTALL_ALREADY_RUNNING: another updater runs
  kAlreadyCurrent = 1638,      // ERROR_PRODUCT_VERSION: the same or a newer release is installed
  kRestartNeeded = 3010,       // ERROR_SUCCESS_REBOOT_REQUIRED: it goes on after a restart
};

// The number the process ends with.
constexpr int ExitCodeValue(ExitCode code) { return static_cast<int>(code); }

// The exit code's name for the run's log.
inline const char* GetExitCodeName(ExitCode code) {
  switch (code) {
    case ExitCode::kCompleted:
      return "completed";
    case ExitCode::kUnsupportedWindows:
      return "Windows too old";
    case ExitCode::kCancelled:
      return "cancelled";
    case ExitCode::kFailed:
      return "failed";
    case ExitCode::kAlreadyRunning:
      return "another updater runs";
    case ExitCode::kAlreadyCurrent:
      return "already current";
    case ExitCode::kRestartNeeded:
      return "restart needed";
  }
  return "unknown";
}

#endif  // BASE_EXIT_CODE_H_
