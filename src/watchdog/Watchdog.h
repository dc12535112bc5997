#pragma once
// The watchdog without a window: it coordinates the list of monitored
// directories (each a TMonTask that collects its own changes), the settings
// file, the scheduler's countdown, the backup workers and the log, and
// publishes what a front-end shows as one TWatchdogState through
// TWatchdogView. The front-end calls the handlers below for the user's
// actions and Tick() once a second while State().BackupTimerEnabled is set.
// Main thread only.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/BuildInfo.h"
#include "base/MainThreadQueue.h"
#include "dirwatch/DirectoryWatch.h"
#include "filesys/PathUtils.h"
#include "platform/Volumes.h"
#include "settings/ProgramLocations.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
#include "watchdog/BackupLog.h"
#include "watchdog/BackupRunner.h"
#include "watchdog/Scheduler.h"
#include "watchdog/TaskReader.h"
#include "watchdog/WatchdogSettings.h"
#include "watchdog/WatchdogView.h"

namespace dz {

// The wall clock; tests step their own.
using TWatchdogClock = std::function<std::chrono::system_clock::time_point()>;

// The walk of a monitored tree for changed files (ScanChangedFiles); runs
// on a thread of its own.
using TTreeScan = std::function<int(const std::string& Dir, const TMonFilter& Filter, TFileTime Since,
                                    std::vector<std::string>& Files)>;

// What a look at a backup destination found.
struct TDestinationVerdict {
  bool Available = false;  // a volume label was found, and the file system belongs there
  std::string Dest;        // the destination with a volume label resolved to its mount point
  std::string MountPoint;  // of the file system holding Dest; empty when unknown
  std::string Resolved;    // Dest with its links resolved; empty when unknown
};

// The look at a destination: volume labels, the mount table and the
// destination itself. On a dead network mount this can block for minutes,
// so it runs on a thread of its own, never on the main thread.
TDestinationVerdict ProbeDestination(const std::string& DestDir, const TVolumeTables& Tables);
using TDestinationProbe = std::function<TDestinationVerdict(const std::string& DestDir, const TVolumeTables& Tables)>;

// What the controller needs to know from the program's start-up.
struct TWatchdogSetup {
  std::string IniName;   // full path of the settings file
  std::string UserPath;  // the user's documents folder, with a trailing delimiter
  std::string ProgramName = BuildInternalName;    // written to the settings file as "Program"
  std::string ProgramVersion = BuildFileVersion;  // and "Version"
  TTaskDefaults TaskDefaults = {};  // from the main application's settings
  std::string LogDir = {};  // an existing folder for the daily log files; empty: the settings file's
  TVolumeTables VolumeTables = {};  // where mounts are looked up (tests use their own)
  TWatchdogClock Clock = [] { return std::chrono::system_clock::now(); };
  // Changes made this long before the last save of the settings file are
  // looked for again when monitoring starts: they may never have been
  // reported, or reported and lost with the process.
  std::chrono::seconds CatchUpMargin{60};
  // Whether LogLines() keeps every line, as the window's log does; a
  // front-end that prints each line as it comes (the console, running for
  // months) has no use for them.
  bool KeepLogLines = true;
  // Tests put in walks and looks they hold or count.
  TTreeScan ScanTree = ScanChangedFiles;
  TDestinationProbe ProbeDestination = dz::ProbeDestination;
  // How long a backup start waits for the looks at the destinations (the
  // queue keeps being processed meanwhile); a destination whose look has
  // not answered by then is not ready for this start. A look still out
  // from an earlier start is not waited for again.
  std::chrono::milliseconds DestinationProbeTimeout{3000};
  // While monitoring runs, an entry whose task file or directory is missing
  // is looked for again every this many ticks, off the main thread (a stat
  // on a dead network share may hang); it is watched again once both are
  // there. The look is the test's to replace: true when both exist.
  std::int32_t ReturnLookTicks = 10;
  std::function<bool(const std::string& TaskFile, const std::string& Dir)> SourceThere = DefaultSourceThere;
  static bool DefaultSourceThere(const std::string& TaskFile, const std::string& Dir);
};

// The setup of a program start: the settings file and documents folder of
// Locations, the task defaults and log folder from the main application's
// settings file.
TWatchdogSetup StartupWatchdogSetup(const TProgramLocations& Locations);

enum TAddTaskResult : int { atAdded, atListFull };

// --- the interval model -------------------------------------------------------

// The unit's text in the unit box, translated.
std::string IntervalUnitText(TIntervalUnit Unit);

// The controls for a stored interval: 0 or less means periodic backups off
// (shown as 10 minutes). Longer intervals are rounded down to whole hours
// above 7199 seconds and to whole minutes above 299, then shown in the
// largest unit that holds them exactly. A value outside its unit's range is
// shown at the nearest end of the range, as the value field would hold it.
TIntervalDisplay IntervalDisplayFor(std::int32_t Seconds);

// The controls after the user chose Unit: the unit's range and step with its
// starting value (30 seconds, 10 minutes, 1 hour); Periodic is kept.
TIntervalDisplay IntervalDisplayForUnit(const TIntervalDisplay& Current, TIntervalUnit Unit);

// The interval the controls stand for, in seconds; -1 when periodic backups
// are off.
std::int32_t IntervalSeconds(const TIntervalDisplay& Interval);

// --- change collection ----------------------------------------------------------

// The number of pending files as the labels and tips show it: "No files",
// "1 file", "%u files"; above 9999 with the digits grouped by blanks.
std::string FileCountText(std::int64_t Count);

// A list position from 0 as the list, the log and the views write it: from
// 1, in at least two digits.
std::string ListPosition(std::size_t Index);

// The ordinal of a position from 1 as the status dialog writes it: "1st ",
// "2nd ", "3rd ", otherwise the number and "th " (translated).
std::string OrdinalText(std::size_t Number);

// --- the controller -----------------------------------------------------------

// What adding a directory found in a task file: the result of the check,
// the message for a task that cannot be used, and the usable sources.
struct TTaskSources {
  TTaskCheck Result = tcNotFound;
  std::string Message;  // empty when Result is tcUsable
  std::vector<TTaskSource> Sources;
};

class TWatchdog : private TLogSink {
public:
  // Asks View for the designed client size. Queue runs the watchers' and
  // the workers' calls on the main thread; WatchBackend makes the system
  // side of each watcher (a fake in tests).
  TWatchdog(TWatchdogView& View, TMainThreadQueue& Queue, TWatchdogSetup Setup,
            TDirWatchBackendFactory WatchBackend = CreateSystemDirWatchBackend);
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
  // Stops the watchers; running backup workers are asked to stop after
  // their current file and waited for (their remaining files stay pending
  // in the settings file saved last).
  ~TWatchdog() override;

  // --- the settings file ---

  // Reads the settings file into the list: once, at start-up, while the
  // list is empty. A missing file leaves every default; entries whose task
  // file no longer exists are dropped. Raises EFOpenError when the file
  // exists but cannot be read: the list is then unknown, and starting with
  // an empty one would lose it at the next save.
  void LoadSettings();
  // Writes the settings file, keeping whatever else it holds. A failure is
  // shown in a message window; the result says whether it was written.
  bool SaveSettings();

  // --- the directory list ---

  // Appends Task; refused, and Task released, when the list already holds
  // MaxMonTasks entries.
  [[nodiscard]] TAddTaskResult AddMonTask(std::unique_ptr<TMonTask> Task);
  // The first steps of adding a directory: checks TaskFile and lists the
  // sources it names.
  TTaskSources TaskSourcesForAdding(const std::string& TaskFile) const;
  // The last step: an entry for Dir with the settings of TaskFile,
  // appended, selected and shown. False when the task cannot be read (the
  // reasons are in the log) or the list is full (a message says so). An
  // entry of the same task and directory is only selected, with a message
  // that says so (true: nothing failed).
  bool AddDirectory(const std::string& TaskFile, const std::string& Dir);
  // Removes the selected entry; not while monitoring runs.
  void RemoveSelected();
  // The user set or cleared an item's check mark. Undone while monitoring
  // runs; clearing it drops the entry's pending files.
  void DirItemChecked(std::size_t Index, bool Checked);
  void SelectDirItem(std::size_t Index);
  // The main application has edited the task of entry Index and ended
  // successfully: the entry is checked against its task again, a task
  // that no longer names its directory or cannot be used marks it invalid
  // (with a message), a usable one enables it.
  void TaskEdited(std::size_t Index);
  // Checks every entry against its task file and its directory again, as
  // each showing of the window does; what is wrong goes to the log and the
  // entry is marked invalid.
  void ValidateMonTasks();

  // --- the controls ---

  void PeriodicClicked(bool Checked);
  void IntervalUnitChosen(TIntervalUnit Unit);
  void IntervalValueChanged(std::int32_t Value);
  void SysTrayClicked(bool Checked);
  void WriteLogClicked(bool Checked);
  void RetainBakChanged(std::int32_t Value);
  // The interval the controls stand for, in seconds; -1 when periodic
  // backups are off.
  std::int32_t GetIntervalSeconds() const { return IntervalSeconds(FInterval); }

  // --- monitoring and backups ---

  // Validates every enabled entry against its task file again and starts one
  // watcher per enabled entry whose directory exists; then looks, off the
  // main thread, for files changed since shortly before the settings file
  // was last saved. False, after telling the user, when no entry is left
  // enabled; nothing else changes then. While monitoring runs already,
  // nothing happens and the result is true.
  // Returns without waiting for the watchers: each starts on a thread of its
  // own (a tree of many directories takes seconds). Monitoring runs from
  // the return on; what a watcher reports while it starts is collected, and
  // one that cannot start says so in the log when its start has ended.
  bool StartMonitoring();
  // Stops the watchers (a start still in progress is cancelled), collects
  // what they reported and what running scans find, backs up every pending
  // file and waits for that, then returns to the stopped state and saves
  // the settings.
  void StopMonitoring();
  bool Monitoring() const { return FMonitoring; }
  // Whether a watcher is still starting.
  bool WatchersStarting() const;
  // Looks at destinations that have not answered yet.
  std::size_t DestinationProbesRunning() const { return FProbes.size(); }

  // The one-second timer.
  void Tick();
  // A backup at once, performed by the next tick.
  void RequestInstantBackup();
  // Starts the backups of every enabled entry with pending files; with Wait
  // (the last backup), first waits for the workers that run, then backs up
  // what is pending, at most FinalBackupRounds times, until only files
  // that failed or whose destination is not ready are left, and returns
  // when every worker has finished. Then saves the settings.
  void RunBackups(bool Wait);
  static constexpr int FinalBackupRounds = 2;
  // Whether a backup worker runs.
  bool BackupRunning() const { return FRunner.AnyRunning(); }

  // A watcher's report, on the main thread (see TMonTask::DirectoryChanged).
  void DirectoryChanged(TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action, const std::string& FileName);

  // --- the log ---

  // One line to the log window and, while it is open, the log file.
  void AddLogLine(const std::string& Line) override;
  void ClearLog();
  const std::vector<std::string>& LogLines() const { return FLogLines; }

  // --- what the front-ends show ---

  const TWatchdogState& State() const { return FState; }
  // "Show files": the pending files of the enabled entries in the pop-up list.
  void sbViewFilesClick();
  // The status dialog's list: the pending files of every entry, or "No files".
  // Asked for when shown: it may hold a hundred thousand lines, too many
  // for the snapshot.
  std::vector<std::string> ChangedFileLines() const;
  // What the filter display shows for entry Index; nothing when there is
  // no such entry.
  std::optional<TFilterDisplay> FilterDisplayOf(std::size_t Index) const;
  std::string CountdownText() const { return FScheduler.CountdownText(); }
  // The status dialog's information text.
  std::string ActiveDirsText() const;

  std::size_t MonTaskCount() const { return FMonTasks.size(); }
  TMonTask& MonTask(std::size_t Index) { return *FMonTasks.at(Index); }
  const TMonTask& MonTask(std::size_t Index) const { return *FMonTasks.at(Index); }
  const std::string& IniName() const { return FSetup.IniName; }
  const std::string& JobDir() const { return FJobDir; }
  const std::string& LogDir() const { return FLogDir; }
  // Seconds between periodic backups, -1 for backups on demand: while
  // monitoring runs the interval it started with, else what the controls
  // stand for.
  std::int32_t BuInterval() const { return FMonitoring ? FScheduler.BuInterval() : GetIntervalSeconds(); }
  const TIntervalDisplay& Interval() const { return FInterval; }
  bool SysTray() const { return FSysTray; }
  bool WriteLog() const { return FWriteLog; }
  // The pending files of the enabled entries (not those a worker holds).
  std::int32_t FileCount() const;
  std::int32_t TimeCount() const { return FScheduler.TimeCount(); }
  TTaskBarStatus TbStatus() const { return FTbStatus; }
  std::int32_t DHeight() const { return FDHeight; }
  std::int32_t DWidth() const { return FDWidth; }

private:
  static TTaskInfo TaskInfoOf(const TMonTask& Task);
  TWatchdogState ComputeState() const;
  void PublishState();
  // An entry's pending files or run status may have changed outside a
  // handler (a watcher's report, a scan's result, a worker's file): the
  // state is published once the queue has run what it holds now, once
  // however many such changes come in that turn.
  void StateMayHaveChanged();
  void StartWatcher(std::size_t Index);
  void WatcherStarted(TDirectoryWatch& Sender, const std::string& ErrorMessage);
  void LogCannotMonitor(std::size_t Index, const std::string& Reason);
  // Entry Index is not watched until its task file and directory are there
  // again; Reason says what is missing.
  void MarkUnavailable(std::size_t Index, std::string Reason);
  // Looks, off the main thread, whether the entries marked unavailable are
  // there again; TakeUpAgain starts watching one that is.
  void LookForReturns();
  void TakeUpAgain(std::size_t Index);
  void DirWatchError(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage);
  // After lost changes: collects, off the main thread, every file of the
  // tree that passes the filters and changed from LostSince on (less a
  // little slack).
  void RescanAfterLostChanges(std::size_t Index, std::chrono::system_clock::time_point LostSince);
  void RescanFound(std::size_t Index, const TMonTask* Task, int ErrorCode, std::vector<std::string> Files);
  // Looks, off the main thread, for the files of every watched entry that
  // changed from Since on, and adds them as pending when found.
  void StartCatchUp(std::chrono::system_clock::time_point Since);
  void CatchUpFound(std::size_t Index, const TMonTask* Task, int ErrorCode, std::vector<std::string> Files);
  using TScanFound = void (TWatchdog::*)(std::size_t Index, const TMonTask* Task, int ErrorCode,
                                         std::vector<std::string> Files);
  // Walks entry Index's tree on a thread of its own; Found takes the result
  // on the main thread.
  void StartScan(std::size_t Index, TFileTime Since, TScanFound Found);
  // The look at DestDir for a backup start: a new one, or null when one
  // from an earlier start has not answered yet.
  struct TProbeSlot;
  struct TProbeHub;
  std::shared_ptr<TProbeSlot> StartProbe(const std::string& DestDir);
  // Until when every change is known to be collected: now while monitoring
  // runs (and no look for older changes is still on), else the moment
  // monitoring stopped or the time the settings file had.
  std::optional<std::chrono::system_clock::time_point> CollectedUntil() const;
  // Starts a worker for each enabled entry with files due (with
  // OnlyDeferred, only for those a start found busy before) whose
  // destination is ready; an entry whose worker still runs waits for it.
  // Returns how many workers started.
  std::size_t StartBackups(bool OnlyDeferred);
  // Dest is where entry Index's backups go: when it lies in the monitored
  // directory, changes there are no longer collected; the log says so once
  // per start of monitoring.
  void NoteDestination(std::size_t Index, const std::string& Dest);
  void CheckDestinationErrors(std::int32_t Threshold);
  void ReleaseFinishedWorkers();
  TMonTask* WatchedTask(const TDirectoryWatch& Sender, int ChgNotId);
  std::string TimeText() const;
  void ShowLogLine(const std::string& Line);

  TWatchdogView& FView;
  TMainThreadQueue& FQueue;
  TDirWatchBackendFactory FWatchBackend;
  TWatchdogSetup FSetup;
  std::vector<std::unique_ptr<TMonTask>> FMonTasks;  // in settings-file order
  std::string FJobDir;
  std::string FLogDir;
  TIntervalDisplay FInterval;
  bool FSysTray = false;
  bool FWriteLog = false;
  int FSelected = -1;
  std::int32_t FRetainShown = 0;
  TTaskBarStatus FTbStatus = tbsOff;
  bool FMonitoring = false;
  std::optional<std::chrono::system_clock::time_point> FCollectedUntil;
  // Walks of the monitored trees (for changes made before monitoring
  // started, and after lost changes); their results come back through the
  // queue while this token lives.
  std::map<int, std::jthread> FScans;
  int FNextScan = 0;
  int FScansPending = 0;  // scans whose result has not been taken yet
  // The entries whose tree is walked after lost changes, each with the
  // earliest loss since that walk began, for one more walk after it.
  std::map<const TMonTask*, std::optional<TFileTime>> FRescans;
  std::shared_ptr<int> FLife = std::make_shared<int>(0);
  // The looks at destinations that have not answered, by destination; the
  // threads are left to end on their own (a dead mount may hold them for
  // minutes) and reach the queue only through the hub.
  std::map<std::string, std::shared_ptr<TProbeSlot>> FProbes;
  std::shared_ptr<TProbeHub> FProbeHub;
  // Watchers whose directory went away: released at the next tick, not
  // inside their own report.
  std::vector<std::shared_ptr<TDirectoryWatch>> FEndedWatches;
  std::int32_t FTicksToReturnLook = 0;
  TBackupScheduler FScheduler;
  TBackupRunner FRunner;
  TBackupLogFile FLogFile;
  std::vector<std::string> FLogLines;
  TWatchdogState FState;
  bool FPublishPosted = false;  // a publish waits in the queue
  std::int32_t FDHeight = 0;
  std::int32_t FDWidth = 0;
};

}  // namespace dz
