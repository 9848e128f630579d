// Benchmark of the log's carry-over: the backup and the restore of a 1 MiB and a 256 MiB log
// against CopyFileA of the same file with its flush (what a copy that must survive a power cut
// costs at least), and the private memory the backup commits at its peak for each size. Each
// figure is the median of the given number of runs. Prints figures; it never fails a slow machine.
//
// Usage: log_benchmark.exe [runs]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/scoped.h"
#include "engine/carryover/user_data_backup.h"
#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

SIZE_T CommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION info;
  const char* address = nullptr;
  while (VirtualQuery(address, &info, sizeof(info)) == sizeof(info)) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

bool WriteLog(const std::string& path, size_t size) {
  base::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::string block(1024 * 1024, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
  for (size_t done = 0; done < size;) {
    const DWORD chunk = static_cast<DWORD>(std::min(block.size(), size - done));
    DWORD written = 0;
    if (!WriteFile(file.get(), block.data(), chunk, &written, nullptr) || written != chunk) {
      return false;
    }
    done += chunk;
  }
  return FlushFileBuffers(file.get()) != FALSE;
}

// CopyFileA of the log beside it, and the copy flushed to the disk.
double CopyWithFlush(const std::string& log) {
  const std::string copy = log + ".copy";
  const double start = Now();
  CopyFileA(log.c_str(), copy.c_str(), FALSE);
  {
    base::ScopedHandle file(CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    FlushFileBuffers(file.get());
  }
  const double took = Now() - start;
  DeleteFileA(copy.c_str());
  return took;
}

// The backup's saved copy and its record go; the work folder stays, as it does in an update.
void ForgetBackup() {
  char backup[kPathBufferSize];
  if (GetWorkPath(WorkItem::kBackupFolder, backup)) {
    DeleteFileA((std::string(backup) + "\\" + product::kLogFile).c_str());
  }
  WriteUpdaterString(nullptr, updater_value::kBackupFolder, nullptr);
}

// Peak private memory committed while one backup runs, above what was committed before it.
SIZE_T BackupPeakMemory() {
  std::atomic<int> phase{0};
  std::atomic<SIZE_T> baseline{0}, peak{0};
  std::thread sampler([&] {
    baseline = peak = CommittedPrivateBytes();
    phase = 1;
    while (phase == 1) {
      const SIZE_T now = CommittedPrivateBytes();
      if (now > peak) peak = now;
      Sleep(1);
    }
  });
  while (phase == 0) Sleep(1);
  BackUpUserData();
  phase = 2;
  sampler.join();
  ForgetBackup();
  return peak - baseline;
}

void Measure(const testing_support::ScopedProductFolder& product, size_t size, const char* name,
             int runs) {
  const std::string log = product.Child(product::kLogFile);
  if (!WriteLog(log, size)) {
    printf("%s: the log cannot be written\n", name);
    return;
  }
  std::vector<double> copyRuns, backupRuns, restoreRuns;
  bool ok = true;
  for (int run = 0; run < runs && ok; ++run) {
    copyRuns.push_back(CopyWithFlush(log));
    double start = Now();
    ok = BackUpUserData() != FALSE;
    backupRuns.push_back(Now() - start);
    // The restore puts the saved copy back over the log (the new release's, in an update).
    start = Now();
    ok = ok && PutSavedLogBack(product::kLogFile, LogPlacement::kTakeName) && DropBackup();
    restoreRuns.push_back(Now() - start);
    ForgetBackup();
  }
  if (!ok) {
    printf("%s: the backup or the restore failed\n", name);
    return;
  }
  const double copy = Median(copyRuns), backup = Median(backupRuns), restore = Median(restoreRuns);
  printf("== %s log (%zu bytes, %d runs)\n", name, size, runs);
  printf("CopyFileA with its flush:          %8.1f ms\n", copy * 1000);
  printf("backup (median):                   %8.1f ms\n", backup * 1000);
  printf("restore (median):                  %8.1f ms\n", restore * 1000);
  printf("backup / copy:                     %8.2f   (target <= 1.50)\n", backup / copy);
  printf("restore / copy:                    %8.2f   (target <= 1.50)\n", restore / copy);
  printf("peak private memory of the backup: %zu KiB\n",
         static_cast<size_t>(BackupPeakMemory() / 1024));
  DeleteFileA(log.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
  testing_support::ScopedKeySave updaterKey(HKEY_LOCAL_MACHINE, product::kUpdaterKey);
  testing_support::ScopedProductFolder product;
  Measure(product, 1024 * 1024, "1 MiB", runs);
  Measure(product, 256u * 1024 * 1024, "256 MiB", std::max(1, std::min(runs, 5)));
  DiscardWorkFolder();
  DeleteUpdaterKey();
  return 0;
}
