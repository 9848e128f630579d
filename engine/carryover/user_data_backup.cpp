#include "engine/carryover/user_data_backup.h"

#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "base/bounded_string.h"
#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/names.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/product_probe.h"
#include "engine/work_folder.h"

const char* const BackupFileList[] = {product::kLogFile, nullptr};

namespace {

// A wide path of the same length as the ANSI buffers, plus the "\\?\" a final path starts with.
constexpr DWORD kWidePathSize = kPathBufferSize + 8;
// "_yyyymmdd-hhmmss" between a saved name's stem and its extension.
constexpr size_t kDateStampLength = 16;
// Attempts at a free name for a new file beside a target, and at a free dated name.
constexpr int kNameAttempts = 64;
// The record of the saved copies' names and sizes.
constexpr DWORD kRecordSize = 8192;

// The product folder with its trailing backslash.
bool GetProductFolder(char (&folder)[kPathBufferSize]) {
  return GetProductInstallFolder(folder) && AppendBackslash(folder, sizeof(folder));
}

// True when the open handle leads to exactly this (full) path: no link on the way, no other
// name. GetFinalPathNameByHandleW answers "\\?\C:\...".
bool HandleLeadsTo(HANDLE file, const wchar_t* path) {
  wchar_t expected[kWidePathSize];
  wchar_t final[kWidePathSize];
  const DWORD full = GetFullPathNameW(path, kWidePathSize, expected, nullptr);
  const DWORD length = late::GetFinalPathNameByHandleW(file, final, kWidePathSize,
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (full == 0 || full >= kWidePathSize || length == 0 || length >= kWidePathSize) return false;
  const wchar_t* shown = wcsncmp(final, L"\\\\?\\", 4) == 0 ? final + 4 : final;
  return SameName(shown, expected);
}

enum class OpenResult { kOpened, kAbsent, kRefused, kFailed };

// Opens path for reading once, without following a reparse point. Refused: a folder, a reparse
// point, a file with more than one name (a hard link), or a handle whose final path is another
// (a link that the system resolved all the same). kFailed leaves the code in GetLastError().
OpenResult OpenWithoutLinks(const char* path, base::ScopedHandle* file,
                            BY_HANDLE_FILE_INFORMATION* information) {
  const base::WideText wide = ToWide(path);
  if (wide.empty()) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return OpenResult::kFailed;
  }
  file->reset(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!*file) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OpenResult::kAbsent;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return OpenResult::kRefused;
    }
    SetLastError(error);
    return OpenResult::kFailed;
  }
  if (!GetFileInformationByHandle(file->get(), information)) return OpenResult::kFailed;
  if ((information->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      information->nNumberOfLinks != 1 || !HandleLeadsTo(file->get(), wide.c_str())) {
    file->reset();
    return OpenResult::kRefused;
  }
  return OpenResult::kOpened;
}

// Opens a file to be read by OpenWithoutLinks: its bytes are read from *file, block by block,
// whatever its size. TRUE with *file empty when there is none; a refused file counts as none, with
// a line in the run log. FALSE, logged, when it cannot be opened.
bool ReadWithoutLinks(const char* path, base::ScopedHandle* file, FILETIME* written) {
  BY_HANDLE_FILE_INFORMATION information;
  switch (OpenWithoutLinks(path, file, &information)) {
    case OpenResult::kAbsent:
      file->reset();
      return true;
    case OpenResult::kRefused:
      RunLogWrite("%s is a folder, a link or one of several names of a file; not read", path);
      file->reset();
      return true;
    case OpenResult::kFailed: {
      const DWORD error = GetLastError();
      file->reset();
      RunLogFailure(path, error);
      SetLastError(error);
      return false;
    }
    case OpenResult::kOpened:
      break;
  }
  if (written != nullptr) *written = information.ftLastWriteTime;
  return true;
}

// The size of an open file for the run log.
unsigned long long SizeOf(HANDLE file) {
  LARGE_INTEGER size = {};
  return GetFileSizeEx(file, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

LogCopyRule RuleFor(bool hasSaved, bool hasLive, bool liveEmpty, bool liveContinuesSaved) {
  if (!hasSaved) return hasLive ? LogCopyRule::kSaveLive : LogCopyRule::kKeepSaved;
  if (!hasLive || liveEmpty) return LogCopyRule::kKeepSaved;
  return liveContinuesSaved ? LogCopyRule::kLiveReplacesSaved : LogCopyRule::kKeepBoth;
}

// ChooseLogCopy on two open files (an empty handle: none), compared in blocks. FALSE, with the
// code in GetLastError(), when they cannot be read.
bool ChooseLogCopyOfFiles(HANDLE saved, HANDLE live, LogCopyRule* rule) {
  const bool hasSaved = saved != nullptr && saved != INVALID_HANDLE_VALUE;
  const bool hasLive = live != nullptr && live != INVALID_HANDLE_VALUE;
  bool continues = false;
  if (hasSaved && hasLive && SizeOf(live) != 0) {
    bool failed = false;
    const FileComparison comparison = CompareFileBlocks(live, saved, &failed);
    if (failed) return false;
    continues = comparison != FileComparison::kDifferent;
  }
  *rule = RuleFor(hasSaved, hasLive, hasLive && SizeOf(live) == 0, continues);
  return true;
}

// Writes the whole of source as folder\name without writing through whatever has the name now: a
// new file beside it (created new, checked to be where it was meant to be), written block by block
// and flushed to the disk, then renamed over the name. An interruption leaves either the old file
// or the new one, and a link at the name is replaced, never followed.
bool ReplaceWithNewFile(const char* folder, const char* name, HANDLE source) {
  char target[kPathBufferSize];
  if (!JoinPath(folder, name, target)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const base::WideText wideTarget = ToWide(target);
  if (wideTarget.empty()) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }

  base::ScopedHandle file;
  wchar_t fresh[kWidePathSize];
  const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < kNameAttempts && !file; ++attempt) {
    const int length = _snwprintf(fresh, kWidePathSize, L"%ls.%08lx.new", wideTarget.c_str(),
                                  static_cast<unsigned long>(seed + attempt));
    if (length < 0 || length >= static_cast<int>(kWidePathSize)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    file.reset(CreateFileW(fresh, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file) return false;

  bool ok = HandleLeadsTo(file.get(), fresh) || (SetLastError(ERROR_ACCESS_DENIED), false);
  ok = ok && CopyFileBlocks(source, file.get()) && FlushFileBuffers(file.get());
  if (ok) {
    // The rename acts on this handle: the very file just written takes the name.
    const size_t nameBytes = wideTarget.size() * sizeof(wchar_t);
    // The structure's own FileName[1] leaves room for the terminating NUL, which the system's
    // path conversion reads.
    base::ScopedHeapBlock block(sizeof(FILE_RENAME_INFO) + nameBytes);
    ok = static_cast<bool>(block) || (SetLastError(ERROR_NOT_ENOUGH_MEMORY), false);
    if (ok) {
      FILE_RENAME_INFO* rename = block.as<FILE_RENAME_INFO>();
      ZeroMemory(rename, sizeof(FILE_RENAME_INFO) + nameBytes);
      rename->ReplaceIfExists = TRUE;
      rename->FileNameLength = static_cast<DWORD>(nameBytes);
      CopyMemory(rename->FileName, wideTarget.c_str(), nameBytes);
      const DWORD renameSize = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + nameBytes);
      ok = late::SetFileInformationByHandle(file.get(), FileRenameInfo, rename, renameSize) &&
           FlushFileBuffers(file.get());
    }
  }
  if (!ok) {
    const DWORD error = GetLastError();
    RunLogFailure(target, error);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    late::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                     sizeof(disposition));
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
  }
  return true;
}

// "<stem>_yyyymmdd-hhmmss<extension>" for a listed name and a time.
bool BuildDatedName(const char* name, const SYSTEMTIME& time, char* dated, size_t size) {
  const char* dot = strrchr(name, '.');
  const int stem = static_cast<int>(dot != nullptr ? dot - name : strlen(name));
  return base::FormatBounded(dated, size, "%.*s_%s%s", stem, name, FormatTimeStamp(time).text,
                             dot != nullptr ? dot : "");
}

// True when candidate is the listed name itself or a dated copy of it.
bool IsSavedNameOf(const char* candidate, const char* name) {
  if (SameName(candidate, name)) return true;
  const char* dot = strrchr(name, '.');
  const size_t stem = dot != nullptr ? static_cast<size_t>(dot - name) : strlen(name);
  const char* extension = dot != nullptr ? dot : "";
  if (strlen(candidate) != stem + kDateStampLength + strlen(extension) ||
      !SameName(base::Text(candidate, stem).c_str(), base::Text(name, stem).c_str()) ||
      !SameName(candidate + stem + kDateStampLength, extension)) {
    return false;
  }
  const char* stamp = candidate + stem;
  for (size_t i = 0; i < kDateStampLength; ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (i == 0 ? stamp[i] != '_' : i == 9 ? stamp[i] != '-' : !digit) return false;
  }
  return true;
}

// Creates the backup folder inside the work folder with kBackupFolderSecurity: the user's saved
// files are for SYSTEM and Administrators only, not for everybody who may read the work folder.
bool CreateBackupFolder(const char* path) {
  return CreateProtectedFolder(path, kBackupFolderSecurity) && IsPlainFolder(path);
}

// Calls visit(listedName, savedName) for every plain file of the backup folder that is a listed
// name or a dated copy of one, until visit returns false. False when a visit returned false.
template <typename Visitor>
bool VisitSavedCopies(const char* backupFolder, Visitor visit) {
  bool ok = true;
  ForEachFolderEntry(backupFolder, [&](const char* path, DWORD attributes) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    const char* saved = FindLastBackslash(path) + 1;
    for (const char* const* entry = BackupFileList; *entry != nullptr; ++entry) {
      if (IsSavedNameOf(saved, *entry)) {
        ok = visit(*entry, saved);
        return ok;
      }
    }
    return true;
  });
  return ok;
}

// The dated copy of name in the backup folder that live continues (begins with its bytes), into
// dated; false when there is none.
bool FindContinuedDatedCopy(const char* backupFolder, const char* name, HANDLE live,
                            char (&dated)[kPathBufferSize]) {
  bool found = false;
  VisitSavedCopies(backupFolder, [&](const char* listed, const char* saved) {
    if (!SameName(listed, name) || SameName(saved, name)) return true;
    char path[kPathBufferSize];
    base::ScopedHandle copy;
    LogCopyRule rule = LogCopyRule::kKeepBoth;
    if (JoinPath(backupFolder, saved, path) && ReadWithoutLinks(path, &copy, nullptr) && copy &&
        ChooseLogCopyOfFiles(copy.get(), live, &rule) && rule == LogCopyRule::kLiveReplacesSaved) {
      found = base::CopyBounded(dated, sizeof(dated), saved);
    }
    return !found;
  });
  return found;
}

// A dated name for name, from the time the log was last written, that the folder does not hold
// yet (a second later each time it does).
bool BuildFreeDatedName(const char* backupFolder, const char* name, const FILETIME& written,
                        char (&dated)[kPathBufferSize]) {
  FILETIME local;
  FileTimeToLocalFileTime(&written, &local);
  ULARGE_INTEGER at;
  at.LowPart = local.dwLowDateTime;
  at.HighPart = local.dwHighDateTime;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, at.QuadPart += 10000000ull) {
    FILETIME stamp = {at.LowPart, at.HighPart};
    SYSTEMTIME time;
    char path[kPathBufferSize];
    if (!FileTimeToSystemTime(&stamp, &time) || !BuildDatedName(name, time, dated, sizeof(dated)) ||
        !JoinPath(backupFolder, dated, path)) {
      break;
    }
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return false;
}

// Saves one listed file of the product folder into the backup folder by ChooseLogCopy.
bool BackUpFile(const char* backupFolder, const char* productFolder, const char* name) {
  char inProduct[kPathBufferSize];
  char saved[kPathBufferSize];
  if (!base::FormatBounded(inProduct, sizeof(inProduct), "%s%s", productFolder, name) ||
      !JoinPath(backupFolder, name, saved)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  base::ScopedHandle live, copy;
  FILETIME written = {};
  LogCopyRule rule = LogCopyRule::kKeepSaved;
  if (!ReadWithoutLinks(inProduct, &live, &written) || !ReadWithoutLinks(saved, &copy, nullptr) ||
      !ChooseLogCopyOfFiles(copy.get(), live.get(), &rule)) {
    return false;
  }
  const bool hasCopy = static_cast<bool>(copy);
  copy.reset();  // the name is free to be replaced
  switch (rule) {
    case LogCopyRule::kKeepSaved:
      RunLogWrite("backup: %s not there or empty; the saved copy %s is kept", inProduct,
                  hasCopy ? "that exists" : "(none)");
      return true;
    case LogCopyRule::kSaveLive:
    case LogCopyRule::kLiveReplacesSaved:
      RunLogWrite("backup: %s -> %s (%s, %llu bytes)", inProduct, saved,
                  hasCopy ? "grown" : "first copy", SizeOf(live.get()));
      return ReplaceWithNewFile(backupFolder, name, live.get());
    case LogCopyRule::kKeepBoth:
      break;
  }
  // Another log than the saved one: both stay. A dated copy this log continues is refreshed;
  // otherwise it gets a dated copy of its own.
  char dated[kPathBufferSize];
  if (!FindContinuedDatedCopy(backupFolder, name, live.get(), dated) &&
      !BuildFreeDatedName(backupFolder, name, written, dated)) {
    return false;
  }
  RunLogWrite("backup: %s is not the saved log grown; both kept, it is saved as %s (%llu bytes)",
              inProduct, dated, SizeOf(live.get()));
  return ReplaceWithNewFile(backupFolder, dated, live.get());
}

// A restore step that failed: logged with its code and shown with the system's text, naming the
// file; what is not back stays saved for the next start.
BOOL RestoreStepFailed(const char* what, const char* name) {
  const DWORD error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
  RunLogWrite("%s: %s", what, name);
  ShowSystemErrorBoxAbout(error, name);
  return FALSE;
}

// "<name>:<size>|..." for every saved copy in the backup folder: what a later restore must find
// there. Neither ':' nor '|' can be part of a file name.
bool RecordSavedCopies(const char* backupFolder, base::Text* record) {
  record->clear();
  return VisitSavedCopies(backupFolder, [&](const char*, const char* name) {
    char path[kPathBufferSize];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!JoinPath(backupFolder, name, path) ||
        !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
      return false;
    }
    char entry[kPathBufferSize + 32];
    const unsigned long long size =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (!base::FormatBounded(entry, sizeof(entry), "%s%s:%llu", record->empty() ? "" : "|", name,
                             size)) {
      return false;
    }
    *record += entry;
    return true;
  });
}

// The recorded copies as (name, size); false when nothing is recorded (a backup made before the
// record existed: every saved copy in the folder then counts as recorded).
bool ReadRecordedCopies(base::HeapArray<std::pair<base::Text, unsigned long long>>* copies) {
  copies->clear();
  base::HeapArray<char> record(kRecordSize);
  if (!ReadUpdaterString(nullptr, updater_value::kBackupFiles, record.data(), kRecordSize)) {
    return false;
  }
  for (const char* at = record.data(); *at != '\0';) {
    const char* end = at;
    while (*end != '\0' && *end != '|') ++end;
    const char* colon = end;
    while (colon > at && *colon != ':') --colon;
    if (colon > at) {
      unsigned long long size = 0;
      for (const char* digit = colon + 1; digit < end && *digit >= '0' && *digit <= '9'; ++digit) {
        size = size * 10 + static_cast<unsigned>(*digit - '0');
      }
      copies->emplace_back(base::Text(at, colon), size);
    }
    at = *end == '|' ? end + 1 : end;
  }
  return true;
}

// How the product folder's file of a name stands against its saved copy.
// Compared in blocks, whatever the sizes.
ItemState CompareWithSaved(const char* productPath, const char* savedPath) {
  base::ScopedHandle live, saved;
  if (!ReadWithoutLinks(productPath, &live, nullptr) || !live || SizeOf(live.get()) == 0) {
    return live || GetFileAttributesA(productPath) == INVALID_FILE_ATTRIBUTES
               ? ItemState::kAbsent
               : ItemState::kDifferent;  // there, but not to be read: it stays untouched
  }
  if (!ReadWithoutLinks(savedPath, &saved, nullptr) || !saved) return ItemState::kDifferent;
  bool failed = false;
  switch (CompareFileBlocks(live.get(), saved.get(), &failed)) {
    case FileComparison::kEqual:
      return failed ? ItemState::kDifferent : ItemState::kSame;
    case FileComparison::kFirstContinuesSecond:
      return failed ? ItemState::kDifferent : ItemState::kContinued;
    case FileComparison::kDifferent:
      break;
  }
  return ItemState::kDifferent;
}

// The recorded backup folder of the trusted work folder, or false.
bool GetRecordedBackup(char (&backupFolder)[kPathBufferSize]) {
  if (!ReadUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder,
                         sizeof(backupFolder)) ||
      backupFolder[0] == '\0') {
    return false;
  }
  if (HasTrailingBackslash(backupFolder)) backupFolder[lstrlenA(backupFolder) - 1] = '\0';
  return true;
}

}  // namespace

LogCopyRule ChooseLogCopy(const base::Text* saved, const base::Text* live) {
  return RuleFor(saved != nullptr, live != nullptr, live != nullptr && live->empty(),
                 saved != nullptr && live != nullptr && live->starts_with(*saved));
}

BOOL BackUpUserData() {
  char productFolder[kPathBufferSize];
  if (!GetProductInstallFolder(productFolder)) return TRUE;
  if (!AppendBackslash(productFolder, sizeof(productFolder))) return FALSE;

  char workFolder[kPathBufferSize];
  char backupFolder[kPathBufferSize];
  if (!EnsureWorkFolder(workFolder) || !GetWorkPath(WorkItem::kBackupFolder, backupFolder) ||
      (!IsPlainFolder(backupFolder) && !CreateBackupFolder(backupFolder))) {
    const DWORD error = GetLastError();
    RunLogFailure("backup: the backup folder cannot be made", error);
    ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_CANNOT_MAKE);
    return FALSE;
  }
  // Every log of a saved name in the product folder: "Tidemark.log" and the dated copies that an
  // earlier restore put beside it, each under its own name.
  base::HeapArray<base::Text> names;
  for (const char* const* entry = BackupFileList; *entry != nullptr; ++entry) {
    names.push_back(*entry);
    ForEachFolderEntry(productFolder, [&](const char* path, DWORD attributes) {
      const char* name = FindLastBackslash(path) + 1;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && !SameName(name, *entry) &&
          IsSavedNameOf(name, *entry)) {
        names.push_back(name);
      }
      return true;
    });
  }
  for (const base::Text& name : names) {
    if (!BackUpFile(backupFolder, productFolder, name.c_str())) {
      const DWORD error = GetLastError();
      RunLogFailure("backup: a log could not be saved", error);
      ShowSystemErrorBox(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
      return FALSE;
    }
  }
  base::Text record;
  if (!RecordSavedCopies(backupFolder, &record) ||
      !WriteUpdaterString(nullptr, updater_value::kBackupFiles, record.c_str())) {
    RunLogFailure("backup: the list of saved copies cannot be recorded", GetLastError());
    return FALSE;
  }
  return WriteUpdaterString(nullptr, updater_value::kBackupFolder, backupFolder) ? TRUE : FALSE;
}

void ReadSavedLogs(MachineReading* reading) {
  reading->logs.clear();
  char backupFolder[kPathBufferSize];
  reading->backupRecorded = GetRecordedBackup(backupFolder);
  if (!reading->backupRecorded) return;
  // Only the backup folder of the trusted work folder is ever read. A record that names anything
  // else is a damaged record: nothing is taken from it. But the work folder's own backup that has
  // gone, or a work folder that has gone (a cleaner emptied its parent), is a saved copy that can
  // no longer come back.
  char expected[kPathBufferSize];
  const bool haveWorkFolder = GetWorkPath(WorkItem::kBackupFolder, expected) != FALSE;
  if (haveWorkFolder && !IsWorkPath(WorkItem::kBackupFolder, backupFolder)) {
    RunLogWrite(
        "reading: the recorded backup %s is not the work folder's; nothing is taken from it",
        backupFolder);
    reading->backupDamaged = true;
    return;
  }
  reading->backupPresent = haveWorkFolder && IsPlainFolder(backupFolder);
  char productFolder[kPathBufferSize];
  const bool haveProduct = GetProductFolder(productFolder);
  auto add = [&](const char* name, bool copyPresent) {
    SavedLog log;
    log.name = name;
    log.copyPresent = copyPresent;
    char saved[kPathBufferSize];
    char inProduct[kPathBufferSize];
    if (copyPresent && haveProduct && JoinPath(backupFolder, name, saved) &&
        base::FormatBounded(inProduct, sizeof(inProduct), "%s%s", productFolder, name)) {
      log.live = CompareWithSaved(inProduct, saved);
    }
    reading->logs.push_back(log);
  };
  base::HeapArray<std::pair<base::Text, unsigned long long>> recorded;
  if (ReadRecordedCopies(&recorded)) {
    for (const auto& copy : recorded) {
      char saved[kPathBufferSize];
      WIN32_FILE_ATTRIBUTE_DATA data;
      const bool present =
          reading->backupPresent && JoinPath(backupFolder, copy.first.c_str(), saved) &&
          GetFileAttributesExA(saved, GetFileExInfoStandard, &data) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          ((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) ==
              copy.second;
      add(copy.first.c_str(), present);
    }
  } else if (reading->backupPresent) {
    VisitSavedCopies(backupFolder, [&](const char*, const char* name) {
      add(name, true);
      return true;
    });
  }
}

BOOL PutSavedLogBack(const char* name, LogPlacement placement) {
  char backupFolder[kPathBufferSize];
  char productFolder[kPathBufferSize];
  char saved[kPathBufferSize];
  if (!GetRecordedBackup(backupFolder) || !GetProductFolder(productFolder) ||
      !JoinPath(backupFolder, name, saved)) {
    return RestoreStepFailed("restore: the product folder or the backup cannot be named", name);
  }
  base::ScopedHandle copy;
  FILETIME written = {};
  if (!ReadWithoutLinks(saved, &copy, &written) || !copy) {
    return RestoreStepFailed("restore: the saved copy cannot be read", saved);
  }
  char target[kPathBufferSize];
  if (!base::CopyBounded(target, sizeof(target), name)) return FALSE;
  if (placement == LogPlacement::kBeside) {
    // The log in place stays; the saved one comes back beside it, named after its own time.
    if (!BuildFreeDatedName(productFolder, name, written, target)) {
      return RestoreStepFailed("restore: no free dated name beside the log", name);
    }
  }
  RunLogWrite("restore: %s -> %s%s (%llu bytes)", saved, productFolder, target, SizeOf(copy.get()));
  if (!ReplaceWithNewFile(productFolder, target, copy.get())) {
    return RestoreStepFailed("restore: the saved log cannot be written back", target);
  }
  copy.reset();  // closed before its name goes
  // The copy leaves the backup only once it is on the disk under its name.
  if (!DeleteFileA(saved)) return RestoreStepFailed("restore: the saved copy stays", saved);
  return TRUE;
}

BOOL DropSavedLog(const char* name) {
  char backupFolder[kPathBufferSize];
  char saved[kPathBufferSize];
  if (!GetRecordedBackup(backupFolder) || !JoinPath(backupFolder, name, saved)) return FALSE;
  if (!DeleteFileA(saved) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return RestoreStepFailed("restore: the saved copy cannot be dropped", saved);
  }
  return TRUE;
}

BOOL DropBackup() {
  char backupFolder[kPathBufferSize];
  const bool recorded = GetRecordedBackup(backupFolder);
  // The record goes, durably, before the folder: an interruption in between leaves an unrecorded
  // folder inside the work folder, which goes with it.
  if (!WriteUpdaterString(nullptr, updater_value::kBackupFolder, nullptr) ||
      !WriteUpdaterString(nullptr, updater_value::kBackupFiles, nullptr) || !FlushUpdaterKey()) {
    return RestoreStepFailed("restore: the backup's record cannot be dropped", "BackupFolder");
  }
  if (recorded && IsWorkPath(WorkItem::kBackupFolder, backupFolder)) DeleteFolderTree(backupFolder);
  return TRUE;
}
