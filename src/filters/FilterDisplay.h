#pragma once
// What the filter display dialog shows for one monitored directory, worked
// out without a window toolkit: the labels, the four lists and whether the
// regular-expression note is visible. The dialog only draws this value.

#include <string>
#include <string_view>
#include <vector>

#include "base/MatchList.h"
#include "filters/TextFilter.h"

namespace dz {

// Splits a delimited list as the dialog's list boxes take it: items are
// separated by "|" and, outside double quotes, also by blanks and control
// characters (runs of them count once, and they are trimmed around a "|").
// An item in double quotes keeps its blanks, and a doubled double quote
// inside it stands for one; a quote that is never closed runs to the end.
// Two "|" in a row, or one at the end, give an empty item; blanks alone give
// none.
std::vector<std::string> SplitDelimitedList(std::string_view Text);

struct TFilterDisplay {
  std::string SubDirsLabel;               // laSubDirs
  std::vector<std::string> SubDirs;       // lbSubDirs
  std::string DirFilterLabel;             // laDirFilt
  std::vector<std::string> DirFilter;     // lbDirFilt
  std::vector<std::string> FileFilter;    // lbFileFilt
  std::string FileExtLabel;               // laFileExt
  std::vector<std::string> FileExts;      // lbFileExt
  bool RegularVisible = false;            // laRegular

  bool operator==(const TFilterDisplay&) const = default;
};

// The display of a directory's filter settings (the fields of its task's
// filter record, passed one by one so that this layer needs no watchdog
// types). Texts are translated.
//
// A filter that is switched off takes no part in matching, so it is shown as
// letting everything through ("All files" for the file filter, "*" for the
// sub-directory filter), whatever text it still holds. Each mask of a mask
// list is one line (split as SplitDelimitedList does; empty items, which
// take no part in matching either, are left out); a regular expression is
// one line, since its "|" and blanks belong to it.
TFilterDisplay ComputeFilterDisplay(bool IncludeSubDirs, const TMatchList& SubDirList, const TTextFilter& SubDirFilter,
                                    bool IncludeExts, const TMatchList& ExtList, const TTextFilter& FileFilter);

}  // namespace dz
