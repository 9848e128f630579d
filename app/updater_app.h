// The application object: its start-up is the whole life of the program.
#ifndef APP_UPDATER_APP_H_
#define APP_UPDATER_APP_H_

#include "base/exit_code.h"
#include "framework/app.h"

class CUpdaterApp : public CWinApp {
 public:
  // Checks Windows, runs the wizard modally, discards the updater's state when it was cancelled.
  // Always FALSE: the program ends when the wizard has closed.
  BOOL InitInstance() override;
  // How the run ended, for software-distribution tools (base/exit_code.h).
  int ExitInstance() override { return ExitCodeValue(m_exitCode); }

 private:
  // Start-up and the wizard's modal run; the exit code.
  ExitCode Run();

  ExitCode m_exitCode = ExitCode::kCompleted;
};

#endif  // APP_UPDATER_APP_H_
