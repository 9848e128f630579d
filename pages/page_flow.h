// The wizard's page flow: the reading of the machine the pages share, the page a run starts on and
// the page each page's Next leads to (decided by engine/plan from that reading), and the
// process-wide flags the pages share.
#ifndef PAGES_PAGE_FLOW_H_
#define PAGES_PAGE_FLOW_H_

#include <windows.h>

#include "base/exit_code.h"
#include "engine/plan/update_plan.h"

// The reading of the machine the pages decide on: made at start-up and again after each
// external program (ReadMachineAgain), and handed on; no page handler reads the machine itself.
const MachineReading& CurrentReading();
void ReadMachineAgain(const char* when);

// The page a run starts on (ChooseStartPage of the current reading).
int GetStartPage();

// The introduction page's Next: marks the update as under way (and, when the restart is still to
// come, registers the resume) and returns the page that follows; PAGE_NONE when the installed
// release is the same or newer, with nothing written: the wizard ends then.
int TakeIntroductionNext();

// The install page: nonzero when the new release is already in and only the restore is left,
// which then runs at once, without a setup.
BOOL IsOnlyRestoreLeft();

// The install page, once the setup has ended (or none had to run) and the restore has run: with
// everything of the user's back the update is done (Marking goes) and the completed page follows;
// otherwise the aborted page, and the saved state stays for the next start (a restore from then
// on keeps what is in place).
int TakeRestoreResult(BOOL everythingBack);

// A restore that waits (the product still runs, a user's hive is not loaded, a step failed):
// from now on what the user has in place stays, and the saved versions are kept beside it.
void NoteRestoreWaited();

// How the run ends so far (base/exit_code.h): cancelled until a closing page or the up-to-date
// message says more.
void SetRunExitCode(ExitCode code);
ExitCode GetRunExitCode();

// Set while an external program runs; the sheet refuses to be closed meanwhile.
void SetBusy(BOOL busy);
BOOL IsBusy();

#endif  // PAGES_PAGE_FLOW_H_
