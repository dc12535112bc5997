#pragma once
// What the main window shows of the controller's state, as seen from the
// controller. The window implements this; tests use a recording fake. Every
// call comes from the main thread. The window reports the user's actions by
// calling the controller's handlers (TWatchdog).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// The clock-style progress display of the countdown.
struct TClockProgress {
  std::int32_t Period = 0;    // seconds of one full turn
  std::int32_t Position = 0;  // seconds gone of the period
  bool Running = false;
  bool Visible = false;
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

class TWatchdogView {
public:
  virtual ~TWatchdogView() = default;

  // The client size the window was designed with, at the current screen
  // scaling. Asked once, when the controller is created, so it must not
  // depend on the window being fully built.
  virtual TClientSize DesignedClientSize() const = 0;
  virtual TWindowPlacement GetWindowPlacement() const = 0;
  virtual void SetWindowPlacement(const TWindowPlacement& Placement) = 0;

  // The directory list holds one item per monitored directory, in the
  // controller's order: its text and its check mark.
  virtual void AddDirItem(const std::string& Text, bool Checked) = 0;
  virtual void SetDirItem(std::size_t Index, const std::string& Text, bool Checked) = 0;
  // The selected item, or -1 when none is.
  virtual int SelectedDirItem() const = 0;
  virtual void SelectDirItem(std::size_t Index) = 0;
  // Paints the list again: each item's status icon follows its entry's
  // run status.
  virtual void RepaintDirList() = 0;
  virtual void ShowTaskInfo(const TTaskInfo& Info) = 0;

  // "Keep running in background" and "Write log to file".
  virtual void SetSysTrayChecked(bool Checked) = 0;
  virtual void SetWriteLogChecked(bool Checked) = 0;

  virtual void ShowInterval(const TIntervalDisplay& Interval) = 0;
  // Whether the user may switch periodic backups on or off.
  virtual void SetPeriodicEnabled(bool Enabled) = 0;

  // The group "Next backup": the countdown, the number of pending files,
  // "Not scheduled" and the button "Show files".
  virtual void SetCountdownText(const std::string& Text) = 0;
  virtual void SetFileCountText(const std::string& Text) = 0;
  virtual void SetNotScheduledVisible(bool Visible) = 0;
  virtual void SetShowFilesVisible(bool Visible) = 0;
  virtual void ShowClockProgress(const TClockProgress& Progress) = 0;
  // Opens the pop-up list of pending files just below "Show files".
  virtual void ShowChangedFiles(const std::vector<std::string>& Lines) = 0;

  // The buttons that start and stop monitoring and remove a directory.
  virtual void SetStartEnabled(bool Enabled) = 0;
  virtual void SetStartHint(const std::string& Hint) = 0;
  virtual void SetStopEnabled(bool Enabled) = 0;
  virtual void SetRemoveEnabled(bool Enabled) = 0;

  // The one-second backup timer that drives the scheduler.
  virtual void SetBackupTimerEnabled(bool Enabled) = 0;

  // The notification area: the icon's picture and tip, and the caption of
  // the menu item that starts or stops monitoring.
  virtual void ShowTrayStatus(TTaskBarStatus Status) = 0;
  virtual void SetTrayTip(const std::string& Tip) = 0;
  virtual void SetTrayStartStopCaption(const std::string& Caption) = 0;

  // A message window with the text and an OK button.
  virtual void ShowMessage(const std::string& Text) = 0;
};

}  // namespace dz
