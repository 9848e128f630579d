// Shared helpers of the stand-in releases of the product (test support only).
#include "standin/standin_common.h"

#include <cstring>

#include <shellapi.h>
#include <shlobj.h>

#include "engine/core/product_constants.h"

namespace standin {

std::string ModuleFolder() {
  char path[MAX_PATH * 2] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string folder(path, length);
  const size_t slash = folder.find_last_of('\\');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

std::string ProgramFilesFolder() {
  char path[MAX_PATH * 2] = "";
  if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_PROGRAM_FILES, FALSE)) return "";
  std::string folder = path;
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string ProductFolder() {
  return ProgramFilesFolder() + "\\" + product::kProgramFilesSubfolder;
}
std::string MaintenanceFolder() {
  return ProgramFilesFolder() + "\\" + product::kMaintenanceFolder;
}
std::string CompanyFolder() { return ProgramFilesFolder() + "\\KORVANE"; }
std::string UninstallerPath() { return CompanyFolder() + "\\" + kUninstallerFileName; }

bool CreateFolders(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos && slash > 2) {
    if (!CreateFolders(path.substr(0, slash))) return false;
  }
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool RemoveTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != FALSE;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") RemoveTree(path + "\\" + name);
      } while (FindNextFileA(find, &entry));
      FindClose(find);
    }
  }
  return RemoveDirectoryA(path.c_str()) != FALSE;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                             &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[65536];
  DWORD read = 0;
  BOOL ok = TRUE;
  while ((ok = ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) && read > 0) {
    bytes->append(buffer, read);
  }
  CloseHandle(file);
  return ok != FALSE;
}

void PauseIfAsked(const char* point) {
  const std::string marker = std::string(kTraceFolder) + "\\pause-at.txt";
  std::string asked;
  if (!ReadBytes(marker, &asked) || asked.compare(0, strlen(point), point) != 0) return;
  WriteBytes(std::string(kTraceFolder) + "\\paused.txt", point);
  while (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) Sleep(50);
}

void AppendTrace(const char* file, const std::string& line) {
  CreateFolders(kTraceFolder);
  const std::string path = std::string(kTraceFolder) + "\\" + file;
  // Several stand-ins may write at nearly the same time: retry briefly on a sharing conflict.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      const std::string text = line + "\r\n";
      DWORD written = 0;
      WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      CloseHandle(handle);
      return;
    }
    Sleep(20);
  }
}

bool SetString(HKEY root, const char* key, const char* name, const std::string& value, DWORD type) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  // REG_MULTI_SZ texts carry their own inner terminators; the final one is added here.
  const LONG result =
      RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const char* key, const char* name, DWORD value) {
  return SetBinaryTyped(root, key, name, REG_DWORD, &value, sizeof(value));
}

bool SetBinary(HKEY root, const char* key, const char* name, const void* data, DWORD size) {
  return SetBinaryTyped(root, key, name, REG_BINARY, data, size);
}

bool SetBinaryTyped(HKEY root, const char* key, const char* name, DWORD type, const void* data,
                    DWORD size) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG result = RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

bool WriteUninstallRegistration(const std::string& uninstallString, const char* displayVersion) {
  const char* key = product::kUninstallKey;
  return SetString(HKEY_LOCAL_MACHINE, key, "DisplayName", product::kDisplayName) &&
         SetString(HKEY_LOCAL_MACHINE, key, "DisplayVersion", displayVersion) &&
         SetString(HKEY_LOCAL_MACHINE, key, "Publisher", "KORVANE SYSTEMS,INC.") &&
         SetString(HKEY_LOCAL_MACHINE, key, "InstallLocation", ProductFolder()) &&
         SetString(HKEY_LOCAL_MACHINE, key, product::kUninstallStringValue, uninstallString);
}

std::vector<std::string> Arguments() {
  std::vector<std::string> result;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return result;
  for (int i = 1; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_ACP, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, argv[i], -1, &text[0], size, nullptr, nullptr);
    text.resize(lstrlenA(text.c_str()));
    result.push_back(text);
  }
  LocalFree(argv);
  return result;
}

std::string OptionValue(const std::vector<std::string>& args, const std::string& name,
                        const std::string& fallback) {
  const std::string prefix = name + "=";
  for (const std::string& arg : args) {
    if (arg.compare(0, prefix.size(), prefix) == 0) return arg.substr(prefix.size());
  }
  return fallback;
}

bool HasFlag(const std::vector<std::string>& args, const std::string& flag) {
  for (const std::string& arg : args) {
    if (arg == flag) return true;
  }
  return false;
}

bool StartDetached(const std::string& commandLine, const std::string& folder) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void WaitForProcessEnd(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return;
  WaitForSingleObject(process, 60000);
  CloseHandle(process);
}

}  // namespace standin
