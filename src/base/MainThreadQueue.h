#pragma once
// Worker threads never touch the program's state: they hand calls to the main
// thread through this queue (the watcher's change reports, the backup worker's
// log lines). The main thread keeps processing the queue while it waits for a
// worker or for a started program, so a worker that waits for the main thread
// can never dead-lock against a main thread that waits for it.
//
// The console front-end and the tests use TPlainMainThreadQueue; the window
// front-end supplies an implementation that runs on its event loop.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace dz {

class TMainThreadQueue {
public:
  using TCall = std::function<void()>;

  virtual ~TMainThreadQueue() = default;

  // Any thread: queues Call to run on the main thread, after every call
  // posted before it. Returns false (and drops Call) once the queue is closed.
  virtual bool Post(TCall Call) = 0;

  // Any thread but the main thread: runs Call on the main thread and waits
  // until it has run. Returns false, without running Call, when the queue is
  // closed before Call could run.
  bool Send(TCall Call);

  // Main thread: runs the calls pending now; returns how many ran.
  virtual std::size_t ProcessPending() = 0;

  // Main thread: processes posted calls until Done() is true or Timeout has
  // passed; returns Done(). Done is evaluated on the main thread after every
  // batch and whenever Wake() is called.
  virtual bool WaitWhileProcessing(const std::function<bool()>& Done,
                                   std::chrono::milliseconds Timeout) = 0;

  // Any thread: something that a waiting Done() looks at may have changed.
  virtual void Wake() = 0;

  // Main thread: no further calls are accepted; pending calls are dropped
  // and every Send() waiting for them returns false.
  virtual void Close() = 0;

protected:
  // Runs the calls queued in Calls when it starts, one at a time and
  // outside Lock: a call may post again (it waits for the next round, so a
  // call that keeps re-posting itself cannot starve the caller), and a call
  // that throws leaves the later ones queued in their order.
  static std::size_t RunQueuedCalls(std::mutex& Lock, std::deque<TCall>& Calls);
};

class TPlainMainThreadQueue final : public TMainThreadQueue {
public:
  TPlainMainThreadQueue() = default;
  ~TPlainMainThreadQueue() override;

  bool Post(TCall Call) override;
  std::size_t ProcessPending() override;
  bool WaitWhileProcessing(const std::function<bool()>& Done,
                           std::chrono::milliseconds Timeout) override;
  void Wake() override;
  void Close() override;

private:
  std::mutex FLock;
  std::condition_variable FSignal;
  std::deque<TCall> FCalls;
  bool FClosed = false;
  bool FWoken = false;
};

}  // namespace dz
