#include "engine/plan/update_plan.h"

namespace {

// Items that wait for a user who may log on again.
bool AnyWaiting(const base::HeapArray<SavedUserItem>& items) {
  for (const SavedUserItem& item : items) {
    if (item.live == ItemState::kNotLoaded && item.usable && !item.userGone) return true;
  }
  return false;
}

void PlanLogs(const MachineReading& reading, RestoreMode mode, Plan* plan) {
  if (!reading.backupRecorded) return;
  if (reading.backupDamaged) {
    plan->Add(StepKind::kDropBackup, 0, "the record names no backup of this update");
    return;
  }
  if (!reading.backupPresent) {
    plan->Add(StepKind::kLogCopyMissing, 0, "the recorded backup is not there");
    plan->Add(StepKind::kDropBackup, 0, "nothing can bring the saved copies back");
    return;
  }
  for (size_t i = 0; i < reading.logs.size(); ++i) {
    const SavedLog& log = reading.logs[i];
    if (!log.copyPresent) {
      plan->Add(StepKind::kLogCopyMissing, i, "the saved copy is not in the backup as recorded");
      continue;
    }
    switch (log.live) {
      case ItemState::kAbsent:
        plan->Add(StepKind::kPutLogBack, i, "no log of that name is in the product folder");
        break;
      case ItemState::kSame:
        plan->Add(StepKind::kDropSavedLog, i, "the log in place is the saved one");
        break;
      case ItemState::kContinued:
        plan->Add(StepKind::kDropSavedLog, i, "the log in place is the saved one, grown since");
        break;
      case ItemState::kDifferent:
      case ItemState::kNotLoaded:
        if (mode == RestoreMode::kOverlay) {
          plan->Add(StepKind::kPutLogBack, i,
                    "the log in place is the one the new release's setup made");
        } else {
          plan->Add(StepKind::kKeepLogBeside, i, "another log is in place and stays");
        }
        break;
    }
  }
  plan->Add(StepKind::kDropBackup, 0, "every saved log is back or beside the one in place");
}

void PlanSettings(const MachineReading& reading, RestoreMode mode, Plan* plan) {
  for (size_t i = 0; i < reading.settings.size(); ++i) {
    const ItemState live = reading.settings[i].live;
    if (live == ItemState::kNotLoaded && reading.settings[i].userGone) {
      plan->Add(StepKind::kSettingsToKeptFile, i, "the user no longer exists");
    } else if (live == ItemState::kNotLoaded) {
      plan->Add(StepKind::kSettingsToProfile, i, "the user's hive is not loaded");
    } else if (mode == RestoreMode::kOverlay) {
      plan->Add(StepKind::kLaySettingsOver, i, "the first restore after the new release's setup");
    } else if (live == ItemState::kAbsent) {
      plan->Add(StepKind::kPutSettingsBack, i, "no settings are in place");
    } else if (live == ItemState::kDifferent) {
      plan->Add(StepKind::kKeepSettingsBeside, i, "the settings in place differ and stay");
    } else {
      plan->Add(StepKind::kDropSnapshot, i, "the settings in place hold everything saved");
    }
  }
}

void PlanAutoRuns(const MachineReading& reading, RestoreMode mode, Plan* plan) {
  for (size_t i = 0; i < reading.autoRuns.size(); ++i) {
    const SavedUserItem& entry = reading.autoRuns[i];
    if (!entry.usable) {
      plan->Add(StepKind::kDropUnusableRecord, i, "the record names no user or holds no command");
    } else if (entry.live == ItemState::kNotLoaded && entry.userGone) {
      plan->Add(StepKind::kAutoRunToKeptFile, i, "the user no longer exists");
    } else if (entry.live == ItemState::kNotLoaded) {
      plan->Add(StepKind::kAutoRunToProfile, i, "the user's hive is not loaded");
    } else if (mode == RestoreMode::kOverlay) {
      plan->Add(StepKind::kWriteAutoRunBack, i, "the first restore after the new release's setup");
    } else if (entry.live == ItemState::kAbsent) {
      plan->Add(StepKind::kWriteAutoRunBack, i, "no Run value is in place");
    } else if (entry.live == ItemState::kDifferent) {
      plan->Add(StepKind::kKeepAutoRunBeside, i, "the Run value in place differs and stays");
    } else {
      plan->Add(StepKind::kDropAutoRunRecord, i, "the Run value in place is the saved one");
    }
  }
}

// The merge of what an earlier attempt saved, then the state's fate: discarded once everything
// is back or beside what is in place, kept with the resume entry while a user's items wait.
Plan SettleThenEnd(const MachineReading& reading) {
  Plan plan = PlanRestore(reading, RestoreMode::kMerge, false);
  if (AnyWaiting(reading.settings) || AnyWaiting(reading.autoRuns)) {
    plan.Add(StepKind::kKeepStateAndResume, 0, "some users' items wait until their hive is loaded");
  } else {
    plan.Add(StepKind::kDiscardState, 0, "everything saved is back or beside what is in place");
  }
  return plan;
}

}  // namespace

const char* GetPageName(int index) {
  static const char* const kNames[] = {"introduction",     "uninstall", "install",
                                       "restart guidance", "completed", "aborted"};
  static_assert(sizeof(kNames) / sizeof(kNames[0]) == kPageCount, "one name for each page");
  return index >= 0 && index < kPageCount ? kNames[index] : "unknown";
}

const char* GetUpdateStageName(UpdateStage stage) {
  switch (stage) {
    case kStageNothingToDo:
      return "nothing to do";
    case kStageUninstallPending:
      return "uninstall pending";
    case kStageRestartPending:
      return "restart pending";
    case kStageInstallPending:
      return "install pending";
    case kStageRestorePending:
      return "restore pending";
  }
  return "unknown";
}

const char* GetItemStateName(ItemState state) {
  switch (state) {
    case ItemState::kAbsent:
      return "absent";
    case ItemState::kSame:
      return "as saved";
    case ItemState::kContinued:
      return "the saved one grown";
    case ItemState::kDifferent:
      return "different";
    case ItemState::kNotLoaded:
      return "hive not loaded";
  }
  return "unknown";
}

const char* GetUninstallOutcomeName(int outcome) {
  switch (outcome) {
    case kUninstallRemoved:
      return "removed";
    case kUninstallNeedsRestart:
      return "restart needed";
    case kUninstallStillInstalled:
      return "still installed";
  }
  return "unknown";
}

const char* GetStepName(StepKind kind) {
  switch (kind) {
    case StepKind::kPutLogBack:
      return "put the log back";
    case StepKind::kKeepLogBeside:
      return "keep the saved log beside";
    case StepKind::kDropSavedLog:
      return "drop the saved log";
    case StepKind::kLogCopyMissing:
      return "saved log missing";
    case StepKind::kDropBackup:
      return "drop the backup";
    case StepKind::kLaySettingsOver:
      return "lay the settings over";
    case StepKind::kPutSettingsBack:
      return "put the settings back";
    case StepKind::kKeepSettingsBeside:
      return "keep the saved settings beside";
    case StepKind::kDropSnapshot:
      return "drop the settings snapshot";
    case StepKind::kSettingsToProfile:
      return "settings into the profile's hive";
    case StepKind::kSettingsToKeptFile:
      return "settings into a kept file";
    case StepKind::kAutoRunToKeptFile:
      return "autorun entry into a kept file";
    case StepKind::kWriteAutoRunBack:
      return "write the autorun entry back";
    case StepKind::kKeepAutoRunBeside:
      return "keep the saved autorun entry beside";
    case StepKind::kDropAutoRunRecord:
      return "drop the autorun record";
    case StepKind::kDropUnusableRecord:
      return "drop an unusable autorun record";
    case StepKind::kAutoRunToProfile:
      return "autorun entry into the profile's hive";
    case StepKind::kStartProduct:
      return "start the product";
    case StepKind::kDiscardState:
      return "discard the updater's state";
    case StepKind::kKeepState:
      return "keep the updater's state";
    case StepKind::kKeepStateAndResume:
      return "keep the updater's state and the resume entry";
  }
  return "unknown";
}

bool HasSavedUserState(const MachineReading& reading) {
  return reading.backupRecorded || !reading.settings.empty() || !reading.autoRuns.empty();
}

bool HasWaitingUserItems(const MachineReading& reading) {
  if (reading.marking) return false;
  if (!reading.settings.empty()) return true;
  // A record that names no user or holds nothing can never be restored: nothing waits for it.
  for (const SavedUserItem& entry : reading.autoRuns) {
    if (entry.usable) return true;
  }
  return false;
}

UpdateStage GetStage(const MachineReading& reading) {
  if (!reading.productInstalled) {
    return reading.restartPending ? kStageRestartPending : kStageInstallPending;
  }
  if (!reading.productCurrent) return kStageUninstallPending;
  return reading.marking || HasWaitingUserItems(reading) ? kStageRestorePending : kStageNothingToDo;
}

int ChooseStartPage(const MachineReading& reading) {
  const UpdateStage stage = GetStage(reading);
  // Without Marking no update of ours is under way, whatever the machine looks like: the user
  // starts from the introduction page. Items that still wait for their user's hive are the
  // exception: only their restore is left.
  if (!reading.marking && stage != kStageRestorePending) return PAGE_INTRODUCTION;
  switch (stage) {
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

int ChoosePageAfterIntroduction(const MachineReading& reading) {
  switch (GetStage(reading)) {
    case kStageNothingToDo:
    case kStageRestorePending:
      return PAGE_NONE;
    case kStageUninstallPending:
      return PAGE_UNINSTALL;
    case kStageRestartPending:
      return PAGE_RESTART_GUIDANCE;
    case kStageInstallPending:
      return PAGE_INSTALL;
  }
  return PAGE_NONE;
}

int ChoosePageAfterUninstall(int uninstallOutcome) {
  switch (uninstallOutcome) {
    case kUninstallRemoved:
      return PAGE_INSTALL;
    case kUninstallNeedsRestart:
      return PAGE_RESTART_GUIDANCE;
    default:
      return PAGE_ABORTED;
  }
}

RestoreMode ChooseRestoreMode(const MachineReading& reading) {
  return reading.marking && !reading.restoreWaited ? RestoreMode::kOverlay : RestoreMode::kMerge;
}

Plan PlanRestore(const MachineReading& reading, RestoreMode mode, bool startProduct) {
  Plan plan;
  plan.mode = mode;
  PlanLogs(reading, mode, &plan);
  PlanSettings(reading, mode, &plan);
  PlanAutoRuns(reading, mode, &plan);
  if (startProduct) plan.Add(StepKind::kStartProduct, 0, "the user's data is back");
  return plan;
}

bool PlanWritesProductFiles(const Plan& plan) {
  for (const PlanStep& step : plan.steps) {
    if (step.kind == StepKind::kPutLogBack || step.kind == StepKind::kKeepLogBeside) {
      return true;
    }
  }
  return false;
}

Plan PlanSettleEarlierAttempt(const MachineReading& reading) {
  return PlanRestore(reading, RestoreMode::kMerge, false);
}

Plan PlanCleanUp(const MachineReading& reading) {
  Plan plan;
  if (!HasSavedUserState(reading)) {
    plan.Add(StepKind::kDiscardState, 0, "nothing of the user's is saved");
    return plan;
  }
  if (!reading.marking) return SettleThenEnd(reading);
  switch (GetStage(reading)) {
    case kStageRestartPending:
    case kStageInstallPending:
      plan.Add(StepKind::kKeepState, 0,
               "the old release is gone: the saved state is the user's only copy");
      return plan;
    case kStageRestorePending:
      plan.Add(StepKind::kKeepStateAndResume, 0, "the new release is in; its restore is left");
      return plan;
    case kStageUninstallPending:
    case kStageNothingToDo:
      break;
  }
  if (reading.programsRunning) {
    plan.Add(StepKind::kKeepState, 0,
             "the uninstaller or a program from the product folder still runs");
    return plan;
  }
  return SettleThenEnd(reading);
}
