#pragma once
// A front-end that records what the controller publishes, for driving
// TWatchdog without a window toolkit.

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "watchdog/WatchdogView.h"

namespace dz::test {

class TFakeWatchdogView : public TWatchdogView {
public:
  // Set by the test before the controller is created; the designed size of
  // the real window at 96 dots per inch.
  TClientSize Designed{590, 736};
  TWindowPlacement Placement{120, 240, 590, 736};

  TWatchdogState State;          // the last one published
  int StateChanges = 0;
  // How many log lines there were when the state last turned to stopped.
  std::optional<std::size_t> LogLinesWhenStopped;
  std::vector<std::string> LogLines;
  std::vector<std::string> Messages;
  std::vector<std::string> Questions;
  bool Answer = true;            // to every question
  std::vector<std::string> Warnings;
  std::vector<std::vector<std::string>> ChangedFiles;  // every pop-up list shown

  TClientSize DesignedClientSize() const override { return Designed; }
  TWindowPlacement GetWindowPlacement() const override { return Placement; }
  void SetWindowPlacement(const TWindowPlacement& P) override { Placement = P; }

  void StateChanged(const TWatchdogState& S) override {
    if (State.Monitoring && !S.Monitoring) LogLinesWhenStopped = LogLines.size();
    State = S;
    ++StateChanges;
  }
  void LogLineAdded(const std::string& Line) override { LogLines.push_back(Line); }
  void LogCleared() override { LogLines.clear(); }
  void ShowMessage(const std::string& Text) override { Messages.push_back(Text); }
  bool AskQuestion(const std::string& Text) override {
    Questions.push_back(Text);
    return Answer;
  }
  void ShowDestinationWarning(const std::string& Text) override { Warnings.push_back(Text); }
  void ShowChangedFiles(const std::vector<std::string>& Lines) override { ChangedFiles.push_back(Lines); }

  // The directory list's texts and check marks.
  std::vector<std::pair<std::string, bool>> DirTexts() const {
    std::vector<std::pair<std::string, bool>> Items;
    for (const TDirItem& Item : State.DirItems) Items.emplace_back(Item.Text, Item.Checked);
    return Items;
  }
};

}  // namespace dz::test
