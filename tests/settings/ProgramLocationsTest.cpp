#include "settings/ProgramLocations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/BuildInfo.h"
#include "platform/Environment.h"
#include "settings/IniTestSupport.h"
#include "support/ScopedEnvironment.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

TEnvironmentReader EnvOf(std::map<std::string, std::string> Vars) {
  return [Vars = std::move(Vars)](const std::string& Name) {
    const auto It = Vars.find(Name);
    return It == Vars.end() ? std::string() : It->second;
  };
}

// ---- Pure rules ------------------------------------------------------------

TEST(OptionTest, AnyAbbreviationOfTheKeywordMatches) {
  const struct {
    const char* Param;
    const char* Keyword;
    bool Matches;
  } Cases[] = {
      {"p", "portable", true},
      {"portable", "portable", true},
      {"PORT", "portable", true},
      {"", "portable", true},  // an empty rest matches every keyword
      {"portables", "portable", false},
      {"x", "portable", false},
      {"portable:x", "portable", false},
      {"h\xC3\xAF", "hide", false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Param) + " | " + Case.Keyword);
    EXPECT_EQ(MatchesOption(Case.Param, Case.Keyword), Case.Matches);
  }
}

TEST(OptionTest, ValueOptionsHandOverTheirValue) {
  const struct {
    const char* Param;
    const char* Keyword;
    bool Matches;
    const char* After;
  } Cases[] = {
      {"l:de", "lang", true, "de"},
      {"lang:de", "lang", true, "de"},
      {"LANG:deu", "lang", true, "deu"},
      {"lang:", "lang", true, ""},
      {"ini:/a:b", "ini", true, "/a:b"},  // the first ":" ends the keyword
      {":x", "ini", true, "x"},
      {"lang", "lang", false, "lang"},    // no value: unchanged
      {"langs:de", "lang", false, "langs:de"},
      {"i:x", "lang", false, "i:x"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Param) + " | " + Case.Keyword);
    std::string Param = Case.Param;
    EXPECT_EQ(MatchesValueOption(Param, Case.Keyword), Case.Matches);
    EXPECT_EQ(Param, Case.After);
  }
}

TEST(ExpandEnvironmentNamesTest, NamesBetweenPercentSigns) {
  const TEnvironmentReader Env = EnvOf({{"TMPX", "/tmp/x"}, {"A", "1"}, {"B", "%A%"}});
  const struct {
    const char* Text;
    const char* Expanded;
  } Cases[] = {
      {"%TMPX%/", "/tmp/x/"},
      {"%A%%A%", "11"},
      {"%A%x%", "1x%"},        // the last "%" has no partner
      {"%UNSET%/my.ini", "/my.ini"},
      {"%B%", "%A%"},          // values are not expanded again
      {"100%", "100%"},
      {"%%", ""},
      {"plain", "plain"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Text);
    EXPECT_EQ(ExpandEnvironmentNames(Case.Text, Env), Case.Expanded);
  }
}

TEST(LanguageTest, LocaleNames) {
  const struct {
    const char* Locale;
    const char* Code;
  } Cases[] = {
      {"de_DE.UTF-8", "de"}, {"fr", "fr"}, {"PT_br", "pt"}, {"sr@latin", "sr"}, {"nl.UTF-8", "nl"},
      {"C", "en"}, {"POSIX", "en"}, {"C.UTF-8", "en"}, {"fil_PH", "en"}, {"", "en"}, {"1a_XX", "en"},
      {"\xC3\xA9s", "en"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Locale);
    EXPECT_EQ(LanguageFromLocale(Case.Locale), Case.Code);
  }
}

TEST(LanguageTest, FirstNonEmptyLocaleVariable) {
  const struct {
    std::map<std::string, std::string> Env;
    const char* Code;
  } Cases[] = {
      {{}, "en"},
      {{{"LANG", "de_DE.UTF-8"}}, "de"},
      {{{"LC_ALL", "C"}, {"LANG", "de_DE.UTF-8"}}, "en"},
      {{{"LANGUAGE", "fr:de"}, {"LANG", "de_DE.UTF-8"}}, "fr"},
      {{{"LANGUAGE", ":de"}}, "de"},
      {{{"LANGUAGE", ":"}, {"LANG", "it_IT"}}, "it"},
      {{{"LC_MESSAGES", "es_ES"}, {"LANG", "de_DE"}}, "es"},
      {{{"LC_ALL", ""}, {"LANG", "pt_BR"}}, "pt"},
  };
  for (const auto& Case : Cases) {
    std::string Trace;
    for (const auto& [Name, Value] : Case.Env) Trace += Name + "=" + Value + " ";
    SCOPED_TRACE(Trace);
    EXPECT_EQ(SystemLanguageCode(EnvOf(Case.Env)), Case.Code);
  }
}

TEST(SystemFolderTest, AppDataFolder) {
  const struct {
    std::map<std::string, std::string> Env;
    const char* Home;
    const char* Folder;
  } Cases[] = {
      {{}, "/home/u", "/home/u/.config/"},
      {{{"XDG_CONFIG_HOME", "/cfg"}}, "/home/u", "/cfg/"},
      {{{"XDG_CONFIG_HOME", "/cfg/"}}, "", "/cfg/"},
      {{{"XDG_CONFIG_HOME", "cfg"}}, "/home/u", "/home/u/.config/"},  // relative: ignored
      {{{"XDG_CONFIG_HOME", ""}}, "/home/u/", "/home/u/.config/"},
      {{}, "", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Folder);
    EXPECT_EQ(AppDataFolder(EnvOf(Case.Env), Case.Home), Case.Folder);
  }
  EXPECT_EQ(StartupFolder("/cfg/"), "/cfg/autostart/");
  EXPECT_EQ(StartupFolder(""), "");
}

TEST(SystemFolderTest, DocumentsFolderOfUserDirs) {
  const struct {
    const char* Text;
    const char* Folder;
  } Cases[] = {
      {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
       "/home/u/Dokumente/"},
      {"XDG_DOCUMENTS_DIR=\"/data/docs\"\r\n", "/data/docs/"},
      {"  XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"  # comment\n", "/home/u/My \"Docs\"/"},
      {"XDG_DOCUMENTS_DIR=$HOME/Bare\n", "/home/u/Bare/"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "/home/u/"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", "/home/u/B/"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"docs\"\n", "/home/u/A/"},  // invalid line skipped
      {"XDG_DOCUMENTS_DIR=\"docs\"\n", ""},
      {"XDG_DOCUMENTS_DIR=\"${HOME}/docs\"\n", ""},
      {"#XDG_DOCUMENTS_DIR=\"/x\"\nXDG_DOCUMENTS_DIRS=\"/y\"\n", ""},
      {"XDG_DOCUMENTS_DIR=\"/unclosed", "/unclosed/"},
      {"", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Text);
    EXPECT_EQ(DocumentsDirFromUserDirs(Case.Text, "/home/u"), Case.Folder);
  }
  // Without a home "$HOME" means nothing.
  EXPECT_EQ(DocumentsDirFromUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n", ""), "");
}

TEST(ConfigFileTest, OptionsLangIniAndPortable) {
  const TEnvironmentReader Env = EnvOf({{"TMPX", "/tmp/tx"}});
  const struct {
    std::vector<std::string> Args;
    const char* IniPathValue;
    const char* ConfigFile;
    const char* Language;
    bool Portable;
  } Cases[] = {
      {{}, "", "/h/.config/ZentApp6/ZentApp.cfg", "", false},
      {{}, "/data/zv/", "/data/zv/ZentApp.cfg", "", false},
      {{}, "/data/zv", "/data/zv/ZentApp.cfg", "", false},
      {{}, "rel/zv", "/h/.config/rel/zv/ZentApp.cfg", "", false},  // relative: below the app data
      {{"/l:de"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "de", false},
      {{"-lang:de"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "de", false},
      {{"/LANG:deu"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "de", false},
      {{"/lang:de", "/lang:fr"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "fr", false},  // later wins
      {{"lang:de", "--lang:de"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "", false},     // no options
      {{"/p"}, "", "/opt/dz/ZentApp.cfg", "", true},
      {{"/p"}, "/data/zv/", "/opt/dz/ZentApp.cfg", "", true},
      {{"-portable", "/ini:my.ini"}, "", "/opt/dz/my.cfg", "", true},
      {{"/ini:my.ini", "/p"}, "", "/opt/dz/my.cfg", "", true},
      {{"/p", "/ini:my"}, "", "/opt/dz/my.cfg", "", true},
      {{"/p", "/ini:sub/my.ini"}, "", "/opt/dz/sub/my.cfg", "", true},
      {{"/p", "/ini:/etc/zv/zv.ini"}, "", "/etc/zv/zv.cfg", "", true},
      {{"/ini:%TMPX%/"}, "", "/tmp/tx/ZentApp.cfg", "", false},
      {{"/ini:/etc/zv/zv.ini"}, "", "/etc/zv/ZentApp.cfg", "", false},
      {{"/ini:my.ini"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "", false},  // a bare name keeps the place
      {{"/ini:sub/my.ini"}, "", "/work/cur/sub/ZentApp.cfg", "", false},
      {{"/ini:"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "", false},
      {{"/portable:x", "/x"}, "", "/h/.config/ZentApp6/ZentApp.cfg", "", false},
      {{"-"}, "", "/opt/dz/ZentApp.cfg", "", true},  // an empty option matches every keyword
  };
  for (const auto& Case : Cases) {
    std::string Trace = Case.IniPathValue;
    for (const std::string& Arg : Case.Args) Trace += " " + Arg;
    SCOPED_TRACE(Trace);
    const TConfigChoice Choice =
        LocateConfigFile(Case.Args, Case.IniPathValue, "/h/.config/", "/opt/dz/", "/work/cur", Env);
    EXPECT_EQ(Choice.ConfigFile, Case.ConfigFile);
    EXPECT_EQ(Choice.CommandLineLanguage, Case.Language);
    EXPECT_EQ(Choice.Portable, Case.Portable);
  }
}

TEST(VersionTest, VersionTexts) {
  const struct {
    const char* FileVersion;
    int N;
    const char* Short;
  } Cases[] = {
      {"6.3.1.812", 3, "6.3.1"}, {"6.3.1.812", 2, "6.3"}, {"6.3.1.812", 9, "6.3.1"},
      {"6.3.1.812", 0, ""},      {"6.3", 3, "6"},         {"6", 3, ""},
      {"", 3, ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.FileVersion) + " " + std::to_string(Case.N));
    EXPECT_EQ(ShortVersion(Case.FileVersion, Case.N), Case.Short);
  }

  const std::string Three = ShortVersion(BuildFileVersion, 3);
  ASSERT_EQ(std::count(Three.begin(), Three.end(), '.'), 2) << BuildFileVersion;
  EXPECT_EQ(VersionText(3), "Version " + Three);
  EXPECT_EQ(ProgVersName(), "DeZedodiru (Version " + Three + ")");
  EXPECT_EQ(BitnessText(), sizeof(void*) == 8 ? " - 64-bit" : " - 32-bit");
}

// ---- Files and the environment ---------------------------------------------

using test::TScopedEnvironment;

// A user with a home, a configuration folder, the program in prog/ and a
// machine configuration folder in etc/, all below the test's folder.
class ProgramLocationsTest : public test::TTempUserTest {
protected:
  void SetUp() override {
    TTempUserTest::SetUp();
    for (const char* Dir : {"prog", "cwd"}) fs::create_directories(FDir / Dir);
    test::WriteFileBytes(FDir / "prog/dezedodiru", "\x7F" "ELF");
    fs::permissions(FDir / "prog/dezedodiru", fs::perms::owner_all);
  }

  TLocationInputs Inputs(std::vector<std::string> Args = {}) const {
    TLocationInputs In = ProcessLocationInputs(0, nullptr);
    In.Args = std::move(Args);
    In.ExeFileName = PathOf("prog/dezedodiru");
    In.CurrentDir = PathOf("cwd");
    In.MachineConfigDir = PathOf("etc");
    return In;
  }
  void WriteFile(const std::string& Name, std::string_view Text) {
    fs::create_directories((FDir / Name).parent_path());
    test::WriteFileBytes(FDir / Name, test::AsciiUtf16LeFile(Text));
  }
  void SetIniPath(const std::string& Path) {
    WriteFile("config/ZentivoCore6/registry.ini", "[ZentivoCore6]\r\nIniPath=" + Path + "\r\n");
  }
  std::string AppPath() const { return PathOf("config/ZentApp6") + "/"; }
};

TEST_F(ProgramLocationsTest, Defaults) {
  const TProgramLocations L = FindProgramLocations(Inputs());
  EXPECT_EQ(L.ProgramDir, PathOf("prog") + "/");
  EXPECT_EQ(L.ProgramName, "dezedodiru");
  EXPECT_EQ(L.AppDataDir, PathOf("config") + "/");
  EXPECT_EQ(L.AppPath, AppPath());
  EXPECT_EQ(L.SettingsDir, AppPath());
  EXPECT_TRUE(fs::is_directory(AppPath()));
  EXPECT_EQ(L.IniName, AppPath() + "dezedodiru.ini");
  EXPECT_EQ(L.MainAppIniName, AppPath() + "ZentApp.ini");
  EXPECT_EQ(L.ConfigFile, AppPath() + "ZentApp.cfg");
  EXPECT_EQ(L.UserPath, PathOf("home/Documents") + "/");
  EXPECT_EQ(L.JobDir, PathOf("home/Documents/ZentApp") + "/");
  EXPECT_EQ(L.StartupDir, PathOf("config/autostart") + "/");
  EXPECT_EQ(L.LanguageCode, "en");
  EXPECT_FALSE(L.Portable);
  EXPECT_EQ(L.ZvPath, "");
  EXPECT_TRUE(std::regex_match(L.ProgVersDate, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}"))) << L.ProgVersDate;
  EXPECT_EQ(L.ProgVersDate, FileDateText(PathOf("prog/dezedodiru")));
}

TEST_F(ProgramLocationsTest, DefaultsWithoutXdgVariables) {
  FEnv.Unset("XDG_CONFIG_HOME");
  const TProgramLocations L = FindProgramLocations(Inputs());
  EXPECT_EQ(L.AppDataDir, PathOf("home/.config") + "/");
  EXPECT_EQ(L.SettingsDir, PathOf("home/.config/ZentApp6") + "/");
  EXPECT_TRUE(fs::is_directory(L.SettingsDir));
  EXPECT_EQ(L.StartupDir, PathOf("home/.config/autostart") + "/");
}

TEST_F(ProgramLocationsTest, DocumentsFolderFromUserDirs) {
  test::WriteFileBytes(FDir / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  const TProgramLocations L = FindProgramLocations(Inputs());
  EXPECT_EQ(L.UserPath, PathOf("home/Dokumente") + "/");
  EXPECT_EQ(L.JobDir, PathOf("home/Dokumente/ZentApp") + "/");
}

TEST_F(ProgramLocationsTest, RegistryFilesInAnyEncoding) {
  const std::string File = PathOf("reg.ini");
  const struct {
    const char* Name;
    std::string Bytes;
    const char* Value;
  } Cases[] = {
      {"UTF-16LE as written on Windows", test::AsciiUtf16LeFile("[ZentivoCore6]\r\nIniPath=/data/zv/\r\n"),
       "/data/zv/"},
      {"UTF-8", "[ZentivoCore6]\nIniPath = /data/zv\n", "/data/zv"},
      {"other section", "[ZentivoCore5]\nIniPath=/data/zv\n", ""},
      {"empty", "", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    test::WriteFileBytes(File, Case.Bytes);
    EXPECT_EQ(ReadRegistryValue(File, "IniPath"), Case.Value);
  }
  EXPECT_EQ(ReadRegistryValue(PathOf("missing.ini"), "IniPath"), "");
  EXPECT_EQ(ReadRegistryValue(PathOf("config"), "IniPath"), "");  // a directory
  EXPECT_EQ(ReadRegistryValue("", "IniPath"), "");

  EXPECT_EQ(UserRegistryFile(PathOf("config") + "/"), PathOf("config/ZentivoCore6/registry.ini"));
  EXPECT_EQ(MachineRegistryFile(DefaultMachineConfigDir), "/etc/xdg/ZentivoCore6/registry.ini");
}

TEST_F(ProgramLocationsTest, IniPathMovesSettingsButNotPortableOrIni) {
  SetIniPath(PathOf("shared/zv"));
  const TProgramLocations L = FindProgramLocations(Inputs({"/p", "/ini:other.ini"}));
  EXPECT_EQ(L.SettingsDir, PathOf("shared/zv") + "/");
  EXPECT_TRUE(fs::is_directory(PathOf("shared/zv")));
  EXPECT_EQ(L.IniName, PathOf("shared/zv/dezedodiru.ini"));
  EXPECT_EQ(L.MainAppIniName, PathOf("shared/zv/ZentApp.ini"));
  EXPECT_EQ(L.ConfigFile, PathOf("prog/other.cfg"));
  EXPECT_TRUE(L.Portable);
}

// On Linux an option "ini" that names a directory also chooses the settings
// directory: a per-run choice that the registry value cannot give. A value
// that names a file acts on the configuration file only.
TEST_F(ProgramLocationsTest, IniOptionChoosesTheSettingsDirectory) {
  FEnv.Set("TMPX", PathOf("tx"));
  fs::create_directories(FDir / "existing");
  fs::create_directories(FDir / "cwd/here");
  const struct {
    std::vector<std::string> Args;
    bool SetIniPath;
    std::string SettingsDir;  // relative to the test's folder; "" for the default
  } Cases[] = {
      {{"/ini:" + PathOf("s1") + "/"}, false, "s1"},
      {{"/ini:" + PathOf("s1") + "/"}, true, "s1"},      // the command line wins over IniPath
      {{"/ini:" + PathOf("existing")}, false, "existing"},  // an existing directory needs no "/"
      {{"-i:rel/sub/"}, false, "cwd/rel/sub"},           // relative to the current directory
      {{"/ini:here"}, false, "cwd/here"},
      {{"/ini:%TMPX%/"}, false, "tx"},
      {{"/p", "/ini:" + PathOf("s1") + "/"}, false, "s1"},
      {{"/ini:" + PathOf("s2/my.ini")}, false, ""},      // a file
      {{"/ini:" + PathOf("s2/my.ini")}, true, "shared/zv"},
      {{"/ini:" + PathOf("new")}, false, ""},            // no "/" and no directory: a file
      {{"/ini:my.ini"}, false, ""},
      {{"/ini:"}, false, ""},
      {{"/ini:" + PathOf("s1") + "/", "/ini:"}, false, ""},  // the last one counts
  };
  for (const auto& Case : Cases) {
    std::string Trace = Case.SetIniPath ? "IniPath" : "";
    for (const std::string& Arg : Case.Args) Trace += " " + Arg;
    SCOPED_TRACE(Trace);
    fs::remove_all(FDir / "config/ZentivoCore6");
    if (Case.SetIniPath) SetIniPath(PathOf("shared/zv"));
    const std::string Expected =
        Case.SettingsDir.empty() ? AppPath() : PathOf(Case.SettingsDir) + "/";
    const TProgramLocations L = FindProgramLocations(Inputs(Case.Args));
    EXPECT_EQ(L.SettingsDir, Expected);
    EXPECT_TRUE(fs::is_directory(Expected));
    EXPECT_EQ(L.IniName, Expected + "dezedodiru.ini");
    EXPECT_EQ(L.MainAppIniName, Expected + "ZentApp.ini");
  }
}

TEST_F(ProgramLocationsTest, IniOptionDirectoryTakesNothingOver) {
  // The user's own settings must not become the settings of a separate run.
  WriteFile("config/ZentApp6/dezedodiru.ini", "six");
  WriteFile("config/ZentApp5/dezedodiru.ini", "five");
  const TProgramLocations L = FindProgramLocations(Inputs({"/ini:" + PathOf("own") + "/"}));
  EXPECT_EQ(L.IniName, PathOf("own/dezedodiru.ini"));
  EXPECT_FALSE(fs::exists(L.IniName));
  EXPECT_EQ(L.ConfigFile, PathOf("own/ZentApp.cfg"));
}

TEST_F(ProgramLocationsTest, CarryOverOfAnOlderSettingsFile) {
  const struct {
    const char* Name;
    bool SetIniPath;
    const char* InAppPath;     // content of ZentApp6/dezedodiru.ini, or null
    const char* InPrevious;    // content of ZentApp5/dezedodiru.ini, or null
    const char* AlreadyThere;  // content of the settings file, or null
    const char* Expected;      // content of the settings file afterwards, or null
  } Cases[] = {
      {"from the default folder first", true, "six", "five", nullptr, "six"},
      {"else from the previous version", true, nullptr, "five", nullptr, "five"},
      {"nothing to take over", true, nullptr, nullptr, nullptr, nullptr},
      {"an existing file stays", true, "six", "five", "own", "own"},
      {"never without IniPath", false, nullptr, "five", nullptr, nullptr},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    for (const char* Dir : {"config/ZentApp6", "config/ZentApp5", "shared", "config/ZentivoCore6"})
      fs::remove_all(FDir / Dir);
    if (Case.SetIniPath) SetIniPath(PathOf("shared/zv"));
    const std::string Settings = Case.SetIniPath ? "shared/zv/dezedodiru.ini" : "config/ZentApp6/dezedodiru.ini";
    if (Case.InAppPath) WriteFile("config/ZentApp6/dezedodiru.ini", Case.InAppPath);
    if (Case.InPrevious) WriteFile("config/ZentApp5/dezedodiru.ini", Case.InPrevious);
    if (Case.AlreadyThere) WriteFile(Settings, Case.AlreadyThere);

    const TProgramLocations L = FindProgramLocations(Inputs());
    ASSERT_EQ(L.IniName, PathOf(Settings));
    if (Case.Expected) {
      EXPECT_EQ(test::ReadFileBytes(L.IniName), test::AsciiUtf16LeFile(Case.Expected));
    } else {
      EXPECT_FALSE(fs::exists(L.IniName));
    }
    // The sources are copied, never moved.
    EXPECT_EQ(fs::exists(FDir / "config/ZentApp5/dezedodiru.ini"), Case.InPrevious != nullptr);
  }
}

TEST_F(ProgramLocationsTest, IniPathSpellingTheDefaultFolderIsTheDefaultFolder) {
  // IniPath names ZentApp6 through a link: still no carry-over from ZentApp5.
  fs::create_directories(AppPath());
  fs::create_directory_symlink(AppPath(), FDir / "alias");
  SetIniPath(PathOf("alias"));
  WriteFile("config/ZentApp5/dezedodiru.ini", "five");
  const TProgramLocations L = FindProgramLocations(Inputs());
  EXPECT_EQ(L.IniName, PathOf("alias/dezedodiru.ini"));
  EXPECT_FALSE(fs::exists(AppPath() + "dezedodiru.ini"));
}

TEST_F(ProgramLocationsTest, UncreatableIniPathFallsBackToAppPath) {
  test::WriteFileBytes(FDir / "blocker", "a file, not a folder");
  SetIniPath(PathOf("blocker/zv"));
  const TProgramLocations L = FindProgramLocations(Inputs());
  EXPECT_EQ(L.SettingsDir, AppPath());
  EXPECT_TRUE(fs::is_directory(AppPath()));  // so that the settings can be saved
  EXPECT_EQ(L.IniName, AppPath() + "dezedodiru.ini");
  EXPECT_EQ(L.MainAppIniName, AppPath() + "ZentApp.ini");
}

TEST_F(ProgramLocationsTest, LanguageFromEnvironment) {
  const struct {
    std::vector<std::pair<const char*, const char*>> Env;
    const char* Code;
  } Cases[] = {
      {{{"LANG", "de_DE.UTF-8"}}, "de"},
      {{{"LC_ALL", "C"}, {"LANG", "de_DE.UTF-8"}}, "en"},
      {{{"LANGUAGE", "fr:de"}, {"LANG", "de_DE.UTF-8"}}, "fr"},
  };
  for (const auto& Case : Cases) {
    TScopedEnvironment Env;
    std::string Trace;
    for (const auto& [Name, Value] : Case.Env) {
      Env.Set(Name, Value);
      Trace += std::string(Name) + "=" + Value + " ";
    }
    SCOPED_TRACE(Trace);
    EXPECT_EQ(FindProgramLocations(Inputs()).LanguageCode, Case.Code);
  }
}

TEST_F(ProgramLocationsTest, LanguageFromCommandLineThenConfigurationThenSystem) {
  FEnv.Set("LANG", "it_IT.UTF-8");
  EXPECT_EQ(FindProgramLocations(Inputs()).LanguageCode, "it");

  WriteFile("config/ZentApp6/ZentApp.cfg", "[Language]\r\nLangID=fra\r\n");  // cut to two
  EXPECT_EQ(FindProgramLocations(Inputs()).LanguageCode, "fr");

  EXPECT_EQ(FindProgramLocations(Inputs({"/LANG:deu"})).LanguageCode, "de");
  EXPECT_EQ(FindProgramLocations(Inputs({"-l:ES"})).LanguageCode, "es");
  // An empty value is no choice.
  EXPECT_EQ(FindProgramLocations(Inputs({"/lang:"})).LanguageCode, "fr");
}

TEST_F(ProgramLocationsTest, ConfiguredLanguageIsTwoCharacters) {
  const std::string File = PathOf("ZentApp.cfg");
  const struct {
    std::string Bytes;
    const char* Code;
  } Cases[] = {
      {test::AsciiUtf16LeFile("[Language]\r\nLangID=deu\r\n"), "de"},
      {test::AsciiUtf16LeFile("[Language]\r\nLangID=e\r\n"), "e"},
      {test::AsciiUtf16LeFile("[Language]\r\nLangID=\r\n"), ""},
      {test::AsciiUtf16LeFile("[Config]\r\nLangID=de\r\n"), ""},
      {"[Language]\nLangID=\xCE\x95\xCE\xBB\xCE\xBB\n", "\xCE\x95\xCE\xBB"},  // characters, not bytes
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Code);
    test::WriteFileBytes(File, Case.Bytes);
    EXPECT_EQ(ConfiguredLanguageCode(File), Case.Code);
  }
  EXPECT_EQ(ConfiguredLanguageCode(PathOf("missing.cfg")), "");
}

TEST_F(ProgramLocationsTest, PortableConfigurationBesideTheProgram) {
  WriteFile("prog/ZentApp.cfg", "[Language]\r\nLangID=es\r\n");
  WriteFile("prog/my.cfg", "[Language]\r\nLangID=nl\r\n");
  const struct {
    std::vector<std::string> Args;
    std::string ConfigFile;
    const char* Code;
  } Cases[] = {
      {{"/p"}, PathOf("prog/ZentApp.cfg"), "es"},
      {{"-portable", "/ini:my.ini"}, PathOf("prog/my.cfg"), "nl"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.ConfigFile);
    const TProgramLocations L = FindProgramLocations(Inputs(Case.Args));
    EXPECT_TRUE(L.Portable);
    EXPECT_EQ(L.ConfigFile, Case.ConfigFile);
    EXPECT_EQ(L.LanguageCode, Case.Code);
    EXPECT_EQ(L.SettingsDir, AppPath());
  }
}

TEST_F(ProgramLocationsTest, IniValueWithEnvironmentVariable) {
  FEnv.Set("TMPX", PathOf("tx"));
  const TProgramLocations L = FindProgramLocations(Inputs({"/ini:%TMPX%/"}));
  EXPECT_EQ(L.ConfigFile, PathOf("tx/ZentApp.cfg"));
  EXPECT_FALSE(L.Portable);
}

TEST_F(ProgramLocationsTest, MainApplicationFoundOnSearchPath) {
  test::WriteFileBytes(FDir / "bin/ZentApp", "#!/bin/sh\n");
  fs::permissions(FDir / "bin/ZentApp", fs::perms::owner_all);
  EXPECT_EQ(FindProgramLocations(Inputs()).ZvPath, PathOf("bin/ZentApp"));

  // The machine's registry file comes before the search path.
  test::WriteFileBytes(FDir / "prog/zentapp-6", "#!/bin/sh\n");
  fs::permissions(FDir / "prog/zentapp-6", fs::perms::owner_all);
  WriteFile("etc/ZentivoCore6/registry.ini", "[ZentivoCore6]\r\nProgram=" + PathOf("prog/zentapp-6") + "\r\n");
  EXPECT_EQ(FindProgramLocations(Inputs()).ZvPath, PathOf("prog/zentapp-6"));
}

TEST_F(ProgramLocationsTest, FileDateIsTheLocalDate) {
  const std::chrono::sys_seconds Noon = std::chrono::sys_days{std::chrono::year{2022} / 11 / 30} + std::chrono::hours(12);
  fs::last_write_time(FDir / "prog/dezedodiru", std::chrono::file_clock::from_sys(Noon));
  const std::time_t Seconds = std::chrono::system_clock::to_time_t(Noon);
  char Expected[16];
  ASSERT_GT(std::strftime(Expected, sizeof Expected, "%Y-%m-%d", std::localtime(&Seconds)), 0u);
  EXPECT_EQ(FileDateText(PathOf("prog/dezedodiru")), Expected);
  EXPECT_EQ(FileDateText(PathOf("missing")), "");
}

}  // namespace
}  // namespace dz
