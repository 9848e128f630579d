// Read-only probes of the machine and the installed product. Every system failure is folded into
// the result; nothing here shows a message or changes the machine.
#include "engine/product_probe.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <climits>
#include <cstring>
#include <new>

#include "base/bounded_string.h"
#include "base/heap_text.h"
#include "base/scoped.h"
#include "base/system_dlls.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"

namespace {

// The program-files folder (CSIDL_PROGRAM_FILES, not created) into buffer[kPathBufferSize], with
// a trailing backslash. The owner of any shell user interface is the registered owner window.
bool GetProgramFilesFolderWithBackslash(char* buffer) {
  buffer[0] = '\0';
  const HWND owner = GetOwnerWindow();
  // The shell writes up to MAX_PATH characters; the path buffers of the engine are larger.
  if (!SHGetSpecialFolderPathA(owner, buffer, CSIDL_PROGRAM_FILES, FALSE)) {
    buffer[0] = '\0';
    return false;
  }
  return AppendBackslash(buffer, kPathBufferSize);
}

bool IsSpaceForAtoi(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The C runtime's atoi rule on the text at `text`: leading white space, an optional sign, decimal
// digits, stopping at the first other character; no digits reads as 0. A value beyond the range
// of int saturates instead of overflowing.
long long ReadSegmentNumber(const char* text) {
  while (IsSpaceForAtoi(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = (*text == '-');
    ++text;
  }
  long long value = 0;
  while (*text >= '0' && *text <= '9') {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - '0');
    ++text;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return value;
}

template <typename Function>
Function BindFunction(HMODULE library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The version-resource functions, bound from the system folder's VERSION.dll. It is loaded by
// its full path instead of being imported: it is not one of the system's known DLLs, so an import
// would take a version.dll lying beside the updater.
struct VersionFunctions {
  base::ScopedLibrary library{base::LoadSystemLibrary("version.dll")};
  decltype(&GetFileVersionInfoSizeA) getInfoSize =
      BindFunction<decltype(&GetFileVersionInfoSizeA)>(library.get(), "GetFileVersionInfoSizeA");
  decltype(&GetFileVersionInfoA) getInfo =
      BindFunction<decltype(&GetFileVersionInfoA)>(library.get(), "GetFileVersionInfoA");
  decltype(&VerQueryValueA) queryValue =
      BindFunction<decltype(&VerQueryValueA)>(library.get(), "VerQueryValueA");

  bool valid() const { return getInfoSize && getInfo && queryValue; }
};

}  // namespace

int IsSupportedWindows() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = 148;
  static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA has the documented size");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  return (info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 5) ? 1 : 0;
}

DWORD GetCommonControlsVersion(const char* dllName) {
  base::ScopedLibrary library(LoadLibraryA(dllName));
  if (!library) return 0;
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "DllGetVersion")));
  if (getVersion == nullptr) return 0;
  DLLVERSIONINFO info = {};
  info.cbSize = 20;
  static_assert(sizeof(DLLVERSIONINFO) == 20, "DLLVERSIONINFO has the documented size");
  const HRESULT hr = getVersion(&info);
  if (FAILED(hr)) return 0;
  return ((info.dwMajorVersion & 0xFFFF) << 16) | (info.dwMinorVersion & 0xFFFF);
}

int IsProductInstalled() {
  base::ScopedRegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUninstallKey, 0, KEY_QUERY_VALUE,
                       key.receive()) == ERROR_SUCCESS
             ? 1
             : 0;
}

int GetProductInstallFolder(char* buffer) {
  buffer[0] = '\0';
  char folder[kPathBufferSize];
  if (!GetProgramFilesFolderWithBackslash(folder) ||
      !base::AppendBounded(folder, sizeof(folder), product::kProgramFilesSubfolder)) {
    return 0;
  }
  return base::CopyBounded(buffer, kPathBufferSize, folder) ? 1 : 0;
}

int GetFileVersionString(const char* path, base::Text& version) {
  const VersionFunctions api;
  if (!api.valid()) return 0;
  DWORD handle = 0;
  const DWORD size = api.getInfoSize(path, &handle);
  if (size == 0) return 0;
  base::ScopedHeapBlock block(size);
  if (!block) return 0;
  if (!api.getInfo(path, 0, size, block.get())) return 1;

  void* translation = nullptr;
  UINT translationLength = 0;
  if (!api.queryValue(block.get(), "\\VarFileInfo\\Translation", &translation,
                      &translationLength) ||
      translation == nullptr || translationLength < 2 * sizeof(WORD)) {
    return 1;
  }
  const WORD* pair = static_cast<const WORD*>(translation);
  char subBlock[64];
  if (!base::FormatBounded(subBlock, sizeof(subBlock), "\\StringFileInfo\\%04x%04x\\FileVersion",
                           static_cast<unsigned>(pair[0]), static_cast<unsigned>(pair[1]))) {
    return 1;
  }
  void* text = nullptr;
  UINT textLength = 0;
  if (!api.queryValue(block.get(), subBlock, &text, &textLength) || text == nullptr) return 1;
  // The reported length counts characters; the text is taken up to its terminator but never
  // beyond the length the version block gives for it.
  const char* chars = static_cast<const char*>(text);
  size_t length = 0;
  while (length < textLength && chars[length] != '\0') ++length;
  version.assign(chars, length);
  return 1;
}

int CompareWithTargetVersion(const char* installed) {
  const char* target = product::kTargetVersion;
  const char* segmentI = installed;
  const char* segmentT = target;
  for (;;) {
    const long long numberI = ReadSegmentNumber(segmentI);
    const long long numberT = ReadSegmentNumber(segmentT);
    if (numberI < numberT) return 1;
    if (numberI > numberT) return -1;
    const char* dotI = strchr(segmentI, '.');
    const char* dotT = strchr(segmentT, '.');
    if (dotI == nullptr || dotT == nullptr) return 0;
    segmentI = dotI + 1;
    segmentT = dotT + 1;
  }
}

int CompareInstalledVersion(int* result) {
  char path[kPathBufferSize];
  if (!GetProductInstallFolder(path)) return 0;
  if (!AppendBackslash(path, sizeof(path)) ||
      !base::AppendBounded(path, sizeof(path), product::kMainExecutable)) {
    return 0;
  }
  base::Text installed;
  if (!GetFileVersionString(path, installed)) return 0;
  *result = CompareWithTargetVersion(installed.c_str());
  return 1;
}

int IsInstallationLeft() {
  if (IsProductInstalled()) return 1;

  // The installer keeps its maintenance folder for the product under the program-files folder;
  // while it exists the product still counts as installed.
  char maintenance[kPathBufferSize];
  if (GetProgramFilesFolderWithBackslash(maintenance) &&
      base::AppendBounded(maintenance, sizeof(maintenance), product::kMaintenanceFolder)) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(maintenance, GetFileExInfoStandard, &data)) return 1;
  }
  return 0;
}
