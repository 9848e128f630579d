// Extraction from a program that carries only the first four of the ten resources (ids 136 to
// 139): it writes those four, stops at the fifth with the system's text, and removes the folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/error_box.h"
#include "engine/core/product_constants.h"
#include "engine/payload.h"
#include "framework/app.h"
#include "tests/payload/payload_test_common.h"
#include "tests/support/test_support.h"

using payload_test::ListFolder;
using payload_test::ReleaseFolder;
using payload_test::SystemText;
using testing_support::PathExists;
using testing_support::ReadFileBytes;

namespace {

struct BoxSeen {
  std::string caption;
  std::string text;
  // What the extraction folder held while the box was up: name and whether it equals the
  // original.
  std::vector<std::pair<std::string, bool>> files;
};

struct BoxSearch {
  DWORD pid;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char className[64] = "";
  GetClassNameA(window, className, sizeof(className));
  if (pid == search->pid && IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0 &&
      GetDlgItem(window, 0xFFFF) != nullptr) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

// Answers the message boxes of this process, first noting what the extraction folder holds at
// that moment (the box is modal: the extraction waits for it before it cleans up).
class FolderAtBoxTime {
 public:
  explicit FolderAtBoxTime(std::string folder)
      : folder_(std::move(folder)), thread_([this] { Run(); }) {
    RegisterErrorBox([](const char* text, UINT type) { AfxMessageBox(text, type); });
  }
  ~FolderAtBoxTime() {
    Stop();
    RegisterErrorBox(nullptr);
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // What was seen; call after Stop().
  const std::vector<BoxSeen>& seen() const { return seen_; }

 private:
  void Run() {
    while (!stop_) {
      BoxSearch search{GetCurrentProcessId(), nullptr};
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
      if (search.box != nullptr) {
        BoxSeen box;
        char buffer[2048] = "";
        GetWindowTextA(search.box, buffer, sizeof(buffer));
        box.caption = buffer;
        GetDlgItemTextA(search.box, 0xFFFF, buffer, sizeof(buffer));
        box.text = buffer;
        for (const std::string& name : ListFolder(folder_)) {
          std::string extracted, original;
          ReadFileBytes(folder_ + "\\" + name, &extracted);
          const bool same =
              ReadFileBytes(ReleaseFolder("release-blocks") + "\\" + name, &original) &&
              original == extracted;
          box.files.emplace_back(name, same);
        }
        seen_.push_back(box);
        SendMessageA(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(search.box, IDOK)));
      }
      Sleep(10);
    }
  }
  std::string folder_;
  std::atomic<bool> stop_{false};
  std::vector<BoxSeen> seen_;
  std::thread thread_;
};

}  // namespace

TEST(ExtractPayloadMissingTest, StopsAfterTheEarlierFilesShowsSystemTextAndRemovesFolder) {
  payload_test::ScopedWork work;
  const std::string extraction = work.Setup();

  char folder[kPathBufferSize];
  int result;
  std::vector<BoxSeen> boxes;
  {
    FolderAtBoxTime watcher(extraction);
    result = ExtractPayload(folder);
    watcher.Stop();
    boxes = watcher.seen();
  }
  EXPECT_EQ(0, result);
  EXPECT_STREQ("", folder);
  EXPECT_FALSE(PathExists(extraction));

  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("payload_missing_tests", boxes[0].caption);
  // The system's text for what FindResourceA answers for the first missing id.
  SetLastError(0);
  ASSERT_EQ(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(kPayloadFiles[4].resourceId),
                                   product::kPayloadResourceType));
  EXPECT_EQ(SystemText(GetLastError()), boxes[0].text);
  // The four entries before the missing id were complete, and nothing after them was begun.
  std::vector<std::pair<std::string, bool>> expected;
  for (int i = 0; i < 4; ++i) expected.emplace_back(kPayloadFiles[i].fileName, true);
  std::vector<std::pair<std::string, bool>> files = boxes[0].files;
  std::sort(files.begin(), files.end());
  std::vector<std::pair<std::string, bool>> sortedExpected = expected;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  EXPECT_EQ(sortedExpected, files);
}
