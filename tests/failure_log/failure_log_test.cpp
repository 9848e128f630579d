// Every failure of the updater key is logged where it happens, with its Win32 code: support sees
// why an update did not record itself (a failed Marking) in the run log alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/scoped.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScopedRegistryCleanup;

// The vendor key the updater key lies in: the updater key's path without its last name.
std::string VendorKey() {
  const std::string key = product::kUpdaterKey;
  return key.substr(0, key.rfind('\\'));
}

// Makes the vendor key a registry link to another HKLM key; the updater follows no link, so every
// operation on its key fails there with ERROR_CANT_RESOLVE_FILENAME. Removed again (as a link,
// never its target) when the object goes.
class VendorKeyAsLink {
 public:
  VendorKeyAsLink() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, VendorKey().c_str());  // empty once the updater key is gone
    HKEY link = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, VendorKey().c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link,
                        nullptr) != ERROR_SUCCESS) {
      return;
    }
    const std::wstring target = L"\\Registry\\Machine\\SOFTWARE\\TidemarkSXLinkTarget";
    made_ = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                           reinterpret_cast<const BYTE*>(target.c_str()),
                           static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(link);
  }
  ~VendorKeyAsLink() {
    using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<NtDeleteKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    HKEY link = nullptr;
    if (deleteKey && RegOpenKeyExA(HKEY_LOCAL_MACHINE, VendorKey().c_str(), REG_OPTION_OPEN_LINK,
                                   DELETE, &link) == ERROR_SUCCESS) {
      deleteKey(link);
      RegCloseKey(link);
    }
  }
  bool made() const { return made_; }

 private:
  bool made_ = false;
};

class FailureLogTest : public ::testing::Test {
 protected:
  // This program's run log, in the temporary folder: the writer takes only a process's first.
  static void SetUpTestSuite() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    path_ =
        std::string(folder) + "failure_log_tests_" + std::to_string(GetCurrentProcessId()) + ".log";
    RunLogOpen(
        base::ScopedHandle(CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)),
        path_.c_str());
  }
  static void TearDownTestSuite() {
    RunLogEnd(ExitCode::kCompleted);
    DeleteFileA(path_.c_str());
  }

  // What the log holds from byte `from` on.
  static std::string LogFrom(size_t from) {
    std::string bytes;
    if (!ReadFileBytes(path_, &bytes)) return "<no log>";
    return from < bytes.size() ? bytes.substr(from) : "";
  }
  static size_t LogSize() {
    std::string bytes;
    return ReadFileBytes(path_, &bytes) ? bytes.size() : 0;
  }

  ScopedRegistryCleanup cleanup_{HKEY_LOCAL_MACHINE, product::kUpdaterKey};
  static std::string path_;
};

std::string FailureLogTest::path_;

// Each write of the updater key refused by a link on its way: it fails, and the log names the
// value and the code, ERROR_CANT_RESOLVE_FILENAME (1921).
TEST_F(FailureLogTest, AFailedWriteOfTheUpdaterKeyIsLoggedWithItsValueAndCode) {
  ASSERT_STREQ(RunLogPath(), path_.c_str());
  const struct {
    const char* call;
    std::function<int()> write;
    const char* line;
  } kRows[] = {
      {"SetMarking(TRUE)", [] { return SetMarking(TRUE); },
       "updater key: Marking cannot be written: error 1921 (0x00000781)"},
      {"SetMarking(FALSE)", [] { return SetMarking(FALSE); },
       "updater key: Marking cannot be removed: error 1921 (0x00000781)"},
      {"WriteUpdaterString", [] { return WriteUpdaterString(nullptr, "WorkFolder", "C:\\x"); },
       "updater key: WorkFolder cannot be written: error 1921 (0x00000781)"},
  };
  VendorKeyAsLink link;
  ASSERT_TRUE(link.made());
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.call);
    const size_t before = LogSize();
    EXPECT_EQ(0, row.write());
    const std::string logged = LogFrom(before);
    EXPECT_NE(std::string::npos, logged.find(row.line)) << logged;
  }
}

}  // namespace
