// What the updater decides, as plain functions of one reading of the machine. Nothing here calls
// the system or writes anything: the reading is made by engine/machine_reading.cpp, the plans are
// carried out by engine/apply_plan.cpp, and the pages show what a plan decided. The build machine
// compiles and tests this folder natively (no windows.h), as tables of readings and plans.
//
// The rule for the user's data: no version of it is ever destroyed. What is missing comes back;
// where two versions exist, the one in place stays and the saved one is kept beside it (a log as
// a dated copy "Tidemark_<yyyymmdd-hhmmss>.log" in the product folder, settings and the autorun
// entry as a dated key beside the settings key in that user's own hive). The one exception is the
// overlay of the first restore after the new release's setup: each snapshot is laid over the
// settings key the new release made, the autorun entry is written back, and the saved log takes
// its name over the fresh log the setup made (a log in place that begins with the saved bytes is
// the same log grown, and stays).
#ifndef ENGINE_PLAN_UPDATE_PLAN_H_
#define ENGINE_PLAN_UPDATE_PLAN_H_

#include <cstddef>

#include "base/heap_text.h"

// The wizard's pages, by index.
enum PageIndex {
  PAGE_NONE = -1,
  PAGE_INTRODUCTION = 0,
  PAGE_UNINSTALL = 1,
  PAGE_INSTALL = 2,
  PAGE_RESTART_GUIDANCE = 3,
  PAGE_COMPLETED = 4,
  PAGE_ABORTED = 5,
};
// How many pages the wizard has: one past the last of them.
constexpr int kPageCount = PAGE_ABORTED + 1;

// The page's name for the run's log and the tests.
const char* GetPageName(int index);

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
  // after the update, while some users' settings or autorun entries wait for their hive).
  kStageRestorePending = 4,
};

// The stage's name for the run's log.
const char* GetUpdateStageName(UpdateStage stage);

// How one saved item of the user's stands against what is in place now.
enum class ItemState {
  kAbsent,     // nothing in place (a log: none, or an empty one)
  kSame,       // in place as saved (settings: every saved value and subkey, with its data)
  kContinued,  // a log that begins with the saved bytes: the same log, grown since
  kDifferent,  // in place, but not as saved
  kNotLoaded,  // the user's hive is not loaded: it cannot be seen now
};

const char* GetItemStateName(ItemState state);

// A log file saved in the backup: "Tidemark.log" or one of its dated copies, under its own name.
struct SavedLog {
  base::Text name;
  bool copyPresent = false;  // the saved copy is in the backup, with the size recorded for it
  ItemState live = ItemState::kAbsent;
};

// A user's saved settings (a snapshot) or autorun entry (a record).
struct SavedUserItem {
  base::Text user;     // the hive's name, a string SID (".DEFAULT" for settings)
  bool usable = true;  // autorun: the record names a user and holds a command line
  ItemState live = ItemState::kAbsent;
  bool userGone = false;  // not loaded, and the user has no profile and no account any more
};

// One reading of the machine: everything the decisions below look at.
struct MachineReading {
  // The product.
  bool productInstalled = false;
  bool productCurrent = false;  // its main executable is at the target version or newer
  bool restartPending = false;  // a removal under the product folder waits for the restart
  // The updater's own records.
  bool marking = false;         // an update was begun and is not finished
  bool restoreWaited = false;   // a restore since the new release's setup did not finish
  bool backupRecorded = false;  // BackupFolder names a backup
  bool backupPresent = false;   // ... and it is the work folder's own, and there
  bool backupDamaged = false;   // ... but it names no backup of this update's work folder
  base::HeapArray<SavedLog> logs;
  base::HeapArray<SavedUserItem> settings;
  base::HeapArray<SavedUserItem> autoRuns;
  // What runs: the uninstaller of this run, or programs from the product folder.
  bool programsRunning = false;
};

// TRUE when the updater key records anything of the user's.
bool HasSavedUserState(const MachineReading& reading);
// TRUE when no update is under way but some users' settings or autorun entries still wait.
bool HasWaitingUserItems(const MachineReading& reading);

UpdateStage GetStage(const MachineReading& reading);

// The page a run starts on: the restart-guidance page while the restart the old uninstaller asked
// for is still to come, the install page when an update under way has its old release gone or
// its new release in (or only waiting users' items are left), the introduction page otherwise.
int ChooseStartPage(const MachineReading& reading);

// The introduction page's Next: the page that follows; PAGE_NONE when the installed release is the
// same or newer.
int ChoosePageAfterIntroduction(const MachineReading& reading);

// Uninstall verdicts.
enum UninstallOutcome {
  kUninstallRemoved = 0,
  kUninstallNeedsRestart = 1,
  kUninstallStillInstalled = 2
};
const char* GetUninstallOutcomeName(int outcome);

// The uninstall page, once the uninstaller it started has ended.
int ChoosePageAfterUninstall(int uninstallOutcome);

// What one step of a plan does. Item steps name an index into the reading's logs, settings or
// autorun entries.
enum class StepKind {
  // Logs.
  kPutLogBack,      // nothing is in place (or the overlay): the saved copy takes its name
  kKeepLogBeside,   // the log in place stays; the saved copy comes back beside it, dated
  kDropSavedLog,    // the log in place holds all of it: the saved copy goes
  kLogCopyMissing,  // the saved copy is gone from the backup: a failure, never "restored"
  kDropBackup,      // every log is settled: the backup and its record go
  // Settings.
  kLaySettingsOver,     // overlay: the snapshot over the settings key
  kPutSettingsBack,     // nothing is in place: the whole snapshot comes back
  kKeepSettingsBeside,  // what is missing comes back; the snapshot is kept beside, dated
  kDropSnapshot,        // the settings in place hold all of it
  kSettingsToProfile,   // the user's hive is not loaded: into the profile's hive, or it waits
  kSettingsToKeptFile,  // the user no longer exists: into an administrators-only file that stays
  // Autorun entries.
  kWriteAutoRunBack,    // written back as the user's Run value
  kKeepAutoRunBeside,   // the Run value in place stays; the saved one is kept beside, dated
  kDropAutoRunRecord,   // the Run value in place is the saved one
  kDropUnusableRecord,  // the record names no user or holds no command line
  kAutoRunToProfile,    // the user's hive is not loaded: into the profile's hive, or it waits
  kAutoRunToKeptFile,   // the user no longer exists: into an administrators-only file that stays
  // The product and the state.
  kStartProduct,        // with the desktop user's entry written back by this plan
  kDiscardState,        // the resume entry, the work folder and the updater key go
  kKeepState,           // everything stays for the next start of the updater
  kKeepStateAndResume,  // everything stays, and the resume entry brings the wizard back
};

const char* GetStepName(StepKind kind);

struct PlanStep {
  StepKind kind;
  size_t item;      // index into the reading's list the step is about; 0 for the others
  const char* why;  // the reason, for the run's log
};

enum class RestoreMode {
  kOverlay,  // the first restore after the new release's setup
  kMerge,    // everything else: what is in place stays
};

struct Plan {
  RestoreMode mode = RestoreMode::kMerge;  // how the settings steps write
  base::HeapArray<PlanStep> steps;
  void Add(StepKind kind, size_t item, const char* why) {
    steps.push_back(PlanStep{kind, item, why});
  }
};

// Which restore a restore-only start runs: the overlay until a restore has waited, then merge.
RestoreMode ChooseRestoreMode(const MachineReading& reading);

// The restore: the logs, then each user's settings, then each autorun entry, then (startProduct)
// the product. Each item is on its own: one that fails or waits does not hold the others.
Plan PlanRestore(const MachineReading& reading, RestoreMode mode, bool startProduct);

// True when the plan writes into the product folder (a log put back or kept beside).
bool PlanWritesProductFiles(const Plan& plan);

// Before a later run captures afresh (an earlier attempt left its saved state with the old release
// still installed and nothing of it running): that state is settled by the merge rule. The plan
// ends with kDiscardState only when everything of it can be settled now; otherwise it keeps the
// state, and the capture does not start.
Plan PlanSettleEarlierAttempt(const MachineReading& reading);

// The final clean-up, when the wizard ends: what of the saved state is settled, and whether the
// state is discarded, kept, or kept with the resume entry.
Plan PlanCleanUp(const MachineReading& reading);

#endif  // ENGINE_PLAN_UPDATE_PLAN_H_
