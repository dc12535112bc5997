#pragma once
// A gate that worker threads wait at until the test opens it, so that a test
// can hold a walk, a look or a start at a known point without timing: the
// test waits until a thread has arrived, checks what must hold meanwhile,
// then opens the gate.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace dz::test {

class TGate {
public:
  // On the worker's thread: counts the arrival and waits while closed.
  void Pass() {
    std::unique_lock<std::mutex> Lock(FLock);
    ++FArrivals;
    FLastThread = std::this_thread::get_id();
    FSignal.notify_all();
    FSignal.wait(Lock, [this] { return FOpen; });
  }
  // Waits (generously) until Count threads have arrived in all.
  bool WaitForArrivals(int Count) {
    std::unique_lock<std::mutex> Lock(FLock);
    return FSignal.wait_for(Lock, std::chrono::minutes(2), [&] { return FArrivals >= Count; });
  }
  void Open() {
    std::lock_guard<std::mutex> Lock(FLock);
    FOpen = true;
    FSignal.notify_all();
  }
  int Arrivals() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FArrivals;
  }
  std::thread::id LastThread() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FLastThread;
  }

private:
  mutable std::mutex FLock;
  std::condition_variable FSignal;
  bool FOpen = false;
  int FArrivals = 0;
  std::thread::id FLastThread;
};

}  // namespace dz::test
