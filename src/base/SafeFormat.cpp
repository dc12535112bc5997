#include "base/SafeFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "base/Utf.h"

namespace dz {

namespace {

// Width and precision beyond this are taken for a damaged format (a
// translation can carry one), not for a request to allocate gigabytes.
constexpr int MaxWidth = 4096;

struct TFormatFailed {};

struct TPlaceholder {
  bool LeftAlign = false;
  int Width = 0;
  std::optional<int> Precision;
  char Type = 0;
};

class TFormatter {
public:
  TFormatter(std::string_view Format, std::initializer_list<TFormatArg> Args)
      : FFormat(Format), FArgs(Args.begin(), Args.size()) {}

  std::string Run() {
    std::string Out;
    Out.reserve(FFormat.size() + 16);
    std::size_t I = 0;
    while (I < FFormat.size()) {
      const char C = FFormat[I++];
      if (C != '%') {
        Out += C;
        continue;
      }
      if (I < FFormat.size() && FFormat[I] == '%') {
        Out += '%';
        ++I;
        continue;
      }
      const TPlaceholder Placeholder = ParsePlaceholder(I);
      std::string Field = Convert(Placeholder);
      Pad(Out, Field, Placeholder);
    }
    return Out;
  }

private:
  std::string_view FFormat;
  std::span<const TFormatArg> FArgs;
  std::size_t FNext = 0;

  const TFormatArg& NextArg() {
    if (FNext >= FArgs.size()) throw TFormatFailed();
    return FArgs[FNext++];
  }

  // Digits at I, or "*" for a value taken from the next (integer) argument.
  std::optional<int> ParseNumber(std::size_t& I) {
    if (I < FFormat.size() && FFormat[I] == '*') {
      ++I;
      const TFormatArg& Arg = NextArg();
      std::int64_t V;
      if (Arg.Kind() == TFormatArg::TKind::fkSigned) {
        V = Arg.Signed();
      } else if (Arg.Kind() == TFormatArg::TKind::fkUnsigned && Arg.Unsigned() <= MaxWidth) {
        V = static_cast<std::int64_t>(Arg.Unsigned());
      } else {
        throw TFormatFailed();
      }
      if (V < 0 || V > MaxWidth) throw TFormatFailed();
      return static_cast<int>(V);
    }
    if (I >= FFormat.size() || FFormat[I] < '0' || FFormat[I] > '9') return std::nullopt;
    int V = 0;
    while (I < FFormat.size() && FFormat[I] >= '0' && FFormat[I] <= '9') {
      V = V * 10 + (FFormat[I] - '0');
      if (V > MaxWidth) throw TFormatFailed();
      ++I;
    }
    return V;
  }

  TPlaceholder ParsePlaceholder(std::size_t& I) {
    TPlaceholder Placeholder;
    // "%1:s" selects the argument; later placeholders continue after it.
    {
      std::size_t J = I;
      while (J < FFormat.size() && FFormat[J] >= '0' && FFormat[J] <= '9') ++J;
      if (J > I && J < FFormat.size() && FFormat[J] == ':') {
        std::size_t Index = 0;
        for (std::size_t K = I; K < J; ++K) {
          Index = Index * 10 + static_cast<std::size_t>(FFormat[K] - '0');
          if (Index > FArgs.size()) throw TFormatFailed();
        }
        FNext = Index;
        I = J + 1;
      }
    }
    if (I < FFormat.size() && FFormat[I] == '-') {
      Placeholder.LeftAlign = true;
      ++I;
    }
    Placeholder.Width = ParseNumber(I).value_or(0);
    if (I < FFormat.size() && FFormat[I] == '.') {
      ++I;
      Placeholder.Precision = ParseNumber(I).value_or(0);
    }
    if (I >= FFormat.size()) throw TFormatFailed();
    char Type = FFormat[I++];
    if (Type >= 'A' && Type <= 'Z') Type = static_cast<char>(Type + ('a' - 'A'));
    Placeholder.Type = Type;
    return Placeholder;
  }

  static void Pad(std::string& Out, const std::string& Field, const TPlaceholder& Placeholder) {
    const std::size_t Length = CodePointCount(Field);
    const std::size_t Fill = static_cast<std::size_t>(Placeholder.Width) > Length ? Placeholder.Width - Length : 0;
    if (!Placeholder.LeftAlign) Out.append(Fill, ' ');
    Out += Field;
    if (Placeholder.LeftAlign) Out.append(Fill, ' ');
  }

  std::string Convert(const TPlaceholder& Placeholder) {
    switch (Placeholder.Type) {
      case 'd': case 'u': case 'x': return FormatInteger(Placeholder, NextArg());
      case 's': return FormatText(Placeholder, NextArg());
      case 'f': case 'e': case 'g': case 'n': return FormatFloat(Placeholder, NextArg());
      default: throw TFormatFailed();
    }
  }

  static std::string Digits(std::uint64_t V, int Base) {
    char Buffer[32];
    const auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, V, Base);
    std::string S(Buffer, Result.ptr);
    for (char& C : S) {
      if (C >= 'a' && C <= 'f') C = static_cast<char>(C - ('a' - 'A'));
    }
    return S;
  }

  static std::string FormatInteger(const TPlaceholder& Placeholder, const TFormatArg& Arg) {
    bool Negative = false;
    std::uint64_t Magnitude;
    if (Arg.Kind() == TFormatArg::TKind::fkSigned) {
      const std::int64_t V = Arg.Signed();
      if (Placeholder.Type == 'd') {
        Negative = V < 0;
        Magnitude = Negative ? 0 - static_cast<std::uint64_t>(V) : static_cast<std::uint64_t>(V);
      } else {
        // Two's complement in the argument's own width: a 32-bit -1 is FFFFFFFF.
        Magnitude = static_cast<std::uint64_t>(V);
        if (Arg.Bits() < 64) Magnitude &= (std::uint64_t{1} << Arg.Bits()) - 1;
      }
    } else if (Arg.Kind() == TFormatArg::TKind::fkUnsigned) {
      Magnitude = Arg.Unsigned();
    } else {
      throw TFormatFailed();
    }
    std::string Number = Digits(Magnitude, Placeholder.Type == 'x' ? 16 : 10);
    if (Placeholder.Precision && static_cast<std::size_t>(*Placeholder.Precision) > Number.size()) {
      Number.insert(0, *Placeholder.Precision - Number.size(), '0');
    }
    if (Negative) Number.insert(0, 1, '-');
    return Number;
  }

  static std::string FormatText(const TPlaceholder& Placeholder, const TFormatArg& Arg) {
    if (Arg.Kind() != TFormatArg::TKind::fkText) throw TFormatFailed();
    const std::string_view Text = Arg.Text();
    if (!Placeholder.Precision) return std::string(Text);
    std::size_t Pos = 0;
    for (int Count = 0; Count < *Placeholder.Precision && Pos < Text.size(); ++Count) DecodeUtf8(Text, Pos);
    return std::string(Text.substr(0, Pos));
  }

  static std::string FormatFloat(const TPlaceholder& Placeholder, const TFormatArg& Arg) {
    if (Arg.Kind() != TFormatArg::TKind::fkFloat) throw TFormatFailed();
    const double V = Arg.Float();
    if (std::isnan(V)) return "NAN";
    if (std::isinf(V)) return V < 0 ? "-INF" : "INF";
    // std::to_chars ignores the C locale, so a German LC_NUMERIC can never
    // turn the decimal point into a comma.
    std::vector<char> Buffer(400 + static_cast<std::size_t>(Placeholder.Precision.value_or(0)));
    char* const First = Buffer.data();
    char* const Last = First + Buffer.size();
    std::to_chars_result Result;
    switch (Placeholder.Type) {
      case 'f':
      case 'n':
        Result = std::to_chars(First, Last, V, std::chars_format::fixed, Placeholder.Precision.value_or(2));
        break;
      case 'e':
        Result = std::to_chars(First, Last, V, std::chars_format::scientific,
                               std::max(Placeholder.Precision.value_or(15), 1) - 1);
        break;
      default:
        Result = std::to_chars(First, Last, V, std::chars_format::general,
                               std::max(Placeholder.Precision.value_or(15), 1));
        break;
    }
    if (Result.ec != std::errc()) throw TFormatFailed();
    std::string S(First, Result.ptr);
    const std::size_t ExpPos = S.find('e');
    if (ExpPos != std::string::npos) {
      // Exponents as "E+003": sign always, at least three digits.
      std::string Mantissa = S.substr(0, ExpPos);
      std::string Exponent = S.substr(ExpPos + 1);
      char Sign = '+';
      if (!Exponent.empty() && (Exponent[0] == '+' || Exponent[0] == '-')) {
        Sign = Exponent[0];
        Exponent.erase(0, 1);
      }
      if (Exponent.size() < 3) Exponent.insert(0, 3 - Exponent.size(), '0');
      S = Mantissa + 'E' + Sign + Exponent;
    }
    if (Placeholder.Type == 'n') {
      const std::size_t Start = S[0] == '-' ? 1 : 0;
      std::size_t IntEnd = S.find('.');
      if (IntEnd == std::string::npos) IntEnd = S.size();
      for (std::size_t Pos = IntEnd; Pos > Start + 3; Pos -= 3) S.insert(Pos - 3, 1, ',');
    }
    return S;
  }
};

}  // namespace

std::string SafeFormatArgs(std::string_view Format, std::initializer_list<TFormatArg> Args) {
  try {
    try {
      return TFormatter(Format, Args).Run();
    } catch (...) {
      // A format that does not fit its arguments, or a library failure such
      // as an exhausted heap: either way the caller gets a text, never an
      // exception, and the format shows what was meant.
      return "Format error: " + std::string(Format);
    }
  } catch (...) {
    return std::string();
  }
}

}  // namespace dz
