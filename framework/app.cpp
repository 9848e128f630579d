#include "framework/app.h"

#include <cstring>

#include "base/system_dlls.h"
#include "framework/property_sheet.h"

namespace {

CWinApp* g_app = nullptr;
bool g_dllSearchRestricted = false;

}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetResourceHandle() {
  if (g_app != nullptr && g_app->m_hInstance != nullptr) return g_app->m_hInstance;
  return GetModuleHandleA(nullptr);
}

const char* AfxGetAppName() {
  static char name[MAX_PATH * 2] = "";
  if (name[0] == '\0') {
    char path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return "Updater";
    const char* base = path;
    for (const char* p = path; *p; ++p) {
      if (IsDBCSLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
        ++p;
      } else if (*p == '\\' || *p == '/') {
        base = p + 1;
      }
    }
    lstrcpynA(name, base, sizeof(name));
    char* dot = nullptr;
    for (char* p = name; *p; ++p) {
      if (IsDBCSLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
        ++p;
      } else if (*p == '.') {
        dot = p;
      }
    }
    if (dot != nullptr) *dot = '\0';
  }
  return name;
}

int AfxMessageBox(const char* text, UINT type, UINT /*helpId*/) {
  const UINT buttons = type & MB_TYPEMASK;
  if ((type & MB_ICONMASK) == 0 && (buttons == MB_OK || buttons == MB_OKCANCEL ||
                                    buttons == MB_YESNO || buttons == MB_YESNOCANCEL)) {
    type |= MB_ICONEXCLAMATION;
  }
  HWND owner = nullptr;
  if (g_app != nullptr && g_app->m_pMainWnd != nullptr) owner = g_app->m_pMainWnd->GetSafeHwnd();
  return MessageBoxA(owner, text ? text : "", AfxGetAppName(), type);
}

int AfxMessageBox(UINT stringId, UINT type, UINT helpId) {
  return AfxMessageBox(AfxLoadString(stringId).text, type, helpId);
}

ResourceString AfxLoadString(UINT id) {
  ResourceString s;
  if (LoadStringA(AfxGetResourceHandle(), id, s.text, sizeof(s.text)) <= 0) s.text[0] = '\0';
  return s;
}

bool AfxIsDllSearchRestricted() { return g_dllSearchRestricted; }

int AfxWinMain(HINSTANCE instance) {
  g_dllSearchRestricted = base::RestrictDllSearchToSystemFolder();
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return ExitCodeValue(ExitCode::kFailed);
  app->m_hInstance = instance;
  app->InitInstance();
  return app->ExitInstance();
}
