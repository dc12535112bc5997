// The entry monitor: the watchers of the monitored directories, the walks
// for changes they did not report, and turning both into the pending files
// of each entry.

#include "watchdog/EntryMonitor.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <string_view>
#include <utility>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "filesys/XlFileUtils.h"
#include "platform/Volumes.h"
#include "platform/SysError.h"
#include "watchdog/LogLines.h"
#include "watchdog/DisplayTexts.h"

namespace dz {

namespace {

// File systems keep their times coarser than the clock, and a little behind
// it: files stamped up to this long before the moment from which changes
// were lost still count as possibly unreported.
constexpr std::chrono::seconds RescanSlack{1};


TFileTime FileTimeOf(std::chrono::system_clock::time_point Time) {
  const auto Ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(Time.time_since_epoch()).count() / 100;
  return FileTimeOfUnixEpoch + Ticks;
}

}  // namespace

TEntryMonitor::TEntryMonitor(TMainThreadQueue& Queue, TMonTaskList& Entries, TEntryMonitorSetup Setup,
                             TEntryMonitorEvents Events)
    : FQueue(Queue), FEntries(Entries), FSetup(std::move(Setup)), FEvents(std::move(Events)), FReturnLooks(Queue) {}

TEntryMonitor::~TEntryMonitor() { Close(); }

void TEntryMonitor::Close() {
  // The watchers and the walks go first: their calls come into this object.
  // Looks for entries that wait keep running; they no longer post.
  FReturnLooks.Abandon();
  FWatches.clear();
  FEndedWatches.clear();
  FScans.clear();
  FLife.reset();
  FActive = false;
}

void TEntryMonitor::Changed(std::size_t Index) const {
  if (FEvents.EntryChanged)
    FEvents.EntryChanged(Index);
}

void TEntryMonitor::PendingChanged(std::size_t Index) const {
  if (FEvents.PendingChanged)
    FEvents.PendingChanged(Index);
}

void TEntryMonitor::LogScanError(std::size_t Index, int ErrorCode) const {
  Log(ErrorLine(EntryLine(Index, SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"),
                                            EscapeControls(FEntries[Index]->Dir), PlatformErrorText(ErrorCode),
                                            ErrorCode))));
}

void TEntryMonitor::Log(const std::string& Line) const {
  if (FEvents.LogLine)
    FEvents.LogLine(Line);
}

// --- starting and stopping ------------------------------------------------------

void TEntryMonitor::Start(std::optional<std::chrono::system_clock::time_point> CatchUpSince) {
  FActive = true;
  for (std::size_t I = 0; I < FEntries.size(); ++I) {
    TMonTask& Task = *FEntries[I];
    ResetCollection(Task);
    Task.MissingSince.reset();
    if (Task.MonStatus != mtEnabled)
      continue;
    if (Task.Unavailable.empty() && !XlDirectoryExists(Task.Dir))
      Task.Unavailable = SafeFormat(Tr("Directory \"%s\" not found!"), EscapeControls(Task.Dir));
    if (!Task.Unavailable.empty()) {
      MarkUnavailable(I, Task.Unavailable);
      continue;
    }
    LearnDestination(I);
    StartWatcher(I);
  }
  // Changes made while nothing watched (a crash, the time before the
  // start at logon) would otherwise wait until the file changes again.
  if (!CatchUpSince)
    return;
  for (std::size_t I = 0; I < FEntries.size(); ++I)
    if (Watched(I))
      StartScan(I, FileTimeOf(*CatchUpSince), &TEntryMonitor::CatchUpFound);
}

// The watchers start on threads of their own: the system side walks the
// whole tree and adds a watch per directory, seconds for a large one. The
// watcher object is made here and stays on the main thread; only its
// backend's start runs on the watcher's starter thread (DirectoryWatch.h).
// It is the entry's watcher from now on, so that what it reports while it
// starts is collected.
void TEntryMonitor::StartWatcher(std::size_t Index) {
  TMonTask& Task = *FEntries[Index];
  const int Id = static_cast<int>(Index + 1);
  auto Watch = std::make_shared<TDirectoryWatch>(Id, FQueue, FSetup.WatchBackend);
  Watch->SetDirectory(Task.Dir);
  Watch->SetWatchSubTree(true);
  Watch->SetWatchActions(AllWatchActions);
  Watch->SetWatchOptions(Task.Watches);
  Watch->OnBatch = [this, Id](TDirectoryWatch& Sender, const std::vector<TWatchChange>& Batch,
                              TDirWatchClock::time_point ReadTime) { BatchReported(Sender, Id, Batch, ReadTime); };
  // Without this a lost burst of changes would simply never be backed up.
  Watch->OnError = [this](TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage,
                          TDirWatchClock::time_point Since) { WatchError(Sender, ErrorCode, ErrorMessage, Since); };
  Watch->OnStarted = [this](TDirectoryWatch& Sender, const std::string& ErrorMessage) {
    WatcherStarted(Sender, ErrorMessage);
  };
  try {
    Watch->StartInBackground();
  } catch (const std::exception& E) {
    LogCannotMonitor(Index, E.what());
    return;
  }
  FWatches[&Task] = std::move(Watch);
}

void TEntryMonitor::WatcherStarted(TDirectoryWatch& Sender, const std::string& ErrorMessage) {
  TMonTask* Task = WatchedTask(Sender, Sender.Id());
  if (Task == nullptr)
    return;
  const std::size_t Index = static_cast<std::size_t>(Sender.Id()) - 1;
  if (!ErrorMessage.empty()) {
    LogCannotMonitor(Index, ErrorMessage);
    FWatches.erase(Task);  // the watcher, Sender, ends here
  }
  Changed(Index);
}

void TEntryMonitor::LogCannotMonitor(std::size_t Index, const std::string& Reason) {
  // The directory was there a moment ago. Its pending files still count
  // and still get their backup; only new changes go unseen, so the user
  // has to learn of it, and the other directories are watched all the
  // same.
  Log(ErrorLine(EntryLine(Index, SafeFormat(Tr("Directory \"%s\" cannot be monitored: %s"),
                                            EscapeControls(FEntries[Index]->Dir), EscapeControls(Reason)))));
}

void TEntryMonitor::MarkUnavailable(std::size_t Index, std::string Reason) {
  TMonTask& Task = *FEntries[Index];
  Task.Unavailable = std::move(Reason);
  Log(ErrorLine(EntryLine(Index, Task.Unavailable + " " +
      Tr("It is monitored again as soon as it is back."))));
}

void TEntryMonitor::LookForReturns() {
  for (std::size_t I = 0; I < FEntries.size(); ++I) {
    TMonTask& Task = *FEntries[I];
    if (Task.MonStatus != mtEnabled || Task.Unavailable.empty() || Task.ReturnLookOut || Watched(I))
      continue;
    Task.ReturnLookOut = true;
    FReturnLooks.Start([this, I, Entry = &Task, TaskFile = Task.BuTask, Dir = Task.Dir,
                        There = FSetup.SourceThere]() -> TMainThreadQueue::TCall {
      bool Back = false;
      try {
        Back = There && There(TaskFile, Dir);
      } catch (...) {
        Back = false;
      }
      return [this, I, Entry, Back] {
        if (I >= FEntries.size() || FEntries[I].get() != Entry)
          return;
        Entry->ReturnLookOut = false;
        if (Back && FEvents.EntryBack)
          FEvents.EntryBack(I);
      };
    });
  }
}

void TEntryMonitor::ResetCollection(TMonTask& Task) {
  Task.ResetCollection();
  Task.MonFilter.DestDirs.Clear();
}

void TEntryMonitor::LearnDestination(std::size_t Index) {
  TMonTask& Task = *FEntries[Index];
  // A destination in the directory, as the task writes it, is known before
  // anything is collected; one that lies there only through a volume label
  // or a link is found when a backup starts (its file system is looked at
  // off the main thread only).
  if (ResolvePartialPath(Task.Dir, Task.ResolvedDir) != 0)
    Task.ResolvedDir.clear();
  NoteDestination(Index, Task.DestDir);
}

void TEntryMonitor::NoteDestination(std::size_t Index, const std::string& Dest) {
  TMonTask& Task = *FEntries[Index];
  if (!Task.NoteDestination(Dest) || !Task.FirstDestinationReport())
    return;
  Log(DestinationLine(EntryLine(
      Index, SafeFormat(Tr("The backup destination \"%s\" lies in the monitored directory \"%s\": changes there "
                           "are not backed up. Choose a destination outside it in the backup task."),
                        EscapeControls(Task.DestDir), EscapeControls(Task.Dir)))));
}

void TEntryMonitor::Resume(std::size_t Index, std::optional<std::chrono::system_clock::time_point> Since) {
  TMonTask& Task = *FEntries[Index];
  ResetCollection(Task);
  LearnDestination(Index);
  Log(EntryLine(Index, SafeFormat(Tr("Directory \"%s\" is there again and is monitored."), EscapeControls(Task.Dir))));
  StartWatcher(Index);
  if (Task.MissingSince)
    Since = *Task.MissingSince - RescanSlack;
  Task.MissingSince.reset();
  if (Since && Watched(Index))
    StartScan(Index, FileTimeOf(*Since), &TEntryMonitor::CatchUpFound);
}

bool TEntryMonitor::Starting() const {
  return std::any_of(FWatches.begin(), FWatches.end(), [](const auto& Watch) { return Watch.second->Starting(); });
}

const TDirectoryWatch* TEntryMonitor::Watcher(std::size_t Index) const {
  if (Index >= FEntries.size())
    return nullptr;
  const auto It = FWatches.find(FEntries[Index].get());
  return It == FWatches.end() ? nullptr : It->second.get();
}

std::optional<std::chrono::system_clock::time_point> TEntryMonitor::CollectedUntil(
    std::optional<std::chrono::system_clock::time_point> Otherwise) const {
  std::optional<std::chrono::system_clock::time_point> Until = Otherwise;
  if (FActive && FScansPending == 0 && !Starting())
    Until = FSetup.Clock();
  for (const auto& Task : FEntries)
    if (Task->MissingSince && (!Until || *Task->MissingSince < *Until))
      Until = *Task->MissingSince;
  return Until;
}

void TEntryMonitor::Stop() {
  for (const auto& Watch : FWatches) Watch.second->Stop();
  // What the watchers read before they stopped still waits in the queue: it
  // belongs to the pending files, and releasing the watchers would drop it.
  // The walks end with their results in the queue too; a lost burst among
  // the reports starts a walk of its own, which is waited for as well.
  if (!FWatches.empty() || FActive) {
    do {
      FScans.clear();
      FQueue.ProcessPending();
    } while (!FScans.empty());
  } else {
    FScans.clear();
  }
  FRescans.clear();
}

void TEntryMonitor::Release() {
  FWatches.clear();
  FEndedWatches.clear();
  FActive = false;
}

// --- changes made while nothing watched ---------------------------------------------

void TEntryMonitor::StartScan(std::size_t Index, TFileTime Since, TScanFound Found) {
  const TMonTask& Task = *FEntries[Index];
  std::weak_ptr<int> Life = FLife;
  const int Id = FNextScan++;
  ++FScansPending;
  // The walk gets copies: the entry may change while it runs.
  FScans.emplace(Id, std::jthread([this, Life, Id, Index, Found, Task = &Task, Dir = Task.Dir,
                                   Filter = Task.MonFilter, Since, Scan = FSetup.ScanTree] {
    std::vector<std::string> Files;
    int E = 0;
    try {
      E = Scan(Dir, Filter, Since, Files);
    } catch (const std::bad_alloc&) {
      Files.clear();
      E = ErrNotEnoughMemory;
    }
    FQueue.Post([this, Life, Id, Index, Found, Task, E, Files = std::move(Files)]() mutable {
      if (Life.expired())
        return;
      --FScansPending;
      FScans.erase(Id);  // its thread has nothing left to do but end
      (this->*Found)(Index, Task, E, std::move(Files));
    });
  }));
}

bool TEntryMonitor::StillWatched(std::size_t Index, const TMonTask* Task) const {
  return Index < FEntries.size() && FEntries[Index].get() == Task && Watched(Index);
}

void TEntryMonitor::CatchUpFound(std::size_t Index, const TMonTask* Task, int ErrorCode,
                                 std::vector<std::string> Files) {
  if (!StillWatched(Index, Task))
    return;
  TMonTask& Entry = *FEntries[Index];
  if (ErrorCode != 0) {
    LogScanError(Index, ErrorCode);
  } else if (const std::size_t Added = Entry.AddPending(Files); Added > 0) {
    Log(EntryLine(Index,
                  SafeFormat(Tr("%s in \"%s\" changed while they were not watched; they wait for the next backup."),
                             FileCountText(static_cast<std::int64_t>(Added)), EscapeControls(Entry.Dir))));
    PendingChanged(Index);
  }
}

// --- the watchers' reports --------------------------------------------------------

TMonTask* TEntryMonitor::WatchedTask(const TDirectoryWatch& Sender, int ChgNotId) {
  if (ChgNotId <= 0 || static_cast<std::size_t>(ChgNotId) > FEntries.size())
    return nullptr;
  const std::size_t Index = static_cast<std::size_t>(ChgNotId) - 1;
  // A report of a watcher that is no longer the entry's own is stale: the
  // entry's files are no longer counted for it.
  return Watcher(Index) == &Sender ? FEntries[Index].get() : nullptr;
}

void TEntryMonitor::BatchReported(const TDirectoryWatch& Sender, int ChgNotId, const std::vector<TWatchChange>& Batch,
                                  std::chrono::system_clock::time_point /*ReadTime*/) {
  TMonTask* Task = WatchedTask(Sender, ChgNotId);
  if (Task == nullptr)
    return;
  Task->ApplyChanges(Batch);
  PendingChanged(static_cast<std::size_t>(ChgNotId) - 1);
}

void TEntryMonitor::WatchError(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage,
                               std::chrono::system_clock::time_point Since) {
  TMonTask* Task = WatchedTask(Sender, Sender.Id());
  if (Task == nullptr)
    return;
  const std::size_t Index = static_cast<std::size_t>(Sender.Id()) - 1;
  if (ErrorCode == ErrNotifyEnumDir) {
    // The report may have waited in the queue for long (a busy or modal
    // window): the time it carries, not the time it is handled, says from
    // when changes went unreported.
    RescanAfterLostChanges(Index, Since);
    return;
  }
  if (ErrorCode == ErrNotEnoughQuota) {
    // Reported again for every directory that cannot be watched; one line,
    // with the system's text that says which limit to raise and how, is
    // enough.
    if (!Task->FirstLimitReport())
      return;
    Log(ErrorLine(EntryLine(Index, SafeFormat(Tr("Directory \"%s\" is watched only in part: %s"),
                                              EscapeControls(Task->Dir), EscapeControls(ErrorMessage)) +
                                       " " + Tr("Start monitoring again once the limit is raised."))));
    return;
  }
  if (ErrorCode == ErrFileNotFound || ErrorCode == ErrNotReady) {
    // The directory was deleted, renamed away or unmounted: its watcher has
    // ended. Its pending files wait (looked for under the old name now they
    // would be given up as not found), and it is watched again when a
    // directory is at its path once more, as after a folder swap.
    Task->MissingSince = Since;
    const auto Watch = FWatches.find(Task);
    FEndedWatches.push_back(std::move(Watch->second));  // not inside its own report
    FWatches.erase(Watch);
    MarkUnavailable(Index, SafeFormat(Tr("Directory \"%s\" is no longer there: %s"), EscapeControls(Task->Dir),
                                      EscapeControls(ErrorMessage)));
    Changed(Index);
    return;
  }
  Log(ErrorLine(EntryLine(Index, SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"), EscapeControls(Task->Dir),
                 EscapeControls(ErrorMessage), ErrorCode))));
}

void TEntryMonitor::RescanAfterLostChanges(std::size_t Index, std::chrono::system_clock::time_point LostSince) {
  const TFileTime Since = FileTimeOf(LostSince - RescanSlack);
  // Overflows come in bursts: while a walk of the tree runs, the losses
  // after it wait for one more walk from the earliest of them, instead of
  // piling up walks of one tree.
  const auto [Running, New] = FRescans.try_emplace(FEntries[Index].get());
  if (!New) {
    Running->second = std::min(Running->second.value_or(Since), Since);
    return;
  }
  StartScan(Index, Since, &TEntryMonitor::RescanFound);
}

void TEntryMonitor::RescanFound(std::size_t Index, const TMonTask* Task, int ErrorCode,
                                std::vector<std::string> Files) {
  std::optional<TFileTime> Again;
  if (const auto It = FRescans.find(Task); It != FRescans.end()) {
    Again = It->second;
    FRescans.erase(It);
  }
  if (!StillWatched(Index, Task))
    return;
  TMonTask& Entry = *FEntries[Index];
  if (Again) {
    FRescans.emplace(Task, std::nullopt);
    StartScan(Index, *Again, &TEntryMonitor::RescanFound);
  }
  if (ErrorCode != 0) {
    // The directory itself is gone or closed to us: nothing was scanned.
    LogScanError(Index, ErrorCode);
    return;
  }
  const std::size_t Added = Entry.AddPending(Files);
  Log(EntryLine(Index, SafeFormat(Tr("More changes in \"%s\" than the system could report at once: the directory "
                                     "was scanned again, %u changed files were added."),
                                  EscapeControls(Entry.Dir), static_cast<std::uint64_t>(Added))));
  Changed(Index);
}

}  // namespace dz
