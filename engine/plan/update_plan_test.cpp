// The decisions as tables: rows of readings of the machine and the page or plan each gives. Built
// and run natively on the build machine.
#include "engine/plan/update_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using S = ItemState;
using K = StepKind;

SavedUserItem Item(const char* user, ItemState live, bool usable = true) {
  SavedUserItem item;
  item.user = user;
  item.live = live;
  item.usable = usable;
  return item;
}

SavedLog Log(const char* name, ItemState live, bool copyPresent = true) {
  SavedLog log;
  log.name = name;
  log.live = live;
  log.copyPresent = copyPresent;
  return log;
}

// "<step> <item>" for each step, so that a row reads as the plan it expects.
std::vector<std::string> Steps(const Plan& plan) {
  std::vector<std::string> steps;
  for (const PlanStep& step : plan.steps) {
    steps.push_back(std::string(GetStepName(step.kind)) + " " + std::to_string(step.item));
    EXPECT_NE(nullptr, step.why);
  }
  return steps;
}

std::string Name(StepKind kind, size_t item = 0) {
  return std::string(GetStepName(kind)) + " " + std::to_string(item);
}

struct StageRow {
  const char* what;
  bool installed, current, restartPending, marking, saved;
  UpdateStage stage;
  int startPage;
  int afterIntroduction;
};

const StageRow kStageRows[] = {
    {"nothing installed", false, false, false, false, false, kStageInstallPending,
     PAGE_INTRODUCTION, PAGE_INSTALL},
    {"saved state without Marking", false, false, false, false, true, kStageInstallPending,
     PAGE_INTRODUCTION, PAGE_INSTALL},
    {"old release gone, update under way", false, false, false, true, true, kStageInstallPending,
     PAGE_INSTALL, PAGE_INSTALL},
    {"removed by hand, its removal waits", false, false, true, false, false, kStageRestartPending,
     PAGE_INTRODUCTION, PAGE_RESTART_GUIDANCE},
    {"the old uninstaller's restart is due", false, false, true, true, true, kStageRestartPending,
     PAGE_RESTART_GUIDANCE, PAGE_RESTART_GUIDANCE},
    {"old release", true, false, false, false, false, kStageUninstallPending, PAGE_INTRODUCTION,
     PAGE_UNINSTALL},
    {"old release, an earlier attempt under way", true, false, false, true, true,
     kStageUninstallPending, PAGE_INTRODUCTION, PAGE_UNINSTALL},
    {"up to date", true, true, false, false, false, kStageNothingToDo, PAGE_INTRODUCTION,
     PAGE_NONE},
    {"new release in, restore left", true, true, true, true, true, kStageRestorePending,
     PAGE_INSTALL, PAGE_NONE},
    {"up to date, a user's settings wait", true, true, false, false, true, kStageRestorePending,
     PAGE_INSTALL, PAGE_NONE},
};

TEST(UpdatePlan, StageStartPageAndIntroductionNextFromTheReading) {
  for (const StageRow& row : kStageRows) {
    SCOPED_TRACE(row.what);
    MachineReading reading;
    reading.productInstalled = row.installed;
    reading.productCurrent = row.current;
    reading.restartPending = row.restartPending;
    reading.marking = row.marking;
    // What is saved is one user's settings: they wait when no update is under way.
    if (row.saved) reading.settings.push_back(Item("S-1-5-21-1", S::kSame));
    EXPECT_EQ(row.stage, GetStage(reading)) << GetUpdateStageName(GetStage(reading));
    EXPECT_EQ(row.startPage, ChooseStartPage(reading)) << GetPageName(ChooseStartPage(reading));
    EXPECT_EQ(row.afterIntroduction, ChoosePageAfterIntroduction(reading));
  }
}

TEST(UpdatePlan, OnlyAUsableRecordWaits) {
  MachineReading reading;
  reading.productInstalled = reading.productCurrent = true;
  reading.autoRuns.push_back(Item("S-1-5-21-1", S::kAbsent, false));
  EXPECT_EQ(kStageNothingToDo, GetStage(reading)) << "a damaged record holds nothing open";
  reading.autoRuns.push_back(Item("S-1-5-21-2", S::kNotLoaded));
  EXPECT_EQ(kStageRestorePending, GetStage(reading));
  EXPECT_EQ(PAGE_INSTALL, ChooseStartPage(reading));
}

TEST(UpdatePlan, PageAfterTheUninstaller) {
  EXPECT_EQ(PAGE_INSTALL, ChoosePageAfterUninstall(kUninstallRemoved));
  EXPECT_EQ(PAGE_RESTART_GUIDANCE, ChoosePageAfterUninstall(kUninstallNeedsRestart));
  EXPECT_EQ(PAGE_ABORTED, ChoosePageAfterUninstall(kUninstallStillInstalled));
  EXPECT_STREQ("aborted", GetPageName(PAGE_ABORTED));
  EXPECT_STREQ("unknown", GetPageName(kPageCount));
}

// One item of each kind in a given state, restored by each rule.
struct ItemRow {
  const char* what;
  ItemState live;
  RestoreMode mode;
  StepKind log, settings, autoRun;
};

const ItemRow kItemRows[] = {
    // The overlay right after the new setup: the saved versions take their places.
    {"overlay, nothing in place", S::kAbsent, RestoreMode::kOverlay, K::kPutLogBack,
     K::kLaySettingsOver, K::kWriteAutoRunBack},
    {"overlay, the new release's own in place", S::kDifferent, RestoreMode::kOverlay,
     K::kPutLogBack, K::kLaySettingsOver, K::kWriteAutoRunBack},
    {"overlay, as saved", S::kSame, RestoreMode::kOverlay, K::kDropSavedLog, K::kLaySettingsOver,
     K::kWriteAutoRunBack},
    // Everywhere else: what is missing comes back, what is in place stays.
    {"merge, nothing in place", S::kAbsent, RestoreMode::kMerge, K::kPutLogBack,
     K::kPutSettingsBack, K::kWriteAutoRunBack},
    {"merge, as saved", S::kSame, RestoreMode::kMerge, K::kDropSavedLog, K::kDropSnapshot,
     K::kDropAutoRunRecord},
    {"merge, the log grown since", S::kContinued, RestoreMode::kMerge, K::kDropSavedLog,
     K::kDropSnapshot, K::kDropAutoRunRecord},
    {"merge, changed since", S::kDifferent, RestoreMode::kMerge, K::kKeepLogBeside,
     K::kKeepSettingsBeside, K::kKeepAutoRunBeside},
    {"merge, the hive not loaded", S::kNotLoaded, RestoreMode::kMerge, K::kKeepLogBeside,
     K::kSettingsToProfile, K::kAutoRunToProfile},
    {"overlay, the hive not loaded", S::kNotLoaded, RestoreMode::kOverlay, K::kPutLogBack,
     K::kSettingsToProfile, K::kAutoRunToProfile},
};

TEST(UpdatePlan, EachItemIsRestoredByItsRule) {
  for (const ItemRow& row : kItemRows) {
    SCOPED_TRACE(row.what);
    MachineReading reading;
    reading.productInstalled = reading.productCurrent = reading.marking = true;
    reading.backupRecorded = reading.backupPresent = true;
    reading.logs.push_back(Log("Tidemark.log", row.live));
    reading.settings.push_back(Item("S-1-5-21-1", row.live));
    reading.autoRuns.push_back(Item("S-1-5-21-1", row.live));
    const std::vector<std::string> expected = {Name(row.log), Name(K::kDropBackup),
                                               Name(row.settings), Name(row.autoRun),
                                               Name(K::kStartProduct)};
    const Plan plan = PlanRestore(reading, row.mode, true);
    EXPECT_EQ(expected, Steps(plan));
    EXPECT_EQ(row.mode, plan.mode);
    // The product is asked to close only for a log to be written into its folder.
    const bool writesLog = row.log != K::kDropSavedLog;
    EXPECT_EQ(writesLog, PlanWritesProductFiles(plan));
  }
}

TEST(UpdatePlan, EveryUserAndEverySavedLogIsSettledOnItsOwn) {
  MachineReading reading;
  reading.productInstalled = reading.productCurrent = reading.marking = true;
  reading.backupRecorded = reading.backupPresent = true;
  // A dated log the updater once put back, and a recorded copy that has gone from the backup.
  reading.logs.push_back(Log("Tidemark.log", S::kContinued));
  reading.logs.push_back(Log("Tidemark_20261201-090000.log", S::kAbsent));
  reading.logs.push_back(Log("Tidemark_20261202-090000.log", S::kAbsent, false));
  reading.settings.push_back(Item("S-1-5-21-1", S::kNotLoaded));
  reading.settings.push_back(Item("S-1-5-21-2", S::kDifferent));
  reading.autoRuns.push_back(Item("", S::kAbsent, false));
  reading.autoRuns.push_back(Item("S-1-5-21-1", S::kNotLoaded));
  reading.autoRuns.push_back(Item("S-1-5-21-2", S::kAbsent));
  const std::vector<std::string> expected = {
      Name(K::kDropSavedLog, 0),       Name(K::kPutLogBack, 1),
      Name(K::kLogCopyMissing, 2),     Name(K::kDropBackup),
      Name(K::kSettingsToProfile, 0),  Name(K::kKeepSettingsBeside, 1),
      Name(K::kDropUnusableRecord, 0), Name(K::kAutoRunToProfile, 1),
      Name(K::kWriteAutoRunBack, 2),
  };
  EXPECT_EQ(expected, Steps(PlanRestore(reading, RestoreMode::kMerge, false)));
}

TEST(UpdatePlan, ARecordedBackupThatHasGoneIsAFailureNeverRestored) {
  MachineReading reading;
  reading.backupRecorded = true;
  reading.logs.push_back(Log("Tidemark.log", S::kAbsent));
  const std::vector<std::string> missing = {Name(K::kLogCopyMissing), Name(K::kDropBackup)};
  EXPECT_EQ(missing, Steps(PlanRestore(reading, RestoreMode::kOverlay, false)));
  // A record that names anything but the work folder's backup is damaged: only it goes.
  reading.backupDamaged = true;
  const std::vector<std::string> damaged = {Name(K::kDropBackup)};
  EXPECT_EQ(damaged, Steps(PlanRestore(reading, RestoreMode::kOverlay, false)));
}

TEST(UpdatePlan, ARestoreOnlyStartOverlaysUntilARestoreHasWaited) {
  MachineReading reading;
  reading.marking = true;
  EXPECT_EQ(RestoreMode::kOverlay, ChooseRestoreMode(reading));
  reading.restoreWaited = true;
  EXPECT_EQ(RestoreMode::kMerge, ChooseRestoreMode(reading));
  // Only waiting users' items are left (Marking gone): what they set since stays.
  reading.marking = false;
  reading.restoreWaited = false;
  EXPECT_EQ(RestoreMode::kMerge, ChooseRestoreMode(reading));
}

// The clean-up when the wizard ends, on what the update left.
struct CleanUpRow {
  const char* what;
  bool installed, current, marking, programsRunning;
  ItemState log, settings, autoRun;  // kAbsent with nothing saved: see saved
  bool saved;
  std::vector<std::string> plan;
};

TEST(UpdatePlan, TheCleanUpSettlesAndKeepsWhatIsStillNeeded) {
  const std::vector<CleanUpRow> rows = {
      {"nothing saved",
       true,
       false,
       true,
       false,
       S::kAbsent,
       S::kAbsent,
       S::kAbsent,
       false,
       {Name(K::kDiscardState)}},
      {"after a failed uninstaller, everything in place",
       true,
       false,
       true,
       false,
       S::kSame,
       S::kSame,
       S::kSame,
       true,
       {Name(K::kDropSavedLog), Name(K::kDropBackup), Name(K::kDropSnapshot),
        Name(K::kDropAutoRunRecord), Name(K::kDiscardState)}},
      {"after a failed uninstaller that removed everything",
       true,
       false,
       true,
       false,
       S::kAbsent,
       S::kAbsent,
       S::kAbsent,
       true,
       {Name(K::kPutLogBack), Name(K::kDropBackup), Name(K::kPutSettingsBack),
        Name(K::kWriteAutoRunBack), Name(K::kDiscardState)}},
      // A week of work with the old release after a failed attempt, then Cancel on the
      // introduction page: the week's versions stay, the first attempt's are kept beside.
      {"cancelled a week after a failed attempt",
       true,
       false,
       true,
       false,
       S::kContinued,
       S::kDifferent,
       S::kDifferent,
       true,
       {Name(K::kDropSavedLog), Name(K::kDropBackup), Name(K::kKeepSettingsBeside),
        Name(K::kKeepAutoRunBeside), Name(K::kDiscardState)}},
      {"the uninstaller or the product still runs",
       true,
       false,
       true,
       true,
       S::kAbsent,
       S::kAbsent,
       S::kAbsent,
       true,
       {Name(K::kKeepState)}},
      // A logged-off user's saved Run value is never taken for one in place.
      {"a logged-off user's Run value",
       true,
       false,
       true,
       false,
       S::kSame,
       S::kSame,
       S::kNotLoaded,
       true,
       {Name(K::kDropSavedLog), Name(K::kDropBackup), Name(K::kDropSnapshot),
        Name(K::kAutoRunToProfile), Name(K::kKeepStateAndResume)}},
      {"the old release gone",
       false,
       false,
       true,
       false,
       S::kAbsent,
       S::kAbsent,
       S::kAbsent,
       true,
       {Name(K::kKeepState)}},
      {"the new release in, the restore left",
       true,
       true,
       true,
       false,
       S::kAbsent,
       S::kAbsent,
       S::kAbsent,
       true,
       {Name(K::kKeepStateAndResume)}},
      {"the update done, a logged-off user's settings wait",
       true,
       true,
       false,
       false,
       S::kAbsent,
       S::kNotLoaded,
       S::kSame,
       true,
       {Name(K::kPutLogBack), Name(K::kDropBackup), Name(K::kSettingsToProfile),
        Name(K::kDropAutoRunRecord), Name(K::kKeepStateAndResume)}},
  };
  for (const CleanUpRow& row : rows) {
    SCOPED_TRACE(row.what);
    MachineReading reading;
    reading.productInstalled = row.installed;
    reading.productCurrent = row.current;
    reading.marking = row.marking;
    reading.programsRunning = row.programsRunning;
    if (row.saved) {
      reading.backupRecorded = reading.backupPresent = true;
      reading.logs.push_back(Log("Tidemark.log", row.log));
      reading.settings.push_back(Item("S-1-5-21-1", row.settings));
      reading.autoRuns.push_back(Item("S-1-5-21-1", row.autoRun));
    }
    EXPECT_EQ(row.plan, Steps(PlanCleanUp(reading)));
  }
}

// A user who no longer exists ends the wait: what was saved goes into a kept file.
TEST(UpdatePlan, AUserWhoNoLongerExistsEndsTheWait) {
  MachineReading reading;
  reading.productInstalled = reading.productCurrent = true;
  SavedUserItem gone = Item("S-1-5-21-9", S::kNotLoaded);
  gone.userGone = true;
  reading.settings.push_back(gone);
  reading.autoRuns.push_back(gone);
  const std::vector<std::string> expected = {Name(K::kSettingsToKeptFile),
                                             Name(K::kAutoRunToKeptFile), Name(K::kDiscardState)};
  EXPECT_EQ(expected, Steps(PlanCleanUp(reading)));
  // One who may log on again still holds it.
  reading.settings.push_back(Item("S-1-5-21-8", S::kNotLoaded));
  EXPECT_EQ(Name(K::kKeepStateAndResume), Steps(PlanCleanUp(reading)).back());
}

TEST(UpdatePlan, ALaterRunSettlesTheEarlierAttemptByTheMergeRule) {
  MachineReading reading;
  reading.productInstalled = reading.marking = reading.restoreWaited = true;
  reading.backupRecorded = reading.backupPresent = true;
  reading.logs.push_back(Log("Tidemark.log", S::kDifferent));
  reading.settings.push_back(Item("S-1-5-21-1", S::kDifferent));
  reading.autoRuns.push_back(Item("S-1-5-21-1", S::kAbsent));
  const Plan plan = PlanSettleEarlierAttempt(reading);
  const std::vector<std::string> expected = {Name(K::kKeepLogBeside), Name(K::kDropBackup),
                                             Name(K::kKeepSettingsBeside),
                                             Name(K::kWriteAutoRunBack)};
  EXPECT_EQ(expected, Steps(plan));
  EXPECT_EQ(RestoreMode::kMerge, plan.mode);
}

}  // namespace
