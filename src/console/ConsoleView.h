#pragma once
// The watchdog's view on a text console. Log lines go to standard output as
// they come. The number of pending files and the countdown to the next
// backup are shown as a status line: on a terminal one line rewritten in
// place ("\r"), the countdown only when its text changed and at most once a
// second; elsewhere (a pipe, a file, a service's journal) a plain line
// whenever the number changes and never the countdown, which would fill a
// log with a line a second. Messages and the destination warning go to
// standard error. A question is answered from standard input by the
// function the program gives; without one, or at the end of input, the
// answer is No.

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "watchdog/WatchdogView.h"

namespace dz {

// The next line of standard input, waited for; empty at the end of input.
using TConsoleLineSource = std::function<std::optional<std::string>()>;
using TConsoleClock = std::function<std::chrono::steady_clock::time_point()>;

struct TConsoleStreams {
  std::ostream& Out;
  std::ostream& Err;
  bool OutIsTerminal = false;
};

class TConsoleView : public TWatchdogView {
public:
  explicit TConsoleView(TConsoleStreams Streams,
                        TConsoleClock Clock = [] { return std::chrono::steady_clock::now(); });

  void SetLineSource(TConsoleLineSource Source) { FLineSource = std::move(Source); }

  // Lines of the program's own (answers to commands), printed as log lines
  // are, so that they do not run into the status line.
  void PrintLines(std::string_view Text);
  // A line to standard error (failures of the program's own).
  void PrintError(std::string_view Text);

  // TWatchdogView
  TClientSize DesignedClientSize() const override;
  TWindowPlacement GetWindowPlacement() const override { return FPlacement; }
  void SetWindowPlacement(const TWindowPlacement& Placement) override { FPlacement = Placement; }
  void StateChanged(const TWatchdogState& State) override;
  void LogLineAdded(const std::string& Line) override { PrintLines(Line); }
  void LogCleared() override {}
  void ShowMessage(const std::string& Text) override { PrintError(Text); }
  bool AskQuestion(const std::string& Text) override;
  void ShowDestinationWarning(const std::string& Text) override { PrintError(Text); }
  void ShowChangedFiles(const std::vector<std::string>& Lines) override;

private:
  // The status line is taken off the terminal before other text and put
  // back after it.
  void HideStatus();
  void ShowStatus();
  std::string StatusText() const;

  TConsoleStreams FStreams;
  TConsoleClock FClock;
  TConsoleLineSource FLineSource;
  // The window is not shown, but its place and size belong to the settings
  // file and are written back as they were read.
  TWindowPlacement FPlacement;
  std::string FCountShown;
  std::string FCountdownShown;
  std::optional<std::chrono::steady_clock::time_point> FCountdownShownAt;
  bool FStatusOnScreen = false;
};

// Text without the blanks and tabs at its ends: how a typed answer or
// command is read.
std::string_view TrimBlanks(std::string_view Text);

// The text split into its lines at CR LF, LF or CR. A line end at the end
// starts no further line; an empty text is one empty line.
std::vector<std::string_view> SplitLines(std::string_view Text);

}  // namespace dz
