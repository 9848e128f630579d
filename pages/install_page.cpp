#include "pages/install_page.h"

#include "base/bounded_string.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/payload.h"
#include "engine/process_runner.h"
#include "engine/product_probe.h"
#include "engine/resume.h"
#include "engine/apply_plan.h"
#include "framework/app.h"
#include "pages/close_product_prompt.h"
#include "res/resource.h"

CWizardInstallPage::CWizardInstallPage()
    : CWizardPage(IDD_INSTALL, IDS_INSTALL_TITLE, IDS_INSTALL_SUBTITLE) {}

BOOL CWizardInstallPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  // Whether this run resumed after a restart or came from the uninstall page, the resume
  // registration has done its work once this page exists and setup is still to run. When only the
  // restore is left, it stays until the restore has put everything back.
  if (!IsOnlyRestoreLeft()) RegisterResume(FALSE);
  return TRUE;
}

BOOL CWizardInstallPage::OnSetActive() {
  SetWizardButtons(PSWIZB_NEXT);
  const BOOL result = CWizardPage::OnSetActive();
  // With the old release gone and the user's data saved, the work has begun: ending the wizard
  // from here leaves the update unfinished, not cancelled.
  if (HasSavedUserState(CurrentReading())) SetRunExitCode(ExitCode::kFailed);
  if (IsOnlyRestoreLeft()) {
    // The new release is already in (an earlier run ended after its setup): only the restore is
    // left, and it runs with the wizard in view, as after a setup of this run.
    SetWizardButtons(0);
    EnableWindow(GetDlgItem(GetSheetWindow(), IDCANCEL), FALSE);
    SetBusy(TRUE);
    PostMessageA(m_hWnd, WM_RESTORE_ONLY, 0, 0);
  }
  return result;
}

LRESULT CWizardInstallPage::OnWizardNext() {
  // One setup at a time: a second extraction would empty the folder the running setup uses.
  if (IsWorkRunning()) return -1;
  BeginWork();
  if (!StartInstall(m_hWnd, m_strSetupFolder)) EndWork();
  return -1;
}

BOOL CWizardInstallPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // The restore follows the setup's end or, when the new release is already in, this page's
  // activation; either way it runs once the page is in view.
  if (message != WM_WORKER_DONE && message != WM_RESTORE_ONLY) return FALSE;
  *result = OnWorkerDone(wParam, lParam);
  return TRUE;
}

LRESULT CWizardInstallPage::OnWorkerDone(WPARAM, LPARAM) {
  const bool afterSetup = !m_strSetupFolder.empty();
  if (afterSetup) DeleteExtractedPayload(m_strSetupFolder.c_str());
  // In view again for the prompt and the restore, but still at work until the next page is
  // chosen: a press meanwhile starts no second setup.
  ShowWindow(GetSheetWindow(), SW_RESTORE);
  // The setup (when one ran) changed the machine: what follows is decided on a new reading.
  if (afterSetup) ReadMachineAgain("after the setup");
  const MachineReading& reading = CurrentReading();
  if (!reading.productInstalled) {
    RunLogWrite("setup ended without the product installed");
    EndWork();
    SelectPage(TakeRestoreResult(FALSE));
    return 0;
  }
  // Right after this run's setup the saved state is laid over what the new release made; a
  // restore that waited keeps what is in place.
  const RestoreMode mode = afterSetup ? RestoreMode::kOverlay : ChooseRestoreMode(reading);
  // The product is asked to close only when a log file of its folder is to be written: a running
  // product would hold it open, or write over it when it closes. A fresh installation leaves the
  // product that setup started running.
  const Plan plan = PlanRestore(reading, mode, true);
  const bool asked = PlanWritesProductFiles(plan);
  if (asked) {
    if (!AskUntilProductClosed()) {
      RunLogWrite("restore: not now; the product still runs");
      NoteRestoreWaited();
      EndWork();
      SelectPage(PAGE_ABORTED);
      return 0;
    }
  }
  // The log files go back before the settings and the autorun entries; each item makes what it
  // wrote durable before it drops its own record. A product closed on request may have written
  // its log as it closed, so the restore then reads the machine again. Marking goes last, only
  // when everything is back: otherwise the saved state stays, the resume entry with it, and the
  // next logon restores it without running setup again.
  const ApplyResult result = asked ? RestoreSavedState(mode, true) : ApplyPlan(plan, reading);
  if (result.backupMissing) {
    // The engine has logged it; the user is told the saved log is lost, never that all is well.
    char text[1024];
    if (base::FormatBounded(text, sizeof(text), AfxLoadString(IDS_BACKUP_MISSING).text,
                            product::kLogFile)) {
      AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    }
  }
  RunLogWrite("restore: %s%s",
              result.everythingBack ? "everything saved is back" : "NOT everything is back",
              result.itemsWait ? "; some users' items wait for their hive" : "");
  if (result.itemsWait) NoteRestoreWaited();
  // What is left saved decides whether the resume entry stays: the restore changed the machine.
  if (!result.everythingBack) ReadMachineAgain("after the restore");
  KeepResumeUntilRestored(result.everythingBack ? TRUE : FALSE,
                          HasSavedUserState(CurrentReading()) ? TRUE : FALSE);
  const int next = TakeRestoreResult(result.everythingBack ? TRUE : FALSE);
  EndWork();
  SelectPage(next);
  return 0;
}
