#pragma once
// The watchdog's settings file as plain data: the window's placement, the
// task folder, the interval, the two check boxes, the monitored directories
// with their pending files, and when the file was last saved. Every key the
// file holds is named here and nowhere else.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dz {

// The settings file has sections Monitor00 to Monitor24 and no more; the list
// never holds more than the file can bring back after a restart.
inline constexpr std::size_t MaxMonTasks = 25;

// Interval in seconds when the settings file has none.
inline constexpr std::int32_t DefaultBuInterval = 1800;

// A file whose copy failed while its source still exists, and when it is
// tried again: at the next backup start, then after 2, then after 4 starts;
// after MaxRetries tries that failed as well it is given up until it changes
// again (a new report, or a scan that finds it changed).
inline constexpr std::int32_t MaxRetries = 3;
struct TFailedFile {
  std::string Name;           // relative to the monitored directory
  std::int32_t Failures = 0;  // copies failed in a row
  // Backup starts to let pass before the next try; 0: tried at the next
  // one (it is pending); below 0: given up.
  std::int32_t Wait = 0;
  int ErrorCode = 0;          // of the last failure
  bool GivenUp() const { return Wait < 0; }
  friend bool operator==(const TFailedFile&, const TFailedFile&) = default;
};

// One monitored directory as the file keeps it.
struct TStoredMonTask {
  std::string BuTask;
  std::string Dir;
  std::int32_t RetainBak = 0;  // held to 0..3
  bool Enabled = true;
  // Pending, relative to Dir, sorted; the failed files are among them, so
  // that a reader that knows nothing of retries still backs them up.
  std::vector<std::string> Files;
  // The retry records of failed files ("Failed000" ...: failures, wait,
  // error code and the name, separated by commas). On loading only those
  // whose name is among Files are kept.
  std::vector<TFailedFile> Failed;
  friend bool operator==(const TStoredMonTask&, const TStoredMonTask&) = default;
};

struct TWatchdogSettings {
  // The window's placement; each value is kept when the file has none.
  std::optional<std::int32_t> Top, Left, ClientHeight, ClientWidth;
  std::optional<std::string> JobDir;
  std::int32_t Interval = DefaultBuInterval;  // seconds; 0 or less: on demand
  bool SysTray = false;
  bool WriteLog = false;
  std::vector<TStoredMonTask> MonTasks;
  // When the pending lists were last written. Changes made after it may not
  // be in them (a crash, a kill, the time the program was not running).
  std::optional<std::chrono::system_clock::time_point> LastSave;
  friend bool operator==(const TWatchdogSettings&, const TWatchdogSettings&) = default;
};

// Reads IniName. A missing file gives the defaults; entries without a task
// file name, and those beyond MaxMonTasks, are left out (whether the task
// file still exists is the caller's question). Raises EFOpenError when the
// file exists but cannot be read.
TWatchdogSettings LoadWatchdogSettings(const std::string& IniName);

// Writes Settings into IniName, keeping whatever else the file holds (the
// section "Config" keys of others, "Unicode"). Raises EWriteError when the
// file cannot be written and EFOpenError when the existing file cannot be
// read, since writing it anyway would drop what it holds.
void SaveWatchdogSettings(const std::string& IniName, const TWatchdogSettings& Settings,
                          const std::string& ProgramName, const std::string& ProgramVersion);

}  // namespace dz
