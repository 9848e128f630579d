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
int GetProductInstallFolder(char*) { return 0; }
int GetFileVersionString(const char*, std::string&) { return 0; }
int CompareInstalledVersion(int*) { return 0; }
int CompareWithTargetVersion(const char*) { return 1; }
int GetUninstallOutcome() { return IsProductInstalled() ? 2 : 0; }
