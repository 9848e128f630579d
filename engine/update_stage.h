// Where an update stands: the one place that reads the updater key, the product's presence and
// version and whether the restart the old uninstaller asked for is still to come, and names the
// stage. Start-up chooses its page from it and the pages act on it; nothing else reads those
// facts to decide what comes next.
#ifndef ENGINE_UPDATE_STAGE_H_
#define ENGINE_UPDATE_STAGE_H_

#include <windows.h>

enum UpdateStage {
  // The product is installed at the target version or newer and no update is under way.
  kStageNothingToDo = 0,
  // An older release (or one whose version cannot be read) is installed: its uninstaller runs next.
  kStageUninstallPending = 1,
  // The product is not installed, but removals under its folder are still scheduled for the
  // restart: nothing may be installed before that restart.
  kStageRestartPending = 2,
  // The product is not installed: the new release's setup runs next.
  kStageInstallPending = 3,
  // The new release is in, but what was saved of the user's has not all been put back yet.
  kStageRestorePending = 4,
};

struct UpdateState {
  UpdateStage stage;
  // Marking: an update was begun in an earlier run (or earlier in this one).
  bool underWay;
};

// Reads the machine and names the stage. Restore pending needs Marking; restart pending does not:
// a product folder whose removals still wait for a restart (an update of ours, or a release removed
// by hand) must not receive the new release before that restart.
UpdateState GetUpdateState();

// The stage's name for the run's log.
const char* GetUpdateStageName(UpdateStage stage);

// 1 while a removal under the product folder (or of the folder itself) is still listed in the
// system's PendingFileRenameOperations, i.e. the restart that carries it out has not happened.
int IsRestartPending();

// 1 when the updater key still records something saved of the user's: BackupFolder, the autorun
// entry or a settings snapshot.
int HasSavedUserState();

#endif  // ENGINE_UPDATE_STAGE_H_
