// Where an update stands, and the two rules that say a restart is still to come.
//
// GetUpdateState reads the updater key's Marking, the product's registration and version and the
// system's list of removals for the restart, and names the stage. Its readers: start-up logs it
// and opens the page GetStartPage gives; the page flow routes the introduction page's Next by it
// and tells the install page whether only the restore is left (pages/page_flow.cpp); the final
// clean-up keeps the saved state while it is needed (IsUpdaterStateNeeded in engine/resume.cpp,
// which also reads HasSavedUserState). The uninstall page reads GetUninstallOutcome once its
// uninstaller has ended; the install page reads HasSavedUserState for the run's exit code and,
// after its setup, the product's registration itself.
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
  // The new release is in, but what was saved of the user's has not all been put back yet (also
  // after the update, while some users' settings wait for their hive).
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

// A restart is still to come, by two rules that answer different questions.
//
// Right after the uninstaller of this run has ended, GetUninstallOutcome asks the product folder:
// whatever the uninstaller could not delete is still in it and goes only at the restart. An
// uninstaller need not tell the system's list about it (it may wait for the restart in its own
// way), so the list would miss it; the folder cannot.
//
// At any start, IsRestartPending (through the stage) asks the system's list: a folder that still
// holds entries at a later start says nothing about whether the restart has happened, since a
// leftover nobody scheduled stays after it too and waiting for it would never end. Only the list
// of what the restart will carry out tells that it is still to come, and it also catches a release
// removed by hand, without any uninstaller of ours.

// Uninstall verdicts.
enum UninstallOutcome { kUninstallRemoved = 0, kUninstallNeedsRestart = 1, kUninstallStillInstalled = 2 };

// 2 while the registration or the installer's maintenance folder remains; 1 when the product
// folder still holds entries; 0 otherwise.
int GetUninstallOutcome();

// 1 while a removal under the product folder (or of the folder itself) is still listed in the
// system's PendingFileRenameOperations, i.e. the restart that carries it out has not happened.
int IsRestartPending();

// 1 when the updater key still records something saved of the user's: BackupFolder, the autorun
// entry or a settings snapshot.
int HasSavedUserState();

#endif  // ENGINE_UPDATE_STAGE_H_
