#include "settings/IniNameCodec.h"

#include <cstddef>

#include "base/Utf.h"

namespace dz {

namespace {

constexpr char EscapedMark = '?';
constexpr char EscapeChar = '%';

bool IsControlByte(unsigned char B) { return B < 0x20 || B == 0x7F; }

bool StoresUnchanged(std::string_view Name) {
  if (Name.empty())
    return true;
  if (Name.front() == EscapedMark || Name.front() == ' ' || Name.back() == ' ')
    return false;
  for (const char C : Name)
    if (IsControlByte(static_cast<unsigned char>(C)))
      return false;
  return IsValidUtf8(Name);
}

// Length of the valid UTF-8 sequence that starts at Pos, 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view Text, std::size_t Pos) {
  std::size_t End = Pos;
  const char32_t Cp = DecodeUtf8(Text, End);
  // The decoder gives U+FFFD and one byte for an invalid sequence; a real
  // U+FFFD takes three.
  return Cp == 0xFFFD && End == Pos + 1 ? 0 : End - Pos;
}

void AppendEscaped(std::string& Out, unsigned char B) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  Out.push_back(EscapeChar);
  Out.push_back(Hex[B >> 4]);
  Out.push_back(Hex[B & 0x0F]);
}

int HexValue(char C) {
  if (C >= '0' && C <= '9')
    return C - '0';
  if (C >= 'A' && C <= 'F')
    return C - 'A' + 10;
  if (C >= 'a' && C <= 'f')
    return C - 'a' + 10;
  return -1;
}

}  // namespace

std::string EncodeIniName(std::string_view Name) {
  if (StoresUnchanged(Name))
    return std::string(Name);
  std::string Out;
  Out.reserve(Name.size() + Name.size() / 2 + 1);
  Out.push_back(EscapedMark);
  for (std::size_t Pos = 0; Pos < Name.size();) {
    const auto B = static_cast<unsigned char>(Name[Pos]);
    if (B >= 0x80) {
      const std::size_t Length = Utf8SequenceLength(Name, Pos);
      if (Length > 0) {
        Out.append(Name.substr(Pos, Length));
        Pos += Length;
      } else {
        AppendEscaped(Out, B);
        ++Pos;
      }
      continue;
    }
    if (B <= 0x20 || B == 0x7F || B == static_cast<unsigned char>(EscapeChar))
      AppendEscaped(Out, B);
    else
      Out.push_back(static_cast<char>(B));
    ++Pos;
  }
  return Out;
}

std::string DecodeIniName(std::string_view Value) {
  if (Value.empty() || Value.front() != EscapedMark)
    return std::string(Value);
  std::string Out;
  Out.reserve(Value.size());
  for (std::size_t Pos = 1; Pos < Value.size();) {
    const int High = Value[Pos] == EscapeChar && Value.size() - Pos > 2 ? HexValue(Value[Pos + 1]) : -1;
    const int Low = High >= 0 ? HexValue(Value[Pos + 2]) : -1;
    if (Low >= 0) {
      Out.push_back(static_cast<char>(High * 16 + Low));
      Pos += 3;
    } else {
      Out.push_back(Value[Pos]);
      ++Pos;
    }
  }
  return Out;
}

}  // namespace dz
