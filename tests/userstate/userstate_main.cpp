// Entry point of userstate_tests. Started again through the registered resume command line (as
// the system does at logon), the program plays the updater: it notes its command line in the file
// that USERSTATE_RESUMED_MARK names and ends without running any test.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  char mark[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableA("USERSTATE_RESUMED_MARK", mark, sizeof(mark));
  if (length > 0 && length < sizeof(mark)) {
    HANDLE file =
        CreateFileA(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    return 0;
  }
  // The programs the tests start (the launcher, and what it starts through the shell, which may
  // bring up further programs of the system) get no handle to this program's output: a pipe held
  // open by one of them would keep the test run waiting. The runtime keeps the handles it has.
  HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
  if (nul != INVALID_HANDLE_VALUE) {
    SetStdHandle(STD_INPUT_HANDLE, nul);
    SetStdHandle(STD_OUTPUT_HANDLE, nul);
    SetStdHandle(STD_ERROR_HANDLE, nul);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
