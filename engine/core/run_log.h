// The run log: one text file per run of the updater, so that what happened is still there after
// the wizard and its message boxes are gone.
//
// This is the writer: it formats and writes the lines into a file that engine/run_log_file creates
// (where the file lies, its name and what happens to older logs are described there).
// What: UTF-8 with a byte-order mark, lines ending in CR LF, one line per event:
//   "2026-12-07 23:59:01.123  <text>"   (local time, two blanks, the text)
// The texts are ANSI strings in the process's code page (932 in the field), the same strings the
// rest of the engine handles; they are converted to UTF-8 here. Line breaks inside a text become
// blanks, so one call is always one line.
//
// Failure: logging never stops or changes the update. Every call returns nothing, shows nothing,
// keeps the caller's GetLastError() value, and does nothing when there is no log (not opened yet,
// the creation failed, or already ended). A line that cannot be written is skipped.
//
// Threads: RunLogOpen and RunLogEnd belong to the start and the end of the run, on the main
// thread. The calls in between may come from any thread: each line is written with a single
// WriteFile, and lines are not interleaved.
#ifndef ENGINE_CORE_RUN_LOG_H_
#define ENGINE_CORE_RUN_LOG_H_

#include <windows.h>

#include "base/exit_code.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"

// Makes the file, created with its byte-order mark, this run's log under the given path. Only the
// first call of a process does anything; later calls do nothing. An empty handle means the run has
// no log.
void RunLogOpen(base::ScopedHandle file, const char* path);

// One line with a printf-style formatted text.
void RunLogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "<what>: error <decimal> (0x<hex, 8 digits>): <system text>", the system text without its line
// break; without the ": <system text>" part when the system has no text for the code.
void RunLogFailure(const char* what, DWORD code);
// The same with <what> formatted printf-style: the failure logged where it happens, naming the
// call that failed and what it was for ("resume: RegSetValueEx of the Run value failed").
void RunLogFailureFormat(DWORD code, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The end line with the process's exit code and its name; then the file is closed. Later calls
// write nothing.
void RunLogEnd(ExitCode exitCode);

// The full path of this run's log, also after RunLogEnd; "" when the run has no log.
const char* RunLogPath();

#endif  // ENGINE_CORE_RUN_LOG_H_
