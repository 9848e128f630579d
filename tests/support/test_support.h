// Helpers for tests that work on the real (Wine) registry, file system and windows.
#ifndef TESTS_SUPPORT_TEST_SUPPORT_H_
#define TESTS_SUPPORT_TEST_SUPPORT_H_

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/scoped.h"
#include "standin/standin_common.h"

namespace testing_support {

// The id of a message box's text (a static control).
constexpr int kMessageBoxText = 0xFFFF;
// The message boxes a process shows: its visible top-level dialog windows that hold a message
// text, topmost first.
std::vector<HWND> FindMessageBoxes(DWORD pid);

// Answers this process's message boxes like a user: every message box of the process that
// appears while the answerer lives has its text recorded, `whileShown` run (when given, with the
// box still up) and its OK (or Cancel) button pressed. While it exists, the engine's failure
// boxes are the program's message box (as the updater's start-up registers them), unless told to
// leave the engine without one.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(bool showEngineBoxes = true,
                              std::function<void()> whileShown = nullptr);
  ~MessageBoxAnswerer();
  struct Box {
    std::string caption;  // ANSI
    std::string text;     // ANSI
    UINT style;
    HWND owner = nullptr;  // GW_OWNER of the box
    HICON icon = nullptr;  // the icon it shows, or NULL
  };
  std::vector<Box> boxes() const;

 private:
  void Run();
  std::function<void()> whileShown_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::thread thread_;
};

// A fresh folder under the temporary folder (name may be given, may hold blanks or double-byte
// characters), deleted with everything in it at the end.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& name = "");
  ~ScopedTempFolder();
  const std::string& path() const { return path_; }
  std::string Child(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Points TMP and TEMP at another folder for the lifetime of the object.
class ScopedTempPath {
 public:
  explicit ScopedTempPath(const std::string& folder);
  ~ScopedTempPath();

 private:
  std::string oldTmp_, oldTemp_;
  bool hadTmp_ = false, hadTemp_ = false;
};

// Deletes a registry key tree on construction and again on destruction.
class ScopedRegistryCleanup {
 public:
  ScopedRegistryCleanup(HKEY root, const std::string& path);
  ~ScopedRegistryCleanup();

 private:
  HKEY root_;
  std::string path_;
};

// File helpers: whole-file writes and reads (the reader lets others keep the file open for
// writing), shared with the stand-ins.
inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  return standin::WriteBytes(path, bytes);
}
inline bool ReadFileBytes(const std::string& path, std::string* bytes) {
  return standin::ReadBytes(path, bytes);
}
bool PathExists(const std::string& path);
// Deletes a tree (test-side, independent of the code under test). True when it is gone.
using standin::RemoveTree;
// The system's text for a Win32 code, as the updater's boxes show it; "" where it has none.
std::string SystemText(DWORD code);

std::string TempFolder();  // GetTempPathA, without trailing backslash

// Registry helpers. A key is closed when its owner goes; the owner holds nothing when the key
// cannot be opened (or created).
base::ScopedRegKey OpenKey(HKEY root, const std::string& path, REGSAM access = KEY_READ,
                           DWORD options = 0);
base::ScopedRegKey CreateKey(HKEY root, const std::string& path, REGSAM access = KEY_ALL_ACCESS,
                             DWORD options = 0);
bool KeyExists(HKEY root, const std::string& path);
bool SetStringValue(HKEY root, const std::string& path, const std::string& name,
                    const std::string& value, DWORD type = REG_SZ);
bool SetRawValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const void* data, DWORD size);
bool GetRawValue(HKEY root, const std::string& path, const std::string& name, DWORD* type,
                 std::string* data);
// The key "<key>_<yyyymmdd-hhmmss>" beside a key (where a saved version is kept beside the one in
// place), as a path below root; "" when there is none.
std::string FindDatedKeyBeside(HKEY root, const std::string& key);

// Runs a program (in workingFolder, or the current folder when empty) and waits for it; returns
// its exit code, or -1 when it cannot start or has to be ended after the time-out.
int RunAndWait(const std::string& commandLine, DWORD timeoutMs = 60000,
               const std::string& workingFolder = "");

// The folder of this test program.
std::string ExecutableFolder();

}  // namespace testing_support

#endif  // TESTS_SUPPORT_TEST_SUPPORT_H_
