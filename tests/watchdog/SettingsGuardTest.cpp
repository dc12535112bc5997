#include "watchdog/SettingsGuard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Utf.h"
#include "settings/UnicodeIniFile.h"
#include "support/TestFiles.h"
#include "watchdog/FakeWatchdogView.h"
#include "watchdog/Watchdog.h"
#include "watchdog/WatchdogSettings.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

constexpr const char* Program = "DeZedodiru";

std::string Utf16Le(const std::string& Text, bool Mark = true) {
  std::string Bytes = Mark ? "\xFF\xFE" : "";
  for (const char16_t U : Utf8ToUtf16(Text)) Bytes += {static_cast<char>(U & 0xFF), static_cast<char>(U >> 8)};
  return Bytes;
}

class SettingsGuardTest : public test::TTempDirTest {
protected:
  // Settings with two directories and pending files, as the program saves
  // them.
  TWatchdogSettings Sample() const {
    TWatchdogSettings S;
    S.Interval = 60;
    S.LastSave = std::chrono::system_clock::time_point(std::chrono::seconds(1796972412));
    S.MonTasks.push_back({PathOf("a.buj"), "/home/ann/docs", 1, true, {"letters/one.txt", "two.txt"},
                          {{"two.txt", 2, 2, 0x1104}}});
    S.MonTasks.push_back({PathOf("b.buj"), "/home/ann/pics", 0, true, {"x.jpg"}, {}});
    return S;
  }
  std::string SavedBytes(const TWatchdogSettings& S) {
    const std::string Ini = PathOf("saved.ini");
    fs::remove(Ini);
    SaveWatchdogSettings(Ini, S, Program, "1.0.0.1");
    return test::ReadFileBytes(Ini);
  }
};

TEST_F(SettingsGuardTest, DamagedFilesAreToldApartFromSoundOnes) {
  const std::string Ours = SavedBytes(Sample());
  const struct {
    const char* Name;
    std::string Bytes;
    const char* Damage;  // a part of the reason; nullptr: sound
  } Cases[] = {
      {"saved by the program", Ours, nullptr},
      {"UTF-16 written by a script, one section", Utf16Le("[Config]\r\nInterval=10\r\nWriteLog=1\r\n"), nullptr},
      {"UTF-8 by hand, no line end at the end", "[Config]\nInterval=10", nullptr},
      {"comments and blank lines", "; mine\n\n[Config]\n  Interval = 10  \n", nullptr},
      {"empty", "", "empty"},
      {"binary", std::string("\x7F" "ELF\0\0\x01\x02", 8), "not text"},
      {"UTF-16 without its mark", Utf16Le("[Config]\r\nInterval=10\r\n", false), "not text"},
      {"garbage text", "this is not\nan ini file\n", "line 1 is not a setting"},
      {"garbage before the first section", "\n\xA7$%&\n[Config]\nInterval=10\n", "line 2 is not a setting"},
      {"a line without a key in a section", "[Config]\nInterval=10\nkept as it is\n", nullptr},
      {"no section", "\n; only a comment\n", "holds no settings"},
      {"cut in a line", Ours.substr(0, Ours.size() - 20), "middle of a line"},
      {"cut after a CR", Ours.substr(0, Ours.rfind(std::string("\r\0\n\0", 4), Ours.size() - 6) + 2),
       "middle of a line"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string Damage = SettingsFileDamage(Case.Bytes, Program);
    if (Case.Damage == nullptr)
      EXPECT_EQ(Damage, "");
    else
      EXPECT_NE(Damage.find(Case.Damage), std::string::npos) << Damage;
  }
}

// Wherever a save of the program's is cut off after it has said whose it is
// (its first section), what the cut loses is found: only cuts that lose
// nothing are let through.
TEST_F(SettingsGuardTest, EveryCutThatLosesSomethingIsFound) {
  const TWatchdogSettings Whole = Sample();
  const std::string Bytes = SavedBytes(Whole);
  const std::string Marker = Utf16Le("Program=", false);
  const std::size_t MarkerAt = Bytes.find(std::string("\r\0\n\0", 4), Bytes.find(Marker)) + 4;
  ASSERT_GT(MarkerAt, 4u);
  const std::string Ini = PathOf("cut.ini");
  std::size_t Found = 0;
  for (std::size_t Length = MarkerAt; Length < Bytes.size(); ++Length) {
    SCOPED_TRACE(Length);
    const std::string Cut = Bytes.substr(0, Length);
    if (!SettingsFileDamage(Cut, Program).empty()) {
      ++Found;
      continue;
    }
    test::WriteFileBytes(Ini, Cut);
    TWatchdogSettings Loaded = LoadWatchdogSettings(Ini);
    // A cut just before the retry records loses only them: their files are
    // pending all the same, and count their failures anew.
    if (Loaded != Whole && Loaded.MonTasks.size() == Whole.MonTasks.size() && Loaded.MonTasks[0].Failed.empty())
      Loaded.MonTasks[0].Failed = Whole.MonTasks[0].Failed;
    EXPECT_EQ(Loaded, Whole);
  }
  EXPECT_GT(Found, Bytes.size() - MarkerAt - 10);
}

TEST_F(SettingsGuardTest, ADamagedFileIsPutAsideUnderAFreeName) {
  const std::string Ini = PathOf("dezedodiru.ini");
  test::WriteFileBytes(PathOf("dezedodiru.ini.damaged"), "an older one");
  const std::string Garbage = "\x01\x02 garbage";
  test::WriteFileBytes(Ini, Garbage);
  try {
    CheckSettingsFile(Ini, Program);
    ADD_FAILURE() << "no exception";
  } catch (const EFOpenError& E) {
    const std::string Text = E.what();
    EXPECT_NE(Text.find("\"" + Ini + "\""), std::string::npos) << Text;
    EXPECT_NE(Text.find("\"" + Ini + ".damaged-2\""), std::string::npos) << Text;
  }
  EXPECT_FALSE(fs::exists(Ini));
  EXPECT_EQ(test::ReadFileBytes(PathOf("dezedodiru.ini.damaged")), "an older one");
  EXPECT_EQ(test::ReadFileBytes(PathOf("dezedodiru.ini.damaged-2")), Garbage);

  // A sound file and a missing one pass untouched.
  const std::string Sound = SavedBytes(Sample());
  test::WriteFileBytes(Ini, Sound);
  EXPECT_NO_THROW(CheckSettingsFile(Ini, Program));
  EXPECT_EQ(test::ReadFileBytes(Ini), Sound);
  EXPECT_NO_THROW(CheckSettingsFile(PathOf("missing.ini"), Program));
}

// The controller never reads a damaged file as empty, and a save after the
// refused load does not bring an empty file back in its place.
TEST_F(SettingsGuardTest, TheControllerRefusesADamagedFile) {
  TWatchdogSetup Setup;
  Setup.IniName = PathOf("dezedodiru.ini");
  Setup.ProgramName = Program;
  const std::string Bytes = SavedBytes(Sample());
  test::WriteFileBytes(Setup.IniName, Bytes.substr(0, Bytes.size() - 7));
  test::TFakeWatchdogView View;
  TPlainMainThreadQueue Queue;
  TWatchdog Watchdog(View, Queue, Setup);
  EXPECT_THROW(Watchdog.LoadSettings(), EFOpenError);
  EXPECT_EQ(test::ReadFileBytes(Setup.IniName + ".damaged"), Bytes.substr(0, Bytes.size() - 7));
}

TEST_F(SettingsGuardTest, OneWatchdogPerSettingsFile) {
  const std::string Ini = PathOf("dezedodiru.ini");
  test::WriteFileBytes(Ini, SavedBytes(Sample()));
  test::WriteFileBytes(PathOf(".dezedodiru.ini.00112233aabb.tmp"), "left by a killed save");
  TInstanceLock First;
  EXPECT_EQ(LockSettingsFile(Ini, Program, First), std::nullopt);
  EXPECT_TRUE(First.Held());
  EXPECT_FALSE(fs::exists(PathOf(".dezedodiru.ini.00112233aabb.tmp")));

  // The second one leaves what may be the first one's save in progress.
  test::WriteFileBytes(PathOf(".dezedodiru.ini.44556677ccdd.tmp"), "a save in progress");
  TInstanceLock Second;
  const std::optional<std::string> Refused = LockSettingsFile(Ini, Program, Second);
  ASSERT_TRUE(Refused.has_value());
  // The holder's number is told (the lock's own test checks that it is
  // the holder's).
  const std::string Start = "DeZedodiru is already running with the settings file \"" + Ini + "\" (process ";
  EXPECT_TRUE(Refused->starts_with(Start) && Refused->ends_with(").") && Refused->size() > Start.size() + 2)
      << *Refused;
  EXPECT_FALSE(Second.Held());
  EXPECT_TRUE(fs::exists(PathOf(".dezedodiru.ini.44556677ccdd.tmp")));

  First.Release();
  EXPECT_EQ(LockSettingsFile(Ini, Program, Second), std::nullopt);
}

}  // namespace
}  // namespace dz
