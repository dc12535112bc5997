#pragma once
// A lock that one running program holds on a file for as long as it runs,
// so that a second copy of the program on the same settings finds out and
// can say who holds it. The lock goes with the process: a program that
// crashes or is killed never leaves it behind.

#include <cstdint>
#include <string>

namespace dz {

class TInstanceLock {
public:
  TInstanceLock() = default;
  TInstanceLock(TInstanceLock&& Other) noexcept;
  TInstanceLock& operator=(TInstanceLock&& Other) noexcept;
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;
  ~TInstanceLock();

  // Takes the lock on LockFile (made when missing) and writes this
  // process's number into it. 0 on success; 32 (sharing violation) when
  // another process holds it, whose number is then in Holder (0 when it
  // could not be read); any other system error code when the file cannot
  // be opened or locked at all.
  int Acquire(const std::string& LockFile, std::int64_t& Holder);
  bool Held() const { return FFd >= 0; }
  // Gives the lock up (the file stays: removing it would race with a
  // program that has just opened it).
  void Release();

private:
  int FFd = -1;
};

}  // namespace dz
