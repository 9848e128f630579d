// The pages' side of every transition: the shared reading, and what a transition writes (Marking,
// the resume entry). Which page follows is decided by engine/plan.
#include "pages/page_flow.h"

#include "engine/core/settings_store.h"
#include "engine/machine_reading.h"
#include "engine/resume.h"

namespace {

BOOL g_busy = FALSE;
MachineReading g_reading;
ExitCode g_exitCode = ExitCode::kCancelled;

}  // namespace

void SetBusy(BOOL busy) { g_busy = busy; }
BOOL IsBusy() { return g_busy; }
void SetRunExitCode(ExitCode code) { g_exitCode = code; }
ExitCode GetRunExitCode() { return g_exitCode; }

const MachineReading& CurrentReading() { return g_reading; }

void ReadMachineAgain(const char* when) {
  g_reading = ReadMachine();
  LogReading(when, g_reading);
}

int GetStartPage() { return ChooseStartPage(g_reading); }

int TakeIntroductionNext() {
  const int next = ChoosePageAfterIntroduction(g_reading);
  if (next == PAGE_NONE) return PAGE_NONE;
  SetMarking(TRUE);
  g_reading.marking = true;
  // The old release's removal still waits for a restart: the new release would lose files to it.
  // The update is registered to go on by itself after that restart.
  if (next == PAGE_RESTART_GUIDANCE) RegisterResume(TRUE);
  return next;
}

BOOL IsOnlyRestoreLeft() { return GetStage(g_reading) == kStageRestorePending ? TRUE : FALSE; }

int TakeRestoreResult(BOOL everythingBack) {
  if (!everythingBack) {
    NoteRestoreWaited();
    return PAGE_ABORTED;
  }
  SetMarking(FALSE);
  return PAGE_COMPLETED;
}

void NoteRestoreWaited() {
  WriteUpdaterDword(nullptr, updater_value::kRestoreWaited, 1, FALSE);
  g_reading.restoreWaited = true;
}
