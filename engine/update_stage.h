// The two readings that say a restart is still to come. The stage itself is decided from the one
// reading of the machine (engine/machine_reading.h, engine/plan/update_plan.h).
#ifndef ENGINE_UPDATE_STAGE_H_
#define ENGINE_UPDATE_STAGE_H_

#include <windows.h>

#include "engine/plan/update_plan.h"

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

// 2 while the registration or the installer's maintenance folder remains; 1 when the product
// folder still holds entries; 0 otherwise.
int GetUninstallOutcome();

// 1 while a removal under the product folder (or of the folder itself) is still listed in the
// system's PendingFileRenameOperations, i.e. the restart that carries it out has not happened.
int IsRestartPending();

#endif  // ENGINE_UPDATE_STAGE_H_
