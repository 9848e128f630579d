// What happens to the updater's saved state between attempts and when the wizard ends: a later
// run settles what an earlier attempt saved before it captures afresh, and the final clean-up
// settles, keeps or discards the state by the plan of engine/plan.
#ifndef ENGINE_CLEAN_UP_H_
#define ENGINE_CLEAN_UP_H_

// Before a later run's capture: what an earlier attempt saved is settled by the merge rule (read,
// planned and carried out here). TRUE when nothing was saved, or everything of it is back or kept
// beside what is in place (a user's items that wait for their hive stay saved); FALSE when a step
// failed (its message was shown): the capture must not start.
bool SettleEarlierAttempt();

// The final clean-up, when the wizard ends: reads the machine, plans the clean-up and carries it
// out. Does nothing once the keep-state flag is set.
void DiscardUpdaterState();

// The keep-state flag: set when the restart-guidance page is shown, never cleared.
void SetKeepUpdaterState();
bool IsKeepingUpdaterState();

#endif  // ENGINE_CLEAN_UP_H_
