// Read-only probes of the machine and the installed product: the Windows gate, the common-controls
// version, whether and where the product is installed, its version against the target, and whether
// anything of its installation is left. None of them shows a message.
#ifndef ENGINE_PRODUCT_PROBE_H_
#define ENGINE_PRODUCT_PROBE_H_

#include <windows.h>

#include "base/heap_text.h"

// 1 on the NT platform with a major version above 5, else 0.
int IsSupportedWindows();

// (major << 16) | minor from the DLL's DllGetVersion; 0 when it cannot be loaded, has no
// DllGetVersion or the call fails.
DWORD GetCommonControlsVersion(const char* dllName);

// 1 when the product's uninstall registration can be opened.
int IsProductInstalled();

// The program-files folder + "KORVANE\Tidemark SX" into buffer[520], without a trailing
// backslash. Nonzero on success. The folder's existence is not tested.
int GetProductInstallFolder(char* buffer);

// The FileVersion of the file's first translation into version. 0 when the file has no version
// data or the system folder's VERSION.dll cannot be loaded; otherwise nonzero,
// with version unchanged when no text was found.
int GetFileVersionString(const char* path, base::Text& version);

// Compares the installed main executable's FileVersion with the target version segment by
// segment. Returns 1 with *result = 1 (older), 0 (same) or -1 (newer); 0 when no comparison was
// possible, with *result untouched.
int CompareInstalledVersion(int* result);

// Segment-by-segment comparison of a version text with the target: 1 older, 0 same, -1 newer.
int CompareWithTargetVersion(const char* installed);

// 1 while the product's uninstall registration or the installer's maintenance folder for it
// remains: the product still counts as installed, whatever its own folder holds.
int IsInstallationLeft();

#endif  // ENGINE_PRODUCT_PROBE_H_
