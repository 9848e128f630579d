// The run log on the real (Wine) file system, in code page 932: its place, name and encoding, and
// what it does with what is already in its folder.
#include "engine/run_log_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/bounded_string.h"
#include "engine/core/run_log.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedTempFolder;
using testing_support::WriteFileBytes;

const SYSTEMTIME kStart = {2026, 12, 1, 7, 23, 59, 1, 0};  // 2026-12-07 23:59:01

// A log's name; without `random` in the form of earlier releases.
std::string LogName(const std::string& time, DWORD processId, const std::string& random = "") {
  return "TidemarkSXUpdater_" + time + "_" + std::to_string(processId) +
         (random.empty() ? "" : "_" + random) + ".log";
}

// This process's log name at t with its random part as "########".
std::string WindowsTempLogShape(const SYSTEMTIME& t) {
  char windows[MAX_PATH];
  char time[32];
  GetEnvironmentVariableA("windir", windows, sizeof(windows));
  base::FormatBounded(time, sizeof(time), "%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay,
                      t.wHour, t.wMinute, t.wSecond);
  return std::string(windows) + "\\Temp\\" + LogName(time, GetCurrentProcessId(), "########");
}

// The text with every digit as '#'.
std::string Shape(std::string text) {
  for (char& c : text) c = (c >= '0' && c <= '9') ? '#' : c;
  return text;
}

// A log path with its random part (the 8 characters before ".log") as '#' when they are lower-case
// hex digits.
std::string RandomPartShape(std::string path) {
  if (path.size() < 12) return path;
  for (size_t i = path.size() - 12; i < path.size() - 4; ++i) {
    const char c = path[i];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) path[i] = '#';
  }
  return path;
}

TEST(RunLog, OneRunWritesUtf8LinesToItsOwnFileInTheWindowsTemp) {
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  SetLastError(ERROR_SHARING_VIOLATION);
  OpenRunLogFile();
  GetLocalTime(&after);
  const std::string path = RunLogPath();
  EXPECT_TRUE(RandomPartShape(path) == WindowsTempLogShape(before) ||
              RandomPartShape(path) == WindowsTempLogShape(after))
      << path;
  OpenRunLogFile();
  EXPECT_EQ(path, RunLogPath()) << "a second call keeps this run's log";

  RunLogWrite("Updater %s started", "2.30.111");
  // "テスト C:\表\file 7" in code page 932; 表 ends in the byte of a backslash.
  RunLogWrite("%s %d", "\x83\x65\x83\x58\x83\x67 C:\\\x95\x5c\\file", 7);
  RunLogWrite("two\r\nlines");
  RunLogFailure("Copy", ERROR_ACCESS_DENIED);
  RunLogEnd(ExitCode::kRestartNeeded);
  RunLogWrite("after the end");
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << "the caller's error";

  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, &bytes));
  ASSERT_EQ("\xEF\xBB\xBF", bytes.substr(0, 3));
  std::vector<std::string> texts;
  size_t at = 3;
  for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
    EXPECT_EQ("####-##-## ##:##:##.###  ", Shape(bytes.substr(at, 25)));
    texts.push_back(bytes.substr(at + 25, end - at - 25));
  }
  EXPECT_EQ(bytes.size(), at) << "every line ends in CR LF";
  const std::string failure = "Copy: error 5 (0x00000005): ";
  ASSERT_EQ(5u, texts.size());
  EXPECT_NE(std::string::npos, texts[0].find("2.30.111")) << texts[0];
  EXPECT_EQ("\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 C:\\\xE8\xA1\xA8\\file 7", texts[1]);
  EXPECT_EQ("two  lines", texts[2]);
  EXPECT_EQ(failure, texts[3].substr(0, failure.size()));
  EXPECT_LT(failure.size(), texts[3].size()) << "the system's text follows";
  EXPECT_NE(std::string::npos, texts[4].find("exit code 3010 (restart needed)")) << texts[4];
}

// Names in the folder before this run's log is made at kStart, and whether each is still there
// after: the nine newest other logs (one from a clock that was ahead), never anything else.
TEST(RunLogFolder, KeepsTheTenNewestLogsAndLeavesEverythingElse) {
  const std::vector<std::pair<std::string, bool>> kEntries = {
      {LogName("20261207-235901", 4244), true},  // this run's time and process: a name of old
      {LogName("20270101-000000", 1, "0123abcd"), true},
      {LogName("20261207-235859", 4294967295u), true},
      {LogName("20261207-235858", 8), true},
      {LogName("20261207-225959", 8), true},
      {LogName("20261206-235959", 8), true},
      {LogName("20261107-235959", 8), true},
      {LogName("20251207-235959", 8), true},
      {LogName("20251207-235958", 9), true},
      {LogName("20241207-235959", 8), false},
      {LogName("20190101-000000", 12, "89abcdef"), false},
      {LogName("20190101-000000", 12, "89abcde"), true},
      {"TidemarkSXUpdater_20190101-000000_1.txt", true},
      {"TidemarkSXUpdater_20190101-0000_1.log", true},
      {"TidemarkSXUpdater_20190101-000000_.log", true},
      {"TidemarkSXUpdater_20190101-000000_12345678901.log", true},
      {"TidemarkSXUpdater_2019010a-000000_1.log", true},
      {"TidemarkSXUpdater_20190101-000000_1.log.old", true},
      {"Other_20190101-000000_1.log", true},
  };
  ScopedTempFolder folder("run logs \x83\x5c");
  for (const auto& entry : kEntries) {
    ASSERT_TRUE(WriteFileBytes(folder.Child(entry.first), entry.first));
  }
  const std::string subfolder = folder.Child(LogName("20000101-000000", 2));
  ASSERT_TRUE(CreateDirectoryA(subfolder.c_str(), nullptr));
  // An old log's name that is a second name of a file elsewhere: deleting it would change nothing
  // of the folder's, and the file may be anybody's.
  ScopedTempFolder elsewhere("run logs elsewhere");
  const std::string linked = folder.Child(LogName("20100101-000000", 3, "00000000"));
  ASSERT_TRUE(WriteFileBytes(elsewhere.Child("precious.txt"), "precious"));
  ASSERT_TRUE(CreateHardLinkA(linked.c_str(), elsewhere.Child("precious.txt").c_str(), nullptr));
  // Second names planted under names newer than every genuine log: they are nobody's logs and
  // must not count toward the ten kept, or genuine logs would go in their place.
  std::vector<std::string> plantedNewer;
  for (int second = 50; second < 53; ++second) {
    plantedNewer.push_back(folder.Child(LogName("20261207-2359" + std::to_string(second), 7)));
    ASSERT_TRUE(CreateHardLinkA(plantedNewer.back().c_str(),
                                elsewhere.Child("precious.txt").c_str(), nullptr));
  }

  char path[kPathBufferSize];
  EXPECT_TRUE(CreateRunLog(folder.path().c_str(), kStart, 4244, path).valid());
  EXPECT_EQ(folder.Child(LogName("20261207-235901", 4244, "########")), RandomPartShape(path));
  EXPECT_TRUE(PathExists(linked));
  for (const std::string& planted : plantedNewer) EXPECT_TRUE(PathExists(planted)) << planted;
  std::string precious;
  EXPECT_TRUE(ReadFileBytes(elsewhere.Child("precious.txt"), &precious));
  EXPECT_EQ("precious", precious);

  for (const auto& entry : kEntries) {
    std::string content;
    const bool present = ReadFileBytes(folder.Child(entry.first), &content);
    EXPECT_EQ(entry.second, present) << entry.first;
    if (present) {
      EXPECT_EQ(entry.first, content) << "untouched";
    }
  }
  EXPECT_TRUE(PathExists(subfolder));
}

// The fixture step (tests/harness/fs-fixture.sh) plants Unix links in C:\fs-fixture\runlog: at the
// names that logs made at kStart by processes 4242 (to precious.txt) and 4243 (dangling) had in
// earlier releases, and at an old log's name (to precious.txt). Under Wine a link to a file is
// listed as a plain file.
TEST(RunLogLinks, NeverWritesOrDeletesThroughALink) {
  const std::string folder = "C:\\fs-fixture\\runlog";
  const std::string target = "C:\\fs-fixture\\runlog-target";
  const std::string oldLink = folder + "\\" + LogName("20000101-000000", 1);
  ASSERT_TRUE(PathExists(oldLink)) << "fixture missing: run the suite through ctest";
  char path[kPathBufferSize];
  // A name nobody could know beforehand: the links at the old names change nothing.
  std::vector<std::string> made;
  for (DWORD processId : {4242u, 4243u, 4243u}) {
    ASSERT_TRUE(CreateRunLog(folder.c_str(), kStart, processId, path).valid());
    EXPECT_EQ(folder + "\\" + LogName("20261207-235901", processId, "########"),
              RandomPartShape(path));
    made.push_back(path);
  }
  EXPECT_NE(made[1], made[2]) << "the same second and process, another random name";
  for (const std::string& log : made) DeleteFileA(log.c_str());

  // Ten newer logs, so that the pruning reaches the old link.
  std::vector<std::string> newer;
  for (int second = 10; second < 20; ++second) {
    newer.push_back(folder + "\\" + LogName("20261207-2358" + std::to_string(second), 1));
    ASSERT_TRUE(WriteFileBytes(newer.back(), "log"));
  }
  EXPECT_TRUE(CreateRunLog(folder.c_str(), kStart, 4244, path).valid());
  EXPECT_FALSE(PathExists(newer.front())) << "the oldest log is deleted";

  std::string content;
  EXPECT_TRUE(ReadFileBytes(target + "\\precious.txt", &content));
  EXPECT_EQ("precious\n", content);
  EXPECT_FALSE(PathExists(target + "\\made-through-link.log"));
  EXPECT_TRUE(PathExists(oldLink));
  DeleteFileA(path);
  for (const std::string& log : newer) DeleteFileA(log.c_str());
}

}  // namespace
