// An external program and every process it starts. Uninstallers and setups often hand their work
// to a copy of themselves or to a child and end at once; the program's work is over only when
// every process it started has ended. A job object with a completion port follows them; where the
// program cannot be put into a job (the updater itself runs in a job that allows no nested job and
// no breakaway), process snapshots follow its descendants by parent id and creation time.
// The job is never set to end its processes when the updater ends.
#ifndef ENGINE_PROCESS_TREE_H_
#define ENGINE_PROCESS_TREE_H_

#include <windows.h>

#include "base/heap_text.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"

// The program file of a running process (wide-character path); false when it cannot be read.
bool GetProcessProgramPath(HANDLE process, wchar_t (&path)[kPathBufferSize]);

// The process of this id opened to be followed, only when it is in the job (an id the job named
// may have been given to another process since); otherwise an empty handle.
base::ScopedHandle OpenJobMember(HANDLE job, DWORD id);

// Whether a process other than the first, by its program's path, leaves the wait to the others
// (the caller's rule: a setup may start the new product at its end).
using ProgramOutsideTheWait = bool (*)(const wchar_t* programPath);

class ProcessTree {
 public:
  // outsideTheWait NULL: every process holds the wait.
  explicit ProcessTree(ProgramOutsideTheWait outsideTheWait = nullptr)
      : outsideTheWait_(outsideTheWait) {}
  ProcessTree(const ProcessTree&) = delete;
  ProcessTree& operator=(const ProcessTree&) = delete;

  // Starts commandLine (changed in place by the system) suspended in workingFolder with the given
  // creation flags, puts it into a job (or, failing that, follows it by snapshots; the log says
  // which) and lets it run. False, logged with the system's code, when it cannot be started.
  bool Start(char* commandLine, const char* workingFolder, DWORD creationFlags);

  // Returns when every process of the program has ended, except processes other than the first
  // whose program the rule given at construction leaves outside the wait.
  // Each process is logged when it is first seen and when it ends, with its exit code. The first
  // process's exit code.
  DWORD WaitUntilDone();

  // Makes WaitUntilDone end the processes outside the wait that still run once the program's work
  // is over: a setup's, which it started with its own (the updater's) rights, such as the product
  // on the user's desktop; the product is then started again as the user. Each is logged.
  void EndOutsideTheWaitWhenDone() { endOutsideWhenDone_ = true; }

  // The first process (owned by the tree); NULL before a successful Start.
  HANDLE process() const { return members_.empty() ? nullptr : members_[0].handle.get(); }

  // True when the job way is used, false when snapshots follow the program.
  bool usesJob() const { return job_.valid(); }

 private:
  struct Member {
    DWORD id;
    base::ScopedHandle handle;
    FILETIME created;
    bool outsideTheWait;
    bool pathKnown;  // a process that has only just been created may not tell its program yet
    bool ended;
    int doubtfulEnds;  // polls that found the handle signalled but the process still active
  };

  bool IsTracked(DWORD id) const;
  // Reads the member's program path (when not known yet) and whether the rule leaves it outside
  // the wait; logs it.
  void LearnProgram(Member& member, bool first);
  // Adds an opened process (taking the handle) and logs its start.
  void Track(DWORD id, base::ScopedHandle handle, bool first);
  // Finds processes not yet tracked: the job's list, or the snapshot's children of members.
  void FindNewMembers();
  void FindChildrenInSnapshot();
  // Logs the members that have ended since the last call; true when nothing that holds the wait
  // still runs.
  bool CheckEnded();
  // The job's count of running processes, or -1 when it cannot be read.
  long JobActiveProcesses() const;

  ProgramOutsideTheWait outsideTheWait_ = nullptr;
  bool endOutsideWhenDone_ = false;
  base::HeapArray<Member> members_;
  base::ScopedHandle job_;
  base::ScopedHandle port_;
};

#endif  // ENGINE_PROCESS_TREE_H_
