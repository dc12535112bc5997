#pragma once
// File names as values of a settings file. A Linux file name is any sequence
// of bytes except "/" and NUL, but an INI value is one line of UTF-16 text
// that the reader trims: a name holding a line break, bytes that are not
// UTF-8, or blanks at its ends would come back different, and a line break
// could even inject keys and sections of its own. Such names are stored in an
// escaped form that survives the file unchanged.
//
// The form: a name that is valid UTF-8, holds no control character (below
// U+0020, or DEL), has no blank at either end and does not begin with "?" is
// stored as it is, so the file stays readable and every name Windows allows
// is stored unchanged. Any other name is stored as "?" followed by the name
// with each of these bytes written as "%" and two upper-case hex digits:
// bytes below 0x21 (the blank included), DEL, "%" itself, and bytes from 0x80
// that are not part of a valid UTF-8 sequence. A Windows file name cannot
// begin with "?", so values written by the Windows program never look
// escaped.

#include <string>
#include <string_view>

namespace dz {

// The value under which Name is stored.
std::string EncodeIniName(std::string_view Name);

// The name stored as Value. A value that does not begin with "?" is the name
// itself; in one that does, a "%" that is not followed by two hex digits is
// kept as it is, so a damaged value still gives a name.
std::string DecodeIniName(std::string_view Value);

}  // namespace dz
