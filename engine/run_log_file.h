// Where the run log lies and what happens to older logs; the lines are written by the run-log
// writer (engine/core/run_log.h).
//
// Where: "<Windows folder>\Temp\TidemarkSXUpdater_<yyyymmdd-hhmmss>_<process id>_<random>.log",
// the time being the local time at which the log was opened, the process id decimal, the random
// part 8 hex digits, so that nobody can plant a file at the name beforehand. The Windows folder is
// the shared one (GetSystemWindowsDirectoryA): a program that is not terminal-server aware gets a
// private, user-writable Windows folder from GetWindowsDirectoryA on a terminal server.
//
// Safety: the file is always created new, never through a link, with a descriptor of its own that
// admits only Administrators and SYSTEM; when anything (a file, a link) already has the name, a
// name with other random digits is tried. After the creation, older logs in the folder are
// deleted so that the ten newest (by the time in their names, this run's log included) remain.
// Only regular files whose whole name has the log's form, that administrators own and that have
// no other name (no hard link) are deleted; links, folders, files that resolve to another place
// and files with more than one name are left alone.
#ifndef ENGINE_RUN_LOG_FILE_H_
#define ENGINE_RUN_LOG_FILE_H_

#include <windows.h>

#include "base/scoped.h"
#include "engine/core/file_utils.h"

// How many logs remain in the folder after a new one has been created, the new one included.
constexpr int kRunLogsKept = 10;

// Creates this run's log in the Windows folder's Temp and hands it to the writer (RunLogOpen).
// Only the first call of a process does anything; later calls (also after a failed creation) do
// nothing. Keeps the caller's GetLastError() value.
void OpenRunLogFile();

// The work of OpenRunLogFile for any folder, start time and process id: creates
// "<folder>\TidemarkSXUpdater_<yyyymmdd-hhmmss>_<processId>_<random>.log" new, writes the
// byte-order mark
// and deletes the folder's older logs as described above. Returns the open file (write access,
// others may read) with its path in `path`; on failure no handle and path "".
base::ScopedHandle CreateRunLog(const char* folder, const SYSTEMTIME& start, DWORD processId,
                                char (&path)[kPathBufferSize]);

#endif  // ENGINE_RUN_LOG_FILE_H_
