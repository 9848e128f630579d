// Helper library of the product probe's tests: a DllGetVersion whose answer the test chooses
// through the environment variable FAKE_DLL_VERSION: "6.0" (common controls 6.0), "wide" (numbers
// wider than 16 bits), "fail" (a failing HRESULT). It also checks the size the caller passes.
#include <windows.h>
#include <shlwapi.h>

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetVersion(DLLVERSIONINFO* info) {
  char mode[16] = "";
  GetEnvironmentVariableA("FAKE_DLL_VERSION", mode, sizeof(mode));
  if (info == nullptr || info->cbSize != 20) return E_INVALIDARG;
  if (lstrcmpA(mode, "fail") == 0) return E_FAIL;
  if (lstrcmpA(mode, "wide") == 0) {
    info->dwMajorVersion = 0x10006;
    info->dwMinorVersion = 0x3000A;
  } else {
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 0;
  }
  info->dwBuildNumber = 2600;
  info->dwPlatformID = DLLVER_PLATFORM_NT;
  return S_OK;
}
