#include "engine/updater_copy.h"

#include "base/scoped.h"
#include "base/system_dlls.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
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

using GetMappedFileNameFunction = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);

// The path of the file mapped as this program's image, as the system names it now (it follows a
// rename): "\Device\HarddiskVolume1\...", or "\??\C:\..." under Wine. False when unknown.
bool GetMappedImagePath(wchar_t (&path)[kPathBufferSize]) {
  auto getMapped = reinterpret_cast<GetMappedFileNameFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32GetMappedFileNameW")));
  base::ScopedLibrary psapi;
  if (getMapped == nullptr) {
    psapi.reset(base::LoadSystemLibrary("psapi.dll"));
    if (psapi) {
      getMapped = reinterpret_cast<GetMappedFileNameFunction>(
          reinterpret_cast<void*>(GetProcAddress(psapi.get(), "GetMappedFileNameW")));
    }
  }
  if (getMapped == nullptr) return false;
  const DWORD length = getMapped(GetCurrentProcess(), GetModuleHandleW(nullptr), path, kPathBufferSize);
  return length > 0 && length < kPathBufferSize;
}

bool SameText(const wchar_t* a, const wchar_t* b) {
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

// Whether an open file is the one mapped as this program's image: the mapped file's path equals
// the handle's final path, in the system's device form or (Wine) in its "\??\" form.
bool IsMappedImage(HANDLE file) {
  wchar_t mapped[kPathBufferSize];
  wchar_t opened[kPathBufferSize];
  if (!GetMappedImagePath(mapped)) return false;
  DWORD length = late::GetFinalPathNameByHandleW(file, opened, kPathBufferSize,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
  if (length > 0 && length < kPathBufferSize && SameText(mapped, opened)) return true;
  length = late::GetFinalPathNameByHandleW(file, opened, kPathBufferSize,
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 4 && length < kPathBufferSize && CompareStringW(LOCALE_INVARIANT, 0, mapped, 4,
                                                                   L"\\??\\", 4) == CSTR_EQUAL &&
         CompareStringW(LOCALE_INVARIANT, 0, opened, 4, L"\\\\?\\", 4) == CSTR_EQUAL &&
         SameText(mapped + 4, opened + 4);
}

}  // namespace

bool CopyUpdaterIntoWorkFolder(wchar_t* copy) {
  if (!GetWorkPathW(WorkItem::kUpdaterCopy, copy)) return false;
  wchar_t own[kPathBufferSize];
  if (!GetUpdaterPathW(own)) return false;
  if (SameText(own, copy)) return true;
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
  base::ScopedHandle target(CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
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
  if (opened && IsMappedImage(opened.get())) file = std::move(opened);
}


bool IsRunningAsResumeCopy() {
  wchar_t own[kPathBufferSize];
  wchar_t copy[kPathBufferSize];
  return GetUpdaterPathW(own) && GetWorkPathW(WorkItem::kUpdaterCopy, copy) &&
         late::CompareStringOrdinal(own, -1, copy, -1, TRUE) == CSTR_EQUAL;
}
