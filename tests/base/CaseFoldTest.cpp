#include "base/CaseFold.h"

#include <gtest/gtest.h>

#include <string>

namespace dz {
namespace {

TEST(CaseFold, FoldsCodePointsOfTheCoveredScripts) {
  struct TCase {
    const char* Name;
    char32_t Cp;
    char32_t Folded;
  };
  const TCase Cases[] = {
      {"ASCII capital", U'Q', U'q'},
      {"ASCII small", U'q', U'q'},
      {"ASCII digit", U'7', U'7'},
      {"A with diaeresis", 0x00C4, 0x00E4},
      {"sharp s has no capital here", 0x00DF, 0x00DF},
      {"multiplication sign", 0x00D7, 0x00D7},
      {"Thorn", 0x00DE, 0x00FE},
      {"Y with diaeresis", 0x0178, 0x00FF},
      {"Latin Ext-A pair", 0x0100, 0x0101},
      {"Latin Ext-A small", 0x0101, 0x0101},
      {"Z with caron", 0x017D, 0x017E},
      {"capital I with dot keeps itself", 0x0130, 0x0130},
      {"Latin Ext-B open O", 0x0186, 0x0254},
      {"Latin Ext-B DZ with caron", 0x01C4, 0x01C6},
      {"Latin Ext-B Dz with caron", 0x01C5, 0x01C6},
      {"Latin Ext Additional", 0x1E9E, 0x00DF},
      {"Latin Ext Additional pair", 0x1EA0, 0x1EA1},
      {"Greek Sigma", 0x03A3, 0x03C3},
      {"Greek final sigma stays", 0x03C2, 0x03C2},
      {"Greek Alpha with tonos", 0x0386, 0x03AC},
      {"Cyrillic Ya", 0x042F, 0x044F},
      {"Cyrillic Io", 0x0401, 0x0451},
      {"Cyrillic Ext pair", 0x0460, 0x0461},
      {"Armenian Ayb", 0x0531, 0x0561},
      {"full-width A", 0xFF21, 0xFF41},
      {"full-width Z", 0xFF3A, 0xFF5A},
      {"full-width small a", 0xFF41, 0xFF41},
      {"CJK", 0x4E2D, 0x4E2D},
      {"emoji", 0x1F600, 0x1F600},
      {"Georgian not covered", 0x10A0, 0x10A0},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(static_cast<unsigned>(FoldCase(C.Cp)), static_cast<unsigned>(C.Folded));
  }
}

TEST(CaseFold, FoldsTexts) {
  EXPECT_EQ(FoldCase("README.TXT"), "readme.txt");
  EXPECT_EQ(FoldCase("\xC3\x84rger \xD0\x9C\xD0\x98\xD0\xA0"),
            "\xC3\xA4rger \xD0\xBC\xD0\xB8\xD1\x80");  // "Ärger МИР"
  EXPECT_EQ(FoldCase("\xC4\xB0"), "\xC4\xB0");        // U+0130 has no one-to-one lower case
  EXPECT_EQ(FoldCase(""), "");
}

TEST(CaseFold, DamagedBytesStayAsTheyAre) {
  EXPECT_EQ(FoldCase("A\xFF" "B\xC3"), "a\xFF" "b\xC3");
  EXPECT_EQ(FoldCase("\xC0\xAF" "X"), "\xC0\xAF" "x");
}

TEST(CaseFold, ComparesWithoutRegardToCase) {
  struct TCase {
    std::string A;
    std::string B;
    int Sign;
  };
  const TCase Cases[] = {
      {"abc", "ABC", 0},
      {"", "", 0},
      {"", "a", -1},
      {"a", "", 1},
      {"abc", "abd", -1},
      {"ABD", "abc", 1},
      {"ab", "abc", -1},
      {"\xC3\x96L", "\xC3\xB6l", 0},                      // ÖL / öl
      {"\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89", 0},        // ΣΩ / σω
      {"\xEF\xBC\xA1", "\xEF\xBD\x81", 0},                // full-width A / a
      {"_", "a", -1},  // folded order: '_' (0x5F) before 'a', though after 'A'
      {"Z", "\xC3\xA4", -1},                              // code-point order, not bytes of capitals
      {"\xC4\xB0", "i", 1},
      // Two different damaged names never compare equal.
      {"\xFF", "\xFE", 1},
      {"a\x80", "a\x81", -1},
      {"\xFF", "\xEF\xBF\xBD", 1},  // a damaged byte is not the U+FFFD it decodes to
      {"\xC3", "\xC3\x80", 1},    // damaged bytes sort after every code point
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.A + " vs " + C.B);
    const int Result = CompareText(C.A, C.B);
    EXPECT_EQ((Result > 0) - (Result < 0), C.Sign);
    const int Reverse = CompareText(C.B, C.A);
    EXPECT_EQ((Reverse > 0) - (Reverse < 0), -C.Sign);
    EXPECT_EQ(SameText(C.A, C.B), C.Sign == 0);
    // Equal exactly when the folded texts are equal.
    EXPECT_EQ(FoldCase(C.A) == FoldCase(C.B), C.Sign == 0);
  }
}

TEST(CaseFold, AsciiLowerLeavesOtherLettersAlone) {
  EXPECT_EQ(AsciiLower("FoRcE"), "force");
  EXPECT_EQ(AsciiLower("\xC3\x84" "B"), "\xC3\x84" "b");
  EXPECT_EQ(AsciiLower("[@`{"), "[@`{");
}

}  // namespace
}  // namespace dz
