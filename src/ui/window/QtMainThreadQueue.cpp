#include "ui/window/QtMainThreadQueue.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace dz::ui {

TQtMainThreadQueue::TQtMainThreadQueue() = default;

TQtMainThreadQueue::~TQtMainThreadQueue() { Close(); }

bool TQtMainThreadQueue::Post(TCall Call) {
  std::unique_lock Guard(FLock);
  if (FClosed) {
    Guard.unlock();
    return false;  // Call is destroyed outside the lock (a Send guard wakes its sender)
  }
  FCalls.push_back(std::move(Call));
  // One queued invocation serves every call posted before it runs. It is
  // queued under the lock, so Close cannot pass in between and let the
  // receiver go while the invocation is handed over.
  if (!FDeliveryQueued) {
    FDeliveryQueued = true;
    QMetaObject::invokeMethod(&FReceiver, [this] { Deliver(); }, Qt::QueuedConnection);
  }
  return true;
}

void TQtMainThreadQueue::Deliver() {
  {
    std::lock_guard Guard(FLock);
    FDeliveryQueued = false;
  }
  ProcessPending();
}

std::size_t TQtMainThreadQueue::ProcessPending() { return RunQueuedCalls(FLock, FCalls); }

void TQtMainThreadQueue::Wake() {
  std::lock_guard Guard(FLock);
  if (FClosed) return;
  // An empty invocation: its arrival ends the dispatcher's wait.
  QMetaObject::invokeMethod(&FReceiver, [] {}, Qt::QueuedConnection);
}

bool TQtMainThreadQueue::WaitWhileProcessing(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
  using TClock = std::chrono::steady_clock;
  const TClock::time_point Start = TClock::now();
  const bool Forever = Timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(TClock::time_point::max() - Start);
  const TClock::time_point Deadline = Forever ? TClock::time_point::max() : Start + std::max(Timeout, std::chrono::milliseconds(0));
  for (;;) {
    ProcessPending();
    if (Done()) return true;
    const TClock::time_point Now = TClock::now();
    if (Now >= Deadline) return false;
    // Waits for the next event: a delivery of posted calls, a Wake, a
    // repaint, or the timer of this slice. Done may also follow from an
    // event that tells nobody (a process's end seen by a signal of its
    // own), so it is looked at every tenth of a second. The dispatcher is
    // asked directly rather than through a nested QEventLoop, which would
    // return at once after the application's loop has been told to quit
    // (the watchdog waits for its workers when it goes, after that).
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Now);
    const auto Slice = std::min<std::chrono::milliseconds>(Left, std::chrono::milliseconds(100));
    QTimer Timer;
    Timer.setSingleShot(true);
    Timer.start(Slice);
    ++FWaitDepth;
    if (QAbstractEventDispatcher* Dispatcher = QAbstractEventDispatcher::instance())
      Dispatcher->processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    --FWaitDepth;
  }
}

void TQtMainThreadQueue::Close() {
  std::deque<TCall> Dropped;
  {
    std::lock_guard Guard(FLock);
    FClosed = true;
    Dropped.swap(FCalls);
  }
  // Destroyed here, outside the lock: every Send waiting for one of them
  // returns false.
}

}  // namespace dz::ui
