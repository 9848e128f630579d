// Page 0: greets the user and, on Next, routes the update: uninstall an older release, install
// where none is present, or decline when the installed release is current.
#ifndef PAGES_INTRODUCTION_PAGE_H_
#define PAGES_INTRODUCTION_PAGE_H_

#include "pages/wizard_page.h"

class CWizardIntroductionPage : public CWizardPage {
 public:
  CWizardIntroductionPage();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
};

#endif  // PAGES_INTRODUCTION_PAGE_H_
