#include "console/ConsoleView.h"

#include "base/CaseFold.h"
#include "base/Translate.h"

namespace dz {

namespace {

// The window's client size as designed, at 96 dots per inch.
constexpr TClientSize DesignedSize{590, 736};

// The countdown is shown at most once a second. The ticks that change it
// come once a second, each a little late by however long the main thread
// was busy; a tick that is less late than the one before must still show
// its second rather than skip it.
constexpr std::chrono::milliseconds CountdownGap{900};

// Back to the start of the line and everything after the cursor erased.
constexpr std::string_view ClearLine = "\r\x1b[K";

bool IsYes(std::string_view Answer) {
  Answer = TrimBlanks(Answer);
  return SameText(Answer, "y") || SameText(Answer, "yes") || SameText(Answer, Tr("Yes"));
}

}  // namespace

std::string_view TrimBlanks(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

std::vector<std::string_view> SplitLines(std::string_view Text) {
  if (Text.empty()) return {Text};
  std::vector<std::string_view> Lines;
  while (!Text.empty()) {
    const std::size_t End = Text.find_first_of("\r\n");
    Lines.push_back(Text.substr(0, End));
    if (End == std::string_view::npos) break;
    const bool CrLf = Text[End] == '\r' && End + 1 < Text.size() && Text[End + 1] == '\n';
    Text.remove_prefix(End + (CrLf ? 2 : 1));
  }
  return Lines;
}

TConsoleView::TConsoleView(TConsoleStreams Streams, TConsoleClock Clock)
    : FStreams(Streams), FClock(std::move(Clock)), FPlacement{0, 0, DesignedSize.Height, DesignedSize.Width} {}

TClientSize TConsoleView::DesignedClientSize() const { return DesignedSize; }

void TConsoleView::PrintLines(std::string_view Text) {
  HideStatus();
  for (const std::string_view Line : SplitLines(Text)) FStreams.Out << Line << '\n';
  ShowStatus();
}

void TConsoleView::PrintError(std::string_view Text) {
  HideStatus();
  FStreams.Out.flush();
  for (const std::string_view Line : SplitLines(Text)) FStreams.Err << Line << '\n';
  FStreams.Err.flush();
  ShowStatus();
}

bool TConsoleView::AskQuestion(const std::string& Text) {
  HideStatus();
  for (const std::string_view Line : SplitLines(Text)) FStreams.Out << Line << '\n';
  FStreams.Out << Tr("Yes or No?") << " [y/N] " << std::flush;
  const std::optional<std::string> Answer = FLineSource ? FLineSource() : std::nullopt;
  const bool Yes = Answer && IsYes(*Answer);
  // Without input the prompt would stay open on the line.
  if (!Answer) FStreams.Out << '\n';
  ShowStatus();
  return Yes;
}

void TConsoleView::ShowChangedFiles(const std::vector<std::string>& Lines) {
  HideStatus();
  for (const std::string& Line : Lines) FStreams.Out << Line << '\n';
  ShowStatus();
}

void TConsoleView::StateChanged(const TWatchdogState& State) {
  const bool CountChanged = State.FileCountText != FCountShown;
  FCountShown = State.FileCountText;
  bool CountdownChanged = false;
  if (FStreams.OutIsTerminal && State.CountdownText != FCountdownShown) {
    const auto Now = FClock();
    if (!FCountdownShownAt || Now - *FCountdownShownAt >= CountdownGap) {
      FCountdownShown = State.CountdownText;
      FCountdownShownAt = Now;
      CountdownChanged = true;
    }
  }

  if (!FStreams.OutIsTerminal) {
    if (CountChanged && !FCountShown.empty()) FStreams.Out << FCountShown << '\n' << std::flush;
    return;
  }
  if (CountChanged || CountdownChanged) {
    HideStatus();
    ShowStatus();
  }
}

std::string TConsoleView::StatusText() const {
  std::string Text = FCountShown;
  if (!FCountdownShown.empty()) {
    if (!Text.empty()) Text += " - ";
    Text += Tr("Next backup: ") + FCountdownShown;
  }
  return Text;
}

void TConsoleView::HideStatus() {
  if (FStatusOnScreen) FStreams.Out << ClearLine;
  FStatusOnScreen = false;
}

void TConsoleView::ShowStatus() {
  const std::string Text = FStreams.OutIsTerminal ? StatusText() : std::string();
  if (!Text.empty()) {
    FStreams.Out << Text;
    FStatusOnScreen = true;
  }
  FStreams.Out.flush();
}

}  // namespace dz
