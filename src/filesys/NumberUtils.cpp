#include "filesys/NumberUtils.h"

#include <limits>
#include <vector>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"

namespace dz {

namespace {

int DigitValue(char C, unsigned Radix) {
  int Digit = -1;
  if (C >= '0' && C <= '9')
    Digit = C - '0';
  else if (C >= 'a' && C <= 'f')
    Digit = C - 'a' + 10;
  else if (C >= 'A' && C <= 'F')
    Digit = C - 'A' + 10;
  return Digit >= 0 && static_cast<unsigned>(Digit) < Radix ? Digit : -1;
}

// The shared shape of the three parsers. The magnitude is gathered unsigned
// and checked against the limit before every step, so a long text is
// rejected instead of overflowing.
bool TryParseInt64(std::string_view Text, unsigned Radix, char Prefix, std::int64_t& Value) {
  Value = 0;
  if (Text.empty())
    return false;
  const bool Negative = Text.front() == '-';
  if (Negative)
    Text.remove_prefix(1);
  if (Text.starts_with(Prefix))
    Text.remove_prefix(1);
  const std::string Digits = RemoveBlanks(Text);
  // "$" notation needs a digit; octal and binary read nothing as 0.
  if (Radix == 16 && Digits.empty())
    return false;

  constexpr auto MaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::uint64_t Limit = Negative ? MaxPositive + 1 : MaxPositive;
  std::uint64_t Magnitude = 0;
  for (const char C : Digits) {
    const int Digit = DigitValue(C, Radix);
    if (Digit < 0)
      return false;
    if (Magnitude > (Limit - static_cast<std::uint64_t>(Digit)) / Radix)
      return false;
    Magnitude = Magnitude * Radix + static_cast<std::uint64_t>(Digit);
  }
  // Unsigned negation, so that 2^63 becomes the smallest int64 without an
  // overflowing signed negation.
  Value = static_cast<std::int64_t>(Negative ? 0 - Magnitude : Magnitude);
  return true;
}

}  // namespace

std::string ZeroPadInt(std::int64_t Value, int Digits) {
  const bool Negative = Value < 0;
  const auto Bits = static_cast<std::uint64_t>(Value);
  std::string Text = std::to_string(Negative ? 0 - Bits : Bits);
  if (Digits > 0 && Text.size() < static_cast<std::size_t>(Digits))
    Text.insert(0, static_cast<std::size_t>(Digits) - Text.size(), '0');
  if (Negative)
    Text.insert(0, 1, '-');
  return Text;
}

std::string InsertGroupSeparators(std::string_view Text, int Group, char Sep) {
  std::string Result(Text);
  if (Group <= 0)
    return Result;
  // Byte offset at which each character begins, so that a separator never
  // lands inside a multi-byte character.
  std::vector<std::size_t> Starts;
  for (std::size_t Pos = 0; Pos < Text.size();) {
    Starts.push_back(Pos);
    DecodeUtf8(Text, Pos);
  }
  const auto GroupLen = static_cast<std::size_t>(Group);
  std::size_t Count = Starts.size();
  while (Count > GroupLen) {
    Count -= GroupLen;
    Result.insert(Starts[Count], 1, Sep);
  }
  return Result;
}

std::string FormatGrouped(std::int64_t Value, int Group) {
  return InsertGroupSeparators(std::to_string(Value), Group, ' ');
}

std::string RemoveBlanks(std::string_view Text) {
  std::string Result;
  Result.reserve(Text.size());
  for (const char C : Text)
    if (C != ' ')
      Result += C;
  return Result;
}

bool TryHexToInt64(std::string_view Text, std::int64_t& Value) { return TryParseInt64(Text, 16, '$', Value); }
bool TryOctToInt64(std::string_view Text, std::int64_t& Value) { return TryParseInt64(Text, 8, '%', Value); }
bool TryBinToInt64(std::string_view Text, std::int64_t& Value) { return TryParseInt64(Text, 2, '!', Value); }

// The messages are spelled out at each call so that the catalog tools find
// them as keys.
std::int64_t HexToInt64(std::string_view Text) {
  std::int64_t Value = 0;
  if (!TryHexToInt64(Text, Value))
    throw EConvertError(SafeFormat(Tr("%s is not a valid hex value"), Text));
  return Value;
}

std::int64_t OctToInt64(std::string_view Text) {
  std::int64_t Value = 0;
  if (!TryOctToInt64(Text, Value))
    throw EConvertError(SafeFormat(Tr("%s is not a valid octal value"), Text));
  return Value;
}

std::int64_t BinToInt64(std::string_view Text) {
  std::int64_t Value = 0;
  if (!TryBinToInt64(Text, Value))
    throw EConvertError(SafeFormat(Tr("%s is not a valid binary value"), Text));
  return Value;
}

}  // namespace dz
