#pragma once
// The entry monitor: one directory watcher per watched entry of the list,
// the look for changes made before monitoring started (the catch-up), the
// walks of a tree after its watcher lost changes, and how long each of them
// lives. Each watcher hands its batches, with the time they were read, to a
// handler bound to its entry, which applies them to the entry's pending
// files. The controller (TWatchdog) decides which entries are watched; it
// learns through the events below when what it shows of an entry is out of
// date and which lines go to the log. Main thread only: the watchers' and
// the walks' results come through the main-thread queue.

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
#include "watchdog/DestinationProbes.h"
#include "dirwatch/DirectoryWatch.h"
#include "watchdog/MonTask.h"

namespace dz {

// The wall clock; tests step their own.
using TWatchdogClock = std::function<std::chrono::system_clock::time_point()>;

// The walk of a monitored tree for changed files (ScanChangedFiles); runs
// on a thread of its own.
using TTreeScan = std::function<int(const std::string& Dir, const TMonFilter& Filter, TFileTime Since,
                                    std::vector<std::string>& Files)>;

// The list of monitored directories, in settings-file order; the
// controller's, which adds and removes entries only while monitoring is off.
using TMonTaskList = std::vector<std::unique_ptr<TMonTask>>;

struct TEntryMonitorSetup {
  TDirWatchBackendFactory WatchBackend = CreateSystemDirWatchBackend;  // a fake in tests
  TTreeScan ScanTree = ScanChangedFiles;
  TWatchdogClock Clock = [] { return std::chrono::system_clock::now(); };
  // The look whether an entry that waits is there again: true when its task
  // file and its directory both exist. Runs on a thread of its own.
  std::function<bool(const std::string& TaskFile, const std::string& Dir)> SourceThere;
};

struct TEntryMonitorEvents {
  // Entry Index's pending files have changed through its watcher's reports
  // or the walk at the start: these come in bursts, and what is shown of the
  // entry may follow once for many of them.
  std::function<void(std::size_t Index)> PendingChanged;
  // Whether entry Index is watched has changed (its watcher started, or
  // ended with its directory), or a walk after lost changes has added its
  // files: what is shown of it is out of date now.
  std::function<void(std::size_t Index)> EntryChanged;
  // A line for the log.
  std::function<void(const std::string& Line)> LogLine;
  // The task file and the directory of entry Index, which waited for them,
  // have been found again (see LookForReturns).
  std::function<void(std::size_t Index)> EntryBack;
};

class TEntryMonitor {
public:
  TEntryMonitor(TMainThreadQueue& Queue, TMonTaskList& Entries, TEntryMonitorSetup Setup, TEntryMonitorEvents Events);
  TEntryMonitor(const TEntryMonitor&) = delete;
  TEntryMonitor& operator=(const TEntryMonitor&) = delete;
  ~TEntryMonitor();

  // Starts collecting afresh for every entry, and a watcher for each
  // enabled one whose task was found and whose directory exists (the others
  // are marked unavailable), without waiting for the watchers (each starts
  // on a thread of its own; what it reports meanwhile is collected); then,
  // with CatchUpSince, looks off the main thread for the files of every
  // watched entry changed from then on, which join its pending files.
  void Start(std::optional<std::chrono::system_clock::time_point> CatchUpSince);
  // Entry Index, checked against its task again, is there again: it is
  // watched, and its changes from when it went (MissingSince) are looked
  // for, else from Since when given.
  void Resume(std::size_t Index, std::optional<std::chrono::system_clock::time_point> Since);
  // Stops every watcher (a start in progress is cancelled) and takes what
  // they reported and what running walks find, also what a lost burst among
  // those reports starts walking for: nothing is left queued for them.
  void Stop();
  // After Stop: lets go of the stopped watchers; monitoring is over.
  void Release();

  // Whether a watcher is still starting.
  bool Starting() const;
  bool Watched(std::size_t Index) const { return Watcher(Index) != nullptr; }
  // Entry Index's watcher (starting, running or stopped), or null.
  const TDirectoryWatch* Watcher(std::size_t Index) const;
  // Until when every change is known to be collected: now between Start
  // and Release, once every watcher has started and no look for older
  // changes is on; else Otherwise (when monitoring stopped, or the time the
  // settings file had). Never later than when a directory went away: it is
  // looked at from then on at the next start, also after a restart.
  std::optional<std::chrono::system_clock::time_point> CollectedUntil(
      std::optional<std::chrono::system_clock::time_point> Otherwise) const;
  // Dest is where entry Index's backups go: when it lies in the monitored
  // directory, changes there are no longer collected; the log says so once
  // per start of monitoring.
  void NoteDestination(std::size_t Index, const std::string& Dest);

  // Entry Index is not watched until its task file and directory are there
  // again; Reason says what is missing.
  void MarkUnavailable(std::size_t Index, std::string Reason);
  // Looks, off the main thread, whether the enabled entries that wait are
  // there again, one look per entry at a time; EntryBack tells of each that
  // is. A look at a share that does not answer may hang for minutes: it is
  // left to end on its own.
  void LookForReturns();
  // Drops every watcher and walk at once; nothing queued for them arrives
  // afterwards (the end of the controller).
  void Close();
  // Watchers whose directory went away are released here (at the tick),
  // not inside their own report.
  void ReleaseEnded() { FEndedWatches.clear(); }

  // The handler bound to each watcher: Batch of Sender, which reports for
  // the entry at list position ChgNotId (from 1), read at ReadTime. Ignored
  // unless Sender is that entry's watcher.
  void BatchReported(const TDirectoryWatch& Sender, int ChgNotId, const std::vector<TWatchChange>& Batch,
                     std::chrono::system_clock::time_point ReadTime);

private:
  using TScanFound = void (TEntryMonitor::*)(std::size_t Index, const TMonTask* Task, int ErrorCode,
                                             std::vector<std::string> Files);
  // The state kept between reports and the destinations found in the
  // directory are forgotten.
  static void ResetCollection(TMonTask& Task);
  // The directory with its links resolved, and the destination in it.
  void LearnDestination(std::size_t Index);
  void StartWatcher(std::size_t Index);
  void WatcherStarted(TDirectoryWatch& Sender, const std::string& ErrorMessage);
  void WatchError(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage,
                  std::chrono::system_clock::time_point Since);
  void LogCannotMonitor(std::size_t Index, const std::string& Reason);
  // Walks entry Index's tree on a thread of its own; Found takes the result
  // on the main thread.
  void StartScan(std::size_t Index, TFileTime Since, TScanFound Found);
  void CatchUpFound(std::size_t Index, const TMonTask* Task, int ErrorCode, std::vector<std::string> Files);
  // After lost changes: collects, off the main thread, every file of the
  // tree that passes the filters and changed from LostSince on (less a
  // little slack).
  void RescanAfterLostChanges(std::size_t Index, std::chrono::system_clock::time_point LostSince);
  void RescanFound(std::size_t Index, const TMonTask* Task, int ErrorCode, std::vector<std::string> Files);
  // The entry Sender reports for (ChgNotId from 1), or null when Sender is
  // not its watcher (any more): its reports are stale.
  TMonTask* WatchedTask(const TDirectoryWatch& Sender, int ChgNotId);
  // Whether the result of a walk for entry Index, Task when it began, still
  // has an entry to go to: it may have gone or moved, and monitoring may
  // have stopped.
  bool StillWatched(std::size_t Index, const TMonTask* Task) const;
  void Changed(std::size_t Index) const;
  void PendingChanged(std::size_t Index) const;
  // A walk of entry Index's tree could not read the directory itself.
  void LogScanError(std::size_t Index, int ErrorCode) const;
  void Log(const std::string& Line) const;

  TMainThreadQueue& FQueue;
  TMonTaskList& FEntries;
  TEntryMonitorSetup FSetup;
  TEntryMonitorEvents FEvents;
  bool FActive = false;  // from Start to Release
  std::map<const TMonTask*, std::shared_ptr<TDirectoryWatch>> FWatches;
  // Watchers whose directory went away: released at the next tick, not
  // inside their own report.
  std::vector<std::shared_ptr<TDirectoryWatch>> FEndedWatches;
  // Walks of the monitored trees (for changes made before monitoring
  // started, and after lost changes); their results come back through the
  // queue while FLife lives.
  std::map<int, std::jthread> FScans;
  int FNextScan = 0;
  int FScansPending = 0;  // walks whose result has not been taken yet
  // The entries whose tree is walked after lost changes, each with the
  // earliest loss since that walk began, for one more walk after it.
  std::map<const TMonTask*, std::optional<TFileTime>> FRescans;
  std::shared_ptr<int> FLife = std::make_shared<int>(0);
  TDetachedLooks FReturnLooks;
};

}  // namespace dz
