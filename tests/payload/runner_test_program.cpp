// A small program for the process-runner tests: it records its start (command line, process id
// working folder and TEMP) and its end in "<own path>.ran", and in between sleeps for the number of
// milliseconds given as its first argument (300 when none is given). So a test can tell whether it
// ran, how it was started, and whether it had ended when its end was reported.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

void AppendLine(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  char marker[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameA(nullptr, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  lstrcatA(marker, ".ran");

  char line[4096];
  lstrcpynA(line, "command ", sizeof(line));
  lstrcatA(line, GetCommandLineA());
  AppendLine(marker, line);
  wsprintfA(line, "pid %lu", GetCurrentProcessId());
  AppendLine(marker, line);
  char folder[MAX_PATH * 2] = "";
  GetCurrentDirectoryA(sizeof(folder), folder);
  lstrcpyA(line, "folder ");
  lstrcatA(line, folder);
  AppendLine(marker, line);
  lstrcpyA(line, "temp ");
  GetEnvironmentVariableA("TEMP", line + 5, sizeof(line) - 5);
  AppendLine(marker, line);

  const unsigned long wait = (arguments && *arguments) ? std::strtoul(arguments, nullptr, 10) : 300;
  Sleep(wait);
  AppendLine(marker, "end");
  return 0;
}
