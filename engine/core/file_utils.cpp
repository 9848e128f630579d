#include "engine/core/file_utils.h"

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstring>

#include "base/bounded_string.h"
#include "base/heap_text.h"
#include "base/scoped.h"

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

namespace {

// Calls visit(position) for every real backslash, left to right; stops when visit returns false.
template <typename Visit>
void ForEachBackslash(const char* path, Visit visit) {
  for (const char* p = path; *p != '\0'; ++p) {
    if (IsLeadByte(static_cast<unsigned char>(*p))) {
      if (p[1] == '\0') return;  // a lead byte at the very end: no character follows
      ++p;
      continue;
    }
    if (*p == '\\' && !visit(p)) return;
  }
}

bool Exists(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(path, GetFileExInfoStandard, &data) != FALSE;
}

bool IsAbsolute(const char* path) {
  const unsigned char first = static_cast<unsigned char>(path[0]);
  const bool drive = ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) &&
                     path[1] == ':' && path[2] == '\\';
  return drive || (path[0] == '\\' && path[1] == '\\');
}

int CountBackslashes(const char* path) {
  int count = 0;
  ForEachBackslash(path, [&](const char*) {
    ++count;
    return true;
  });
  return count;
}

bool ClearReadOnly(const char* path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  return SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

// Removes a junction or symbolic link itself, never what it points to.
bool RemoveLink(const char* path, DWORD attributes) {
  if (!ClearReadOnly(path, attributes)) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryA(path) != FALSE;
  return DeleteFileA(path) != FALSE;
}

bool IsRootToKeep(const char* path) {
  if (IsUncPath(path) && CountBackslashes(path) == 3 && !HasTrailingBackslash(path)) return true;
  if (HasTrailingBackslash(path)) {
    const size_t length = lstrlenA(path);
    if (length >= 2 && path[length - 2] == ':') return true;
  }
  return false;
}

int DeleteTreeContents(const char* path) {
  bool deleted = true;
  const bool listed = ForEachFolderEntry(path, [&deleted](const char* entryPath, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      deleted = RemoveLink(entryPath, attributes);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      deleted = DeleteFolderTree(entryPath) != 0;
    } else {
      deleted = ClearReadOnly(entryPath, attributes) && DeleteFileA(entryPath);
    }
    return deleted;
  });
  return listed && deleted ? 1 : 0;
}

}  // namespace

const char* FindLastBackslash(const char* path) {
  const char* last = nullptr;
  if (path == nullptr) return nullptr;
  ForEachBackslash(path, [&](const char* p) {
    last = p;
    return true;
  });
  return last;
}

bool AppendBackslash(char* path, size_t size) {
  return HasTrailingBackslash(path) || base::AppendBounded(path, size, "\\");
}

bool JoinPath(const char* folder, const char* name, char (&path)[kPathBufferSize]) {
  return base::CopyBounded(path, sizeof(path), folder) && AppendBackslash(path, sizeof(path)) &&
         base::AppendBounded(path, sizeof(path), name);
}

bool IsDotEntry(const char* name) { return lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0; }

int HasTrailingBackslash(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  const char* last = FindLastBackslash(path);
  return (last != nullptr && last[1] == '\0') ? 1 : 0;
}

int IsUncPath(const char* path) {
  if (path == nullptr || path[0] != '\\' || path[1] != '\\') return 0;
  if (path[2] == '?' && path[3] == '\\') return 0;
  return 1;
}

int CreateFolderPath(const char* path) {
  if (path == nullptr) return 0;
  const base::Text whole(path);
  int level = IsUncPath(path) ? 4 : 1;
  for (;;) {
    base::Text copy = whole;
    int found = 0;
    const char* cut = nullptr;
    ForEachBackslash(whole.c_str(), [&](const char* p) {
      if (++found == level) {
        cut = p;
        return false;
      }
      return true;
    });
    if (cut != nullptr) {
      const size_t at = static_cast<size_t>(cut - whole.c_str());
      const bool driveRoot = at > 0 && whole[at - 1] == ':';
      copy.resize(driveRoot ? at + 1 : at);
    }
    if (!copy.empty() && !Exists(copy.c_str())) {
      if (!CreateDirectoryA(copy.c_str(), nullptr)) return 0;
    } else if (copy.empty()) {
      return 0;
    }
    if (cut == nullptr) return 1;
    ++level;
  }
}

int DeleteFolderTree(const char* path) {
  if (path == nullptr || path[0] == '\0' || !IsAbsolute(path)) return 0;
  // A path that is itself a link is removed as a link, also when it is written with a trailing
  // backslash: listing "link\" would list the target's contents.
  char withoutBackslash[kPathBufferSize];
  const char* linkPath = path;
  if (HasTrailingBackslash(path) && !IsRootToKeep(path)) {
    if (!base::CopyBounded(withoutBackslash, sizeof(withoutBackslash), path)) return 0;
    withoutBackslash[lstrlenA(withoutBackslash) - 1] = '\0';
    linkPath = withoutBackslash;
  }
  const DWORD attributes = GetFileAttributesA(linkPath);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !IsRootToKeep(path)) {
    return RemoveLink(linkPath, attributes) ? 1 : 0;
  }
  if (!DeleteTreeContents(path)) return 0;
  if (IsRootToKeep(path)) return 1;
  const DWORD folderAttributes = GetFileAttributesA(path);
  if (folderAttributes != INVALID_FILE_ATTRIBUTES && !ClearReadOnly(path, folderAttributes)) {
    return 0;
  }
  return RemoveDirectoryA(path) ? 1 : 0;
}

int IsFolderEmpty(const char* path) {
  if (path == nullptr) return 1;
  bool empty = true;
  ForEachFolderEntry(path, [&empty](const char*, DWORD) { return empty = false; });
  return empty ? 1 : 0;
}

int GetUpdaterPath(char* path) {
  const DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(kPathBufferSize));
  if (length == 0 || length >= kPathBufferSize) {
    path[0] = '\0';
    return 0;
  }
  return 1;
}

int GetUpdaterPathW(wchar_t* path) {
  const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(kPathBufferSize));
  if (length == 0 || length >= kPathBufferSize) {
    path[0] = L'\0';
    return 0;
  }
  return 1;
}

int GetWindowsTempFolder(char* folder) {
  const UINT length = GetSystemWindowsDirectoryA(folder, static_cast<UINT>(kPathBufferSize));
  if (length == 0 || length >= kPathBufferSize || !AppendBackslash(folder, kPathBufferSize) ||
      !base::AppendBounded(folder, kPathBufferSize, "Temp")) {
    folder[0] = '\0';
    return 0;
  }
  return 1;
}

int FlushFileToDisk(const char* path) {
  base::ScopedHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  return FlushFileBuffers(file.get()) ? 1 : 0;
}

BOOL WriteAll(HANDLE file, const void* bytes, DWORD size) {
  const BYTE* at = static_cast<const BYTE*>(bytes);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, at, size, &written, nullptr)) return FALSE;
    if (written == 0) {
      // Nothing written and no error: the disk took no byte more.
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    at += written;
    size -= written;
  }
  return TRUE;
}

namespace {

bool RewindFile(HANDLE file) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

// Reads until size bytes are in or the file ends; *read is what came.
bool ReadFull(HANDLE file, BYTE* bytes, DWORD size, DWORD* read) {
  *read = 0;
  while (*read < size) {
    DWORD got = 0;
    if (!ReadFile(file, bytes + *read, size - *read, &got, nullptr)) return false;
    if (got == 0) break;
    *read += got;
  }
  return true;
}

}  // namespace

BOOL CopyFileBlocks(HANDLE source, HANDLE target) {
  base::ScopedHeapBlock block(kFileBlockSize);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (!RewindFile(source)) return FALSE;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source, block.get(), kFileBlockSize, &read, nullptr)) return FALSE;
    if (read == 0) return TRUE;
    if (!WriteAll(target, block.get(), read)) return FALSE;
  }
}

FileComparison CompareFileBlocks(HANDLE first, HANDLE second, bool* failed) {
  if (failed != nullptr) *failed = false;
  LARGE_INTEGER firstSize = {}, secondSize = {};
  base::ScopedHeapBlock firstBlock(kFileBlockSize);
  base::ScopedHeapBlock secondBlock(kFileBlockSize);
  bool ok = (firstBlock && secondBlock) || (SetLastError(ERROR_NOT_ENOUGH_MEMORY), false);
  ok = ok && GetFileSizeEx(first, &firstSize) && GetFileSizeEx(second, &secondSize) &&
       RewindFile(first) && RewindFile(second);
  if (ok && firstSize.QuadPart < secondSize.QuadPart) return FileComparison::kDifferent;
  // Only the length of the second file is compared: what the first has beyond it continues it.
  for (ULONGLONG left = ok ? static_cast<ULONGLONG>(secondSize.QuadPart) : 0; ok && left > 0;) {
    const DWORD want = left < kFileBlockSize ? static_cast<DWORD>(left) : kFileBlockSize;
    DWORD gotFirst = 0, gotSecond = 0;
    ok = ReadFull(first, firstBlock.as<BYTE>(), want, &gotFirst) &&
         ReadFull(second, secondBlock.as<BYTE>(), want, &gotSecond);
    if (ok && (gotFirst != want || gotSecond != want ||
               memcmp(firstBlock.get(), secondBlock.get(), want) != 0)) {
      return FileComparison::kDifferent;  // shorter than it said, or other bytes
    }
    left -= want;
  }
  if (!ok) {
    if (failed != nullptr) *failed = true;
    return FileComparison::kDifferent;
  }
  return firstSize.QuadPart == secondSize.QuadPart ? FileComparison::kEqual
                                                   : FileComparison::kFirstContinuesSecond;
}

int IsPlainFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int IsPlainFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

namespace {

// Administrators, SYSTEM and TrustedInstaller (NT SERVICE\TrustedInstaller).
bool IsAdministrativeSid(PSID sid) {
  static const char kTrustedInstaller[] =
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) {
    return true;
  }
  PSID trustedInstaller = nullptr;
  if (!ConvertStringSidToSidA(kTrustedInstaller, &trustedInstaller)) return false;
  base::ScopedLocalMemory owned(trustedInstaller);
  return EqualSid(sid, trustedInstaller) != FALSE;
}

}  // namespace

int FormatRandomHex(char* digits, int count) {
  digits[0] = '\0';
  BYTE random[32];
  if (count < 0 || count > 2 * static_cast<int>(sizeof(random))) return 0;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return 0;
  }
  const BOOL generated = CryptGenRandom(provider, sizeof(random), random);
  CryptReleaseContext(provider, 0);
  if (!generated) return 0;
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < count; ++i) {
    digits[i] = kHex[(random[i / 2] >> ((i % 2) ? 0 : 4)) & 0x0F];
  }
  digits[count] = '\0';
  return 1;
}

int DescriptorLetsOthersWrite(PSECURITY_DESCRIPTOR descriptor) {
  constexpr ACCESS_MASK kWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                       FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | DELETE | WRITE_DAC |
                                       WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (descriptor == nullptr || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !IsAdministrativeSid(owner)) {
    return 1;
  }
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return 1;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return 1;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_AUDIT_ACE_TYPE ||
        header->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
      continue;
    }
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return 1;
    const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kWriteRights) != 0 &&
        !IsAdministrativeSid(const_cast<DWORD*>(&allowed->SidStart))) {
      return 1;
    }
  }
  return 0;
}

int IsFolderWritableByOthers(const wchar_t* folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return 1;
  }
  base::ScopedLocalMemory owned(descriptor);
  return DescriptorLetsOthersWrite(descriptor);
}

char* GetSystemErrorText(DWORD code) {
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  return text;
}

TimeStamp FormatTimeStamp(const SYSTEMTIME& time) {
  TimeStamp stamp;
  base::FormatBounded(stamp.text, sizeof(stamp.text), "%04u%02u%02u-%02u%02u%02u",
                      time.wYear % 10000u, time.wMonth % 100u, time.wDay % 100u, time.wHour % 100u,
                      time.wMinute % 100u, time.wSecond % 100u);
  return stamp;
}
