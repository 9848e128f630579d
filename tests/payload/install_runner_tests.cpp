// StartInstall with a payload whose "setup.exe" is a real program (runner_test_program.exe, which
// records how it was started and when it ended in "<its path>.ran").
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/core/product_constants.h"
#include "engine/process_runner.h"
#include "tests/payload/payload_test_common.h"
#include "tests/support/run_record.h"
#include "tests/support/test_support.h"
#include "tests/support/worker_done_window.h"

using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::WorkerDoneWindow;

namespace {

using testing_support::HasLine;
using testing_support::RunRecord;

// Starts the install and waits for the one worker-done message. Checks that setup ran from the
// work folder's setup folder, with the quoted program path as its command line, and had ended
// when its end was reported.
void RunInstall() {
  payload_test::ScopedWork work;
  const std::string extraction = work.Setup();
  const std::string setup = extraction + "\\setup.exe";
  WorkerDoneWindow page;
  bool endedBeforeReport = false;
  page.OnDone([&] { endedBeforeReport = HasLine(RunRecord(setup), "end"); });

  base::Text folder = "stale";
  ASSERT_TRUE(StartInstall(page.hwnd(), folder));
  EXPECT_STREQ(extraction.c_str(), folder.c_str());
  ASSERT_TRUE(page.WaitForCount(1, 30000));
  EXPECT_TRUE(endedBeforeReport) << "reported before setup ended: " << RunRecord(setup);
  page.PumpFor(500);
  EXPECT_EQ(1, page.count());
  EXPECT_EQ(0, page.badParameters());

  const std::string marker = RunRecord(setup);
  EXPECT_TRUE(HasLine(marker, "command \"" + extraction + "\\Setup.exe\"")) << marker;
  EXPECT_TRUE(HasLine(marker, "folder " + extraction)) << marker;

  // The ended setup cannot be opened again once every handle to it is closed.
  const size_t pidAt = marker.find("pid ");
  ASSERT_NE(std::string::npos, pidAt);
  const DWORD pid = std::strtoul(marker.c_str() + pidAt + 4, nullptr, 10);
  HANDLE reopened = nullptr;
  for (int i = 0; i < 50; ++i) {
    reopened = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (reopened == nullptr) break;
    CloseHandle(reopened);
    Sleep(20);
  }
  EXPECT_EQ(nullptr, reopened) << "a handle of the ended setup is still open";
}

}  // namespace

TEST(StartInstallTest, RunsSetupFromTheExtractionFolderAndReportsItsEndOnce) {
  MessageBoxAnswerer answerer;
  RunInstall();
  EXPECT_TRUE(answerer.boxes().empty());
}

TEST(StartInstallTest, FolderThatCannotBeMadeFailsWithoutStartingAnything) {
  // A file stands at the setup folder's name: the extraction is refused (with the system's text),
  // nothing starts and nothing is reported to the page.
  payload_test::ScopedWork work;
  ASSERT_TRUE(testing_support::WriteFileBytes(work.Setup(), "x"));
  MessageBoxAnswerer answerer;
  WorkerDoneWindow page;
  base::Text folder = "stale";
  EXPECT_FALSE(StartInstall(page.hwnd(), folder));
  EXPECT_STREQ("", folder.c_str());
  page.PumpFor(300);
  EXPECT_EQ(0, page.count());
  EXPECT_EQ(1u, answerer.boxes().size());
}
