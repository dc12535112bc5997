#include "base/CaseFold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/Utf.h"

namespace dz {

namespace {

struct TFoldRange {
  char32_t First;
  char32_t Last;
  std::int32_t Delta;
  std::uint32_t Stride;
};

constexpr TFoldRange FoldRanges[] = {
#include "base/CaseFoldTable.inc"
};

// Keys of the units that CompareText compares: a byte that does not start a
// well-formed sequence sorts after every code point as its own value, so two
// different damaged names never compare equal.
constexpr char32_t InvalidByteKey = 0x110000;

char32_t FoldTableLookup(char32_t Cp) {
  const auto* It = std::upper_bound(std::begin(FoldRanges), std::end(FoldRanges), Cp,
                                    [](char32_t V, const TFoldRange& R) { return V < R.First; });
  if (It == std::begin(FoldRanges)) return Cp;
  --It;
  if (Cp > It->Last || (Cp - It->First) % It->Stride != 0) return Cp;
  return static_cast<char32_t>(static_cast<std::int32_t>(Cp) + It->Delta);
}

// The next unit of Text at Pos as a comparison key, already folded.
char32_t NextKey(std::string_view Text, std::size_t& Pos) {
  const auto B = static_cast<unsigned char>(Text[Pos]);
  if (B < 0x80) {
    ++Pos;
    return B >= 'A' && B <= 'Z' ? B + ('a' - 'A') : B;
  }
  const std::size_t Start = Pos;
  const char32_t Cp = DecodeUtf8(Text, Pos);
  if (Cp == 0xFFFD && Pos == Start + 1) return InvalidByteKey + B;
  return FoldTableLookup(Cp);
}

}  // namespace

char32_t FoldCase(char32_t Cp) {
  if (Cp < 0x80) return Cp >= 'A' && Cp <= 'Z' ? Cp + ('a' - 'A') : Cp;
  if (Cp < 0xC0) return Cp;
  return FoldTableLookup(Cp);
}

std::string FoldCase(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  std::size_t Pos = 0;
  while (Pos < Text.size()) {
    const auto B = static_cast<unsigned char>(Text[Pos]);
    if (B < 0x80) {
      Out += static_cast<char>(B >= 'A' && B <= 'Z' ? B + ('a' - 'A') : B);
      ++Pos;
      continue;
    }
    const std::size_t Start = Pos;
    const char32_t Cp = DecodeUtf8(Text, Pos);
    if (Cp == 0xFFFD && Pos == Start + 1) {
      Out += static_cast<char>(B);  // a damaged byte stays what it is
    } else {
      AppendUtf8(Out, FoldTableLookup(Cp));
    }
  }
  return Out;
}

int CompareText(std::string_view A, std::string_view B) {
  std::size_t PosA = 0, PosB = 0;
  while (PosA < A.size() && PosB < B.size()) {
    const char32_t KeyA = NextKey(A, PosA);
    const char32_t KeyB = NextKey(B, PosB);
    if (KeyA != KeyB) return KeyA < KeyB ? -1 : 1;
  }
  if (PosA < A.size()) return 1;
  if (PosB < B.size()) return -1;
  return 0;
}

bool SameText(std::string_view A, std::string_view B) {
  return CompareText(A, B) == 0;
}

std::string AsciiLower(std::string_view Text) {
  std::string Out(Text);
  for (char& C : Out) {
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C + ('a' - 'A'));
  }
  return Out;
}

}  // namespace dz
