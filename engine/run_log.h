// The run log: one text file per run of the updater, so that what happened is still there after
// the wizard and its message boxes are gone.
//
// Where: "<Windows folder>\Temp\TidemarkSXUpdater_<yyyymmdd-hhmmss>_<process id>.log", the time
// being the local time at which the log was opened, the process id decimal. The Windows folder is
// the shared one (GetSystemWindowsDirectoryA): a program that is not terminal-server aware gets a
// private, user-writable Windows folder from GetWindowsDirectoryA on a terminal server.
// What: UTF-8 with a byte-order mark, lines ending in CR LF, one line per event:
//   "2026-12-07 23:59:01.123  <text>"   (local time, two blanks, the text)
// The texts are ANSI strings in the process's code page (932 in the field), the same strings the
// rest of the engine handles; they are converted to UTF-8 here. Line breaks inside a text become
// blanks, so one call is always one line.
//
// Safety: the file is always created new and never through a link: when anything (a file, a link)
// already has the name, the run has no log. After the creation, older logs in the folder are
// deleted so that the ten newest (by the time in their names, this run's log included) remain.
// Only regular files whose whole name has the log's form are deleted; links, folders and files
// that resolve to another place are left alone.
//
// Failure: logging never stops or changes the update. Every call returns nothing, shows nothing,
// keeps the caller's GetLastError() value, and does nothing when there is no log (not opened yet,
// the creation failed, or already ended). A line that cannot be written is skipped.
//
// Threads: RunLogOpen and RunLogEnd belong to the start and the end of the run, on the main
// thread. The calls in between may come from any thread: each line is written with a single
// WriteFile, and lines are not interleaved.
#ifndef ENGINE_RUN_LOG_H_
#define ENGINE_RUN_LOG_H_

#include <windows.h>

#include "base/scoped.h"
#include "engine/file_utils.h"

// Creates this run's log, writes the byte-order mark and deletes older logs. Only the first call
// of a process does anything; later calls (also after a failed creation) do nothing.
void RunLogOpen();

// The start line: the updater's version as given, the Windows version (major.minor.build as the
// system reports it, whatever the manifest says), the SID of the process's user, and the version
// of the common controls the process gets.
void RunLogStart(const char* updaterVersion);

// One line with a printf-style formatted text.
void RunLogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "<what>: error <decimal> (0x<hex, 8 digits>): <system text>", the system text without its line
// break; without the ": <system text>" part when the system has no text for the code.
void RunLogFailure(const char* what, DWORD code);

// The end line with the process's exit code; then the file is closed. Later calls write nothing.
void RunLogEnd(int exitCode);

// The full path of this run's log, also after RunLogEnd; "" when the run has no log.
const char* RunLogPath();

// How many logs remain in the folder after a new one has been created, the new one included.
constexpr int kRunLogsKept = 10;

// The work of RunLogOpen for any folder, start time and process id: creates
// "<folder>\TidemarkSXUpdater_<yyyymmdd-hhmmss>_<processId>.log" new, writes the byte-order mark
// and deletes the folder's older logs as described above. Returns the open file (write access,
// others may read) with its path in `path`; on failure no handle and path "".
base::ScopedHandle CreateRunLog(const char* folder, const SYSTEMTIME& start, DWORD processId,
                                char (&path)[kPathBufferSize]);

#endif  // ENGINE_RUN_LOG_H_
