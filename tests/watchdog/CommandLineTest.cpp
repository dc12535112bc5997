#include "watchdog/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dz {
namespace {

// The flags as one word, so that a table row reads at a glance: H hide,
// D dark, F force, C console, ? help.
std::string Flags(const TCommandLine& C) {
  std::string S;
  if (C.Hide) S += 'H';
  if (C.Dark) S += 'D';
  if (C.Force) S += 'F';
  if (C.Console) S += 'C';
  if (C.Help) S += '?';
  return S;
}

TEST(CommandLineTest, OptionsAreAbbreviationsAndTheFirstKeywordWins) {
  const struct {
    std::vector<std::string> Args;
    const char* Flags;
  } Cases[] = {
      {{}, ""},
      {{"/f"}, "F"},
      {{"-FORCE"}, "F"},
      {{"/Force"}, "F"},
      {{"force"}, ""},          // not an option without "/" or "-"
      {{"/forced"}, ""},        // longer than the keyword
      {{"/"}, "H"},             // an empty rest matches the first keyword
      {{"-"}, "H"},
      {{"/h"}, "H"},            // hide comes before help
      {{"/Hid"}, "H"},
      {{"/d"}, "D"},
      {{"-dArK"}, "D"},
      {{"/c"}, "C"},
      {{"-console"}, "C"},
      {{"/CONS"}, "C"},
      {{"/consoles"}, ""},
      {{"--console"}, ""},      // the rest "-console" is no keyword
      {{"/he"}, "?"},
      {{"-help"}, "?"},
      {{"/?"}, "?"},
      {{"/h", "/f"}, "HF"},
      {{"/hide", "/dark", "/force", "/console"}, "HDFC"},
      {{"/c", "/x", "-l:de", "/ini:/tmp/s/", "/p"}, "C"},  // others pass without a word
      {{"/f:x"}, ""},           // a value does not make a flag
      {{""}, ""},
  };
  for (const auto& Case : Cases) {
    std::string Trace;
    for (const std::string& Arg : Case.Args) Trace += "[" + Arg + "] ";
    SCOPED_TRACE(Trace);
    const TCommandLine C = ParseCommandLine(Case.Args);
    EXPECT_EQ(Flags(C), Case.Flags);
    EXPECT_TRUE(C.AddTasks.empty());
  }
}

TEST(CommandLineTest, AddTakesTaskFilesInOrder) {
  const struct {
    std::vector<std::string> Args;
    std::vector<std::string> Tasks;
    const char* Flags;
  } Cases[] = {
      {{"/add:/t/a.buj"}, {"/t/a.buj"}, ""},
      {{"-a:rel/b.buj", "/c"}, {"rel/b.buj"}, "C"},
      {{"/ADD:x.buj", "/ad:y.buj"}, {"x.buj", "y.buj"}, ""},
      {{"/add:C:/t/a:b.buj"}, {"C:/t/a:b.buj"}, ""},  // the first ":" ends the keyword
      {{"/add:"}, {""}, ""},                          // kept: the start says the task is missing
      {{"/add"}, {}, ""},                             // no value, no task
      {{"/adds:x.buj"}, {}, ""},
      {{"add:x.buj"}, {}, ""},
  };
  for (const auto& Case : Cases) {
    std::string Trace;
    for (const std::string& Arg : Case.Args) Trace += "[" + Arg + "] ";
    SCOPED_TRACE(Trace);
    const TCommandLine C = ParseCommandLine(Case.Args);
    EXPECT_EQ(C.AddTasks, Case.Tasks);
    EXPECT_EQ(Flags(C), Case.Flags);
  }
}

}  // namespace
}  // namespace dz
