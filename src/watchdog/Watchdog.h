#pragma once
// The main window's state without the window: the list of monitored
// directories, the interval, the options "Keep running in background" and
// "Write log to file", and the settings file in which they all survive
// between runs, the pending files of every directory included. What the user
// sees goes through TWatchdogView and what goes wrong while working goes to
// the TLogSink, so the logic runs without a window toolkit. Main thread only.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/BuildInfo.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
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

// --- the controller -----------------------------------------------------------

class TWatchdog {
public:
  // Asks View for the designed client size.
  TWatchdog(TWatchdogView& View, TLogSink& Log, TWatchdogSetup Setup);
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
  ~TWatchdog();

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
  std::int32_t DHeight() const { return FDHeight; }
  std::int32_t DWidth() const { return FDWidth; }

  TWatchdogView& View() { return FView; }
  TLogSink& Log() { return FLog; }

private:
  TWatchdogView& FView;
  TLogSink& FLog;
  TWatchdogSetup FSetup;
  std::vector<std::unique_ptr<TMonTask>> FMonTasks;  // in settings-file order
  std::string FJobDir;
  std::int32_t FBuInterval = DefaultBuInterval;
  TIntervalDisplay FInterval;
  bool FSysTray = false;
  bool FWriteLog = false;
  std::int32_t FFileCount = 0;
  std::int32_t FDHeight = 0;
  std::int32_t FDWidth = 0;
};

}  // namespace dz
