// A page of the class layer's property-sheet wizard. Its dialog procedure turns the page's window
// messages and the sheet's notifications into virtual calls. Handlers throw no C++ exception: the
// updater is built without them, so nothing can unwind into comctl32.
#ifndef FRAMEWORK_PROPERTY_PAGE_H_
#define FRAMEWORK_PROPERTY_PAGE_H_

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "base/heap_text.h"

class CPropertySheetEx;

class CPropertyPageEx {
 public:
  // templateId: the dialog template; the other ids are string-table ids (0 for none).
  explicit CPropertyPageEx(UINT templateId, UINT captionId = 0, UINT headerTitleId = 0,
                           UINT headerSubTitleId = 0);
  virtual ~CPropertyPageEx();
  CPropertyPageEx(const CPropertyPageEx&) = delete;
  CPropertyPageEx& operator=(const CPropertyPageEx&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The sheet window (the page's parent).
  HWND GetSheetWindow() const;
  CPropertySheetEx* GetSheet() const { return m_pSheet; }

  // Ends the wizard with this result: IDCANCEL presses the sheet's Cancel button (posted).
  void EndDialog(int result);

  PROPSHEETPAGEA m_psp;

 protected:
  // WM_INITDIALOG. TRUE lets the sheet set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // PSN_SETACTIVE. TRUE accepts the activation.
  virtual BOOL OnSetActive() { return TRUE; }
  // PSN_WIZNEXT. 0 moves on to the next page, -1 stays, a template id goes to that page.
  virtual LRESULT OnWizardNext() { return 0; }
  // PSN_WIZFINISH. TRUE lets the wizard finish (with ID_WIZFINISH).
  virtual BOOL OnWizardFinish() { return TRUE; }
  // Any other message sent to the page (private messages such as a worker's notice). Return TRUE
  // when handled, with the message's result in *result.
  virtual BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return FALSE;
  }

  HWND m_hWnd = nullptr;

 private:
  friend class CPropertySheetEx;
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnNotify(const NMHDR* header);
  void SetResult(LRESULT result);

  CPropertySheetEx* m_pSheet = nullptr;
  base::Text m_strCaption;
  base::Text m_strHeaderTitle;
  base::Text m_strHeaderSubTitle;
};

#endif  // FRAMEWORK_PROPERTY_PAGE_H_
