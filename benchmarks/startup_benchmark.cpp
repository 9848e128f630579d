// Start-up of Updater.exe with its payload: the time from CreateProcess to the wizard's first page
// on the screen, and the updater's working set at that moment, before anything is extracted. Two
// builds are started in turn (the stand-in payload and a large one), so that a shared machine's
// load falls on both alike; their medians show whether start-up grows with the payload. It must
// not: the image is mapped, and the payload's pages are read only when the extraction needs them.
//
// Usage: startup_benchmark <small Updater.exe> <large Updater.exe> [runs]   (default 11 runs each)
#include <windows.h>
#include <prsht.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Found {
  DWORD processId;
  HWND sheet;
};

BOOL CALLBACK FindSheet(HWND window, LPARAM parameter) {
  Found* found = reinterpret_cast<Found*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != found->processId || !IsWindowVisible(window)) return TRUE;
  // The wizard is the sheet whose current page exists and is visible: the first page is drawn.
  HWND page = reinterpret_cast<HWND>(SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0));
  if (page == nullptr || !IsWindowVisible(page)) return TRUE;
  found->sheet = window;
  return FALSE;
}

struct Run {
  double seconds;
  SIZE_T workingSet;
};

bool StartOnce(const char* updater, Run* run) {
  char commandLine[MAX_PATH + 2];
  wsprintfA(commandLine, "\"%s\"", updater);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(updater, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "cannot start %s: error %lu\n", updater, GetLastError());
    return false;
  }
  Found found = {process.dwProcessId, nullptr};
  bool shown = false;
  for (int i = 0; i < 60000 && !shown; ++i) {
    EnumWindows(FindSheet, reinterpret_cast<LPARAM>(&found));
    shown = found.sheet != nullptr;
    if (!shown) {
      if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
    }
  }
  QueryPerformanceCounter(&now);
  run->seconds = static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (shown) GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters));
  run->workingSet = counters.WorkingSetSize;
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!shown) fprintf(stderr, "%s showed no wizard page\n", updater);
  return shown;
}

template <typename T>
T Median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s <small Updater.exe> <large Updater.exe> [runs]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 11;
  std::vector<double> times[2];
  std::vector<SIZE_T> workingSets[2];
  for (int i = 0; i < runs; ++i) {
    for (int which = 0; which < 2; ++which) {
      Run run;
      if (!StartOnce(argv[1 + which], &run)) return 1;
      times[which].push_back(run.seconds);
      workingSets[which].push_back(run.workingSet);
      // One updater at a time: the ended one may hold its mutex for a moment.
      Sleep(200);
    }
  }
  const double small = Median(times[0]) * 1000, large = Median(times[1]) * 1000;
  const unsigned long smallSet = static_cast<unsigned long>(Median(workingSets[0]) / 1024);
  const unsigned long largeSet = static_cast<unsigned long>(Median(workingSets[1]) / 1024);
  printf("start to first page, small payload (median of %d): %8.1f ms\n", runs, small);
  printf("start to first page, large payload (median of %d): %8.1f ms\n", runs, large);
  printf("large / small:                                     %8.2f   (target <= 1.20)\n",
         large / small);
  printf("working set at the first page, small payload:      %8lu KiB\n", smallSet);
  printf("working set at the first page, large payload:      %8lu KiB\n", largeSet);
  printf("large less small:                                  %8ld KiB (target <= 4096)\n",
         static_cast<long>(largeSet) - static_cast<long>(smallSet));
  return 0;
}
