#include "tests/wizard/journey_support.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "engine/core/product_constants.h"
#include "tests/support/standin_support.h"
#include "tests/support/test_support.h"

namespace wizard_testing {

namespace {

void ReadKeyTree(HKEY root, const std::string& path, const std::string& prefix,
                 std::map<std::string, std::pair<DWORD, std::string>>* out) {
  const base::ScopedRegKey key = testing_support::OpenKey(root, path);
  if (!key) return;
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD nameSize = sizeof(name);
    DWORD type = 0;
    BYTE data[8192];
    DWORD dataSize = sizeof(data);
    if (RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS)
      break;
    (*out)[prefix + "|" + name] = {type, std::string(reinterpret_cast<char*>(data), dataSize)};
  }
  std::vector<std::string> subkeys;
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD nameSize = sizeof(name);
    if (RegEnumKeyExA(key.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.push_back(name);
  }
  for (const std::string& sub : subkeys) {
    (*out)[prefix + "\\" + sub] = {0, ""};  // the key itself, even when empty
    ReadKeyTree(root, path + "\\" + sub, prefix + "\\" + sub, out);
  }
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

std::string Unhex(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::vector<std::string> StartLines() {
  std::string bytes;
  std::vector<std::string> lines;
  if (!testing_support::ReadFileBytes("C:\\tidemark-standin\\starts.log", &bytes)) return lines;
  std::istringstream stream(bytes);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::string UserData::Serialize() const {
  std::ostringstream out;
  out << "log " << (hasLog ? 1 : 0) << " " << Hex(log) << "\n";
  out << "run " << (hasRunValue ? 1 : 0) << " " << Hex(runValue) << "\n";
  for (const auto& [name, value] : settings) {
    out << "set " << Hex(name) << " " << value.first << " " << Hex(value.second) << "\n";
  }
  return out.str();
}

bool UserData::Deserialize(const std::string& text, UserData* data) {
  std::istringstream in(text);
  std::string tag;
  *data = UserData();
  while (in >> tag) {
    if (tag == "log" || tag == "run") {
      int has = 0;
      std::string hex;
      in >> has;
      std::getline(in, hex);
      if (!hex.empty() && hex[0] == ' ') hex.erase(0, 1);
      (tag == "log" ? data->hasLog : data->hasRunValue) = has != 0;
      (tag == "log" ? data->log : data->runValue) = Unhex(hex);
    } else if (tag == "set") {
      std::string name, value;
      DWORD type = 0;
      in >> name >> type;
      std::getline(in, value);
      if (!value.empty() && value[0] == ' ') value.erase(0, 1);
      data->settings[Unhex(name)] = {type, Unhex(value)};
    } else {
      return false;
    }
  }
  return true;
}

UserData CaptureUserData() {
  UserData data;
  data.hasLog = testing_support::ReadFileBytes(
      testing_support::ProductFolder() + "\\" + product::kLogFile, &data.log);
  ReadKeyTree(HKEY_CURRENT_USER, product::kSettingsKey, "", &data.settings);
  DWORD type = 0;
  data.hasRunValue = testing_support::GetRawValue(HKEY_CURRENT_USER, product::kRunKey,
                                                  product::kAutoRunValue, &type, &data.runValue);
  return data;
}

void CleanMachine() {
  CloseRunningProduct();
  // Removals a restart would carry out: left in the list, they would hold the next update back.
  testing_support::DropPendingRenamesUnder(testing_support::ProductFolder());
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
  SHDeleteKeyA(HKEY_CURRENT_USER, product::kSettingsKey);
  SHDeleteValueA(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue);
  SHDeleteValueA(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue);
  char programFiles[MAX_PATH];
  SHGetSpecialFolderPathA(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
  // A program that has just ended may keep a file open a moment longer under Wine. Its deletion
  // then either fails or stays pending (the file is still there and cannot be written again):
  // in both cases wait and try again until the folders are really gone.
  for (const std::string& folder :
       {std::string(programFiles) + "\\KORVANE",
        std::string(programFiles) + "\\InstallShield Installation Information",
        std::string("C:\\tidemark-standin")}) {
    for (int attempt = 0; attempt < 100 && testing_support::PathExists(folder); ++attempt) {
      if (attempt > 0) Sleep(100);
      testing_support::RemoveTree(folder);
    }
    if (testing_support::PathExists(folder)) ADD_FAILURE() << "could not clean away " << folder;
  }
  for (const std::string& work : WorkFolders()) {
    testing_support::DropPendingRenamesUnder(work);
    testing_support::RemoveTree(work);
  }
}

std::vector<std::string> WorkFolders() {
  std::vector<std::string> found;
  const std::string temp =
      testing_support::CommonAppDataFolder() + "\\" + product::kWorkFolderParent + "\\";
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((temp + product::kWorkFolderPrefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    // A link planted at such a name (the file-system fixture's) is not one of ours.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      found.push_back(temp + entry.cFileName);
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return found;
}

// Every old value must be back with its type and data; the new release may add values of its own.
void ExpectUserDataKept(const UserData& before, const UserData& after) {
  ASSERT_TRUE(before.hasLog);
  EXPECT_TRUE(after.hasLog);
  EXPECT_EQ(before.log, after.log) << "log file not byte-identical";
  ASSERT_FALSE(before.settings.empty());
  for (const auto& [name, value] : before.settings) {
    auto found = after.settings.find(name);
    ASSERT_NE(after.settings.end(), found) << "settings entry lost: " << name;
    EXPECT_EQ(value.first, found->second.first) << "type changed: " << name;
    EXPECT_EQ(value.second, found->second.second) << "data changed: " << name;
  }
  ASSERT_TRUE(before.hasRunValue);
  EXPECT_TRUE(after.hasRunValue);
  EXPECT_EQ(before.runValue, after.runValue);
}

int ProductStartCount() { return static_cast<int>(StartLines().size()); }

bool WaitForProductStarts(int count, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (ProductStartCount() < count) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

std::string LastProductStart() {
  const std::vector<std::string> lines = StartLines();
  return lines.empty() ? "" : lines.back();
}

bool ResumeRunValue(std::string* data, DWORD* type) {
  DWORD ignored = 0;
  return testing_support::GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey,
                                      product::kResumeRunValue, type != nullptr ? type : &ignored,
                                      data);
}

bool UpdaterKeyExists() {
  return testing_support::KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
}

std::string UpdaterString(const char* valueName) {
  DWORD type = 0;
  std::string data;
  if (!testing_support::GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, valueName, &type,
                                    &data))
    return "";
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

DWORD UpdaterMarking() {
  DWORD type = 0;
  std::string data;
  if (!testing_support::GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", &type,
                                    &data) ||
      type != REG_DWORD || data.size() != sizeof(DWORD)) {
    return kNoMarking;
  }
  DWORD value = 0;
  memcpy(&value, data.data(), sizeof(value));
  return value;
}

std::string RunLogOf(DWORD pid) {
  const std::string temp = testing_support::WindowsFolder() + "\\Temp\\";
  WIN32_FIND_DATAA entry;
  const std::string pattern = temp + "TidemarkSXUpdater_*_" + std::to_string(pid) + "_*.log";
  HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return "";
  FindClose(find);
  std::string text;
  testing_support::ReadFileBytes(temp + entry.cFileName, &text);
  return text;
}

void WaitForProgramsToEnd(std::initializer_list<const char*> names, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    bool running = false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
      for (const char* name : names) running = running || lstrcmpiA(entry.szExeFile, name) == 0;
    }
    CloseHandle(snapshot);
    if (!running || GetTickCount() - start > timeoutMs) return;
    Sleep(100);
  }
}

bool CloseRunningProduct() {
  const std::string request =
      std::string(standin::kTraceFolder) + "\\" + standin::kProductCloseRequest;
  standin::CreateFolders(standin::kTraceFolder);
  if (!testing_support::WriteFileBytes(request, "close")) return false;
  WaitForProgramsToEnd({product::kMainExecutable}, 10000);
  DeleteFileA(request.c_str());
  return FindWindowA(standin::kProductWindowClass, nullptr) == nullptr;
}

void EndRunningUpdaters() {
  const std::string updater = testing_support::ExecutableFolder() + "\\Updater.exe";
  const std::string workPrefix = testing_support::CommonAppDataFolder() + "\\" +
                                 product::kWorkFolderParent + "\\" + product::kWorkFolderPrefix;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  std::vector<DWORD> ids;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, "Updater.exe") == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  for (DWORD id : ids) {
    HANDLE process =
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) continue;
    char image[MAX_PATH * 2] = "";
    DWORD size = sizeof(image);
    // Only the updater of this build or its copy in a work folder, not one anywhere else.
    if (QueryFullProcessImageNameA(process, 0, image, &size) &&
        (lstrcmpiA(image, updater.c_str()) == 0 ||
         _strnicmp(image, workPrefix.c_str(), workPrefix.size()) == 0)) {
      TerminateProcess(process, 99);
      WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
  }
}

}  // namespace wizard_testing
