#include "engine/update_stage.h"

#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/core/names.h"
#include "engine/core/product_constants.h"
#include "engine/product_probe.h"

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// The list the system carries out at the restart; newer Windows versions keep a second one.
constexpr const wchar_t* kPendingRenameValues[] = {L"PendingFileRenameOperations",
                                                   L"PendingFileRenameOperations2"};

// "\??\" + the product folder, as the pending list writes a path; empty when unknown.
base::WideText GetPendingFormOfProductFolder() {
  char folder[kPathBufferSize];
  if (!GetProductInstallFolder(folder)) return base::WideText();
  const base::WideText converted = ToWide(folder);
  return converted.empty() ? converted : L"\\??\\" + converted;
}

// Walks one pending list: pairs of strings (source, target), where an empty target means a
// deletion, so an empty string is no end marker; the data's size is.
bool ListHasRemovalUnder(HKEY key, const wchar_t* valueName, const wchar_t* folder) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || bytes < sizeof(wchar_t)) {
    return false;
  }
  const DWORD count = bytes / sizeof(wchar_t);
  base::ScopedHeapBlock block((count + 2) * sizeof(wchar_t));
  if (!block) return false;
  wchar_t* data = block.as<wchar_t>();
  if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) !=
      ERROR_SUCCESS) {
    return false;
  }
  const DWORD read = bytes / sizeof(wchar_t);
  data[read] = L'\0';
  data[read + 1] = L'\0';
  for (DWORD at = 0; at < read;) {
    const wchar_t* source = data + at;
    at += lstrlenW(source) + 1;
    if (at < read) at += lstrlenW(data + at) + 1;  // the target
    if (source[0] != L'\0' && IsUnder(source, folder)) return true;
  }
  return false;
}

}  // namespace

int GetUninstallOutcome() {
  if (IsInstallationLeft()) return kUninstallStillInstalled;
  char folder[kPathBufferSize];
  if (!GetProductInstallFolder(folder)) return kUninstallRemoved;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(folder, GetFileExInfoStandard, &data)) return kUninstallRemoved;
  return IsFolderEmpty(folder) ? kUninstallRemoved : kUninstallNeedsRestart;
}

int IsRestartPending() {
  const base::WideText folder = GetPendingFormOfProductFolder();
  if (folder.empty()) return 0;
  base::ScopedRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.receive()) !=
      ERROR_SUCCESS) {
    return 0;
  }
  for (const wchar_t* value : kPendingRenameValues) {
    if (ListHasRemovalUnder(key.get(), value, folder.c_str())) return 1;
  }
  return 0;
}
