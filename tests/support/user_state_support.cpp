#include "tests/support/user_state_support.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

#include "engine/carryover/user_hives.h"
#include "tests/support/test_support.h"

namespace testing_support {

namespace {

constexpr char kScratchRoot[] = "Software\\TidemarkTestSaves";

std::string NewScratchPath() {
  static int counter = 0;
  return std::string(kScratchRoot) + "\\" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter);
}

void DeleteScratchRootIfEmpty() {
  DWORD subkeys = 1;
  if (const base::ScopedRegKey scratchRoot = OpenKey(HKEY_CURRENT_USER, kScratchRoot)) {
    SHQueryInfoKeyA(scratchRoot.get(), &subkeys, nullptr, nullptr, nullptr);
  }
  if (subkeys == 0) SHDeleteKeyA(HKEY_CURRENT_USER, kScratchRoot);
}

}  // namespace

ScopedKeySave::ScopedKeySave(HKEY root, const std::string& path) : root_(root), path_(path) {
  if (!KeyExists(root, path)) return;
  scratch_ = NewScratchPath();
  SHDeleteKeyA(HKEY_CURRENT_USER, scratch_.c_str());
  if (const base::ScopedRegKey scratch = CreateKey(HKEY_CURRENT_USER, scratch_)) {
    SHCopyKeyA(root, path.c_str(), scratch.get(), 0);
  }
}

ScopedKeySave::~ScopedKeySave() {
  SHDeleteKeyA(root_, path_.c_str());
  if (scratch_.empty()) return;
  if (const base::ScopedRegKey target = CreateKey(root_, path_)) {
    SHCopyKeyA(HKEY_CURRENT_USER, scratch_.c_str(), target.get(), 0);
  }
  SHDeleteKeyA(HKEY_CURRENT_USER, scratch_.c_str());
  DeleteScratchRootIfEmpty();
}

ScopedValueSave::ScopedValueSave(HKEY root, const std::string& path, const std::string& name)
    : root_(root), path_(path), name_(name) {
  existed_ = GetRawValue(root, path, name, &type_, &data_);
}

ScopedValueSave::~ScopedValueSave() {
  if (existed_) {
    SetRawValue(root_, path_, name_, type_, data_.data(), static_cast<DWORD>(data_.size()));
  } else {
    SHDeleteValueA(root_, path_.c_str(), name_.c_str());
  }
}

bool EnablePrivilege(const char* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

std::string DesktopHiveName() {
  char name[kHiveNameSize];
  return GetUserHiveName(name) ? name : "";
}

ScopedLoadedHive::ScopedLoadedHive(const std::string& name, const std::string& file)
    : name_(name), file_(file) {
  if (!EnablePrivilege(SE_BACKUP_NAME) || !EnablePrivilege(SE_RESTORE_NAME)) return;
  RegUnLoadKeyA(HKEY_USERS, name_.c_str());
  DeleteFileA(file_.c_str());
  // An empty key saved to a file is a valid, empty hive.
  const std::string source = NewScratchPath();
  LONG saved = ERROR_INVALID_HANDLE;
  if (const base::ScopedRegKey key = CreateKey(HKEY_CURRENT_USER, source)) {
    saved = RegSaveKeyA(key.get(), file_.c_str(), nullptr);
  }
  SHDeleteKeyA(HKEY_CURRENT_USER, source.c_str());
  DeleteScratchRootIfEmpty();
  if (saved != ERROR_SUCCESS) return;
  loaded_ = RegLoadKeyA(HKEY_USERS, name_.c_str(), file_.c_str()) == ERROR_SUCCESS;
}

ScopedLoadedHive::~ScopedLoadedHive() {
  Unload();
  DeleteFileA(file_.c_str());
}

bool ScopedLoadedHive::Unload() {
  if (!loaded_) return true;
  loaded_ = RegUnLoadKeyA(HKEY_USERS, name_.c_str()) != ERROR_SUCCESS;
  return !loaded_;
}

namespace {

void DumpInto(HKEY key, const std::string& prefix, std::vector<std::string>& lines) {
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameSize = sizeof(name);
    BYTE data[65536];
    DWORD dataSize = sizeof(data);
    DWORD type = 0;
    if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    std::string line = prefix + "|" + name + "|" + std::to_string(type) + "|";
    static const char kHex[] = "0123456789abcdef";
    for (DWORD i = 0; i < dataSize; ++i) {
      line += kHex[data[i] >> 4];
      line += kHex[data[i] & 15];
    }
    lines.push_back(line);
  }
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD nameSize = sizeof(name);
    if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    lines.push_back(prefix + "\\" + name);
    if (const base::ScopedRegKey child = OpenKey(key, name)) {
      DumpInto(child.get(), prefix + "\\" + name, lines);
    }
  }
}

}  // namespace

std::string DumpKeyTree(HKEY root, const std::string& path) {
  const base::ScopedRegKey key = OpenKey(root, path);
  if (!key) return "";
  std::vector<std::string> lines;
  DumpInto(key.get(), "", lines);
  std::sort(lines.begin(), lines.end());
  std::string text = "(key)\n";
  for (const auto& line : lines) text += line + "\n";
  return text;
}

ScopedProductFolder::ScopedProductFolder() {
  char programFiles[MAX_PATH * 2];
  SHGetSpecialFolderPathA(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
  path_ = std::string(programFiles) + "\\KORVANE\\Tidemark SX";
  if (!PathExists(path_)) {
    created_ = true;
    CreateDirectoryA((std::string(programFiles) + "\\KORVANE").c_str(), nullptr);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  hadLog_ = ReadFileBytes(Child("Tidemark.log"), &log_);
}

ScopedProductFolder::~ScopedProductFolder() {
  if (created_) {
    RemoveTree(path_);
    RemoveDirectoryA(path_.substr(0, path_.rfind('\\')).c_str());  // only when it is empty
    return;
  }
  const std::string log = Child("Tidemark.log");
  SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (hadLog_) {
    WriteFileBytes(log, log_);
  } else {
    DeleteFileA(log.c_str());
  }
}

std::string RecorderPath() { return ExecutableFolder() + "\\userstate_recorder.exe"; }

bool PlaceRecorder(const std::string& target) {
  DeleteFileA((target + ".log").c_str());
  return CopyFileA(RecorderPath().c_str(), target.c_str(), FALSE) != FALSE;
}

std::string WaitForRecord(const std::string& logPath, int lines, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    std::string text;
    if (ReadFileBytes(logPath, &text) && std::count(text.begin(), text.end(), '\n') >= lines) {
      return text;
    }
    if (GetTickCount() - start > timeoutMs) return "";
    Sleep(50);
  }
}

RecordedStart LastRecordedStart(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (lines.size() < 4) return RecordedStart();
  return RecordedStart{lines[lines.size() - 4], lines[lines.size() - 3], lines[lines.size() - 2]};
}

ScopedProductRecorder::ScopedProductRecorder() : program_(folder_.Child("Tidemark.exe")) {
  hadProgram_ = ReadFileBytes(program_, &saved_);
  placed_ = PlaceRecorder(program_);
}

ScopedProductRecorder::~ScopedProductRecorder() {
  DeleteFileA(log().c_str());
  RemoveDirectoryA(program_.c_str());  // a test that made a folder in its place
  if (hadProgram_) {
    WriteFileBytes(program_, saved_);
  } else {
    DeleteFileA(program_.c_str());
  }
}

}  // namespace testing_support
