#include "pages/introduction_page.h"

#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "framework/app.h"
#include "res/resource.h"

CWizardIntroductionPage::CWizardIntroductionPage()
    : CWizardPage(IDD_INTRODUCTION, IDS_INTRODUCTION_TITLE, IDS_INTRODUCTION_SUBTITLE) {}

BOOL CWizardIntroductionPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  SetFormattedText(IDC_WELCOME, IDS_WELCOME, product::kDisplayName);
  SetFormattedText(IDC_PURPOSE, IDS_PURPOSE, product::kDisplayName);
  SetFormattedText(IDC_VERSION_AFTER, IDS_VERSION_AFTER, product::kDisplayVersion);
  return TRUE;
}

BOOL CWizardIntroductionPage::OnSetActive() {
  SetWizardButtons(PSWIZB_NEXT);
  return CWizardPage::OnSetActive();
}

LRESULT CWizardIntroductionPage::OnWizardNext() {
  const int next = TakeIntroductionNext();
  if (next != PAGE_NONE) {
    SelectPage(next);
    return -1;
  }
  RunLogWrite("the installed release is the same or newer: nothing to do");
  AfxMessageBox(IDS_UP_TO_DATE, MB_OK | MB_ICONINFORMATION);
  SetRunExitCode(ExitCode::kAlreadyCurrent);
  EndDialog(IDCANCEL);
  return -1;
}
