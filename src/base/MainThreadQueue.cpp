#include "base/MainThreadQueue.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace dz {

namespace {

// What a sender waits for. The posted call owns a TSendGuard; whichever way
// the call ends (run, or dropped by Close or by an implementation that
// discards it), the guard reports it, so Send can never wait forever.
struct TSendState {
  std::mutex Lock;
  std::condition_variable Finished;
  bool Done = false;
  bool Ran = false;

  void Finish(bool HasRun) {
    {
      std::lock_guard Guard(Lock);
      if (Done) return;
      Done = true;
      Ran = HasRun;
    }
    Finished.notify_all();
  }
};

class TSendGuard {
public:
  explicit TSendGuard(std::shared_ptr<TSendState> State) : FState(std::move(State)) {}
  TSendGuard(const TSendGuard&) = delete;
  TSendGuard& operator=(const TSendGuard&) = delete;
  ~TSendGuard() { FState->Finish(false); }

  void Ran() { FState->Finish(true); }

private:
  std::shared_ptr<TSendState> FState;
};

}  // namespace

bool TMainThreadQueue::Send(TCall Call) {
  auto State = std::make_shared<TSendState>();
  {
    // std::function needs a copyable target, hence the shared guard.
    auto Guard = std::make_shared<TSendGuard>(State);
    const bool Posted = Post([Guard, Call = std::move(Call)] {
      struct TRanOnExit {
        TSendGuard& G;
        ~TRanOnExit() { G.Ran(); }
      } OnExit{*Guard};
      Call();
    });
    if (!Posted) return false;
  }
  std::unique_lock Lock(State->Lock);
  State->Finished.wait(Lock, [&] { return State->Done; });
  return State->Ran;
}

TPlainMainThreadQueue::~TPlainMainThreadQueue() {
  Close();
}

bool TPlainMainThreadQueue::Post(TCall Call) {
  {
    std::lock_guard Guard(FLock);
    if (FClosed) return false;  // Call is destroyed after the lock is gone
    FCalls.push_back(std::move(Call));
  }
  FSignal.notify_all();
  return true;
}

std::size_t TMainThreadQueue::RunQueuedCalls(std::mutex& Lock, std::deque<TCall>& Calls) {
  std::size_t Limit;
  {
    std::lock_guard Guard(Lock);
    Limit = Calls.size();
  }
  std::size_t Ran = 0;
  while (Ran < Limit) {
    TCall Call;
    {
      std::lock_guard Guard(Lock);
      if (Calls.empty()) break;  // closed meanwhile
      Call = std::move(Calls.front());
      Calls.pop_front();
    }
    ++Ran;
    Call();
  }
  return Ran;
}

std::size_t TPlainMainThreadQueue::ProcessPending() { return RunQueuedCalls(FLock, FCalls); }

bool TPlainMainThreadQueue::WaitWhileProcessing(const std::function<bool()>& Done,
                                                std::chrono::milliseconds Timeout) {
  using TClock = std::chrono::steady_clock;
  const TClock::time_point Start = TClock::now();
  // A timeout too long for the clock to add means "no timeout".
  const bool Forever = Timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(
                                      TClock::time_point::max() - Start);
  const TClock::time_point Deadline =
      Forever ? TClock::time_point::max() : Start + std::max(Timeout, std::chrono::milliseconds(0));
  for (;;) {
    ProcessPending();
    if (Done()) return true;
    std::unique_lock Lock(FLock);
    const auto Ready = [this] { return !FCalls.empty() || FWoken; };
    if (Forever) {
      FSignal.wait(Lock, Ready);
    } else if (!FSignal.wait_until(Lock, Deadline, Ready)) {
      Lock.unlock();
      return Done();
    }
    FWoken = false;
  }
}

void TPlainMainThreadQueue::Wake() {
  {
    std::lock_guard Guard(FLock);
    FWoken = true;
  }
  FSignal.notify_all();
}

void TPlainMainThreadQueue::Close() {
  std::deque<TCall> Dropped;
  {
    std::lock_guard Guard(FLock);
    FClosed = true;
    Dropped.swap(FCalls);
  }
  FSignal.notify_all();
  // Destroyed outside the lock: destroying a call releases whatever it
  // captured, which may post or tell a waiting Send that it was dropped.
  Dropped.clear();
}

}  // namespace dz
