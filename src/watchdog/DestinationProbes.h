#pragma once
// The looks at backup destinations. Whether a destination is there (its
// volume label, the file system that belongs there, the destination with
// its links resolved) is asked of the file system, and on a dead network
// mount that blocks for minutes. So each look runs on a thread of its own
// that nobody waits for, and its answer comes back through the main-thread
// queue; a backup start goes on when the looks it needs have answered or
// their time is up, and the main thread never waits for them.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/MainThreadQueue.h"
#include "platform/Volumes.h"

namespace dz {

// What a look at a backup destination found.
struct TDestinationVerdict {
  bool Available = false;  // a volume label was found, and the file system belongs there
  std::string Dest;        // the destination with a volume label resolved to its mount point
  std::string MountPoint;  // of the file system holding Dest; empty when unknown
  std::string Resolved;    // Dest with its links resolved; empty when unknown
};

// The look at a destination: its volume label resolved, then its volume.
// Blocks as long as the file system makes it; never on the main thread.
TDestinationVerdict ProbeDestination(const std::string& DestDir, const TVolumes& Volumes);
using TDestinationProbe = std::function<TDestinationVerdict(const std::string& DestDir, const TVolumes& Volumes)>;

// The name a line of the log gives for a destination that is not there: its
// volume label, else its drive, else the folder itself.
std::string MissingDestinationName(const std::string& DestDir);

class TMonTask;
// Whether Dest, now on the file system mounted at Mount (empty: unknown),
// still lies on the one it was on at Task's last backup start; remembers
// the one it is on now when it does.
bool DestinationMountKept(TMonTask& Task, const std::string& Dest, const std::string& Mount);

// Work that may hang (a look at a dead mount) on threads that are left to
// end on their own. What a thread finds reaches the main-thread queue only
// while this object lives: a call posted before its end is dropped when it
// comes to run afterwards. Main thread, except where said.
class TDetachedLooks {
public:
  explicit TDetachedLooks(TMainThreadQueue& Queue);
  ~TDetachedLooks();
  TDetachedLooks(const TDetachedLooks&) = delete;
  TDetachedLooks& operator=(const TDetachedLooks&) = delete;

  // Runs Look on a thread of its own; the call it returns (if any) runs on
  // the main thread. Look must not raise.
  void Start(std::function<TMainThreadQueue::TCall()> Look);
  // Any thread: Call runs on the main thread, unless this object has gone
  // (or Abandon was called) by then.
  void Post(TMainThreadQueue::TCall Call);
  // From now on nothing reaches the queue any more.
  void Abandon();

private:
  struct THub;
  std::shared_ptr<THub> FHub;
};

// The looks of the backup starts: at most one look per destination at a
// time, shared by every start that asks while it runs. A look that has not
// answered within Timeout of its start is given up on: the starts that
// wait for it go on without its verdict, and a later start gets none for
// that destination (not ready) until it has answered, instead of piling up
// threads on a dead mount. Main thread only.
class TDestinationProbes {
public:
  // The verdict for each destination asked for; none when its look did not
  // answer in time.
  using TVerdicts = std::map<std::string, std::optional<TDestinationVerdict>>;
  using TAnswer = std::function<void(const TVerdicts& Verdicts)>;

  TDestinationProbes(TMainThreadQueue& Queue, TDestinationProbe Probe, std::shared_ptr<const TVolumes> Volumes,
                     std::chrono::milliseconds Timeout);
  // Returns at once: looks still out end on their own and post nothing.
  ~TDestinationProbes();
  TDestinationProbes(const TDestinationProbes&) = delete;
  TDestinationProbes& operator=(const TDestinationProbes&) = delete;

  // Looks at Dests (a look already out for one of them is shared). Answer
  // runs once, on the main thread through the queue and never inside this
  // call, when each look has answered or has been given up on.
  void Look(const std::vector<std::string>& Dests, TAnswer Answer);
  // Looks that have not answered yet, also those given up on.
  std::size_t Running() const { return FLooks.size(); }
  // Whether a Look's answer is still to come.
  bool Waiting() const { return !FRounds.empty(); }
  // No answer comes any more (the owner goes); looks still out end on their
  // own.
  void Abandon();

private:
  struct TSlot;
  struct TRunning {
    std::shared_ptr<TSlot> Slot;
    bool GivenUp = false;
    std::jthread Timer;  // posts when the look's time is up
  };
  struct TRound {
    std::map<std::string, std::shared_ptr<TSlot>> Looks;  // null: given up on before this round
    TAnswer Answer;
  };
  TRunning& StartLook(const std::string& Dest);
  void Answered(const std::string& Dest, const std::shared_ptr<TSlot>& Slot);
  void TimeUp(const std::string& Dest, const std::shared_ptr<TSlot>& Slot);
  bool Settled(const TRound& Round) const;
  // Answers every round whose looks have all answered or been given up on.
  void AnswerSettled();

  TDetachedLooks FThreads;
  TDestinationProbe FProbe;
  std::shared_ptr<const TVolumes> FVolumes;
  std::chrono::milliseconds FTimeout;
  std::map<std::string, TRunning> FLooks;  // by destination
  std::map<int, TRound> FRounds;
  int FNextRound = 0;
};

}  // namespace dz
