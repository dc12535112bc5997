#include "watchdog/DestinationProbes.h"

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <utility>

#include "filesys/PathUtils.h"
#include "settings/PathConventions.h"
#include "watchdog/MonTask.h"

namespace dz {

TDestinationVerdict ProbeDestination(const std::string& DestDir, const TVolumes& Volumes) {
  TDestinationVerdict V;
  V.Dest = DestDir;
  std::string Label;
  if (ResolveVolumePath(V.Dest, Label, Volumes) == vpNotFound)
    return V;
  // A relative destination names no drive of its own that could be missing.
  const TVolumeLook Look = Volumes.Look(V.Dest);
  V.Available = !IsAbsolutePath(V.Dest) || Look.There;
  if (V.Available) {
    V.MountPoint = Look.MountPoint;
    V.Resolved = Look.Resolved;
  }
  return V;
}

// --- the verdicts ----------------------------------------------------------------

// The name a " *** " line gives for a destination that is not there: its
// volume label, else its drive; a Linux path has no drive, and the folder
// itself tells the user most.
std::string MissingDestinationName(const std::string& DestDir) {
  std::string Label;
  if (VolumeLabelOf(DestDir, Label))
    return Label;
  std::string Drive = DrivePart(DestDir);
  if (!Drive.empty())
    return Drive;
  std::string_view Dir = DestDir;
  while (Dir.size() > 1 && Dir.back() == PathDelimiter) Dir.remove_suffix(1);
  return std::string(Dir);
}

bool DestinationMountKept(TMonTask& Task, const std::string& Dest, const std::string& Mount) {
  if (Mount.empty())
    return true;
  if (Task.DestMountFor == Dest && !Task.DestMountPoint.empty() && Mount != Task.DestMountPoint &&
      IsSubPath(DirWithDelimiter(Mount), Task.DestMountPoint))
    return false;  // the deeper mount it was on is gone: its bare folder is left
  Task.DestMountPoint = Mount;
  Task.DestMountFor = Dest;
  return true;
}

// --- threads left to end on their own ---------------------------------------------

// What the threads share with the owner: the queue, until the owner goes.
struct TDetachedLooks::THub : std::enable_shared_from_this<THub> {
  explicit THub(TMainThreadQueue& AQueue) : Queue(&AQueue) {}
  bool Open() const {
    std::lock_guard<std::mutex> Lock(Mutex);
    return Queue != nullptr;
  }
  // Any thread. A call queued before the owner went may come to run after
  // it: it looks again then.
  void Post(TMainThreadQueue::TCall Call) {
    std::lock_guard<std::mutex> Lock(Mutex);
    if (Queue != nullptr)
      Queue->Post([Self = shared_from_this(), Call = std::move(Call)] {
        if (Self->Open())
          Call();
      });
  }
  mutable std::mutex Mutex;
  TMainThreadQueue* Queue;
};

TDetachedLooks::TDetachedLooks(TMainThreadQueue& Queue) : FHub(std::make_shared<THub>(Queue)) {}

TDetachedLooks::~TDetachedLooks() { Abandon(); }

void TDetachedLooks::Abandon() {
  std::lock_guard<std::mutex> Lock(FHub->Mutex);
  FHub->Queue = nullptr;
}

void TDetachedLooks::Post(TMainThreadQueue::TCall Call) { FHub->Post(std::move(Call)); }

void TDetachedLooks::Start(std::function<TMainThreadQueue::TCall()> Look) {
  std::thread([Hub = FHub, Look = std::move(Look)] {
    if (TMainThreadQueue::TCall Then = Look())
      Hub->Post(std::move(Then));
  }).detach();
}

// --- the looks at destinations -------------------------------------------------------

// One look at one destination; the verdict is written by its thread.
struct TDestinationProbes::TSlot {
  std::optional<TDestinationVerdict> Verdict() const {
    std::lock_guard<std::mutex> Lock(Mutex);
    return FVerdict;
  }
  void SetVerdict(TDestinationVerdict V) {
    std::lock_guard<std::mutex> Lock(Mutex);
    FVerdict = std::move(V);
  }

private:
  mutable std::mutex Mutex;
  std::optional<TDestinationVerdict> FVerdict;
};

TDestinationProbes::TDestinationProbes(TMainThreadQueue& Queue, TDestinationProbe Probe,
                                       std::shared_ptr<const TVolumes> Volumes, std::chrono::milliseconds Timeout)
    : FThreads(Queue), FProbe(std::move(Probe)), FVolumes(std::move(Volumes)), FTimeout(Timeout) {}

TDestinationProbes::~TDestinationProbes() { Abandon(); }

void TDestinationProbes::Abandon() {
  FThreads.Abandon();
  FRounds.clear();
}

TDestinationProbes::TRunning& TDestinationProbes::StartLook(const std::string& Dest) {
  auto Slot = std::make_shared<TSlot>();
  TRunning& Look = FLooks[Dest];
  Look.Slot = Slot;
  Look.GivenUp = FTimeout <= std::chrono::milliseconds::zero();
  FThreads.Start([this, Slot, Dest, Probe = FProbe, Volumes = FVolumes]() -> TMainThreadQueue::TCall {
    TDestinationVerdict V;
    try {
      V = Probe(Dest, *Volumes);
    } catch (...) {
      V = TDestinationVerdict{};  // not ready
    }
    Slot->SetVerdict(std::move(V));
    return [this, Slot, Dest] { Answered(Dest, Slot); };
  });
  if (!Look.GivenUp) {
    // The timer sleeps until the look's time is up, or until the look has
    // answered and its record goes (which stops and joins it at once).
    const auto Deadline = std::chrono::steady_clock::now() + FTimeout;
    Look.Timer = std::jthread([this, Slot, Dest, Deadline](std::stop_token Stop) {
      std::mutex Mutex;
      std::condition_variable_any Never;
      std::unique_lock<std::mutex> Lock(Mutex);
      Never.wait_until(Lock, Stop, Deadline, [] { return false; });
      if (!Stop.stop_requested())
        FThreads.Post([this, Slot, Dest] { TimeUp(Dest, Slot); });
    });
  }
  return Look;
}

void TDestinationProbes::Look(const std::vector<std::string>& Dests, TAnswer Answer) {
  TRound Round;
  Round.Answer = std::move(Answer);
  for (const std::string& Dest : Dests) {
    if (Round.Looks.contains(Dest))
      continue;
    auto Running = FLooks.find(Dest);
    if (Running == FLooks.end()) {
      Round.Looks.emplace(Dest, StartLook(Dest).Slot);
    } else if (Running->second.GivenUp) {
      // Waited for once already: a second look at a dead mount would only
      // add a thread that hangs too.
      Round.Looks.emplace(Dest, nullptr);
    } else {
      Round.Looks.emplace(Dest, Running->second.Slot);
    }
  }
  FRounds.emplace(FNextRound++, std::move(Round));
  // Also a round with nothing to wait for is answered through the queue.
  FThreads.Post([this] { AnswerSettled(); });
}

void TDestinationProbes::Answered(const std::string& Dest, const std::shared_ptr<TSlot>& Slot) {
  // The next look at this destination is a new one.
  if (const auto It = FLooks.find(Dest); It != FLooks.end() && It->second.Slot == Slot)
    FLooks.erase(It);
  AnswerSettled();
}

void TDestinationProbes::TimeUp(const std::string& Dest, const std::shared_ptr<TSlot>& Slot) {
  if (const auto It = FLooks.find(Dest); It != FLooks.end() && It->second.Slot == Slot)
    It->second.GivenUp = true;
  AnswerSettled();
}

bool TDestinationProbes::Settled(const TRound& Round) const {
  for (const auto& [Dest, Slot] : Round.Looks) {
    if (!Slot || Slot->Verdict())
      continue;
    const auto It = FLooks.find(Dest);
    if (It != FLooks.end() && It->second.Slot == Slot && !It->second.GivenUp)
      return false;
  }
  return true;
}

void TDestinationProbes::AnswerSettled() {
  std::vector<std::pair<TAnswer, TVerdicts>> Due;
  for (auto It = FRounds.begin(); It != FRounds.end();) {
    if (!Settled(It->second)) {
      ++It;
      continue;
    }
    TVerdicts Verdicts;
    for (const auto& [Dest, Slot] : It->second.Looks)
      Verdicts.emplace(Dest, Slot ? Slot->Verdict() : std::nullopt);
    Due.emplace_back(std::move(It->second.Answer), std::move(Verdicts));
    It = FRounds.erase(It);
  }
  // After the bookkeeping: an answer may ask for new looks.
  for (auto& [Answer, Verdicts] : Due)
    Answer(Verdicts);
}

}  // namespace dz
