#include "filters/TextFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace dz {
namespace {

std::string Repeat(std::string_view APiece, int ACount) {
  std::string Result;
  for (int I = 0; I < ACount; ++I)
    Result += APiece;
  return Result;
}

struct TMaskCase {
  const char* Mask;
  const char* Text;
  bool Expected;
};

TEST(MatchesMask, Table) {
  const TMaskCase Cases[] = {
      // whole text against whole mask
      {"", "", true},
      {"", "a", false},
      {"abc", "abc", true},
      {"abc", "abcd", false},
      {"abc", "ab", false},
      {"*", "", true},
      {"*", "anything at all", true},
      {"a*", "a", true},
      {"*a", "bab", false},
      {"*ab", "aab", true},            // the star has to give back a character
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"a*b*c", "abcabcabx", false},
      {"*.txt", "notes.txt", true},
      {"*.txt", "notes.txt.bak", false},
      {"*.txt", ".txt", true},
      // "?" is exactly one character, also behind a star
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"*?", "", false},
      {"*?", "x", true},
      {"?*?", "x", false},
      // case: only a-z and A-Z
      {"*.TXT", "readme.txt", true},
      {"ABC", "abc", true},
      {"abc", "ABC", true},
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9", false},   // Été against été
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9", false},   // été against Été
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9T\xC3\xA9", true},    // été against éTé
      {"\xD0\x90", "\xD0\xB0", false},                    // Cyrillic А against а
      // "?" takes a whole character, however many bytes it has
      {"?", "\xC3\xA9", true},
      {"??", "\xC3\xA9", false},
      {"?", "\xE2\x82\xAC", true},           // euro sign
      {"?", "\xF0\x9F\x98\x80", true},       // emoji, four bytes
      {"a?b", "a\xF0\x9F\x98\x80" "b", true},
      // bytes that are not UTF-8 are characters of their own
      {"?", "\xFF", true},
      {"??", "\xC3", false},                 // a lone lead byte is one character
      {"?.txt", "\xFF.txt", true},
      {"\xFF", "\xFF", true},
      {"\xFF", "\xFE", false},
      {"\xFF", "\xEF\xBF\xBD", false},       // never the replacement character
      {"\xEF\xBF\xBD", "\xFF", false},
      {"[\xC3\xA9]", "\xC3", false},         // nor a piece of a character
      // sets and ranges
      {"[abc]", "b", true},
      {"[abc]", "d", false},
      {"[abc]", "", false},
      {"[abc]", "ab", false},
      {"[a-c]x", "bx", true},
      {"[a-c]x", "Bx", true},                // letters ignore case in sets too
      {"[A-C]", "b", true},
      {"[a-cx-z]", "y", true},
      {"[a-cx-z]", "m", false},
      {"[!a-c]", "d", true},
      {"[!a-c]", "B", false},
      {"[!a-c]", "", false},
      {"[a-]", "-", true},                   // "-" before "]" is itself
      {"[a-c-]", "-", true},
      {"[a-c-e]", "d", false},               // "-" after a range is itself
      {"[a-c-e]", "e", true},
      {"[!!]", "!", false},
      {"[!!]", "x", true},
      {"[*]", "*", true},
      {"[*]", "x", false},
      {"[?]", "x", false},
      {"[[]", "[", true},
      {"a]", "a]", true},                    // "]" outside a set is a literal
      {"!abc", "!abc", true},                // so is "!"
      {"[\xC3\xA9]", "\xC3\xA9", true},      // é is U+00E9: sets hold it
      {"[\xC3\xA9]", "\xC3\x89", false},     // but not É
      {"[\xC4\x81]", "\xC4\x81", false},     // ā (U+0101) never belongs to a set
      {"[!abc]", "\xC4\x81", true},
      {"[a-\xC5\xBE]", "\xC4\x81", false},   // not even inside a range ending above it
      {"[a-\xC5\xBE]", "\xC3\xBF", true},
      {"[!a]", "\xFF", true},                // an invalid byte is never in a set
      {"[\xFF]", "\xFF", false},
      // an invalid mask matches nothing
      {"[abc", "[abc", false},
      {"[]", "", false},
      {"[-a]", "-", false},
  };
  for (const TMaskCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << "mask \"" << C.Mask << "\" text \"" << C.Text << "\"");
    EXPECT_EQ(MatchesMask(C.Text, C.Mask), C.Expected);
  }
}

struct TValidityCase {
  std::string Mask;
  bool Valid;
};

TEST(IsValidMask, Table) {
  const TValidityCase Cases[] = {
      {"", true},
      {"*.*", true},
      {"[a-z]*", true},
      {"[!a-z]", true},
      {"[a-]", true},
      {"[\xC4\x81]", true},        // names a character, which no text can match
      {"abc]", true},
      {"[abc", false},
      {"[", false},
      {"*.[tx", false},
      {"[]", false},
      {"[!]", false},
      {"[]abc]", false},           // "]" closes at once: an empty set
      {"[z-a]", false},            // a reversed range names nothing
      {"[-a]", false},
      {"[!-a]", false},
      {"[a-", false},
      {Repeat("*a", 30), true},
      {Repeat("*a", 31), false},
      {Repeat("a*", 30), true},
      {Repeat("a*", 31), false},
      {Repeat("*?", 31), false},   // "?" separates stars
      {Repeat("*", 100), true},    // a run of stars is one star
      {Repeat("**a", 30), true},
  };
  for (const TValidityCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << "mask \"" << C.Mask << "\"");
    EXPECT_EQ(IsValidMask(C.Mask), C.Valid);
  }
}

TEST(MatchesMask, ThirtyStarsStillMatch) {
  const std::string Mask = Repeat("*a", 30);
  EXPECT_TRUE(MatchesMask(Repeat("a", 30), Mask));
  EXPECT_TRUE(MatchesMask(Repeat("xa", 40), Mask));
  EXPECT_FALSE(MatchesMask(Repeat("a", 29), Mask));
}

// A mask that makes naive recursive matching exponential.
TEST(MatchesMask, ManyStarsAgainstLongTextFinish) {
  const std::string Mask = Repeat("*a", 30) + "b";
  EXPECT_FALSE(MatchesMask(Repeat("a", 5000), Mask));
  EXPECT_TRUE(MatchesMask(Repeat("a", 5000) + "b", Mask));
}

TEST(TMask, SuffixIsMatchedAsPartOfTheText) {
  const TMask Mask("*.");
  EXPECT_FALSE(Mask.Matches("README"));
  EXPECT_TRUE(Mask.Matches("README", "."));
  const TMask Multi("ab?.");
  // A lead byte cut off at the end of the head stays one invalid character.
  EXPECT_TRUE(Multi.Matches("ab\xC3", "."));
  EXPECT_FALSE(TMask("ab\xC3\xA9").Matches("ab\xC3", "\xA9"));
}

}  // namespace
}  // namespace dz
