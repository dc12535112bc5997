#pragma once
// The C library keeps the time zone in process-wide state that tzset and
// localtime_r update under a lock of its own, which thread checkers cannot
// see. Every local-time conversion of the program goes through this one
// lock instead, so that backup workers stamping lines and zip entries at
// the same time are plainly ordered.

#include <mutex>

namespace dz {

inline std::mutex& LocalTimeLock() {
  static std::mutex Lock;
  return Lock;
}

}  // namespace dz
