#include "framework/property_page.h"

#include "framework/app.h"
#include "framework/property_sheet.h"

CPropertyPageEx::CPropertyPageEx(UINT templateId, UINT captionId, UINT headerTitleId,
                                 UINT headerSubTitleId) {
  ZeroMemory(&m_psp, sizeof(m_psp));
  m_psp.dwSize = sizeof(m_psp);
  m_psp.dwFlags = PSP_DEFAULT;
  m_psp.hInstance = AfxGetResourceHandle();
  m_psp.pszTemplate = MAKEINTRESOURCEA(templateId);
  m_psp.pfnDlgProc = DialogProc;
  m_psp.lParam = reinterpret_cast<LPARAM>(this);
  if (captionId != 0) {
    m_strCaption = AfxLoadString(captionId).text;
    m_psp.dwFlags |= PSP_USETITLE;
    m_psp.pszTitle = m_strCaption.c_str();
  }
  if (headerTitleId != 0) {
    m_strHeaderTitle = AfxLoadString(headerTitleId).text;
    m_psp.dwFlags |= PSP_USEHEADERTITLE;
    m_psp.pszHeaderTitle = m_strHeaderTitle.c_str();
  }
  if (headerSubTitleId != 0) {
    m_strHeaderSubTitle = AfxLoadString(headerSubTitleId).text;
    m_psp.dwFlags |= PSP_USEHEADERSUBTITLE;
    m_psp.pszHeaderSubTitle = m_strHeaderSubTitle.c_str();
  }
}

CPropertyPageEx::~CPropertyPageEx() = default;

HWND CPropertyPageEx::GetSheetWindow() const {
  return m_hWnd != nullptr ? GetParent(m_hWnd) : nullptr;
}

void CPropertyPageEx::EndDialog(int result) {
  if (m_pSheet != nullptr) m_pSheet->SetModalResult(result);
  if (result == IDCANCEL) PostMessageA(GetSheetWindow(), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

void CPropertyPageEx::SetResult(LRESULT result) {
  SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
}

INT_PTR CALLBACK CPropertyPageEx::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  CPropertyPageEx* page;
  if (message == WM_INITDIALOG) {
    const PROPSHEETPAGEA* psp = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
    page = reinterpret_cast<CPropertyPageEx*>(psp->lParam);
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    page->m_hWnd = window;
  } else {
    page = reinterpret_cast<CPropertyPageEx*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  if (page == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    page->m_hWnd = nullptr;
    return FALSE;
  }
  return page->Dispatch(message, wParam, lParam);
}

INT_PTR CPropertyPageEx::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
    default: {
      LRESULT result = 0;
      if (!OnMessage(message, wParam, lParam, &result)) return FALSE;
      SetResult(result);
      return TRUE;
    }
  }
}

INT_PTR CPropertyPageEx::OnNotify(const NMHDR* header) {
  switch (header->code) {
    case PSN_SETACTIVE: {
      const BOOL accepted = OnSetActive();
      if (accepted && m_pSheet != nullptr) m_pSheet->OnPageShown();
      SetResult(accepted ? 0 : -1);
      return TRUE;
    }
    case PSN_WIZNEXT:
      SetResult(OnWizardNext());
      return TRUE;
    case PSN_WIZFINISH: {
      const BOOL finish = OnWizardFinish();
      if (finish && m_pSheet != nullptr) m_pSheet->SetModalResult(ID_WIZFINISH);
      SetResult(finish ? FALSE : TRUE);
      return TRUE;
    }
    default:
      return FALSE;
  }
}
