#include "base/Utf.h"

#include <array>

namespace dz {

namespace {

constexpr char32_t ReplacementChar = 0xFFFD;

// Decodes one well-formed sequence at Pos; returns its length, or 0 when the
// bytes at Pos are not a well-formed sequence (the caller then takes one byte).
std::size_t DecodeValid(std::string_view Text, std::size_t Pos, char32_t& Cp) {
  const std::size_t Size = Text.size();
  const auto Byte = [&](std::size_t I) { return static_cast<unsigned char>(Text[I]); };
  const unsigned char B0 = Byte(Pos);
  if (B0 < 0x80) {
    Cp = B0;
    return 1;
  }
  std::size_t Length;
  char32_t Value;
  // The bounds of the second byte exclude the overlong forms, the surrogates
  // and everything above U+10FFFF at the first continuation byte already.
  unsigned char Low = 0x80, High = 0xBF;
  if (B0 >= 0xC2 && B0 <= 0xDF) {
    Length = 2;
    Value = B0 & 0x1F;
  } else if (B0 >= 0xE0 && B0 <= 0xEF) {
    Length = 3;
    Value = B0 & 0x0F;
    if (B0 == 0xE0) Low = 0xA0;
    if (B0 == 0xED) High = 0x9F;
  } else if (B0 >= 0xF0 && B0 <= 0xF4) {
    Length = 4;
    Value = B0 & 0x07;
    if (B0 == 0xF0) Low = 0x90;
    if (B0 == 0xF4) High = 0x8F;
  } else {
    return 0;
  }
  if (Size - Pos < Length) return 0;
  for (std::size_t I = 1; I < Length; ++I) {
    const unsigned char B = Byte(Pos + I);
    if (I == 1 ? (B < Low || B > High) : (B < 0x80 || B > 0xBF)) return 0;
    Value = (Value << 6) | (B & 0x3F);
  }
  Cp = Value;
  return Length;
}

bool IsEncodable(char32_t Cp) {
  return Cp <= 0x10FFFF && !(Cp >= 0xD800 && Cp <= 0xDFFF);
}

}  // namespace

bool IsValidUtf8(std::string_view Text) {
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    // ASCII runs are the common case in names and INI files.
    if (static_cast<unsigned char>(Text[Pos]) < 0x80) {
      ++Pos;
      continue;
    }
    char32_t Cp;
    const std::size_t Length = DecodeValid(Text, Pos, Cp);
    if (Length == 0) return false;
    Pos += Length;
  }
  return true;
}

char32_t DecodeUtf8(std::string_view Text, std::size_t& Pos) {
  if (Pos >= Text.size()) {
    ++Pos;
    return ReplacementChar;
  }
  char32_t Cp;
  const std::size_t Length = DecodeValid(Text, Pos, Cp);
  if (Length == 0) {
    ++Pos;
    return ReplacementChar;
  }
  Pos += Length;
  return Cp;
}

void AppendUtf8(std::string& Out, char32_t Cp) {
  if (!IsEncodable(Cp)) Cp = ReplacementChar;
  if (Cp < 0x80) {
    Out += static_cast<char>(Cp);
  } else if (Cp < 0x800) {
    Out += static_cast<char>(0xC0 | (Cp >> 6));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  } else if (Cp < 0x10000) {
    Out += static_cast<char>(0xE0 | (Cp >> 12));
    Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Cp >> 18));
    Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view Text) {
  std::u16string Out;
  Out.reserve(Text.size());
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    const char32_t Cp = DecodeUtf8(Text, Pos);
    if (Cp < 0x10000) {
      Out += static_cast<char16_t>(Cp);
    } else {
      const char32_t V = Cp - 0x10000;
      Out += static_cast<char16_t>(0xD800 | (V >> 10));
      Out += static_cast<char16_t>(0xDC00 | (V & 0x3FF));
    }
  }
  return Out;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (std::size_t I = 0; I < Text.size(); ++I) {
    const char16_t U = Text[I];
    if (U >= 0xD800 && U <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
        Text[I + 1] <= 0xDFFF) {
      AppendUtf8(Out, 0x10000 + ((static_cast<char32_t>(U - 0xD800) << 10) | (Text[I + 1] - 0xDC00)));
      ++I;
    } else {
      // A lone surrogate is written as U+FFFD by AppendUtf8.
      AppendUtf8(Out, U);
    }
  }
  return Out;
}

std::string Cp1252ToUtf8(std::string_view Text) {
  // 0x80..0x9F; 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined and stay the
  // C1 controls of the same value.
  static constexpr std::array<char16_t, 32> High = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string Out;
  Out.reserve(Text.size() + Text.size() / 2);
  for (const char C : Text) {
    const auto B = static_cast<unsigned char>(C);
    if (B < 0x80) {
      Out += C;
    } else if (B < 0xA0) {
      AppendUtf8(Out, High[B - 0x80]);
    } else {
      AppendUtf8(Out, B);
    }
  }
  return Out;
}

std::size_t Utf16Length(std::string_view Text) {
  std::size_t Units = 0;
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    Units += DecodeUtf8(Text, Pos) >= 0x10000 ? 2 : 1;
  }
  return Units;
}

std::size_t CodePointCount(std::string_view Text) {
  std::size_t Count = 0;
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    DecodeUtf8(Text, Pos);
    ++Count;
  }
  return Count;
}

std::string EscapeControls(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (const char C : Text) {
    const auto B = static_cast<unsigned char>(C);
    if (B == '\r') {
      Out += "\\r";
    } else if (B == '\n') {
      Out += "\\n";
    } else if ((B < 0x20 && B != '\t') || B == 0x7F) {
      static constexpr char Hex[] = "0123456789ABCDEF";
      Out += "\\x";
      Out += Hex[B >> 4];
      Out += Hex[B & 15];
    } else {
      Out += C;
    }
  }
  return Out;
}

}  // namespace dz
