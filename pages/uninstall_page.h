// Page 1: saves the user's state, runs the old release's uninstaller with the wizard hidden, and
// moves on by what the uninstaller left behind.
#ifndef PAGES_UNINSTALL_PAGE_H_
#define PAGES_UNINSTALL_PAGE_H_

#include "pages/wizard_page.h"

class CWizardUninstallPage : public CWizardPage {
 public:
  CWizardUninstallPage();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  LRESULT OnWorkerDone(WPARAM wParam, LPARAM lParam);
};

#endif  // PAGES_UNINSTALL_PAGE_H_
