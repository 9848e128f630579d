// STAND-IN for the product's main executable "Tidemark.exe" (test support only). It records each
// start and ends at once, so that a test can see that (and how) the product was started: its
// command line as one line of C:\tidemark-standin\starts.log, and its working folder as the line
// of the same number in C:\tidemark-standin\start-folders.log.
#include <windows.h>

#include <string>

#include "standin/standin_common.h"

int main() {
  char folder[MAX_PATH * 2] = "";
  GetCurrentDirectoryA(sizeof(folder), folder);
  standin::AppendTrace("start-folders.log", folder);
  standin::AppendTrace("starts.log", GetCommandLineA());
  return 0;
}
