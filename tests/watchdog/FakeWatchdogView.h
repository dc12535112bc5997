#pragma once
// A window that records what the controller shows, and a log that records
// its lines, for driving TWatchdog without a window toolkit.

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "watchdog/LogSink.h"
#include "watchdog/WatchdogView.h"

namespace dz::test {

class TFakeWatchdogView : public TWatchdogView {
public:
  struct TDirItem {
    std::string Text;
    bool Checked = false;
    friend bool operator==(const TDirItem&, const TDirItem&) = default;
  };

  // Set by the test before the controller is created; the designed size of
  // the real window at 96 dots per inch.
  TClientSize Designed{590, 736};
  TWindowPlacement Placement{120, 240, 590, 736};

  std::vector<TDirItem> DirItems;
  int Selected = -1;  // the user's selection; the controller may change it
  int Repaints = 0;
  std::optional<TTaskInfo> TaskInfo;
  std::optional<bool> SysTrayChecked;  // empty until the controller set it
  std::optional<bool> WriteLogChecked;
  std::optional<TIntervalDisplay> Interval;
  std::vector<std::string> Messages;

  // The window as it is designed: not monitoring. Empty optionals were
  // never set.
  bool PeriodicEnabled = true;
  std::string CountdownText;
  std::string FileCountText;
  bool NotScheduledVisible = true;
  bool ShowFilesVisible = false;
  std::optional<TClockProgress> ClockProgress;
  std::optional<std::vector<std::string>> ChangedFiles;  // the last pop-up list
  bool StartEnabled = true;
  std::string StartHint = "Start monitoring the selected directories";
  bool StopEnabled = false;
  bool RemoveEnabled = true;
  bool BackupTimerEnabled = false;
  std::optional<TTaskBarStatus> TrayStatus;
  std::string TrayTip;
  std::string TrayStartStopCaption = "Start monitoring";

  TClientSize DesignedClientSize() const override { return Designed; }
  TWindowPlacement GetWindowPlacement() const override { return Placement; }
  void SetWindowPlacement(const TWindowPlacement& P) override { Placement = P; }

  void AddDirItem(const std::string& Text, bool Checked) override { DirItems.push_back({Text, Checked}); }
  void SetDirItem(std::size_t Index, const std::string& Text, bool Checked) override {
    if (Index >= DirItems.size()) {
      ADD_FAILURE() << "SetDirItem(" << Index << ") on a list of " << DirItems.size() << " items";
      return;
    }
    DirItems[Index] = {Text, Checked};
  }

  int SelectedDirItem() const override { return Selected; }
  void SelectDirItem(std::size_t Index) override {
    if (Index >= DirItems.size()) {
      ADD_FAILURE() << "SelectDirItem(" << Index << ") on a list of " << DirItems.size() << " items";
      return;
    }
    Selected = static_cast<int>(Index);
  }
  void RepaintDirList() override { ++Repaints; }
  void ShowTaskInfo(const TTaskInfo& Info) override { TaskInfo = Info; }

  void SetSysTrayChecked(bool Checked) override { SysTrayChecked = Checked; }
  void SetWriteLogChecked(bool Checked) override { WriteLogChecked = Checked; }
  void ShowInterval(const TIntervalDisplay& I) override { Interval = I; }
  void SetPeriodicEnabled(bool Enabled) override { PeriodicEnabled = Enabled; }
  void SetCountdownText(const std::string& Text) override { CountdownText = Text; }
  void SetFileCountText(const std::string& Text) override { FileCountText = Text; }
  void SetNotScheduledVisible(bool Visible) override { NotScheduledVisible = Visible; }
  void SetShowFilesVisible(bool Visible) override { ShowFilesVisible = Visible; }
  void ShowClockProgress(const TClockProgress& Progress) override { ClockProgress = Progress; }
  void ShowChangedFiles(const std::vector<std::string>& Lines) override { ChangedFiles = Lines; }
  void SetStartEnabled(bool Enabled) override { StartEnabled = Enabled; }
  void SetStartHint(const std::string& Hint) override { StartHint = Hint; }
  void SetStopEnabled(bool Enabled) override { StopEnabled = Enabled; }
  void SetRemoveEnabled(bool Enabled) override { RemoveEnabled = Enabled; }
  void SetBackupTimerEnabled(bool Enabled) override { BackupTimerEnabled = Enabled; }
  void ShowTrayStatus(TTaskBarStatus Status) override { TrayStatus = Status; }
  void SetTrayTip(const std::string& Tip) override { TrayTip = Tip; }
  void SetTrayStartStopCaption(const std::string& Caption) override { TrayStartStopCaption = Caption; }
  void ShowMessage(const std::string& Text) override { Messages.push_back(Text); }
};

class TRecordingLog : public TLogSink {
public:
  std::vector<std::string> Lines;
  void AddLogLine(const std::string& Line) override { Lines.push_back(Line); }
};

}  // namespace dz::test
