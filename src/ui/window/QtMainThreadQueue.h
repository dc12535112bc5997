#pragma once
// The main-thread queue on Qt's event loop: a Post from any thread becomes a
// queued invocation on the GUI thread, so watcher reports and worker lines
// run between the window's own events. A wait (StopMonitoring waiting for
// the last backup) keeps the event loop turning: it paints and runs posted
// calls but takes no user input, so no handler of the window can run in the
// middle of the operation that waits.

#include <QObject>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

#include "base/MainThreadQueue.h"

namespace dz::ui {

class TQtMainThreadQueue final : public TMainThreadQueue {
public:
  // Create it on the GUI thread, after the application object.
  TQtMainThreadQueue();
  ~TQtMainThreadQueue() override;
  TQtMainThreadQueue(const TQtMainThreadQueue&) = delete;
  TQtMainThreadQueue& operator=(const TQtMainThreadQueue&) = delete;

  bool Post(TCall Call) override;
  std::size_t ProcessPending() override;
  bool WaitWhileProcessing(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) override;
  void Wake() override;
  void Close() override;

  // Whether a WaitWhileProcessing runs now (GUI thread): the window's timer
  // does not tick into an operation that waits.
  bool Waiting() const { return FWaitDepth > 0; }

private:
  // Runs on the GUI thread: the calls posted, then the waiting loop woken.
  void Deliver();

  QObject FReceiver;  // lives on the GUI thread; the queued invocations target it
  std::mutex FLock;
  std::deque<TCall> FCalls;
  bool FDeliveryQueued = false;
  bool FClosed = false;
  int FWaitDepth = 0;  // GUI thread only
};

}  // namespace dz::ui
