#include "desktop/Help.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class HelpTest : public test::TTempDirTest {};

TEST_F(HelpTest, DataBesideTheProgramElseInShare) {
  fs::create_directories(FDir / "bin" / "help");
  const std::string Bin = PathOf("bin");
  EXPECT_EQ(HelpFolder(Bin), PathOf("bin/help"));
  EXPECT_EQ(LocaleFolder(Bin), PathOf("bin/../share/dezedodiru/locale"));
}

TEST_F(HelpTest, PageOfTheLanguageFirst) {
  fs::create_directories(FDir / "de");
  const std::string Dir = PathOf("");
  EXPECT_EQ(HelpFileName(Dir, "", "de"), "");  // no page at all
  MakeFile("zv-watchdog.html");
  EXPECT_EQ(HelpFileName(Dir, "zv-watchdog.html", "de"), PathOf("zv-watchdog.html"));
  EXPECT_EQ(HelpFileName(Dir, "", "en"), PathOf("zv-watchdog.html"));
  MakeFile("de/zv-watchdog.html");
  EXPECT_EQ(HelpFileName(Dir, "", "de"), PathOf("de/zv-watchdog.html"));
  EXPECT_EQ(HelpFileName(Dir, "", "en"), PathOf("zv-watchdog.html"));
}

TEST_F(HelpTest, TopicsOutsideTheHelpFolderAreRefused) {
  fs::create_directories(FDir / "help");
  MakeFile("secret.html");
  MakeFile("help/page.html");
  const std::string Dir = PathOf("help");
  for (const char* Topic : {"../secret.html", "/etc/passwd", "..", "sub/page.html"})
    EXPECT_EQ(HelpFileName(Dir, Topic, "en"), "") << Topic;
  EXPECT_EQ(HelpFileName(Dir, "page.html", "../.."), PathOf("help/page.html"));
  EXPECT_EQ(HelpFileName("", "page.html", "en"), "");
}

}  // namespace
}  // namespace dz
