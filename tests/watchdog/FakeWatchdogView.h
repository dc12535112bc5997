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
  std::optional<bool> SysTrayChecked;  // empty until the controller set it
  std::optional<bool> WriteLogChecked;
  std::optional<TIntervalDisplay> Interval;
  std::vector<std::string> Messages;

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

  void SetSysTrayChecked(bool Checked) override { SysTrayChecked = Checked; }
  void SetWriteLogChecked(bool Checked) override { WriteLogChecked = Checked; }
  void ShowInterval(const TIntervalDisplay& I) override { Interval = I; }
  void ShowMessage(const std::string& Text) override { Messages.push_back(Text); }
};

class TRecordingLog : public TLogSink {
public:
  std::vector<std::string> Lines;
  void AddLogLine(const std::string& Line) override { Lines.push_back(Line); }
};

}  // namespace dz::test
