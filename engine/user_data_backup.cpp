// PLACEHOLDER until backup and restore land.
#include "engine/user_data_backup.h"
const char* const BackupFileList[] = {"Tidemark.log", nullptr};
BOOL BackUpUserData() { return TRUE; }
BOOL RestoreUserData() { return FALSE; }
BOOL IsOwnBackupFolder(const char*) { return FALSE; }
