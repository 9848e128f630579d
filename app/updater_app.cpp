#include "app/updater_app.h"

#include <commctrl.h>

#include <string>

#include "app/single_instance.h"
#include "app/wizard_sheet.h"
#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/run_log.h"
#include "engine/product_probe.h"
#include "engine/resume.h"
#include "engine/run_log_file.h"
#include "engine/update_stage.h"
#include "engine/user_state.h"
#include "framework/app.h"
#include "framework/property_sheet.h"
#include "pages/closing_pages.h"
#include "pages/install_page.h"
#include "pages/introduction_page.h"
#include "pages/page_flow.h"
#include "pages/uninstall_page.h"
#include "res/resource.h"

namespace {

// comctl32 5.80 and later: the Wizard97 style flag has this value, not the older 0x00002000.
constexpr DWORD kWizard97Flag = 0x01000000;
constexpr DWORD kComctl32Version579 = 0x5004F;

// The updater's own file version, for the run's log.
std::string GetOwnVersion() {
  char path[kPathBufferSize];
  std::string version;
  if (!GetUpdaterPath(path) || !GetFileVersionString(path, version)) return "?";
  return version;
}

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

void GetWindowsVersion(DWORD* major, DWORD* minor, DWORD* build) {
  *major = *minor = *build = 0;
  const auto getVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (getVersion == nullptr || getVersion(&version) != 0) return;
  *major = version.dwMajorVersion;
  *minor = version.dwMinorVersion;
  *build = version.dwBuildNumber;
}

// The log's first line: the updater's version, the Windows version (major.minor.build as the
// system reports it, whatever the manifest says), the SID of the process's user, and the version
// of the common controls the process gets.
void WriteStartLine() {
  DWORD major, minor, build;
  GetWindowsVersion(&major, &minor, &build);
  char sid[192];
  base::ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()) ||
      !GetTokenUserSid(token.get(), sid, sizeof(sid))) {
    base::CopyBounded(sid, sizeof(sid), "unknown");
  }
  const DWORD controls = GetCommonControlsVersion("comctl32.dll");
  RunLogWrite("Updater %s started: Windows %lu.%lu.%lu, user %s, comctl32 %lu.%lu",
              GetOwnVersion().c_str(), static_cast<unsigned long>(major),
              static_cast<unsigned long>(minor), static_cast<unsigned long>(build), sid,
              static_cast<unsigned long>(HIWORD(controls)),
              static_cast<unsigned long>(LOWORD(controls)));
}

// The engine's failure boxes are the program's message box, owned by the wizard while it exists.
void ShowEngineErrorBox(const char* text, UINT type) { AfxMessageBox(text, type); }

HWND GetWizardWindow() {
  CWinApp* app = AfxGetApp();
  return (app && app->m_pMainWnd) ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
}

}  // namespace

CUpdaterApp theApp;

BOOL CUpdaterApp::InitInstance() {
  // A second updater only brings the running one to the front: it writes nothing, not even a log.
  if (!ClaimSingleInstance()) {
    m_exitCode = kExitAlreadyRunning;
    return FALSE;
  }
  m_exitCode = Run();
  RunLogEnd(m_exitCode);
  return FALSE;
}

int CUpdaterApp::Run() {
  HoldUpdaterFile();
  InitCommonControls();
  RegisterErrorBox(ShowEngineErrorBox);
  RegisterOwnerWindow(GetWizardWindow);
  OpenRunLogFile();
  WriteStartLine();
  if (!IsSupportedWindows()) {
    RunLogWrite("this Windows is not supported");
    AfxMessageBox(IDS_UNSUPPORTED_WINDOWS, MB_OK | MB_ICONEXCLAMATION);
    return kExitUnsupportedWindows;
  }

  CUpdaterWizardSheet sheet(IDS_CAPTION, nullptr, PAGE_INTRODUCTION, nullptr, nullptr, nullptr);
  CWizardIntroductionPage introduction;
  CWizardUninstallPage uninstall;
  CWizardInstallPage install;
  CWizardRestartGuidancePage restartGuidance;
  CWizardCompletedPage completed;
  CWizardIncompletedPage incompleted;

  // A run whose update began earlier (Marking) carries on where it stands: on the install page
  // when its old release is gone or its new release is in, on the restart-guidance page while the
  // restart is still to come.
  const UpdateState state = GetUpdateState();
  sheet.m_psh.nStartPage = GetStartPage(state);
  RunLogWrite("stage: %s%s; start page: %s", GetUpdateStageName(state.stage),
              state.underWay ? " (an update is under way)" : "",
              GetPageName(static_cast<int>(sheet.m_psh.nStartPage)));

  // Declared after the pages, so it is deleted first; without it the wizard runs all the same.
  base::ScopedGdiObject header(LoadBitmapA(m_hInstance, MAKEINTRESOURCEA(IDB_HEADER)));
  if (header) {
    sheet.m_psh.dwFlags |= PSH_HEADER | PSH_USEHBMHEADER;
    sheet.m_psh.hbmHeader = static_cast<HBITMAP>(header.get());
  }

  CPropertyPageEx* pages[] = {&introduction, &uninstall, &install,
                              &restartGuidance, &completed, &incompleted};
  for (CPropertyPageEx* page : pages) {
    page->m_psp.dwFlags &= ~PSP_HASHELP;
    sheet.AddPage(page);
  }

  sheet.m_psh.dwFlags |= PSH_WIZARD;
  if (GetCommonControlsVersion("comctl32.dll") > kComctl32Version579) {
    sheet.m_psh.dwFlags &= ~PSH_WIZARD;
    sheet.m_psh.dwFlags |= kWizard97Flag;
  }
  sheet.m_psh.dwFlags &= ~PSH_HASHELP;

  m_pMainWnd = &sheet;
  const INT_PTR result = sheet.DoModal();
  m_pMainWnd = nullptr;
  if (result == IDCANCEL) DiscardUpdaterState();
  return result < 0 ? kExitFailed : GetRunExitCode();
}
