// PLACEHOLDER until the resume registration lands.
#include "engine/resume.h"
#include "engine/settings_store.h"
namespace { BOOL g_keep = FALSE; }
BOOL RegisterResume(BOOL) { return FALSE; }
BOOL WriteLauncher(char* path, DWORD) { path[0] = '\0'; return FALSE; }
void DeleteLauncherFile() {}
void DiscardUpdaterState() { if (!g_keep) DeleteUpdaterKey(); }
void SetKeepUpdaterState() { g_keep = TRUE; }
BOOL IsKeepingUpdaterState() { return g_keep; }
