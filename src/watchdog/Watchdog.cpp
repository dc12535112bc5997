#include "watchdog/Watchdog.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "base/CaseFold.h"
#include "base/Utf.h"
#include "base/Translate.h"
#include "filesys/ErrorTexts.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "platform/FileIo.h"
#include "base/SafeFormat.h"
#include "filesys/WinDevUtils.h"
#include "filesys/XlFileUtils.h"
#include "settings/MainAppSettings.h"
#include "settings/PathConventions.h"
#include "settings/ProgramLocations.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/BackupThread.h"
#include "watchdog/SettingsGuard.h"

namespace dz {

namespace {

std::string DirItemText(std::size_t Index, const std::string& Dir) {
  return EntryLine(Index, EscapeControls(Dir));
}

std::string TaskNotFoundText(const std::string& TaskFile) {
  return Tr("Task not found") + ": " + EscapeControls(TaskFile);
}

std::string DirNotFoundText(const std::string& Dir) {
  return SafeFormat(Tr("Directory \"%s\" not found!"), EscapeControls(Dir));
}

}  // namespace

// --- the controller -----------------------------------------------------------

TWatchdogSetup StartupWatchdogSetup(const TProgramLocations& Locations) {
  const TMainAppSettings MainApp = ReadMainAppSettings(Locations.SettingsDir, Locations.LanguageCode);
  TWatchdogSetup Setup;
  Setup.IniName = Locations.IniName;
  Setup.UserPath = Locations.UserPath;
  Setup.TaskDefaults = {MainApp.DriveId, MainApp.NoCompress};
  Setup.LogDir = MainApp.LogDir;
  return Setup;
}

TWatchdog::TWatchdog(TWatchdogView& View, TMainThreadQueue& Queue, TWatchdogSetup Setup,
                     TDirWatchBackendFactory WatchBackend)
    : FView(View),
      FQueue(Queue),
      FSetup(std::move(Setup)),
      FMonitor(Queue, FMonTasks, {std::move(WatchBackend), FSetup.ScanTree, FSetup.Clock, FSetup.SourceThere},
               {.PendingChanged = [this](std::size_t) { StateMayHaveChanged(); },
                .EntryChanged = [this](std::size_t) { PublishState(); },
                .LogLine = [this](const std::string& Line) { AddLogLine(Line); },
                .EntryBack = [this](std::size_t Index) { EntryBack(Index); }}),
      FJobDir(DirWithDelimiter(JoinPath(FSetup.UserPath, "ZentApp"))),
      FLogDir(FSetup.LogDir.empty() ? ExtractFileDir(FSetup.IniName) : FSetup.LogDir),
      FInterval(IntervalDisplayFor(DefaultBuInterval)),
      FProbes(Queue, FSetup.ProbeDestination, FSetup.Volumes, FSetup.DestinationProbeTimeout),
      FRunner(Queue, [this](const std::string& Line) { AddLogLine(Line); }, [this] { return TimeText(); }),
      FLogFile([this] { return LocalDateText(FSetup.Clock()); }) {
  const TClientSize Designed = FView.DesignedClientSize();
  FDHeight = Designed.Height;
  FDWidth = Designed.Width;
  FRunner.OnFilesChanged = [this] { StateMayHaveChanged(); };
  PublishState();
}

TWatchdog::~TWatchdog() {
  // The watchers and the scans go first: their calls come into this object.
  // Looks still out keep running; they no longer post, and a start that
  // waits for them does not go on.
  FProbes.Abandon();
  FMonitor.Close();
  FLife.reset();
  // The workers' last lines still come here; what they did not reach stays
  // pending in the settings file written at their start.
  FRunner.RequestStop();
  FRunner.WaitAll();
  FLogFile.Close();
}

std::string TWatchdog::TimeText() const { return LocalDateTimeText(FSetup.Clock()); }

// --- the settings file ---------------------------------------------------------

void TWatchdog::LoadSettings() {
  CheckSettingsFile(FSetup.IniName, FSetup.ProgramName);
  const TWatchdogSettings S = LoadWatchdogSettings(FSetup.IniName);

  TWindowPlacement Placement = FView.GetWindowPlacement();
  Placement.Top = S.Top.value_or(Placement.Top);
  Placement.Left = S.Left.value_or(Placement.Left);
  Placement.ClientHeight = std::max(S.ClientHeight.value_or(Placement.ClientHeight), FDHeight);
  Placement.ClientWidth = S.ClientWidth.value_or(Placement.ClientWidth);
  FView.SetWindowPlacement(Placement);

  FJobDir = S.JobDir.value_or(FJobDir);
  FSysTray = S.SysTray;
  FWriteLog = S.WriteLog;
  FCollectedUntil = S.LastSave;
  for (const TStoredMonTask& Stored : S.MonTasks) {
    auto Entry = std::make_unique<TMonTask>(Stored.BuTask, Stored.Dir);
    // A task on a disk that is not mounted yet is no reason to forget the
    // entry: it waits, with its pending files, until the task is back.
    if (!RegularFileExists(Stored.BuTask))
      Entry->Unavailable = TaskNotFoundText(Stored.BuTask);
    Entry->RetainBak = Stored.RetainBak;
    Entry->MonStatus = Stored.Enabled ? mtEnabled : mtDisabled;
    Entry->FileList.Assign(Stored.Files);
    // A failed file is kept with its record only while it is still listed;
    // one that waits for its next try leaves the files due now.
    std::vector<TFailedFile> Failed;
    for (const TFailedFile& File : Stored.Failed) {
      if (!Entry->FileList.Contains(File.Name))
        continue;
      if (File.Wait != 0)
        Entry->FileList.Remove(File.Name);
      Failed.push_back(File);
    }
    Entry->Failed.Assign(std::move(Failed));
    if (AddMonTask(std::move(Entry)) != atAdded)
      break;
  }
  FInterval = IntervalDisplayFor(S.Interval);
  PublishState();
}

std::optional<std::chrono::system_clock::time_point> TWatchdog::CollectedUntil() const {
  return FMonitor.CollectedUntil(FCollectedUntil);
}

bool TWatchdog::SaveSettings() {
  TWatchdogSettings S;
  const TWindowPlacement Placement = FView.GetWindowPlacement();
  S.Top = Placement.Top;
  S.Left = Placement.Left;
  S.ClientHeight = Placement.ClientHeight;
  S.ClientWidth = Placement.ClientWidth;
  S.JobDir = FJobDir;
  S.Interval = GetIntervalSeconds();
  S.SysTray = FSysTray;
  S.WriteLog = FWriteLog;
  S.LastSave = CollectedUntil();
  for (const auto& Task : FMonTasks) {
    TStoredMonTask& Stored = S.MonTasks.emplace_back();
    Stored.BuTask = Task->BuTask;
    Stored.Dir = Task->Dir;
    Stored.RetainBak = Task->RetainBak;
    Stored.Enabled = Task->MonStatus == mtEnabled;
    // A file handed to a worker is pending until the worker has reported
    // it: after a crash it is backed up again.
    TMatchList Pending{TListCompare::lcFileNames};
    Pending.Assign(Task->FileList.Items());
    if (const TMatchList* InFlight = FRunner.InFlight(*Task))
      for (const std::string& File : *InFlight) Pending.Add(File);
    for (const TFailedFile& File : Task->Failed.Items()) Pending.Add(File.Name);
    Stored.Files = Pending.Items();
    Stored.Failed = Task->Failed.Items();
  }
  try {
    SaveWatchdogSettings(FSetup.IniName, S, FSetup.ProgramName, FSetup.ProgramVersion);
  } catch (const EWriteError& E) {
    FView.ShowMessage(E.what());
    return false;
  } catch (const EFOpenError& E) {
    // The file is there but cannot be read: writing it anyway would drop
    // whatever else it holds.
    FView.ShowMessage(E.what());
    return false;
  }
  return true;
}

// --- the directory list ------------------------------------------------------------

TAddTaskResult TWatchdog::AddMonTask(std::unique_ptr<TMonTask> Task) {
  if (FMonTasks.size() >= MaxMonTasks)
    return atListFull;
  FMonTasks.push_back(std::move(Task));
  PublishState();
  return atAdded;
}

TTaskSources TWatchdog::TaskSourcesForAdding(const std::string& TaskFile) const {
  TTaskSources Found;
  Found.Result = CheckTaskFile(TaskFile, &Found.Sources);
  switch (Found.Result) {
    case tcUsable:
      break;
    case tcInvalidSettings:
      Found.Message = InvalidTaskMessage(TaskFile);
      break;
    case tcNotFound:
      Found.Message = Tr("Task file not found") + ": " + TaskFile;
      break;
    default:
      Found.Message = Tr("Error reading from backup task") + ": " + TaskFile;
      break;
  }
  if (Found.Result != tcUsable)
    Found.Sources.clear();
  return Found;
}

bool TWatchdog::AddDirectory(const std::string& TaskFile, const std::string& Dir) {
  // The same task on the same directory a second time would copy every
  // change twice into one destination, the two workers at once. A service
  // that adds its task at every start must find the list as it was.
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    const TMonTask& Known = *FMonTasks[I];
    if (Known.BuTask == TaskFile && SameSourceDir(Known.Dir, Dir)) {
      FView.ShowMessage(SafeFormat(Tr("Directory \"%s\" is monitored with the backup task \"%s\" already."), Dir,
                                   TaskFile));
      FSelected = static_cast<int>(I);
      PublishState();
      return true;
    }
  }
  if (FMonTasks.size() >= MaxMonTasks) {
    FView.ShowMessage(SafeFormat(Tr("No more than %u directories can be monitored."),
                                 static_cast<std::uint64_t>(MaxMonTasks)));
    return false;
  }
  auto Task = std::make_unique<TMonTask>(TaskFile, Dir);
  if (ReadTaskSettings(*Task, FSetup.TaskDefaults, *this) != 0)
    return false;
  Task->RetainBak = FRetainShown;
  FMonTasks.push_back(std::move(Task));
  FSelected = static_cast<int>(FMonTasks.size()) - 1;
  PublishState();
  return true;
}

void TWatchdog::RemoveSelected() {
  if (FMonitoring || FSelected < 0 || static_cast<std::size_t>(FSelected) >= FMonTasks.size())
    return;
  if (!FView.AskQuestion(Tr("Remove selected directory from list?")))
    return;
  const auto Index = static_cast<std::size_t>(FSelected);
  FRunner.Forget(*FMonTasks[Index]);
  FMonTasks.erase(FMonTasks.begin() + static_cast<std::ptrdiff_t>(Index));
  FSelected = FMonTasks.empty() ? -1 : static_cast<int>(std::min(Index, FMonTasks.size() - 1));
  if (FMonTasks.empty()) {
    // The cleared detail fields start again from 30 seconds. The unit goes
    // to seconds with them: 30 in a unit of hours would be 30 hours,
    // beyond what the unit box can hold.
    FInterval = IntervalDisplayForUnit(FInterval, iuSeconds);
    FRetainShown = 0;
  } else {
    FRetainShown = FMonTasks[static_cast<std::size_t>(FSelected)]->RetainBak;
  }
  PublishState();
}

void TWatchdog::DirItemChecked(std::size_t Index, bool Checked) {
  // While monitoring runs the click is undone: publishing the state puts
  // the mark back.
  if (!FMonitoring && Index < FMonTasks.size()) {
    TMonTask& Task = *FMonTasks[Index];
    if (Checked) {
      Task.MonStatus = mtEnabled;
    } else {
      Task.MonStatus = mtDisabled;
      Task.ErrCount = 0;
      Task.FileList.Clear();
      Task.Failed.Clear();
    }
  }
  PublishState();
}

void TWatchdog::SelectDirItem(std::size_t Index) {
  if (Index < FMonTasks.size()) {
    FSelected = static_cast<int>(Index);
    FRetainShown = FMonTasks[Index]->RetainBak;
  }
  PublishState();
}

void TWatchdog::TaskEdited(std::size_t Index) {
  if (Index >= FMonTasks.size())
    return;
  TMonTask& Task = *FMonTasks[Index];
  const TTaskSources Found = TaskSourcesForAdding(Task.BuTask);
  const bool Named = std::any_of(Found.Sources.begin(), Found.Sources.end(),
                                 [&](const TTaskSource& Source) { return SameSourceDir(Source.Dir, Task.Dir); });
  if (Found.Result != tcUsable) {
    FView.ShowMessage(Found.Message);
    Task.MonStatus = mtInvalid;
  } else if (!Named) {
    FView.ShowMessage(SafeFormat(Tr("Directory \"%s\" not specified in %s!"), Task.Dir, Task.BuTask));
    Task.MonStatus = mtInvalid;
  } else {
    // A missing directory leaves the entry waiting for it (Unavailable).
    const std::string Before = std::exchange(Task.Unavailable, std::string());
    if (ReadTaskSettings(Task, FSetup.TaskDefaults, *this) == 0)
      Task.MonStatus = mtEnabled;
    else if (Task.Unavailable.empty())
      Task.MonStatus = mtInvalid;
    // While monitoring runs, the look for its return takes it up.
    if (FMonitoring && Task.Unavailable.empty())
      Task.Unavailable = Before;
  }
  PublishState();
}

void TWatchdog::ValidateMonTasks() {
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    const auto& Task = FMonTasks[I];
    // A missing task or directory may be a disk or share not mounted yet:
    // the entry keeps the user's check mark and waits for them.
    // A watched entry is its watcher's to give up: it reports its
    // directory gone.
    const bool Watched = FMonitoring && FMonitor.Watched(I);
    if (!RegularFileExists(Task->BuTask)) {
      AddLogLine(TaskNotFoundText(Task->BuTask));
      if (!Watched)
        Task->Unavailable = TaskNotFoundText(Task->BuTask);
      continue;
    }
    if (XlDirectoryExists(Task->Dir)) {
      // While monitoring runs, the look for its return takes it up.
      if (!FMonitoring)
        Task->Unavailable.clear();
      if (CheckTaskFile(Task->BuTask) != tcUsable)
        Task->MonStatus = mtInvalid;
      ReadTaskSettings(*Task, FSetup.TaskDefaults, *this);
      if (Task->MonStatus == mtInvalid)
        AddLogLine(SafeFormat(Tr("The backup task \"%s\" has invalid settings!"), EscapeControls(Task->BuTask)));
      // The mark of a destination in the directory shows before monitoring
      // starts, as the task writes it; a start finds the others too.
      if (!FMonitoring) {
        Task->MonFilter.DestDirs.Clear();
        Task->NoteDestination(Task->DestDir);
      }
    } else {
      AddLogLine(DirNotFoundText(Task->Dir));
      if (!Watched)
        Task->Unavailable = DirNotFoundText(Task->Dir);
    }
  }
  if (FSelected < 0 && !FMonTasks.empty())
    FSelected = 0;
  PublishState();
}

// --- the controls ------------------------------------------------------------------

void TWatchdog::PeriodicClicked(bool Checked) {
  FInterval.Periodic = Checked;
  PublishState();
}

void TWatchdog::IntervalUnitChosen(TIntervalUnit Unit) {
  FInterval = IntervalDisplayForUnit(FInterval, Unit);
  PublishState();
}

void TWatchdog::IntervalValueChanged(std::int32_t Value) {
  FInterval.Value = std::clamp(Value, FInterval.MinValue, FInterval.MaxValue);
  PublishState();
}

void TWatchdog::SysTrayClicked(bool Checked) {
  FSysTray = Checked;
  PublishState();
}

void TWatchdog::WriteLogClicked(bool Checked) {
  FWriteLog = Checked;
  PublishState();
}

void TWatchdog::RetainBakChanged(std::int32_t Value) {
  FRetainShown = std::clamp<std::int32_t>(Value, 0, TBackupThread::MaxRetain);
  if (FSelected >= 0 && static_cast<std::size_t>(FSelected) < FMonTasks.size())
    FMonTasks[static_cast<std::size_t>(FSelected)]->RetainBak = FRetainShown;
  PublishState();
}

// --- monitoring ----------------------------------------------------------------------

bool TWatchdog::StartMonitoring() {
  if (FMonitoring)
    return true;
  for (const auto& Task : FMonTasks) {
    if (Task->MonStatus != mtEnabled)
      continue;
    const TTaskCheck Check = CheckTaskFile(Task->BuTask);
    if (Check == tcNotFound) {
      // Its disk may not be mounted yet: the entry waits for it.
      Task->Unavailable = TaskNotFoundText(Task->BuTask);
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
  std::optional<std::chrono::system_clock::time_point> CatchUpSince;
  if (FCollectedUntil)
    CatchUpSince = *FCollectedUntil - FSetup.CatchUpMargin;
  FMonitor.Start(CatchUpSince);
  PublishState();
  return true;
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
  // What changed while it was away: from when it went, or from the last
  // save for one that was missing from the start.
  std::optional<std::chrono::system_clock::time_point> Since;
  if (FCollectedUntil)
    Since = *FCollectedUntil - FSetup.CatchUpMargin;
  FMonitor.Resume(Index, Since);
  PublishState();
}

void TWatchdog::EntryBack(std::size_t Index) {
  const TMonTask& Task = *FMonTasks[Index];
  if (FMonitoring && Task.MonStatus == mtEnabled && !Task.Unavailable.empty() && !FMonitor.Watched(Index))
    TakeUpAgain(Index);
}

bool TWatchdog::WatchersStarting() const { return FMonitor.Starting(); }

void TWatchdog::StopMonitoring() {
  FMonitor.Stop();
  // Up to now, unless a directory went away: it is looked at from when it
  // went at the next start.
  FCollectedUntil = FMonitor.CollectedUntil(FCollectedUntil);
  // The last backup of everything pending, and the end of any backup that
  // still runs.
  if (FileCount() > 0 || FRunner.AnyRunning())
    RunBackups(true);
  FMonitor.Release();
  FMonitoring = false;
  FScheduler.Stop();
  FTbStatus = tbsOff;
  if (!FMonTasks.empty() && (FSelected < 0 || static_cast<std::size_t>(FSelected) >= FMonTasks.size()))
    FSelected = 0;
  PublishState();
}

// --- backups -------------------------------------------------------------------------

std::int32_t TWatchdog::FileCount() const {
  std::size_t Count = 0;
  for (const auto& Task : FMonTasks)
    if (Task->Usable())
      Count += Task->PendingCount();
  return static_cast<std::int32_t>(Count);
}

void TWatchdog::RequestInstantBackup() {
  if (!FMonitoring)
    return;
  FScheduler.RequestInstant();
  PublishState();
}

void TWatchdog::ReleaseFinishedWorkers() {
  // A start that waits for its looks writes into the log when it goes on.
  if (!FRunner.ReleaseFinished() && !FProbes.Waiting() && FLogFile.IsOpen())
    FLogFile.Close();
}

void TWatchdog::Tick() {
  if (!FMonitoring)
    return;
  const TTaskBarStatus S = FileCount() != 0 ? tbsRun : tbsWait;
  // A start that waits for the looks at its destinations holds the
  // countdown and the requests until it has gone on, as one start.
  const bool StartWaiting = FProbes.Waiting();
  const TTickAction Action = StartWaiting ? TTickAction::taNone : FScheduler.Tick();
  ReleaseFinishedWorkers();
  if (Action != TTickAction::taNone) {
    // A scheduled start counts for the waits of failed files; the last
    // backup at a stop does not, so that it cannot retry them in a loop.
    for (const auto& Task : FMonTasks)
      if (Task->Usable() && !FRunner.Running(*Task))
        Task->RetryStartCounted();
    const std::int32_t Threshold = Action == TTickAction::taPeriodicBackup ? 3 : 0;
    StartBackups(false, [this, Threshold](std::size_t) {
      SaveSettings();
      PublishState();
      CheckDestinationErrors(Threshold);
    });
  } else if (!StartWaiting && std::any_of(FMonTasks.begin(), FMonTasks.end(), [this](const auto& T) {
               return T->StartDeferred && !FRunner.Running(*T);
             })) {
    // The start that found their worker busy is served now.
    StartBackups(true, [this](std::size_t) {
      SaveSettings();
      PublishState();
    });
  }
  FMonitor.ReleaseEnded();
  if (--FTicksToReturnLook <= 0) {
    FTicksToReturnLook = std::max<std::int32_t>(FSetup.ReturnLookTicks, 1);
    FMonitor.LookForReturns();
  }
  FTbStatus = S;
  PublishState();
}

bool TWatchdogSetup::DefaultSourceThere(const std::string& TaskFile, const std::string& Dir) {
  return RegularFileExists(TaskFile) && XlDirectoryExists(Dir);
}

// The one place that waits in a nested loop, with StopMonitoring (which
// calls it) and the destructor: a stop and a quit must not return before the
// last backup has ended, and everything else returns at once.
void TWatchdog::RunBackups(bool Wait) {
  if (!Wait) {
    StartBackups(false, [this](std::size_t) {
      SaveSettings();
      PublishState();
    });
    return;
  }
  // The last backup. A start that waits for its looks goes on first (their
  // time is bounded). A worker that still runs holds back its entry's files
  // collected meanwhile, so it is waited for next; then what is pending
  // goes. The watchers have stopped by now, so a round can only leave files
  // whose copy failed (they wait as failed files), whose destination is not
  // ready, or that a run stopped early gave back; a round that starts
  // nothing, or the last of FinalBackupRounds, ends it, so a quit always
  // ends. Later changes are found by the next start's look for files
  // changed since the stop.
  while (!FQueue.WaitWhileProcessing([this] { return !FProbes.Waiting(); }, std::chrono::hours(1))) {
  }
  FRunner.WaitAll();
  for (int Round = 0; Round < FinalBackupRounds; ++Round) {
    std::optional<std::size_t> Started;
    StartBackups(false, [&Started](std::size_t Count) { Started = Count; });
    while (!FQueue.WaitWhileProcessing([&Started] { return Started.has_value(); }, std::chrono::hours(1))) {
    }
    if (*Started == 0)
      break;
    FRunner.WaitAll();
  }
  FLogFile.Close();
  SaveSettings();
  PublishState();
}

void TWatchdog::StartBackups(bool OnlyDeferred, TStarted Then) {
  // A deferred start with nothing left to back up (its files went away)
  // is done with.
  for (const auto& Task : FMonTasks)
    if (!FRunner.Running(*Task) && (!Task->Usable() || Task->FileList.Empty()))
      Task->StartDeferred = false;
  const bool AnyPending = std::any_of(FMonTasks.begin(), FMonTasks.end(),
                                      [](const auto& T) { return T->Usable() && !T->FileList.Empty(); });
  if (!AnyPending) {
    Then(0);
    return;
  }
  if (FWriteLog && !FLogFile.IsOpen())
    FLogFile.Open(FLogDir);
  // The destinations are looked at off the main thread, one look per
  // destination, all at once; the start goes on when they have answered,
  // before any file is handed over.
  std::vector<TStart> Starts;
  std::vector<std::string> Dests;
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    TMonTask& Task = *FMonTasks[I];
    // The files of an entry whose directory is gone wait for it: looked
    // for now, they would be given up as not found.
    if (!Task.Usable() || Task.FileList.Empty() || (OnlyDeferred && !Task.StartDeferred))
      continue;
    if (FRunner.Running(Task)) {
      // A worker still busy with the entry's last files keeps the new ones
      // waiting: two workers on one destination tree would rotate each
      // other's versions. They go as soon as it has ended.
      if (!std::exchange(Task.StartDeferred, true))
        AddLogLine(TimedEntryLine(TimeText(), I,
                                  Tr("The previous backup is still running; this one starts when it has ended.")));
      continue;
    }
    Task.StartDeferred = false;
    Starts.push_back({&Task, I, Task.DestDir});
    Dests.push_back(Task.DestDir);
  }
  if (Starts.empty()) {
    Then(0);
    return;
  }
  FProbes.Look(Dests, [this, Starts = std::move(Starts), Then = std::move(Then)](
                          const TDestinationProbes::TVerdicts& Verdicts) { Then(ContinueBackups(Starts, Verdicts)); });
}

std::size_t TWatchdog::ContinueBackups(const std::vector<TStart>& Starts,
                                       const TDestinationProbes::TVerdicts& Verdicts) {
  std::size_t Started = 0;
  for (const TStart& Start : Starts) {
    if (Start.Index >= FMonTasks.size() || FMonTasks[Start.Index].get() != Start.Task)
      continue;
    TMonTask& Task = *FMonTasks[Start.Index];
    // What happened while the looks ran: a directory that went away keeps
    // its files waiting for it; a task edited to another destination is
    // looked at anew at the next tick.
    if (!Task.Usable())
      continue;
    if (Task.DestDir != Start.Dest) {
      Task.StartDeferred = true;
      continue;
    }
    const auto Found = Verdicts.find(Start.Dest);
    const std::optional<TDestinationVerdict> Verdict =
        Found != Verdicts.end() ? Found->second : std::optional<TDestinationVerdict>();
    if (Verdict && Verdict->Available && DestinationMountKept(Task, Verdict->Dest, Verdict->MountPoint)) {
      // The worker writes into the destination as it is found now.
      for (const std::string* Dest : {&Verdict->Dest, &Verdict->Resolved})
        FMonitor.NoteDestination(Start.Index, *Dest);
      // The reports handled while the looks ran may have taken every file.
      if (!Task.FileList.Empty() &&
          FRunner.Start(Task, static_cast<std::int32_t>(Start.Index + 1), Verdict->Dest))
        ++Started;
      Task.ErrCount = 0;
    } else {
      AddLogLine(DestinationLine(TimedEntryLine(
          TimeText(), Start.Index,
          SafeFormat(Tr("Drive \"%s\" not ready!"), EscapeControls(MissingDestinationName(Task.DestDir))))));
      ++Task.ErrCount;
    }
  }
  return Started;
}

void TWatchdog::CheckDestinationErrors(std::int32_t Threshold) {
  std::int32_t M = 0;
  std::size_t Worst = 0;
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    const TMonTask& Task = *FMonTasks[I];
    if (Task.MonStatus == mtEnabled && Task.ErrCount > M) {
      M = Task.ErrCount;
      Worst = I;
    }
  }
  if (M <= Threshold)
    return;
  const TMonTask& Task = *FMonTasks[Worst];
  std::string Text = SafeFormat(Tr("Backup destination \"%s\" not available!"), Task.DestDir) + "\r\n" +
                     SafeFormat(Tr("Monitored directory \"%s\""), EntryLine(Worst, Task.Dir)) + "\r\n";
  if (Threshold > 0)
    Text += SafeFormat(Tr("This was the case with the last %u backups."), static_cast<std::uint64_t>(M)) + "\r\n";
  Text += Tr("Please check that the backup medium is connected correctly!");
  FView.ShowDestinationWarning(Text);
}

// --- the log -----------------------------------------------------------------------

void TWatchdog::AddLogLine(const std::string& Line) {
  if (FLogFile.IsOpen()) {
    // A log file that cannot be written is closed; the window keeps every
    // line and says once why the file stops.
    std::string Failure = FLogFile.Write(Line);
    ShowLogLine(Line);
    if (!Failure.empty())
      ShowLogLine(Failure);
    return;
  }
  ShowLogLine(Line);
}

void TWatchdog::ShowLogLine(const std::string& Line) {
  if (FSetup.KeepLogLines)
    FLogLines.push_back(Line);
  FView.LogLineAdded(Line);
}

void TWatchdog::ClearLog() {
  FLogLines.clear();
  FView.LogCleared();
}

// --- what the front-ends show --------------------------------------------------------

// The pending files of entry Index as the lists show them: the files due,
// then the failed ones with what becomes of them.
static void AddPendingLines(std::size_t Index, const TMonTask& Task, std::vector<std::string>& Lines) {
  for (const std::string& File : Task.FileList) Lines.push_back(EntryLine(Index, File));
  for (const TFailedFile& File : Task.Failed.Items()) {
    if (File.GivenUp())
      Lines.push_back(EntryLine(Index, File.Name + " - " + Tr("given up") + ": " + GetCopyErrorText(File.ErrorCode)));
    else if (File.Wait > 0)
      Lines.push_back(EntryLine(Index, File.Name + " - " + Tr("failed, tried again later")));
  }
}

void TWatchdog::sbViewFilesClick() {
  std::vector<std::string> Lines;
  for (std::size_t I = 0; I < FMonTasks.size(); ++I)
    if (FMonTasks[I]->MonStatus == mtEnabled)
      AddPendingLines(I, *FMonTasks[I], Lines);
  if (Lines.empty())
    Lines.push_back(Tr("No files"));
  FView.ShowChangedFiles(Lines);
}

std::vector<std::string> TWatchdog::ChangedFileLines() const {
  std::vector<std::string> Lines;
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) AddPendingLines(I, *FMonTasks[I], Lines);
  if (Lines.empty())
    Lines.push_back(Tr("No files"));
  return Lines;
}

std::optional<TFilterDisplay> TWatchdog::FilterDisplayOf(std::size_t Index) const {
  if (Index >= FMonTasks.size())
    return std::nullopt;
  return MonFilterDisplay(FMonTasks[Index]->MonFilter);
}

std::string TWatchdog::ActiveDirsText() const {
  std::string Lines;
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    const TMonTask& Task = *FMonTasks[I];
    if (Task.MonStatus != mtEnabled || !FMonitor.Watched(I))
      continue;
    if (!Lines.empty())
      Lines += "\r\n";
    Lines += OrdinalText(I + 1) + Tr("Directory") + ": " + EscapeControls(Task.Dir);
  }
  if (Lines.empty())
    Lines = Tr("The monitoring is not active!");
  return Tr("Directories to be monitored") + "\r\n" + Lines;
}

TRunStatus TWatchdog::RunStatus(std::size_t Index) const {
  return RunStatusOf(FMonitor.Watched(Index), FRunner.Running(*FMonTasks.at(Index)));
}

TTaskInfo TWatchdog::TaskInfoOf(std::size_t Index) const {
  const TMonTask& Task = *FMonTasks[Index];
  TTaskInfo Info;
  Info.Task = Task.BuTask;
  Info.EditEnabled = RunStatus(Index) == rsOff;
  Info.Destination = Task.DestDir;
  Info.MethodText = Tr("Method: ") + " " + DestModeText(Task.DestMode);
  if (Task.Compress == 0)
    Info.CompressionText = Tr("No compression");
  else
    Info.CompressionText = Tr("Compress files") + " " + (Task.Compress == 1 ? Tr("as gz") : Tr("as zip"));
  Info.RetainBak = Task.RetainBak;
  return Info;
}

TWatchdogState TWatchdog::ComputeState() const {
  TWatchdogState S;
  const bool On = FMonitoring;
  const std::int32_t Count = FileCount();
  S.Monitoring = On;

  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    const TMonTask& Task = *FMonTasks[I];
    S.DirItems.push_back({DirItemText(I, Task.Dir), Task.MonStatus == mtEnabled, RunStatus(I),
                          Task.PendingCount(), Task.MonStatus == mtInvalid || !Task.Unavailable.empty(),
                          !Task.MonFilter.DestDirs.Empty(), Task.Failed.GivenUpCount(), Task.Unavailable, Task.Dir,
                          Task.MonStatus});
  }
  if (FSelected >= 0 && static_cast<std::size_t>(FSelected) < FMonTasks.size()) {
    S.Selected = FSelected;
    S.TaskInfo = TaskInfoOf(static_cast<std::size_t>(FSelected));
  }
  S.RemoveEnabled = !On;

  S.SysTrayChecked = FSysTray;
  S.WriteLogChecked = FWriteLog;
  S.Interval = FInterval;
  S.PeriodicEnabled = !On;

  const std::string Countdown = FScheduler.CountdownText();
  const std::string CountText = FileCountText(Count);
  S.CountdownText = On ? Countdown : std::string();
  S.FileCountText = On ? CountText : std::string();
  S.NotScheduledVisible = !On;
  // Files given up are not pending, but the user finds them in the list.
  const bool AnyGivenUp = std::any_of(FMonTasks.begin(), FMonTasks.end(), [](const auto& T) {
    return T->Usable() && T->Failed.GivenUpCount() > 0;
  });
  S.ShowFilesVisible = On && (Count > 0 || AnyGivenUp);
  S.ClockProgress = FScheduler.ClockProgress(On, Count > 0);

  // While monitoring runs the start button starts a backup at once: there
  // must be something to back up, and a request waits for the next tick.
  S.StartEnabled = !On || (Count > 0 && !FScheduler.InstantRequested());
  S.StartHint = On ? Tr("Start immediate backup") : Tr("Start monitoring the selected directories");
  S.StopEnabled = On;
  S.BackupTimerEnabled = On;
  S.QuitToBackground = FSysTray;
  S.QuitHint = FSysTray ? Tr("Move program to background") : Tr("Quit program and save settings");

  S.TrayStatus = FTbStatus;
  S.TrayStartStopCaption = On ? Tr("Stop monitoring") : Tr("Start monitoring");
  S.ImmediateBackupEnabled = On && Count > 0;
  S.StatusLine = Tr("Next backup: ") + Countdown;
  S.StatusFileLine = CountText;
  S.ActiveDirsText = ActiveDirsText();
  S.TrayTip = ProgVersName();
  if (On)
    S.TrayTip += "\r\n" + Tr("Next backup: ") + Countdown + "\r\n" + CountText + " " + Tr("recognized as changed");
  return S;
}

void TWatchdog::PublishState() {
  FState = ComputeState();
  FView.StateChanged(FState);
}

void TWatchdog::StateMayHaveChanged() {
  // A burst of reports publishes once. The posted call may outlive the
  // controller and then does nothing; while the controller goes (its token
  // is dropped first) the workers' last reports post nothing.
  if (FPublishPosted || !FLife)
    return;
  FPublishPosted = FQueue.Post([this, Life = std::weak_ptr<int>(FLife)] {
    if (Life.expired())
      return;
    FPublishPosted = false;
    PublishState();
  });
}

}  // namespace dz
