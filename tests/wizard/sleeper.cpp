// A stand-in for an external program that takes its time: sleeps the given milliseconds.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(argc > 1 ? static_cast<DWORD>(atoi(argv[1])) : 3000);
  return 0;
}
