#include "engine/product_processes.h"

#include <tlhelp32.h>

#include <cstring>

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/late_bound.h"
#include "engine/carryover/user_state.h"
#include "engine/core/names.h"
#include "engine/core/run_log.h"
#include "engine/product_probe.h"

namespace {}  // namespace

bool IsProductFolderProgram(const wchar_t* programPath) {
  char folder[kPathBufferSize];
  if (!GetProductInstallFolder(folder)) return false;
  const base::WideText wideFolder = ToWide(folder);
  // A program in the folder, not the folder itself.
  return !wideFolder.empty() && IsUnder(programPath, wideFolder.c_str()) &&
         !IsUnder(wideFolder.c_str(), programPath);
}

namespace {

// The string SID of the user a process runs for into sid[size]; "" when it cannot be read.
void GetProcessUserSid(HANDLE process, char* sid, size_t size) {
  sid[0] = '\0';
  base::ScopedHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.receive()) ||
      !GetTokenUserSid(token.get(), sid, size)) {
    sid[0] = '\0';
  }
}

}  // namespace

int CountRunningProductProcesses(base::Text* otherUsers) {
  if (otherUsers != nullptr) otherUsers->clear();
  char desktopHive[kHiveNameSize];
  if (!GetUserHiveName(desktopHive)) desktopHive[0] = '\0';
  base::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    RunLogFailure("the running processes cannot be listed", GetLastError());
    return 0;
  }
  int found = 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    // The list holds every session's processes; a process that cannot be opened is not one the
    // updater could have to wait for (system processes), and one that ended meanwhile is gone.
    // A process that has ended but is still held open by someone is listed too: it is skipped.
    base::ScopedHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    wchar_t program[kPathBufferSize];
    if (!process || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT ||
        !GetProcessProgramPath(process.get(), program) || !IsProductFolderProgram(program)) {
      continue;
    }
    DWORD session = 0;
    ProcessIdToSessionId(entry.th32ProcessID, &session);
    const base::Text shown = ToAnsi(program);
    char user[kHiveNameSize];
    GetProcessUserSid(process.get(), user, sizeof(user));
    RunLogWrite("running from the product folder: process %lu (session %lu, user %s) %s",
                static_cast<unsigned long>(entry.th32ProcessID),
                static_cast<unsigned long>(session), user[0] != '\0' ? user : "unknown",
                shown.c_str());
    // The administrator is told whose program stops the update when it is not the desktop's.
    if (otherUsers != nullptr && user[0] != '\0' && !SameName(user, desktopHive)) {
      const base::Text described = DescribeUser(user);
      if (strstr(otherUsers->c_str(), described.c_str()) == nullptr) {
        if (!otherUsers->empty()) *otherUsers += ", ";
        *otherUsers += described;
      }
    }
    ++found;
  }
  return found;
}
