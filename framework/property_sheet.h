// The property-sheet wizard of the class layer: a PROPSHEETHEADERA with its pages, a modal run over
// comctl32's PropertySheetA, and a window procedure hook through which a derived sheet sees the
// sheet window's own messages from WM_NCCREATE on.
//
// One press, one action: a press of the sheet's buttons (PSM_PRESSBUTTON, or a button's click
// from the mouse or a key) is carried out only when it is the only one under way, its button is
// shown and enabled on a sheet that is in view and not behind a message box, and it was queued
// after the current page was shown. Presses posted back to back, keys typed twice and clicks
// that land while a page changes therefore never reach the page that follows.
#ifndef FRAMEWORK_PROPERTY_SHEET_H_
#define FRAMEWORK_PROPERTY_SHEET_H_

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "base/heap_text.h"

class CPropertyPageEx;

// Modal result of a wizard that ended with its Finish button (the Finish button's control id).
#ifndef ID_WIZFINISH
#define ID_WIZFINISH 0x3025
#endif

class CPropertySheetEx {
 public:
  // captionId: string-table id of the caption (0 for none); selectPage: the start page index.
  CPropertySheetEx(UINT captionId, HWND parent, UINT selectPage, HBITMAP watermark,
                   HPALETTE palette, HBITMAP header);
  virtual ~CPropertySheetEx();
  CPropertySheetEx(const CPropertySheetEx&) = delete;
  CPropertySheetEx& operator=(const CPropertySheetEx&) = delete;

  void AddPage(CPropertyPageEx* page);

  // Runs the wizard modally. Returns ID_WIZFINISH when it ended with Finish, IDCANCEL when it was
  // cancelled or closed, -1 when the sheet could not be created.
  INT_PTR DoModal();

  // Makes the page with this index the current one (PSM_SETCURSEL).
  void SelectPage(int index);

  HWND GetSafeHwnd() const { return m_hWnd; }
  const char* GetCaption() const { return m_strCaption.c_str(); }
  void SetModalResult(INT_PTR result) { m_nModalResult = result; }

  PROPSHEETHEADERA m_psh;

 protected:
  // Every message of the sheet window passes here first; the default passes it to DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The sheet's original window procedure (comctl32's), for messages no handler took.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The framework's handling of WM_SYSCOMMAND: SC_CLOSE ends the run with IDCANCEL, except while
  // a press is carried out (the page's handler is still at work).
  LRESULT OnSysCommandDefault(WPARAM id, LPARAM lParam);

  HWND m_hWnd = nullptr;

 private:
  friend class CPropertyPageEx;
  // A page has accepted its activation: what was queued before now is not meant for it.
  void OnPageShown();
  // Whether the press of the button with this control id, arriving as `message`, is carried out.
  bool MayPress(UINT message, int buttonId) const;
  // Carries out an accepted press as the button's own click, so that every press takes one way.
  LRESULT CarryOutPress(int buttonId);

  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  base::Text m_strCaption;
  base::HeapArray<CPropertyPageEx*> m_pages;
  WNDPROC m_originalProc = nullptr;
  INT_PTR m_nModalResult = IDCANCEL;
  // When the current page was shown (GetTickCount), its number, and whether the marker posted
  // then has come back: every message posted before it has been handled by then.
  DWORD m_dwPageShownTime = 0;
  WPARAM m_nPageSerial = 0;
  bool m_bPageSettled = false;
  bool m_bPressing = false;
};

#endif  // FRAMEWORK_PROPERTY_SHEET_H_
