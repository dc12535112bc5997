#pragma once
// Comma lists as the main application writes them (extension lists of task
// and settings files): items separated by commas; an item that holds a comma,
// a double quote or blanks at its ends is enclosed in double quotes, and a
// double quote inside it is doubled.

#include <string>
#include <string_view>
#include <vector>

namespace dz {

// Splits Text into its items. Blanks around an unquoted item are dropped;
// empty items are kept (",a" gives "" and "a"), so callers decide about them.
// An unclosed quote runs to the end of the text.
std::vector<std::string> SplitCommaText(std::string_view Text);

// The comma text of Items; SplitCommaText gives Items back.
std::string JoinCommaText(const std::vector<std::string>& Items);

}  // namespace dz
