#include "engine/product_start.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/run_log.h"

namespace {

constexpr size_t kCommandLineSize = 512;
constexpr size_t kWorkingFolderSize = 260;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program path of a command line, the way CreateProcessA finds it: a quoted first element
// without its quotes; otherwise the shortest blank-separated prefix that names a file (as it is or
// with ".exe"), or the first blank-separated element when none does. *arguments points at what
// follows the program path, leading blanks skipped.
bool GetProgramPath(const char* commandLine, char (&program)[kPathBufferSize],
                    const char** arguments) {
  program[0] = '\0';
  const char* start = commandLine;
  while (IsBlank(*start)) ++start;
  const char* rest = nullptr;
  if (*start == '"') {
    ++start;
    size_t length = 0;
    while (start[length] != '\0' && start[length] != '"') {
      length += (IsLeadByte(static_cast<unsigned char>(start[length])) && start[length + 1] != '\0')
                    ? 2 : 1;
    }
    if (length >= sizeof(program)) return false;
    lstrcpynA(program, start, static_cast<int>(length) + 1);
    rest = start + length + (start[length] == '"' ? 1 : 0);
  }
  size_t firstEnd = 0;
  for (size_t end = 0; rest == nullptr; ++end) {
    const char c = start[end];
    if (c == '\0' || IsBlank(c)) {
      if (firstEnd == 0) firstEnd = end;
      if (end >= sizeof(program)) break;
      char candidate[kPathBufferSize];
      lstrcpynA(candidate, start, static_cast<int>(end) + 1);
      char withExtension[kPathBufferSize];
      if (IsPlainFile(candidate) ||
          (base::FormatBounded(withExtension, sizeof(withExtension), "%s.exe", candidate) &&
           IsPlainFile(withExtension))) {
        lstrcpynA(program, start, static_cast<int>(end) + 1);
        rest = start + end;
        break;
      }
      if (c == '\0') break;
    } else if (IsLeadByte(static_cast<unsigned char>(c)) && start[end + 1] != '\0') {
      ++end;
    }
  }
  if (rest == nullptr) {
    if (firstEnd >= sizeof(program)) return false;
    lstrcpynA(program, start, static_cast<int>(firstEnd) + 1);
    rest = start + firstEnd;
  }
  while (IsBlank(*rest)) ++rest;
  *arguments = rest;
  return true;
}

// The program's folder as working folder; the updater's own working folder when the program path
// has no folder part. A drive root keeps its backslash.
bool GetWorkingFolder(const char* program, char (&folder)[kWorkingFolderSize]) {
  folder[0] = '\0';
  const char* last = FindLastBackslash(program);
  if (last == nullptr) {
    const DWORD length = GetCurrentDirectoryA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder)) {
      folder[0] = '\0';
      return false;
    }
    return true;
  }
  size_t length = static_cast<size_t>(last - program);
  if (length == 2 && program[1] == ':') length = 3;
  if (length == 0) length = 1;  // "\program.exe": the root of the current drive
  if (length >= sizeof(folder)) return false;
  lstrcpynA(folder, program, static_cast<int>(length) + 1);
  return true;
}

// text in the ANSI code page as a BSTR; empty owner when it cannot be converted.
base::ScopedBstr ToBstr(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return base::ScopedBstr();
  base::ScopedBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
  if (!result || MultiByteToWideChar(CP_ACP, 0, text, -1, result.get(), length) != length) {
    return base::ScopedBstr();
  }
  return result;
}

// Arguments for automation calls; a string variant borrows the text, its owner frees it.
VARIANT StringVariant(BSTR text) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = text;
  return value;
}

VARIANT NumberVariant(LONG number) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return value;
}

DWORD ErrorCodeOf(HRESULT result) {
  return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                    : static_cast<DWORD>(result);
}

// Asks the desktop shell to start the program: it runs as the user at the desktop, with the
// shell's rights. False without a box when no desktop shell answers or when the shell tried and
// failed (it tells the user itself); false with the system's text when the shell cannot be asked.
bool ShellExecuteAtDesktop(const char* program, const char* arguments, const char* folder) {
  base::ScopedComApartment apartment;
  if (!apartment.usable()) return false;
  base::ScopedComInterface<IShellWindows> shellWindows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              base::ReceiveInterface(&shellWindows)))) {
    return false;
  }
  VARIANT location = NumberVariant(CSIDL_DESKTOP);
  VARIANT empty;
  VariantInit(&empty);
  long desktopWindow = 0;
  base::ScopedComInterface<IDispatch> desktop;
  if (shellWindows.get()->FindWindowSW(&location, &empty, SWC_DESKTOP, &desktopWindow,
                                       SWFO_NEEDDISPATCH, desktop.receive()) != S_OK ||
      !desktop) {
    return false;
  }

  // Desktop -> its browser -> the active view -> the view's automation object -> the shell's
  // own dispatch object, whose ShellExecute runs inside the shell.
  base::ScopedComInterface<IServiceProvider> services;
  base::ScopedComInterface<IShellBrowser> browser;
  base::ScopedComInterface<IShellView> view;
  base::ScopedComInterface<IDispatch> viewDispatch;
  base::ScopedComInterface<IShellFolderViewDual> folderView;
  base::ScopedComInterface<IDispatch> application;
  base::ScopedComInterface<IShellDispatch2> shell;
  HRESULT result =
      desktop.get()->QueryInterface(IID_IServiceProvider, base::ReceiveInterface(&services));
  if (SUCCEEDED(result)) {
    result = services.get()->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                          base::ReceiveInterface(&browser));
  }
  if (SUCCEEDED(result)) result = browser.get()->QueryActiveShellView(view.receive());
  if (SUCCEEDED(result)) {
    result = view.get()->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch,
                                       base::ReceiveInterface(&viewDispatch));
  }
  if (SUCCEEDED(result)) {
    result = viewDispatch.get()->QueryInterface(IID_IShellFolderViewDual,
                                                base::ReceiveInterface(&folderView));
  }
  if (SUCCEEDED(result)) result = folderView.get()->get_Application(application.receive());
  if (SUCCEEDED(result)) {
    result =
        application.get()->QueryInterface(IID_IShellDispatch2, base::ReceiveInterface(&shell));
  }
  base::ScopedBstr file(ToBstr(program));
  base::ScopedBstr parameters(ToBstr(arguments));
  base::ScopedBstr directory(ToBstr(folder));
  if (SUCCEEDED(result) && (!file || !parameters || !directory)) {
    result = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  }
  if (SUCCEEDED(result)) {
    result = shell.get()->ShellExecute(file.get(), StringVariant(parameters.get()),
                                       StringVariant(directory.get()), empty,
                                       NumberVariant(SW_SHOWNORMAL));
    if (SUCCEEDED(result)) return result == S_OK;
  }
  ShowSystemErrorBox(ErrorCodeOf(result));
  return false;
}

}  // namespace

BOOL StartProduct(const char* commandLine) {
  char line[kCommandLineSize];
  char program[kPathBufferSize];
  const char* arguments = nullptr;
  char workingFolder[kWorkingFolderSize];
  if (!base::CopyBounded(line, sizeof(line), commandLine) ||
      !GetProgramPath(line, program, &arguments) || !GetWorkingFolder(program, workingFolder)) {
    ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  // The shell is handed the full path, found the way CreateProcess would find the program. A
  // folder is not a program: the shell would open a window on it.
  char found[kPathBufferSize];
  const DWORD length = SearchPathA(nullptr, program, ".exe", sizeof(found), found, nullptr);
  if (length == 0 || length >= sizeof(found) || !IsPlainFile(found)) {
    ShowSystemErrorBox(length == 0                ? GetLastError()
                       : length >= sizeof(found) ? ERROR_FILENAME_EXCED_RANGE
                                                 : ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return ShellExecuteAtDesktop(found, arguments, workingFolder) ? TRUE : FALSE;
}
