#pragma once
// Conversions between integers and text: the zero-padded numbers in section
// and key names and log lines, grouped display of a number, and the parsers
// behind the number edit field ("$" hexadecimal, "%" octal, "!" binary).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dz {

// Text that should hold a number does not.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Decimal text of Value with at least Digits digits; a minus sign stands
// before the zeros (-3 with 2 digits is -03).
std::string ZeroPadInt(std::int64_t Value, int Digits);

// Sep inserted between groups of Group characters, counted from the right.
// Every character counts, a minus sign included (-100 gives "- 100"). Text
// is unchanged when Group <= 0.
std::string InsertGroupSeparators(std::string_view Text, int Group, char Sep);

// Decimal text of Value grouped with blanks (60000 gives "60 000").
std::string FormatGrouped(std::int64_t Value, int Group);

// Text without its blanks (character 32); other white space stays.
std::string RemoveBlanks(std::string_view Text);

// The parsers accept an optional leading "-", then an optional prefix ("$",
// "%" or "!"), then digits of their base; blanks anywhere after the sign are
// ignored. A value outside the signed 64-bit range is rejected, not wrapped.
// An octal or binary text without digits ("-", "%") reads as 0; a
// hexadecimal one needs at least one digit. On failure Value is 0.
bool TryHexToInt64(std::string_view Text, std::int64_t& Value);
bool TryOctToInt64(std::string_view Text, std::int64_t& Value);
bool TryBinToInt64(std::string_view Text, std::int64_t& Value);

// As the try-forms, but raise EConvertError naming Text on failure.
std::int64_t HexToInt64(std::string_view Text);
std::int64_t OctToInt64(std::string_view Text);
std::int64_t BinToInt64(std::string_view Text);

}  // namespace dz
