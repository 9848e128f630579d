#include "pages/wizard_page.h"

#include "base/bounded_string.h"
#include "engine/core/run_log.h"
#include "engine/process_runner.h"
#include "framework/app.h"
#include "framework/property_sheet.h"

BOOL CWizardPage::OnSetActive() {
  const LRESULT index =
      SendMessageA(GetSheetWindow(), PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(m_hWnd), 0);
  RunLogWrite("page shown: %s", GetPageName(static_cast<int>(index)));
  return CPropertyPageEx::OnSetActive();
}

void CWizardPage::SetWizardButtons(DWORD buttons) {
  SendMessageA(GetSheetWindow(), PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(buttons));
}

BOOL CWizardPage::IsWorkRunning() { return IsBusy() || IsProgramFollowed(); }

void CWizardPage::SelectPage(int index) {
  if (GetSheet() != nullptr) GetSheet()->SelectPage(index);
}

void CWizardPage::SetFormattedText(int controlId, UINT stringId, const char* argument) {
  char text[1024];
  if (!base::FormatBounded(text, sizeof(text), AfxLoadString(stringId).text, argument)) return;
  SetDlgItemTextA(m_hWnd, controlId, text);
}

void CWizardPage::ShowFinishOnly(UINT finishTextId) {
  const ResourceString text = AfxLoadString(finishTextId);
  SetWizardButtons(PSWIZB_FINISH);
  SendMessageA(GetSheetWindow(), PSM_SETFINISHTEXT, 0, reinterpret_cast<LPARAM>(text.text));
  ShowWindow(GetDlgItem(GetSheetWindow(), IDCANCEL), SW_HIDE);
}

void CWizardPage::BeginWork() {
  SetWizardButtons(0);
  EnableWindow(GetDlgItem(GetSheetWindow(), IDCANCEL), FALSE);
  SetBusy(TRUE);
  ShowWindow(GetSheetWindow(), SW_HIDE);
}

void CWizardPage::EndWork() {
  SetWizardButtons(PSWIZB_NEXT);
  EnableWindow(GetDlgItem(GetSheetWindow(), IDCANCEL), TRUE);
  SetBusy(FALSE);
  ShowWindow(GetSheetWindow(), SW_RESTORE);
}
