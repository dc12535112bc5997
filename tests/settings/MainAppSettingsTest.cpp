#include "settings/MainAppSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/CaseFold.h"
#include "base/CommaText.h"
#include "settings/IniTestSupport.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(CombineNoCompressTest, SortedWithoutDuplicatesRegardlessOfCase) {
  const std::string BuiltIn = BuiltInNoCompress;
  const struct {
    const char* User;
    std::string Expected;
  } Cases[] = {
      {"", BuiltIn},
      {"ZIP,doc",  // doc once, zip once, in the user's spelling
       "7z,ace,arc,arj,bz2,cab,doc,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,"
       "otp,ots,ott,pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,ZIP,zipx"},
      {"tmp,TMP,Tmp", "7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,"
                      "odt,otp,ots,ott,pdf,png,pptx,rar,tmp,webm,webp,xlsm,xlsx,xpi,zip,zipx"},
      {",a,,", "7z,a,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,"
               "otp,ots,ott,pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.User);
    EXPECT_EQ(CombineNoCompress(Case.User), Case.Expected);
  }
}

TEST(CombineNoCompressTest, ItemsWithSeparatorsSurviveAsItems) {
  const std::vector<std::string> Items = SplitCommaText(CombineNoCompress(R"( tar.zst , "a,b",MP3)"));
  EXPECT_NE(std::find(Items.begin(), Items.end(), "tar.zst"), Items.end());
  EXPECT_NE(std::find(Items.begin(), Items.end(), "a,b"), Items.end());
  EXPECT_NE(std::find(Items.begin(), Items.end(), "MP3"), Items.end());
  EXPECT_EQ(std::find(Items.begin(), Items.end(), "mp3"), Items.end());
  EXPECT_TRUE(std::is_sorted(Items.begin(), Items.end(), [](const std::string& A, const std::string& B) {
    return AsciiLower(A) < AsciiLower(B);
  }));
}

class MainAppSettingsTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FSettingsDir = PathOf("settings") + "/";
    fs::create_directories(FSettingsDir);
    fs::create_directories(FDir / "logs");
  }
  void WriteMainAppIni(std::string_view Text) {
    test::WriteFileBytes(FSettingsDir + "ZentApp.ini", test::AsciiUtf16LeFile(Text));
  }

  std::string FSettingsDir;
};

TEST_F(MainAppSettingsTest, FileNameIsTheExecutablesWithIni) {
  EXPECT_EQ(MainAppIniFile(FSettingsDir), FSettingsDir + "ZentApp.ini");
  EXPECT_EQ(MainAppIniFile(PathOf("settings")), FSettingsDir + "ZentApp.ini");
}

TEST_F(MainAppSettingsTest, WithoutFileOnlyDefaults) {
  for (const char* Language : {"de", "en"}) {
    SCOPED_TRACE(Language);
    const TMainAppSettings Settings = ReadMainAppSettings(FSettingsDir, Language);
    EXPECT_FALSE(Settings.Found);
    EXPECT_EQ(Settings.DriveId, std::string(Language) == "de" ? "Lw?" : "Drv?");
    // Compressed types are never compressed again, also without the file.
    EXPECT_EQ(Settings.NoCompress, CombineNoCompress(""));
    for (const char* Type : {"jpg", "gz", "zip", "mp4"})
      EXPECT_NE(("," + Settings.NoCompress + ",").find(std::string(",") + Type + ","), std::string::npos) << Type;
    EXPECT_EQ(Settings.LogDir, FSettingsDir);
    EXPECT_TRUE(Settings.Printer.empty());
  }
}

TEST_F(MainAppSettingsTest, ReadsConfigAndPrinterSections) {
  WriteMainAppIni("[Config]\r\nDriveId=Src?\r\nNoCompress=ZIP,doc\r\nProtDir=" + PathOf("logs") +
                  "\r\n[Printer]\r\nLeft=20\r\nTop = 15\r\nno key here\r\nFont=Mono, 9\r\n");
  const TMainAppSettings Settings = ReadMainAppSettings(FSettingsDir, "de");
  EXPECT_TRUE(Settings.Found);
  EXPECT_EQ(Settings.DriveId, "Src?");
  EXPECT_EQ(Settings.NoCompress, CombineNoCompress("ZIP,doc"));
  EXPECT_EQ(Settings.LogDir, PathOf("logs"));
  EXPECT_EQ(Settings.Printer, (Pairs{{"Left", "20"}, {"Top", "15"}, {"Font", "Mono, 9"}}));
}

TEST_F(MainAppSettingsTest, PrinterMarginsInMillimetres) {
  WriteMainAppIni("[Printer]\r\nLeft=25\r\nTop=7.5\r\nright=12,5\r\nBOTTOM=0\r\n");
  EXPECT_EQ(ReadMainAppSettings(FSettingsDir, "en").Margins, (TPrinterMargins{25, 7.5, 12.5, 0}));
  // Without the file, and without the section, the defaults stand.
  EXPECT_EQ(ReadMainAppSettings(PathOf("logs"), "en").Margins, TPrinterMargins());
  WriteMainAppIni("[Config]\r\nDriveId=x\r\n");
  EXPECT_EQ(ReadMainAppSettings(FSettingsDir, "en").Margins, TPrinterMargins());
}

TEST(PrinterMarginsFromTest, BadValuesKeepTheirDefault) {
  const TPrinterMargins Defaults;
  const struct {
    const char* Value;
    double Left;
  } Cases[] = {
      {"30", 30},
      {"0", 0},
      {"100", 100},
      {"4.25", 4.25},
      {"4,25", 4.25},
      {"", Defaults.Left},
      {"abc", Defaults.Left},
      {"-5", Defaults.Left},
      {"100.5", Defaults.Left},
      {"12mm", Defaults.Left},
      {"1e3", Defaults.Left},
      {"nan", Defaults.Left},
      {"inf", Defaults.Left},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Value);
    const TPrinterMargins Margins = PrinterMarginsFrom({{"Top", "9"}, {"Left", Case.Value}});
    EXPECT_EQ(Margins.Left, Case.Left);
    EXPECT_EQ(Margins.Top, 9);
    EXPECT_EQ(Margins.Right, Defaults.Right);
    EXPECT_EQ(Margins.Bottom, Defaults.Bottom);
  }
}

TEST_F(MainAppSettingsTest, MissingValuesFallBack) {
  const struct {
    const char* Name;
    std::string Text;
    const char* DriveId;
    std::string NoCompress;
    std::string LogDir;
  } Cases[] = {
      {"no keys", "[Config]\r\nOther=1\r\n", "Lw?", BuiltInNoCompress, FSettingsDir},
      {"empty values", "[Config]\r\nDriveId=\r\nNoCompress=\r\nProtDir=\r\n", "", BuiltInNoCompress, FSettingsDir},
      {"log folder missing", "[Config]\r\nProtDir=" + PathOf("gone") + "\r\n", "Lw?", BuiltInNoCompress,
       FSettingsDir},
      {"log folder is a file", "[Config]\r\nProtDir=" + FSettingsDir + "ZentApp.ini\r\n", "Lw?",
       BuiltInNoCompress, FSettingsDir},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    WriteMainAppIni(Case.Text);
    const TMainAppSettings Settings = ReadMainAppSettings(FSettingsDir, "DE");
    EXPECT_TRUE(Settings.Found);
    EXPECT_EQ(Settings.DriveId, Case.DriveId);
    EXPECT_EQ(Settings.NoCompress, Case.NoCompress);
    EXPECT_EQ(Settings.LogDir, Case.LogDir);
  }
}

TEST_F(MainAppSettingsTest, UnreadableFileCountsAsMissing) {
  // A file that opens but fails to read, whatever the rights of the user who
  // runs the test: reading a process's memory at address 0 is an I/O error.
  fs::create_symlink("/proc/self/mem", FSettingsDir + "ZentApp.ini");
  const TMainAppSettings Settings = ReadMainAppSettings(FSettingsDir, "en");
  EXPECT_FALSE(Settings.Found);
  EXPECT_EQ(Settings.DriveId, "Drv?");
  EXPECT_EQ(Settings.NoCompress, CombineNoCompress(""));
  EXPECT_EQ(Settings.LogDir, FSettingsDir);
}

TEST_F(MainAppSettingsTest, DarkModeOfConfigurationFile) {
  const struct {
    const char* Text;
    bool Dark;
  } Cases[] = {
      {"[Config]\r\nDarkMode=1\r\n", true},
      {"[Config]\r\nDarkMode=0\r\n", false},
      {"[Config]\r\nDarkMode=yes\r\n", false},  // no number: the default
      {"[Other]\r\nDarkMode=1\r\n", false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Text);
    test::WriteFileBytes(FDir / "ZentApp.cfg", test::AsciiUtf16LeFile(Case.Text));
    EXPECT_EQ(ConfigWantsDarkMode(PathOf("ZentApp.cfg")), Case.Dark);
  }
  EXPECT_FALSE(ConfigWantsDarkMode(PathOf("missing.cfg")));
  EXPECT_FALSE(ConfigWantsDarkMode(PathOf("logs")));  // a directory cannot be read
}

// Where the main application's executable is looked for, in order.
class FindZvPathTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    for (const char* Dir : {"cwd", "prog", "bin1", "bin2", "etc/ZentivoCore6", "elsewhere"})
      fs::create_directories(FDir / Dir);
  }
  void MakeExecutable(const std::string& Name, bool Executable = true) {
    test::WriteFileBytes(FDir / Name, "#!/bin/sh\n");
    fs::permissions(FDir / Name, Executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
  }
  void RegisterProgram(const std::string& Path) {
    test::WriteFileBytes(FDir / "etc/ZentivoCore6/registry.ini",
                         test::AsciiUtf16LeFile("[ZentivoCore6]\r\nProgram=" + Path + "\r\n"));
  }
  std::string Find(const std::string& SearchPath) const {
    return FindZvPath(PathOf("cwd"), PathOf("prog") + "/", PathOf("etc/ZentivoCore6/registry.ini"), SearchPath);
  }
  std::string SearchPath() const { return PathOf("bin1") + ":" + PathOf("bin2"); }
};

TEST_F(FindZvPathTest, FirstHitWins) {
  EXPECT_EQ(Find(SearchPath()), "");

  MakeExecutable("bin2/ZentApp");
  EXPECT_EQ(Find(SearchPath()), PathOf("bin2/ZentApp"));
  MakeExecutable("bin1/ZentApp");
  EXPECT_EQ(Find(SearchPath()), PathOf("bin1/ZentApp"));

  MakeExecutable("elsewhere/zentapp-6");
  RegisterProgram(PathOf("elsewhere/zentapp-6"));
  EXPECT_EQ(Find(SearchPath()), PathOf("elsewhere/zentapp-6"));

  MakeExecutable("prog/ZentApp");
  EXPECT_EQ(Find(SearchPath()), PathOf("prog/ZentApp"));

  MakeExecutable("cwd/ZentApp");
  EXPECT_EQ(Find(SearchPath()), PathOf("cwd/ZentApp"));
}

TEST_F(FindZvPathTest, OnlyExecutableFilesCount) {
  MakeExecutable("cwd/ZentApp", false);         // a data file of that name
  fs::create_directories(FDir / "prog/ZentApp");  // a directory of that name
  RegisterProgram(PathOf("elsewhere/gone"));    // registered, but removed since
  MakeExecutable("bin2/ZentApp");
  EXPECT_EQ(Find(SearchPath()), PathOf("bin2/ZentApp"));
}

TEST_F(FindZvPathTest, SearchPathEntries) {
  MakeExecutable("bin2/ZentApp");
  // Empty entries are skipped (they stand for the current directory, which
  // comes first anyway); relative entries are taken from the current one.
  fs::create_directories(FDir / "cwd/rel");
  MakeExecutable("cwd/rel/ZentApp");
  const struct {
    std::string SearchPath;
    std::string Found;
  } Cases[] = {
      {"", ""},
      {":::", ""},
      {"::" + PathOf("bin2") + ":", PathOf("bin2/ZentApp")},
      {PathOf("missing") + ":" + PathOf("bin2") + "/", PathOf("bin2/ZentApp")},
      {"rel:" + PathOf("bin2"), PathOf("cwd/rel/ZentApp")},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.SearchPath);
    EXPECT_EQ(Find(Case.SearchPath), Case.Found);
  }
}

}  // namespace
}  // namespace dz
