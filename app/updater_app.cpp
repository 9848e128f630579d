#include "app/updater_app.h"

#include <commctrl.h>

#include "app/single_instance.h"
#include "app/wizard_sheet.h"
#include "base/scoped.h"
#include "engine/product_probe.h"
#include "engine/resume.h"
#include "engine/settings_store.h"
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

}  // namespace

CUpdaterApp theApp;

BOOL CUpdaterApp::InitInstance() {
  if (!ClaimSingleInstance()) return FALSE;
  InitCommonControls();
  if (!IsSupportedWindows()) {
    AfxMessageBox(IDS_UNSUPPORTED_WINDOWS, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }

  CUpdaterWizardSheet sheet(IDS_CAPTION, nullptr, PAGE_INTRODUCTION, nullptr, nullptr, nullptr);
  CWizardIntroductionPage introduction;
  CWizardUninstallPage uninstall;
  CWizardInstallPage install;
  CWizardRestartGuidancePage restartGuidance;
  CWizardCompletedPage completed;
  CWizardIncompletedPage incompleted;

  // A run whose update began earlier (Marking) and whose old release is gone resumes on the
  // install page.
  sheet.m_psh.nStartPage =
      (!IsProductInstalled() && IsMarkingSet()) ? PAGE_INSTALL : PAGE_INTRODUCTION;

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
  return FALSE;
}
