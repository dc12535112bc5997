#include "base/SafeFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

namespace dz {
namespace {

struct TCase {
  const char* Name;
  std::string Result;
  std::string Expected;
};

void Check(const TCase* First, const TCase* Last) {
  for (; First != Last; ++First) {
    SCOPED_TRACE(First->Name);
    EXPECT_EQ(First->Result, First->Expected);
  }
}

TEST(SafeFormat, Integers) {
  const TCase Cases[] = {
      {"d", SafeFormat("%d files", 12), "12 files"},
      {"d negative", SafeFormat("%d", -42), "-42"},
      {"d precision", SafeFormat("%.3d", 7), "007"},
      {"d precision negative", SafeFormat("%.2d", -3), "-03"},
      {"d precision shorter than value", SafeFormat("%.2d", 12345), "12345"},
      {"d int64 min", SafeFormat("%d", INT64_MIN), "-9223372036854775808"},
      {"d unsigned value", SafeFormat("%d", UINT64_MAX), "18446744073709551615"},
      {"d bool", SafeFormat("%d", true), "1"},
      {"u", SafeFormat("%u", 4000000000u), "4000000000"},
      {"u 32-bit -1", SafeFormat("%u", std::int32_t{-1}), "4294967295"},
      {"u 16-bit -1", SafeFormat("%u", std::int16_t{-1}), "65535"},
      {"u 64-bit -1", SafeFormat("%u", std::int64_t{-1}), "18446744073709551615"},
      {"x upper case", SafeFormat("%x", 0xBEEF), "BEEF"},
      {"x .8", SafeFormat("%.8x", 0x4150), "00004150"},
      {"x 32-bit negative", SafeFormat("%.8x", std::int32_t{-2147024891}), "80070005"},
      {"x 64-bit", SafeFormat("%x", std::uint64_t{0x123456789ABCDEF0}), "123456789ABCDEF0"},
      {"upper-case type", SafeFormat("%D|%X", 5, 255), "5|FF"},
      {"zero", SafeFormat("%d %u %x", 0, 0u, 0), "0 0 0"},
  };
  Check(std::begin(Cases), std::end(Cases));
}

TEST(SafeFormat, TextsWidthsAndIndexes) {
  const TCase Cases[] = {
      {"s", SafeFormat("Copy %s to %s", "a.txt", std::string("b")), "Copy a.txt to b"},
      {"s string_view", SafeFormat("[%s]", std::string_view("view")), "[view]"},
      {"s null pointer", SafeFormat("[%s]", static_cast<const char*>(nullptr)), "[]"},
      {"s precision counts code points", SafeFormat("%.2s", "\xC3\xA4\xC3\xB6\xC3\xBC"), "\xC3\xA4\xC3\xB6"},
      {"width", SafeFormat("[%5s]", "ab"), "[   ab]"},
      {"width left", SafeFormat("[%-5s]", "ab"), "[ab   ]"},
      {"width counts code points", SafeFormat("[%3s]", "\xC3\xA4"), "[  \xC3\xA4]"},
      {"width smaller than text", SafeFormat("[%1s]", "abc"), "[abc]"},
      {"width on numbers", SafeFormat("[%4d|%-4d]", -5, 7), "[  -5|7   ]"},
      {"zero in width pads with blanks", SafeFormat("[%03d]", 7), "[  7]"},
      {"width from argument", SafeFormat("[%*d]", 4, 9), "[   9]"},
      {"percent", SafeFormat("100%% of %d", 3), "100% of 3"},
      {"index", SafeFormat("%1:s %0:s", "a", "b"), "b a"},
      {"index then sequence", SafeFormat("%1:s %s %0:s", "a", "b", "c"), "b c a"},
      {"extra arguments ignored", SafeFormat("%d", 1, 2, "x"), "1"},
      {"no placeholders", SafeFormat("plain"), "plain"},
      {"empty", SafeFormat(""), ""},
  };
  Check(std::begin(Cases), std::end(Cases));
}

TEST(SafeFormat, FloatingPointIgnoresTheCLocale) {
  // A locale with a decimal comma, when one is installed, must not show.
  const std::string Saved = std::setlocale(LC_NUMERIC, nullptr);
  for (const char* Name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, Name)) break;
  }
  const TCase Cases[] = {
      {"f", SafeFormat("%f", 1.5), "1.50"},
      {"f precision", SafeFormat("%.3f", 2.0 / 3.0), "0.667"},
      {"f no decimals", SafeFormat("%.0f", 2.75), "3"},
      {"n groups thousands", SafeFormat("%n", 1234567.891), "1,234,567.89"},
      {"n negative", SafeFormat("%.1n", -1234.375), "-1,234.4"},
      {"n small", SafeFormat("%n", 999.0), "999.00"},
      {"e", SafeFormat("%.3e", 1234.5), "1.23E+003"},
      {"e negative exponent", SafeFormat("%.2e", 0.00126), "1.3E-003"},
      {"g", SafeFormat("%g", 0.5), "0.5"},
      {"g width", SafeFormat("[%6g]", 2.25), "[  2.25]"},
  };
  std::setlocale(LC_NUMERIC, Saved.c_str());
  Check(std::begin(Cases), std::end(Cases));
}

// Everything that does not fit gives the format back, marked, and never an
// exception: these texts end up in logs and message windows.
TEST(SafeFormat, MismatchesGiveFormatError) {
  struct TErrorCase {
    const char* Name;
    std::string Format;
    std::string Result;
  };
  const TErrorCase Cases[] = {
      {"text for u", "%u files", SafeFormat("%u files", "x")},
      {"text for d", "%d", SafeFormat("%d", std::string("12"))},
      {"text for x", "%.8x", SafeFormat("%.8x", "ff")},
      {"integer for s", "%s", SafeFormat("%s", 5)},
      {"float for d", "%d", SafeFormat("%d", 1.0)},
      {"integer for f", "%f", SafeFormat("%f", 1)},
      {"missing argument", "%s and %s", SafeFormat("%s and %s", "one")},
      {"no arguments", "%d", SafeFormat("%d")},
      {"unknown conversion", "%q", SafeFormat("%q", 1)},
      {"lone percent at end", "50%", SafeFormat("50%", 1)},
      {"unfinished placeholder", "%-5", SafeFormat("%-5", 1)},
      {"index past the arguments", "%5:s", SafeFormat("%5:s", "a")},
      {"absurd width", "%999999999d", SafeFormat("%999999999d", 1)},
      {"negative width argument", "%*d", SafeFormat("%*d", -3, 1)},
      {"text as width", "%*d", SafeFormat("%*d", "3", 1)},
  };
  for (const TErrorCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(C.Result, "Format error: " + C.Format);
  }
}

}  // namespace
}  // namespace dz
