#include "base/CodePages.h"

#include <algorithm>
#include <array>

#include "base/Utf.h"

namespace dz {

namespace {

constexpr TCodePageInfo CodePages[] = {
    {cpUtf8, "UTF-8"},
    {cpWindows1252, "Windows-1252"},
    {cpIso8859_1, "ISO-8859-1"},
    {cpIso8859_15, "ISO-8859-15"},
    {cpIbm850, "IBM850"},
};

// 0x80..0xFF of code page 850.
constexpr std::array<char16_t, 128> Ibm850High = {
      0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
      0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
      0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
      0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
      0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
      0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
      0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
      0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
      0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
      0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
      0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
      0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
      0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
      0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
      0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
      0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

template <class F>
std::string DecodeBytes(std::string_view Bytes, F HighChar) {
  std::string Out;
  Out.reserve(Bytes.size() + Bytes.size() / 4);
  for (const char C : Bytes) {
    const auto B = static_cast<unsigned char>(C);
    if (B < 0x80)
      Out += C;
    else
      AppendUtf8(Out, HighChar(B));
  }
  return Out;
}

char32_t Latin9Char(unsigned char B) {
  switch (B) {
    case 0xA4: return 0x20AC;
    case 0xA6: return 0x0160;
    case 0xA8: return 0x0161;
    case 0xB4: return 0x017D;
    case 0xB8: return 0x017E;
    case 0xBC: return 0x0152;
    case 0xBD: return 0x0153;
    case 0xBE: return 0x0178;
    default: return B;
  }
}

std::string DecodeUtf8Text(std::string_view Bytes) {
  if (Bytes.starts_with("\xEF\xBB\xBF")) Bytes.remove_prefix(3);
  if (IsValidUtf8(Bytes)) return std::string(Bytes);
  std::string Out;
  Out.reserve(Bytes.size());
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) AppendUtf8(Out, DecodeUtf8(Bytes, Pos));
  return Out;
}

}  // namespace

std::span<const TCodePageInfo> SupportedCodePages() { return CodePages; }

bool IsSupportedCodePage(int CodePage) {
  return std::any_of(std::begin(CodePages), std::end(CodePages),
                     [CodePage](const TCodePageInfo& Info) { return Info.CodePage == CodePage; });
}

std::string DecodeCodePage(std::string_view Bytes, int CodePage) {
  switch (CodePage) {
    case cpWindows1252: return Cp1252ToUtf8(Bytes);
    case cpIso8859_1: return DecodeBytes(Bytes, [](unsigned char B) { return char32_t(B); });
    case cpIso8859_15: return DecodeBytes(Bytes, Latin9Char);
    case cpIbm850: return DecodeBytes(Bytes, [](unsigned char B) { return char32_t(Ibm850High[B - 0x80]); });
    default: return DecodeUtf8Text(Bytes);
  }
}

}  // namespace dz
