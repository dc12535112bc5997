#pragma once
// Comparison without regard to letter case, for the places where the program
// compares as Windows compares names: INI section and key names, extensions,
// Windows-style paths. Folding is the simple one-to-one lower-case mapping of
// the Latin, Greek, Cyrillic and Armenian letters and the full-width Latin
// letters; every other code point compares as it is.

#include <string>
#include <string_view>

namespace dz {

char32_t FoldCase(char32_t Cp);
std::string FoldCase(std::string_view Text);

// <0, 0, >0 like strcmp, on the folded texts in code-point order.
int CompareText(std::string_view A, std::string_view B);
bool SameText(std::string_view A, std::string_view B);

// ASCII-only lower case, for keywords and option names.
std::string AsciiLower(std::string_view Text);

}  // namespace dz
