// Carries out a plan of engine/plan: each step in order, each logged with its reason. An item
// step that fails is logged and shown where it fails and does not stop the other items; what
// depends on all of them (dropping the backup, discarding the state) is then left for the next
// start, with the saved state kept.
#ifndef ENGINE_APPLY_PLAN_H_
#define ENGINE_APPLY_PLAN_H_

#include "engine/plan/update_plan.h"

struct ApplyResult {
  bool everythingBack = true;  // no step failed and no saved copy was missing
  bool backupMissing = false;  // a recorded saved log was not there: it can never come back
  bool itemsWait = false;      // a user's settings or autorun entry waits for their hive
  bool stepFailed = false;     // a step failed (its message was shown); the state stays
};

ApplyResult ApplyPlan(const Plan& plan, const MachineReading& reading);

// The restore as a whole: reads the machine, plans the restore by the mode and carries it out.
ApplyResult RestoreSavedState(RestoreMode mode, bool startProduct);

#endif  // ENGINE_APPLY_PLAN_H_
