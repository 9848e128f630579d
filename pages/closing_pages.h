// Pages 3 to 5, on which a run ends: restart guidance (keeps the state for the run after the
// restart), completed and aborted (discard the state on Finish). Each shows Finish only and
// refuses Next, which would otherwise move on to the page after it in the sheet: only Finish or
// the close box ends them, with their own exit code.
#ifndef PAGES_CLOSING_PAGES_H_
#define PAGES_CLOSING_PAGES_H_

#include "base/exit_code.h"
#include "pages/wizard_page.h"

class CWizardRestartGuidancePage : public CWizardPage {
 public:
  CWizardRestartGuidancePage();

 protected:
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override { return -1; }
};

// Completed and aborted pages: a body text and the final clean-up on Finish.
class CWizardFinalPage : public CWizardPage {
 public:
  CWizardFinalPage(UINT templateId, UINT titleId, UINT subTitleId, int bodyControlId,
                   UINT bodyStringId, UINT finishTextId, ExitCode exitCode);

 protected:
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override { return -1; }
  BOOL OnWizardFinish() override;

 private:
  const int m_bodyControlId;
  const UINT m_bodyStringId;
  const UINT m_finishTextId;
  // The run's exit code once this page is shown.
  const ExitCode m_exitCode;
};

class CWizardCompletedPage : public CWizardFinalPage {
 public:
  CWizardCompletedPage();
};

class CWizardAbortedPage : public CWizardFinalPage {
 public:
  CWizardAbortedPage();
};

#endif  // PAGES_CLOSING_PAGES_H_
