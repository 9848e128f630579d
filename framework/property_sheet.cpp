#include "framework/property_sheet.h"

#include "base/heap_text.h"
#include "framework/app.h"
#include "framework/property_page.h"

namespace {

// The sheet whose window is about to be created, and the hook that catches it. Sheets are made
// and run on the wizard's thread only.
CPropertySheetEx* g_pendingSheet = nullptr;
HHOOK g_hook = nullptr;
constexpr char kSheetProperty[] = "CPropertySheetEx";

bool IsDialogClass(LPCSTR className) {
  if (IS_INTRESOURCE(className)) return LOWORD(reinterpret_cast<ULONG_PTR>(className)) == 0x8002;
  return lstrcmpiA(className, "#32770") == 0;
}

}  // namespace

CPropertySheetEx::CPropertySheetEx(UINT captionId, HWND parent, UINT selectPage, HBITMAP watermark,
                                   HPALETTE palette, HBITMAP header) {
  ZeroMemory(&m_psh, sizeof(m_psh));
  m_psh.dwSize = sizeof(m_psh);
  m_psh.hwndParent = parent;
  m_psh.hInstance = AfxGetResourceHandle();
  m_psh.nStartPage = selectPage;
  if (captionId != 0) m_strCaption = AfxLoadString(captionId).text;
  if (watermark != nullptr) {
    m_psh.dwFlags |= PSH_WATERMARK | PSH_USEHBMWATERMARK;
    m_psh.hbmWatermark = watermark;
  }
  if (palette != nullptr) {
    m_psh.dwFlags |= PSH_USEHPLWATERMARK;
    m_psh.hplWatermark = palette;
  }
  if (header != nullptr) {
    m_psh.dwFlags |= PSH_HEADER | PSH_USEHBMHEADER;
    m_psh.hbmHeader = header;
  }
}

CPropertySheetEx::~CPropertySheetEx() = default;

void CPropertySheetEx::AddPage(CPropertyPageEx* page) {
  page->m_pSheet = this;
  m_pages.push_back(page);
}

void CPropertySheetEx::SelectPage(int index) {
  if (m_hWnd != nullptr) SendMessageA(m_hWnd, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

INT_PTR CPropertySheetEx::DoModal() {
  base::HeapArray<PROPSHEETPAGEA> pages;
  pages.reserve(m_pages.size());
  for (CPropertyPageEx* page : m_pages) pages.push_back(page->m_psp);
  m_psh.dwFlags |= PSH_PROPSHEETPAGE;
  m_psh.dwFlags &= ~PSH_MODELESS;
  m_psh.nPages = static_cast<UINT>(pages.size());
  m_psh.ppsp = pages.data();
  m_psh.pszCaption = m_strCaption.c_str();
  m_nModalResult = IDCANCEL;

  g_pendingSheet = this;
  g_hook = SetWindowsHookExA(WH_CBT, HookProc, nullptr, GetCurrentThreadId());
  const INT_PTR result = PropertySheetA(&m_psh);
  if (g_hook != nullptr) {
    UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
  }
  g_pendingSheet = nullptr;
  m_psh.ppsp = nullptr;
  if (result < 0) return -1;
  return m_nModalResult;
}

LRESULT CALLBACK CPropertySheetEx::HookProc(int code, WPARAM wParam, LPARAM lParam) {
  HHOOK hook = g_hook;
  if (code == HCBT_CREATEWND && g_pendingSheet != nullptr) {
    const CBT_CREATEWNDA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
    if ((create->lpcs->style & WS_CHILD) == 0 && IsDialogClass(create->lpcs->lpszClass)) {
      CPropertySheetEx* sheet = g_pendingSheet;
      g_pendingSheet = nullptr;
      HWND window = reinterpret_cast<HWND>(wParam);
      sheet->m_hWnd = window;
      SetPropA(window, kSheetProperty, sheet);
      sheet->m_originalProc = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)));
      UnhookWindowsHookEx(g_hook);
      g_hook = nullptr;
      return 0;
    }
  }
  return CallNextHookEx(hook, code, wParam, lParam);
}

LRESULT CALLBACK CPropertySheetEx::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  CPropertySheetEx* sheet = static_cast<CPropertySheetEx*>(GetPropA(window, kSheetProperty));
  if (sheet == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    const WNDPROC original = sheet->m_originalProc;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropA(window, kSheetProperty);
    sheet->m_hWnd = nullptr;
    if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == sheet) {
      app->m_pMainWnd = nullptr;
    }
    return CallWindowProcA(original, window, message, wParam, lParam);
  }
  return sheet->WindowProc(message, wParam, lParam);
}

LRESULT CPropertySheetEx::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SYSCOMMAND) return OnSysCommandDefault(wParam, lParam);
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CPropertySheetEx::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(m_originalProc, m_hWnd, message, wParam, lParam);
}

LRESULT CPropertySheetEx::OnSysCommandDefault(WPARAM id, LPARAM lParam) {
  if ((id & 0xFFF0) == SC_CLOSE) m_nModalResult = IDCANCEL;
  return CallWindowProcA(m_originalProc, m_hWnd, WM_SYSCOMMAND, id, lParam);
}
