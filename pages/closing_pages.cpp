#include "pages/closing_pages.h"

#include "engine/core/product_constants.h"
#include "engine/clean_up.h"
#include "engine/core/run_log.h"
#include "engine/resume.h"
#include "res/resource.h"

CWizardRestartGuidancePage::CWizardRestartGuidancePage()
    : CWizardPage(IDD_RESTART_GUIDANCE, IDS_RESTART_TITLE, IDS_RESTART_SUBTITLE) {}

BOOL CWizardRestartGuidancePage::OnSetActive() {
  ShowFinishOnly(IDS_FINISH_CLOSE);
  SetRunExitCode(ExitCode::kRestartNeeded);
  // From here on nothing the run after the restart needs may be discarded, however this run ends.
  SetKeepUpdaterState();
  // The page says the work resumes by itself after the restart only while the resume entry is in
  // place; otherwise the user starts the updater again after the restart.
  const BOOL registered = IsResumeRegistered();
  if (!registered) RunLogWrite("restart page: no resume entry; it promises no automatic resume");
  ShowWindow(GetDlgItem(m_hWnd, IDC_RESTART_RESUMES), registered ? SW_SHOW : SW_HIDE);
  return CWizardPage::OnSetActive();
}

CWizardFinalPage::CWizardFinalPage(UINT templateId, UINT titleId, UINT subTitleId,
                                   int bodyControlId, UINT bodyStringId, UINT finishTextId,
                                   ExitCode exitCode)
    : CWizardPage(templateId, titleId, subTitleId),
      m_bodyControlId(bodyControlId),
      m_bodyStringId(bodyStringId),
      m_finishTextId(finishTextId),
      m_exitCode(exitCode) {}

BOOL CWizardFinalPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  SetFormattedText(m_bodyControlId, m_bodyStringId, product::kDisplayName);
  return TRUE;
}

BOOL CWizardFinalPage::OnSetActive() {
  ShowFinishOnly(m_finishTextId);
  SetRunExitCode(m_exitCode);
  return CWizardPage::OnSetActive();
}

BOOL CWizardFinalPage::OnWizardFinish() {
  DiscardUpdaterState();
  return CWizardPage::OnWizardFinish();
}

CWizardCompletedPage::CWizardCompletedPage()
    : CWizardFinalPage(IDD_COMPLETED, IDS_COMPLETED_TITLE, IDS_COMPLETED_SUBTITLE,
                       IDC_COMPLETED_BODY, IDS_COMPLETED_BODY, IDS_FINISH_DONE,
                       ExitCode::kCompleted) {}

CWizardAbortedPage::CWizardAbortedPage()
    : CWizardFinalPage(IDD_ABORTED, IDS_ABORTED_TITLE, IDS_ABORTED_SUBTITLE, IDC_ABORTED_BODY,
                       IDS_ABORTED_BODY, IDS_FINISH_CLOSE, ExitCode::kFailed) {}
