// Test helpers for the user's state: saving and putting back registry keys and values the tests
// change, a second user hive loaded from a file, the product folder, and the recorder program
// that notes how it was started.
#ifndef TESTS_SUPPORT_USER_STATE_SUPPORT_H_
#define TESTS_SUPPORT_USER_STATE_SUPPORT_H_

#include <windows.h>

#include <string>

namespace testing_support {

// Saves a key tree on construction and puts it back (or keeps it absent) on destruction.
class ScopedKeySave {
 public:
  ScopedKeySave(HKEY root, const std::string& path);
  ~ScopedKeySave();
  ScopedKeySave(const ScopedKeySave&) = delete;
  ScopedKeySave& operator=(const ScopedKeySave&) = delete;

 private:
  HKEY root_;
  std::string path_;
  std::string scratch_;  // under HKEY_CURRENT_USER; empty when the key did not exist
};

// Saves one value (type and data, or its absence) and puts it back on destruction.
class ScopedValueSave {
 public:
  ScopedValueSave(HKEY root, const std::string& path, const std::string& name);
  ~ScopedValueSave();
  ScopedValueSave(const ScopedValueSave&) = delete;
  ScopedValueSave& operator=(const ScopedValueSave&) = delete;

 private:
  HKEY root_;
  std::string path_, name_, data_;
  DWORD type_ = 0;
  bool existed_ = false;
};

// Enables a privilege of the process token; true when it is enabled.
bool EnablePrivilege(const char* name);

// A hive loaded under HKEY_USERS from a fresh hive file (made with RegSaveKeyA from an empty key),
// unloaded on destruction. Needs the backup and restore privileges, which it enables.
class ScopedLoadedHive {
 public:
  ScopedLoadedHive(const std::string& name, const std::string& file);
  ~ScopedLoadedHive();
  bool loaded() const { return loaded_; }
  bool Unload();

 private:
  std::string name_, file_;
  bool loaded_ = false;
};

// The name under HKEY_USERS that the tests load a second user's hive as.
constexpr char kSecondHive[] = "S-1-5-21-7-7-7-1001";

// The desktop user's hive name under HKEY_USERS (the SID), or "" when it cannot be found.
std::string DesktopHiveName();

// A whole key tree as text (subkeys, value names, types and data, in a fixed order), for comparing
// two trees. Empty when the key cannot be opened.
std::string DumpKeyTree(HKEY root, const std::string& path);

// The product folder of the build ("<program files>\KORVANE\Tidemark SX"), made if absent; its
// "Tidemark.log" is saved and put back, and a folder that was made is removed again.
class ScopedProductFolder {
 public:
  ScopedProductFolder();
  ~ScopedProductFolder();
  const std::string& path() const { return path_; }
  std::string Child(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
  bool created_ = false;
  bool hadLog_ = false;
  std::string log_;
};

// The recorder: a program that appends "<command line>\n<working folder>\n<file name of the
// process that started it>\n<argument count>\n" to "<its own path>.log" each time it starts.
std::string RecorderPath();
// Copies the recorder to target; its log is target + ".log".
bool PlaceRecorder(const std::string& target);
// Waits until the file exists and holds at least `lines` lines; its text, or "" after the time-out.
std::string WaitForRecord(const std::string& logPath, int lines = 4, DWORD timeoutMs = 15000);

// The last start in a recorder log: command line, working folder, the starting process's file name.
struct RecordedStart {
  std::string commandLine, folder, parent;
};
RecordedStart LastRecordedStart(const std::string& logText);

// The recorder standing in as the product's "Tidemark.exe" in the product folder; a file that was
// there before is put back on destruction.
class ScopedProductRecorder {
 public:
  ScopedProductRecorder();
  ~ScopedProductRecorder();
  ScopedProductRecorder(const ScopedProductRecorder&) = delete;
  ScopedProductRecorder& operator=(const ScopedProductRecorder&) = delete;
  bool placed() const { return placed_; }
  const std::string& folder() const { return folder_.path(); }
  const std::string& program() const { return program_; }
  std::string log() const { return program_ + ".log"; }

 private:
  ScopedProductFolder folder_;
  std::string program_, saved_;
  bool hadProgram_ = false;
  bool placed_ = false;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_USER_STATE_SUPPORT_H_
