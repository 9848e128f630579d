// Page 2: unpacks the embedded setup, runs it with the wizard hidden, and when the product is then
// installed puts back what belongs to the user.
#ifndef PAGES_INSTALL_PAGE_H_
#define PAGES_INSTALL_PAGE_H_

#include "base/heap_text.h"
#include "pages/wizard_page.h"

// Posted by the install page to itself when only the restore is left: the restore then runs once
// the page is shown, as it does after a setup.
constexpr UINT WM_RESTORE_ONLY = WM_APP + 1;

class CWizardInstallPage : public CWizardPage {
 public:
  CWizardInstallPage();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  LRESULT OnWorkerDone(WPARAM wParam, LPARAM lParam);

  // The folder the setup was unpacked into; deleted when the setup has ended.
  base::Text m_strSetupFolder;
};

#endif  // PAGES_INSTALL_PAGE_H_
