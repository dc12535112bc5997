#pragma once
// A front-end that shows nothing, for timing the controller alone.

#include <stdexcept>
#include <string>
#include <vector>

#include "watchdog/WatchdogView.h"

namespace dz::bench {

class TNullView : public TWatchdogView {
public:
  TClientSize DesignedClientSize() const override { return {590, 736}; }
  TWindowPlacement GetWindowPlacement() const override { return FPlacement; }
  void SetWindowPlacement(const TWindowPlacement& Placement) override { FPlacement = Placement; }
  void StateChanged(const TWatchdogState&) override {}
  // Keeps the last line, so that a failing benchmark can say why.
  void LogLineAdded(const std::string& Line) override { LastLine = Line; }
  void LogCleared() override {}
  // A benchmark that needs a message or an answer has gone wrong.
  void ShowMessage(const std::string& Text) override { throw std::runtime_error(Text); }
  bool AskQuestion(const std::string& Text) override { throw std::runtime_error(Text); }
  void ShowDestinationWarning(const std::string& Text) override { throw std::runtime_error(Text); }
  void ShowChangedFiles(const std::vector<std::string>&) override {}

  std::string LastLine;

private:
  TWindowPlacement FPlacement{100, 100, 590, 736};
};

}  // namespace dz::bench
