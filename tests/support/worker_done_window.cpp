#include "tests/support/worker_done_window.h"

namespace testing_support {

namespace {

constexpr UINT kWorkerDone = 3024;  // the message the engine's watcher posts
constexpr char kClassName[] = "UpdaterTestWorkerDoneWindow";

}  // namespace

WorkerDoneWindow::WorkerDoneWindow() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassA(&windowClass);  // fails harmlessly when already registered
  window_ = CreateWindowExA(0, kClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WorkerDoneWindow::~WorkerDoneWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CALLBACK WorkerDoneWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  auto* self = reinterpret_cast<WorkerDoneWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == kWorkerDone && self != nullptr) {
    ++self->count_;
    if (wParam != 0 || lParam != 0) ++self->badParameters_;
    if (self->onDone_) self->onDone_();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool WorkerDoneWindow::WaitForCount(int expected, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (count_ < expected) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return true;
}

void WorkerDoneWindow::PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

}  // namespace testing_support
