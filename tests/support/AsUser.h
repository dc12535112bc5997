#pragma once
// Runs a piece of a test as an unprivileged user. Root passes every
// permission check, so a test of what happens when access is denied needs
// another user; the CI runs as root.
//
// As root, the piece runs in a forked child that has dropped to the user
// and group "nobody" (65534) without supplementary groups; what it returns
// comes back through a pipe. A crash or a failed expectation in the child
// cannot disturb the test process, which never changes its own identity.
// As an ordinary user the piece runs in the test process itself.
//
// Test support, not product code: like the POSIX backend it stands in for,
// it includes the system's headers.

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

namespace dz::test {

inline constexpr unsigned NobodyId = 65534;

struct TUnprivilegedRun {
  bool Ran = false;    // false: no unprivileged user to run as; WhyNot says why (skip)
  std::string Output;  // what Body returned; a description when it raised or crashed,
                       // so that comparing it fails the test rather than skipping it
  std::string WhyNot;
};

// True when the test runs as root, so that files can be given to NobodyId
// and a permission check can be made to fail for the child only.
inline bool RunningAsRoot() {
  return ::geteuid() == 0;
}

inline TUnprivilegedRun RunUnprivileged(const std::function<std::string()>& Body) {
  TUnprivilegedRun Run;
  if (!RunningAsRoot()) {
    Run.Output = Body();
    Run.Ran = true;
    return Run;
  }
  int Pipe[2];
  if (::pipe(Pipe) != 0) {
    Run.WhyNot = std::string("cannot create a pipe: ") + std::strerror(errno);
    return Run;
  }
  const pid_t Child = ::fork();
  if (Child < 0) {
    ::close(Pipe[0]);
    ::close(Pipe[1]);
    Run.WhyNot = std::string("cannot fork: ") + std::strerror(errno);
    return Run;
  }
  if (Child == 0) {
    // The child writes one status byte ('+' ran, '-' could not drop the
    // privileges) and then the output or the reason, and ends without
    // running the test framework's exit handlers.
    ::close(Pipe[0]);
    std::string Message;
    char Status = '-';
    if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0) {
      Message = std::string("cannot become user ") + std::to_string(NobodyId) + ": " + std::strerror(errno);
    } else if (::geteuid() == 0 || ::setuid(0) == 0) {
      Message = "the child kept root's privileges";
    } else {
      Status = '+';
      try {
        Message = Body();
      } catch (const std::exception& Error) {
        Message = std::string("<the unprivileged part raised: ") + Error.what() + ">";
      } catch (...) {
        Message = "<the unprivileged part raised an unknown exception>";
      }
    }
    std::string Packet = Status + Message;
    const char* P = Packet.data();
    std::size_t Left = Packet.size();
    while (Left > 0) {
      const ssize_t Put = ::write(Pipe[1], P, Left);
      if (Put < 0 && errno == EINTR) continue;
      if (Put <= 0) break;
      P += Put;
      Left -= static_cast<std::size_t>(Put);
    }
    ::close(Pipe[1]);
    ::_exit(0);
  }
  ::close(Pipe[1]);
  std::string Packet;
  char Buffer[4096];
  for (;;) {
    const ssize_t Got = ::read(Pipe[0], Buffer, sizeof Buffer);
    if (Got < 0 && errno == EINTR) continue;
    if (Got <= 0) break;
    Packet.append(Buffer, static_cast<std::size_t>(Got));
  }
  ::close(Pipe[0]);
  int WaitStatus = 0;
  while (::waitpid(Child, &WaitStatus, 0) < 0 && errno == EINTR) {
  }
  if (Packet.empty()) {
    Run.Ran = true;
    Run.Output = "<the unprivileged child ended without a result, wait status " + std::to_string(WaitStatus) + ">";
    return Run;
  }
  if (Packet[0] != '+') {
    Run.WhyNot = Packet.substr(1);
    return Run;
  }
  Run.Ran = true;
  Run.Output = Packet.substr(1);
  return Run;
}

}  // namespace dz::test
