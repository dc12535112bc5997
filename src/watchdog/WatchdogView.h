#pragma once
// What the front-ends (the Qt window, the console) show of the watchdog. The
// core keeps every rule of what is enabled, visible or captioned in which
// state and publishes the result as one snapshot, TWatchdogState; a
// front-end renders the snapshot and reports the user's actions by calling
// the controller's handlers (TWatchdog). Besides the snapshot there are a few
// events: a log line, a message, a question, the destination warning, the
// pending-file pop-up. The snapshot is all a front-end reads of the
// entries; what is too long to publish every second (the status dialog's
// list of pending files, the filter display of one entry) it asks the
// controller for as a value. Every call comes from the main thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "watchdog/MonTask.h"

namespace dz {

struct TClientSize {
  std::int32_t Height = 0;
  std::int32_t Width = 0;
  friend bool operator==(const TClientSize&, const TClientSize&) = default;
};

// The window's position on the screen and the size of its client area.
struct TWindowPlacement {
  std::int32_t Top = 0;
  std::int32_t Left = 0;
  std::int32_t ClientHeight = 0;
  std::int32_t ClientWidth = 0;
  friend bool operator==(const TWindowPlacement&, const TWindowPlacement&) = default;
};

// The index is the position in the unit box.
enum TIntervalUnit : int { iuSeconds = 0, iuMinutes = 1, iuHours = 2 };

// The interval controls: the check box "Enable periodic backups", the value
// field with its spin button, and the unit box. The value field, its spin
// button and the unit box are enabled exactly when Periodic is set.
struct TIntervalDisplay {
  bool Periodic = true;
  TIntervalUnit Unit = iuMinutes;
  std::int32_t Value = 30;
  std::int32_t MinValue = 1;
  std::int32_t MaxValue = 360;
  std::int32_t Step = 1;
  std::string Hint;  // of the value field
  friend bool operator==(const TIntervalDisplay&, const TIntervalDisplay&) = default;
};

// What the notification-area icon shows: not monitoring, monitoring with
// nothing pending, monitoring with files pending.
enum TTaskBarStatus : int { tbsOff = 0, tbsWait = 1, tbsRun = 2 };

// The clock-style progress display of the countdown: a full turn is one
// interval. Its foreground is crimson while files are pending, green
// otherwise; the background is white.
struct TClockProgress {
  std::int32_t Period = 0;    // seconds of one full turn
  std::int32_t Position = 0;  // seconds gone of the period
  bool Running = false;
  bool Visible = false;
  bool FilesPending = false;
  friend bool operator==(const TClockProgress&, const TClockProgress&) = default;
};

// The detail fields of the selected monitored directory.
struct TTaskInfo {
  std::string Task;             // the task file
  bool EditEnabled = false;     // "Edit backup task"
  std::string Destination;
  std::string MethodText;       // "Method: " and the directory-structure mode
  std::string CompressionText;
  std::int32_t RetainBak = 0;   // the retain-versions spin button
  friend bool operator==(const TTaskInfo&, const TTaskInfo&) = default;
};

// One item of the directory list.
struct TDirItem {
  std::string Text;             // position in two digits, ": ", the directory
  bool Checked = false;         // the entry is enabled
  TRunStatus RunStatus = rsOff;  // picks the status icon
  std::size_t Pending = 0;      // its pending files
  bool Invalid = false;         // its task or directory cannot be used (the red ball)
  // A backup destination of the entry lies in its directory: changes there
  // are not collected (they are the backups themselves), which the user
  // should know of and mend in the task.
  bool DestinationInside = false;
  std::size_t GivenUp = 0;      // failed files that are no longer retried
  // Why the entry is not watched now although it may be checked: its task
  // file or directory is missing. It is taken up again when they are back;
  // Invalid is set meanwhile.
  std::string Unavailable;
  std::string Dir;              // the monitored directory, unescaped
  // Checked by the user (enabled), unchecked (disabled), or its task
  // cannot be used (invalid); the console's status names it.
  TMonTaskStatus Status = mtEnabled;
  friend bool operator==(const TDirItem&, const TDirItem&) = default;
};

// Everything the front-ends show of the watchdog, computed by the core.
struct TWatchdogState {
  bool Monitoring = false;

  std::vector<TDirItem> DirItems;
  int Selected = -1;                    // the selected item, -1 for none
  std::optional<TTaskInfo> TaskInfo;    // empty: the detail fields are cleared
  bool RemoveEnabled = true;

  bool SysTrayChecked = false;          // "Keep running in background"
  bool WriteLogChecked = false;         // "Write log to file"
  TIntervalDisplay Interval;
  bool PeriodicEnabled = true;          // the user may switch periodic backups

  // The group "Next backup".
  std::string CountdownText;
  std::string FileCountText;
  bool NotScheduledVisible = true;
  bool ShowFilesVisible = false;
  TClockProgress ClockProgress;

  bool StartEnabled = true;
  std::string StartHint;
  bool StopEnabled = false;
  // The quit button: with "Keep running in background" checked it moves
  // the program to the background instead of ending it.
  bool QuitToBackground = false;
  std::string QuitHint;
  // The one-second timer that calls TWatchdog::Tick.
  bool BackupTimerEnabled = false;

  // The notification area: the icon, its tip, the menu.
  TTaskBarStatus TrayStatus = tbsOff;
  std::string TrayTip;
  std::string TrayStartStopCaption;
  bool ImmediateBackupEnabled = false;  // "Start immediate backup"
  // The status dialog: "Next backup: " and the countdown, and the count text.
  std::string StatusLine;
  std::string StatusFileLine;
  // The status dialog's information: the list label and the watched
  // directories, or that monitoring is not active.
  std::string ActiveDirsText;

  friend bool operator==(const TWatchdogState&, const TWatchdogState&) = default;
};

class TWatchdogView {
public:
  virtual ~TWatchdogView() = default;

  // The client size the window was designed with, at the current screen
  // scaling. Asked once, when the controller is created, so it must not
  // depend on the window being fully built.
  virtual TClientSize DesignedClientSize() const = 0;
  virtual TWindowPlacement GetWindowPlacement() const = 0;
  virtual void SetWindowPlacement(const TWindowPlacement& Placement) = 0;

  // The state has changed; State is complete, not a difference.
  virtual void StateChanged(const TWatchdogState& State) = 0;

  // A line was added to the log (it may hold CR LF: several lines); the
  // log was emptied.
  virtual void LogLineAdded(const std::string& Line) = 0;
  virtual void LogCleared() = 0;

  // A message window with the text and an OK button.
  virtual void ShowMessage(const std::string& Text) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskQuestion(const std::string& Text) = 0;
  // A destination has been missing too often: a window that shows the text
  // with the error icon and stays until the user closes it; it does not
  // stop the program.
  virtual void ShowDestinationWarning(const std::string& Text) = 0;
  // The pop-up list of pending files just below "Show files".
  virtual void ShowChangedFiles(const std::vector<std::string>& Lines) = 0;
};

}  // namespace dz
