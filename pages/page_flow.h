// The wizard's page flow: its page indexes, the page a run starts on and the page each page's Next
// leads to from where the update stands, and the process-wide flags the pages share. The pages do
// the work; what comes next is decided here (pages/page_flow.cpp).
#ifndef PAGES_PAGE_FLOW_H_
#define PAGES_PAGE_FLOW_H_

#include <windows.h>

#include "engine/update_stage.h"

enum PageIndex {
  PAGE_NONE = -1,
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

// The introduction page's Next: marks the update as under way (and, when the restart is still to
// come, registers the resume) and returns the page that follows; PAGE_NONE when the installed
// release is the same or newer, with nothing written: the wizard ends then.
int TakeIntroductionNext(UpdateStage stage);

// The uninstall page, once the uninstaller it started has ended: the page its outcome leads to.
int GetPageAfterUninstall(int uninstallOutcome);

// The install page, when it is shown: nonzero when the new release is already in and only the
// restore is left, which then runs at once, without a setup.
BOOL IsOnlyRestoreLeft(UpdateStage stage);

// The install page, once the setup has ended (or none had to run) and the restore has run: with
// everything of the user's back the update is done (Marking goes) and the completed page follows;
// otherwise the aborted page, and the saved state stays for the next start.
int TakeRestoreResult(BOOL everythingBack);

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
