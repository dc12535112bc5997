#pragma once
// A window and a log that show nothing, for timing the controller alone.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "watchdog/LogSink.h"
#include "watchdog/WatchdogView.h"

namespace dz::bench {

class TNullView : public TWatchdogView {
public:
  TClientSize DesignedClientSize() const override { return {590, 736}; }
  TWindowPlacement GetWindowPlacement() const override { return FPlacement; }
  void SetWindowPlacement(const TWindowPlacement& Placement) override { FPlacement = Placement; }
  void AddDirItem(const std::string&, bool) override {}
  void SetDirItem(std::size_t, const std::string&, bool) override {}
  int SelectedDirItem() const override { return -1; }
  void SelectDirItem(std::size_t) override {}
  void RepaintDirList() override {}
  void ShowTaskInfo(const TTaskInfo&) override {}
  void SetSysTrayChecked(bool) override {}
  void SetWriteLogChecked(bool) override {}
  void ShowInterval(const TIntervalDisplay&) override {}
  void SetPeriodicEnabled(bool) override {}
  void SetCountdownText(const std::string&) override {}
  void SetFileCountText(const std::string&) override {}
  void SetNotScheduledVisible(bool) override {}
  void SetShowFilesVisible(bool) override {}
  void ShowClockProgress(const TClockProgress&) override {}
  void ShowChangedFiles(const std::vector<std::string>&) override {}
  void SetStartEnabled(bool) override {}
  void SetStartHint(const std::string&) override {}
  void SetStopEnabled(bool) override {}
  void SetRemoveEnabled(bool) override {}
  void SetBackupTimerEnabled(bool) override {}
  void ShowTrayStatus(TTaskBarStatus) override {}
  void SetTrayTip(const std::string&) override {}
  void SetTrayStartStopCaption(const std::string&) override {}
  // A benchmark that needs a message has gone wrong.
  void ShowMessage(const std::string& Text) override { throw std::runtime_error(Text); }

private:
  TWindowPlacement FPlacement{100, 100, 590, 736};
};

// Keeps the lines, so that a failing benchmark can say why.
class TNullLog : public TLogSink {
public:
  void AddLogLine(const std::string& Line) override { LastLine = Line; }
  std::string LastLine;
};

}  // namespace dz::bench
