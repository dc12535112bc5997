#include "watchdog/LogLines.h"

#include <gtest/gtest.h>

#include <string>

namespace dz {
namespace {

TEST(LogLinesTest, EveryFormIsBuiltByteForByte) {
  const struct {
    const char* Name;
    std::string Line;
    const char* Expected;
  } Cases[] = {
      {"first entry", EntryLine(0, "/home/a"), "01: /home/a"},
      {"two digits at least", EntryLine(8, "x"), "09: x"},
      {"more digits when needed", EntryLine(99, "x"), "100: x"},
      {"empty text", EntryLine(1, ""), "02: "},
      {"position from 1", EntryLine(EntryIndex(12), "x"), "12: x"},
      {"position 0 of no list", EntryLine(EntryIndex(0), "x"), "00: x"},
      {"timed", TimedEntryLine("09.12.2026 14:03:27", 0, "a => b"), "09.12.2026 14:03:27 - 01: a => b"},
      {"timed without a time", TimedEntryLine("", 2, "a"), " - 03: a"},
      {"error", ErrorLine(EntryLine(0, "gone")), "  *** 01: gone"},
      {"destination", DestinationLine(TimedEntryLine("T", 1, "not ready")), " *** T - 02: not ready"},
      {"error on a line of its own", WithErrorLine("a => b", "Copy: denied"), "a => b\r\n  *** Copy: denied"},
      {"list position", ListPosition(4), "05"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(Case.Line, Case.Expected);
  }
}

// The log viewer steps to the lines that begin with the error marker: a
// destination line must not, the second line of a failed copy must.
TEST(LogLinesTest, OnlyErrorLinesBeginWithTheErrorMarker) {
  EXPECT_TRUE(ErrorLine("x").starts_with(LogErrorMarker));
  EXPECT_FALSE(DestinationLine("x").starts_with(LogErrorMarker));
  const std::string Failed = WithErrorLine("a => b", "e");
  EXPECT_FALSE(Failed.starts_with(LogErrorMarker));
  EXPECT_TRUE(Failed.substr(Failed.find("\r\n") + 2).starts_with(LogErrorMarker));
}

}  // namespace
}  // namespace dz
