#include "tests/support/test_support.h"

#include <shlwapi.h>

#include <chrono>

#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "framework/app.h"

namespace testing_support {

namespace {

struct EnumContext {
  DWORD pid;
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectMessageBoxes(HWND window, LPARAM lParam) {
  auto* context = reinterpret_cast<EnumContext*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != context->pid || !IsWindowVisible(window)) return TRUE;
  char className[64] = "";
  GetClassNameA(window, className, sizeof(className));
  // Message boxes are dialogs with a message text, which a property sheet has not.
  if (lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, kMessageBoxText) != nullptr) {
    context->boxes.push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
  if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(found) =
      reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  return FALSE;
}

}  // namespace

std::vector<HWND> FindMessageBoxes(DWORD pid) {
  EnumContext context{pid, {}};
  EnumWindows(CollectMessageBoxes, reinterpret_cast<LPARAM>(&context));
  return context.boxes;
}

MessageBoxAnswerer::MessageBoxAnswerer(bool showEngineBoxes, std::function<void()> whileShown)
    : whileShown_(std::move(whileShown)), thread_([this] { Run(); }) {
  if (showEngineBoxes) {
    RegisterErrorBox([](const char* text, UINT type) { AfxMessageBox(text, type); });
  }
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  RegisterErrorBox(nullptr);
  stop_ = true;
  thread_.join();
}

std::vector<MessageBoxAnswerer::Box> MessageBoxAnswerer::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

void MessageBoxAnswerer::Run() {
  std::vector<HWND> answered;
  while (!stop_) {
    for (HWND box : FindMessageBoxes(GetCurrentProcessId())) {
      bool seen = false;
      for (HWND done : answered) seen = seen || done == box;
      if (seen && IsWindow(box)) continue;
      Box record;
      char buffer[2048] = "";
      GetWindowTextA(box, buffer, sizeof(buffer));
      record.caption = buffer;
      GetDlgItemTextA(box, kMessageBoxText, buffer, sizeof(buffer));
      record.text = buffer;
      record.style = 0;
      record.owner = GetWindow(box, GW_OWNER);
      // The icon is a static control with SS_ICON (Windows numbers it 20, Wine 1088).
      EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&record.icon));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(record);
      }
      answered.push_back(box);
      if (whileShown_) whileShown_();
      HWND ok = GetDlgItem(box, IDOK);
      if (ok != nullptr) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
      } else {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
    }
    Sleep(20);
  }
}

std::string TempFolder() {
  char buffer[MAX_PATH * 2];
  DWORD length = GetTempPathA(sizeof(buffer), buffer);
  std::string path(buffer, length);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

ScopedTempFolder::ScopedTempFolder(const std::string& name) {
  static int counter = 0;
  std::string leaf = name;
  if (leaf.empty()) {
    leaf = "utest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) +
           "-" + std::to_string(GetTickCount());
  }
  path_ = TempFolder() + "\\" + leaf;
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScopedTempFolder::~ScopedTempFolder() { RemoveTree(path_); }

ScopedTempPath::ScopedTempPath(const std::string& folder) {
  char buffer[2048];
  hadTmp_ = GetEnvironmentVariableA("TMP", buffer, sizeof(buffer)) > 0;
  if (hadTmp_) oldTmp_ = buffer;
  hadTemp_ = GetEnvironmentVariableA("TEMP", buffer, sizeof(buffer)) > 0;
  if (hadTemp_) oldTemp_ = buffer;
  SetEnvironmentVariableA("TMP", folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.c_str());
}

ScopedTempPath::~ScopedTempPath() {
  SetEnvironmentVariableA("TMP", hadTmp_ ? oldTmp_.c_str() : nullptr);
  SetEnvironmentVariableA("TEMP", hadTemp_ ? oldTemp_.c_str() : nullptr);
}

ScopedRegistryCleanup::ScopedRegistryCleanup(HKEY root, const std::string& path)
    : root_(root), path_(path) {
  SHDeleteKeyA(root_, path_.c_str());
}

ScopedRegistryCleanup::~ScopedRegistryCleanup() { SHDeleteKeyA(root_, path_.c_str()); }

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A failed call may leave anything in the slot: it is dropped, never closed.
base::ScopedRegKey OpenKey(HKEY root, const std::string& path, REGSAM access, DWORD options) {
  base::ScopedRegKey key;
  if (RegOpenKeyExA(root, path.c_str(), options, access, key.receive()) != ERROR_SUCCESS) {
    key.release();
  }
  return key;
}

base::ScopedRegKey CreateKey(HKEY root, const std::string& path, REGSAM access, DWORD options) {
  base::ScopedRegKey key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, options, access, nullptr, key.receive(),
                      nullptr) != ERROR_SUCCESS) {
    key.release();
  }
  return key;
}

bool KeyExists(HKEY root, const std::string& path) { return OpenKey(root, path).valid(); }

bool SetRawValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const void* data, DWORD size) {
  const base::ScopedRegKey key = CreateKey(root, path);
  return key && RegSetValueExA(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                               size) == ERROR_SUCCESS;
}

bool SetStringValue(HKEY root, const std::string& path, const std::string& name,
                    const std::string& value, DWORD type) {
  return SetRawValue(root, path, name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

std::string FindDatedKeyBeside(HKEY root, const std::string& key) {
  const size_t slash = key.rfind('\\');
  const std::string parent = key.substr(0, slash);
  const std::string stem = key.substr(slash + 1) + "_";
  const base::ScopedRegKey opened = OpenKey(root, parent);
  if (!opened) return "";
  std::string found;
  char name[256];
  for (DWORD index = 0; found.empty(); ++index) {
    DWORD size = sizeof(name);
    if (RegEnumKeyExA(opened.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    if (std::string(name).rfind(stem, 0) == 0 && size == stem.size() + 15) {
      found = parent + "\\" + name;
    }
  }
  return found;
}

bool GetRawValue(HKEY root, const std::string& path, const std::string& name, DWORD* type,
                 std::string* data) {
  const base::ScopedRegKey key = OpenKey(root, path, KEY_QUERY_VALUE);
  if (!key) return false;
  DWORD size = 0;
  LONG result = RegQueryValueExA(key.get(), name.c_str(), nullptr, type, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    data->assign(size, '\0');
    result = RegQueryValueExA(key.get(), name.c_str(), nullptr, type,
                              reinterpret_cast<BYTE*>(&(*data)[0]), &size);
    data->resize(size);
  }
  return result == ERROR_SUCCESS;
}

int RunAndWait(const std::string& commandLine, DWORD timeoutMs, const std::string& workingFolder) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                      &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

std::string ExecutableFolder() {
  char path[MAX_PATH * 2];
  GetModuleFileNameA(nullptr, path, sizeof(path));
  PathRemoveFileSpecA(path);
  return path;
}

std::string SystemText(DWORD code) {
  char* text = GetSystemErrorText(code);
  std::string result = text ? text : "";
  if (text) LocalFree(text);
  return result;
}

}  // namespace testing_support
