#pragma once
// Conversions between the UTF-8 text used everywhere inside the program and
// the encodings met at its edges (UTF-16 files, Windows-1252 files). None of
// these functions fails: bytes or units that are not valid in the source
// encoding become U+FFFD, so a damaged file still loads what it can.

#include <cstddef>
#include <string>
#include <string_view>

namespace dz {

// True when Text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view Text);

// Decodes the code point that starts at Pos and advances Pos past it. An
// invalid or truncated sequence yields U+FFFD and advances by one byte.
// Pos must be below Text.size().
char32_t DecodeUtf8(std::string_view Text, std::size_t& Pos);

// Appends the UTF-8 form of Cp (a surrogate or a value above U+10FFFF is
// written as U+FFFD).
void AppendUtf8(std::string& Out, char32_t Cp);

std::u16string Utf8ToUtf16(std::string_view Text);
std::string Utf16ToUtf8(std::u16string_view Text);   // lone surrogates become U+FFFD

// Windows-1252 to UTF-8; the five undefined bytes map to the C1 controls of
// the same value, as Windows does.
std::string Cp1252ToUtf8(std::string_view Text);

// Length of Text in UTF-16 code units: path length limits are counted so.
std::size_t Utf16Length(std::string_view Text);

// Number of code points in Text (invalid bytes count one each).
std::size_t CodePointCount(std::string_view Text);

// Text for a line of the log: a file name may hold a line break, which
// would split its line in two on the console and in the log file. CR and
// LF become "\r" and "\n", the other control characters but the tab
// "\x" and two hexadecimal digits; everything else, backslashes included
// (Windows paths), is left as it is.
std::string EscapeControls(std::string_view Text);

}  // namespace dz
