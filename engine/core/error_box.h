// The message box for a failure the user must see, shown by the engine step that failed. The
// engine does not know the wizard: start-up registers how a box is shown and which window owns
// the shell's own user interface, and until it does (the engine's test programs) a failure is only
// written to the run log.
#ifndef ENGINE_CORE_ERROR_BOX_H_
#define ENGINE_CORE_ERROR_BOX_H_

#include <windows.h>

// Shows a text in the program's message box with the given type.
using ErrorBoxFunction = void (*)(const char* text, UINT type);
// The window that owns any user interface the system shows for the engine; NULL for none.
using OwnerWindowFunction = HWND (*)();

// Registers how boxes are shown and where their owner comes from; NULL unregisters.
void RegisterErrorBox(ErrorBoxFunction show);
void RegisterOwnerWindow(OwnerWindowFunction owner);

// The registered owner window, or NULL.
HWND GetOwnerWindow();

// Logs the failure with its code, then shows the system's text for the code in the registered
// message box (OK, exclamation icon). When the system has no text for the code, the box says
// "System error <decimal> (0x<hex>)." so the user still has a number to report.
void ShowSystemErrorBox(DWORD code);

// The same, with a line that says whom or what the failure concerns (a user, a file) below the
// system's text; subject NULL or empty shows the plain box.
void ShowSystemErrorBoxAbout(DWORD code, const char* subject);
// Shows a text of the program's own in the registered message box (OK, exclamation icon); the
// caller has logged the failure.
void ShowErrorText(const char* text);

#endif  // ENGINE_CORE_ERROR_BOX_H_
