#include "base/CodePages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/Utf.h"

namespace dz {
namespace {

TEST(CodePages, DecodesTheCharactersThatDiffer) {
  const struct {
    int CodePage;
    std::string Bytes;
    std::string Utf8;
  } Cases[] = {
      {cpWindows1252, "\x80 \xE4\x9F", "€ äŸ"},
      {cpIso8859_1, "\x80\xA4\xE4", "\xC2\x80¤ä"},
      {cpIso8859_15, "\xA4\xA6\xBC\xBE\xE4", "€ŠŒŸä"},
      {cpIbm850, "\x81\x84\x94\xE1\x9C\xD5\xCD\xFF", "üäöß£ı═\xC2\xA0"},
      {cpIbm850, "Plain ASCII\r\n", "Plain ASCII\r\n"},
      {cpUtf8, "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F", "Grüß"},
      {cpUtf8, "a\xEF\xBB\xBF", "a\xEF\xBB\xBF"},   // a mark inside the text is a character
      {cpUtf8, "a\xFF" "b\xC3", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
      {cpDefault, "\xEF\xBB\xBF\xCE\xB1", "α"},
      {4711, "\xCE\xB1\xE4", "α\xEF\xBF\xBD"},    // unknown: read as UTF-8
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.CodePage << " " << Case.Utf8);
    EXPECT_EQ(DecodeCodePage(Case.Bytes, Case.CodePage), Case.Utf8);
  }
}

TEST(CodePages, EveryByteOfAnEightBitPageIsOneCharacter) {
  std::string All;
  for (int B = 0; B < 256; ++B) All += static_cast<char>(B);
  for (const TCodePageInfo& Info : SupportedCodePages()) {
    if (Info.CodePage == cpUtf8) continue;
    SCOPED_TRACE(Info.Name);
    const std::string Text = DecodeCodePage(All, Info.CodePage);
    ASSERT_TRUE(IsValidUtf8(Text));
    std::set<char32_t> Seen;
    std::size_t Pos = 0;
    while (Pos < Text.size()) Seen.insert(DecodeUtf8(Text, Pos));
    EXPECT_EQ(Seen.size(), 256u) << "two bytes give the same character";
    EXPECT_EQ(Seen.count(U'\xFFFD'), 0u);
  }
}

TEST(CodePages, OfferedList) {
  ASSERT_FALSE(SupportedCodePages().empty());
  EXPECT_EQ(SupportedCodePages().front().CodePage, cpUtf8);
  for (const int CodePage : {cpUtf8, cpWindows1252, cpIso8859_1, cpIso8859_15, cpIbm850})
    EXPECT_TRUE(IsSupportedCodePage(CodePage)) << CodePage;
  EXPECT_FALSE(IsSupportedCodePage(cpDefault));
  EXPECT_FALSE(IsSupportedCodePage(437));
}

}  // namespace
}  // namespace dz
