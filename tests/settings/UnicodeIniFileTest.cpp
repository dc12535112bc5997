// The INI document in memory: how text is read and written back, and the
// value rules. Tests that need real files are in UnicodeIniFileIoTest.cpp.

#include "settings/UnicodeIniFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "IniTestSupport.h"

namespace dz {
namespace {

using namespace std::string_literals;
using test::FromBytes;
using test::SavedText;
using test::Utf16Bytes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// --- reading and writing the text --------------------------------------------

TEST(IniText, LinesAreNormalisedWhenLoaded) {
  struct TCase {
    const char* Name;
    std::string Input;
    std::string Saved;
  };
  const TCase Cases[] = {
      {"empty input", "", ""},
      {"comments and everything before the first section are dropped",
       "; head\r\nLoose=1\r\nloose text\r\n[S]\r\n; note\r\nA=1\r\n", "[S]\r\nA=1\r\n\r\n"},
      {"blanks around names, values and section names are trimmed",
       "  [  S  ]  \n \t A \t = \t x y \t \n", "[S]\r\nA=x y\r\n\r\n"},
      {"control characters count as blanks", "[S]\n\x01\x1F" "A=1\x0B\x0C\n", "[S]\r\nA=1\r\n\r\n"},
      {"CR, LF and CR LF all end a line", "[S]\rA=1\nB=2\r\nC=3", "[S]\r\nA=1\r\nB=2\r\nC=3\r\n\r\n"},
      {"blank lines vanish", "[S]\r\n\r\n\r\n   \r\nA=1\r\n\r\n", "[S]\r\nA=1\r\n\r\n"},
      {"a line without = is kept as it is", "[S]\nplain  text\nA=1\n", "[S]\r\nplain  text\r\nA=1\r\n\r\n"},
      {"only the first = separates name and value", "[S]\nA = b = c\n", "[S]\r\nA=b = c\r\n\r\n"},
      {"a semicolon inside a line is no comment", "[S]\nA=1 ; x\n", "[S]\r\nA=1 ; x\r\n\r\n"},
      {"duplicate sections are both kept", "[S]\nA=1\n[s]\nA=2\n", "[S]\r\nA=1\r\n\r\n[s]\r\nA=2\r\n\r\n"},
      {"empty sections are kept", "[A]\n[B]\n", "[A]\r\n\r\n[B]\r\n\r\n"},
      {"stray brackets are text", "[S]\n[\n[x\n]\n", "[S]\r\n[\r\n[x\r\n]\r\n\r\n"},
      {"a bracketed line with = is a section", "[S]\n[a=b]\n", "[S]\r\n\r\n[a=b]\r\n\r\n"},
      {"empty section name, key name and value", "[]\n=v\nk=\n", "[]\r\n=v\r\nk=\r\n\r\n"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(SavedText(FromBytes(C.Input)), C.Saved);
  }
}

TEST(IniText, EncodingIsDecidedByTheMark) {
  const std::string Text = "[S]\r\nK=Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";  // U+00FC U+00DF U+20AC U+1F600
  const std::string Value = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Value;
  };
  const TCase Cases[] = {
      {"UTF-8 with mark", "\xEF\xBB\xBF" + Text, Value},
      {"UTF-16LE with mark", "\xFF\xFE" + Utf16Bytes(Text, false), Value},
      {"UTF-16BE with mark", "\xFE\xFF" + Utf16Bytes(Text, true), Value},
      {"UTF-8 without mark", Text, Value},
      {"Windows-1252 without mark", "[S]\r\nK=Gr\xFC\xDF \x80", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"},
      {"invalid UTF-8 behind a UTF-8 mark", "\xEF\xBB\xBF[S]\nK=a\xFF" "b", "a\xEF\xBF\xBD" "b"},
      {"lone surrogate in UTF-16LE", "\xFF\xFE" + Utf16Bytes("[S]\nK=", false) + "\x00\xD8x\x00"s,
       "\xEF\xBF\xBDx"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TUnicodeIniFile Ini = FromBytes(C.Bytes);
    // The mark is not text: were it kept, "[S]" would be no section.
    EXPECT_THAT(Ini.ReadSections(), ElementsAre("S"));
    EXPECT_EQ(Ini.ReadString("S", "K", "missing"), C.Value);
  }
}

TEST(IniText, DamagedInputLoadsWhatItCan) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Saved;
  };
  const TCase Cases[] = {
      {"lone UTF-8 mark", "\xEF\xBB\xBF", ""},
      {"lone UTF-16LE mark", "\xFF\xFE", ""},
      {"lone UTF-16BE mark", "\xFE\xFF", ""},
      {"one byte", "\xFF", ""},
      {"UTF-16LE with an odd number of bytes", "\xFF\xFE" + Utf16Bytes("[S]\r\nK=v", false) + "A",
       "[S]\r\nK=v\r\n\r\n"},
      {"UTF-16BE with an odd number of bytes", "\xFE\xFF" + Utf16Bytes("[S]\r\nK=v", true) + "\x01",
       "[S]\r\nK=v\r\n\r\n"},
      {"NUL inside a value is kept", "[S]\nK=a\0b\n"s, "[S]\r\nK=a\0b\r\n\r\n"s},
      {"NUL at the ends of a line is trimmed", "[S]\n\0K=v\0\n"s, "[S]\r\nK=v\r\n\r\n"},
      {"only NUL bytes", std::string(64, '\0'), ""},
      {"UTF-16LE units of NUL", "\xFF\xFE" + Utf16Bytes("[S]\0\r\nK=a\0v"s, false), "[S]\r\nK=a\0v\r\n\r\n"s},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(SavedText(FromBytes(C.Bytes)), C.Saved);
  }
  EXPECT_EQ(FromBytes("[S]\nK=a\0b\n"s).ReadString("S", "K", ""), "a\0b"s);
}

TEST(IniText, MegabyteLinesLoad) {
  const std::string Long(1 << 20, 'x');
  const TUnicodeIniFile Ini = FromBytes(Long + "=dropped\n[S]\nK=" + Long + "\r\n" + Long + "\nNext=1");
  EXPECT_EQ(Ini.ReadString("S", "K", ""), Long);
  EXPECT_EQ(Ini.ReadString("S", "Next", ""), "1");
  EXPECT_THAT(Ini.ReadSection("S"), ElementsAre("K", "Next"));
  EXPECT_EQ(Ini.ReadSectionValues("S").at(1), Long);
}

// Whatever bytes come in, the first save gives a document that reads back as
// itself: the same sections and lines, and the same bytes when saved again.
TEST(IniText, ArbitraryBytesSurviveASaveAndReload) {
  const char Alphabet[] = {'[', ']', '=', ';', '\r', '\n', ' ', '\t', '\0', 'a', 'B', '\xFF', '\xFE', '\xEF',
                           '\xBB', '\xBF', '\xC3', '\xA9', '\x80', '\xD8', '\xDC'};
  std::mt19937 Random(20240611);
  std::uniform_int_distribution<std::size_t> Length(0, 400);
  std::uniform_int_distribution<std::size_t> Pick(0, sizeof(Alphabet) - 1);
  std::uniform_int_distribution<int> AnyByte(0, 255);
  for (int Round = 0; Round < 300; ++Round) {
    std::string Bytes(Length(Random), '\0');
    for (char& B : Bytes)
      B = Round % 3 == 0 ? static_cast<char>(AnyByte(Random)) : Alphabet[Pick(Random)];
    SCOPED_TRACE("round " + std::to_string(Round));

    const TUnicodeIniFile First = FromBytes(Bytes);
    const std::string Saved = First.SaveToBytes();
    const TUnicodeIniFile Second = FromBytes(Saved);
    ASSERT_EQ(Second.SaveToBytes(), Saved);
    ASSERT_EQ(Second.ReadSections(), First.ReadSections());
    for (const std::string& Section : First.ReadSections()) {
      ASSERT_EQ(Second.ReadSectionValues(Section), First.ReadSectionValues(Section));
    }
  }
}

// A value with line breaks (Linux file names may hold them) must stay one
// value: it must not be read back as keys or sections of its own.
TEST(IniText, LineBreaksCannotForgeKeysOrSections) {
  TUnicodeIniFile Ini;
  Ini.WriteString("Monitor00", "File000", "a\r\n[Config]\nCount=0");
  Ini.WriteString("Odd\n[Name]", "Key\r", "v");
  EXPECT_EQ(Ini.ReadString("Monitor00", "File000", ""), "a\r\n[Config]\nCount=0");

  const TUnicodeIniFile Reloaded = FromBytes(Ini.SaveToBytes());
  const std::string Fffd = "\xEF\xBF\xBD";
  EXPECT_THAT(Reloaded.ReadSections(), ElementsAre("Monitor00", "Odd" + Fffd + "[Name]"));
  EXPECT_THAT(Reloaded.ReadSection("Monitor00"), ElementsAre("File000"));
  EXPECT_EQ(Reloaded.ReadString("Monitor00", "File000", ""), "a" + Fffd + Fffd + "[Config]" + Fffd + "Count=0");
  EXPECT_THAT(Reloaded.ReadSection("Odd" + Fffd + "[Name]"), ElementsAre("Key" + Fffd));
}

// --- value rules ---------------------------------------------------------------

TEST(IniValues, IntegersAreDecimalOrHexadecimal) {
  constexpr std::int32_t Def32 = 7;
  constexpr std::int64_t Def64 = 7;
  constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t Max64 = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t Min64 = std::numeric_limits<std::int64_t>::min();
  struct TCase {
    std::string Stored;  // as it stands in the file after "K="
    std::int32_t AsInt32;
    std::int64_t AsInt64;
  };
  const TCase Cases[] = {
      {"0x1F", 31, 31},
      {"0X1f", 31, 31},
      {"$1F", 31, 31},
      {"0x0", 0, 0},
      {"  42  ", 42, 42},
      {"-5", -5, -5},
      {"+5", 5, 5},
      {"-0", 0, 0},
      {"00000000000000000000000042", 42, 42},
      {"12abc", Def32, Def64},
      {"0x", Def32, Def64},
      {"$", Def32, Def64},
      {"", Def32, Def64},
      {"-", Def32, Def64},
      {"+", Def32, Def64},
      {"1 2", Def32, Def64},
      {"1e3", Def32, Def64},
      {"x1F", Def32, Def64},
      {"0x1G", Def32, Def64},
      {"-0x1F", Def32, Def64},
      {"-$1F", Def32, Def64},
      {"0x-1", Def32, Def64},
      {"2147483647", 2147483647, 2147483647},
      {"2147483648", Def32, 2147483648LL},
      {"-2147483648", Min32, -2147483648LL},
      {"-2147483649", Def32, -2147483649LL},
      {"$7FFFFFFF", 2147483647, 2147483647},
      {"$80000000", Def32, 0x80000000LL},
      {"0xFFFFFFFF", Def32, 0xFFFFFFFFLL},
      {"9223372036854775807", Def32, Max64},
      {"9223372036854775808", Def32, Def64},
      {"-9223372036854775808", Def32, Min64},
      {"-9223372036854775809", Def32, Def64},
      {"$7FFFFFFFFFFFFFFF", Def32, Max64},
      {"$8000000000000000", Def32, Def64},
      {"99999999999999999999999", Def32, Def64},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE("K=" + C.Stored);
    const TUnicodeIniFile Ini = FromBytes("[S]\nK=" + C.Stored + "\n");
    EXPECT_EQ(Ini.ReadInteger("S", "K", Def32), C.AsInt32);
    EXPECT_EQ(Ini.ReadInt64("S", "K", Def64), C.AsInt64);
  }

  const TUnicodeIniFile Ini = FromBytes("[S]\nK=1\n");
  EXPECT_EQ(Ini.ReadInteger("S", "Missing", -3), -3);
  EXPECT_EQ(Ini.ReadInteger("Missing", "K", -3), -3);
  EXPECT_EQ(Ini.ReadInt64("Missing", "K", Min64), Min64);
}

TEST(IniValues, BooleansAreNonZeroNumbers) {
  struct TCase {
    std::string Stored;
    bool WithDefaultFalse;
    bool WithDefaultTrue;
  };
  const TCase Cases[] = {
      {"1", true, true},   {"2", true, true},   {"-1", true, true},    {"0x10", true, true},
      {"0", false, false}, {"$0", false, false}, {"yes", false, true}, {"true", false, true},
      {"", false, true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE("K=" + C.Stored);
    const TUnicodeIniFile Ini = FromBytes("[S]\nK=" + C.Stored + "\n");
    EXPECT_EQ(Ini.ReadBool("S", "K", false), C.WithDefaultFalse);
    EXPECT_EQ(Ini.ReadBool("S", "K", true), C.WithDefaultTrue);
  }
  const TUnicodeIniFile Ini;
  EXPECT_TRUE(Ini.ReadBool("S", "Missing", true));
  EXPECT_FALSE(Ini.ReadBool("S", "Missing", false));
}

TEST(IniValues, NumbersAreWrittenAsDecimalText) {
  TUnicodeIniFile Ini;
  Ini.WriteInteger("S", "I", std::numeric_limits<std::int32_t>::min());
  Ini.WriteInt64("S", "J", std::numeric_limits<std::int64_t>::min());
  Ini.WriteInt64("S", "M", std::numeric_limits<std::int64_t>::max());
  Ini.WriteBool("S", "T", true);
  Ini.WriteBool("S", "F", false);
  EXPECT_THAT(Ini.ReadSectionValues("S"),
              ElementsAre("I=-2147483648", "J=-9223372036854775808", "M=9223372036854775807", "T=1", "F=0"));
  EXPECT_EQ(Ini.ReadInteger("S", "I", 0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Ini.ReadInt64("S", "J", 0), std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE(Ini.ReadBool("S", "T", false));
  EXPECT_FALSE(Ini.ReadBool("S", "F", true));
}

TEST(IniValues, WriteStringReplacesInPlaceOrAppends) {
  TUnicodeIniFile Ini = FromBytes("[A]\nx=1\ny=2\n[B]\nz=3\n");
  Ini.WriteString("a", "X", "10");   // replaced where it stands, in the new spelling
  Ini.WriteString("A", "w", "4");    // appended to the end of its section
  Ini.WriteString("C", "k", " v ");  // a new section at the end of the document
  EXPECT_EQ(SavedText(Ini), "[A]\r\nX=10\r\ny=2\r\nw=4\r\n\r\n[B]\r\nz=3\r\n\r\n[C]\r\nk= v \r\n\r\n");
  // The value is kept as given until the next load trims it.
  EXPECT_EQ(Ini.ReadString("C", "K", ""), " v ");
  EXPECT_EQ(FromBytes(Ini.SaveToBytes()).ReadString("C", "K", ""), "v");
}

TEST(IniValues, NamesCompareWithoutCase) {
  TUnicodeIniFile Ini = FromBytes("[Gr\xC3\xB6\xC3\x9F" "e]\n\xC3\x84pfel=1\nKey=2\n");
  EXPECT_EQ(Ini.ReadString("gR\xC3\x96\xC3\x9F" "E", "\xC3\xA4PFEL", ""), "1");  // GRÖßE / äPFEL
  EXPECT_TRUE(Ini.ValueExists("GR\xC3\x96\xC3\x9F" "E", "KEY"));
  EXPECT_TRUE(Ini.SectionExists("gr\xC3\xB6\xC3\x9F" "e"));
  EXPECT_FALSE(Ini.ValueExists("Gr\xC3\xB6\xC3\x9F" "e", "Apfel"));
}

TEST(IniValues, FirstOfDuplicatesWins) {
  TUnicodeIniFile Ini = FromBytes("[S]\nK=first\nk=second\n[s]\nK=third\nOnly=x\n");
  EXPECT_EQ(Ini.ReadString("S", "K", ""), "first");
  EXPECT_EQ(Ini.ReadString("S", "Only", "absent"), "absent");
  EXPECT_THAT(Ini.ReadSection("s"), ElementsAre("K", "k"));

  Ini.WriteString("S", "New", "1");
  Ini.WriteString("S", "K", "changed");
  EXPECT_EQ(SavedText(Ini), "[S]\r\nK=changed\r\nk=second\r\nNew=1\r\n\r\n[s]\r\nK=third\r\nOnly=x\r\n\r\n");
  EXPECT_THAT(Ini.ReadSections(), ElementsAre("S", "s"));
}

TEST(IniValues, EmptySectionsCountAsAbsent) {
  const TUnicodeIniFile Ini = FromBytes("[Empty]\n[Text]\njust text\n[Keys]\nA=1\n");
  EXPECT_FALSE(Ini.SectionExists("Empty"));
  EXPECT_TRUE(Ini.SectionExists("Text"));
  EXPECT_TRUE(Ini.SectionExists("keys"));
  EXPECT_FALSE(Ini.SectionExists("Missing"));
  // A line without "=" is never found as a key.
  EXPECT_FALSE(Ini.ValueExists("Text", "just text"));
  EXPECT_EQ(Ini.ReadString("Text", "just text", "d"), "d");
  EXPECT_THAT(Ini.ReadSection("Text"), IsEmpty());
  EXPECT_TRUE(Ini.ValueExists("Keys", "a"));
  EXPECT_FALSE(Ini.ValueExists("Keys", "B"));
}

TEST(IniValues, ListsKeepTheOrderOfTheFile) {
  const TUnicodeIniFile Ini = FromBytes("[B]\nz=1\ntext\na=2\n[A]\nq=3\n[b]\nx=9\n");
  EXPECT_THAT(Ini.ReadSections(), ElementsAre("B", "A", "b"));
  EXPECT_THAT(Ini.ReadSection("b"), ElementsAre("z", "a"));
  EXPECT_THAT(Ini.ReadSectionValues("B"), ElementsAre("z=1", "text", "a=2"));
  EXPECT_THAT(Ini.ReadSection("Missing"), IsEmpty());
  EXPECT_THAT(Ini.ReadSectionValues("Missing"), IsEmpty());
}

TEST(IniValues, EraseSectionValuesKeepsTheHeader) {
  TUnicodeIniFile Ini = FromBytes("[A]\nx=1\ntext\n[B]\ny=2\n");
  Ini.EraseSectionValues("a");
  Ini.EraseSectionValues("Missing");  // stays missing
  EXPECT_FALSE(Ini.SectionExists("A"));
  EXPECT_FALSE(Ini.ValueExists("A", "x"));
  EXPECT_EQ(SavedText(Ini), "[A]\r\n\r\n[B]\r\ny=2\r\n\r\n");

  Ini.WriteString("A", "n", "1");
  EXPECT_EQ(SavedText(Ini), "[A]\r\nn=1\r\n\r\n[B]\r\ny=2\r\n\r\n");
}

TEST(IniValues, EraseSectionRemovesEveryDuplicate) {
  TUnicodeIniFile Ini = FromBytes("[A]\nx=1\n[B]\ny=2\n[a]\nx=old\n[C]\nz=3\n");
  Ini.EraseSection("A");
  Ini.EraseSection("Missing");
  EXPECT_THAT(Ini.ReadSections(), ElementsAre("B", "C"));
  EXPECT_EQ(Ini.ReadString("A", "x", "none"), "none");
  // The sections behind the erased ones are still found where they now are.
  EXPECT_EQ(Ini.ReadString("B", "y", ""), "2");
  EXPECT_EQ(Ini.ReadString("C", "z", ""), "3");
  Ini.WriteString("c", "w", "4");
  Ini.WriteString("D", "v", "5");
  EXPECT_EQ(SavedText(Ini), "[B]\r\ny=2\r\n\r\n[C]\r\nz=3\r\nw=4\r\n\r\n[D]\r\nv=5\r\n\r\n");
}

TEST(IniValues, DeleteKeyRemovesTheKeyAndItsDuplicates) {
  TUnicodeIniFile Ini = FromBytes("[S]\nK=1\nOther=2\nk=3\ntext\n");
  Ini.DeleteKey("s", "K");
  Ini.DeleteKey("S", "Missing");
  Ini.DeleteKey("Missing", "K");
  EXPECT_FALSE(Ini.ValueExists("S", "K"));
  EXPECT_THAT(Ini.ReadSectionValues("S"), ElementsAre("Other=2", "text"));
  EXPECT_EQ(SavedText(Ini), "[S]\r\nOther=2\r\ntext\r\n\r\n");
}

// Deleting keys one by one marks lines and sweeps them out from time to time;
// the lookups must stay right across the sweeps.
TEST(IniValues, ManyDeletesKeepLookupsRight) {
  TUnicodeIniFile Ini;
  auto Key = [](int I) { return "File" + std::to_string(1000 + I); };
  for (int I = 0; I < 1000; ++I)
    Ini.WriteString("S", Key(I), "v" + std::to_string(I));
  std::vector<std::string> Expected;
  for (int I = 0; I < 1000; ++I) {
    if (I % 4 != 3)
      Ini.DeleteKey("S", Key(I));
    else
      Expected.push_back(Key(I));
  }
  EXPECT_EQ(Ini.ReadSection("S"), Expected);
  for (int I = 0; I < 1000; ++I) {
    SCOPED_TRACE(Key(I));
    ASSERT_EQ(Ini.ValueExists("S", Key(I)), I % 4 == 3);
    if (I % 4 == 3) {
      ASSERT_EQ(Ini.ReadString("S", Key(I), ""), "v" + std::to_string(I));
    }
  }
  Ini.WriteString("S", Key(3), "changed");  // in place, not appended
  Ini.WriteString("S", Key(0), "back");     // deleted before: appended
  EXPECT_EQ(Ini.ReadSection("S").front(), Key(3));
  EXPECT_EQ(Ini.ReadSection("S").back(), Key(0));
  EXPECT_EQ(Ini.ReadString("S", Key(3), ""), "changed");
  EXPECT_EQ(Ini.ReadSectionValues("S").size(), Expected.size() + 1);
}

TEST(IniValues, WriteProgramInfoFillsTheMarkerSection) {
  TUnicodeIniFile Ini = FromBytes("[Config]\nA=1\n");
  Ini.WriteProgramInfo("Program", "DeZedodiru");
  Ini.WriteProgramInfo("Version", "1.0.0.1");
  EXPECT_EQ(SavedText(Ini), "[Config]\r\nA=1\r\n\r\n[Unicode]\r\nProgram=DeZedodiru\r\nVersion=1.0.0.1\r\n\r\n");
}

TEST(IniValues, DocumentWithoutFileNeverWrites) {
  TUnicodeIniFile Ini;
  Ini.WriteString("S", "K", "v");
  EXPECT_TRUE(Ini.ReadOnly());
  EXPECT_EQ(Ini.FileName(), "");
  EXPECT_NO_THROW(Ini.UpdateFile());
}

}  // namespace
}  // namespace dz
