// The shipped German catalog, as the program finds it beside itself in the
// build tree: the language chosen by the option "lang" or the configuration
// file's "LangID" turns the program's texts into German.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "desktop/Help.h"
#include "filesys/PathUtils.h"
#include "platform/Environment.h"
#include "settings/ProgramLocations.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

std::string BuildLocaleFolder() { return LocaleFolder(ExtractFileDir(ExecutableFileName())); }

class GermanCatalogTest : public test::TTempDirTest {
protected:
  // As the program starts its translation.
  static void UseLanguage(const std::string& Code) {
    SelectMessageLanguage(Code);
    InitTranslation(BuildLocaleFolder());
  }

  void SetUp() override {
    TTempDirTest::SetUp();
    if (!fs::exists(fs::path(BuildLocaleFolder()) / "de" / "LC_MESSAGES" / "default.mo"))
      GTEST_SKIP() << "no German catalog in " << BuildLocaleFolder() << " (msgfmt missing at build time)";
  }
  void TearDown() override {
    UseLanguage("en");
    TTempDirTest::TearDown();
  }

  // The language the program would choose at start-up with Args, a home
  // folder in the test's folder and no language in the environment.
  std::string LanguageFor(const std::vector<std::string>& Args) {
    TLocationInputs In;
    In.Args = Args;
    In.ExeFileName = PathOf("bin/dezedodiru");
    In.CurrentDir = PathOf("");
    In.Home = PathOf("");
    In.MachineConfigDir = PathOf("etc");
    In.GetEnv = [](const std::string&) { return std::string(); };
    return FindProgramLocations(In).LanguageCode;
  }
};

TEST_F(GermanCatalogTest, TextsOfEveryDomainInGerman) {
  UseLanguage("de");
  EXPECT_EQ(Tr("Error creating desktop shortcut!"), "Fehler beim Anlegen der Desktop-Verkn\xC3\xBCpfung!");
  EXPECT_EQ(Tr("Stop monitoring"), "\xC3\x9C" "berwachung beenden");
  EXPECT_EQ(SafeFormat(Tr("%u files"), 3u), "3 Dateien");
  EXPECT_EQ(SafeFormat(Tr("Error on executing Zentivo: %s"), "x"), "Fehler beim Ausf\xC3\xBChren von Zentivo: x");
  // A text kept in a table and translated through a variable.
  const char* Unit = TrMark("minute(s)");
  EXPECT_EQ(Tr(Unit), "Minute(n)");
  EXPECT_EQ(Tr("Yes", TdDialogs), "Ja");
  EXPECT_EQ(Tr("seconds", TdUnits), "Sekunden");
}

TEST_F(GermanCatalogTest, OtherLanguagesKeepTheEnglishTexts) {
  for (const char* Code : {"en", "xx"}) {
    UseLanguage(Code);
    EXPECT_EQ(Tr("Stop monitoring"), "Stop monitoring") << Code;
  }
}

TEST_F(GermanCatalogTest, LanguageFromTheOptionOrTheConfigurationFile) {
  EXPECT_EQ(LanguageFor({"/lang:de"}), "de");
  EXPECT_EQ(LanguageFor({"-LANG:DEU"}), "de");

  fs::create_directories(FDir / ".config" / "ZentApp6");
  test::WriteFileBytes(FDir / ".config" / "ZentApp6" / "ZentApp.cfg", "[Language]\r\nLangID=de\r\n");
  const std::string FromFile = LanguageFor({});
  EXPECT_EQ(FromFile, "de");
  EXPECT_EQ(LanguageFor({"/lang:en"}), "en");  // the option wins

  UseLanguage(FromFile);
  EXPECT_EQ(Tr("Help is not available on this system!"), "Die Hilfe ist auf diesem System nicht verf\xC3\xBCgbar!");
}

// Every help page has its German page beside it, with the same sections
// (the ids the pages link to), so neither language loses a part of the help.
TEST(GermanHelpTest, EveryPageHasAGermanPageWithTheSameSections) {
  const fs::path Help = HelpFolder(ExtractFileDir(ExecutableFileName()));
  ASSERT_TRUE(fs::exists(Help / WatchdogHelpTopic)) << Help;
  const auto Ids = [](const fs::path& Page) {
    const std::string Text = test::ReadFileBytes(Page);
    std::vector<std::string> Found;
    for (std::size_t At = Text.find(" id=\""); At != std::string::npos; At = Text.find(" id=\"", At + 1)) {
      const std::size_t Start = At + 5;
      Found.push_back(Text.substr(Start, Text.find('"', Start) - Start));
    }
    return Found;
  };
  int Pages = 0;
  for (const fs::directory_entry& Entry : fs::directory_iterator(Help)) {
    if (Entry.path().extension() != ".html") continue;
    ++Pages;
    const fs::path German = Help / "de" / Entry.path().filename();
    ASSERT_TRUE(fs::exists(German)) << German;
    EXPECT_EQ(Ids(German), Ids(Entry.path())) << German;
    EXPECT_NE(test::ReadFileBytes(German).find("<html lang=\"de\">"), std::string::npos) << German;
  }
  EXPECT_GE(Pages, 1);
  EXPECT_EQ(HelpFileName(Help.string() + "/", WatchdogHelpTopic, "de"), (Help / "de" / WatchdogHelpTopic).string());
}

}  // namespace
}  // namespace dz
