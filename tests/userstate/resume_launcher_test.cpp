// Writing and registering the launcher from resource "ZELNA" 148, which this program carries
// like the updater does.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/core/settings_store.h"
#include "engine/resume.h"
#include "engine/work_folder.h"
#include "tests/support/test_support.h"
#include "tests/support/user_state_support.h"

namespace {

using testing_support::ExecutableFolder;
using testing_support::GetRawValue;
using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedKeySave;
using testing_support::ScopedRegistryCleanup;
using testing_support::ScopedTempFolder;
using testing_support::ScopedValueSave;
using testing_support::WriteFileBytes;

using testing_support::SystemText;

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
  wide.resize(length - 1);
  return wide;
}

class ResumeLauncherTest : public testing::Test {
 protected:
  ResumeLauncherTest()
      : runValue_(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue),
        updaterKey_(HKEY_LOCAL_MACHINE, product::kUpdaterKey),
        updaterKeyCleanup_(HKEY_LOCAL_MACHINE, product::kUpdaterKey) {
    char folder[520];
    if (EnsureWorkFolder(folder)) work_ = folder;
  }
  void TearDown() override { DiscardWorkFolder(); }

  std::string LauncherPath() const { return work_ + "\\TmkUpLauncher.exe"; }
  // The copy of this program (playing the updater) that the resume entry starts.
  std::string UpdaterCopy() const {
    char self[520];
    GetModuleFileNameA(nullptr, self, sizeof(self));
    return work_ + "\\" + (strrchr(self, '\\') + 1);
  }
  static std::string BuiltLauncher() {
    std::string bytes;
    ReadFileBytes(ExecutableFolder() + "\\TmkUpLauncher.exe", &bytes);
    return bytes;
  }

  ScopedValueSave runValue_;
  ScopedKeySave updaterKey_;
  ScopedRegistryCleanup updaterKeyCleanup_;
  MessageBoxAnswerer answerer_;
  std::string work_;
};

TEST_F(ResumeLauncherTest, LauncherFileIsTheBuiltLauncherByteForByte) {
  const std::string built = BuiltLauncher();
  ASSERT_GT(built.size(), 512u);
  // An older file of the same name is replaced.
  ASSERT_TRUE(WriteFileBytes(LauncherPath(), std::string(100000, 'x')));
  char path[520];
  ASSERT_TRUE(WriteLauncher(path, sizeof(path)));
  EXPECT_EQ(LauncherPath(), path);
  std::string written;
  ASSERT_TRUE(ReadFileBytes(path, &written));
  EXPECT_TRUE(written == built) << "written " << written.size() << " bytes, built " << built.size();
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeLauncherTest, LauncherFileInUseFailsWithTheSystemText) {
  ASSERT_TRUE(WriteFileBytes(LauncherPath(), "running"));
  HANDLE held =
      CreateFileA(LauncherPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(RegisterResume(TRUE));
  CloseHandle(held);
  const auto boxes = answerer_.boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), boxes[0].text);
  DWORD type = 0;
  std::string data;
  EXPECT_FALSE(
      GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &data));
}

TEST_F(ResumeLauncherTest, RunValueQuotesBothPathsAndIsUndoneByUnregister) {
  ASSERT_TRUE(RegisterResume(TRUE));

  const std::string self = UpdaterCopy();
  const std::string expected = "\"" + LauncherPath() + "\" \"" + self + "\"";
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(
      GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(expected + std::string(1, '\0'), data);

  // Split the way the launcher splits it: element 1 is the whole updater path.
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(Wide(expected).c_str(), &count);
  ASSERT_NE(nullptr, arguments);
  ASSERT_EQ(2, count);
  EXPECT_EQ(Wide(LauncherPath()), arguments[0]);
  EXPECT_EQ(Wide(self), arguments[1]);
  LocalFree(arguments);

  char launcher[520];
  ASSERT_TRUE(ReadUpdaterString(nullptr, "Launcher", launcher, sizeof(launcher)));
  EXPECT_EQ(LauncherPath(), launcher);
  std::string written;
  ASSERT_TRUE(ReadFileBytes(LauncherPath(), &written));
  EXPECT_TRUE(written == BuiltLauncher());

  ASSERT_TRUE(RegisterResume(FALSE));
  EXPECT_FALSE(PathExists(LauncherPath()));
  EXPECT_FALSE(
      GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &data));
  EXPECT_TRUE(answerer_.boxes().empty());
}

TEST_F(ResumeLauncherTest, RegisteredCommandLineStartsTheUpdaterAgain) {
  // What the system does at logon: run the Run value's command line.
  ASSERT_TRUE(RegisterResume(TRUE));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(
      GetRawValue(HKEY_LOCAL_MACHINE, product::kRunKey, product::kResumeRunValue, &type, &data));
  std::string commandLine = data.c_str();

  ScopedTempFolder temp;
  const std::string mark = temp.Child("resumed.txt");
  SetEnvironmentVariableA("USERSTATE_RESUMED_MARK", mark.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // The launcher is named separately so that it sees its command line exactly as registered, as
  // on Windows (this Wine quotes a program path it found by trying blank-separated prefixes).
  const std::string launcher = LauncherPath();
  const BOOL started = CreateProcessA(launcher.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA("USERSTATE_RESUMED_MARK", nullptr);
  ASSERT_TRUE(started) << commandLine;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 20000));
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(0u, code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  // The updater (this program's copy in the work folder) was started again.
  const std::string record = testing_support::WaitForRecord(mark, 1);
  EXPECT_NE(std::string::npos, record.find(UpdaterCopy())) << record;
  Sleep(300);  // let the resumed program end before its file goes
  ASSERT_TRUE(RegisterResume(FALSE));
}

}  // namespace
