#include "app/updater_app.h"

#include <commctrl.h>

#include <string>

#include "app/single_instance.h"
#include "app/wizard_sheet.h"
#include "base/scoped.h"
#include "engine/file_utils.h"
#include "engine/product_probe.h"
#include "engine/resume.h"
#include "engine/run_log.h"
#include "engine/update_stage.h"
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
  RunLogOpen();
  RunLogStart(GetOwnVersion().c_str());
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
