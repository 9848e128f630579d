#include "tests/support/standin_support.h"

#include <cstdio>

#include <shlobj.h>
#include <shlwapi.h>

#include "engine/core/product_constants.h"
#include "tests/support/test_support.h"

namespace testing_support {

namespace {

constexpr char kBackupKey[] = "SOFTWARE\\TidemarkStandInTestBackup";
constexpr char kPendingKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::string BackupFolder() { return ProgramFilesFolder() + "\\TidemarkStandInTestBackup"; }

bool MoveKey(HKEY root, const std::string& from, const std::string& to) {
  if (!KeyExists(root, from)) return false;
  SHDeleteKeyA(root, to.c_str());
  const base::ScopedRegKey target = CreateKey(root, to);
  if (!target || SHCopyKeyA(root, from.c_str(), target.get(), 0) != ERROR_SUCCESS) return false;
  SHDeleteKeyA(root, from.c_str());
  return true;
}

bool MoveFolder(const std::string& from, const std::string& to) {
  if (!PathExists(from)) return false;
  RemoveTree(to);
  const std::string parent = to.substr(0, to.find_last_of('\\'));
  CreateDirectoryA(parent.c_str(), nullptr);
  return MoveFileExA(from.c_str(), to.c_str(), 0) != FALSE;
}

void CreateParents(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos || slash < 3) return;
  const std::string parent = path.substr(0, slash);
  if (PathExists(parent)) return;
  CreateParents(parent);
  CreateDirectoryA(parent.c_str(), nullptr);
}

std::string Narrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], size, nullptr, nullptr);
  result.resize(lstrlenA(result.c_str()));
  return result;
}

// The scheduled operations as (source, destination) pairs, exactly as stored.
std::vector<std::pair<std::wstring, std::wstring>> ReadPendingPairs() {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  const base::ScopedRegKey key = OpenKey(HKEY_LOCAL_MACHINE, kPendingKey, KEY_QUERY_VALUE);
  if (!key) return pairs;
  DWORD size = 0;
  DWORD type = 0;
  std::wstring data;
  if (RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    data.assign(size / sizeof(wchar_t) + 2, L'\0');
    RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                     &size);
    data.resize(size / sizeof(wchar_t));
  }
  size_t position = 0;
  auto next = [&]() {
    const size_t end = data.find(L'\0', position);
    std::wstring text =
        data.substr(position, end == std::wstring::npos ? std::wstring::npos : end - position);
    position = end == std::wstring::npos ? data.size() : end + 1;
    return text;
  };
  while (position < data.size()) {
    std::wstring source = next();
    if (source.empty()) break;
    std::wstring target = position < data.size() ? next() : std::wstring();
    pairs.emplace_back(source, target);
  }
  return pairs;
}

std::string StripNtPrefix(const std::string& path) {
  return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

}  // namespace

std::string WindowsFolder() {
  char path[MAX_PATH * 2] = "";
  GetWindowsDirectoryA(path, sizeof(path));
  return path;
}

std::string CommonAppDataFolder() {
  char path[MAX_PATH] = "";
  SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::string StandInProgram(const std::string& fileName) {
  return ExecutableFolder() + "\\" + fileName;
}

std::string StandInNewReleaseFolder() {
  char path[MAX_PATH * 2] = "";
  GetFullPathNameA((ExecutableFolder() + "\\..\\standin\\new-release").c_str(), sizeof(path), path,
                   nullptr);
  return path;
}

int RunIn(const std::string& commandLine, const std::string& workingFolder, DWORD timeoutMs) {
  return RunAndWait(commandLine, timeoutMs, workingFolder);
}

::testing::AssertionResult InstallOldRelease(const std::string& options) {
  // Under Wine a start can be refused for a moment after a simulated restart: the start (not the
  // installation) is tried again a few times.
  int code = -1;
  for (int attempt = 0; attempt < 3 && code == -1; ++attempt) {
    if (attempt > 0) {
      printf("the stand-in old release could not be started (error %lu); trying again\n",
             static_cast<unsigned long>(GetLastError()));
      Sleep(1000);
    }
    code = RunIn("\"" + StandInProgram("TidemarkOldSetup.exe") + "\" " + options, "");
  }
  if (code == 0) return ::testing::AssertionSuccess();
  char hex[16];
  wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(code));
  return ::testing::AssertionFailure()
         << "the stand-in old release could not be installed: exit code " << hex
         << " (step in the high word, system error code in the low word)";
}

int RunRegisteredUninstaller() {
  DWORD type = 0;
  std::string data;
  if (!GetRawValue(HKEY_LOCAL_MACHINE, product::kUninstallKey, product::kUninstallStringValue,
                   &type, &data)) {
    return -1;
  }
  data.resize(lstrlenA(data.c_str()));
  return RunIn(data, WindowsFolder());
}

std::vector<std::string> ReadTraceLines(const std::string& fileName) {
  std::vector<std::string> lines;
  std::string text;
  if (!ReadFileBytes(std::string(kStandInTraceFolder) + "\\" + fileName, &text)) return lines;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find("\r\n", position);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(position, end - position));
    position = end + 2;
  }
  return lines;
}

std::vector<std::string> PendingRenameSources() {
  std::vector<std::string> sources;
  for (const auto& pair : ReadPendingPairs()) sources.push_back(StripNtPrefix(Narrow(pair.first)));
  return sources;
}

void DropPendingRenamesUnder(const std::string& folder) {
  const auto pairs = ReadPendingPairs();
  std::wstring kept;
  bool dropped = false;
  for (const auto& pair : pairs) {
    const std::string source = StripNtPrefix(Narrow(pair.first));
    const bool under = lstrcmpiA(source.c_str(), folder.c_str()) == 0 ||
                       (source.size() > folder.size() &&
                        lstrcmpiA(source.substr(0, folder.size()).c_str(), folder.c_str()) == 0 &&
                        source[folder.size()] == '\\');
    if (under) {
      dropped = true;
      continue;
    }
    kept += pair.first;
    kept += L'\0';
    kept += pair.second;
    kept += L'\0';
  }
  if (!dropped) return;
  const base::ScopedRegKey key = OpenKey(HKEY_LOCAL_MACHINE, kPendingKey, KEY_SET_VALUE);
  if (!key) return;
  if (kept.empty()) {
    RegDeleteValueW(key.get(), kPendingValue);
  } else {
    kept += L'\0';
    RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  }
}

void RemoveProductState() {
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
  SHDeleteKeyA(HKEY_CURRENT_USER, product::kSettingsKey);
  // The company key goes too when nothing else is left in it (RegDeleteKey keeps a key that still
  // has sub-keys).
  RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\KORVANE SYSTEMS,INC.");
  SHDeleteValueA(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue);
  const std::string product = ProductFolder();
  DropPendingRenamesUnder(product);
  RemoveTree(product);
  RemoveTree(MaintenanceFolder());
  const std::string maintenance = MaintenanceFolder();
  RemoveDirectoryA(maintenance.substr(0, maintenance.find_last_of('\\')).c_str());
  DeleteFileA(StandInUninstallerPath().c_str());
  RemoveDirectoryA((ProgramFilesFolder() + "\\KORVANE").c_str());
  RemoveTree(kStandInTraceFolder);
}

ScopedProductState::ScopedProductState() {
  const std::string backup = std::string(kBackupKey);
  savedUninstallKey_ = MoveKey(HKEY_LOCAL_MACHINE, product::kUninstallKey, backup + "\\Uninstall");
  savedSettingsKey_ = MoveKey(HKEY_CURRENT_USER, product::kSettingsKey, backup + "\\Settings");
  hadRunValue_ = GetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, &runType_,
                             &runData_);
  savedProductFolder_ = MoveFolder(ProductFolder(), BackupFolder() + "\\product");
  savedMaintenanceFolder_ = MoveFolder(MaintenanceFolder(), BackupFolder() + "\\maintenance");
  RemoveProductState();
}

ScopedProductState::~ScopedProductState() {
  RemoveProductState();
  const std::string backup = std::string(kBackupKey);
  if (savedUninstallKey_)
    MoveKey(HKEY_LOCAL_MACHINE, backup + "\\Uninstall", product::kUninstallKey);
  if (savedSettingsKey_) MoveKey(HKEY_CURRENT_USER, backup + "\\Settings", product::kSettingsKey);
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBackupKey);
  SHDeleteKeyA(HKEY_CURRENT_USER, kBackupKey);
  if (hadRunValue_) {
    SetRawValue(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue, runType_,
                runData_.data(), static_cast<DWORD>(runData_.size()));
  }
  if (savedProductFolder_) {
    CreateParents(ProductFolder());
    MoveFileExA((BackupFolder() + "\\product").c_str(), ProductFolder().c_str(), 0);
  }
  if (savedMaintenanceFolder_) {
    CreateParents(MaintenanceFolder());
    MoveFileExA((BackupFolder() + "\\maintenance").c_str(), MaintenanceFolder().c_str(), 0);
  }
  RemoveTree(BackupFolder());
}

}  // namespace testing_support
