// Every transition of the wizard. A run starts on the page its stage gives; the introduction
// page's Next routes by the stage; the uninstall page moves on by what the uninstaller left; the
// install page either restores at once (the new release is already in) or runs the setup first,
// and ends on the completed or the aborted page. The closing pages end the wizard on Finish.
#include "pages/page_flow.h"

#include "engine/core/settings_store.h"
#include "engine/resume.h"

namespace {

BOOL g_busy = FALSE;
int g_exitCode = kExitCancelled;

}  // namespace

void SetBusy(BOOL busy) { g_busy = busy; }
BOOL IsBusy() { return g_busy; }
void SetRunExitCode(int code) { g_exitCode = code; }
int GetRunExitCode() { return g_exitCode; }

const char* GetPageName(int index) {
  static const char* const kNames[] = {"introduction", "uninstall", "install",
                                       "restart guidance", "completed", "aborted"};
  return index >= 0 && index < 6 ? kNames[index] : "unknown";
}

int GetStartPage(const UpdateState& state) {
  // Without Marking no update of ours is under way, whatever the machine looks like: the user
  // starts from the introduction page. Settings that still wait for their user's hive are the
  // exception: only their restore is left.
  if (!state.underWay && state.stage != kStageRestorePending) return PAGE_INTRODUCTION;
  switch (state.stage) {
    case kStageRestartPending:
      return PAGE_RESTART_GUIDANCE;
    case kStageInstallPending:
    case kStageRestorePending:
      return PAGE_INSTALL;
    case kStageNothingToDo:
    case kStageUninstallPending:
      break;
  }
  return PAGE_INTRODUCTION;
}

int TakeIntroductionNext(UpdateStage stage) {
  switch (stage) {
    case kStageNothingToDo:
    case kStageRestorePending:
      // Same release or newer: nothing to do, and nothing is written.
      return PAGE_NONE;
    case kStageUninstallPending:
      SetMarking(TRUE);
      return PAGE_UNINSTALL;
    case kStageRestartPending:
      // The old release's removal still waits for a restart: the new release would lose files
      // to it. The update is marked and registered to go on by itself after that restart.
      SetMarking(TRUE);
      RegisterResume(TRUE);
      return PAGE_RESTART_GUIDANCE;
    case kStageInstallPending:
      SetMarking(TRUE);
      return PAGE_INSTALL;
  }
  return PAGE_NONE;
}

int GetPageAfterUninstall(int uninstallOutcome) {
  switch (uninstallOutcome) {
    case kUninstallRemoved:
      return PAGE_INSTALL;
    case kUninstallNeedsRestart:
      // The resume was registered before the uninstaller started, so nothing more is written.
      return PAGE_RESTART_GUIDANCE;
    default:
      return PAGE_INCOMPLETED;
  }
}

BOOL IsOnlyRestoreLeft(UpdateStage stage) { return stage == kStageRestorePending ? TRUE : FALSE; }

int TakeRestoreResult(BOOL everythingBack) {
  if (!everythingBack) return PAGE_INCOMPLETED;
  SetMarking(FALSE);
  return PAGE_COMPLETED;
}
