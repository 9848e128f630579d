// The check that an open file is the running program's image, on the real (Wine) file system:
// this test program stands in for the updater.
#include "engine/updater_copy.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/scoped.h"

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

base::ScopedHandle OpenForReading(const std::wstring& path) {
  return base::ScopedHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Puts the running program back under its name, whatever the test did with it.
class ScopedRenameBack {
 public:
  ScopedRenameBack(std::wstring own, std::wstring moved, std::wstring planted)
      : own_(std::move(own)), moved_(std::move(moved)), planted_(std::move(planted)) {}
  ~ScopedRenameBack() {
    DeleteFileW(planted_.c_str());
    if (GetFileAttributesW(moved_.c_str()) != INVALID_FILE_ATTRIBUTES) {
      DeleteFileW(own_.c_str());
      MoveFileW(moved_.c_str(), own_.c_str());
    }
  }

 private:
  std::wstring own_, moved_, planted_;
};

// Rows: the program's own file, a byte-for-byte copy of it, and after the running program was
// renamed and the copy put at its name, what its name and its new name open. Only the file that
// is the image counts, whatever it is named now (under Wine the mapped name keeps the old one).
TEST(RunningImageTest, OnlyTheRunningFileItselfCountsWhateverItsName) {
  const std::wstring own = OwnPath();
  ASSERT_FALSE(own.empty());
  const std::wstring copy = own + L".copy.exe";
  const std::wstring moved = own + L".moved.exe";
  ASSERT_TRUE(CopyFileW(own.c_str(), copy.c_str(), FALSE));
  EXPECT_TRUE(IsRunningImage(OpenForReading(own).get())) << "the program's own file";
  EXPECT_FALSE(IsRunningImage(OpenForReading(copy).get())) << "a copy with the same bytes";
  {
    ScopedRenameBack back(own, moved, copy);
    ASSERT_TRUE(MoveFileW(own.c_str(), moved.c_str())) << GetLastError();
    ASSERT_TRUE(CopyFileW(copy.c_str(), own.c_str(), TRUE));
    EXPECT_FALSE(IsRunningImage(OpenForReading(own).get())) << "a file planted at its name";
    EXPECT_TRUE(IsRunningImage(OpenForReading(moved).get())) << "the renamed program";
  }
  EXPECT_TRUE(IsRunningImage(OpenForReading(own).get())) << "renamed back";
  EXPECT_FALSE(IsRunningImage(INVALID_HANDLE_VALUE));
}

}  // namespace
