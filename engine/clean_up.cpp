#include "engine/clean_up.h"

#include "engine/apply_plan.h"
#include "engine/machine_reading.h"

namespace {

// Set once the restart-guidance page has been shown; never cleared.
bool g_keepUpdaterState = false;

}  // namespace

void SetKeepUpdaterState() { g_keepUpdaterState = true; }
bool IsKeepingUpdaterState() { return g_keepUpdaterState; }

bool SettleEarlierAttempt() {
  const MachineReading reading = ReadMachine();
  if (!reading.marking || !HasSavedUserState(reading)) return true;
  LogReading("an earlier attempt's saved state is settled before the capture", reading);
  // A saved copy that has gone does not stop the capture: nothing can bring it back.
  return !ApplyPlan(PlanSettleEarlierAttempt(reading), reading).stepFailed;
}

void DiscardUpdaterState() {
  if (IsKeepingUpdaterState()) return;
  const MachineReading reading = ReadMachine();
  LogReading("clean-up", reading);
  ApplyPlan(PlanCleanUp(reading), reading);
}
