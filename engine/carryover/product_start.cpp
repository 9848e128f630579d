#include "engine/carryover/product_start.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"
#include "engine/core/names.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/product_probe.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The full path of path with "." and ".." taken out. Only a drive-letter path ("X:\...") is
// accepted: nothing is resolved against the updater's working folder, and a UNC or device path
// ("\\server\share", "\\?\...", "\\.\...", "\??\...", also with forward slashes), which would
// make the updater reach out to another host with its rights, is refused. A string operation:
// nothing is looked up on the disk.
bool NormalizeDrivePath(const base::WideText& path, base::WideText* full) {
  if (path.size() < 3 || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/') ||
      !((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
    return false;
  }
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  base::HeapArray<wchar_t> buffer(needed + 1);
  const DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return false;
  full->assign(buffer.data(), length);
  return true;
}

// The product folder and its main executable, full paths.
bool GetProductProgram(base::WideText* folder, base::WideText* program) {
  char ansiFolder[kPathBufferSize];
  if (!GetProductInstallFolder(ansiFolder)) return false;
  const base::WideText wide = ToWide(ansiFolder);
  if (wide.empty()) return false;
  const base::WideText executable = wide + L"\\" + ToWide(product::kMainExecutable);
  return NormalizeDrivePath(wide, folder) && NormalizeDrivePath(executable, program);
}

// True when the candidate program path names the product's main executable; false for anything
// else, a UNC or device path above all.
bool IsProductProgram(const base::WideText& candidate, const base::WideText& product) {
  base::WideText full;
  return NormalizeDrivePath(candidate, &full) && SameName(full.c_str(), product.c_str());
}

// The arguments of a command line whose program is the product's (leading blanks skipped): its
// quoted first element, or the shortest blank-separated prefix of an unquoted line, is the
// product's program. False when the line's program is another.
bool SplitProductCommand(const base::WideText& line, const base::WideText& product,
                         base::WideText* arguments) {
  size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  size_t rest = base::WideText::npos;
  if (start < line.size() && line[start] == L'"') {
    const size_t close = line.find(L'"', start + 1);
    const size_t end = close == base::WideText::npos ? line.size() : close;
    if (IsProductProgram(line.substr(start + 1, end - start - 1), product)) {
      rest = close == base::WideText::npos ? line.size() : close + 1;
    }
  } else {
    for (size_t end = start; end <= line.size() && rest == base::WideText::npos; ++end) {
      if (end != line.size() && !IsBlank(line[end])) continue;
      if (IsProductProgram(line.substr(start, end - start), product)) rest = end;
    }
  }
  if (rest == base::WideText::npos) return false;
  while (rest < line.size() && IsBlank(line[rest])) ++rest;
  arguments->assign(line, rest, base::WideText::npos);
  return true;
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
bool ShellExecuteAtDesktop(const base::WideText& program, const base::WideText& arguments,
                           const base::WideText& folder) {
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
    result = application.get()->QueryInterface(IID_IShellDispatch2, base::ReceiveInterface(&shell));
  }
  base::ScopedBstr file(SysAllocString(program.c_str()));
  base::ScopedBstr parameters(SysAllocString(arguments.c_str()));
  base::ScopedBstr directory(SysAllocString(folder.c_str()));
  if (SUCCEEDED(result) && (!file || !parameters || !directory)) result = E_OUTOFMEMORY;
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

BOOL StartProduct(const wchar_t* commandLine) {
  base::WideText folder, program, arguments;
  if (!GetProductProgram(&folder, &program)) {
    ShowSystemErrorBox(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  if (!SplitProductCommand(commandLine, program, &arguments)) {
    // Another program, or one that would have to be looked for: not started with the updater's
    // help. The user's own logon runs their Run entry as they wrote it.
    RunLogWrite(
        "restore: the autorun command line starts no %s of the product folder; the "
        "product is not started now",
        product::kMainExecutable);
    return FALSE;
  }
  // The product's own file, by the path the updater built; a folder is not a program (the shell
  // would open a window on it).
  const DWORD attributes = GetFileAttributesW(program.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    ShowSystemErrorBox(
        error == ERROR_SUCCESS || error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error);
    return FALSE;
  }
  return ShellExecuteAtDesktop(program, arguments, folder) ? TRUE : FALSE;
}
