// What the six pages share: the way they talk to the sheet window.
#ifndef PAGES_WIZARD_PAGE_H_
#define PAGES_WIZARD_PAGE_H_

#include "framework/property_page.h"
#include "pages/page_flow.h"

class CWizardPage : public CPropertyPageEx {
 public:
  CWizardPage(UINT templateId, UINT headerTitleId, UINT headerSubTitleId)
      : CPropertyPageEx(templateId, 0, headerTitleId, headerSubTitleId) {}

 protected:
  // Records the page in the run's log, then the framework's activation.
  BOOL OnSetActive() override;
  // Sets the sheet's buttons (never Back) at once: a press handled after this call meets them.
  void SetWizardButtons(DWORD buttons);
  // TRUE while work of this run goes on: a page is busy, or a program of the run is followed. A
  // Next that reaches a page then starts nothing.
  static BOOL IsWorkRunning();
  // Makes page `index` the current one.
  void SelectPage(int index);
  // Sets a control's text to a string-table entry with its %s filled in.
  void SetFormattedText(int controlId, UINT stringId, const char* argument);
  // The closing pages' activation: Finish with the given text, Cancel hidden.
  void ShowFinishOnly(UINT finishTextId);
  // Begin work: buttons off, Cancel off, busy, sheet hidden.
  void BeginWork();
  // Work ended (or did not start): Next on, Cancel on, not busy, sheet shown again.
  void EndWork();
};

#endif  // PAGES_WIZARD_PAGE_H_
