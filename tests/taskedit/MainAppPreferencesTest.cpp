#include "taskedit/MainAppPreferences.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/ProgramLocations.h"
#include "settings/UnicodeIniFile.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

class MainAppPreferencesTest : public test::TTempDirTest {
protected:
  std::string SettingsDir() const { return FDir.string(); }
  std::string IniFile() const { return MainAppIniFile(SettingsDir()); }
  std::string ConfigFile() const { return PathOf("ZentApp.cfg"); }
};

TEST_F(MainAppPreferencesTest, TheWatchdogReadsWhatIsWritten) {
  std::filesystem::create_directory(PathOf("logs"));
  TMainAppPreferences Prefs;
  Prefs.DriveId = "Disk?";
  Prefs.NoCompress = "iso,qcow2";
  Prefs.ProtDir = PathOf("logs");
  Prefs.Margins = {12.5, 10, 7.25, 30};
  Prefs.LangID = "de";
  Prefs.DarkMode = true;
  WriteMainAppPreferences(Prefs, IniFile(), ConfigFile());

  const TMainAppSettings Read = ReadMainAppSettings(SettingsDir(), "en");
  EXPECT_TRUE(Read.Found);
  EXPECT_EQ(Read.DriveId, "Disk?");
  EXPECT_EQ(Read.NoCompress, CombineNoCompress("iso,qcow2"));
  EXPECT_EQ(Read.LogDir, PathOf("logs"));
  EXPECT_EQ(Read.Margins, Prefs.Margins);
  EXPECT_EQ(ConfiguredLanguageCode(ConfigFile()), "de");
  EXPECT_TRUE(ConfigWantsDarkMode(ConfigFile()));
  EXPECT_EQ(ReadMainAppPreferences(IniFile(), ConfigFile()), Prefs);
}

TEST_F(MainAppPreferencesTest, EmptyValuesLeaveTheWatchdogsDefaultsAndOtherKeysStay) {
  test::WriteFileBytes(IniFile(), "[Config]\nDriveId=Old?\nProtDir=/gone\nWindow=3\n[Printer]\nOrientation=1\n[Recent]\nFile1=x\n");
  test::WriteFileBytes(ConfigFile(), "[Language]\nLangID=fr\n[Config]\nDarkMode=1\nToolbar=big\n");
  TMainAppPreferences Prefs = ReadMainAppPreferences(IniFile(), ConfigFile());
  EXPECT_EQ(Prefs.DriveId, "Old?");
  EXPECT_EQ(Prefs.LangID, "fr");
  Prefs.DriveId.clear();
  Prefs.ProtDir.clear();
  Prefs.LangID.clear();
  Prefs.DarkMode = false;
  WriteMainAppPreferences(Prefs, IniFile(), ConfigFile());

  const TMainAppSettings Read = ReadMainAppSettings(SettingsDir(), "de");
  EXPECT_EQ(Read.DriveId, "Lw?");  // the language's default pattern
  EXPECT_EQ(Read.LogDir, SettingsDir());
  EXPECT_EQ(ConfiguredLanguageCode(ConfigFile()), "");
  EXPECT_FALSE(ConfigWantsDarkMode(ConfigFile()));
  const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(IniFile());
  EXPECT_EQ(Ini.ReadString("Config", "Window", ""), "3");
  EXPECT_EQ(Ini.ReadString("Printer", "Orientation", ""), "1");
  EXPECT_EQ(Ini.ReadString("Recent", "File1", ""), "x");
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(ConfigFile()).ReadString("Config", "Toolbar", ""), "big");
}

TEST_F(MainAppPreferencesTest, MissingFilesReadAsDefaultsAndAFailedWriteRaises) {
  EXPECT_EQ(ReadMainAppPreferences(IniFile(), ConfigFile()), TMainAppPreferences{});
  EXPECT_THROW(WriteMainAppPreferences({}, PathOf("none/ZentApp.ini"), ConfigFile()), EStreamError);
}

}  // namespace
}  // namespace dz
