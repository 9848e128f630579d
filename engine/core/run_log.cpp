#include "engine/core/run_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "base/bounded_string.h"
#include "base/heap_text.h"

namespace {

struct RunLogState {
  base::ScopedHandle file;
  char path[kPathBufferSize] = "";
  bool opened = false;  // RunLogOpen has run once
};

RunLogState& Log() {
  static RunLogState state;
  return state;
}

// ANSI (the process's code page) to UTF-8; "" when the text cannot be converted.
base::Text AnsiToUtf8(const base::Text& text) {
  const int wideLength =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return "";
  base::WideText wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], wideLength);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return "";
  base::Text utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr, nullptr);
  return utf8;
}

base::Text FormatText(const char* format, va_list args) {
  va_list measuring;
  va_copy(measuring, args);
  // The system C library's formatter (msvcrt), as base::FormatBounded uses it.
  const int length = _vscprintf(format, measuring);
  va_end(measuring);
  if (length <= 0) return "";
  base::Text text(static_cast<size_t>(length) + 1, '\0');
  _vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

// Writes "<local time>  <text>" as one UTF-8 line with a single WriteFile.
void WriteLine(const base::Text& text) {
  const HANDLE file = Log().file.get();
  if (!Log().file) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  if (!base::FormatBounded(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u  ", now.wYear,
                           now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                           now.wMilliseconds)) {
    return;
  }
  base::Text line = stamp + text;
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  base::Text utf8 = AnsiToUtf8(line);
  if (utf8.empty()) return;
  utf8 += "\r\n";
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

void RunLogOpen(base::ScopedHandle file, const char* path) {
  base::ScopedLastError keeper;
  RunLogState& log = Log();
  if (log.opened) return;
  log.opened = true;
  if (!file || !base::CopyBounded(log.path, sizeof(log.path), path)) {
    log.path[0] = '\0';
    return;
  }
  log.file = std::move(file);
}

void RunLogWrite(const char* format, ...) {
  base::ScopedLastError keeper;
  if (!Log().file) return;
  va_list args;
  va_start(args, format);
  const base::Text text = FormatText(format, args);
  va_end(args);
  WriteLine(text);
}

void RunLogFailure(const char* what, DWORD code) {
  base::ScopedLastError keeper;
  if (!Log().file) return;
  base::ScopedLocalMemory systemText(GetSystemErrorText(code));
  base::Text text = systemText ? static_cast<const char*>(systemText.get()) : "";
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  RunLogWrite("%s: error %lu (0x%08lX)%s%s", what ? what : "", static_cast<unsigned long>(code),
              static_cast<unsigned long>(code), text.empty() ? "" : ": ", text.c_str());
}

void RunLogFailureFormat(DWORD code, const char* format, ...) {
  base::ScopedLastError keeper;
  if (!Log().file) return;
  va_list args;
  va_start(args, format);
  const base::Text what = FormatText(format, args);
  va_end(args);
  RunLogFailure(what.c_str(), code);
}

void RunLogEnd(ExitCode exitCode) {
  base::ScopedLastError keeper;
  if (!Log().file) return;
  RunLogWrite("Updater ended with exit code %d (%s)", ExitCodeValue(exitCode),
              GetExitCodeName(exitCode));
  Log().file.reset();
}

const char* RunLogPath() { return Log().path; }
