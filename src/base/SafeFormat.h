#pragma once
// Formatting of user-visible texts with printf-style placeholders that never
// fails: a format whose placeholders do not fit the arguments gives
// "Format error: " followed by the format unchanged.
//
// Placeholders: %[index:][-][width][.precision]type with type one of
//   d  signed decimal; precision = minimum number of digits ("%.3d" of -3 is "-003")
//   u  unsigned decimal (a negative value is shown as its two's complement
//      in the argument's own width, as a 32-bit -1 gives 4294967295)
//   x  hexadecimal, upper-case digits; precision = minimum number of digits
//   s  text; precision = maximum number of code points
//   f, e, g, n  floating point (n groups thousands with ",")
//   %% a percent sign
// Integers of any width, texts and floating-point values can be passed. An
// integer for %s, a text for %d, or too few arguments is a format error.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace dz {

class TFormatArg {
public:
  enum class TKind { fkSigned, fkUnsigned, fkText, fkFloat };

  template <class T>
    requires std::is_integral_v<T> && (!std::is_same_v<T, bool>) && (!std::is_same_v<T, char>)
  TFormatArg(T V) : FBits(static_cast<int>(sizeof(T) * 8)) {
    if constexpr (std::is_signed_v<T>) {
      FKind = TKind::fkSigned;
      FInt = static_cast<std::int64_t>(V);
    } else {
      FKind = TKind::fkUnsigned;
      FUInt = static_cast<std::uint64_t>(V);
    }
  }
  TFormatArg(bool V) : FKind(TKind::fkSigned), FInt(V ? 1 : 0) {}
  TFormatArg(double V) : FKind(TKind::fkFloat), FFloat(V) {}
  TFormatArg(const char* V) : FKind(TKind::fkText), FText(V ? V : "") {}
  TFormatArg(const std::string& V) : FKind(TKind::fkText), FText(V) {}
  TFormatArg(std::string_view V) : FKind(TKind::fkText), FText(V) {}

  TKind Kind() const { return FKind; }
  int Bits() const { return FBits; }
  std::int64_t Signed() const { return FInt; }
  std::uint64_t Unsigned() const { return FUInt; }
  double Float() const { return FFloat; }
  std::string_view Text() const { return FText; }

private:
  TKind FKind;
  int FBits = 64;
  std::int64_t FInt = 0;
  std::uint64_t FUInt = 0;
  double FFloat = 0;
  std::string_view FText;
};

std::string SafeFormatArgs(std::string_view Format, std::initializer_list<TFormatArg> Args);

template <class... A>
std::string SafeFormat(std::string_view Format, const A&... Args) {
  return SafeFormatArgs(Format, {TFormatArg(Args)...});
}

}  // namespace dz
