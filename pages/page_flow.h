// The wizard's page indexes and the process-wide flags the pages share.
#ifndef PAGES_PAGE_FLOW_H_
#define PAGES_PAGE_FLOW_H_

#include <windows.h>

enum PageIndex {
  PAGE_INTRODUCTION = 0,
  PAGE_UNINSTALL = 1,
  PAGE_INSTALL = 2,
  PAGE_RESTART_GUIDANCE = 3,
  PAGE_COMPLETED = 4,
  PAGE_INCOMPLETED = 5,
};

// Set while an external program runs; the sheet refuses to be closed meanwhile.
void SetBusy(BOOL busy);
BOOL IsBusy();

#endif  // PAGES_PAGE_FLOW_H_
