#include "filesys/NumberUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace dz {
namespace {

constexpr std::int64_t Int64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t Int64Max = std::numeric_limits<std::int64_t>::max();

TEST(NumberUtilsTest, ZeroPadInt) {
  const struct {
    std::int64_t Value;
    int Digits;
    const char* Expected;
  } Cases[] = {
      {3, 2, "03"},
      {123, 2, "123"},
      {7, 3, "007"},
      {-3, 2, "-03"},
      {0, 3, "000"},
      {0, 0, "0"},
      {-7, 0, "-7"},
      {5, -1, "5"},
      {Int64Max, 21, "009223372036854775807"},
      {Int64Min, 2, "-9223372036854775808"},
      {Int64Min, 20, "-09223372036854775808"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Value) + " with " + std::to_string(C.Digits) + " digits");
    EXPECT_EQ(ZeroPadInt(C.Value, C.Digits), C.Expected);
  }
}

TEST(NumberUtilsTest, InsertGroupSeparators) {
  const struct {
    const char* Text;
    int Group;
    char Sep;
    const char* Expected;
  } Cases[] = {
      {"60000", 3, ' ', "60 000"},
      {"1000000", 3, ' ', "1 000 000"},
      {"999", 3, ' ', "999"},
      {"-100", 3, ' ', "- 100"},
      {"1234567", 2, '.', "1.23.45.67"},
      {"1000", 0, ' ', "1000"},
      {"1000", -2, ' ', "1000"},
      {"", 3, ' ', ""},
      // Characters are counted, not bytes.
      {"\u00E4\u00E4\u00E4\u00E4", 2, ' ', "\u00E4\u00E4 \u00E4\u00E4"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Text) + " by " + std::to_string(C.Group));
    EXPECT_EQ(InsertGroupSeparators(C.Text, C.Group, C.Sep), C.Expected);
  }
}

TEST(NumberUtilsTest, FormatGroupedAndRemoveBlanks) {
  EXPECT_EQ(FormatGrouped(30, 3), "30");
  EXPECT_EQ(FormatGrouped(60000, 3), "60 000");
  EXPECT_EQ(FormatGrouped(1234567, 0), "1234567");
  EXPECT_EQ(FormatGrouped(-1234, 3), "-1 234");
  EXPECT_EQ(FormatGrouped(Int64Min, 3), "-9 223 372 036 854 775 808");

  EXPECT_EQ(RemoveBlanks(" a b  c "), "abc");
  EXPECT_EQ(RemoveBlanks("\t1\n2"), "\t1\n2");
  EXPECT_EQ(RemoveBlanks(""), "");
}

using TTryParse = bool (*)(std::string_view, std::int64_t&);

struct TParseCase {
  const char* Name;
  TTryParse Try;
  std::string Text;
  bool Ok;
  std::int64_t Value;
};

constexpr const char* Hex = "hex";
constexpr const char* Oct = "octal";
constexpr const char* Bin = "binary";

TEST(NumberUtilsTest, PrefixedParsers) {
  const TParseCase Cases[] = {
      {Hex, TryHexToInt64, "1E", true, 30},
      {Hex, TryHexToInt64, "$1E", true, 30},
      {Hex, TryHexToInt64, "$1e", true, 30},
      {Hex, TryHexToInt64, "$aBcD", true, 0xABCD},
      {Hex, TryHexToInt64, "-$10", true, -16},
      {Hex, TryHexToInt64, "-10", true, -16},
      {Hex, TryHexToInt64, "$1 E", true, 30},
      {Hex, TryHexToInt64, " 1E", true, 30},
      {Hex, TryHexToInt64, "xyz", false, 0},
      {Hex, TryHexToInt64, "G1", false, 0},
      {Hex, TryHexToInt64, "0x1E", false, 0},
      {Hex, TryHexToInt64, "$-10", false, 0},
      {Hex, TryHexToInt64, "$$10", false, 0},
      {Hex, TryHexToInt64, "\t1", false, 0},
      {Hex, TryHexToInt64, "", false, 0},
      {Hex, TryHexToInt64, "$", false, 0},
      {Hex, TryHexToInt64, "-", false, 0},
      // The signed 64-bit range, and not a bit beyond it.
      {Hex, TryHexToInt64, "7FFFFFFFFFFFFFFF", true, Int64Max},
      {Hex, TryHexToInt64, "-$8000000000000000", true, Int64Min},
      {Hex, TryHexToInt64, "$8000000000000000", false, 0},
      {Hex, TryHexToInt64, "-8000000000000001", false, 0},
      {Hex, TryHexToInt64, "FFFFFFFFFFFFFFFF", false, 0},
      {Hex, TryHexToInt64, "10000000000000000", false, 0},
      {Hex, TryHexToInt64, "0000000000000000000001", true, 1},

      {Oct, TryOctToInt64, "%17", true, 15},
      {Oct, TryOctToInt64, "17", true, 15},
      {Oct, TryOctToInt64, "-%17", true, -15},
      {Oct, TryOctToInt64, "% 1 7", true, 15},
      {Oct, TryOctToInt64, "18", false, 0},
      {Oct, TryOctToInt64, "%-17", false, 0},
      {Oct, TryOctToInt64, "+1", false, 0},
      {Oct, TryOctToInt64, "", false, 0},
      {Oct, TryOctToInt64, "-", true, 0},
      {Oct, TryOctToInt64, "%", true, 0},
      {Oct, TryOctToInt64, "-%", true, 0},
      {Oct, TryOctToInt64, "777777777777777777777", true, Int64Max},
      {Oct, TryOctToInt64, "-1000000000000000000000", true, Int64Min},
      {Oct, TryOctToInt64, "1000000000000000000000", false, 0},
      {Oct, TryOctToInt64, "7777777777777777777777777", false, 0},

      {Bin, TryBinToInt64, "!1010", true, 10},
      {Bin, TryBinToInt64, "1010", true, 10},
      {Bin, TryBinToInt64, "-!11", true, -3},
      {Bin, TryBinToInt64, "1 0 1", true, 5},
      {Bin, TryBinToInt64, "102", false, 0},
      {Bin, TryBinToInt64, "", false, 0},
      {Bin, TryBinToInt64, "!", true, 0},
      {Bin, TryBinToInt64, std::string(63, '1'), true, Int64Max},
      {Bin, TryBinToInt64, "-1" + std::string(63, '0'), true, Int64Min},
      {Bin, TryBinToInt64, "1" + std::string(63, '0'), false, 0},
      {Bin, TryBinToInt64, "1" + std::string(64, '0'), false, 0},
  };
  for (const TParseCase& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + ": \"" + C.Text + "\"");
    std::int64_t Value = 12345;
    EXPECT_EQ(C.Try(C.Text, Value), C.Ok);
    EXPECT_EQ(Value, C.Value);
  }
}

TEST(NumberUtilsTest, RaisingParsersNameTheText) {
  using TParse = std::int64_t (*)(std::string_view);
  const struct {
    TParse Parse;
    const char* Text;
    const char* Message;  // null: parses to Value
    std::int64_t Value;
  } Cases[] = {
      {HexToInt64, "$FF", nullptr, 255},
      {HexToInt64, "G1", "G1 is not a valid hex value", 0},
      {HexToInt64, "", " is not a valid hex value", 0},
      {OctToInt64, "-%10", nullptr, -8},
      {OctToInt64, "%9", "%9 is not a valid octal value", 0},
      {BinToInt64, "!110", nullptr, 6},
      {BinToInt64, "12", "12 is not a valid binary value", 0},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    if (C.Message == nullptr) {
      EXPECT_EQ(C.Parse(C.Text), C.Value);
      continue;
    }
    try {
      C.Parse(C.Text);
      ADD_FAILURE() << "no EConvertError";
    } catch (const EConvertError& E) {
      EXPECT_STREQ(E.what(), C.Message);
    }
  }
}

}  // namespace
}  // namespace dz
