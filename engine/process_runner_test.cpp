// The runner against real programs: runner_test_program.exe (built from tests/payload) records
// how it was started and when it ended in "<its path>.ran". The uninstaller is registered in the
// real (Wine) registry for each test and removed afterwards.
#include "engine/process_runner.h"
#include "engine/process_tree.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/file_utils.h"
#include "engine/core/product_constants.h"
#include "engine/work_folder.h"
#include "tests/support/run_record.h"
#include "tests/support/test_support.h"
#include "tests/support/worker_done_window.h"

using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedRegistryCleanup;
using testing_support::ScopedTempFolder;
using testing_support::ScopedTempPath;
using testing_support::WorkerDoneWindow;

namespace {

using testing_support::HasLine;
using testing_support::RunRecord;

std::string TestProgram() {
  return testing_support::ExecutableFolder() + "\\runner_test_program.exe";
}

std::string WindowsFolder() {
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, sizeof(folder));
  return folder;
}

class ProcessRunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PathExists(TestProgram())) << TestProgram();
    program_ = temp_.Child("old uninstaller.exe");
    ASSERT_TRUE(CopyFileA(TestProgram().c_str(), program_.c_str(), FALSE));
  }
  void TearDown() override { DiscardWorkFolder(); }

  void RegisterUninstallString(const std::string& commandLine) {
    ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey,
                                                product::kUninstallStringValue, commandLine));
  }

  ScopedRegistryCleanup uninstallKey_{HKEY_LOCAL_MACHINE, product::kUninstallKey};
  ScopedRegistryCleanup updaterKey_{HKEY_LOCAL_MACHINE, product::kUpdaterKey};
  ScopedTempFolder temp_;
  ScopedTempPath tempPath_{temp_.path()};
  std::string program_;
};

}  // namespace

TEST_F(ProcessRunnerTest, RunUninstallerStartsTheStoredCommandInTheWindowsFolder) {
  const std::string command = "\"" + program_ + "\" 100";
  RegisterUninstallString(command);
  const std::unique_ptr<ProcessTree> program = RunUninstaller();
  ASSERT_NE(nullptr, program);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program->process(), 20000));
  const std::string marker = RunRecord(program_);
  EXPECT_TRUE(HasLine(marker, "command " + command)) << marker;
  EXPECT_TRUE(HasLine(marker, "folder " + WindowsFolder())) << marker;
  char temp[kPathBufferSize];
  ASSERT_TRUE(GetWorkPath(WorkItem::kTempFolder, temp));
  EXPECT_TRUE(HasLine(marker, std::string("temp ") + temp)) << "not the administrator's TEMP";
  EXPECT_TRUE(HasLine(marker, "end")) << marker;
}

TEST_F(ProcessRunnerTest, RunUninstallerTakesACommandOfExactly1023Characters) {
  std::string command = "\"" + program_ + "\" 50";
  command.append(1023 - command.size(), ' ');
  RegisterUninstallString(command);
  const std::unique_ptr<ProcessTree> program = RunUninstaller();
  ASSERT_NE(nullptr, program);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program->process(), 20000));
  EXPECT_TRUE(HasLine(RunRecord(program_), "end"));
}

TEST_F(ProcessRunnerTest, RunUninstallerGivesNullWhenItCannotStart) {
  // No registration at all.
  EXPECT_EQ(nullptr, RunUninstaller());
  // A registration without the value.
  ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey,
                                              "DisplayName", "Tidemark SX"));
  EXPECT_EQ(nullptr, RunUninstaller());
  // A value longer than 1,024 bytes counts as missing, even though its start would run.
  std::string tooLong = "\"" + program_ + "\" 50";
  tooLong.append(1024 - tooLong.size(), ' ');  // 1,024 characters + NUL = 1,025 bytes
  RegisterUninstallString(tooLong);
  EXPECT_EQ(nullptr, RunUninstaller());
  // A command that names no program.
  RegisterUninstallString("\"" + temp_.Child("no such uninstaller.exe") + "\" /remove");
  EXPECT_EQ(nullptr, RunUninstaller());
  EXPECT_FALSE(PathExists(program_ + ".ran")) << "the test program must never have run";
}

TEST_F(ProcessRunnerTest, StartUninstallReportsTheEndOnceAfterTheUninstallerEnded) {
  RegisterUninstallString("\"" + program_ + "\" 400");
  WorkerDoneWindow page;
  bool endedBeforeReport = false;
  page.OnDone([&] { endedBeforeReport = HasLine(RunRecord(program_), "end"); });

  ASSERT_TRUE(StartUninstall(page.hwnd()));
  // While it runs, the run starts no second uninstaller.
  EXPECT_TRUE(IsUninstallerRunning());
  EXPECT_FALSE(StartUninstall(page.hwnd()));
  ASSERT_TRUE(page.WaitForCount(1, 30000));
  EXPECT_TRUE(endedBeforeReport) << "reported before the uninstaller ended: "
                                 << RunRecord(program_);
  EXPECT_FALSE(IsProgramFollowed());
  page.PumpFor(600);
  EXPECT_EQ(1, page.count());
  EXPECT_EQ(0, page.badParameters());

  // Once nobody holds a handle to the ended process, it is gone and cannot be opened again: the
  // handles that process creation gave (process and thread) were both released.
  const size_t pidAt = RunRecord(program_).find("pid ");
  ASSERT_NE(std::string::npos, pidAt);
  const DWORD pid = std::strtoul(RunRecord(program_).c_str() + pidAt + 4, nullptr, 10);
  HANDLE reopened = nullptr;
  for (int i = 0; i < 50; ++i) {
    reopened = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (reopened == nullptr) break;
    CloseHandle(reopened);
    Sleep(20);
  }
  EXPECT_EQ(nullptr, reopened) << "a handle of the ended uninstaller is still open";
}

TEST_F(ProcessRunnerTest, StartUninstallReportsTheEndAtOnceWhenTheUninstallerCannotStart) {
  std::string tooLong = "\"" + program_ + "\" 50";
  tooLong.append(1100 - tooLong.size(), ' ');
  const std::string cases[] = {"", "value missing", tooLong, "\"" + temp_.Child("gone.exe") + "\""};
  for (const std::string& command : cases) {
    SCOPED_TRACE(command.substr(0, 80));
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, product::kUninstallKey);
    if (command == "value missing") {
      ASSERT_TRUE(testing_support::SetStringValue(HKEY_LOCAL_MACHINE, product::kUninstallKey,
                                                  "DisplayName", "Tidemark SX"));
    } else if (!command.empty()) {
      RegisterUninstallString(command);
    }
    WorkerDoneWindow page;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(StartUninstall(page.hwnd()));
    ASSERT_TRUE(page.WaitForCount(1, 10000));
    EXPECT_LT(GetTickCount() - start, 5000u);
    page.PumpFor(300);
    EXPECT_EQ(1, page.count());
  }
  EXPECT_FALSE(PathExists(program_ + ".ran"));
}

TEST_F(ProcessRunnerTest, RunSetupQuotesTheProgramPath) {
  // "<temp>\with space\TidemarkSXUpdater\Setup.exe", and a program planted at "<temp>\with.exe",
  // which an unquoted command line would start instead.
  const std::string parent = temp_.Child("with space");
  const std::string folder = parent + "\\TidemarkSXUpdater";
  ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string setup = folder + "\\setup.exe";
  const std::string planted = temp_.Child("with.exe");
  ASSERT_TRUE(CopyFileA(TestProgram().c_str(), setup.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(TestProgram().c_str(), planted.c_str(), FALSE));

  const std::unique_ptr<ProcessTree> program = RunSetup(folder.c_str());
  ASSERT_NE(nullptr, program);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program->process(), 20000));
  const std::string marker = RunRecord(setup);
  EXPECT_TRUE(HasLine(marker, "command \"" + folder + "\\Setup.exe\"")) << marker;
  EXPECT_TRUE(HasLine(marker, "folder " + folder)) << marker;
  EXPECT_FALSE(PathExists(planted + ".ran")) << "the planted program ran";
}

TEST_F(ProcessRunnerTest, RunSetupGivesNullWithoutSetupProgram) {
  EXPECT_EQ(nullptr, RunSetup(temp_.path().c_str()));
}

TEST_F(ProcessRunnerTest, StartInstallFailsWithEmptyFolderWhenExtractionFails) {
  // This program embeds no setup files, so the extraction fails (and says so); nothing is
  // started and nothing is reported to the page.
  WorkerDoneWindow page;
  base::Text folder = "stale";
  BOOL result;
  std::vector<MessageBoxAnswerer::Box> boxes;
  {
    MessageBoxAnswerer answerer;
    result = StartInstall(page.hwnd(), folder);
    boxes = answerer.boxes();
  }
  EXPECT_FALSE(result);
  EXPECT_EQ("", folder);
  EXPECT_EQ(1u, boxes.size());
  page.PumpFor(300);
  EXPECT_EQ(0, page.count());
  char setup[520];
  EXPECT_FALSE(GetWorkPath(WorkItem::kSetupFolder, setup) && PathExists(setup));
}

namespace {

// The job wait follows an id the job names only while that id is a process in the job: an id
// may have been given to another process since. Rows: a process in the job, one started outside
// it (what a reused id leads to), and this process.
TEST(JobMemberTest, OnlyAProcessInTheJobIsFollowed) {
  base::ScopedHandle job(CreateJobObjectA(nullptr, nullptr));
  ASSERT_TRUE(job.valid());
  char system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryA(system, sizeof(system)));
  const std::string program = std::string(system) + "\\cmd.exe";
  PROCESS_INFORMATION started[2] = {};
  for (PROCESS_INFORMATION& process : started) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string commandLine = "\"" + program + "\" /c exit";
    ASSERT_TRUE(CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                               &process));
  }
  ASSERT_TRUE(AssignProcessToJobObject(job.get(), started[0].hProcess));
  const struct {
    const char* name;
    DWORD id;
    bool followed;
  } rows[] = {{"in the job", started[0].dwProcessId, true},
              {"outside the job", started[1].dwProcessId, false},
              {"this process", GetCurrentProcessId(), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.followed, OpenJobMember(job.get(), row.id).valid());
  }
  for (PROCESS_INFORMATION& process : started) {
    TerminateProcess(process.hProcess, 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

}  // namespace
