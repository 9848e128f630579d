#include "engine/disk_cost.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/carryover/user_data_backup.h"
#include "engine/core/error_box.h"
#include "engine/core/names.h"
#include "engine/core/payload_files.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/product_probe.h"
#include "engine/work_folder.h"
#include "res/resource.h"

namespace {

constexpr int kMaxVolumes = 4;
constexpr int kMaxCosts = 8;
constexpr ULONGLONG kMebibyte = 1024ull * 1024;

bool SameVolume(const char* a, const char* b) { return SameName(a, b); }

ULONGLONG AddWithoutOverflow(ULONGLONG a, ULONGLONG b) { return a + b < a ? ~0ull : a + b; }

// What is added up: the costs, each on the volume of a path.
class CostList {
 public:
  // Adds bytes on the volume that holds path (or would hold it: the path need not exist yet).
  void Add(const char* path, ULONGLONG bytes, const char* what) {
    if (bytes == 0 || count_ >= kMaxCosts) return;
    DiskCost& cost = costs_[count_];
    if (!GetVolumePathNameA(path, cost.volume, sizeof(cost.volume))) {
      RunLogFailure(path, GetLastError());
      return;
    }
    cost.bytes = bytes;
    RunLogWrite("disk cost: %s %llu bytes on %s", what, bytes, cost.volume);
    ++count_;
  }
  const DiskCost* costs() const { return costs_; }
  int count() const { return count_; }

 private:
  DiskCost costs_[kMaxCosts] = {};
  int count_ = 0;
};

// The size of a file, 0 when it cannot be read (there is none).
ULONGLONG FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return 0;
  }
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

ULONGLONG ResourceSize(int id) {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), product::kPayloadResourceType);
  return resource != nullptr ? SizeofResource(nullptr, resource) : 0;
}

ULONGLONG PayloadSize() {
  ULONGLONG total = 0;
  for (const PayloadFile& entry : kPayloadFiles) total += ResourceSize(entry.resourceId);
  return total;
}

// The listed files of the product folder, or of the backup folder: the log's copies.
ULONGLONG LogSize(const char* folder) {
  ULONGLONG total = 0;
  for (const char* const* entry = BackupFileList; *entry != nullptr; ++entry) {
    char path[kPathBufferSize];
    if (JoinPath(folder, *entry, path)) total += FileSize(path);
  }
  return total;
}

// Where the work folder is or will be: its own path once it exists, else the folder it is made in.
bool WorkFolderPlace(char (&place)[kPathBufferSize]) {
  if (GetWorkFolder(place)) return true;
  return GetWorkFolderParentPath(place) != FALSE;
}

// "12 MB": the shortfall, rounded up to whole mebibytes.
void FormatAmount(ULONGLONG bytes, char* text, size_t size) {
  base::FormatBounded(text, size, "%llu MB", (bytes + kMebibyte - 1) / kMebibyte);
}

void TellShortfall(const DiskShortfall& shortfall) {
  char amount[32];
  FormatAmount(shortfall.bytes, amount, sizeof(amount));
  RunLogWrite("disk cost: %s lacks %llu bytes; nothing is started", shortfall.volume,
              shortfall.bytes);
  char format[512];
  char text[1024];
  if (LoadStringA(GetModuleHandleA(nullptr), IDS_DISK_SHORT, format, sizeof(format)) <= 0 ||
      !base::FormatBounded(text, sizeof(text), format, shortfall.volume, amount)) {
    ShowSystemErrorBox(ERROR_DISK_FULL);
    return;
  }
  RunLogFailure("shown to the user", ERROR_DISK_FULL);
  ShowErrorText(text);
}

}  // namespace

DiskShortfall FindDiskShortfall(const DiskCost* costs, int costCount, const VolumeFree* space,
                                int volumeCount) {
  DiskShortfall worst = {nullptr, 0};
  for (int v = 0; v < volumeCount; ++v) {
    ULONGLONG needed = 0;
    for (int c = 0; c < costCount; ++c) {
      if (SameVolume(costs[c].volume, space[v].volume)) {
        needed = AddWithoutOverflow(needed, costs[c].bytes);
      }
    }
    if (needed > space[v].bytes && needed - space[v].bytes > worst.bytes) {
      worst = {space[v].volume, needed - space[v].bytes};
    }
  }
  return worst;
}

BOOL CheckDiskSpace(DiskStep step) {
  char work[kPathBufferSize];
  char product[kPathBufferSize];
  char system[kPathBufferSize];
  const bool haveWork = WorkFolderPlace(work);
  const bool haveProduct = GetProductInstallFolder(product) != FALSE;
  CostList costs;
  if (haveWork) costs.Add(work, PayloadSize(), "the unpacked setup");
  if (step == DiskStep::kBeforeUninstall) {
    const ULONGLONG log = haveProduct ? LogSize(product) : 0;
    if (haveWork) {
      costs.Add(work, log, "the log's copy");
      costs.Add(work, ResourceSize(product::kLauncherResourceId), "the launcher");
      wchar_t own[kPathBufferSize];
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (GetUpdaterPathW(own) && GetFileAttributesExW(own, GetFileExInfoStandard, &data)) {
        costs.Add(work, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                  "the updater's copy");
      }
    }
    // The log comes back as a new file beside the one there before the copy goes.
    if (haveProduct) costs.Add(product, log, "the log put back");
  } else if (haveProduct && haveWork) {
    char backup[kPathBufferSize];
    if (GetWorkPath(WorkItem::kBackupFolder, backup)) {
      costs.Add(product, LogSize(backup), "the log put back");
    }
  }
  if (GetSystemDirectoryA(system, sizeof(system)) > 0) {
    costs.Add(system, kRegistryMargin, "the registry");
  }

  VolumeFree space[kMaxVolumes] = {};
  int volumes = 0;
  for (int c = 0; c < costs.count() && volumes < kMaxVolumes; ++c) {
    bool known = false;
    const char* volume = costs.costs()[c].volume;
    for (int v = 0; v < volumes; ++v) known = known || SameVolume(space[v].volume, volume);
    if (known) continue;
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(volume, &available, nullptr, nullptr)) {
      RunLogFailure(volume, GetLastError());
      continue;
    }
    base::CopyBounded(space[volumes].volume, sizeof(space[volumes].volume), volume);
    space[volumes].bytes = available.QuadPart;
    RunLogWrite("disk free: %s %llu bytes", space[volumes].volume, space[volumes].bytes);
    ++volumes;
  }
  const DiskShortfall shortfall = FindDiskShortfall(costs.costs(), costs.count(), space, volumes);
  if (shortfall.bytes == 0) return TRUE;
  TellShortfall(shortfall);
  return FALSE;
}
