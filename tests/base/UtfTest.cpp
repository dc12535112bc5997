#include "base/Utf.h"

#include <gtest/gtest.h>

#include <string>

namespace dz {
namespace {

TEST(Utf, RoundTripsThroughUtf16) {
  const std::string Cases[] = {
      "",
      "plain ASCII",
      "Gr\xC3\xBC\xC3\x9F"
      "e",                                // U+00FC U+00DF
      "\xE2\x82\xAC 100",                 // U+20AC
      "\xEF\xBF\xBF",                     // U+FFFF, the last BMP code point
      "\xF0\x9F\x98\x80",                 // U+1F600, a surrogate pair
      "\xF4\x8F\xBF\xBF",                 // U+10FFFF
      std::string("nul\0inside", 10),
  };
  for (const std::string& Text : Cases) {
    SCOPED_TRACE(Text);
    EXPECT_TRUE(IsValidUtf8(Text));
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(Text)), Text);
  }
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\xD83D\xDE00"));
  EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9"), std::u16string(u"a\u00E9"));
}

// Each damaged sequence is refused by IsValidUtf8 and decodes into one
// U+FFFD per byte that does not start a well-formed sequence.
TEST(Utf, InvalidSequencesBecomeReplacementCharacters) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::u16string Utf16;
  };
  const TCase Cases[] = {
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong 3-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong 4-byte", "\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"surrogate D800", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"surrogate DFFF", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
      {"above 10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"F5 lead byte", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"truncated at end", "ab\xE2\x82", u"ab\uFFFD\uFFFD"},
      {"truncated before ASCII", "\xE2\x82z", u"\uFFFD\uFFFDz"},
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"FF byte", "\xFF", u"\uFFFD"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_FALSE(IsValidUtf8(C.Bytes));
    EXPECT_EQ(Utf8ToUtf16(C.Bytes), C.Utf16);
    EXPECT_EQ(CodePointCount(C.Bytes), C.Utf16.size());
  }
}

TEST(Utf, DecodeAdvancesByOneOnDamage) {
  const std::string Text = "\xE2\x82\xAC\xE2\x82";
  std::size_t Pos = 0;
  EXPECT_EQ(DecodeUtf8(Text, Pos), U'\u20AC');
  EXPECT_EQ(Pos, 3u);
  EXPECT_EQ(DecodeUtf8(Text, Pos), U'\uFFFD');
  EXPECT_EQ(Pos, 4u);
  EXPECT_EQ(DecodeUtf8(Text, Pos), U'\uFFFD');
  EXPECT_EQ(Pos, 5u);
}

// The bytes past the view must never be read: the view ends inside a
// sequence whose remaining bytes are valid in the underlying buffer.
TEST(Utf, DecodeStaysInsideTheView) {
  const std::string Buffer = "x\xF0\x9F\x98\x80";
  const std::string_view Cut(Buffer.data(), 3);
  std::size_t Pos = 1;
  EXPECT_EQ(DecodeUtf8(Cut, Pos), U'\uFFFD');
  EXPECT_EQ(Pos, 2u);
  EXPECT_FALSE(IsValidUtf8(Cut));
  EXPECT_EQ(Utf16Length(Cut), 3u);
}

TEST(Utf, AppendRefusesWhatUtf8CannotCarry) {
  struct TCase {
    char32_t Cp;
    std::string Expected;
  };
  const TCase Cases[] = {
      {U'A', "A"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0x110000, "\xEF\xBF\xBD"},
      {0xFFFFFFFF, "\xEF\xBF\xBD"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(static_cast<unsigned>(C.Cp));
    std::string Out = "<";
    AppendUtf8(Out, C.Cp);
    EXPECT_EQ(Out, "<" + C.Expected);
  }
}

TEST(Utf, LoneSurrogatesInUtf16BecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800" u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD83D')), "\xEF\xBF\xBD");  // high at the end
  EXPECT_EQ(Utf16ToUtf8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");   // reversed pair
}

TEST(Utf, Cp1252MapsTheSpecialBytes) {
  struct TCase {
    unsigned char Byte;
    const char* Utf8;
  };
  const TCase Cases[] = {
      {0x41, "A"},
      {0x80, "\xE2\x82\xAC"},   // U+20AC euro sign
      {0x81, "\xC2\x81"},       // undefined: the C1 control U+0081
      {0x8A, "\xC5\xA0"},       // U+0160
      {0x8D, "\xC2\x8D"},
      {0x8F, "\xC2\x8F"},
      {0x90, "\xC2\x90"},
      {0x93, "\xE2\x80\x9C"},   // U+201C
      {0x9D, "\xC2\x9D"},
      {0x9F, "\xC5\xB8"},       // U+0178
      {0xA0, "\xC2\xA0"},
      {0xE4, "\xC3\xA4"},       // U+00E4
      {0xFF, "\xC3\xBF"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(static_cast<int>(C.Byte));
    EXPECT_EQ(Cp1252ToUtf8(std::string(1, static_cast<char>(C.Byte))), C.Utf8);
  }
  std::string All;
  for (int B = 0; B < 256; ++B) All += static_cast<char>(B);
  const std::string Converted = Cp1252ToUtf8(All);
  EXPECT_TRUE(IsValidUtf8(Converted));
  EXPECT_EQ(CodePointCount(Converted), 256u);
}

TEST(Utf, CountsUtf16UnitsAndCodePoints) {
  struct TCase {
    std::string Text;
    std::size_t Utf16Units;
    std::size_t CodePoints;
  };
  const TCase Cases[] = {
      {"", 0, 0},
      {"abc", 3, 3},
      {"\xC3\xA4\xE2\x82\xAC", 2, 2},
      {"\xF0\x9F\x98\x80", 2, 1},
      {"a\xF0\x9F\x98\x80z", 4, 3},
      {"\xFF\xFE", 2, 2},  // damaged bytes count one each
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(Utf16Length(C.Text), C.Utf16Units);
    EXPECT_EQ(Utf16Length(C.Text), Utf8ToUtf16(C.Text).size());
    EXPECT_EQ(CodePointCount(C.Text), C.CodePoints);
  }
}

// Every byte string, however damaged, converts without reading beyond its
// end (the sanitizer builds check that) and yields valid UTF-8 back.
TEST(Utf, ArbitraryBytesAlwaysConvert) {
  std::uint32_t Seed = 12345;
  for (int Round = 0; Round < 2000; ++Round) {
    std::string Bytes;
    const int Length = Round % 13;
    for (int I = 0; I < Length; ++I) {
      Seed = Seed * 1103515245u + 12345u;
      Bytes += static_cast<char>(Seed >> 24);
    }
    const std::string Back = Utf16ToUtf8(Utf8ToUtf16(Bytes));
    ASSERT_TRUE(IsValidUtf8(Back));
    ASSERT_EQ(IsValidUtf8(Bytes), Back == Bytes);
    ASSERT_EQ(CodePointCount(Back), CodePointCount(Bytes));
  }
}

TEST(EscapeControlsTest, LineBreaksAndControlsAreShownNotObeyed) {
  const struct {
    std::string In;
    std::string Out;
  } Cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"two\nlines.txt", "two\\nlines.txt"},
      {"cr\r\nlf", "cr\\r\\nlf"},
      {"tab\tkept", "tab\tkept"},
      {std::string("nul\0esc\x1B del\x7F", 13), "nul\\x00esc\\x1B del\\x7F"},
      {"C:\\Users\\Ann", "C:\\Users\\Ann"},
      {"M\xC3\xA4rz \xFF", "M\xC3\xA4rz \xFF"},  // UTF-8 and stray bytes stay as they are
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Out);
    EXPECT_EQ(EscapeControls(Case.In), Case.Out);
  }
}

}  // namespace
}  // namespace dz
