#pragma once
// A directory-watch backend without a kernel, for driving TDirectoryWatch and
// everything built on it. The test keeps one TFakeDirWatchBackends, hands its
// Factory() to the watchers and then, for each backend they made, sees the
// Start and Stop calls and pushes change batches and errors as the worker
// thread would: every push runs the sink on a thread of its own.
//
//   test::TFakeDirWatchBackends Fakes;
//   TDirectoryWatch Watch(1, Queue, Fakes.Factory());
//   Watch.SetDirectory("/data"); Watch.Start();
//   Fakes.Active("/data")->Push({{DirActionAdded, "a.txt"}});
//   Queue.ProcessPending();  // OnNotify runs here
//
// A change pushed without a kind is of unknown kind, so the receiver looks
// at the path itself (ckUnknown); give it ckFile or ckDirectory to report
// it as a real backend does.
//
// A pushed batch is delivered only between Start and Stop, as the real
// backends promise; Push returns false when it was dropped.
//
// A start can be held (HoldStart): Start, on whichever thread calls it,
// takes the sink, so that pushes are delivered as they would be from a
// backend still walking its tree, and then waits until the test releases it
// (ReleaseStart) or the start is cancelled (it then raises 995).

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DirWatchBackend.h"

namespace dz::test {

// What one backend went through; it outlives the backend, so a test can look
// at a backend its watcher has already destroyed.
class TFakeDirWatch {
public:
  // As the worker thread would: calls the sink on another thread and waits
  // for it. False when the backend is not started (the batch is dropped).
  // ReadTime and Since as TDirWatchSink takes them; now when not given.
  bool Push(std::vector<TDirChange> Batch, TDirWatchClock::time_point ReadTime = TDirWatchClock::now()) {
    return CallSink([&](TDirWatchSink& Sink) { Sink.Changes(std::move(Batch), ReadTime); });
  }
  bool PushError(int Code, std::string Text, TDirWatchClock::time_point Since = TDirWatchClock::now()) {
    return CallSink([&](TDirWatchSink& Sink) { Sink.Error(Code, std::move(Text), Since); });
  }

  // Between Start and Stop.
  bool Started() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FSink != nullptr;
  }
  bool Destroyed() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FDestroyed;
  }
  int StartCalls() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FStartCalls;
  }
  int StopCalls() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FStopCalls;
  }
  // The request of the last Start.
  TDirWatchRequest Request() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FRequest;
  }
  int CancelCalls() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FCancelCalls;
  }
  // Waits (generously) until a held Start has begun waiting; false when it
  // never did.
  bool WaitUntilHeld() {
    std::unique_lock<std::mutex> Lock(FLock);
    return FGate.wait_for(Lock, std::chrono::minutes(2), [this] { return FHeldNow; });
  }
  // Hook runs at the start of every Stop call, before the backend stops
  // (on the thread that stops it).
  void OnStop(std::function<void()> Hook) {
    std::lock_guard<std::mutex> Lock(FLock);
    FStopHook = std::move(Hook);
  }
  // A held Start returns, started.
  void ReleaseStart() {
    std::lock_guard<std::mutex> Lock(FLock);
    FHold = false;
    FGate.notify_all();
  }

private:
  friend class TFakeDirWatchBackend;

  template <class F>
  bool CallSink(F Call) {
    bool Delivered = false;
    // The lock is held while the sink runs, so Stop waits for a push in
    // progress, as a real backend's Stop waits for its worker.
    std::thread Worker([&] {
      std::lock_guard<std::mutex> Lock(FLock);
      if (FSink == nullptr) return;
      Call(*FSink);
      Delivered = true;
    });
    Worker.join();
    return Delivered;
  }

  mutable std::mutex FLock;
  std::condition_variable FGate;
  bool FHold = false;      // Start waits for ReleaseStart or a cancel
  bool FHeldNow = false;   // and is waiting now
  bool FCancelled = false;
  int FCancelCalls = 0;
  std::function<void()> FStopHook;
  TDirWatchSink* FSink = nullptr;
  TDirWatchRequest FRequest;
  int FStartCalls = 0;
  int FStopCalls = 0;
  bool FDestroyed = false;
};

class TFakeDirWatchBackend final : public TDirWatchBackend {
public:
  TFakeDirWatchBackend(std::shared_ptr<TFakeDirWatch> Record, std::map<std::string, int> Failures,
                       std::set<std::string> Holds)
      : FRecord(std::move(Record)), FFailures(std::move(Failures)), FHolds(std::move(Holds)) {}
  ~TFakeDirWatchBackend() override {
    std::lock_guard<std::mutex> Lock(FRecord->FLock);
    if (FRecord->FSink != nullptr) ADD_FAILURE() << "a started fake backend was destroyed without Stop";
    FRecord->FSink = nullptr;
    FRecord->FDestroyed = true;
  }

  void Start(const TDirWatchRequest& Request, TDirWatchSink& Sink) override {
    std::unique_lock<std::mutex> Lock(FRecord->FLock);
    ++FRecord->FStartCalls;
    FRecord->FRequest = Request;
    if (FRecord->FSink != nullptr) ADD_FAILURE() << "Start on a started fake backend";
    if (auto Failure = FFailures.find(Request.Directory); Failure != FFailures.end())
      throw EDirWatchOpenError("cannot open " + Request.Directory, Failure->second);
    FRecord->FSink = &Sink;
    if (FHolds.count(Request.Directory) == 0) return;
    FRecord->FHold = true;
    FRecord->FHeldNow = true;
    FRecord->FGate.notify_all();
    FRecord->FGate.wait(Lock, [this] { return !FRecord->FHold || FRecord->FCancelled; });
    FRecord->FHeldNow = false;
    if (FRecord->FCancelled) {
      FRecord->FSink = nullptr;
      throw EDirWatchOpenError("start cancelled", 995);
    }
  }
  void CancelStart() override {
    std::lock_guard<std::mutex> Lock(FRecord->FLock);
    ++FRecord->FCancelCalls;
    FRecord->FCancelled = true;
    FRecord->FGate.notify_all();
  }
  void Stop() override {
    std::function<void()> Hook;
    {
      std::lock_guard<std::mutex> Lock(FRecord->FLock);
      Hook = FRecord->FStopHook;
    }
    if (Hook) Hook();
    std::lock_guard<std::mutex> Lock(FRecord->FLock);
    ++FRecord->FStopCalls;
    FRecord->FSink = nullptr;
  }

private:
  std::shared_ptr<TFakeDirWatch> FRecord;
  std::map<std::string, int> FFailures;
  std::set<std::string> FHolds;
};

// Makes the fake backends and keeps the record of each. Use it on the test's
// main thread only.
class TFakeDirWatchBackends {
public:
  TDirWatchBackendFactory Factory() {
    return [this]() -> std::unique_ptr<TDirWatchBackend> {
      FMade.push_back(std::make_shared<TFakeDirWatch>());
      return std::make_unique<TFakeDirWatchBackend>(FMade.back(), FFailures, FHolds);
    };
  }

  // Start on Directory raises EDirWatchOpenError with Code (2: not found,
  // 3: path not found, 5: access denied) in backends made from now on.
  void FailStart(const std::string& Directory, int Code) { FFailures[Directory] = Code; }
  void ClearFailures() { FFailures.clear(); }
  // Start on Directory waits, in backends made from now on, until the test
  // releases it (TFakeDirWatch::ReleaseStart) or it is cancelled.
  void HoldStart(const std::string& Directory) { FHolds.insert(Directory); }
  void ClearHolds() { FHolds.clear(); }

  // Every backend made so far, in the order they were made.
  std::size_t Count() const { return FMade.size(); }
  TFakeDirWatch& At(std::size_t Index) const { return *FMade.at(Index); }
  TFakeDirWatch& Last() const { return *FMade.back(); }

  // The started backend watching Directory (exactly as passed to Start), or
  // nullptr; the last one made when there are several.
  TFakeDirWatch* Active(const std::string& Directory) const {
    for (auto It = FMade.rbegin(); It != FMade.rend(); ++It)
      if ((*It)->Started() && (*It)->Request().Directory == Directory) return It->get();
    return nullptr;
  }
  std::size_t ActiveCount() const {
    std::size_t Count = 0;
    for (const auto& Made : FMade) Count += Made->Started() ? 1 : 0;
    return Count;
  }
  int StartCalls() const {
    int Total = 0;
    for (const auto& Made : FMade) Total += Made->StartCalls();
    return Total;
  }
  int StopCalls() const {
    int Total = 0;
    for (const auto& Made : FMade) Total += Made->StopCalls();
    return Total;
  }

private:
  std::vector<std::shared_ptr<TFakeDirWatch>> FMade;
  std::map<std::string, int> FFailures;
  std::set<std::string> FHolds;
};

}  // namespace dz::test
