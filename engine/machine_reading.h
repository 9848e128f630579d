// The one reading of the machine that the decisions in engine/plan look at: the product's
// registration, version and pending removals, the updater's own records, every saved item of the
// user's as it stands now, and what still runs. It is read at start-up, after each external
// program and before the clean-up, and handed on; nothing decides on a second reading.
#ifndef ENGINE_MACHINE_READING_H_
#define ENGINE_MACHINE_READING_H_

#include "engine/plan/update_plan.h"

MachineReading ReadMachine();

// One line for the run's log: the stage and how many saved items of each kind there are.
void LogReading(const char* when, const MachineReading& reading);

#endif  // ENGINE_MACHINE_READING_H_
