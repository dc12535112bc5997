#include "filters/TextFilter.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace dz {
namespace {

constexpr bool FileFilter = true;
constexpr bool DirFilter = false;

TEST(TTextFilter, StartsAsAnOpenMaskList) {
  TTextFilter Filter(FileFilter, true);
  EXPECT_FALSE(Filter.Regular());
  EXPECT_EQ(Filter.Mode(), fmOff);
  EXPECT_EQ(Filter.Filter(), "*");
  EXPECT_EQ(Filter.MatchAll(), "*");
  EXPECT_EQ(Filter.Separator(), '|');
  EXPECT_TRUE(Filter.IsFileFilter());

  Filter.SetRegular(true);
  EXPECT_EQ(Filter.MatchAll(), ".");
  EXPECT_EQ(Filter.Filter(), ".");
  Filter.SetMode(fmInclude);
  EXPECT_TRUE(Filter.MatchesFilter("README"));
}

TEST(TTextFilter, ResetKeepsTheExpression) {
  TTextFilter Filter(FileFilter, true);
  Filter.SetRegular(true);
  Filter.SetFilter("\\.doc$");
  Filter.SetRegular(false);
  Filter.SetFilter("*.txt");
  Filter.SetMode(fmExclude);

  Filter.Reset();
  EXPECT_FALSE(Filter.Regular());
  EXPECT_EQ(Filter.Mode(), fmOff);
  EXPECT_EQ(Filter.Filter(), "*");
  Filter.SetMode(fmInclude);
  EXPECT_TRUE(Filter.MatchesFilter("README"));
  Filter.SetRegular(true);
  EXPECT_EQ(Filter.Filter(), "\\.doc$");
}

TEST(TTextFilter, EachFormKeepsItsOwnText) {
  TTextFilter Filter(FileFilter, true);
  Filter.SetFilter("*.txt");
  Filter.SetRegular(true);
  Filter.SetFilter("^a");
  EXPECT_EQ(Filter.Filter(), "^a");
  Filter.SetRegular(false);
  EXPECT_EQ(Filter.Filter(), "*.txt");
  Filter.SetMode(fmInclude);
  EXPECT_TRUE(Filter.MatchesFilter("b.txt"));
  EXPECT_FALSE(Filter.MatchesFilter("a.doc"));
}

struct TWriteCase {
  bool IsFileFilter;
  const char* Written;
  const char* ReadBack;
};

TEST(TTextFilter, WritingAMaskList) {
  const TWriteCase Cases[] = {
      {FileFilter, "*", "*.*"},
      {FileFilter, "abc|*.txt", "abc.*|*.txt"},
      {FileFilter, "a||b", "a.*|.*|b.*"},
      {FileFilter, "*.", "*."},
      {FileFilter, "*.txt|*.", "*.txt|*."},
      {FileFilter, "abc|", "abc.*"},              // a trailing separator is no item
      {FileFilter, "|", ".*"},
      {FileFilter, "", "*"},
      {FileFilter, "+*.doc|!~*", "+*.doc|!~*.*"},
      {FileFilter, "x.d\\e", "x.d\\e.*"},         // the dot belongs to a folder
      {FileFilter, "c:abc", "c:abc.*"},
      {FileFilter, "a.b:c.d", "a.b:c.d"},
      {DirFilter, "*", "*"},
      {DirFilter, "a||b", "a||b"},
      {DirFilter, "temp|cache|", "temp|cache|"},
      {DirFilter, "", "*"},
  };
  for (const TWriteCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << (C.IsFileFilter ? "file" : "dir") << " filter \"" << C.Written << "\"");
    TTextFilter Filter(C.IsFileFilter, true);
    Filter.SetFilter(C.Written);
    EXPECT_EQ(Filter.Filter(), C.ReadBack);
  }
}

struct TMatchCase {
  bool IsFileFilter;
  TFilterMode Mode;
  const char* Filter;
  const char* Text;
  bool Passes;
};

TEST(TTextFilter, MatchingAMaskList) {
  const TMatchCase Cases[] = {
      // "*" is stored as "*.*", which wants an extension
      {FileFilter, fmInclude, "*", "README", false},
      {FileFilter, fmInclude, "*", "notes.txt", true},
      {FileFilter, fmInclude, "*.txt|*.", "README", true},
      {FileFilter, fmInclude, "*.txt|*.", "notes.txt", true},
      {FileFilter, fmInclude, "*.txt|*.", "notes.doc", false},
      {FileFilter, fmInclude, "read*.", "readme", true},
      {FileFilter, fmInclude, "read*.", "readme.md", false},
      // a dot before the last "\" or ":" is no extension
      {FileFilter, fmInclude, "*.", "a.b\\c", true},
      {FileFilter, fmInclude, "*.", "a.b:c", true},
      // negation, and all-of lists
      {FileFilter, fmInclude, "!*.tmp", "a.tmp", false},
      {FileFilter, fmInclude, "!*.tmp", "a.txt", true},
      {FileFilter, fmInclude, "!*.tmp", "README", true},
      {FileFilter, fmInclude, "+*.doc|!~*", "letter.doc", true},
      {FileFilter, fmInclude, "+*.doc|!~*", "~letter.doc", false},
      {FileFilter, fmInclude, "+*.doc|!~*", "letter.txt", false},
      {DirFilter, fmInclude, "+a*|*z", "abz", true},
      {DirFilter, fmInclude, "+a*|*z", "ab", false},
      {DirFilter, fmInclude, "+a*|*z", "bz", false},
      {DirFilter, fmInclude, "+", "anything", true},
      {DirFilter, fmInclude, "!", "", false},
      {DirFilter, fmInclude, "!", "x", true},
      // one of several
      {DirFilter, fmInclude, "temp|cache", "cache", true},
      {DirFilter, fmInclude, "temp|cache", "Temp", true},
      {DirFilter, fmInclude, "temp|cache", "tmp", false},
      {DirFilter, fmInclude, "temp||cache", "cache", true},
      {DirFilter, fmInclude, "temp||cache", "docs", false},
      // an empty first item is ignored like any other empty item
      {DirFilter, fmInclude, "|temp", "temp", true},
      {DirFilter, fmInclude, "|temp", "docs", false},
      {DirFilter, fmExclude, "|temp", "docs", true},
      {DirFilter, fmInclude, "|", "docs", true},   // no mask at all: like "*"
      // the dot rule belongs to file filters only
      {DirFilter, fmInclude, "abc.", "abc", false},
      {DirFilter, fmInclude, "abc.", "abc.", true},
      // case
      {FileFilter, fmInclude, "*.TXT", "readme.txt", true},
      {FileFilter, fmInclude, "\xC3\x89*.txt", "\xC3\xA9t\xC3\xA9.txt", false},
      {FileFilter, fmInclude, "\xC3\x89*.txt", "\xC3\x89t\xC3\xA9.txt", true},
      // exclusion
      {FileFilter, fmExclude, "*.tmp", "a.tmp", false},
      {FileFilter, fmExclude, "*.tmp", "a.txt", true},
      {FileFilter, fmExclude, "*.tmp|*.bak", "a.bak", false},
      // a name that is not UTF-8 is still judged by the masks
      {FileFilter, fmExclude, "*.tmp", "\xFF.tmp", false},
      {FileFilter, fmInclude, "?.tmp", "\xFF.tmp", true},
      {FileFilter, fmInclude, "\xFF.tmp", "\xFE.tmp", false},
      // off lets everything through
      {FileFilter, fmOff, "*.doc", "a.txt", true},
      {FileFilter, fmOff, "*.doc", "", true},
      {DirFilter, fmOff, "temp", "docs", true},
      // a mode no task should hold is treated as off
      {FileFilter, static_cast<TFilterMode>(7), "*.doc", "a.txt", true},
      {FileFilter, static_cast<TFilterMode>(-1), "*.doc", "a.txt", true},
  };
  for (const TMatchCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << (C.IsFileFilter ? "file" : "dir") << " filter \"" << C.Filter
                                    << "\" mode " << static_cast<int>(C.Mode) << " text \"" << C.Text << "\"");
    TTextFilter Filter(C.IsFileFilter, true);
    Filter.SetFilter(C.Filter);
    Filter.SetMode(C.Mode);
    EXPECT_EQ(Filter.MatchesFilter(C.Text), C.Passes);
  }
}

struct TRegExpCase {
  bool IgnoreCase;
  TFilterMode Mode;
  const char* Expression;
  const char* Text;
  bool Passes;
};

TEST(TTextFilter, MatchingARegularExpression) {
  const TRegExpCase Cases[] = {
      {false, fmExclude, "\\.log$", "a.txt", true},
      {false, fmExclude, "\\.log$", "b.log", false},
      {false, fmExclude, "\\.log$", "B.LOG", true},
      {true, fmExclude, "\\.log$", "B.LOG", false},
      {true, fmExclude, "\\.log$", "b.log.txt", true},
      // the search is unanchored
      {false, fmInclude, "bc", "abcd", true},
      {false, fmInclude, "^bc", "abcd", false},
      {false, fmInclude, "\\d{4}", "backup 2024", true},
      {false, fmInclude, "\\d{4}", "backup 24", false},
      // characters, not bytes
      {false, fmInclude, "^.$", "\xC3\xA9", true},
      {true, fmInclude, "\xC3\xA4rger", "\xC3\x84RGER.txt", true},   // ärger, ÄRGER
      {false, fmInclude, "\xC3\xA4rger", "\xC3\x84RGER.txt", false},
      {false, fmInclude, "^\\w+\\.txt$", "r\xC3\xA9sum\xC3\xA9.txt", true},
      // an empty expression is "."
      {false, fmInclude, "", "x", true},
      {false, fmOff, "^nothing$", "x", true},
  };
  for (const TRegExpCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << "expression \"" << C.Expression << "\" ignore case " << C.IgnoreCase
                                    << " mode " << static_cast<int>(C.Mode) << " text \"" << C.Text << "\"");
    TTextFilter Filter(FileFilter, C.IgnoreCase);
    Filter.SetRegular(true);
    Filter.SetFilter(C.Expression);
    Filter.SetMode(C.Mode);
    EXPECT_EQ(Filter.MatchesFilter(C.Text), C.Passes);
  }
}

TEST(TTextFilter, EmptyExpressionReadsAsDot) {
  TTextFilter Filter(DirFilter, true);
  Filter.SetRegular(true);
  Filter.SetFilter("");
  EXPECT_EQ(Filter.Filter(), ".");
}

struct TIllegalCase {
  bool Regular;
  bool IsFileFilter;
  const char* Written;
  const char* Message;
  const char* ReadBack;
};

TEST(TTextFilter, IllegalFilterLetsEverythingThrough) {
  const TIllegalCase Cases[] = {
      {true, FileFilter, "(abc", "Illegal regular expression!", "."},
      {true, FileFilter, "a{2,1}", "Illegal regular expression!", "."},
      {true, FileFilter, "\xFF", "Illegal regular expression!", "."},    // not UTF-8
      {true, FileFilter, "a\\Cb", "Illegal regular expression!", "."},  // could split a character
      {false, FileFilter, "[abc", "Illegal mask!", "*"},
      {false, DirFilter, "[abc", "Illegal mask!", "*"},
      {false, DirFilter, "temp|[]|cache", "Illegal mask!", "*"},
      {false, DirFilter, "+ok|![-a]", "Illegal mask!", "*"},
      {false, FileFilter, "*.txt|[z-a].doc", "Illegal mask!", "*"},
  };
  for (const TIllegalCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << "filter \"" << C.Written << "\"");
    TTextFilter Filter(C.IsFileFilter, true);
    Filter.SetRegular(C.Regular);
    Filter.SetMode(fmInclude);
    try {
      Filter.SetFilter(C.Written);
      ADD_FAILURE() << "no EFilterError";
    } catch (const EFilterError& Error) {
      EXPECT_STREQ(Error.what(), C.Message);
    }
    EXPECT_EQ(Filter.Filter(), C.ReadBack);
    EXPECT_EQ(Filter.Regular(), C.Regular);
    EXPECT_EQ(Filter.Mode(), fmInclude);
    EXPECT_TRUE(Filter.MatchesFilter("README"));
    EXPECT_TRUE(Filter.MatchesFilter("abc.txt"));
  }
}

TEST(TTextFilter, IllegalExpressionLeavesTheMaskListAlone) {
  TTextFilter Filter(FileFilter, true);
  Filter.SetFilter("*.doc");
  Filter.SetRegular(true);
  EXPECT_THROW(Filter.SetFilter("(abc"), EFilterError);
  Filter.SetRegular(false);
  EXPECT_EQ(Filter.Filter(), "*.doc");
}

// A catastrophic expression, as anyone can write into a task file. Without a
// match limit this search runs for minutes; with it the search gives up, and
// the name passes whatever the mode.
TEST(TTextFilter, RunawayExpressionLetsTheNamePass) {
  const std::string Runaway = std::string(30, 'a') + "b";
  for (const TFilterMode Mode : {fmInclude, fmExclude}) {
    SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(Mode));
    TTextFilter Filter(FileFilter, false);
    Filter.SetRegular(true);
    Filter.SetFilter("(a+)+$");
    Filter.SetMode(Mode);
    EXPECT_TRUE(Filter.MatchesFilter(Runaway));
    EXPECT_FALSE(Filter.DecideFilter(Runaway).has_value());
    EXPECT_EQ(Filter.DecideFilter("b"), Mode == fmExclude);
    // The same expression still decides where it can.
    EXPECT_EQ(Filter.MatchesFilter("b"), Mode == fmExclude);
    EXPECT_EQ(Filter.MatchesFilter("baa"), Mode == fmInclude);
  }
}

TEST(TTextFilter, NameThatIsNotUtf8PassesAnExpression) {
  for (const TFilterMode Mode : {fmInclude, fmExclude}) {
    SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(Mode));
    TTextFilter Filter(FileFilter, true);
    Filter.SetRegular(true);
    Filter.SetFilter("\\.tmp$");
    Filter.SetMode(Mode);
    EXPECT_TRUE(Filter.MatchesFilter("x\xFF.tmp"));
    EXPECT_TRUE(Filter.MatchesFilter("x\xFF.doc"));
    EXPECT_TRUE(Filter.MatchesFilter("\xC3"));          // truncated sequence
    EXPECT_TRUE(Filter.MatchesFilter("\xED\xA0\x80"));  // encoded surrogate
    EXPECT_EQ(Filter.MatchesFilter("x.tmp"), Mode == fmInclude);
    EXPECT_EQ(Filter.MatchesFilter("x.doc"), Mode == fmExclude);
  }
}

TTextFilter MakeFilter(bool ARegular, const char* AText, TFilterMode AMode) {
  TTextFilter Filter(FileFilter, true);
  Filter.SetRegular(ARegular);
  Filter.SetFilter(AText);
  Filter.SetMode(AMode);
  return Filter;
}

TEST(TTextFilter, CopyOutlivesTheOriginal) {
  for (const bool Regular : {true, false}) {
    SCOPED_TRACE(testing::Message() << "regular " << Regular);
    auto Original = std::make_unique<TTextFilter>(MakeFilter(Regular, Regular ? "\\.DOC$" : "*.doc", fmInclude));
    const TTextFilter Copy(*Original);
    TTextFilter Assigned = MakeFilter(!Regular, "zzz", fmExclude);
    Assigned = *Original;
    Original.reset();
    for (const TTextFilter* Filter : std::initializer_list<const TTextFilter*>{&Copy, &Assigned}) {
      EXPECT_EQ(Filter->Regular(), Regular);
      EXPECT_EQ(Filter->Mode(), fmInclude);
      EXPECT_TRUE(Filter->MatchesFilter("letter.doc"));
      EXPECT_FALSE(Filter->MatchesFilter("letter.txt"));
    }
  }
}

TEST(TTextFilter, CopyIsIndependentOfLaterWrites) {
  TTextFilter Original = MakeFilter(true, "\\.doc$", fmInclude);
  const TTextFilter Copy = Original;
  Original.SetFilter("\\.txt$");
  Original.SetMode(fmExclude);
  EXPECT_TRUE(Copy.MatchesFilter("a.doc"));
  EXPECT_FALSE(Copy.MatchesFilter("a.txt"));
  EXPECT_FALSE(Original.MatchesFilter("a.txt"));
}

TEST(TTextFilter, MovedFilterKeepsMatching) {
  TTextFilter Source = MakeFilter(true, "\\.doc$", fmInclude);
  TTextFilter Moved(std::move(Source));
  EXPECT_TRUE(Moved.MatchesFilter("a.doc"));
  EXPECT_FALSE(Moved.MatchesFilter("a.txt"));
  TTextFilter Target = MakeFilter(false, "*.txt", fmExclude);
  Target = std::move(Moved);
  EXPECT_TRUE(Target.MatchesFilter("a.doc"));
  EXPECT_FALSE(Target.MatchesFilter("a.txt"));
}

// Meant for the thread sanitizer build: matching one filter from two threads
// must not touch shared mutable state.
TEST(TTextFilter, TwoThreadsMatchTheSameFilter) {
  for (const bool Regular : {true, false}) {
    SCOPED_TRACE(testing::Message() << "regular " << Regular);
    const TTextFilter Filter = MakeFilter(Regular, Regular ? "\\.doc$" : "*.doc", fmInclude);
    auto Count = [&Filter] {
      int Hits = 0;
      for (int I = 0; I < 2000; ++I)
        Hits += Filter.MatchesFilter(I % 2 == 0 ? "a.doc" : "a.txt") ? 1 : 0;
      return Hits;
    };
    int Other = 0;
    std::thread Worker([&] { Other = Count(); });
    const int Mine = Count();
    Worker.join();
    EXPECT_EQ(Mine, 1000);
    EXPECT_EQ(Other, 1000);
  }
}

}  // namespace
}  // namespace dz
