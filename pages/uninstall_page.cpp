#include "pages/uninstall_page.h"

#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/disk_cost.h"
#include "engine/process_runner.h"
#include "engine/product_probe.h"
#include "engine/clean_up.h"
#include "engine/resume.h"
#include "engine/update_stage.h"
#include "pages/close_product_prompt.h"
#include "res/resource.h"

CWizardUninstallPage::CWizardUninstallPage()
    : CWizardPage(IDD_UNINSTALL, IDS_UNINSTALL_TITLE, IDS_UNINSTALL_SUBTITLE) {}

BOOL CWizardUninstallPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  SetFormattedText(IDC_UNINSTALL_BODY, IDS_UNINSTALL_BODY, product::kDisplayName);
  return TRUE;
}

BOOL CWizardUninstallPage::OnSetActive() {
  SetWizardButtons(PSWIZB_NEXT);
  return CWizardPage::OnSetActive();
}

LRESULT CWizardUninstallPage::OnWizardNext() {
  // One uninstaller at a time: while one (or setup) runs, a Next starts nothing.
  if (IsWorkRunning()) return -1;
  // The product is closed before its log and settings are saved; Cancel leaves the page as it was.
  if (!AskUntilProductClosed()) return -1;
  // What an earlier attempt saved is settled first, by the rule that keeps what the user has in
  // place; the capture then starts afresh.
  if (!SettleEarlierAttempt()) return -1;
  BeginWork();
  // The disk holds what the rest of the update writes before anything is changed, and the resume
  // entry exists (the launcher and the updater's copy written and checked) before the uninstaller
  // starts, so that a restart it demands finds the entry. When either fails, it does not start.
  if (!CheckDiskSpace(DiskStep::kBeforeUninstall) ||
      !StartUninstall(m_hWnd, [] { return RegisterResume(TRUE); })) {
    EndWork();
  }
  return -1;
}

BOOL CWizardUninstallPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message != WM_WORKER_DONE) return FALSE;
  *result = OnWorkerDone(wParam, lParam);
  return TRUE;
}

LRESULT CWizardUninstallPage::OnWorkerDone(WPARAM, LPARAM) {
  const int outcome = GetUninstallOutcome();
  RunLogWrite("uninstall outcome: %s", GetUninstallOutcomeName(outcome));
  ReadMachineAgain("after the uninstaller");
  // At work until the next page is chosen: no press meanwhile starts a second uninstaller.
  EndWork();
  SelectPage(ChoosePageAfterUninstall(outcome));
  return 0;
}
