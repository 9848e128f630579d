// Starting the product after the update: through the desktop shell, as the user at the desktop.
#ifndef ENGINE_PRODUCT_START_H_
#define ENGINE_PRODUCT_START_H_

#include <windows.h>

// Starts a command line unelevated, as the user at the desktop: the desktop shell starts the
// program (the first element of the command line, found as CreateProcess would find it) with the
// rest as its arguments and the program's folder as working folder (without a folder part, the
// updater's own). Never started with the updater's rights: where no desktop shell answers, nothing
// starts (the autorun entry starts the product at the next logon) and the result is FALSE with
// nothing shown. FALSE with the system's text when the program is not found or the shell cannot
// be asked; FALSE without a box of the updater's when the shell fails to start it (the shell tells
// the user).
BOOL StartProduct(const char* commandLine);

#endif  // ENGINE_PRODUCT_START_H_
