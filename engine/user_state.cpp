// PLACEHOLDER until the per-user carry-over lands.
#include "engine/user_state.h"
BOOL GetUserHiveName(char* hiveName) { hiveName[0] = '\0'; return FALSE; }
BOOL CaptureUserState() { return TRUE; }
BOOL CaptureAutoRun() { return TRUE; }
BOOL SnapshotUserSettings() { return TRUE; }
BOOL RestoreUserState() { return FALSE; }
BOOL RestoreUserSettings() { return FALSE; }
BOOL RestoreAutoRun() { return FALSE; }
BOOL StartProduct(const char*) { return FALSE; }
