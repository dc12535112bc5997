#include "filters/FilterDisplay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dz {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitDelimitedList, Rules) {
  const struct {
    const char* Name;
    std::string Text;
    Lines Expected;
  } Cases[] = {
      {"empty", "", {}},
      {"blanks only", " \t ", {}},
      {"bars", "*.txt|*.doc", {"*.txt", "*.doc"}},
      {"blanks split outside quotes", "a b\tc", {"a", "b", "c"}},
      {"runs of blanks count once", "a   b", {"a", "b"}},
      {"blanks around a bar", " a | b ", {"a", "b"}},
      {"control characters split", "a\rb\nc\x01" "d", {"a", "b", "c", "d"}},
      {"quoted item keeps blanks", "\"only :\"|*.txt", {"only :", "*.txt"}},
      {"doubled quote stands for one", "\"say \"\"hi\"\"\"|x", {"say \"hi\"", "x"}},
      {"unclosed quote runs to the end", "\"a b|c", {"a b|c"}},
      {"quote inside an item is kept", "a\"b", {"a\"b"}},
      {"text after a closing quote is an item", "\"ab\"cd|x", {"ab", "cd", "x"}},
      {"two bars give an empty item", "a||b", {"a", "", "b"}},
      {"leading bar gives an empty item", "|a", {"", "a"}},
      {"trailing bar gives an empty item", "a|", {"a", ""}},
      {"empty quoted item", "\"\"|a", {"", "a"}},
      {"non-ASCII stays whole", "Ärger café|ü", {"Ärger", "café", "ü"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(SplitDelimitedList(Case.Text), Case.Expected);
  }
}

struct TFilterSetup {
  bool Regular = false;
  TFilterMode Mode = fmOff;
  std::string Text;   // empty: left as created
};

void Apply(TTextFilter& Filter, const TFilterSetup& Setup) {
  Filter.SetRegular(Setup.Regular);
  if (!Setup.Text.empty()) Filter.SetFilter(Setup.Text);
  Filter.SetMode(Setup.Mode);
}

TEST(ComputeFilterDisplay, FileFilterLines) {
  const struct {
    const char* Name;
    TFilterSetup File;
    Lines Expected;
    bool RegularVisible;
  } Cases[] = {
      {"include two masks", {false, fmInclude, "*.txt|*.doc"}, {"only :", "*.txt", "*.doc"}, false},
      {"exclude", {false, fmExclude, "*.tmp"}, {"all except :", "*.tmp"}, false},
      {"off shows all files whatever the masks", {false, fmOff, "*.txt|*.doc"}, {"All files"}, false},
      {"mask without extension as stored", {false, fmInclude, "abc|*.txt"}, {"only :", "abc.*", "*.txt"}, false},
      {"mask with a blank is cut", {false, fmInclude, "my file.txt"}, {"only :", "my", "file.txt"}, false},
      {"all-of and negation kept", {false, fmInclude, "+*.doc|!~*"}, {"only :", "+*.doc", "!~*.*"}, false},
      {"expression is one line", {true, fmInclude, "\\.(doc|txt)$"}, {"only :", "\\.(doc|txt)$"}, true},
      {"expression with blanks is one line", {true, fmExclude, "a b|c"}, {"all except :", "a b|c"}, true},
      {"off expression", {true, fmOff, "x"}, {"All files"}, true},
      {"unknown mode lets all through", {false, static_cast<TFilterMode>(7), "*.txt"}, {"All files"}, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTextFilter SubDirFilter(false, true);
    TTextFilter FileFilter(true, true);
    Apply(FileFilter, Case.File);
    const TFilterDisplay D = ComputeFilterDisplay(true, TMatchList(), SubDirFilter, true, TMatchList(), FileFilter);
    EXPECT_EQ(D.FileFilter, Case.Expected);
    EXPECT_EQ(D.RegularVisible, Case.RegularVisible);
  }
}

TEST(ComputeFilterDisplay, SubDirectoryFilterLines) {
  const struct {
    const char* Name;
    TFilterSetup Dir;
    Lines Expected;
  } Cases[] = {
      {"off shows its match-all mask", {false, fmOff, ""}, {"*"}},
      {"off shows match-all whatever it holds", {false, fmOff, "temp|cache"}, {"*"}},
      {"off expression shows the mask too", {true, fmOff, "\\d{4}"}, {"*"}},
      {"mask list", {false, fmInclude, "temp|cache"}, {"temp", "cache"}},
      {"empty items left out", {false, fmInclude, "a||b|"}, {"a", "b"}},
      {"quoted mask keeps its blank", {false, fmInclude, "\"old files\"|tmp"}, {"old files", "tmp"}},
      {"expression", {true, fmInclude, "\\d{4}|x y"}, {"\\d{4}|x y"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTextFilter SubDirFilter(false, true);
    TTextFilter FileFilter(true, true);
    Apply(SubDirFilter, Case.Dir);
    const TFilterDisplay D = ComputeFilterDisplay(true, TMatchList(), SubDirFilter, true, TMatchList(), FileFilter);
    EXPECT_EQ(D.DirFilter, Case.Expected);
  }
}

TEST(ComputeFilterDisplay, LabelsFollowTheSenseOfTheLists) {
  TTextFilter SubDirFilter(false, true);
  TTextFilter FileFilter(true, true);
  const struct {
    bool IncludeSubDirs;
    bool IncludeExts;
    const char* SubDirs;
    const char* DirFilter;
    const char* FileExt;
  } Cases[] = {
      {true, true, "included in this list", "matching these filter conditions", "matching these file types"},
      {false, false, "not included in this list", "not matching these filter conditions",
       "not matching these file types"},
      {true, false, "included in this list", "matching these filter conditions", "not matching these file types"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.IncludeSubDirs << Case.IncludeExts);
    const TFilterDisplay D =
        ComputeFilterDisplay(Case.IncludeSubDirs, TMatchList(), SubDirFilter, Case.IncludeExts, TMatchList(), FileFilter);
    EXPECT_EQ(D.SubDirsLabel, Case.SubDirs);
    EXPECT_EQ(D.DirFilterLabel, Case.DirFilter);
    EXPECT_EQ(D.FileExtLabel, Case.FileExt);
  }
}

TEST(ComputeFilterDisplay, ListsInTheirSortedOrder) {
  TMatchList SubDirs(TListCompare::lcFileNames);
  for (const char* Dir : {"src/old", "docs", "My Files"}) SubDirs.Add(Dir);
  TMatchList Exts(TListCompare::lcIgnoreCase);
  for (const char* Ext : {"txt", "DOC", "", "c"}) Exts.Add(Ext);
  TTextFilter SubDirFilter(false, true);
  TTextFilter FileFilter(true, true);

  const TFilterDisplay D = ComputeFilterDisplay(false, SubDirs, SubDirFilter, false, Exts, FileFilter);
  // A directory name with a blank stays one line: the lists are not split.
  EXPECT_EQ(D.SubDirs, (Lines{"My Files", "docs", "src/old"}));
  // The empty extension (names without one) is an entry like any other.
  EXPECT_EQ(D.FileExts, (Lines{"", "c", "DOC", "txt"}));
}

}  // namespace
}  // namespace dz
