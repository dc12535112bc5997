#include "platform/Console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/UniqueFd.h"

namespace dz {

namespace {

TUniqueFd MakeStopEvent() {
  TUniqueFd Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!Fd.Valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
  return Fd;
}

void Signal(const TUniqueFd& StopEvent) {
  const std::uint64_t One = 1;
  // A full counter already wakes the thread, so a failed write changes nothing.
  [[maybe_unused]] const ssize_t Ignored = ::write(StopEvent.Get(), &One, sizeof One);
}

enum TWaitResult { wrReadable, wrStopped, wrFailed };

// Waits until Fd is readable or the stop event is set. Error and hang-up
// states count as readable: the read that follows tells what they are.
TWaitResult WaitReadable(int Fd, const TUniqueFd& StopEvent, short& Events) {
  for (;;) {
    pollfd Fds[2] = {{Fd, POLLIN, 0}, {StopEvent.Get(), POLLIN, 0}};
    if (::poll(Fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return wrFailed;
    }
    if (Fds[1].revents != 0) return wrStopped;
    if (Fds[0].revents != 0) {
      Events = Fds[0].revents;
      return wrReadable;
    }
  }
}

}  // namespace

bool IsTerminal(TStdStream Stream) {
  return ::isatty(static_cast<int>(Stream)) == 1;
}

void OpenMissingStandardStreams() {
  for (int Fd = STDIN_FILENO; Fd <= STDERR_FILENO; ++Fd) {
    if (::fcntl(Fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free number, which is Fd, as every lower one is open.
    const int Null = ::open("/dev/null", Fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (Null >= 0 && Null != Fd) ::close(Null);
  }
}

// ---- Standard input ---------------------------------------------------------

struct TStdinReader::TImpl {
  TLineHandler OnLine;
  TEndHandler OnEnd;
  TUniqueFd StopEvent = MakeStopEvent();
  std::string Pending;  // the line read so far
  std::thread Thread;

  void Run() {
    char Buffer[4096];
    for (;;) {
      short Events = 0;
      const TWaitResult Waited = WaitReadable(STDIN_FILENO, StopEvent, Events);
      if (Waited == wrStopped) return;
      // A closed descriptor 0 or one that cannot be waited for is the end.
      if (Waited == wrFailed || (Events & POLLNVAL)) break;
      const ssize_t Got = ::read(STDIN_FILENO, Buffer, sizeof Buffer);
      if (Got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (Got <= 0) break;
      Take(std::string_view(Buffer, static_cast<std::size_t>(Got)));
    }
    if (!Pending.empty()) Deliver();
    OnEnd();
  }

  void Take(std::string_view Bytes) {
    while (!Bytes.empty()) {
      const std::size_t Newline = Bytes.find('\n');
      const std::size_t Room = MaxLineLength - Pending.size();
      if (Newline == std::string_view::npos || Newline > Room) {
        const std::size_t Part = std::min(Bytes.size(), Room);
        Pending.append(Bytes.substr(0, Part));
        Bytes.remove_prefix(Part);
        if (Pending.size() == MaxLineLength) Deliver();
        continue;
      }
      Pending.append(Bytes.substr(0, Newline));
      Bytes.remove_prefix(Newline + 1);
      if (!Pending.empty() && Pending.back() == '\r') Pending.pop_back();
      Deliver();
    }
  }

  void Deliver() {
    const std::string Line = std::exchange(Pending, std::string());
    OnLine(Line);
  }
};

TStdinReader::TStdinReader(TLineHandler OnLine, TEndHandler OnEnd) : FImpl(std::make_unique<TImpl>()) {
  FImpl->OnLine = std::move(OnLine);
  FImpl->OnEnd = std::move(OnEnd);
  FImpl->Thread = std::thread([Impl = FImpl.get()] { Impl->Run(); });
}

TStdinReader::~TStdinReader() {
  Signal(FImpl->StopEvent);
  FImpl->Thread.join();
}

// ---- Signals ------------------------------------------------------------------

namespace {

// The handler may only make system calls that are safe in a signal handler,
// so it writes the signal's number into a pipe that a thread reads. The pipe
// lives as long as the process: closing it while a handler on another thread
// is about to write would let that write reach whatever file took the
// number next.
std::atomic<int> SignalPipeWrite{-1};
int SignalPipeRead = -1;
std::atomic<bool> SignalsInstalled{false};

constexpr int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void WriteSignalToPipe(int Number) {
  const int SavedErrno = errno;
  const int Fd = SignalPipeWrite.load();
  const unsigned char Byte = static_cast<unsigned char>(Number);
  // A full pipe drops the signal: dozens of requests are waiting already.
  if (Fd >= 0) [[maybe_unused]] const ssize_t Ignored = ::write(Fd, &Byte, 1);
  errno = SavedErrno;
}

void OpenSignalPipe() {
  if (SignalPipeRead >= 0) {
    // Signals that came after the previous instance had stopped reading
    // belong to nobody.
    unsigned char Stale[64];
    while (::read(SignalPipeRead, Stale, sizeof Stale) > 0) {
    }
    return;
  }
  int Fds[2];
  if (::pipe2(Fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  SignalPipeRead = Fds[0];
  SignalPipeWrite.store(Fds[1]);
}

}  // namespace

struct TConsoleSignals::TImpl {
  TSignalHandler OnSignal;
  TUniqueFd StopEvent = MakeStopEvent();
  struct sigaction Previous[std::size(WatchedSignals)] = {};
  struct sigaction PreviousPipe = {};
  std::thread Thread;

  void Run() {
    for (;;) {
      short Events = 0;
      // Without a way to wait, reading on would only spin.
      if (WaitReadable(SignalPipeRead, StopEvent, Events) != wrReadable) return;
      unsigned char Numbers[64];
      const ssize_t Got = ::read(SignalPipeRead, Numbers, sizeof Numbers);
      for (ssize_t I = 0; I < Got; ++I) OnSignal(Numbers[I] == SIGHUP ? csSave : csQuit);
    }
  }

  void Restore(std::size_t Count) {
    for (std::size_t I = 0; I < Count; ++I) ::sigaction(WatchedSignals[I], &Previous[I], nullptr);
  }
};

TConsoleSignals::TConsoleSignals(TSignalHandler OnSignal) {
  if (SignalsInstalled.exchange(true)) throw std::logic_error("TConsoleSignals: one instance at a time");
  try {
    FImpl = std::make_unique<TImpl>();
    FImpl->OnSignal = std::move(OnSignal);
    OpenSignalPipe();
  } catch (...) {
    SignalsInstalled.store(false);
    throw;
  }

  struct sigaction Action = {};
  Action.sa_handler = WriteSignalToPipe;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = SA_RESTART;
  for (std::size_t I = 0; I < std::size(WatchedSignals); ++I) {
    if (::sigaction(WatchedSignals[I], &Action, &FImpl->Previous[I]) != 0) {
      const int Error = errno;
      FImpl->Restore(I);
      SignalsInstalled.store(false);
      throw std::system_error(Error, std::generic_category(), "sigaction");
    }
  }
  struct sigaction Ignore = {};
  Ignore.sa_handler = SIG_IGN;
  sigemptyset(&Ignore.sa_mask);
  ::sigaction(SIGPIPE, &Ignore, &FImpl->PreviousPipe);

  FImpl->Thread = std::thread([Impl = FImpl.get()] { Impl->Run(); });
}

TConsoleSignals::~TConsoleSignals() {
  FImpl->Restore(std::size(WatchedSignals));
  ::sigaction(SIGPIPE, &FImpl->PreviousPipe, nullptr);
  Signal(FImpl->StopEvent);
  FImpl->Thread.join();
  SignalsInstalled.store(false);
}

}  // namespace dz
