// The wizard's page indexes and the process-wide flags the pages share.
#ifndef PAGES_PAGE_FLOW_H_
#define PAGES_PAGE_FLOW_H_

#include <windows.h>

#include "engine/update_stage.h"

enum PageIndex {
  PAGE_INTRODUCTION = 0,
  PAGE_UNINSTALL = 1,
  PAGE_INSTALL = 2,
  PAGE_RESTART_GUIDANCE = 3,
  PAGE_COMPLETED = 4,
  PAGE_INCOMPLETED = 5,
};

// The page a run starts on, from where the update stands: the restart-guidance page while the
// restart the old uninstaller asked for is still to come, the install page when an update under
// way has its old release gone or its new release in, the introduction page otherwise.
int GetStartPage(const UpdateState& state);

// The page's name for the run's log.
const char* GetPageName(int index);

// The updater's exit code, as software-distribution tools read it.
constexpr int kExitCompleted = 0;
constexpr int kExitRestartNeeded = 3010;     // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr int kExitCancelled = 1602;         // ERROR_INSTALL_USEREXIT
constexpr int kExitFailed = 1603;            // ERROR_INSTALL_FAILURE
constexpr int kExitAlreadyCurrent = 1638;    // ERROR_PRODUCT_VERSION
constexpr int kExitUnsupportedWindows = 1150;  // ERROR_OLD_WIN_VERSION
constexpr int kExitAlreadyRunning = 1618;    // ERROR_INSTALL_ALREADY_RUNNING

// How the run ends so far: cancelled until a closing page or the up-to-date message says more.
void SetRunExitCode(int code);
int GetRunExitCode();

// Set while an external program runs; the sheet refuses to be closed meanwhile.
void SetBusy(BOOL busy);
BOOL IsBusy();

#endif  // PAGES_PAGE_FLOW_H_
