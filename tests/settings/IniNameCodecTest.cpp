#include "settings/IniNameCodec.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Utf.h"
#include "settings/UnicodeIniFile.h"

namespace dz {
namespace {

using namespace std::string_literals;

struct TNameCase {
  std::string Name;
  std::string Stored;  // what the settings file holds
};

// Names a Linux directory can hold, and what the settings file stores for
// them. Plain names, Windows paths and anything Windows allows are stored as
// they are.
const TNameCase NameCases[] = {
    {"", ""},
    {"Projects/Report 2024.docx", "Projects/Report 2024.docx"},
    {"Entw\xC3\xBC" "rfe/\xE2\x82\xAC \xF0\x9F\x98\x80.txt", "Entw\xC3\xBC" "rfe/\xE2\x82\xAC \xF0\x9F\x98\x80.txt"},
    {"C:\\Users\\Anna\\Documents\\ZentApp\\", "C:\\Users\\Anna\\Documents\\ZentApp\\"},
    {"%41", "%41"},                        // a percent sign alone needs no escape
    {"a?b", "a?b"},                        // only a leading "?" marks the escaped form
    {"\xEF\xBF\xBD.txt", "\xEF\xBF\xBD.txt"},  // a real U+FFFD is valid UTF-8
    {"?abc", "??abc"},
    {"?", "??"},
    {"?%41", "??%2541"},
    {"line\rbreak", "?line%0Dbreak"},
    {"line\nbreak", "?line%0Abreak"},
    {"a\r\n[Config]\r\nJobDir=/tmp", "?a%0D%0A[Config]%0D%0AJobDir=/tmp"},
    {" lead", "?%20lead"},
    {"trail ", "?trail%20"},
    {"tab\tinside", "?tab%09inside"},
    {"del\x7F", "?del%7F"},
    {"latin1 caf\xE9", "?latin1%20caf%E9"},
    {"cut \xC3", "?cut%20%C3"},                       // truncated sequence
    {"overlong \xC0\xAF", "?overlong%20%C0%AF"},
    {"surrogate \xED\xA0\x80", "?surrogate%20%ED%A0%80"},
    {"\xFF\xFE", "?%FF%FE"},
    {"mixed \xC3\xBC\xFF 100%\n", "?mixed%20\xC3\xBC%FF%20100%25%0A"},
    {"\x01\x1F", "?%01%1F"},
    {"nul\0inside"s, "?nul%00inside"},
};

TEST(IniNameCodec, EncodesOnlyWhatTheFileCannotHold) {
  for (const TNameCase& Case : NameCases) {
    SCOPED_TRACE(Case.Stored);
    EXPECT_EQ(EncodeIniName(Case.Name), Case.Stored);
    EXPECT_EQ(DecodeIniName(Case.Stored), Case.Name);
  }
}

// What matters in the end: the name written as a value, saved, loaded again
// and decoded is the name, and no line of the file was disturbed.
TEST(IniNameCodec, SurvivesASettingsFile) {
  TUnicodeIniFile Ini;
  int I = 0;
  for (const TNameCase& Case : NameCases)
    Ini.WriteString("Monitor00", "File" + std::to_string(I++), EncodeIniName(Case.Name));
  Ini.WriteString("Config", "After", "kept");

  TUnicodeIniFile Loaded;
  Loaded.LoadFromBytes(Ini.SaveToBytes());
  EXPECT_EQ(Loaded.ReadSections(), (std::vector<std::string>{"Monitor00", "Config"}));
  EXPECT_EQ(Loaded.ReadSection("Monitor00").size(), std::size(NameCases));
  EXPECT_EQ(Loaded.ReadString("Config", "After", ""), "kept");
  I = 0;
  for (const TNameCase& Case : NameCases) {
    SCOPED_TRACE(Case.Stored);
    const std::string Value = Loaded.ReadString("Monitor00", "File" + std::to_string(I++), "<missing>");
    EXPECT_TRUE(IsValidUtf8(Value));
    EXPECT_EQ(DecodeIniName(Value), Case.Name);
  }
}

TEST(IniNameCodec, DecodingKeepsDamagedEscapes) {
  const struct {
    const char* Value;
    std::string Name;
  } Cases[] = {
      {"plain%zz", "plain%zz"},  // not escaped at all
      {"?100%", "100%"},
      {"?%4", "%4"},
      {"?%G1x", "%G1x"},
      {"?%4G", "%4G"},
      {"?%%41", "%A"},
      {"?%3f%3F", "??"},  // lower-case digits are read as well
      {"?a b", "a b"},    // an unescaped blank is taken as it stands
      {"?", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Value);
    EXPECT_EQ(DecodeIniName(Case.Value), Case.Name);
  }
}

}  // namespace
}  // namespace dz
