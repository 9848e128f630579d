#include "engine/process_tree.h"

#include <tlhelp32.h>

#include <utility>

#include "engine/core/file_utils.h"
#include "engine/core/late_bound.h"
#include "engine/core/names.h"
#include "engine/core/run_log.h"

namespace {

// How often the wait looks again when no job message arrives (snapshots, or a message the system
// dropped: job messages are not guaranteed to be delivered).
constexpr DWORD kPollMilliseconds = 250;
// Polls (a second) before a handle signalled with the process still active is believed.
constexpr int kDoubtfulEndPolls = 4;
constexpr DWORD kMemberAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
constexpr DWORD kListedIds = 256;

bool CreationTime(HANDLE process, FILETIME* created) {
  FILETIME exited, kernel, user;
  return GetProcessTimes(process, created, &exited, &kernel, &user) != FALSE;
}

}  // namespace

base::ScopedHandle OpenJobMember(HANDLE job, DWORD id) {
  // IsProcessInJob asks for PROCESS_QUERY_INFORMATION (Wine refuses the limited right).
  base::ScopedHandle process(OpenProcess(kMemberAccess | PROCESS_QUERY_INFORMATION, FALSE, id));
  BOOL inJob = FALSE;
  // The id may have ended and been given to another process since the job named it.
  if (process && (!IsProcessInJob(process.get(), job, &inJob) || !inJob)) {
    RunLogWrite("process %lu is not in the job; not followed", static_cast<unsigned long>(id));
    process.reset();
  }
  return process;
}

bool GetProcessProgramPath(HANDLE process, wchar_t (&path)[kPathBufferSize]) {
  DWORD size = kPathBufferSize;
  if (!late::QueryFullProcessImageNameW(process, 0, path, &size)) {
    path[0] = L'\0';
    return false;
  }
  return true;
}

bool ProcessTree::Start(char* commandLine, const char* workingFolder, DWORD creationFlags) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started;
  ZeroMemory(&started, sizeof(started));
  RunLogWrite("starting: %s (in %s)", commandLine, workingFolder);
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE,
                      creationFlags | CREATE_SUSPENDED, nullptr, workingFolder, &startup,
                      &started)) {
    RunLogFailure("the program could not be started", GetLastError());
    return false;
  }
  base::ScopedHandle thread(started.hThread);
  base::ScopedHandle process(started.hProcess);

  job_.reset(CreateJobObjectA(nullptr, nullptr));
  port_.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  DWORD jobError = job_ && port_ ? ERROR_SUCCESS : GetLastError();
  if (jobError == ERROR_SUCCESS) {
    // No limits are set: in particular no kill-on-close, so the program's processes go on if the
    // updater ends before them.
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association;
    association.CompletionKey = job_.get();
    association.CompletionPort = port_.get();
    if (!SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof(association)) ||
        !AssignProcessToJobObject(job_.get(), process.get())) {
      jobError = GetLastError();
    }
  }
  if (jobError == ERROR_SUCCESS) {
    RunLogWrite("following the program's processes in a job object");
  } else {
    job_.reset();
    port_.reset();
    RunLogFailure("no job object for the program; its processes are followed by snapshots",
                  jobError);
  }
  Track(started.dwProcessId, std::move(process), true);
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    // It would never run: it is ended so that nothing waits for it.
    RunLogFailure("the program could not be let run", GetLastError());
    TerminateProcess(members_[0].handle.get(), ERROR_GEN_FAILURE);
  }
  return true;
}

bool ProcessTree::IsTracked(DWORD id) const {
  for (const Member& member : members_) {
    if (member.id == id) return true;
  }
  return false;
}

void ProcessTree::Track(DWORD id, base::ScopedHandle handle, bool first) {
  Member member;
  member.id = id;
  member.ended = false;
  member.doubtfulEnds = 0;
  member.pathKnown = false;
  member.outsideTheWait = false;
  if (!CreationTime(handle.get(), &member.created)) ZeroMemory(&member.created, sizeof(FILETIME));
  member.handle = std::move(handle);
  LearnProgram(member, first);
  if (!member.pathKnown) {
    RunLogWrite("process %lu started (its program not known yet)", static_cast<unsigned long>(id));
  }
  members_.push_back(std::move(member));
}

void ProcessTree::LearnProgram(Member& member, bool first) {
  wchar_t program[kPathBufferSize];
  if (!GetProcessProgramPath(member.handle.get(), program)) return;
  member.pathKnown = true;
  // The first process always holds the wait, wherever its program lies.
  member.outsideTheWait = !first && outsideTheWait_ != nullptr && outsideTheWait_(program);
  RunLogWrite("process %lu started%s: %s", static_cast<unsigned long>(member.id),
              member.outsideTheWait ? " (not waited for)" : "", ToAnsi(program).c_str());
}

void ProcessTree::FindNewMembers() {
  if (!job_) {
    FindChildrenInSnapshot();
    return;
  }
  union {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    BYTE bytes[sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + kListedIds * sizeof(ULONG_PTR)];
  } ids;
  ZeroMemory(&ids, sizeof(ids));
  ids.list.NumberOfAssignedProcesses = kListedIds;
  if (!QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, &ids, sizeof(ids),
                                 nullptr)) {
    return;  // the job's messages still name each new process
  }
  for (DWORD index = 0; index < ids.list.NumberOfProcessIdsInList && index < kListedIds; ++index) {
    const DWORD id = static_cast<DWORD>(ids.list.ProcessIdList[index]);
    Member* known = nullptr;
    for (Member& member : members_) {
      if (member.id == id) known = &member;
    }
    if (known != nullptr && !known->ended) continue;
    base::ScopedHandle process = OpenJobMember(job_.get(), id);
    if (!process) continue;
    if (known == nullptr) {
      Track(id, std::move(process), false);
      continue;
    }
    // The job still lists a process whose handle said it had ended (seen under Wine for a process
    // caught while it was being created): it is followed again through a new handle, so that the
    // wait neither ends early nor waits for a process it no longer looks at.
    RunLogWrite("process %lu still runs in the job; followed again",
                static_cast<unsigned long>(id));
    known->handle = std::move(process);
    known->ended = false;
    known->doubtfulEnds = 0;
    known->pathKnown = false;
  }
}

void ProcessTree::FindChildrenInSnapshot() {
  base::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (IsTracked(entry.th32ProcessID)) continue;
    for (size_t index = 0; index < members_.size(); ++index) {
      if (members_[index].id != entry.th32ProcessID &&
          members_[index].id == entry.th32ParentProcessID) {
        // Every member's handle is held, so its id is not reused while the wait lasts; a process
        // created before the member holds an id that an earlier, unrelated process had.
        base::ScopedHandle process(OpenProcess(kMemberAccess, FALSE, entry.th32ProcessID));
        FILETIME created;
        if (process && CreationTime(process.get(), &created) &&
            CompareFileTime(&created, &members_[index].created) >= 0) {
          Track(entry.th32ProcessID, std::move(process), false);
        }
        break;
      }
    }
  }
}

bool ProcessTree::CheckEnded() {
  long stillRunning = 0;
  bool holding = false;
  for (Member& member : members_) {
    if (!member.pathKnown && !member.ended) LearnProgram(member, &member == &members_[0]);
    if (!member.ended && WaitForSingleObject(member.handle.get(), 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(member.handle.get(), &code);
      // A handle signalled while the process still reports itself active (seen under Wine for a
      // process caught while it was being created) is believed only after a second's polls.
      if (code == STILL_ACTIVE && ++member.doubtfulEnds < kDoubtfulEndPolls) {
        ++stillRunning;
        if (!member.outsideTheWait) holding = true;
        continue;
      }
      member.ended = true;
      RunLogWrite("process %lu ended with exit code %lu", static_cast<unsigned long>(member.id),
                  static_cast<unsigned long>(code));
    }
    if (!member.ended) {
      ++stillRunning;
      if (!member.outsideTheWait) holding = true;
    }
  }
  if (holding) return false;
  // A process of the job that is not tracked yet (its message is still on the way) holds the
  // wait as well.
  if (job_) {
    const long active = JobActiveProcesses();
    if (active > stillRunning) return false;
  }
  return true;
}

long ProcessTree::JobActiveProcesses() const {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
  if (!QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                 sizeof(accounting), nullptr)) {
    return -1;
  }
  return static_cast<long>(accounting.ActiveProcesses);
}

DWORD ProcessTree::WaitUntilDone() {
  if (members_.empty()) return ERROR_INVALID_HANDLE;
  for (;;) {
    if (port_) {
      DWORD message = 0;
      ULONG_PTR key = 0;
      LPOVERLAPPED detail = nullptr;
      if (GetQueuedCompletionStatus(port_.get(), &message, &key, &detail, kPollMilliseconds) &&
          message == JOB_OBJECT_MSG_NEW_PROCESS) {
        const DWORD id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        if (!IsTracked(id)) {
          base::ScopedHandle process = OpenJobMember(job_.get(), id);
          if (process) Track(id, std::move(process), false);
        }
      }
    } else {
      WaitForSingleObject(members_[0].handle.get(), kPollMilliseconds);
    }
    FindNewMembers();
    if (CheckEnded()) break;
  }
  size_t left = 0;
  for (const Member& member : members_) {
    if (!member.ended) ++left;
  }
  if (left == 0) {
    RunLogWrite("every process of the program has ended");
  } else if (endOutsideWhenDone_) {
    // They run with the updater's rights, on the user's desktop: ended here, and the product is
    // started again as the user once the user's data is back.
    for (Member& member : members_) {
      if (member.ended) continue;
      const BOOL ended = TerminateProcess(member.handle.get(), 0);
      RunLogWrite("process %lu from the product folder runs with the updater's rights: %s",
                  static_cast<unsigned long>(member.id), ended ? "ended" : "cannot be ended");
      if (ended) WaitForSingleObject(member.handle.get(), kPollMilliseconds * 4);
    }
    // Anything they started meanwhile is in the job as well.
    if (job_) TerminateJobObject(job_.get(), 0);
  } else {
    RunLogWrite("the program's work is over; %lu process(es) from the product folder still run",
                static_cast<unsigned long>(left));
  }
  DWORD code = 0;
  GetExitCodeProcess(members_[0].handle.get(), &code);
  return code;
}
