// Before the user's data is saved or put back, the product must not run: whatever it writes
// afterwards (its last log lines, settings saved on exit) would be lost at the restore, and files
// it holds open would make the old uninstaller ask for a restart.
#ifndef PAGES_CLOSE_PRODUCT_PROMPT_H_
#define PAGES_CLOSE_PRODUCT_PROMPT_H_

#include <windows.h>

// Looks for processes that run from the product folder, in every session. While one runs, asks
// the user to quit the product (Retry looks again). TRUE once none runs; FALSE when the user
// chose Cancel.
BOOL AskUntilProductClosed();

#endif  // PAGES_CLOSE_PRODUCT_PROMPT_H_
