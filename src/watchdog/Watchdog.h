#pragma once
// The watchdog without a window: it coordinates the list of monitored
// directories (each a TMonTask that collects its own changes, watched by
// the entry monitor, EntryMonitor.h), the settings
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
#include "watchdog/LogLines.h"
#include "watchdog/EntryMonitor.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
#include "watchdog/BackupLog.h"
#include "watchdog/BackupRunner.h"
#include "watchdog/DestinationProbes.h"
#include "watchdog/DisplayTexts.h"
#include "watchdog/Scheduler.h"
#include "watchdog/TaskReader.h"
#include "watchdog/WatchdogSettings.h"
#include "watchdog/WatchdogView.h"

namespace dz {


// What the controller needs to know from the program's start-up.
struct TWatchdogSetup {
  std::string IniName;   // full path of the settings file
  std::string UserPath;  // the user's documents folder, with a trailing delimiter
  std::string ProgramName = BuildInternalName;    // written to the settings file as "Program"
  std::string ProgramVersion = BuildFileVersion;  // and "Version"
  TTaskDefaults TaskDefaults = {};  // from the main application's settings
  std::string LogDir = {};  // an existing folder for the daily log files; empty: the settings file's
  std::shared_ptr<const TVolumes> Volumes = SystemVolumes();  // where volumes are looked up (tests use their own)
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
  // How long a backup start waits for the looks at the destinations (it
  // goes on through the queue when they have answered; nothing blocks
  // meanwhile); a destination whose look has not answered by then is not
  // ready for this start. A look still out from an earlier start is not
  // waited for again.
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
  // the settings. With RunBackups(true) and the destructor, the only
  // operation that waits (see RunBackups).
  void StopMonitoring();
  bool Monitoring() const { return FMonitoring; }
  // Whether a watcher is still starting.
  bool WatchersStarting() const;
  // Looks at destinations that have not answered yet.
  std::size_t DestinationProbesRunning() const { return FProbes.Running(); }
  // Whether a backup start waits for the looks at its destinations; it goes
  // on through the queue.
  bool BackupStartWaiting() const { return FProbes.Waiting(); }

  // The one-second timer.
  void Tick();
  // A backup at once, performed by the next tick.
  void RequestInstantBackup();
  // Starts the backups of every enabled entry with pending files. Without
  // Wait this returns at once: the start goes on through the queue when
  // the looks at the destinations have answered, and then saves the
  // settings. With Wait (the last backup, at a stop and a quit) it waits,
  // processing the queue: for a start that waits for its looks, for the
  // workers that run, then backs up what is pending, at most
  // FinalBackupRounds times, until only files that failed or whose
  // destination is not ready are left, and returns when every worker has
  // finished. Then saves the settings. Stopping, quitting and the
  // destructor are the only places that wait in a nested loop.
  void RunBackups(bool Wait);
  static constexpr int FinalBackupRounds = 2;
  // Whether a backup worker runs.
  bool BackupRunning() const { return FRunner.AnyRunning(); }

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
  // Whether entry Index is watched, and whether its backup runs.
  TRunStatus RunStatus(std::size_t Index) const;
  TEntryMonitor& Monitor() { return FMonitor; }
  const TEntryMonitor& Monitor() const { return FMonitor; }
  const TBackupRunner& Runner() const { return FRunner; }
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
  TTaskInfo TaskInfoOf(std::size_t Index) const;
  TWatchdogState ComputeState() const;
  void PublishState();
  // An entry's pending files or run status may have changed outside a
  // handler (a watcher's report, a scan's result, a worker's file): the
  // state is published once the queue has run what it holds now, once
  // however many such changes come in that turn.
  void StateMayHaveChanged();
  // Entry Index has been found again by the monitor's look: it is taken up
  // when it still waits and monitoring runs.
  void EntryBack(std::size_t Index);
  void TakeUpAgain(std::size_t Index);
  // Until when every change is known to be collected: now while monitoring
  // runs (and no look for older changes is still on), else the moment
  // monitoring stopped or the time the settings file had.
  std::optional<std::chrono::system_clock::time_point> CollectedUntil() const;
  // Starts a worker for each enabled entry with files due (with
  // OnlyDeferred, only for those a start found busy before) whose
  // destination is ready; an entry whose worker still runs waits for it.
  // The destinations are looked at first, off the main thread: Then gets
  // how many workers started, through the queue once the looks have
  // answered (at once when there is nothing to look at).
  using TStarted = std::function<void(std::size_t Started)>;
  void StartBackups(bool OnlyDeferred, TStarted Then);
  // The part of a start that wanted a look at its destination, in the
  // order of the list.
  struct TStart {
    const TMonTask* Task;
    std::size_t Index;
    std::string Dest;  // as it was looked at
  };
  std::size_t ContinueBackups(const std::vector<TStart>& Starts, const TDestinationProbes::TVerdicts& Verdicts);
  void CheckDestinationErrors(std::int32_t Threshold);
  void ReleaseFinishedWorkers();
  std::string TimeText() const;
  void ShowLogLine(const std::string& Line);

  TWatchdogView& FView;
  TMainThreadQueue& FQueue;
  TWatchdogSetup FSetup;
  TMonTaskList FMonTasks;  // in settings-file order
  TEntryMonitor FMonitor;
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
  // The calls the looks below post reach this object while this token lives.
  std::shared_ptr<int> FLife = std::make_shared<int>(0);
  // The looks at destinations; their threads are left to end on their own
  // (a dead mount may hold them for minutes) and reach the queue only while
  // this controller lives.
  TDestinationProbes FProbes;
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
