// The application object: its start-up is the whole life of the program.
#ifndef APP_UPDATER_APP_H_
#define APP_UPDATER_APP_H_

#include "framework/app.h"

class CUpdaterApp : public CWinApp {
 public:
  // Checks Windows, runs the wizard modally, discards the updater's state when it was cancelled.
  // Always FALSE: the program ends when the wizard has closed.
  BOOL InitInstance() override;
};

#endif  // APP_UPDATER_APP_H_
