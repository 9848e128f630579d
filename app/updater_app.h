// The application object: its start-up is the whole life of the program.
#ifndef APP_UPDATER_APP_H_
#define APP_UPDATER_APP_H_

#include "framework/app.h"

class CUpdaterApp : public CWinApp {
 public:
  // Checks Windows, runs the wizard modally, discards the updater's state when it was cancelled.
  // Always FALSE: the program ends when the wizard has closed.
  BOOL InitInstance() override;
  // How the run ended, for software-distribution tools: 0 completed, 3010 restart needed, 1602
  // cancelled, 1603 failed, 1638 already current, 1150 Windows too old, 1618 another updater runs.
  int ExitInstance() override { return m_exitCode; }

 private:
  // Start-up and the wizard's modal run; the exit code.
  int Run();

  int m_exitCode = 0;
};

#endif  // APP_UPDATER_APP_H_
