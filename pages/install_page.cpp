#include "pages/install_page.h"

#include "engine/file_utils.h"
#include "engine/process_runner.h"
#include "engine/product_probe.h"
#include "engine/resume.h"
#include "engine/settings_store.h"
#include "engine/user_data_backup.h"
#include "engine/user_state.h"
#include "res/resource.h"

CWizardInstallPage::CWizardInstallPage()
    : CWizardPage(IDD_INSTALL, IDS_INSTALL_TITLE, IDS_INSTALL_SUBTITLE) {}

BOOL CWizardInstallPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  // Whether this run resumed after a restart or came from the uninstall page, the resume
  // registration has done its work once this page exists.
  RegisterResume(FALSE);
  return TRUE;
}

BOOL CWizardInstallPage::OnSetActive() {
  PostWizardButtons(PSWIZB_NEXT);
  return CWizardPage::OnSetActive();
}

LRESULT CWizardInstallPage::OnWizardNext() {
  BeginWork();
  if (!StartInstall(m_hWnd, m_strSetupFolder)) EndWork();
  return -1;
}

BOOL CWizardInstallPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message != WM_WORKER_DONE) return FALSE;
  *result = OnWorkerDone(wParam, lParam);
  return TRUE;
}

LRESULT CWizardInstallPage::OnWorkerDone(WPARAM, LPARAM) {
  if (!m_strSetupFolder.empty()) DeleteFolderTree(m_strSetupFolder.c_str());
  EndWork();
  if (IsProductInstalled()) {
    // The log file goes back before the settings and the autorun entry; each step runs whatever
    // the one before it returned.
    RestoreUserData();
    RestoreUserState();
    SetMarking(FALSE);
    SelectPage(PAGE_COMPLETED);
  } else {
    SelectPage(PAGE_INCOMPLETED);
  }
  return 0;
}
