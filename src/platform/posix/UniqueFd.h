#pragma once
// An owning file descriptor for the POSIX backends: closed exactly once, on
// every path out of a scope.

#include <unistd.h>

#include <utility>

namespace dz {

class TUniqueFd {
public:
  TUniqueFd() = default;
  explicit TUniqueFd(int Fd) : FFd(Fd) {}
  TUniqueFd(TUniqueFd&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
  TUniqueFd& operator=(TUniqueFd&& Other) noexcept {
    if (this != &Other) Reset(std::exchange(Other.FFd, -1));
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;
  ~TUniqueFd() { Reset(); }

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Hands the descriptor over (to fdopendir, say) without closing it.
  int Release() { return std::exchange(FFd, -1); }
  void Reset(int Fd = -1) {
    // A descriptor is gone after close() whatever it returns (also on EINTR),
    // so it is never retried.
    if (FFd >= 0) ::close(FFd);
    FFd = Fd;
  }

private:
  int FFd = -1;
};

}  // namespace dz
