#include "app/updater_app.h"

#include <commctrl.h>
#include <objidl.h>

#include "app/single_instance.h"
#include "app/wizard_sheet.h"
#include "base/bounded_string.h"
#include "base/exit_code.h"
#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/run_log.h"
#include "engine/product_probe.h"
#include "engine/carryover/user_state.h"
#include "engine/clean_up.h"
#include "engine/resume.h"
#include "engine/run_log_file.h"
#include "engine/updater_copy.h"
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

// The updater's own file version, for the run's log. Read only through an ANSI path that names
// exactly the program's file: under code page 932 a name with U+00A5 has an ANSI form that names
// another file.
base::Text GetOwnVersion() {
  wchar_t wide[kPathBufferSize];
  char path[kPathBufferSize];
  BOOL inexact = FALSE;
  base::Text version;
  if (!GetUpdaterPathW(wide) ||
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, sizeof(path), nullptr,
                          &inexact) == 0 ||
      inexact || !GetFileVersionString(path, version)) {
    return "?";
  }
  return version;
}

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

void GetWindowsVersion(DWORD* major, DWORD* minor, DWORD* build) {
  *major = *minor = *build = 0;
  const auto getVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
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

// COM security of the whole process, set before anything talks to the desktop shell (which runs
// as the user, with the user's rights): calls are authenticated and identify, no object may bring
// its own unmarshalling code (EOAC_NO_CUSTOM_MARSHAL), no server that runs as its activator is
// started with the updater's rights (EOAC_DISABLE_AAA), and where the system has it (Windows 8 and
// later) only system-trusted unmarshallers are used (the strong unmarshalling policy). Logged; a
// failure does not stop the run (the product is then started all the same through the shell).
void SecureCom() {
  const HRESULT security = CoInitializeSecurity(
      nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
      EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA, nullptr);
  HRESULT policy = E_NOINTERFACE;
  base::ScopedComInterface<IGlobalOptions> options;
  if (SUCCEEDED(CoCreateInstance(CLSID_GlobalOptions, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IGlobalOptions, base::ReceiveInterface(&options)))) {
    policy = options.get()->Set(COMGLB_UNMARSHALING_POLICY, COMGLB_UNMARSHALING_POLICY_STRONG);
  }
  RunLogWrite("COM security: 0x%08lX; strong unmarshalling policy: 0x%08lX",
              static_cast<unsigned long>(security), static_cast<unsigned long>(policy));
}

// Where the DLL search could not be restricted to the system folder, Windows looks in the
// program's own folder first: a folder that others may write could hand the elevated updater
// their DLL. True when that is the case here.
bool IsDllPlantingPossible() {
  if (AfxIsDllSearchRestricted()) return false;
  wchar_t folder[kPathBufferSize];
  if (!GetUpdaterPathW(folder)) return true;
  wchar_t* last = nullptr;
  for (wchar_t* p = folder; *p != L'\0'; ++p) {
    if (*p == L'\\') last = p;
  }
  if (last == nullptr) return true;
  last[last > folder && last[-1] == L':' ? 1 : 0] = L'\0';
  return IsFolderWritableByOthers(folder) != 0;
}

}  // namespace

CUpdaterApp theApp;

BOOL CUpdaterApp::InitInstance() {
  if (IsDllPlantingPossible()) {
    AfxMessageBox(IDS_UNSAFE_FOLDER, MB_OK | MB_ICONSTOP);
    m_exitCode = ExitCode::kFailed;
    return FALSE;
  }
  // A second updater only brings the running one to the front: it writes nothing, not even a log.
  // Where the mutex may have been taken by another program, it says that it cannot start.
  const InstanceClaim claim = ClaimSingleInstance();
  if (claim != InstanceClaim::kClaimed) {
    if (claim == InstanceClaim::kBlocked) {
      AfxMessageBox(IDS_UPDATER_BLOCKED, MB_OK | MB_ICONEXCLAMATION);
    }
    m_exitCode = ExitCode::kAlreadyRunning;
    return FALSE;
  }
  m_exitCode = Run();
  RunLogEnd(m_exitCode);
  return FALSE;
}

ExitCode CUpdaterApp::Run() {
  HoldUpdaterFile();
  InitCommonControls();
  RegisterErrorBox(ShowEngineErrorBox);
  RegisterOwnerWindow(GetWizardWindow);
  base::RegisterOutOfMemoryOwner(GetWizardWindow);
  OpenRunLogFile();
  WriteStartLine();
  // The main thread's apartment lasts the run, so that the process's COM security set here holds
  // for every later use of COM.
  const base::ScopedComApartment apartment;
  SecureCom();
  DropUntrustedResumeEntry();
  if (!IsSupportedWindows()) {
    RunLogWrite("this Windows is not supported");
    AfxMessageBox(IDS_UNSUPPORTED_WINDOWS, MB_OK | MB_ICONEXCLAMATION);
    return ExitCode::kUnsupportedWindows;
  }

  CUpdaterWizardSheet sheet(IDS_CAPTION, nullptr, PAGE_INTRODUCTION, nullptr, nullptr, nullptr);
  CWizardIntroductionPage introduction;
  CWizardUninstallPage uninstall;
  CWizardInstallPage install;
  CWizardRestartGuidancePage restartGuidance;
  CWizardCompletedPage completed;
  CWizardAbortedPage aborted;

  // A run whose update began earlier (Marking) carries on where it stands: on the install page
  // when its old release is gone or its new release is in, on the restart-guidance page while the
  // restart is still to come.
  ReadMachineAgain("start-up");
  // A start by the resume entry that finds no update to carry on (the product was removed by
  // hand, nothing is to be installed) asks nobody anything: the entry goes, and the run ends.
  if (IsRunningAsResumeCopy() && !CurrentReading().productInstalled && !CurrentReading().marking) {
    RunLogWrite(
        "started by the resume entry, but the product is not installed and no update is "
        "under way: the resume entry is removed and nothing is shown");
    RegisterResume(FALSE);
    return ExitCode::kCompleted;
  }
  sheet.m_psh.nStartPage = GetStartPage();
  RunLogWrite("stage: %s%s; start page: %s", GetUpdateStageName(GetStage(CurrentReading())),
              CurrentReading().marking ? " (an update is under way)" : "",
              GetPageName(static_cast<int>(sheet.m_psh.nStartPage)));

  // Declared after the pages, so it is deleted first; without it the wizard runs all the same.
  base::ScopedGdiObject header(LoadBitmapA(m_hInstance, MAKEINTRESOURCEA(IDB_HEADER)));
  if (header) {
    sheet.m_psh.dwFlags |= PSH_HEADER | PSH_USEHBMHEADER;
    sheet.m_psh.hbmHeader = static_cast<HBITMAP>(header.get());
  }

  CPropertyPageEx* pages[] = {&introduction,    &uninstall, &install,
                              &restartGuidance, &completed, &aborted};
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
  return result < 0 ? ExitCode::kFailed : GetRunExitCode();
}
