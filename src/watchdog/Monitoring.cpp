// Monitoring: starting and stopping the directory watchers, and turning
// their reports into the pending files of each monitored directory.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "filters/TextFilter.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "platform/Volumes.h"
#include "settings/ProgramLocations.h"
#include "watchdog/Watchdog.h"

namespace dz {

namespace {

// File systems keep their times coarser than the clock, and a little behind
// it: files stamped up to this long before the moment from which changes
// were lost still count as possibly unreported.
constexpr std::chrono::seconds RescanSlack{1};

// The "  *** " in front of an error line lets the log viewer step to it.
constexpr std::string_view ErrorMarker = "  *** ";

TFileTime FileTimeOf(std::chrono::system_clock::time_point Time) {
  const auto Ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(Time.time_since_epoch()).count() / 100;
  return FileTimeOfUnixEpoch + Ticks;
}

}  // namespace

// --- change collection ----------------------------------------------------------

std::string FileCountText(std::int64_t Count) {
  if (Count == 0)
    return Tr("No files");
  if (Count == 1)
    return Tr("1 file");
  std::string Format = Tr("%u files");
  if (Count > 9999) {
    // The translation decides where the number stands; the grouped digits
    // take the place of its placeholder.
    if (const std::size_t At = Format.find("%u"); At != std::string::npos)
      return SafeFormat(Format.replace(At, 2, "%s"), FormatGrouped(Count, 3));
  }
  return SafeFormat(Format, static_cast<std::uint64_t>(Count));
}

// --- starting and stopping ------------------------------------------------------

bool TWatchdog::StartMonitoring() {
  if (FMonitoring)
    return true;
  for (const auto& Task : FMonTasks) {
    if (Task->MonStatus != mtEnabled)
      continue;
    const TTaskCheck Check = CheckTaskFile(Task->BuTask);
    if (Check == tcNotFound) {
      // Its disk may not be mounted yet: the entry waits for it.
      Task->Unavailable = Tr("Task not found") + ": " + EscapeControls(Task->BuTask);
    } else if (Check != tcUsable) {
      Task->MonStatus = mtInvalid;
      AddLogLine(SafeFormat(Tr("The backup task \"%s\" has invalid settings!"), EscapeControls(Task->BuTask)));
    } else {
      Task->Unavailable.clear();
      if (ReadTaskSettings(*Task, FSetup.TaskDefaults, *this) != 0 && Task->Unavailable.empty())
        Task->MonStatus = mtInvalid;
    }
  }
  if (std::none_of(FMonTasks.begin(), FMonTasks.end(), [](const auto& T) { return T->MonStatus == mtEnabled; })) {
    PublishState();
    FView.ShowMessage(Tr("Please specify at least one directory to be monitored!"));
    return false;
  }

  FScheduler.Start(GetIntervalSeconds());
  FTbStatus = tbsOff;
  FMonitoring = true;
  FTicksToReturnLook = FSetup.ReturnLookTicks;
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    TMonTask& Task = *FMonTasks[I];
    Task.ResetCollection();
    // A destination in the directory, as the task writes it, is known before
    // anything is collected; one that lies there only through a volume label
    // or a link is found when a backup starts (its file system is looked at
    // off the main thread only).
    Task.MonFilter.DestDirs.Clear();
    Task.MissingSince.reset();
    if (Task.MonStatus != mtEnabled)
      continue;
    if (Task.Unavailable.empty() && !XlDirectoryExists(Task.Dir))
      Task.Unavailable = SafeFormat(Tr("Directory \"%s\" not found!"), EscapeControls(Task.Dir));
    if (!Task.Unavailable.empty()) {
      MarkUnavailable(I, Task.Unavailable);
      continue;
    }
    if (ResolvePath(std::string_view(Task.Dir), Task.ResolvedDir) != 0)
      Task.ResolvedDir.clear();
    NoteDestination(I, Task.DestDir);
    StartWatcher(I);
  }
  // Changes made while nothing watched (a crash, the time before the
  // start at logon) would otherwise wait until the file changes again.
  if (FCollectedUntil)
    StartCatchUp(*FCollectedUntil - FSetup.CatchUpMargin);
  PublishState();
  return true;
}

// The watchers start on threads of their own: the system side walks the
// whole tree and adds a watch per directory, seconds for a large one. The
// watcher object is made here and stays on the main thread; only its
// backend's start runs on the watcher's starter thread (DirectoryWatch.h).
// It is the entry's watcher from now on, so that what it reports while it
// starts is collected.
void TWatchdog::StartWatcher(std::size_t Index) {
  TMonTask& Task = *FMonTasks[Index];
  auto Watch = std::make_shared<TDirectoryWatch>(static_cast<int>(Index + 1), FQueue, FWatchBackend);
  Watch->SetDirectory(Task.Dir);
  Watch->SetWatchSubTree(true);
  Watch->SetWatchActions(AllWatchActions);
  Watch->SetWatchOptions(Task.Watches);
  Watch->OnNotify = [this](TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action, const std::string& FileName) {
    DirectoryChanged(Sender, ChgNotId, Action, FileName);
  };
  // Without this a lost burst of changes would simply never be backed up.
  Watch->OnError = [this](TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage) {
    DirWatchError(Sender, ErrorCode, ErrorMessage);
  };
  Watch->OnStarted = [this](TDirectoryWatch& Sender, const std::string& ErrorMessage) {
    WatcherStarted(Sender, ErrorMessage);
  };
  try {
    Watch->StartInBackground();
  } catch (const std::exception& E) {
    LogCannotMonitor(Index, E.what());
    return;
  }
  Task.DirWatch = std::move(Watch);
}

void TWatchdog::WatcherStarted(TDirectoryWatch& Sender, const std::string& ErrorMessage) {
  TMonTask* Task = WatchedTask(Sender, Sender.Id());
  if (Task == nullptr)
    return;
  if (!ErrorMessage.empty()) {
    LogCannotMonitor(static_cast<std::size_t>(Sender.Id()) - 1, ErrorMessage);
    Task->DirWatch.reset();  // the watcher, Sender, ends here
  }
  PublishState();
}

void TWatchdog::LogCannotMonitor(std::size_t Index, const std::string& Reason) {
  // The directory was there a moment ago. Its pending files still count
  // and still get their backup; only new changes go unseen, so the user
  // has to learn of it, and the other directories are watched all the
  // same.
  AddLogLine(std::string(ErrorMarker) + ListPosition(Index) + ": " +
             SafeFormat(Tr("Directory \"%s\" cannot be monitored: %s"), EscapeControls(FMonTasks[Index]->Dir),
                        EscapeControls(Reason)));
}

void TWatchdog::MarkUnavailable(std::size_t Index, std::string Reason) {
  TMonTask& Task = *FMonTasks[Index];
  Task.Unavailable = std::move(Reason);
  AddLogLine(std::string(ErrorMarker) + ListPosition(Index) + ": " + Task.Unavailable + " " +
             Tr("It is monitored again as soon as it is back."));
}

void TWatchdog::TakeUpAgain(std::size_t Index) {
  TMonTask& Task = *FMonTasks[Index];
  Task.Unavailable.clear();
  if (CheckTaskFile(Task.BuTask) != tcUsable) {
    Task.MonStatus = mtInvalid;
    AddLogLine(SafeFormat(Tr("The backup task \"%s\" has invalid settings!"), EscapeControls(Task.BuTask)));
  } else if (ReadTaskSettings(Task, FSetup.TaskDefaults, *this) != 0) {
    if (Task.Unavailable.empty())
      Task.MonStatus = mtInvalid;  // a fault of the task: the user mends it
  }
  if (!Task.Usable()) {
    PublishState();
    return;
  }
  Task.ResetCollection();
  Task.MonFilter.DestDirs.Clear();
  if (ResolvePath(std::string_view(Task.Dir), Task.ResolvedDir) != 0)
    Task.ResolvedDir.clear();
  NoteDestination(Index, Task.DestDir);
  AddLogLine(ListPosition(Index) + ": " +
             SafeFormat(Tr("Directory \"%s\" is there again and is monitored."), EscapeControls(Task.Dir)));
  StartWatcher(Index);
  // What changed while it was away: from when it went, or from the last
  // save for one that was missing from the start.
  std::optional<std::chrono::system_clock::time_point> Since;
  if (Task.MissingSince)
    Since = *Task.MissingSince - RescanSlack;
  else if (FCollectedUntil)
    Since = *FCollectedUntil - FSetup.CatchUpMargin;
  Task.MissingSince.reset();
  if (Since && Task.DirWatch)
    StartScan(Index, FileTimeOf(*Since), &TWatchdog::CatchUpFound);
  PublishState();
}

bool TWatchdog::WatchersStarting() const {
  return std::any_of(FMonTasks.begin(), FMonTasks.end(),
                     [](const auto& Task) { return Task->DirWatch && Task->DirWatch->Starting(); });
}

void TWatchdog::StopMonitoring() {
  bool Watched = false;
  for (const auto& Task : FMonTasks) {
    if (Task->DirWatch) {
      Task->DirWatch->Stop();
      Watched = true;
    }
  }
  // What the watchers read before they stopped still waits in the queue: it
  // belongs to the pending files, and releasing the watchers would drop it.
  // The scans end with their results in the queue too; a lost burst among
  // the reports starts a rescan of its own, which is waited for as well.
  if (Watched || FMonitoring) {
    do {
      FScans.clear();
      FQueue.ProcessPending();
    } while (!FScans.empty());
  } else {
    FScans.clear();
  }
  FRescans.clear();
  if (FMonitoring)
    FCollectedUntil = FSetup.Clock();
  // A directory that went away is looked at from when it went at the next
  // start.
  for (const auto& Task : FMonTasks)
    if (Task->MissingSince && (!FCollectedUntil || *Task->MissingSince < *FCollectedUntil))
      FCollectedUntil = *Task->MissingSince;
  // The last backup of everything pending, and the end of any backup that
  // still runs.
  if (FileCount() > 0 || FRunner.AnyRunning())
    RunBackups(true);
  for (const auto& Task : FMonTasks) Task->DirWatch.reset();
  FEndedWatches.clear();
  FMonitoring = false;
  FScheduler.Stop();
  FTbStatus = tbsOff;
  if (!FMonTasks.empty() && (FSelected < 0 || static_cast<std::size_t>(FSelected) >= FMonTasks.size()))
    FSelected = 0;
  PublishState();
}

// --- changes made before the start -----------------------------------------------

void TWatchdog::StartScan(std::size_t Index, TFileTime Since, TScanFound Found) {
  const TMonTask& Task = *FMonTasks[Index];
  std::weak_ptr<int> Life = FLife;
  const int Id = FNextScan++;
  ++FScansPending;
  // The scan gets copies: the entry may change while it runs.
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

void TWatchdog::StartCatchUp(std::chrono::system_clock::time_point Since) {
  for (std::size_t I = 0; I < FMonTasks.size(); ++I)
    if (FMonTasks[I]->DirWatch)
      StartScan(I, FileTimeOf(Since), &TWatchdog::CatchUpFound);
}

void TWatchdog::CatchUpFound(std::size_t Index, const TMonTask* Task, int ErrorCode, std::vector<std::string> Files) {
  // The entry may have gone or moved, and monitoring may have stopped.
  if (Index >= FMonTasks.size() || FMonTasks[Index].get() != Task || !Task->DirWatch)
    return;
  TMonTask& Entry = *FMonTasks[Index];
  if (ErrorCode != 0) {
    AddLogLine(std::string(ErrorMarker) + ListPosition(Index) + ": " +
               SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"), EscapeControls(Entry.Dir),
                          PlatformErrorText(ErrorCode), ErrorCode));
  } else if (const std::size_t Added = Entry.AddPending(Files); Added > 0) {
    AddLogLine(ListPosition(Index) + ": " +
               SafeFormat(Tr("%s in \"%s\" changed while they were not watched; they wait for the next backup."),
                          FileCountText(static_cast<std::int64_t>(Added)), EscapeControls(Entry.Dir)));
  }
  StateMayHaveChanged();
}

// --- the watchers' reports --------------------------------------------------------

TMonTask* TWatchdog::WatchedTask(const TDirectoryWatch& Sender, int ChgNotId) {
  if (ChgNotId <= 0 || static_cast<std::size_t>(ChgNotId) > FMonTasks.size())
    return nullptr;
  TMonTask& Task = *FMonTasks[static_cast<std::size_t>(ChgNotId) - 1];
  // A report of a watcher that is no longer the entry's own is stale: the
  // entry's files are no longer counted for it.
  return Task.DirWatch.get() == &Sender ? &Task : nullptr;
}

void TWatchdog::DirectoryChanged(TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action,
                                 const std::string& FileName) {
  if (TMonTask* Task = WatchedTask(Sender, ChgNotId))
    Task->DirectoryChanged(Action, FileName);
  StateMayHaveChanged();
}

void TWatchdog::DirWatchError(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage) {
  TMonTask* Task = WatchedTask(Sender, Sender.Id());
  if (Task == nullptr)
    return;
  const std::size_t Index = static_cast<std::size_t>(Sender.Id()) - 1;
  if (ErrorCode == ErrNotifyEnumDir) {
    // The report may have waited in the queue for long (a busy or modal
    // window): the time it carries, not the time it is handled, says from
    // when changes went unreported.
    RescanAfterLostChanges(Index, Sender.ReportTime());
    return;
  }
  if (ErrorCode == ErrNotEnoughQuota) {
    // Reported again for every directory that cannot be watched; one line,
    // with the system's text that says which limit to raise and how, is
    // enough.
    if (!Task->FirstLimitReport())
      return;
    AddLogLine(std::string(ErrorMarker) + ListPosition(Index) + ": " +
               SafeFormat(Tr("Directory \"%s\" is watched only in part: %s"), EscapeControls(Task->Dir),
                          EscapeControls(ErrorMessage)) + " " +
               Tr("Start monitoring again once the limit is raised."));
    return;
  }
  if (ErrorCode == ErrFileNotFound || ErrorCode == ErrNotReady) {
    // The directory was deleted, renamed away or unmounted: its watcher has
    // ended. Its pending files wait (looked for under the old name now they
    // would be given up as not found), and it is watched again when a
    // directory is at its path once more, as after a folder swap.
    Task->MissingSince = Sender.ReportTime();
    FEndedWatches.push_back(std::move(Task->DirWatch));  // not inside its own report
    MarkUnavailable(Index, SafeFormat(Tr("Directory \"%s\" is no longer there: %s"), EscapeControls(Task->Dir),
                                      EscapeControls(ErrorMessage)));
    PublishState();
    return;
  }
  AddLogLine(std::string(ErrorMarker) + ListPosition(Index) + ": " +
             SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"), EscapeControls(Task->Dir),
                        EscapeControls(ErrorMessage), ErrorCode));
}

void TWatchdog::RescanAfterLostChanges(std::size_t Index, std::chrono::system_clock::time_point LostSince) {
  const TFileTime Since = FileTimeOf(LostSince - RescanSlack);
  // Overflows come in bursts: while a walk of the tree runs, the losses
  // after it wait for one more walk from the earliest of them, instead of
  // piling up walks of one tree.
  const auto [Running, New] = FRescans.try_emplace(FMonTasks[Index].get());
  if (!New) {
    Running->second = std::min(Running->second.value_or(Since), Since);
    return;
  }
  StartScan(Index, Since, &TWatchdog::RescanFound);
}

void TWatchdog::RescanFound(std::size_t Index, const TMonTask* Task, int ErrorCode, std::vector<std::string> Files) {
  std::optional<TFileTime> Again;
  if (const auto It = FRescans.find(Task); It != FRescans.end()) {
    Again = It->second;
    FRescans.erase(It);
  }
  // The entry may have gone or moved, and monitoring may have stopped.
  if (Index >= FMonTasks.size() || FMonTasks[Index].get() != Task || !Task->DirWatch)
    return;
  TMonTask& Entry = *FMonTasks[Index];
  if (Again) {
    FRescans.emplace(Task, std::nullopt);
    StartScan(Index, *Again, &TWatchdog::RescanFound);
  }
  if (ErrorCode != 0) {
    // The directory itself is gone or closed to us: nothing was scanned.
    AddLogLine(std::string(ErrorMarker) + ListPosition(Index) + ": " +
               SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"), EscapeControls(Entry.Dir),
                          PlatformErrorText(ErrorCode), ErrorCode));
    return;
  }
  const std::size_t Added = Entry.AddPending(Files);
  AddLogLine(ListPosition(Index) + ": " +
             SafeFormat(Tr("More changes in \"%s\" than the system could report at once: the directory was "
                           "scanned again, %u changed files were added."),
                        EscapeControls(Entry.Dir), static_cast<std::uint64_t>(Added)));
  PublishState();
}

}  // namespace dz
