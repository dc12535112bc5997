#include "base/Translate.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/Environment.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

// A locale folder with German catalogs for two of the text domains, built
// with the same tool that builds the shipped catalogs.
class TranslateTest : public testing::Test {
protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("dz-translate-" + std::to_string(std::random_device{}()));
    fs::create_directories(FDir / "de" / "LC_MESSAGES");
    if (!BuildCatalog("default", "msgid \"Hello\"\nmsgstr \"Hallo\"\n\n"
                                 "msgid \"Size\"\nmsgstr \"Gr\xC3\xB6\xC3\x9F" "e\"\n") ||
        !BuildCatalog("dialogs", "msgid \"Cancel\"\nmsgstr \"Abbrechen\"\n")) {
      GTEST_SKIP() << "msgfmt (package gettext) is needed to build the test catalogs";
    }
    // The state of a process that has never chosen a locale.
    std::setlocale(LC_ALL, "C");
  }

  void TearDown() override {
    std::error_code Ignored;
    fs::remove_all(FDir, Ignored);
  }

  bool BuildCatalog(const std::string& Domain, const std::string& Entries) {
    const fs::path Po = FDir / (Domain + ".po");
    std::ofstream(Po) << "msgid \"\"\nmsgstr \"\"\n"
                         "\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                      << Entries;
    const fs::path Mo = FDir / "de" / "LC_MESSAGES" / (Domain + ".mo");
    const std::string Command = "msgfmt -o '" + Mo.string() + "' '" + Po.string() + "' 2>/dev/null";
    return std::system(Command.c_str()) == 0 && fs::exists(Mo);
  }

  // As the program starts its translation: the platform layer selects the
  // language, then the domains are bound.
  static void Init(const std::string& LocaleDir, const std::string& Code) {
    SelectMessageLanguage(Code);
    InitTranslation(LocaleDir);
  }

  fs::path FDir;
};

TEST_F(TranslateTest, SelectsTheLanguageByItsCodeUnderTheCLocale) {
  Init(FDir.string(), "de");
  EXPECT_EQ(Tr("Hello"), "Hallo");
  EXPECT_EQ(Tr("Size"), "Gr\xC3\xB6\xC3\x9F" "e");
  EXPECT_EQ(Tr(std::string("Hello")), "Hallo");
  EXPECT_EQ(Tr("Cancel", TdDialogs), "Abbrechen");
}

TEST_F(TranslateTest, UnknownKeysAndDomainsGiveTheKey) {
  Init(FDir.string(), "de");
  EXPECT_EQ(Tr("Not in the catalog"), "Not in the catalog");
  EXPECT_EQ(Tr("Cancel"), "Cancel");         // in "dialogs", not in "default"
  EXPECT_EQ(Tr("Hello", TdUnits), "Hello");  // no catalog for the domain
}

// gettext answers the empty key with the catalog's header, which must never
// show up as a text.
TEST_F(TranslateTest, EmptyKeyGivesEmptyText) {
  Init(FDir.string(), "de");
  EXPECT_EQ(Tr(""), "");
  EXPECT_EQ(Tr(static_cast<const char*>(nullptr)), "");
}

TEST_F(TranslateTest, LanguageWithoutCatalogGivesTheKeys) {
  Init(FDir.string(), "xx");
  EXPECT_EQ(Tr("Hello"), "Hello");
}

TEST_F(TranslateTest, LeavesNumberFormattingAlone) {
  const std::string Before = std::setlocale(LC_NUMERIC, nullptr);
  const std::string CtypeBefore = std::setlocale(LC_CTYPE, nullptr);
  Init(FDir.string(), "de");
  EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), Before);
  EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), CtypeBefore);
}

// The code comes from the command line; one that is not a plain language
// name must not steer gettext into other folders.
TEST_F(TranslateTest, RefusesCodesThatAreNoLanguageName) {
  fs::create_directories(FDir / "sub");
  Init((FDir / "sub").string(), "../de");
  EXPECT_EQ(Tr("Hello"), "Hello");
}

}  // namespace
}  // namespace dz
