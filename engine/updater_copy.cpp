#include "engine/updater_copy.h"

#include <cwchar>

#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/run_log.h"
#include "engine/work_folder.h"

namespace {

constexpr DWORD kTransferBufferSize = 102400;

// The running updater's own file, held open from the start of the run so that nobody can change,
// rename or replace it while the run lasts: the copy the resume entry starts is made from it.
base::ScopedHandle& HeldUpdaterFile() {
  static base::ScopedHandle file;
  return file;
}

}  // namespace

bool IsRunningImage(HANDLE file) {
  using SameMappedFilesFunction = LONG(WINAPI*)(PVOID, PVOID);
  const auto sameFiles = reinterpret_cast<SameMappedFilesFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtAreMappedFilesTheSame")));
  if (sameFiles == nullptr) return false;
  // A view of the open file, compared by the system with the view of the running image: the same
  // file, whatever either is named now.
  base::ScopedHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return false;
  const bool same = sameFiles(GetModuleHandleW(nullptr), view) == 0;
  UnmapViewOfFile(view);
  return same;
}

bool CopyUpdaterIntoWorkFolder(wchar_t* copy) {
  if (!GetWorkPathW(WorkItem::kUpdaterCopy, copy)) return false;
  wchar_t own[kPathBufferSize];
  if (!GetUpdaterPathW(own)) return false;
  // Paths of the program's own files are compared ordinally.
  if (wcscmp(own, copy) == 0) return true;
  HoldUpdaterFile();
  base::ScopedHandle& source = HeldUpdaterFile();
  if (!source) {
    // The program's own file could not be held, or what its path opens is not the running image:
    // nothing else is ever copied in its place.
    RunLogWrite("the running updater's own file cannot be held; no copy is made");
    ShowSystemErrorBox(ERROR_FILE_INVALID);
    return false;
  }
  LARGE_INTEGER start = {};
  base::ScopedHandle target(
      CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  base::ScopedHeapBlock buffer(kTransferBufferSize);
  bool ok = target && buffer && SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN);
  for (DWORD read = 1; ok && read > 0;) {
    ok = ReadFile(source.get(), buffer.get(), kTransferBufferSize, &read, nullptr) &&
         WriteAll(target.get(), buffer.get(), read);
  }
  ok = ok && FlushFileBuffers(target.get());
  // The copy is checked: it has every byte of the running updater's file.
  LARGE_INTEGER sourceSize = {}, copySize = {};
  ok = ok && GetFileSizeEx(source.get(), &sourceSize) && GetFileSizeEx(target.get(), &copySize) &&
       (sourceSize.QuadPart == copySize.QuadPart || (SetLastError(ERROR_WRITE_FAULT), false));
  if (!ok) {
    const DWORD error = GetLastError();
    RunLogFailure("copying the updater into the work folder", error);
    target.reset();
    DeleteFileW(copy);
    ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

void HoldUpdaterFile() {
  base::ScopedHandle& file = HeldUpdaterFile();
  if (file) return;
  wchar_t own[kPathBufferSize];
  if (!GetUpdaterPathW(own)) return;
  base::ScopedHandle opened(CreateFileW(own, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  // The path names the file the program was started from only while nobody has renamed that
  // file and put another one in its place.
  if (opened && IsRunningImage(opened.get())) file = std::move(opened);
}

bool IsRunningAsResumeCopy() {
  wchar_t own[kPathBufferSize];
  wchar_t copy[kPathBufferSize];
  // Paths of the program's own files are compared ordinally.
  return GetUpdaterPathW(own) && GetWorkPathW(WorkItem::kUpdaterCopy, copy) &&
         wcscmp(own, copy) == 0;
}
