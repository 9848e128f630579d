// PLACEHOLDER until the product probe lands.
#include "engine/product_probe.h"
#include "engine/product_constants.h"
#include "base/scoped.h"
int IsSupportedWindows() { return 1; }
DWORD GetCommonControlsVersion(const char*) { return 0x60000; }
int IsProductInstalled() {
  base::ScopedRegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUninstallKey, 0, KEY_QUERY_VALUE, key.receive()) == ERROR_SUCCESS;
}
#include <shlobj.h>
#include "base/bounded_string.h"
#include "engine/file_utils.h"
#include "framework/app.h"
#include "framework/property_sheet.h"
int GetProductInstallFolder(char* buffer) {
  buffer[0] = '\0';
  CWinApp* app = AfxGetApp();
  HWND owner = (app && app->m_pMainWnd) ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
  char folder[kPathBufferSize];
  if (!SHGetSpecialFolderPathA(owner, folder, CSIDL_PROGRAM_FILES, FALSE)) return 0;
  if (!AppendBackslash(folder, sizeof(folder)) ||
      !base::AppendBounded(folder, sizeof(folder), product::kProgramFilesSubfolder)) return 0;
  return base::CopyBounded(buffer, kPathBufferSize, folder) ? 1 : 0;
}
int GetFileVersionString(const char*, std::string&) { return 0; }
int CompareInstalledVersion(int*) { return 0; }
int CompareWithTargetVersion(const char*) { return 1; }
int GetUninstallOutcome() { return IsProductInstalled() ? 2 : 0; }
