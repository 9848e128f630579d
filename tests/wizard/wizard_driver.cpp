#include "tests/wizard/wizard_driver.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <vector>

#include "tests/support/test_support.h"

namespace wizard_testing {

const wchar_t kWizardTitle[] =
    L"Tidemark\u30b7\u30ea\u30fc\u30ba\u30a2\u30c3\u30d7\u30c7\u30fc\u30bf";

namespace {

template <typename Condition>
bool WaitUntil(DWORD timeoutMs, const Condition& condition) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(30);
  }
}

struct FindContext {
  DWORD pid;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM lParam) {
  auto* context = reinterpret_cast<FindContext*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == context->pid) context->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> WindowsOf(DWORD pid) {
  FindContext context{pid, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&context));
  return context.windows;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[2048] = L"";
  GetWindowTextW(window, buffer, 2048);
  return buffer;
}

// The screen's pixels inside rect, top row first, as 0x00RRGGBB.
std::vector<DWORD> CaptureScreen(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  if (width <= 0 || height <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = -height;  // top row first
  info.biPlanes = 1;
  info.biBitCount = 32;
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// The pixels of one of the system's icons and which of them are fully opaque.
struct IconImage {
  int size = 0;
  std::vector<DWORD> colour;
  std::vector<bool> opaque;
};

IconImage ReadIcon(HICON icon) {
  IconImage image;
  ICONINFO parts;
  if (icon == nullptr || !GetIconInfo(icon, &parts)) return image;
  BITMAP header;
  if (parts.hbmColor != nullptr && GetObjectW(parts.hbmColor, sizeof(header), &header)) {
    const int size = header.bmWidth;
    image.size = size;
    image.colour.resize(static_cast<size_t>(size) * size);
    std::vector<DWORD> mask(image.colour.size());
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = size;
    info.biHeight = -size;
    info.biPlanes = 1;
    info.biBitCount = 32;
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, parts.hbmColor, 0, size, image.colour.data(),
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    GetDIBits(dc, parts.hbmMask, 0, size, mask.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    bool hasAlpha = false;
    for (DWORD pixel : image.colour) hasAlpha = hasAlpha || (pixel >> 24) != 0;
    image.opaque.resize(image.colour.size());
    for (size_t i = 0; i < image.colour.size(); ++i) {
      image.opaque[i] = hasAlpha ? (image.colour[i] >> 24) == 0xFF : (mask[i] & 0xFFFFFF) == 0;
    }
  }
  if (parts.hbmColor != nullptr) DeleteObject(parts.hbmColor);
  if (parts.hbmMask != nullptr) DeleteObject(parts.hbmMask);
  return image;
}

// Share of the icon's opaque pixels that the screen shows in (nearly) the same colour.
double IconMatch(const IconImage& icon, const std::vector<DWORD>& shown, int shownWidth) {
  int opaque = 0, same = 0;
  for (int y = 0; y < icon.size; ++y) {
    for (int x = 0; x < icon.size && x < shownWidth; ++x) {
      const size_t i = static_cast<size_t>(y) * icon.size + x;
      const size_t j = static_cast<size_t>(y) * shownWidth + x;
      if (!icon.opaque[i] || j >= shown.size()) continue;
      ++opaque;
      bool similar = true;
      for (int shift = 0; shift < 24; shift += 8) {
        const int a = (icon.colour[i] >> shift) & 0xFF, b = (shown[j] >> shift) & 0xFF;
        similar = similar && (a > b ? a - b : b - a) <= 16;
      }
      if (similar) ++same;
    }
  }
  return opaque == 0 ? 0.0 : static_cast<double>(same) / opaque;
}

BOOL CALLBACK FindIconControl(HWND child, LPARAM lParam) {
  wchar_t className[16] = L"";
  GetClassNameW(child, className, 16);
  if (lstrcmpiW(className, L"Static") == 0 && IsWindowVisible(child) &&
      (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HWND*>(lParam) = child;
    return FALSE;
  }
  return TRUE;
}

// Which of the system's icons the box shows: "information", "warning", "error", "question",
// "none" (no icon), or "" when what is drawn is none of them (or not drawn yet).
std::wstring IconOfBox(HWND box) {
  HWND control = nullptr;
  EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&control));
  RECT rect;
  if (control == nullptr || !GetWindowRect(control, &rect)) return L"none";
  const std::vector<DWORD> shown = CaptureScreen(rect);
  const struct {
    WORD id;
    const wchar_t* name;
  } kinds[] = {{32516, L"information"},  // IDI_INFORMATION
               {32515, L"warning"},      // IDI_WARNING
               {32513, L"error"},        // IDI_ERROR
               {32514, L"question"}};    // IDI_QUESTION
  std::wstring best;
  double bestMatch = 0.9;  // below this, it is not that icon
  for (const auto& kind : kinds) {
    const double match = IconMatch(ReadIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(kind.id))), shown,
                                   rect.right - rect.left);
    if (match > bestMatch) {
      bestMatch = match;
      best = kind.name;
    }
  }
  return best;
}

}  // namespace

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH * 2];
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder = path;
  return folder.substr(0, folder.rfind(L'\\'));
}

WizardDriver::~WizardDriver() {
  if (process_ != nullptr) {
    if (Running()) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
  }
}

bool WizardDriver::Start(const std::wstring& exePath) {
  const std::wstring exe = exePath.empty() ? ProgramFolder() + L"\\Updater.exe" : exePath;
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Wine has been seen to refuse a start once, moments after an earlier updater ended: the
  // refusal is reported with its code, and the start tried again a few times.
  for (int attempt = 0;; ++attempt) {
    if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      break;
    }
    printf("wizard: the updater could not be started: error %lu\n",
           static_cast<unsigned long>(GetLastError()));
    fflush(stdout);
    if (attempt == 4) return false;
    Sleep(300);
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  return true;
}

void WizardDriver::Detach() {
  if (process_ != nullptr) CloseHandle(process_);
  process_ = nullptr;
}

bool WizardDriver::Attach(DWORD timeoutMs) {
  HWND found = nullptr;
  if (!WaitUntil(timeoutMs, [&] {
        found = FindWindowW(nullptr, kWizardTitle);
        return found != nullptr && IsWindowVisible(found);
      })) {
    return false;
  }
  GetWindowThreadProcessId(found, &pid_);
  process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid_);
  return process_ != nullptr && WaitForWizard(timeoutMs);
}

bool WizardDriver::WaitForWizard(DWORD timeoutMs) {
  return WaitUntil(timeoutMs, [&] {
    for (HWND window : WindowsOf(pid_)) {
      if (TextOf(window) == kWizardTitle && IsWindowVisible(window) &&
          SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0) != 0) {
        sheet_ = window;
        return true;
      }
    }
    return false;
  });
}

int WizardDriver::CurrentPage() const {
  if (sheet_ == nullptr || !IsWindow(sheet_)) return -1;
  const LRESULT page = SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0);
  if (page == 0) return -1;
  return static_cast<int>(SendMessageW(sheet_, PSM_HWNDTOINDEX, static_cast<WPARAM>(page), 0));
}

bool WizardDriver::WaitForPage(int index, DWORD timeoutMs) const {
  return WaitForPage(index, timeoutMs, nullptr);
}

bool WizardDriver::WaitForPage(int index, DWORD timeoutMs,
                               const std::function<void()>& atFirstSight) const {
  bool seen = false;
  if (!WaitUntil(timeoutMs, [&] {
        if (CurrentPage() != index) return false;
        if (!seen) {
          seen = true;
          if (atFirstSight) atFirstSight();
        }
        return SheetVisible();
      })) {
    return false;
  }
  // WIZARD_NARRATE tells a watching person each page the driven wizard reaches.
  if (GetEnvironmentVariableW(L"WIZARD_NARRATE", nullptr, 0) > 0) {
    printf("wizard: page %d (%s)\n", index, GetPageName(index));
    fflush(stdout);
  }
  // For people who want to look at the pages: WIZARD_SCREENSHOT_DIR collects one picture of every
  // page a driven wizard reaches.
  wchar_t folder[MAX_PATH];
  if (GetEnvironmentVariableW(L"WIZARD_SCREENSHOT_DIR", folder, MAX_PATH) > 0) {
    static int sequence = 0;
    Settle();
    Sleep(300);
    wchar_t name[64];
    wsprintfW(name, L"\\%lu-%03d-page%d.bmp", GetCurrentProcessId(), ++sequence, index);
    SaveScreenshot(std::wstring(folder) + name);
  }
  return true;
}

bool WizardDriver::SaveScreenshot(const std::wstring& path) const {
  RECT rect;
  if (sheet_ == nullptr || !GetWindowRect(sheet_, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const std::vector<DWORD> shown = CaptureScreen(rect);
  // A 24-bit file, bottom row first.
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(stride * height);
  for (int y = 0; y < height; ++y) {
    BYTE* row = &pixels[stride * (height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      const DWORD pixel = shown[static_cast<size_t>(y) * width + x];
      row[3 * x] = pixel & 0xFF;
      row[3 * x + 1] = (pixel >> 8) & 0xFF;
      row[3 * x + 2] = (pixel >> 16) & 0xFF;
    }
  }
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(header) + sizeof(info);
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, &header, sizeof(header), &written, nullptr) &&
      WriteFile(file, &info, sizeof(info), &written, nullptr) &&
      WriteFile(file, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(file);
  return ok;
}

std::wstring WizardDriver::PageText(int controlId) const {
  HWND page = reinterpret_cast<HWND>(SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
  return page ? TextOf(GetDlgItem(page, controlId)) : L"";
}

int WizardDriver::PageTop() const {
  HWND page = reinterpret_cast<HWND>(SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
  RECT rect;
  if (page == nullptr || !GetWindowRect(page, &rect)) return -1;
  POINT corner = {rect.left, rect.top};
  ScreenToClient(sheet_, &corner);
  return corner.y;
}

std::wstring WizardDriver::Title() const { return TextOf(sheet_); }

std::wstring WizardDriver::ButtonText(int id) const { return TextOf(GetDlgItem(sheet_, id)); }

ButtonState WizardDriver::Button(int id) const {
  HWND button = GetDlgItem(sheet_, id);
  return ButtonState{button != nullptr && IsWindowVisible(button) != FALSE,
                     button != nullptr && IsWindowEnabled(button) != FALSE};
}

void WizardDriver::Press(int psbtn) const { PostMessageW(sheet_, PSM_PRESSBUTTON, psbtn, 0); }

void WizardDriver::Close() const { PostMessageW(sheet_, WM_SYSCOMMAND, SC_CLOSE, 0); }

void WizardDriver::TypeKey(WORD virtualKey, int times) const {
  SetForegroundWindow(sheet_);
  std::vector<INPUT> keys;
  for (int i = 0; i < times; ++i) {
    for (const DWORD flags : {0ul, static_cast<unsigned long>(KEYEVENTF_KEYUP)}) {
      INPUT key = {};
      key.type = INPUT_KEYBOARD;
      key.ki.wVk = virtualKey;
      key.ki.dwFlags = flags;
      keys.push_back(key);
    }
  }
  SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
}

bool WizardDriver::WaitForMessageBox(MessageBoxSeen* seen, DWORD timeoutMs) const {
  HWND box = nullptr;
  const bool found = WaitUntil(timeoutMs, [&] {
    for (HWND window : testing_support::FindMessageBoxes(pid_)) {
      if (window == sheet_) continue;
      box = window;
      return true;
    }
    return false;
  });
  if (!found) return false;
  seen->caption = TextOf(box);
  seen->text = TextOf(GetDlgItem(box, testing_support::kMessageBoxText));
  seen->owner = GetWindow(box, GW_OWNER);
  seen->window = box;
  // The icon is read from the screen once the box has been drawn.
  WaitUntil(2000, [&] { return !(seen->icon = IconOfBox(box)).empty(); });
  return true;
}

void WizardDriver::DismissMessageBox(const MessageBoxSeen& seen) {
  HWND ok = GetDlgItem(seen.window, IDOK);
  PostMessageW(seen.window, WM_COMMAND, MAKEWPARAM(ok ? IDOK : IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(ok));
}

void WizardDriver::PressMessageBoxButton(const MessageBoxSeen& seen, int id) {
  PostMessageW(seen.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(seen.window, id)));
}

bool WizardDriver::AnswerMessageBox(MessageBoxSeen* seen, DWORD timeoutMs) const {
  MessageBoxSeen local;
  MessageBoxSeen* record = seen != nullptr ? seen : &local;
  if (!WaitForMessageBox(record, timeoutMs)) return false;
  DismissMessageBox(*record);
  return true;
}

bool WizardDriver::HasWizardWindow() const {
  for (HWND window : WindowsOf(pid_)) {
    DWORD_PTR page = 0;
    if (TextOf(window) == kWizardTitle ||
        (SendMessageTimeoutW(window, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 2000, &page) &&
         page != 0)) {
      return true;
    }
  }
  return false;
}

int WizardDriver::WaitForExit(DWORD timeoutMs) {
  if (process_ == nullptr) return -1;
  if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<int>(code);
}

bool WizardDriver::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void WizardDriver::Settle() const {
  // A message sent after the posted ones returns once they have been processed.
  if (sheet_ != nullptr) SendMessageW(sheet_, WM_NULL, 0, 0);
  Sleep(100);
  if (sheet_ != nullptr) SendMessageW(sheet_, WM_NULL, 0, 0);
}

}  // namespace wizard_testing
