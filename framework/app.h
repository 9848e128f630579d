// The application object of the class layer: one static instance per program, its start-up
// routine, the main-window pointer and the program's message box.
#ifndef FRAMEWORK_APP_H_
#define FRAMEWORK_APP_H_

#include <windows.h>

#include "base/exit_code.h"

class CPropertySheetEx;

class CWinApp {
 public:
  // Registers this object as the program's one application object.
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The per-instance start-up. Returning FALSE ends the program once it returns.
  virtual BOOL InitInstance() { return FALSE; }
  // Called when the start-up has returned; its result is the program's exit code.
  virtual int ExitInstance() { return ExitCodeValue(ExitCode::kCompleted); }

  HINSTANCE m_hInstance = nullptr;
  // Owner of the program's message boxes while it exists; cleared when its window is destroyed.
  CPropertySheetEx* m_pMainWnd = nullptr;
};

// The application object, or NULL in a program that has none (the test programs).
CWinApp* AfxGetApp();

// The executable's file name without directory and extension: the caption of every message box.
const char* AfxGetAppName();

// The module whose resources the program uses.
HINSTANCE AfxGetResourceHandle();

// The program's message box: caption AfxGetAppName(), owned by the main window when there is one.
// A box of type MB_OK, MB_OKCANCEL, MB_YESNO or MB_YESNOCANCEL that names no icon gets
// MB_ICONEXCLAMATION.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(UINT stringId, UINT type = MB_OK, UINT helpId = (UINT)-1);

// Loads a string-table entry (ANSI, in the process's code page). Empty when it is missing.
struct ResourceString {
  char text[1024];
};
ResourceString AfxLoadString(UINT id);

// The body of WinMain: restricts the DLL search to the system folder (base/system_dlls.h), then
// runs the application object's start-up and returns its ExitInstance().
int AfxWinMain(HINSTANCE instance);

// Whether AfxWinMain could restrict the DLL search to the system folder. Where it could not (the
// system lacks SetDefaultDllDirectories), the program's own folder is still searched first.
bool AfxIsDllSearchRestricted();

#endif  // FRAMEWORK_APP_H_
