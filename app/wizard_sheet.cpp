#include "app/wizard_sheet.h"

#include "pages/page_flow.h"

CUpdaterWizardSheet::CUpdaterWizardSheet(UINT captionId, HWND parent, UINT selectPage,
                                         HBITMAP watermark, HPALETTE palette, HBITMAP header)
    : CPropertySheetEx(captionId, parent, selectPage, watermark, palette, header) {}

LRESULT CUpdaterWizardSheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(wParam, lParam);
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam, lParam);
    case WM_SETTEXT:
      return OnSetText(wParam, lParam);
    default:
      return DefWindowProc(message, wParam, lParam);
  }
}

LRESULT CUpdaterWizardSheet::OnCreate(WPARAM wParam, LPARAM lParam) {
  if (CPropertySheetEx::DefWindowProc(WM_CREATE, wParam, lParam) == -1) return -1;
  SetWindowTextA(m_hWnd, GetCaption());
  m_nQueryCancelAutoPlayMsg = RegisterWindowMessageA("QueryCancelAutoPlay");
  return 0;
}

// The title bar always reads the caption: comctl32 replaces a wizard's window text with the
// current page's (empty) template title on every page change, so any other text is refused.
LRESULT CUpdaterWizardSheet::OnSetText(WPARAM wParam, LPARAM lParam) {
  return CPropertySheetEx::DefWindowProc(WM_SETTEXT, wParam,
                                         reinterpret_cast<LPARAM>(GetCaption()));
}

LRESULT CUpdaterWizardSheet::OnSysCommand(WPARAM id, LPARAM lParam) {
  if ((id & 0xFFF0) == SC_CLOSE && IsBusy()) {
    MessageBeep(MB_ICONEXCLAMATION);
    return 0;
  }
  return OnSysCommandDefault(id, lParam);
}

LRESULT CUpdaterWizardSheet::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_nQueryCancelAutoPlayMsg != 0 && message == m_nQueryCancelAutoPlayMsg) {
    // AutoPlay stays off for every medium while the wizard is open.
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
    return TRUE;
  }
  return CPropertySheetEx::DefWindowProc(message, wParam, lParam);
}
