// Processes whose program lies in the product folder: the product itself and anything else that
// runs from there. The updater asks the user to close them before it saves the user's data, and
// a program it waits for does not wait for them.
#ifndef ENGINE_PRODUCT_PROCESSES_H_
#define ENGINE_PRODUCT_PROCESSES_H_

#include <windows.h>

#include "base/heap_text.h"
#include "engine/core/file_utils.h"
#include "engine/process_tree.h"

// True when the program path lies inside the product folder (at any depth).
bool IsProductFolderProgram(const wchar_t* programPath);

// The number of running processes, in every session, whose program lies in the product folder;
// each is named in the run's log with its user. 0 also when the process list cannot be read
// (logged). otherUsers (may be NULL) receives the users other than the one at the desktop whose
// processes these are, described as messages name users, separated by ", "; "" when none.
int CountRunningProductProcesses(base::Text* otherUsers = nullptr);

#endif  // ENGINE_PRODUCT_PROCESSES_H_
