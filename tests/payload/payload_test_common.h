// What the payload test programs share: where the plain originals of their embedded files are,
// and small file helpers.
#ifndef TESTS_PAYLOAD_PAYLOAD_TEST_COMMON_H_
#define TESTS_PAYLOAD_PAYLOAD_TEST_COMMON_H_

#include <windows.h>

#include <string>
#include <vector>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace payload_test {

// The plain files that the build scrambled into this program's resources (bin\..\tests\payload).
inline std::string ReleaseFolder(const char* name) {
  return testing_support::ExecutableFolder() + "\\..\\tests\\payload\\" + name;
}

using testing_support::SystemText;

// Names of the entries of a folder (files and folders, without "." and "..").
inline std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

// An empty updater key with a work folder made for the test; both go when it ends.
class ScopedWork {
 public:
  ScopedWork() {
    char folder[kPathBufferSize];
    if (EnsureWorkFolder(folder)) folder_ = folder;
  }
  ~ScopedWork() { DiscardWorkFolder(); }
  ScopedWork(const ScopedWork&) = delete;
  ScopedWork& operator=(const ScopedWork&) = delete;

  // Where the setup is unpacked.
  std::string Setup() const { return folder_ + "\\setup"; }

 private:
  testing_support::ScopedKeySave saved_{HKEY_LOCAL_MACHINE, product::kUpdaterKey};
  testing_support::ScopedRegistryCleanup cleanup_{HKEY_LOCAL_MACHINE, product::kUpdaterKey};
  std::string folder_;
};

}  // namespace payload_test

#endif  // TESTS_PAYLOAD_PAYLOAD_TEST_COMMON_H_
