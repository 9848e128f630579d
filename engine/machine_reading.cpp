#include "engine/machine_reading.h"

#include "engine/carryover/user_data_backup.h"
#include "engine/carryover/user_state.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/process_runner.h"
#include "engine/product_probe.h"
#include "engine/product_processes.h"
#include "engine/update_stage.h"

MachineReading ReadMachine() {
  MachineReading reading;
  reading.marking = IsMarkingSet() != 0;
  DWORD waited = 0;
  reading.restoreWaited =
      ReadUpdaterDword(nullptr, updater_value::kRestoreWaited, &waited) && waited == 1;
  reading.productInstalled = IsProductInstalled() != 0;
  if (reading.productInstalled) {
    int comparison = 0;
    reading.productCurrent = CompareInstalledVersion(&comparison) && comparison <= 0;
  } else {
    reading.restartPending = IsRestartPending() != 0;
  }
  ReadSavedLogs(&reading);
  ReadSavedSettings(&reading.settings);
  ReadSavedAutoRuns(&reading.autoRuns);
  reading.programsRunning = IsUninstallerRunning() || CountRunningProductProcesses() > 0;
  return reading;
}

void LogReading(const char* when, const MachineReading& reading) {
  RunLogWrite(
      "reading (%s): stage %s%s; saved: %s%u log(s), %u settings snapshot(s), %u autorun "
      "record(s)%s",
      when, GetUpdateStageName(GetStage(reading)),
      reading.marking ? " (an update is under way)" : "",
      reading.backupRecorded && !reading.backupPresent ? "a backup that has gone, " : "",
      static_cast<unsigned>(reading.logs.size()), static_cast<unsigned>(reading.settings.size()),
      static_cast<unsigned>(reading.autoRuns.size()),
      reading.programsRunning ? "; a program of the update still runs" : "");
  for (const SavedLog& log : reading.logs) {
    RunLogWrite("reading: saved log %s%s: %s", log.name.c_str(),
                log.copyPresent ? "" : " (copy missing)", GetItemStateName(log.live));
  }
  for (const SavedUserItem& item : reading.settings) {
    RunLogWrite("reading: settings of %s: %s", item.user.c_str(), GetItemStateName(item.live));
  }
  for (const SavedUserItem& item : reading.autoRuns) {
    RunLogWrite("reading: autorun entry of %s: %s", item.user.c_str(),
                item.usable ? GetItemStateName(item.live) : "unusable record");
  }
}
