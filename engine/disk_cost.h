// What the rest of an update writes, costed against the free space of each volume before anything
// is changed: before the uninstaller starts, and before the setup files are unpacked. A disk that
// runs full half-way would leave the user's log, settings and resume entry at risk; it is cheaper
// to ask the user to free the space first.
#ifndef ENGINE_DISK_COST_H_
#define ENGINE_DISK_COST_H_

#include <windows.h>

#include "engine/core/file_utils.h"

// Bytes written on one volume (named by its root path, "C:\").
struct DiskCost {
  char volume[kPathBufferSize];
  ULONGLONG bytes;
};
// Free bytes of one volume, for the caller.
struct VolumeFree {
  char volume[kPathBufferSize];
  ULONGLONG bytes;
};
// The volume that lacks the most space, and by how much; bytes 0 when every volume has enough.
struct DiskShortfall {
  const char* volume;
  ULONGLONG bytes;
};

// The arithmetic: the costs of each volume (names compared without case) are added up, with no
// overflow, and compared with its free space. A volume whose free space is not known counts as
// having enough.
DiskShortfall FindDiskShortfall(const DiskCost* costs, int costCount, const VolumeFree* space,
                                int volumeCount);

// Registry files grow as settings are saved and put back; this much is kept free for them on the
// system's volume.
constexpr ULONGLONG kRegistryMargin = 4ull * 1024 * 1024;

enum class DiskStep {
  kBeforeUninstall,   // the log's copies, the launcher and the updater's copy, the unpacked setup
  kBeforeExtraction,  // the unpacked setup and the log put back
};

// Costs the rest of the update from this step on and reads each volume's free space. TRUE when
// every volume has room. FALSE, after telling the user in Japanese which drive lacks how much
// (the run log has the figures, with ERROR_DISK_FULL), when one does not. A volume whose free
// space cannot be read is logged and not held against the update.
BOOL CheckDiskSpace(DiskStep step);

#endif  // ENGINE_DISK_COST_H_
