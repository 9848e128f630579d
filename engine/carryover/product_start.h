// Starting the product after the update: through the desktop shell, as the user at the desktop,
// and only the product's own program.
#ifndef ENGINE_CARRYOVER_PRODUCT_START_H_
#define ENGINE_CARRYOVER_PRODUCT_START_H_

#include <windows.h>

// Starts a command line unelevated, as the user at the desktop, when its program is the product's
// "Tidemark.exe" in the product folder: a quoted first element, or the shortest blank-separated
// prefix of an unquoted line, that resolves (as a full path with "." and ".." taken out, case
// ignored) to that file. The program path is compared, never looked up: a UNC or device path
// ("\\server\...", "\\?\...", "\\.\...") and any other program are refused without a word
// (logged; FALSE). The desktop shell starts the product's file with the rest of the line as its
// arguments and the product folder as working folder. Never started with the updater's rights:
// where no desktop shell answers, nothing starts (the autorun entry starts the product at the next
// logon) and the result is FALSE with nothing shown. FALSE with the system's text when the
// product's file is missing or the shell cannot be asked; FALSE without a box of the updater's
// when the shell fails to start it (the shell tells the user).
BOOL StartProduct(const wchar_t* commandLine);

#endif  // ENGINE_CARRYOVER_PRODUCT_START_H_
