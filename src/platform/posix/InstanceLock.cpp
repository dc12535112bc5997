#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <utility>

#include "platform/SysError.h"
#include "platform/posix/Errno.h"

namespace dz {

TInstanceLock::TInstanceLock(TInstanceLock&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}

TInstanceLock& TInstanceLock::operator=(TInstanceLock&& Other) noexcept {
  if (this != &Other) {
    Release();
    FFd = std::exchange(Other.FFd, -1);
  }
  return *this;
}

TInstanceLock::~TInstanceLock() { Release(); }

void TInstanceLock::Release() {
  if (FFd >= 0) ::close(FFd);  // closing the descriptor ends the lock
  FFd = -1;
}

namespace {

std::int64_t ReadHolder(int Fd) {
  char Text[32];
  const ssize_t Got = ::pread(Fd, Text, sizeof Text - 1, 0);
  if (Got <= 0) return 0;
  std::int64_t Pid = 0;
  const auto [End, Ec] = std::from_chars(Text, Text + Got, Pid);
  return Ec == std::errc() && End != Text ? Pid : 0;
}

}  // namespace

int TInstanceLock::Acquire(const std::string& LockFile, std::int64_t& Holder) {
  Release();
  Holder = 0;
  // Not O_TRUNC: the holder's number must stay readable for the one that
  // fails. O_NOFOLLOW: a link planted at the lock's name is not written.
  int Fd;
  do Fd = ::open(LockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  while (Fd < 0 && errno == EINTR);
  if (Fd < 0) return SysErrorFromErrno(errno);
  // flock, not fcntl locks: those belong to the process and would let a
  // second acquisition in the same process succeed silently.
  int Locked;
  do Locked = ::flock(Fd, LOCK_EX | LOCK_NB);
  while (Locked != 0 && errno == EINTR);
  if (Locked != 0) {
    const int E = errno;
    if (E == EWOULDBLOCK) Holder = ReadHolder(Fd);
    ::close(Fd);
    return E == EWOULDBLOCK ? ErrSharingViolation : SysErrorFromErrno(E);
  }
  const std::string Pid = std::to_string(::getpid()) + "\n";
  // The number is only for the message of a second copy: a failure to
  // write it leaves the lock as good as it is.
  if (::ftruncate(Fd, 0) == 0) {
    [[maybe_unused]] const ssize_t Written = ::pwrite(Fd, Pid.data(), Pid.size(), 0);
  }
  FFd = Fd;
  return 0;
}

}  // namespace dz
