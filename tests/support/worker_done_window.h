// A hidden window that stands in for a wizard page: it counts the worker-done messages that reach
// it, so a test can check that a started program's end is reported exactly once.
#ifndef TESTS_SUPPORT_WORKER_DONE_WINDOW_H_
#define TESTS_SUPPORT_WORKER_DONE_WINDOW_H_

#include <windows.h>

#include <functional>

namespace testing_support {

class WorkerDoneWindow {
 public:
  WorkerDoneWindow();
  ~WorkerDoneWindow();
  WorkerDoneWindow(const WorkerDoneWindow&) = delete;
  WorkerDoneWindow& operator=(const WorkerDoneWindow&) = delete;

  HWND hwnd() const { return window_; }
  // Worker-done messages handled so far (each with wParam 0 and lParam 0; others are counted
  // in badParameters()).
  int count() const { return count_; }
  int badParameters() const { return badParameters_; }

  // Called on the test's thread as each worker-done message is handled.
  void OnDone(std::function<void()> callback) { onDone_ = std::move(callback); }

  // Dispatches this thread's messages until count() reaches `expected` or the time is up.
  // True when it was reached.
  bool WaitForCount(int expected, DWORD timeoutMs);
  // Dispatches this thread's messages for the given time (to see that nothing more arrives).
  void PumpFor(DWORD ms);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
  int count_ = 0;
  int badParameters_ = 0;
  std::function<void()> onDone_;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_WORKER_DONE_WINDOW_H_
