// One updater at a time: a second one would work on the same updater key and folders as the first.
#ifndef APP_SINGLE_INSTANCE_H_
#define APP_SINGLE_INSTANCE_H_

#include <windows.h>

// Takes the machine-wide updater mutex, which only Administrators and SYSTEM may open, and holds it
// until the process ends: TRUE. FALSE when another updater holds it (the mutex exists already, or
// it exists and this process may not open it): the running wizard has then been brought to the
// front, and the caller ends without touching anything. A mutex that cannot be made for any other
// reason does not stop the run.
BOOL ClaimSingleInstance();

#endif  // APP_SINGLE_INSTANCE_H_
