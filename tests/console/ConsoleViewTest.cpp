#include "console/ConsoleView.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace dz {
namespace {

using namespace std::chrono_literals;

// A view on two string streams with a clock the test moves.
class ConsoleViewTest : public ::testing::Test {
protected:
  TConsoleView MakeView(bool Terminal) {
    return TConsoleView({FOut, FErr, Terminal}, [this] { return FNow; });
  }
  static TWatchdogState StateWith(const std::string& Count, const std::string& Countdown) {
    TWatchdogState S;
    S.FileCountText = Count;
    S.CountdownText = Countdown;
    return S;
  }
  // What was written since the last call.
  std::string NewOut() {
    std::string All = FOut.str();
    std::string New = All.substr(FOutSeen);
    FOutSeen = All.size();
    return New;
  }

  std::ostringstream FOut;
  std::ostringstream FErr;
  std::size_t FOutSeen = 0;
  std::chrono::steady_clock::time_point FNow{std::chrono::hours(1)};
};

// One published state after the clock moved on, and what it adds to the
// output.
struct TStep {
  std::chrono::milliseconds Advance;
  const char* Count;
  const char* Countdown;
  const char* Written;
};

constexpr const char* Clear = "\r\x1b[K";

TEST_F(ConsoleViewTest, OffTheTerminalTheCountIsALineAndTheCountdownNever) {
  TConsoleView View = MakeView(false);
  const TStep Steps[] = {
      {0ms, "", "", ""},                     // not monitoring
      {0ms, "No files", "10 s", "No files\n"},
      {1000ms, "No files", "9 s", ""},
      {0ms, "2 files", "9 s", "2 files\n"},
      {5000ms, "2 files", "4 s", ""},
      {1000ms, "No files", "10 s", "No files\n"},
      {0ms, "", "", ""},                     // stopped: nothing to say
  };
  for (const TStep& Step : Steps) {
    SCOPED_TRACE(std::string(Step.Count) + " | " + Step.Countdown);
    FNow += Step.Advance;
    View.StateChanged(StateWith(Step.Count, Step.Countdown));
    EXPECT_EQ(NewOut(), Step.Written);
  }
  EXPECT_EQ(FErr.str(), "");
}

TEST_F(ConsoleViewTest, OnATerminalOneStatusLineWithTheCountdownAtMostOnceASecond) {
  TConsoleView View = MakeView(true);
  const TStep Steps[] = {
      {0ms, "No files", "10 s", "No files - Next backup: 10 s"},
      {300ms, "No files", "9 s", ""},  // too soon after the last countdown
      // The count is shown at once, with the countdown last shown.
      {0ms, "1 file", "9 s", "\r\x1b[K1 file - Next backup: 10 s"},
      {700ms, "1 file", "9 s", "\r\x1b[K1 file - Next backup: 9 s"},
      {0ms, "1 file", "9 s", ""},
      // A tick a little less late than the one before still shows its second.
      {950ms, "1 file", "8 s", "\r\x1b[K1 file - Next backup: 8 s"},
      {3000ms, "1 file", "8 s", ""},  // unchanged: nothing, however long
      {0ms, "1 file", "on demand", "\r\x1b[K1 file - Next backup: on demand"},
      {1000ms, "", "", "\r\x1b[K"},  // stopped: the line is taken away
      {1000ms, "", "", ""},
  };
  for (const TStep& Step : Steps) {
    SCOPED_TRACE(std::string(Step.Count) + " | " + Step.Countdown);
    FNow += Step.Advance;
    View.StateChanged(StateWith(Step.Count, Step.Countdown));
    EXPECT_EQ(NewOut(), Step.Written);
  }
}

TEST_F(ConsoleViewTest, LogLinesAreSplitAndPassUnderTheStatusLine) {
  for (const bool Terminal : {false, true}) {
    SCOPED_TRACE(Terminal ? "terminal" : "pipe");
    TConsoleView View = MakeView(Terminal);
    View.StateChanged(StateWith("1 file", "5 s"));
    NewOut();
    View.LogLineAdded("01: copied a.txt\r\n    to /b/a.txt");
    View.LogLineAdded("");
    const std::string Lines = "01: copied a.txt\n    to /b/a.txt\n";
    if (Terminal) {
      const std::string Status = "1 file - Next backup: 5 s";
      EXPECT_EQ(NewOut(), Clear + Lines + Status + Clear + "\n" + Status);
    } else {
      EXPECT_EQ(NewOut(), Lines + "\n");
    }
  }
}

TEST_F(ConsoleViewTest, MessagesAndWarningsGoToStandardError) {
  TConsoleView View = MakeView(true);
  View.StateChanged(StateWith("No files", "7 s"));
  NewOut();
  View.ShowMessage("Please specify at least one directory to be monitored!");
  View.ShowDestinationWarning("Backup destination \"/b/\" not available!\r\nPlease check!");
  EXPECT_EQ(FErr.str(),
            "Please specify at least one directory to be monitored!\n"
            "Backup destination \"/b/\" not available!\nPlease check!\n");
  // The status line leaves the terminal while the message is written, and
  // comes back after it.
  const std::string Status = "No files - Next backup: 7 s";
  EXPECT_EQ(NewOut(), Clear + Status + Clear + Status);
}

TEST(SplitLinesTest, LineEnds) {
  const struct {
    const char* Text;
    std::vector<std::string_view> Lines;
  } Cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\r\n", {"a"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\n\r", {"a", ""}},  // LF then a lone CR: two line ends
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(Case.Text)));
    EXPECT_EQ(SplitLines(Case.Text), Case.Lines);
  }
}

TEST_F(ConsoleViewTest, QuestionsAreAnsweredFromInputOrNo) {
  const struct {
    std::optional<std::string> Answer;  // empty: the end of input
    bool Yes;
  } Cases[] = {
      {"y", true}, {"Yes", true}, {" YES ", true}, {"n", false}, {"", false}, {"yess", false}, {std::nullopt, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Answer.value_or("(end of input)"));
    TConsoleView View = MakeView(false);
    int Asked = 0;
    View.SetLineSource([&] {
      ++Asked;
      return Case.Answer;
    });
    EXPECT_EQ(View.AskQuestion("Remove selected directory from list?"), Case.Yes);
    EXPECT_EQ(Asked, 1);
  }
  // Nobody to ask: No.
  TConsoleView View = MakeView(false);
  NewOut();
  EXPECT_FALSE(View.AskQuestion("Remove selected directory from list?"));
  EXPECT_EQ(NewOut(), "Remove selected directory from list?\nYes or No? [y/N] \n");
}

TEST_F(ConsoleViewTest, TheWindowPlacementIsKeptForTheSettingsFile) {
  TConsoleView View = MakeView(false);
  EXPECT_EQ(View.DesignedClientSize(), (TClientSize{590, 736}));
  // Until the settings file gives one, the designed size: a file written
  // without ever having had a window must not make a window of no size.
  EXPECT_EQ(View.GetWindowPlacement(), (TWindowPlacement{0, 0, 590, 736}));
  View.SetWindowPlacement({120, 240, 600, 800});
  EXPECT_EQ(View.GetWindowPlacement(), (TWindowPlacement{120, 240, 600, 800}));
}

}  // namespace
}  // namespace dz
