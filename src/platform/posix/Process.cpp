#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/SysError.h"
#include "platform/posix/Errno.h"

extern char** environ;

namespace dz {

namespace {

// Closed by the destructor, on every way out of SpawnChildProcess.
struct TSpawnSettings {
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attributes;
  bool ActionsReady = false;
  bool AttributesReady = false;
  ~TSpawnSettings() {
    if (ActionsReady) posix_spawn_file_actions_destroy(&Actions);
    if (AttributesReady) posix_spawnattr_destroy(&Attributes);
  }
};

// A descriptor that polls readable once Pid has ended; -1 where the kernel
// has none (before Linux 5.3), and the waits then look every few
// milliseconds instead.
int OpenPidFd(pid_t Pid) {
#ifdef SYS_pidfd_open
  const long Fd = ::syscall(SYS_pidfd_open, Pid, 0);
  if (Fd >= 0) {
    ::fcntl(static_cast<int>(Fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(Fd);
  }
#else
  (void)Pid;
#endif
  return -1;
}

// The code of a failed waitpid. ECHILD (the child was collected elsewhere)
// has no errno counterpart among the program's codes; it is an invalid
// handle, so that no result of a wait carries ErrErrnoFlag, the bit that
// marks an exit code.
int WaitError(int Errno) { return Errno == ECHILD ? ErrInvalidHandle : SysErrorFromErrno(Errno); }

int ExitCodeOf(int Status) {
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) return 128 + WTERMSIG(Status);
  return 0;
}

}  // namespace

TChildProcess::TChildProcess(TChildProcess&& Other) noexcept
    : FId(std::exchange(Other.FId, 0)), FPidFd(std::exchange(Other.FPidFd, -1)) {}

TChildProcess& TChildProcess::operator=(TChildProcess&& Other) noexcept {
  if (this != &Other) {
    Release();
    FId = std::exchange(Other.FId, 0);
    FPidFd = std::exchange(Other.FPidFd, -1);
  }
  return *this;
}

TChildProcess::~TChildProcess() { Release(); }

void TChildProcess::Release() {
  if (FPidFd >= 0) ::close(FPidFd);
  FPidFd = -1;
  if (FId <= 0) return;
  const pid_t Pid = static_cast<pid_t>(std::exchange(FId, 0));
  int Status = 0;
  if (::waitpid(Pid, &Status, WNOHANG) != 0) return;  // ended already, or not ours
  try {
    std::thread([Pid] {
      int Ignored = 0;
      while (::waitpid(Pid, &Ignored, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
    // Without a thread the child stays in the process table after its end
    // until this program ends; nothing else is lost.
  }
}

int SpawnChildProcess(const std::vector<std::string>& Args, const std::string& Directory, TChildProcess& Child) {
  if (Args.empty() || Args[0].empty()) return ErrFileNotFound;

  TSpawnSettings Settings;
  if (const int E = posix_spawn_file_actions_init(&Settings.Actions)) return SysErrorFromErrno(E);
  Settings.ActionsReady = true;
  if (const int E = posix_spawnattr_init(&Settings.Attributes)) return SysErrorFromErrno(E);
  Settings.AttributesReady = true;

  if (const int E = posix_spawn_file_actions_addopen(&Settings.Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0))
    return SysErrorFromErrno(E);
  if (!Directory.empty()) {
    if (const int E = posix_spawn_file_actions_addchdir_np(&Settings.Actions, Directory.c_str()))
      return SysErrorFromErrno(E);
  }
  // The calling thread may block signals that another thread takes (the
  // console's signal thread) and the program ignores SIGPIPE: the child
  // starts as any program started from a shell.
  sigset_t NoSignals;
  sigset_t AllSignals;
  sigemptyset(&NoSignals);
  sigfillset(&AllSignals);
  posix_spawnattr_setsigmask(&Settings.Attributes, &NoSignals);
  posix_spawnattr_setsigdefault(&Settings.Attributes, &AllSignals);
  posix_spawnattr_setflags(&Settings.Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> Argv;
  Argv.reserve(Args.size() + 1);
  for (const std::string& Arg : Args) Argv.push_back(const_cast<char*>(Arg.c_str()));
  Argv.push_back(nullptr);

  pid_t Pid = 0;
  const bool SearchPath = Args[0].find('/') == std::string::npos;
  const int E = SearchPath ? posix_spawnp(&Pid, Argv[0], &Settings.Actions, &Settings.Attributes, Argv.data(), environ)
                           : posix_spawn(&Pid, Argv[0], &Settings.Actions, &Settings.Attributes, Argv.data(), environ);
  if (E != 0) return SysErrorFromErrno(E);

  TChildProcess Started;
  Started.FId = Pid;
  Started.FPidFd = OpenPidFd(Pid);
  Child = std::move(Started);
  return ErrSuccess;
}

int WaitChildProcess(TChildProcess& Child, int TimeoutMs, bool& Ended, int& ExitCode) {
  Ended = false;
  ExitCode = 0;
  if (!Child.Running()) return ErrInvalidHandle;
  const pid_t Pid = static_cast<pid_t>(Child.FId);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);

  for (;;) {
    int Status = 0;
    const pid_t Result = ::waitpid(Pid, &Status, WNOHANG);
    if (Result < 0) {
      if (errno == EINTR) continue;
      const int Code = WaitError(errno);
      Child.FId = 0;  // not ours to wait for any more
      Child.Release();
      return Code;
    }
    if (Result == Pid) {
      Ended = true;
      ExitCode = ExitCodeOf(Status);
      Child.FId = 0;
      Child.Release();
      return ErrSuccess;
    }
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
    if (Left.count() <= 0) return ErrSuccess;
    if (Child.FPidFd >= 0) {
      pollfd Entry{Child.FPidFd, POLLIN, 0};
      ::poll(&Entry, 1, static_cast<int>(Left.count()));  // EINTR: looked at again above
    } else {
      std::this_thread::sleep_for(std::min(Left, std::chrono::milliseconds(5)));
    }
  }
}

}  // namespace dz
