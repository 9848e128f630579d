// One updater at a time: a second one would work on the same updater key and folders as the first.
#ifndef APP_SINGLE_INSTANCE_H_
#define APP_SINGLE_INSTANCE_H_

#include <windows.h>

enum class InstanceClaim {
  // This process holds the updater mutex until it ends.
  kClaimed,
  // Another updater holds it; its wizard has been brought to the front.
  kAlreadyRunning,
  // The mutex is held, but not provably by an updater: it is in the global namespace (the system
  // has no private namespaces, or this process may not make one), where any program may have
  // made it first, and no updater's wizard is to be seen. The caller says so and ends.
  kBlocked,
};

// Takes the updater mutex and holds it until the process ends. It lives in a private namespace
// bounded by the Administrators SID, which only a process with that SID in its token can make or
// open, so no other user's program can take it first. Where no such namespace can be had, it is
// "Global\TidemarkSXUpdater", which only Administrators and SYSTEM may open. A mutex that cannot be
// made for any other reason does not stop the run.
InstanceClaim ClaimSingleInstance();

#endif  // APP_SINGLE_INSTANCE_H_
