// STAND-IN for the product's main executable "Tidemark.exe" (test support only). It records each
// start, so that a test can see that (and how) the product was started: its command line as one
// line of C:\tidemark-standin\starts.log, and its working folder as the line of the same number
// in C:\tidemark-standin\start-folders.log. It ends at once, unless it is started with "/stay":
// then it runs, as the real product does, until its window is closed (or the session ends, or a
// test asks for it, see standin_common.h), and
// appends its last line to the Tidemark.log beside it when it closes.
#include <windows.h>

#include <string>

#include "engine/core/product_constants.h"
#include "standin/standin_common.h"

namespace {

void WriteClosingLine() {
  const std::string path = standin::ModuleFolder() + "\\" + product::kLogFile;
  HANDLE log = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, standin::kClosingLogLine, lstrlenA(standin::kClosingLogLine), &written, nullptr);
  FlushFileBuffers(log);
  CloseHandle(log);
}

LRESULT CALLBACK ProductWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE || (message == WM_ENDSESSION && wParam)) {
    WriteClosingLine();
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int Stay() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ProductWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = standin::kProductWindowClass;
  if (!RegisterClassA(&windowClass)) return 1;
  if (!CreateWindowA(standin::kProductWindowClass, "Tidemark SX", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                     100, nullptr, nullptr, windowClass.hInstance, nullptr)) {
    return 1;
  }
  // The close request of a test is a file: a window or a named event of a process that the
  // updater's setup started cannot be found from the test's side under Wine.
  const std::string closeRequest =
      std::string(standin::kTraceFolder) + "\\" + standin::kProductCloseRequest;
  for (;;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    if (GetFileAttributesA(closeRequest.c_str()) != INVALID_FILE_ATTRIBUTES) {
      WriteClosingLine();
      break;
    }
    MSG message;
    bool quit = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) quit = true;
      DispatchMessageA(&message);
    }
    if (quit) break;
  }
  return 0;
}

}  // namespace

int main() {
  char folder[MAX_PATH * 2] = "";
  GetCurrentDirectoryA(sizeof(folder), folder);
  standin::AppendTrace("start-folders.log", folder);
  standin::AppendTrace("starts.log", GetCommandLineA());
  return standin::HasFlag(standin::Arguments(), standin::kStayArgument) ? Stay() : 0;
}
