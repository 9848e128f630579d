#include "engine/apply_plan.h"

#include "engine/carryover/user_data_backup.h"
#include "engine/carryover/user_state.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/machine_reading.h"
#include "engine/resume.h"
#include "engine/work_folder.h"

namespace {

// What a step is about, for the run's log.
const char* ItemOf(const PlanStep& step, const MachineReading& reading) {
  switch (step.kind) {
    case StepKind::kPutLogBack:
    case StepKind::kKeepLogBeside:
    case StepKind::kDropSavedLog:
      return reading.logs[step.item].name.c_str();
    case StepKind::kLogCopyMissing:
      return step.item < reading.logs.size() ? reading.logs[step.item].name.c_str() : "backup";
    case StepKind::kLaySettingsOver:
    case StepKind::kPutSettingsBack:
    case StepKind::kKeepSettingsBeside:
    case StepKind::kDropSnapshot:
    case StepKind::kSettingsToProfile:
    case StepKind::kSettingsToKeptFile:
      return reading.settings[step.item].user.c_str();
    case StepKind::kWriteAutoRunBack:
    case StepKind::kKeepAutoRunBeside:
    case StepKind::kDropAutoRunRecord:
    case StepKind::kDropUnusableRecord:
    case StepKind::kAutoRunToProfile:
    case StepKind::kAutoRunToKeptFile:
      return reading.autoRuns[step.item].user.c_str();
    default:
      return "";
  }
}

// The users whose settings or autorun entry wait for their hive, each once.
base::HeapArray<base::Text> WaitingUsers(const MachineReading& reading) {
  base::HeapArray<base::Text> users;
  for (const auto* items : {&reading.settings, &reading.autoRuns}) {
    for (const SavedUserItem& item : *items) {
      if (item.live != ItemState::kNotLoaded || item.userGone) continue;
      bool listed = false;
      for (const base::Text& user : users) listed = listed || user == item.user;
      if (!listed) users.push_back(item.user);
    }
  }
  return users;
}

bool IsLogStep(StepKind kind) {
  return kind == StepKind::kPutLogBack || kind == StepKind::kKeepLogBeside ||
         kind == StepKind::kDropSavedLog;
}

}  // namespace

ApplyResult ApplyPlan(const Plan& plan, const MachineReading& reading) {
  ApplyResult result;
  bool logsFailed = false;
  bool& failed = result.stepFailed;
  ForgetRestoredDesktopEntry();
  for (const PlanStep& step : plan.steps) {
    const char* item = ItemOf(step, reading);
    RunLogWrite("step: %s%s%s (%s)", GetStepName(step.kind), item[0] != '\0' ? ": " : "", item,
                step.why);
    BOOL ok = TRUE;
    switch (step.kind) {
      case StepKind::kPutLogBack:
        ok = PutSavedLogBack(item, LogPlacement::kTakeName);
        break;
      case StepKind::kKeepLogBeside:
        ok = PutSavedLogBack(item, LogPlacement::kBeside);
        break;
      case StepKind::kDropSavedLog:
        ok = DropSavedLog(item);
        break;
      case StepKind::kLogCopyMissing:
        RunLogWrite("restore: FAILED: the saved copy of %s is missing; it cannot be put back",
                    item);
        result.backupMissing = true;
        result.everythingBack = false;
        break;
      case StepKind::kDropBackup:
        if (logsFailed) {
          RunLogWrite("step skipped: a saved log is not back; the backup stays");
        } else {
          ok = DropBackup();
        }
        break;
      case StepKind::kLaySettingsOver:
      case StepKind::kPutSettingsBack:
        ok = RestoreSettingsOf(item, RestoreMode::kOverlay);
        break;
      case StepKind::kKeepSettingsBeside:
        ok = RestoreSettingsOf(item, RestoreMode::kMerge);
        break;
      case StepKind::kDropSnapshot:
        ok = DropSnapshotOf(item);
        break;
      case StepKind::kSettingsToProfile:
        // Not done now is no failure: the snapshot waits for its user's hive.
        if (!RestoreSettingsIntoProfile(item, plan.mode)) result.itemsWait = true;
        break;
      case StepKind::kSettingsToKeptFile:
        ok = KeepSettingsInFile(item);
        break;
      case StepKind::kAutoRunToKeptFile:
        ok = KeepAutoRunInFile(item);
        break;
      case StepKind::kWriteAutoRunBack:
        ok = WriteAutoRunBackOf(item);
        break;
      case StepKind::kKeepAutoRunBeside:
        ok = KeepAutoRunBesideOf(item);
        break;
      case StepKind::kDropAutoRunRecord:
      case StepKind::kDropUnusableRecord:
        ok = DropAutoRunRecordOf(item);
        break;
      case StepKind::kAutoRunToProfile:
        if (!WriteAutoRunIntoProfile(item, plan.mode)) result.itemsWait = true;
        break;
      case StepKind::kStartProduct:
        StartProductWithRestoredEntry();
        break;
      case StepKind::kDiscardState:
        // A saved copy that has gone does not hold the state: nothing can bring it back.
        if (failed) {
          RunLogWrite(
              "clean-up: not everything saved could be settled; the saved state stays for "
              "the next start");
          RegisterResume(FALSE);
          break;
        }
        RegisterResume(FALSE);
        RunLogWrite("clean-up: work folder and updater key removed");
        DiscardWorkFolder();
        DeleteUpdaterKey();
        break;
      case StepKind::kKeepState:
        RunLogWrite("clean-up: the saved state is still needed and stays for the next start");
        RegisterResume(FALSE);
        break;
      case StepKind::kKeepStateAndResume: {
        RunLogWrite("clean-up: the saved state and the resume entry stay for the next logon");
        // With the update itself over, only the logons of the users whose items wait are asked.
        base::HeapArray<base::Text> users;
        if (!reading.marking) users = WaitingUsers(reading);
        RegisterResumeFor(users);
        break;
      }
    }
    if (!ok) {
      RunLogFailure(GetStepName(step.kind), GetLastError());
      result.everythingBack = false;
      failed = true;
      if (IsLogStep(step.kind)) logsFailed = true;
    }
  }
  return result;
}

ApplyResult RestoreSavedState(RestoreMode mode, bool startProduct) {
  const MachineReading reading = ReadMachine();
  LogReading("before the restore", reading);
  return ApplyPlan(PlanRestore(reading, mode, startProduct), reading);
}
