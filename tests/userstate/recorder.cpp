// A stand-in for a started program: appends how it was started to "<its own path>.log" and ends.
// Lines: the command line, the working folder, the file name of the process that started it, the
// number of arguments (program name included).
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

std::string ParentName() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return "";
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  DWORD parent = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  std::string name;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) name = entry.szExeFile;
  }
  CloseHandle(snapshot);
  return name;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof(self));
  if (length == 0 || length >= sizeof(self)) return 1;
  char folder[MAX_PATH * 2];
  if (GetCurrentDirectoryA(sizeof(folder), folder) == 0) folder[0] = '\0';
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments != nullptr) LocalFree(arguments);

  const std::string record = std::string(GetCommandLineA()) + "\n" + folder + "\n" + ParentName() +
                             "\n" + std::to_string(count) + "\n";
  const std::string log = std::string(self) + ".log";
  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
