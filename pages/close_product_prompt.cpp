#include "pages/close_product_prompt.h"

#include "base/bounded_string.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/product_processes.h"
#include "framework/app.h"
#include "res/resource.h"

BOOL AskUntilProductClosed() {
  for (;;) {
    base::Text otherUsers;
    const int running = CountRunningProductProcesses(&otherUsers);
    if (running == 0) return TRUE;
    char text[1024];
    if (!base::FormatBounded(text, sizeof(text), AfxLoadString(IDS_CLOSE_PRODUCT).text,
                             product::kDisplayName, product::kDisplayName)) {
      return FALSE;
    }
    // Another user's program: the administrator is told whose it is.
    char whose[512];
    if (!otherUsers.empty() &&
        base::FormatBounded(whose, sizeof(whose), AfxLoadString(IDS_PRODUCT_OTHER_USER).text,
                            otherUsers.c_str())) {
      base::AppendBounded(text, sizeof(text), "\n");
      base::AppendBounded(text, sizeof(text), whose);
    }
    const int answer = AfxMessageBox(text, MB_RETRYCANCEL | MB_ICONEXCLAMATION);
    RunLogWrite("%d process(es) run from the product folder; the user chose %s", running,
                answer == IDRETRY ? "Retry" : "Cancel");
    if (answer != IDRETRY) return FALSE;
  }
}
