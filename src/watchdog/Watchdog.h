#pragma once
// The main window's state without the window: the list of monitored
// directories, the interval, the options "Keep running in background" and
// "Write log to file", and the settings file in which they all survive
// between runs, the pending files of every directory included; monitoring,
// which keeps one directory watcher per enabled directory and collects the
// files they report into the directory's pending files. What the user sees
// goes through TWatchdogView and what goes wrong while working goes to the
// TLogSink, so the logic runs without a window toolkit. Main thread only.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/BuildInfo.h"
#include "base/MainThreadQueue.h"
#include "dirwatch/DirectoryWatch.h"
#include "filesys/PathUtils.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskReader.h"
#include "watchdog/WatchdogView.h"

namespace dz {

// The settings file has sections Monitor00 to Monitor24 and no more; the list
// never holds more than the file can bring back after a restart.
inline constexpr std::size_t MaxMonTasks = 25;

// Interval in seconds when the settings file has none.
inline constexpr std::int32_t DefaultBuInterval = 1800;

// What the controller needs to know from the program's start-up.
struct TWatchdogSetup {
  std::string IniName;   // full path of the settings file
  std::string UserPath;  // the user's documents folder, with a trailing delimiter
  std::string ProgramName = BuildInternalName;    // written to the settings file as "Program"
  std::string ProgramVersion = BuildFileVersion;  // and "Version"
  TTaskDefaults TaskDefaults = {};  // from the main application's settings
};

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

// Whether the directory part P of a reported file (with its trailing
// delimiter; empty for a file directly in the monitored directory) lies in
// one of the listed sub-directories: P matches an entry followed by "*" as a
// wildcard mask, so an entry Doc also covers Documents/.
bool PathInSubDirList(std::string_view P, const TMatchList& SubDirList);

// Whether the sub-directory filter lets at least one directory name of the
// directory part P through; P is split at Delimiter and empty names are
// skipped. A name the filter cannot decide on (a regular expression that
// gives up, a name that is not UTF-8) counts as a hit exactly when
// UndecidedIsHit is set. There is no default: the caller chooses the value
// that keeps the files below such a name whichever sense the filter has.
bool PathMatchesDirFilter(std::string_view P, const TTextFilter& SubDirFilter, char Delimiter, bool UndecidedIsHit);

// Whether a file, named relative to the monitored directory, passes the
// filters of its task: its extension, its name, the sub-directory list and
// the sub-directory filter.
bool PassesMonFilter(const TMonFilter& Filter, std::string_view FileName, const TPathStyle& Style = NativePathStyle);

// --- the controller -----------------------------------------------------------

class TWatchdog {
public:
  // Asks View for the designed client size. Queue runs the watchers' reports
  // on the main thread; WatchBackend makes the system side of each watcher
  // (a fake in tests).
  TWatchdog(TWatchdogView& View, TLogSink& Log, TMainThreadQueue& Queue, TWatchdogSetup Setup,
            TDirWatchBackendFactory WatchBackend = CreateSystemDirWatchBackend);
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
  virtual ~TWatchdog();

  // Reads the settings file into the window and the list: once, at start-up,
  // while the list is empty. A missing file leaves every default; entries
  // whose task file no longer exists are dropped. Raises EFOpenError when the
  // file exists but cannot be read: the list is then unknown, and starting
  // with an empty one would lose it at the next save.
  void LoadSettings();

  // Writes the settings file, keeping whatever else it holds. A failure is
  // shown in a message window and changes nothing else.
  void SaveSettings();

  // Appends Task to the list and to the window's list; refused, and Task
  // released, when the list already holds MaxMonTasks entries.
  [[nodiscard]] TAddTaskResult AddMonTask(std::unique_ptr<TMonTask> Task);

  // Rewrites every list item: its position from 1 in two digits, ": ", the
  // directory; checked exactly when the entry is enabled.
  void RenumberDirList();

  // The interval the controls stand for, in seconds; -1 when periodic
  // backups are off.
  std::int32_t GetIntervalSeconds() const { return IntervalSeconds(FInterval); }

  // Handlers of the user's actions in the window.
  void PeriodicClicked(bool Checked);
  void IntervalUnitChosen(TIntervalUnit Unit);
  void IntervalValueChanged(std::int32_t Value);
  void SysTrayClicked(bool Checked) { FSysTray = Checked; }
  void WriteLogClicked(bool Checked) { FWriteLog = Checked; }

  // --- monitoring ---

  // Validates every enabled entry against its task file again and starts one
  // watcher per enabled entry whose directory exists. False, after telling
  // the user, when no entry is left enabled; nothing else changes then.
  // While monitoring runs already, nothing happens and the result is true.
  bool StartMonitoring();

  // Stops and releases the watchers and returns the window to the stopped
  // state. Changes the watchers reported before they stopped are collected
  // first; when files are pending then, RunLastBackup runs.
  void StopMonitoring();

  bool Monitoring() const { return FMonitoring; }

  // A watcher's report, on the main thread: ChgNotId is the entry's position
  // from 1, FileName relative to its directory. Directories are not
  // collected; a removed file, or the old name of a renamed one, leaves the
  // pending files; any other file joins them when it passes the filters.
  // The pending files below a renamed directory move to its new name, those
  // below a removed one leave the list. Reports of a watcher that is not
  // the entry's own are ignored.
  void DirectoryChanged(TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action, const std::string& FileName);

  // "Show files": the pending files of the enabled entries in the pop-up list.
  void sbViewFilesClick();
  // The status dialog's list: the pending files of every entry, or "No files".
  void GetChangedFileList(std::vector<std::string>& List) const;

  // Shows the entry's details in the window's fields.
  void ShowTaskInfo(std::size_t Index);

  std::size_t MonTaskCount() const { return FMonTasks.size(); }
  TMonTask& MonTask(std::size_t Index) { return *FMonTasks.at(Index); }
  const TMonTask& MonTask(std::size_t Index) const { return *FMonTasks.at(Index); }

  const std::string& IniName() const { return FSetup.IniName; }
  const std::string& JobDir() const { return FJobDir; }
  std::int32_t BuInterval() const { return FBuInterval; }
  const TIntervalDisplay& Interval() const { return FInterval; }
  bool SysTray() const { return FSysTray; }
  bool WriteLog() const { return FWriteLog; }
  std::int32_t FileCount() const { return FFileCount; }
  std::int32_t TimeCount() const { return FTimeCount; }
  TTaskBarStatus TbStatus() const { return FTbStatus; }
  std::int32_t DHeight() const { return FDHeight; }
  std::int32_t DWidth() const { return FDWidth; }

  TWatchdogView& View() { return FView; }
  TLogSink& Log() { return FLog; }

protected:
  // The last backup of every pending file when monitoring stops, run while
  // the watchers are stopped but not yet released. The backup worker and
  // its scheduler fill this in (RunBackups with waiting). Until then the
  // pending files stay in FileList, and this writes them to the settings
  // file, so that a crash before the next save loses none of them.
  virtual void RunLastBackup();

private:
  // What monitoring keeps per watched entry besides the entry itself.
  struct TWatchState {
    bool LimitReported = false;  // the watch-limit line is logged once
    // The old name of the last report when it was the first half of a
    // rename: if the new name is a directory, the pending files below the
    // old one move along.
    std::string RenamedOld;
  };

  void StartWatcher(std::size_t Index);
  void DirWatchError(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage);
  // After lost changes: collects every file of the tree that passes the
  // filters and changed from LostSince on (less a little slack).
  void RescanAfterLostChanges(std::size_t Index, std::chrono::system_clock::time_point LostSince);
  // The entry at position ChgNotId when Sender is its watcher; otherwise none.
  TMonTask* WatchedTask(const TDirectoryWatch& Sender, int ChgNotId);
  void AddPending(TMonTask& Task, const std::string& FileName);
  void RemovePending(TMonTask& Task, const std::string& FileName);
  // The pending files below OldDir are renamed to lie below NewDir (those
  // that pass the filters there), or dropped when NewDir is empty.
  void MovePendingBelow(std::size_t Index, const std::string& OldDir, const std::string& NewDir);

  TWatchdogView& FView;
  TLogSink& FLog;
  TMainThreadQueue& FQueue;
  TDirWatchBackendFactory FWatchBackend;
  TWatchdogSetup FSetup;
  std::vector<std::unique_ptr<TMonTask>> FMonTasks;  // in settings-file order
  std::string FJobDir;
  std::int32_t FBuInterval = DefaultBuInterval;
  TIntervalDisplay FInterval;
  bool FSysTray = false;
  bool FWriteLog = false;
  std::int32_t FFileCount = 0;
  std::int32_t FTimeCount = 0;
  bool FMonitoring = false;
  TTaskBarStatus FTbStatus = tbsOff;
  std::vector<TWatchState> FWatchStates;  // by list index, while monitoring runs
  std::int32_t FDHeight = 0;
  std::int32_t FDWidth = 0;
};

}  // namespace dz
