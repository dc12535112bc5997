#include "filters/FilterDisplay.h"

#include "base/SafeFormat.h"
#include "base/Translate.h"

namespace dz {

namespace {

bool IsBlank(char C) {
  const auto B = static_cast<unsigned char>(C);
  return B >= 1 && B <= ' ';
}

// The lines of a filter's text. A regular expression is one line: its "|"
// and blanks belong to the expression, and cut apart it would read as
// something else. Of a mask list each mask is a line; empty items are left
// out, as they take no part in matching.
std::vector<std::string> FilterLines(const TTextFilter& Filter) {
  if (Filter.Regular()) return {Filter.Filter()};
  std::vector<std::string> Items = SplitDelimitedList(Filter.Filter());
  std::erase(Items, std::string());
  return Items;
}

}  // namespace

std::vector<std::string> SplitDelimitedList(std::string_view Text) {
  constexpr char Delimiter = '|';
  constexpr char Quote = '"';
  std::vector<std::string> Items;
  std::size_t Pos = 0;
  const auto SkipBlanks = [&] {
    while (Pos < Text.size() && IsBlank(Text[Pos])) ++Pos;
  };

  SkipBlanks();
  while (Pos < Text.size()) {
    std::string Item;
    if (Text[Pos] == Quote) {
      ++Pos;
      while (Pos < Text.size()) {
        if (Text[Pos] == Quote) {
          if (Pos + 1 < Text.size() && Text[Pos + 1] == Quote) {
            Item += Quote;
            Pos += 2;
            continue;
          }
          ++Pos;
          break;
        }
        Item += Text[Pos++];
      }
    } else {
      const std::size_t Start = Pos;
      // A NUL byte ends nothing here: only blanks and controls from 1 on do.
      while (Pos < Text.size() && !IsBlank(Text[Pos]) && Text[Pos] != Delimiter) ++Pos;
      Item.assign(Text.substr(Start, Pos - Start));
    }
    Items.push_back(std::move(Item));
    SkipBlanks();
    if (Pos < Text.size() && Text[Pos] == Delimiter) {
      ++Pos;
      if (Pos == Text.size()) Items.emplace_back();
      SkipBlanks();
    }
  }
  return Items;
}

TFilterDisplay ComputeFilterDisplay(bool IncludeSubDirs, const TMatchList& SubDirList, const TTextFilter& SubDirFilter,
                                    bool IncludeExts, const TMatchList& ExtList, const TTextFilter& FileFilter) {
  TFilterDisplay D;
  // Each text whole inside Tr, so that xgettext finds it.
  D.SubDirsLabel = IncludeSubDirs ? Tr("included in this list") : Tr("not included in this list");
  D.DirFilterLabel =
      IncludeSubDirs ? Tr("matching these filter conditions") : Tr("not matching these filter conditions");
  D.SubDirs = SubDirList.Items();
  if (SubDirFilter.Mode() == fmInclude || SubDirFilter.Mode() == fmExclude)
    D.DirFilter = FilterLines(SubDirFilter);
  else
    D.DirFilter = {"*"};

  D.FileExtLabel = IncludeExts ? Tr("matching these file types") : Tr("not matching these file types");
  D.FileExts = ExtList.Items();
  D.RegularVisible = FileFilter.Regular();

  // The mode line goes in as one line whatever its translation holds; only
  // the filter text is split.
  switch (FileFilter.Mode()) {
    case fmInclude:
    case fmExclude:
      D.FileFilter.push_back(SafeFormat(FileFilter.Mode() == fmInclude ? Tr("only %s") : Tr("all except %s"), ":"));
      for (std::string& Item : FilterLines(FileFilter)) D.FileFilter.push_back(std::move(Item));
      break;
    default:
      D.FileFilter = {Tr("All files")};
      break;
  }
  return D;
}

}  // namespace dz
