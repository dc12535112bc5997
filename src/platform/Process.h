#pragma once
// Starting another program and waiting for its end. Results are system error
// codes (SysError.h), 0 meaning success; nothing here raises.
//
// A command is a list of arguments handed to the program as they are: no
// shell and no quoting rules stand between the caller and the program, so
// blanks and quotes in a task file's name reach it unchanged.

#include <cstdint>
#include <string>
#include <vector>

namespace dz {

// A started child process that has not been waited for to its end. The
// owner waits for it (WaitChildProcess) or lets it go: a handle destroyed
// while the child still runs hands it to a thread of its own that collects
// its end, so that no finished child lingers in the process table.
class TChildProcess {
public:
  TChildProcess() = default;
  TChildProcess(TChildProcess&& Other) noexcept;
  TChildProcess& operator=(TChildProcess&& Other) noexcept;
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  ~TChildProcess();

  // True while the handle stands for a child whose end has not been
  // collected.
  bool Running() const { return FId > 0; }
  std::int64_t Id() const { return FId; }

private:
  friend int SpawnChildProcess(const std::vector<std::string>&, const std::string&, TChildProcess&);
  friend int WaitChildProcess(TChildProcess&, int, bool&, int&);
  void Release();

  std::int64_t FId = 0;
  int FPidFd = -1;  // a descriptor that turns readable when the child ends; -1 without one
};

// Starts Args[0] (a path; a name without "/" is looked up in PATH) with the
// arguments Args[1...] in Directory (the caller's current directory when
// empty), with the caller's environment. The child reads its standard input
// from /dev/null, so that it never takes the console's commands, and starts
// with no signals blocked or ignored whatever the caller's threads block.
// 0 with Child set, else the code of the failure, also when the program
// cannot be executed (2 when it does not exist, 5 when it may not be run).
int SpawnChildProcess(const std::vector<std::string>& Args, const std::string& Directory, TChildProcess& Child);

// Waits up to TimeoutMs (0: only looks) for Child to end. 0 when the wait
// itself worked: Ended tells whether the child ended, and then ExitCode holds
// its exit code (128 + the signal's number when a signal ended it, as shells
// report it) and Child no longer runs. Otherwise the code of the failure.
int WaitChildProcess(TChildProcess& Child, int TimeoutMs, bool& Ended, int& ExitCode);

}  // namespace dz
