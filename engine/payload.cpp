// Extraction of the embedded setup files into the setup folder of the update's work folder.
#include "engine/payload.h"

#include <windows.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/key_stream.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/disk_cost.h"
#include "engine/work_folder.h"

namespace {

// Key-stream blocks per write, and the write block's size: large enough that a file of tens of
// megabytes takes few writes, small enough that the extraction's memory stays under a megabyte.
constexpr DWORD kWriteBlocks = 8;
constexpr DWORD kWriteBlockSize = kWriteBlocks * kKeyStreamSize;

// The work folder's setup folder into folder[520], making the work folder when there is none yet.
// Shows the system's text when no work folder can be had.
bool BuildExtractionFolderPath(char* folder) {
  char workFolder[kPathBufferSize];
  if (!EnsureWorkFolder(workFolder) || !GetWorkPath(WorkItem::kSetupFolder, folder)) {
    const DWORD error = GetLastError();
    ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_CANNOT_MAKE);
    folder[0] = '\0';
    return false;
  }
  return true;
}

// Writes one resource, unscrambled, to path. Shows the system's text on failure. The resource is
// unscrambled straight from the program's mapped image into the write block, kWriteBlocks
// key-stream blocks at a time: one pass over the data and few writes for a file of many megabytes.
bool ExtractEntry(HMODULE module, const PayloadFile& entry, const char* path, unsigned char* block,
                  const unsigned char* key) {
  HRSRC resource =
      FindResourceA(module, MAKEINTRESOURCEA(entry.resourceId), product::kPayloadResourceType);
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const unsigned char* data =
      loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) {
    const DWORD error = GetLastError();
    ShowSystemErrorBox(error);
    return false;
  }

  base::ScopedHandle file(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    ShowSystemErrorBox(error);
    return false;
  }

  const DWORD size = SizeofResource(module, resource);
  RunLogWrite("extracting %s (%lu bytes)", path, static_cast<unsigned long>(size));
  DWORD offset = 0;
  while (offset < size) {
    const DWORD left = size - offset;
    const DWORD chunk = left < kWriteBlockSize ? left : kWriteBlockSize;
    // A chunk starts on a key-stream block of the file, so each 102,400-byte part of it is XORed
    // with the key stream from its byte 0.
    for (DWORD part = 0; part < chunk; part += kKeyStreamSize) {
      const DWORD length = chunk - part < kKeyStreamSize ? chunk - part : kKeyStreamSize;
      XorWithKeyStreamInto(block + part, data + offset + part, key, length);
    }
    if (!WriteAll(file.get(), block, chunk)) {
      const DWORD error = GetLastError();
      RunLogWrite("extracting %s: writing at byte %lu failed", path,
                  static_cast<unsigned long>(offset));
      ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
      return false;  // the file is closed before the folder goes
    }
    offset += chunk;
  }
  return true;
}

}  // namespace

int ExtractPayload(char* folder) {
  folder[0] = '\0';
  if (!BuildExtractionFolderPath(folder)) {
    folder[0] = '\0';
    return 0;
  }

  // Whatever an earlier run left behind goes first. What cannot be removed is never extracted
  // into: a file held open there, or a link that stays, could be something another program of
  // the user planted next to the setup that is about to run with administrator rights.
  WIN32_FILE_ATTRIBUTE_DATA existing;
  if (GetFileAttributesExA(folder, GetFileExInfoStandard, &existing) && !DeleteFolderTree(folder)) {
    const DWORD error = GetLastError();
    if (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES) {
      ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_DIR_NOT_EMPTY);
      folder[0] = '\0';
      return 0;
    }
  }
  // The setup files fit, and so does the log that comes back after them; otherwise nothing is
  // unpacked and the user is told how much to free.
  if (!CheckDiskSpace(DiskStep::kBeforeExtraction)) {
    folder[0] = '\0';
    return 0;
  }
  if (!CreateDirectoryA(folder, nullptr)) {
    RunLogFailureFormat(GetLastError(), "payload: CreateDirectory of %s failed", folder);
    folder[0] = '\0';
    return 0;
  }

  // The two buffers, the same whatever the size of the files.
  base::ScopedHeapBlock block(kWriteBlockSize);
  base::ScopedHeapBlock key(kKeyStreamSize);
  bool ok = block && key;
  if (!ok) RunLogFailure("payload: no memory for the extraction", ERROR_NOT_ENOUGH_MEMORY);
  if (ok) {
    FillKeyStream(key.as(), kKeyStreamSize);
    HMODULE module = GetModuleHandleA(nullptr);
    for (const PayloadFile& entry : kPayloadFiles) {
      char path[kPathBufferSize];
      if (!base::FormatBounded(path, sizeof(path), "%s\\%s", folder, entry.fileName)) {
        // Cannot happen with a temporary folder that fit, but a cut path must never be written.
        ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
        ok = false;
        break;
      }
      ok = ExtractEntry(module, entry, path, block.as(), key.as());
      if (!ok) break;
    }
  }
  if (!ok) {
    DeleteFolderTree(folder);
    folder[0] = '\0';
    return 0;
  }
  return 1;
}

void DeleteExtractedPayload(const char* folder) {
  if (!DeleteFolderTree(folder)) {
    RunLogFailureFormat(GetLastError(), "payload: the setup folder %s cannot be deleted", folder);
  }
}
