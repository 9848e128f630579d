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

// Posted to the sheet when a page has been shown (wParam: the page's number); 0 when the system
// gives no message, and then no marker is awaited.
UINT PageSettledMessage() {
  static const UINT message = RegisterWindowMessageA("CPropertySheetEx.PageSettled");
  return message;
}

// The control id of the sheet button that `message` presses; 0 when it presses none. Clicks and
// keys arrive as the button's BN_CLICKED, automation as PSM_PRESSBUTTON (by button index).
int PressedButton(UINT message, WPARAM wParam) {
  static const int kButtonOfIndex[] = {0x3023, 0x3024, 0x3025, IDOK, 0x3021, IDCANCEL, IDHELP};
  if (message == PSM_PRESSBUTTON) {
    return wParam < sizeof(kButtonOfIndex) / sizeof(kButtonOfIndex[0]) ? kButtonOfIndex[wParam] : 0;
  }
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return 0;
  for (const int button : kButtonOfIndex) {
    if (LOWORD(wParam) == button) return button;
  }
  return 0;
}

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
  if (message != 0 && message == PageSettledMessage()) {
    if (wParam == sheet->m_nPageSerial) sheet->m_bPageSettled = true;
    return 0;
  }
  if (const int button = PressedButton(message, wParam); button != 0) {
    return sheet->MayPress(message, button) ? sheet->CarryOutPress(button) : 0;
  }
  return sheet->WindowProc(message, wParam, lParam);
}

void CPropertySheetEx::OnPageShown() {
  m_dwPageShownTime = GetTickCount();
  ++m_nPageSerial;
  const UINT marker = PageSettledMessage();
  m_bPageSettled = marker == 0 || !PostMessageA(m_hWnd, marker, m_nPageSerial, 0);
}

bool CPropertySheetEx::MayPress(UINT message, int buttonId) const {
  // A press while another is carried out comes from a message box or loop of the page's handler.
  if (m_bPressing || !IsWindowEnabled(m_hWnd)) return false;
  // A hidden sheet (work runs) shows no button.
  const HWND button = GetDlgItem(m_hWnd, buttonId);
  if (button == nullptr || !IsWindowVisible(button) || !IsWindowEnabled(button)) return false;
  // Sent by another thread: it was not waiting in the queue while the page changed.
  if (InSendMessage()) return true;
  // Posted before the current page was shown: its marker has not come back yet.
  if (!m_bPageSettled) return false;
  // A click or a key: input waits behind posted messages, so its time tells whether it was made
  // before the page was shown (the same tick counts as before).
  return message != WM_COMMAND ||
         static_cast<LONG>(static_cast<DWORD>(GetMessageTime()) - m_dwPageShownTime) > 0;
}

LRESULT CPropertySheetEx::CarryOutPress(int buttonId) {
  m_bPressing = true;
  const LRESULT result = WindowProc(WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                                    reinterpret_cast<LPARAM>(GetDlgItem(m_hWnd, buttonId)));
  m_bPressing = false;
  return result;
}

LRESULT CPropertySheetEx::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SYSCOMMAND) return OnSysCommandDefault(wParam, lParam);
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CPropertySheetEx::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(m_originalProc, m_hWnd, message, wParam, lParam);
}

LRESULT CPropertySheetEx::OnSysCommandDefault(WPARAM id, LPARAM lParam) {
  if ((id & 0xFFF0) == SC_CLOSE && m_bPressing) return 0;
  if ((id & 0xFFF0) == SC_CLOSE) m_nModalResult = IDCANCEL;
  return CallWindowProcA(m_originalProc, m_hWnd, WM_SYSCOMMAND, id, lParam);
}
