// Benchmarks of the payload path: the XOR pass against memcpy of the same block, the extraction of
// this program's own embedded payload against plain copies of the same files, and the private
// memory the extraction commits at its peak. Each figure is the median of the given number of
// runs. Prints figures; it never fails on a slow machine.
//
// Usage: payload_benchmark.exe <plain payload folder> [runs]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/file_utils.h"
#include "engine/core/key_stream.h"
#include "engine/payload.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Bytes of private memory committed by this process right now (image and mapped pages, such as
// the resources the payload is read from, are not private and are not counted).
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

void XorAgainstMemcpy(int runs) {
  std::vector<unsigned char> key(kKeyStreamSize), data(kKeyStreamSize), copy(kKeyStreamSize);
  FillKeyStream(key.data(), kKeyStreamSize);
  for (unsigned i = 0; i < kKeyStreamSize; ++i) data[i] = static_cast<unsigned char>(i * 7);
  const int passes = 5000;  // about 0.5 GB each way
  std::vector<double> xorRuns, copyRuns;
  for (int run = 0; run < runs; ++run) {
    double start = Now();
    for (int i = 0; i < passes; ++i) XorWithKeyStream(data.data(), key.data(), kKeyStreamSize);
    xorRuns.push_back(Now() - start);
    start = Now();
    for (int i = 0; i < passes; ++i) {
      memcpy(copy.data(), data.data(), kKeyStreamSize);
      data[i % kKeyStreamSize] ^= copy[(i * 13) % kKeyStreamSize];  // keep the copy observable
    }
    copyRuns.push_back(Now() - start);
  }
  const double bytes = static_cast<double>(passes) * kKeyStreamSize;
  const double xorRate = bytes / Median(xorRuns) / 1e9;
  const double copyRate = bytes / Median(copyRuns) / 1e9;
  printf("xor pass (102,400-byte block):     %6.2f GB/s\n", xorRate);
  printf("memcpy of the same block:          %6.2f GB/s\n", copyRate);
  printf("xor / memcpy:                      %6.2f   (target >= 0.80)\n", xorRate / copyRate);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}

// Peak of the private memory committed while one extraction runs, above what was committed just
// before it. The sampler thread exists (with its stack) before the baseline is taken.
SIZE_T ExtractionPeakMemory() {
  std::atomic<int> phase{0};  // 0 starting, 1 baseline taken, 2 done
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
  char folder[kPathBufferSize];
  const int ok = ExtractPayload(folder);
  phase = 2;
  sampler.join();
  if (ok) DeleteFolderTree(folder);
  return peak - baseline;
}

void ExtractionAgainstCopy(const std::string& plainFolder, int runs) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string copyFolder = std::string(temp) + "bench-plain-copy";
  std::vector<double> extractRuns, copyRuns;
  unsigned long long payloadBytes = 0;
  for (int run = 0; run < runs; ++run) {
    char folder[kPathBufferSize];
    double start = Now();
    const int ok = ExtractPayload(folder);
    extractRuns.push_back(Now() - start);
    if (!ok) {
      printf("extraction failed\n");
      return;
    }
    DeleteFolderTree(folder);

    // The same files copied plain into the same kind of folder.
    DeleteFolderTree(copyFolder.c_str());
    start = Now();
    CreateDirectoryA(copyFolder.c_str(), nullptr);
    payloadBytes = 0;
    for (const PayloadFile& entry : kPayloadFiles) {
      const std::string source = Join(plainFolder, entry.fileName);
      CopyFileA(source.c_str(), Join(copyFolder, entry.fileName).c_str(), FALSE);
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &data))
        payloadBytes += data.nFileSizeLow;
    }
    copyRuns.push_back(Now() - start);
  }
  DeleteFolderTree(copyFolder.c_str());
  const double extract = Median(extractRuns), copy = Median(copyRuns);
  printf("payload: %llu bytes in 10 files, %d runs\n", payloadBytes, runs);
  printf("ExtractPayload (median):           %8.1f ms\n", extract * 1000);
  printf("CopyFileA of the plain files:      %8.1f ms\n", copy * 1000);
  printf("extraction / copy:                 %8.2f   (target <= 1.00)\n", extract / copy);
  printf("peak private memory committed by the extraction: %zu KiB\n",
         static_cast<size_t>(ExtractionPeakMemory() / 1024));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <plain payload folder> [runs]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 15;
  XorAgainstMemcpy(runs);
  ExtractionAgainstCopy(argv[1], runs);
  return 0;
}
