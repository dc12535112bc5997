#include "watchdog/Watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/Utf.h"
#include "settings/IniNameCodec.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/FakeWatchdogView.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::TFakeWatchdogView;
using TDirText = std::pair<std::string, bool>;  // an item's text and check mark

std::string Two(std::size_t I) { return (I < 10 ? "0" : "") + std::to_string(I); }
std::string Three(std::size_t I) { return std::string(I < 10 ? "00" : I < 100 ? "0" : "") + std::to_string(I); }
std::string Section(std::size_t I) { return "Monitor" + Two(I); }

std::string ReadFileBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

// One program run: a window, a log and the controller that drives them.
struct TSession {
  explicit TSession(const TWatchdogSetup& Setup, TFakeWatchdogView InitialView = {})
      : View(std::move(InitialView)), Watchdog(View, Queue, Setup) {}
  TFakeWatchdogView View;
  TPlainMainThreadQueue Queue;
  TWatchdog Watchdog;
};

// What survives a restart, as the controller and the window hold it.
struct TEntryState {
  std::string BuTask;
  std::string Dir;
  std::int32_t RetainBak = 0;
  TMonTaskStatus MonStatus = mtEnabled;
  std::vector<std::string> Files;
  friend bool operator==(const TEntryState&, const TEntryState&) = default;
};

std::vector<TEntryState> EntriesOf(const TWatchdog& W) {
  std::vector<TEntryState> Entries;
  for (std::size_t I = 0; I < W.MonTaskCount(); ++I) {
    const TMonTask& T = W.MonTask(I);
    Entries.push_back({T.BuTask, T.Dir, T.RetainBak, T.MonStatus, T.FileList.Items()});
  }
  return Entries;
}

std::vector<std::string> DirsOf(const TWatchdog& W) {
  std::vector<std::string> Dirs;
  for (std::size_t I = 0; I < W.MonTaskCount(); ++I)
    Dirs.push_back(W.MonTask(I).Dir);
  return Dirs;
}

struct TState {
  TWindowPlacement Placement;
  std::string JobDir;
  std::int32_t BuInterval = 0;
  TIntervalDisplay Interval;
  bool SysTray = false;
  bool WriteLog = false;
  std::int32_t FileCount = 0;
  std::vector<TEntryState> Entries;
  std::vector<TDirText> Items;
  friend bool operator==(const TState&, const TState&) = default;
};

TState StateOf(const TSession& S) {
  const TWatchdog& W = S.Watchdog;
  return {S.View.Placement, W.JobDir(), W.BuInterval(), W.Interval(), W.SysTray(), W.WriteLog(),
          W.FileCount(), EntriesOf(W), S.View.DirTexts()};
}

class WatchdogSettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::random_device Random;
    FDir = fs::temp_directory_path() / ("dz-watchdog-test-" + std::to_string(Random()) + "-" + std::to_string(Random()));
    fs::create_directories(FDir / "config");
    fs::create_directories(FDir / "tasks");
    FSetup.IniName = (FDir / "config" / "DeZedodiru.ini").string();
    FSetup.UserPath = (FDir / "docs").string() + "/";
    FSetup.ProgramName = "DeZedodiru";
    FSetup.ProgramVersion = "9.8.7.6";
  }
  void TearDown() override {
    std::error_code Ignored;
    fs::remove_all(FDir, Ignored);
  }

  // An (empty) task file; loading only asks whether it exists.
  std::string MakeTask(const std::string& Name) {
    const std::string Path = (FDir / "tasks" / Name).string();
    std::ofstream(Path, std::ios::binary) << "[Global]\r\n";
    EXPECT_TRUE(fs::exists(Path)) << Path;
    return Path;
  }

  // Writes the settings file from scratch through Fill.
  void WriteSettings(const std::function<void(TUnicodeIniFile&)>& Fill) {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(FSetup.IniName, true);
    Fill(Ini);
    Ini.UpdateFile();
  }

  void WriteEntry(TUnicodeIniFile& Ini, std::size_t Index, const TEntryState& E) {
    const std::string S = Section(Index);
    Ini.WriteString(S, "BackupTask", EncodeIniName(E.BuTask));
    Ini.WriteString(S, "Directory", EncodeIniName(E.Dir));
    Ini.WriteInteger(S, "RetainBak", E.RetainBak);
    Ini.WriteBool(S, "Enabled", E.MonStatus == mtEnabled);
    Ini.WriteInteger(S, "Count", static_cast<std::int32_t>(E.Files.size()));
    for (std::size_t J = 0; J < E.Files.size(); ++J)
      Ini.WriteString(S, "File" + Three(J), EncodeIniName(E.Files[J]));
  }

  // One entry with an existing task file per value, the value stored under
  // Key (nullptr: no key).
  void WriteEntriesWithValues(const char* Key, const std::vector<const char*>& Values) {
    WriteSettings([&](TUnicodeIniFile& Ini) {
      Ini.WriteInteger("Config", "Count", static_cast<std::int32_t>(Values.size()));
      for (std::size_t I = 0; I < Values.size(); ++I) {
        Ini.WriteString(Section(I), "BackupTask", MakeTask("t" + Two(I) + ".buj"));
        Ini.WriteString(Section(I), "Directory", "/d" + Two(I));
        if (Values[I])
          Ini.WriteString(Section(I), Key, Values[I]);
      }
    });
  }

  // Entries with existing task files, written as the settings file's
  // sections 0 to Count - 1 under "Config" "Count" = ConfigCount.
  std::vector<TEntryState> WriteEntries(std::size_t Count, std::int32_t ConfigCount) {
    std::vector<TEntryState> Entries;
    for (std::size_t I = 0; I < Count; ++I)
      Entries.push_back({MakeTask("task" + Two(I) + ".buj"), "/data/d" + Two(I), 0, mtEnabled, {}});
    WriteSettings([&](TUnicodeIniFile& Ini) {
      Ini.WriteInteger("Config", "Count", ConfigCount);
      for (std::size_t I = 0; I < Entries.size(); ++I)
        WriteEntry(Ini, I, Entries[I]);
    });
    return Entries;
  }

  TUnicodeIniFile Saved() const { return TUnicodeIniFile::CreateForRead(FSetup.IniName); }

  fs::path FDir;
  TWatchdogSetup FSetup;
};

// --- loading and saving -------------------------------------------------------

TEST_F(WatchdogSettingsTest, MissingFileGivesDefaults) {
  TFakeWatchdogView Window;
  Window.Placement = {10, 20, 400, 500};  // smaller than designed
  TSession S(FSetup, Window);
  S.Watchdog.LoadSettings();

  EXPECT_EQ(S.Watchdog.MonTaskCount(), 0u);
  EXPECT_EQ(S.Watchdog.JobDir(), FSetup.UserPath + "ZentApp/");
  EXPECT_EQ(S.Watchdog.BuInterval(), 1800);
  EXPECT_EQ(S.Watchdog.GetIntervalSeconds(), 1800);
  EXPECT_EQ(S.View.State.Interval, IntervalDisplayFor(1800));
  EXPECT_EQ(S.View.State.SysTrayChecked, false);
  EXPECT_EQ(S.View.State.WriteLogChecked, false);
  EXPECT_EQ(S.View.Placement, (TWindowPlacement{10, 20, 590, 500}));
  EXPECT_EQ(S.Watchdog.FileCount(), 0);
  EXPECT_FALSE(fs::exists(FSetup.IniName)) << "loading never writes";
}

// 25 entries with pending files, nasty names among them: load, save, load,
// save. Both saves give the same bytes, and every load gives what was
// written.
TEST_F(WatchdogSettingsTest, RoundTripIsByteStable) {
  const std::vector<std::string> NastyNames = {
      "line\nbreak.txt", "cr\rinside", " leading blank", "trailing blank ", "latin1 caf\xE9.txt",
      "?question", "100%41", "\t tab", "Entw\xC3\xBC" "rfe/\xE2\x82\xAC.docx", "sub dir/x\xFF\xFEy",
  };
  std::vector<TEntryState> Written;
  for (std::size_t I = 0; I < MaxMonTasks; ++I) {
    TEntryState E;
    E.BuTask = MakeTask(I == 3 ? "task 03 \n\xFF.buj" : "task" + Two(I) + ".buj");
    E.Dir = I == 4 ? "/data/odd \xFF dir " : "/data/Projekt " + Two(I);
    E.RetainBak = static_cast<std::int32_t>(I % 4);
    E.MonStatus = I % 3 == 0 ? mtDisabled : mtEnabled;
    for (std::size_t J = 0; J < I * 7; ++J)
      E.Files.push_back("sub" + std::to_string(J % 5) + "/file " + Three(J) + ".txt");
    if (I == 5)
      E.Files.insert(E.Files.end(), NastyNames.begin(), NastyNames.end());
    std::sort(E.Files.begin(), E.Files.end());
    Written.push_back(std::move(E));
  }
  const std::string JobDir = "/home/anna/Dokumente/ZentApp \xFF/";
  WriteSettings([&](TUnicodeIniFile& Ini) {
    Ini.WriteInteger("Config", "Top", 33);
    Ini.WriteInteger("Config", "Left", 44);
    Ini.WriteInteger("Config", "Height", 700);
    Ini.WriteInteger("Config", "Width", 900);
    Ini.WriteString("Config", "JobDir", EncodeIniName(JobDir));
    Ini.WriteInteger("Config", "Interval", 7200);
    Ini.WriteBool("Config", "SysTray", true);
    Ini.WriteBool("Config", "WriteLog", true);
    Ini.WriteInteger("Config", "Count", static_cast<std::int32_t>(Written.size()));
    for (std::size_t I = 0; I < Written.size(); ++I)
      WriteEntry(Ini, I, Written[I]);
  });
  std::int32_t TotalFiles = 0;
  std::vector<TDirText> Items;
  for (std::size_t I = 0; I < Written.size(); ++I) {
    if (Written[I].MonStatus == mtEnabled)  // only enabled entries' files count
      TotalFiles += static_cast<std::int32_t>(Written[I].Files.size());
    Items.push_back({Two(I + 1) + ": " + Written[I].Dir, Written[I].MonStatus == mtEnabled});
  }

  TSession First(FSetup);
  First.Watchdog.LoadSettings();
  const TState Loaded = StateOf(First);
  EXPECT_EQ(Loaded.Placement, (TWindowPlacement{33, 44, 700, 900}));
  EXPECT_EQ(Loaded.JobDir, JobDir);
  EXPECT_EQ(Loaded.BuInterval, 7200);
  EXPECT_EQ(Loaded.Interval, IntervalDisplayFor(7200));
  EXPECT_TRUE(Loaded.SysTray);
  EXPECT_TRUE(Loaded.WriteLog);
  EXPECT_EQ(First.View.State.SysTrayChecked, true);
  EXPECT_EQ(First.View.State.WriteLogChecked, true);
  EXPECT_EQ(Loaded.FileCount, TotalFiles);
  ASSERT_EQ(Loaded.Entries.size(), Written.size());
  for (std::size_t I = 0; I < Written.size(); ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(Loaded.Entries[I], Written[I]);
  }
  EXPECT_EQ(First.View.DirTexts(), Items);

  First.Watchdog.SaveSettings();
  EXPECT_TRUE(First.View.Messages.empty());
  const std::string FirstSave = ReadFileBytes(FSetup.IniName);
  EXPECT_EQ(StateOf(First), Loaded) << "saving changes nothing in memory";

  TSession Second(FSetup);
  Second.Watchdog.LoadSettings();
  EXPECT_EQ(StateOf(Second), Loaded);
  Second.Watchdog.SaveSettings();
  const std::string SecondSave = ReadFileBytes(FSetup.IniName);
  EXPECT_EQ(SecondSave.size(), FirstSave.size());
  EXPECT_TRUE(SecondSave == FirstSave) << "the second save differs from the first";

  // The saved text itself is sound: one line per key, only valid text.
  const TUnicodeIniFile Ini = Saved();
  EXPECT_EQ(Ini.ReadString("Unicode", "Program", ""), "DeZedodiru");
  EXPECT_EQ(Ini.ReadString("Unicode", "Version", ""), "9.8.7.6");
  EXPECT_EQ(Ini.ReadSection(Section(5)).size(), 5 + Written[5].Files.size());
  EXPECT_EQ(Ini.ReadString(Section(4), "Directory", ""), "?/data/odd%20%FF%20dir%20");
}

// A dropped entry does not make room for a 26th section either.
// The retry records of failed files, names of every kind among them, come
// back as written; a damaged record is left out, and the file stays
// pending all the same.
TEST_F(WatchdogSettingsTest, FailedFilesKeepTheirRetryRecords) {
  TWatchdogSettings S;
  TStoredMonTask& E = S.MonTasks.emplace_back();
  E.BuTask = "/t/a.buj";
  E.Dir = "/data";
  E.Files = {" blank, comma.txt", "a.txt", "b\xFF.txt", "gone.txt"};
  E.Failed = {{" blank, comma.txt", 2, 2, 0x105}, {"a.txt", 4, -1, 5}, {"b\xFF.txt", 1, 0, 32}};
  const std::string Ini = (FDir / "failed.ini").string();
  SaveWatchdogSettings(Ini, S, "DeZedodiru", "1.0");
  EXPECT_EQ(LoadWatchdogSettings(Ini).MonTasks.at(0), E);

  TUnicodeIniFile Doc = TUnicodeIniFile::CreateForWrite(Ini, false);
  Doc.WriteInteger("Monitor00", "FailedCount", 4);
  Doc.WriteString("Monitor00", "Failed003", "x,1,2,gone.txt");
  Doc.WriteString("Monitor00", "Failed001", "4,-1,5");
  Doc.UpdateFile();
  const TStoredMonTask Read = LoadWatchdogSettings(Ini).MonTasks.at(0);
  EXPECT_EQ(Read.Files, E.Files);
  ASSERT_EQ(Read.Failed.size(), 2u);
  EXPECT_EQ(Read.Failed[0], E.Failed[0]);
  EXPECT_EQ(Read.Failed[1], E.Failed[2]);
}

TEST_F(WatchdogSettingsTest, ReadsAtMost25Sections) {
  const std::vector<TEntryState> Written = WriteEntries(30, 30);
  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  std::vector<std::string> Expected;
  for (std::size_t I = 0; I < MaxMonTasks; ++I) Expected.push_back(Written[I].Dir);
  EXPECT_EQ(DirsOf(S.Watchdog), Expected);
  EXPECT_EQ(S.View.State.DirItems.size(), MaxMonTasks);
}

TEST_F(WatchdogSettingsTest, ConfigCountBelowSectionsReadsOnlyThatMany) {
  WriteEntries(5, 2);
  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  EXPECT_EQ(DirsOf(S.Watchdog), (std::vector<std::string>{"/data/d00", "/data/d01"}));

  WriteEntries(3, -4);
  TSession Negative(FSetup);
  Negative.Watchdog.LoadSettings();
  EXPECT_EQ(Negative.Watchdog.MonTaskCount(), 0u);
}

// An entry whose task file is missing at loading (a disk or share not
// mounted yet) is kept with the user's check mark and its pending files,
// marked as unusable with the reason, and saved as it was: the next start
// finds it again.
TEST_F(WatchdogSettingsTest, EntriesWithoutTaskFileAreKeptAndMarked) {
  std::vector<TEntryState> Written = WriteEntries(5, 5);
  fs::remove(Written[1].BuTask);
  fs::create_directories(FDir / "tasks" / "adir.buj");
  WriteSettings([&](TUnicodeIniFile& Ini) {
    Written[3].BuTask = (FDir / "tasks" / "adir.buj").string();     // a directory, not a file
    Ini.WriteInteger("Config", "Count", 5);
    for (std::size_t I = 0; I < Written.size(); ++I)
      WriteEntry(Ini, I, Written[I]);
  });

  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  EXPECT_EQ(EntriesOf(S.Watchdog), Written);
  EXPECT_EQ(S.View.DirTexts(), (std::vector<TDirText>{{"01: /data/d00", true},
                                                      {"02: /data/d01", true},
                                                      {"03: /data/d02", true},
                                                      {"04: /data/d03", true},
                                                      {"05: /data/d04", true}}));
  for (std::size_t I = 0; I < Written.size(); ++I) {
    SCOPED_TRACE(I);
    const TDirItem& Item = S.View.State.DirItems[I];
    const bool Missing = I == 1 || I == 3;
    EXPECT_EQ(Item.Invalid, Missing);
    EXPECT_EQ(Item.Unavailable, Missing ? "Task not found: " + Written[I].BuTask : "");
  }
  EXPECT_EQ(S.Watchdog.FileCount(), static_cast<std::int32_t>(Written[0].Files.size() + Written[4].Files.size()))
      << "the files of an entry that waits are not due";

  S.Watchdog.SaveSettings();
  TSession Next(FSetup);
  Next.Watchdog.LoadSettings();
  EXPECT_EQ(EntriesOf(Next.Watchdog), Written);
}

TEST_F(WatchdogSettingsTest, EnabledFlagDecidesTheCheckMark) {
  const struct {
    const char* Stored;  // nullptr: no key
    TMonTaskStatus Expected;
  } Cases[] = {
      {"0", mtDisabled}, {"1", mtEnabled}, {"5", mtEnabled}, {nullptr, mtEnabled}, {"yes", mtEnabled}, {"-1", mtEnabled},
  };
  std::vector<const char*> Stored;
  for (const auto& Case : Cases) Stored.push_back(Case.Stored);
  WriteEntriesWithValues("Enabled", Stored);
  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  ASSERT_EQ(S.Watchdog.MonTaskCount(), std::size(Cases));
  for (std::size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(Cases[I].Stored ? Cases[I].Stored : "(missing)");
    EXPECT_EQ(S.Watchdog.MonTask(I).MonStatus, Cases[I].Expected);
    EXPECT_EQ(S.View.State.DirItems[I].Checked, Cases[I].Expected == mtEnabled);
  }
}

TEST_F(WatchdogSettingsTest, RetainedVersionsAreHeldToZeroToThree) {
  const struct {
    const char* Stored;  // nullptr: no key
    std::int32_t Expected;
  } Cases[] = {
      {"0", 0}, {"2", 2}, {"3", 3}, {"4", 3}, {"2147483647", 3}, {"-1", 0}, {nullptr, 0}, {"many", 0},
  };
  std::vector<const char*> Stored;
  for (const auto& Case : Cases) Stored.push_back(Case.Stored);
  WriteEntriesWithValues("RetainBak", Stored);
  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  ASSERT_EQ(S.Watchdog.MonTaskCount(), std::size(Cases));
  for (std::size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(Cases[I].Stored ? Cases[I].Stored : "(missing)");
    EXPECT_EQ(S.Watchdog.MonTask(I).RetainBak, Cases[I].Expected);
  }
}

TEST_F(WatchdogSettingsTest, InvalidEntryIsSavedDisabledAndLoadsUnchecked) {
  TSession S(FSetup);
  const TMonTaskStatus Statuses[] = {mtEnabled, mtDisabled, mtInvalid};
  for (std::size_t I = 0; I < std::size(Statuses); ++I) {
    auto Task = std::make_unique<TMonTask>(MakeTask("t" + Two(I) + ".buj"), "/d" + Two(I));
    Task->MonStatus = Statuses[I];
    ASSERT_EQ(S.Watchdog.AddMonTask(std::move(Task)), atAdded);
  }
  S.Watchdog.SaveSettings();
  const TUnicodeIniFile Ini = Saved();
  EXPECT_EQ(Ini.ReadString(Section(0), "Enabled", ""), "1");
  EXPECT_EQ(Ini.ReadString(Section(1), "Enabled", ""), "0");
  EXPECT_EQ(Ini.ReadString(Section(2), "Enabled", ""), "0");

  TSession Next(FSetup);
  Next.Watchdog.LoadSettings();
  ASSERT_EQ(Next.Watchdog.MonTaskCount(), 3u);
  EXPECT_EQ(Next.Watchdog.MonTask(2).MonStatus, mtDisabled);
  EXPECT_FALSE(Next.View.State.DirItems[2].Checked);
}

TEST_F(WatchdogSettingsTest, WritesKeysInOrderWithSortedPendingFiles) {
  TSession S(FSetup);
  auto Busy = std::make_unique<TMonTask>(MakeTask("busy.buj"), "/busy");
  for (const char* Name : {"e.txt", "a/b.txt", "C.txt", "d.txt", "a.txt"})
    Busy->FileList.Add(Name);
  Busy->RetainBak = 3;
  ASSERT_EQ(S.Watchdog.AddMonTask(std::move(Busy)), atAdded);
  ASSERT_EQ(S.Watchdog.AddMonTask(std::make_unique<TMonTask>(MakeTask("idle.buj"), "/idle")), atAdded);
  S.Watchdog.SaveSettings();

  const TUnicodeIniFile Ini = Saved();
  EXPECT_EQ(Ini.ReadSections(), (std::vector<std::string>{"Unicode", "Config", "Monitor00", "Monitor01"}));
  EXPECT_EQ(Ini.ReadSection("Unicode"), (std::vector<std::string>{"Encoding", "Program", "Version"}));
  EXPECT_EQ(Ini.ReadSection("Config"), (std::vector<std::string>{"Top", "Left", "Height", "Width", "JobDir",
                                                                 "Interval", "SysTray", "WriteLog", "Count"}));
  EXPECT_EQ(Ini.ReadSectionValues(Section(0)),
            (std::vector<std::string>{"BackupTask=" + (FDir / "tasks" / "busy.buj").string(), "Directory=/busy",
                                      "RetainBak=3", "Enabled=1", "Count=5", "File000=C.txt", "File001=a.txt",
                                      "File002=a/b.txt", "File003=d.txt", "File004=e.txt"}));
  EXPECT_EQ(Ini.ReadSection(Section(1)),
            (std::vector<std::string>{"BackupTask", "Directory", "RetainBak", "Enabled", "Count"}));
  EXPECT_EQ(Ini.ReadInteger(Section(1), "Count", -1), 0);

  TSession Next(FSetup);
  Next.Watchdog.LoadSettings();
  EXPECT_EQ(Next.Watchdog.FileCount(), 5);
}

// The file keys are read as looking each one up would read them, however
// the section is made up.
TEST_F(WatchdogSettingsTest, ReadsPendingFilesAsStored) {
  const std::string Text =
      "[Config]\nCount=2\n"
      "[Monitor00]\nBackupTask=" + MakeTask("a.buj") + "\nCount=4\n"
      "File003=d\n"
      "file001=b\n"       // names are found without regard to case
      "File001=dup\n"     // a key that occurs twice counts with its first value
      "File002=\n"        // empty: no file
      "File0000=x\n"      // not how index 0 is written
      "File004=e\n"       // beyond Count
      "File-01=y\nFile000x=z\nFile000\n"
      "File000=a\n"
      "[Monitor01]\nBackupTask=" + MakeTask("b.buj") + "\nCount=2000000000\n"
      "File000=only\nFile001=only\nFile1999999999=last\nFile2000000000=beyond\nFile99999999999999=huge\n";
  std::ofstream(FSetup.IniName, std::ios::binary) << Text;

  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  ASSERT_EQ(S.Watchdog.MonTaskCount(), 2u);
  EXPECT_EQ(S.Watchdog.MonTask(0).FileList.Items(), (std::vector<std::string>{"a", "b", "d"}));
  EXPECT_EQ(S.Watchdog.MonTask(1).FileList.Items(), (std::vector<std::string>{"last", "only"}));
  EXPECT_EQ(S.Watchdog.FileCount(), 5) << "a name stored twice is one pending file";
}

TEST_F(WatchdogSettingsTest, PeriodicBackupsOffSavesMinusOne) {
  WriteSettings([](TUnicodeIniFile& Ini) { Ini.WriteInteger("Config", "Interval", 900); });
  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  EXPECT_EQ(S.Watchdog.GetIntervalSeconds(), 900);

  S.Watchdog.PeriodicClicked(false);
  EXPECT_EQ(S.Watchdog.BuInterval(), -1);
  EXPECT_FALSE(S.View.State.Interval.Periodic);
  S.Watchdog.SaveSettings();
  EXPECT_EQ(Saved().ReadInteger("Config", "Interval", 0), -1);

  TSession Next(FSetup);
  Next.Watchdog.LoadSettings();
  EXPECT_EQ(Next.View.State.Interval, IntervalDisplayFor(-1));
  EXPECT_EQ(Next.Watchdog.GetIntervalSeconds(), -1);
}

TEST_F(WatchdogSettingsTest, HeightHasTheDesignedMinimumWidthHasNone) {
  const struct {
    const char* Name;
    std::int32_t StoredHeight, StoredWidth;  // 0: no key
    std::int32_t Height, Width;
  } Cases[] = {
      {"both smaller", 300, 200, 590, 200},
      {"both larger", 800, 1000, 800, 1000},
      {"exactly designed", 590, 736, 590, 736},
      {"no keys, window smaller than designed", 0, 0, 590, 500},
      {"negative", -50, -50, 590, -50},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    WriteSettings([&](TUnicodeIniFile& Ini) {
      Ini.WriteInteger("Config", "Top", -20);  // on a monitor left of or above the primary one
      Ini.WriteInteger("Config", "Left", -1500);
      if (Case.StoredHeight != 0)
        Ini.WriteInteger("Config", "Height", Case.StoredHeight);
      if (Case.StoredWidth != 0)
        Ini.WriteInteger("Config", "Width", Case.StoredWidth);
    });
    TFakeWatchdogView Window;
    Window.Designed = {590, 736};
    Window.Placement = {0, 0, 400, 500};
    TSession S(FSetup, Window);
    EXPECT_EQ(S.Watchdog.DHeight(), 590);
    EXPECT_EQ(S.Watchdog.DWidth(), 736);
    S.Watchdog.LoadSettings();
    EXPECT_EQ(S.View.Placement, (TWindowPlacement{-20, -1500, Case.Height, Case.Width}));
  }
}

TEST_F(WatchdogSettingsTest, SaveKeepsOtherSectionsAndDropsGlobal) {
  const std::vector<TEntryState> Written = WriteEntries(4, 4);
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(FSetup.IniName, false);
    Ini.WriteString("Global", "Stale", "1");
    Ini.WriteString("Printer", "Margin", "12");
    Ini.WriteString("Config", "Extra", "kept");
    Ini.UpdateFile();
  }
  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  S.Watchdog.SelectDirItem(3);
  S.Watchdog.RemoveSelected();  // its section is left over after the save
  S.Watchdog.SaveSettings();

  const TUnicodeIniFile Ini = Saved();
  EXPECT_FALSE(Ini.SectionExists("Global"));
  EXPECT_EQ(Ini.ReadString("Printer", "Margin", ""), "12");
  EXPECT_EQ(Ini.ReadString("Config", "Extra", ""), "kept");
  EXPECT_EQ(Ini.ReadString("Unicode", "Encoding", ""), "UTF-16LE");
  EXPECT_TRUE(Ini.SectionExists(Section(2)));
  EXPECT_FALSE(Ini.SectionExists(Section(3)));
}

// A save that fails tells the user and leaves everything as it was.
TEST_F(WatchdogSettingsTest, FailedSaveShowsMessageAndKeepsState) {
  const struct {
    const char* Name;
    std::function<void(const std::string& IniName)> Break;
    std::function<std::string(const std::string& IniName)> MessageStart;
    bool Whole;  // the message is just that
  } Cases[] = {
      {"settings folder removed", [](const std::string& IniName) { fs::remove_all(fs::path(IniName).parent_path()); },
       [](const std::string& IniName) { return "Error writing to \"" + IniName + "\""; }, true},
      {"settings file is a folder",
       [](const std::string& IniName) {
         fs::remove(IniName);
         fs::create_directories(IniName);
       },
       [](const std::string& IniName) { return "Cannot open file \"" + IniName + "\""; }, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::create_directories(FDir / "config");
    WriteEntries(2, 2);
    TSession S(FSetup);
    S.Watchdog.LoadSettings();
    S.Watchdog.MonTask(0).FileList.Add("pending.txt");
    const TState Before = StateOf(S);

    Case.Break(FSetup.IniName);
    ASSERT_NO_THROW(S.Watchdog.SaveSettings());
    ASSERT_EQ(S.View.Messages.size(), 1u);
    const std::string Expected = Case.MessageStart(FSetup.IniName);
    EXPECT_EQ(Case.Whole ? S.View.Messages[0] : S.View.Messages[0].substr(0, Expected.size()), Expected);
    EXPECT_EQ(StateOf(S), Before);
    fs::remove_all(FDir / "config");
  }
}

// A settings file that is there but cannot be read is not taken for a
// missing one: starting with an empty list would overwrite the stored list
// at the next save.
TEST_F(WatchdogSettingsTest, UnreadableFileStopsLoading) {
  fs::create_directories(FSetup.IniName);
  TSession S(FSetup);
  EXPECT_THROW(S.Watchdog.LoadSettings(), EFOpenError);
  S.Watchdog.SaveSettings();
  EXPECT_EQ(S.View.Messages.size(), 1u);
  EXPECT_TRUE(fs::is_directory(FSetup.IniName));
}

// A settings file the Windows program wrote: UTF-16LE with a byte-order
// mark, CR LF, Windows paths. Its values come through unchanged; an entry
// whose task path does not exist here is dropped like any missing task.
TEST_F(WatchdogSettingsTest, LoadsASettingsFileWrittenOnWindows) {
  const std::string Task = MakeTask("W\xC3\xB6" "chentlich.buj");
  const std::string Text =
      "[Unicode]\r\nEncoding=UTF-16LE\r\nProgram=DeZedodiru\r\nVersion=6.1.0.2\r\n\r\n"
      "[Global]\r\nOld=1\r\n\r\n"
      "[Config]\r\nTop=-8\r\nLeft=1928\r\nHeight=640\r\nWidth=800\r\n"
      "JobDir=C:\\Users\\J\xC3\xBCrgen\\Documents\\ZentApp\\\r\nInterval=3600\r\nSysTray=1\r\nWriteLog=0\r\nCount=2\r\n\r\n"
      "[Monitor00]\r\nBackupTask=" + Task + "\r\nDirectory=D:\\Daten\\Projekte\r\nRetainBak=2\r\nEnabled=1\r\n"
      "Count=2\r\nFile000=Berichte\\M\xC3\xA4rz.docx\r\nFile001=Berichte\\\xC3\x9C" "bersicht.xlsx\r\n\r\n"
      "[Monitor01]\r\nBackupTask=C:\\Users\\J\xC3\xBCrgen\\Documents\\ZentApp\\T\xC3\xA4glich.buj\r\n"
      "Directory=E:\\Fotos\r\nRetainBak=0\r\nEnabled=1\r\nCount=0\r\n\r\n";
  std::string Bytes = "\xFF\xFE";
  for (const char16_t U : Utf8ToUtf16(Text))
    Bytes += {static_cast<char>(U & 0xFF), static_cast<char>(U >> 8)};
  std::ofstream(FSetup.IniName, std::ios::binary) << Bytes;

  TSession S(FSetup);
  S.Watchdog.LoadSettings();
  EXPECT_EQ(S.View.Placement, (TWindowPlacement{-8, 1928, 640, 800}));
  EXPECT_EQ(S.Watchdog.JobDir(), "C:\\Users\\J\xC3\xBCrgen\\Documents\\ZentApp\\");
  EXPECT_EQ(S.View.State.Interval, IntervalDisplayFor(3600));
  EXPECT_EQ(S.View.State.SysTrayChecked, true);
  EXPECT_EQ(S.View.State.WriteLogChecked, false);
  ASSERT_EQ(S.Watchdog.MonTaskCount(), 2u) << "an entry whose task is not there waits for it";
  EXPECT_EQ(EntriesOf(S.Watchdog)[0],
            (TEntryState{Task, "D:\\Daten\\Projekte", 2, mtEnabled,
                         {"Berichte\\M\xC3\xA4rz.docx", "Berichte\\\xC3\x9C" "bersicht.xlsx"}}));
  EXPECT_FALSE(S.Watchdog.MonTask(1).Unavailable.empty());
  EXPECT_EQ(S.Watchdog.FileCount(), 2);

  S.Watchdog.SaveSettings();
  const TUnicodeIniFile Ini = Saved();
  EXPECT_FALSE(Ini.SectionExists("Global"));
  EXPECT_EQ(Ini.ReadString("Config", "JobDir", ""), "C:\\Users\\J\xC3\xBCrgen\\Documents\\ZentApp\\");
  EXPECT_EQ(Ini.ReadString(Section(0), "File000", ""), "Berichte\\M\xC3\xA4rz.docx");
  EXPECT_EQ(Ini.ReadString("Unicode", "Version", ""), "9.8.7.6");
}

// The file holds 25 entries; a 26th would be written under "Count" but
// without a section, and be gone at the next start.
TEST_F(WatchdogSettingsTest, ListStopsAtWhatTheFileHolds) {
  TSession S(FSetup);
  for (std::size_t I = 0; I < MaxMonTasks; ++I)
    ASSERT_EQ(S.Watchdog.AddMonTask(std::make_unique<TMonTask>(MakeTask("t" + Two(I) + ".buj"), "/d" + Two(I))),
              atAdded);
  EXPECT_EQ(S.Watchdog.AddMonTask(std::make_unique<TMonTask>(MakeTask("t25.buj"), "/d25")), atListFull);
  EXPECT_EQ(S.Watchdog.MonTaskCount(), MaxMonTasks);
  ASSERT_EQ(S.View.State.DirItems.size(), MaxMonTasks);
  EXPECT_EQ(S.View.State.DirItems.back().Text, "25: /d24");

  S.Watchdog.SaveSettings();
  TSession Next(FSetup);
  Next.Watchdog.LoadSettings();
  EXPECT_EQ(DirsOf(Next.Watchdog), DirsOf(S.Watchdog));
}

TEST_F(WatchdogSettingsTest, ListItemsFollowPositionAndStatus) {
  TSession S(FSetup);
  for (std::size_t I = 0; I < 3; ++I)
    ASSERT_EQ(S.Watchdog.AddMonTask(std::make_unique<TMonTask>(MakeTask("t" + Two(I) + ".buj"), "/d" + Two(I))),
              atAdded);
  fs::remove(S.Watchdog.MonTask(1).BuTask);
  S.Watchdog.ValidateMonTasks();  // a missing task or directory marks the entry, and keeps its check mark
  S.Watchdog.DirItemChecked(2, false);
  EXPECT_EQ(S.Watchdog.MonTask(1).MonStatus, mtEnabled);
  EXPECT_EQ(S.View.DirTexts(), (std::vector<TDirText>{{"01: /d00", true}, {"02: /d01", true}, {"03: /d02", false}}))
      << "the first entry's directory does not exist either";
  const auto InvalidMarks = [&] {
    std::vector<bool> Marks;
    for (const TDirItem& Item : S.View.State.DirItems) Marks.push_back(Item.Invalid);
    return Marks;
  };
  EXPECT_EQ(InvalidMarks(), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(S.View.State.DirItems[0].Unavailable, "Directory \"/d00\" not found!");
  EXPECT_EQ(S.View.State.DirItems[1].Unavailable, "Task not found: " + S.Watchdog.MonTask(1).BuTask);
  S.Watchdog.DirItemChecked(0, false);
  EXPECT_EQ(S.View.DirTexts(), (std::vector<TDirText>{{"01: /d00", false}, {"02: /d01", true}, {"03: /d02", false}}));
}

// --- the interval model -------------------------------------------------------

struct TIntervalCase {
  std::int32_t Stored;
  bool Periodic;
  TIntervalUnit Unit;
  std::int32_t Value;
  std::int32_t Seconds;  // what the controls stand for
};

TEST(IntervalModel, StoredIntervalIsShownInTheLargestExactUnit) {
  const TIntervalCase Cases[] = {
      {1800, true, iuMinutes, 30, 1800},
      {45, true, iuSeconds, 45, 45},
      {3700, true, iuMinutes, 61, 3660},  // rounded down to whole minutes
      {7300, true, iuHours, 2, 7200},     // and above 7199 to whole hours
      {7199, true, iuMinutes, 119, 7140},
      {7200, true, iuHours, 2, 7200},
      {3600, true, iuHours, 1, 3600},
      {60, true, iuMinutes, 1, 60},
      {90, true, iuSeconds, 90, 90},
      {300, true, iuMinutes, 5, 300},
      {359, true, iuMinutes, 5, 300},
      {5, true, iuSeconds, 5, 5},
      {0, false, iuMinutes, 10, -1},
      {-1, false, iuMinutes, 10, -1},
      {std::numeric_limits<std::int32_t>::min(), false, iuMinutes, 10, -1},
      // outside the unit's range: the value field holds the nearest end
      {3, true, iuSeconds, 5, 5},
      {299, true, iuSeconds, 295, 295},
      {86400, true, iuHours, 12, 43200},
      {std::numeric_limits<std::int32_t>::max(), true, iuHours, 12, 43200},
  };
  const std::int32_t Range[][3] = {{5, 295, 5}, {1, 360, 1}, {1, 12, 1}};
  const char* Hint[] = {"Number of seconds", "Number of minute(s)", "Number of hour(s)"};
  for (const TIntervalCase& Case : Cases) {
    SCOPED_TRACE(Case.Stored);
    const TIntervalDisplay D = IntervalDisplayFor(Case.Stored);
    EXPECT_EQ(D.Periodic, Case.Periodic);
    EXPECT_EQ(D.Unit, Case.Unit);
    EXPECT_EQ(D.Value, Case.Value);
    EXPECT_EQ(D.MinValue, Range[Case.Unit][0]);
    EXPECT_EQ(D.MaxValue, Range[Case.Unit][1]);
    EXPECT_EQ(D.Step, Range[Case.Unit][2]);
    EXPECT_EQ(D.Hint, Hint[Case.Unit]);
    EXPECT_EQ(IntervalSeconds(D), Case.Seconds);
  }
}

class IntervalControlsTest : public ::testing::Test {
protected:
  TFakeWatchdogView FView;
  TPlainMainThreadQueue FQueue;
  TWatchdog FWatchdog{FView, FQueue, TWatchdogSetup{"", "/home/u/", "DeZedodiru", "1.0.0.0"}};
};

TEST_F(IntervalControlsTest, ChoosingAUnitResetsTheValue) {
  const struct {
    TIntervalUnit Unit;
    std::int32_t Value, Min, Max, Step, Seconds;
    const char* Hint;
  } Cases[] = {
      {iuSeconds, 30, 5, 295, 5, 30, "Number of seconds"},
      {iuMinutes, 10, 1, 360, 1, 600, "Number of minute(s)"},
      {iuHours, 1, 1, 12, 1, 3600, "Number of hour(s)"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Hint);
    FWatchdog.IntervalValueChanged(7);
    FWatchdog.IntervalUnitChosen(Case.Unit);
    EXPECT_EQ(FView.State.Interval, FWatchdog.Interval());
    EXPECT_EQ(FView.State.Interval.Unit, Case.Unit);
    EXPECT_EQ(FView.State.Interval.Value, Case.Value);
    EXPECT_EQ(FView.State.Interval.MinValue, Case.Min);
    EXPECT_EQ(FView.State.Interval.MaxValue, Case.Max);
    EXPECT_EQ(FView.State.Interval.Step, Case.Step);
    EXPECT_EQ(FView.State.Interval.Hint, Case.Hint);
    EXPECT_EQ(FWatchdog.GetIntervalSeconds(), Case.Seconds);
  }
}

TEST_F(IntervalControlsTest, ValueIsHeldToItsUnitsRange) {
  FWatchdog.IntervalUnitChosen(iuHours);
  FWatchdog.IntervalValueChanged(5);
  EXPECT_EQ(FWatchdog.GetIntervalSeconds(), 5 * 3600);
  FWatchdog.IntervalValueChanged(20);
  EXPECT_EQ(FWatchdog.GetIntervalSeconds(), 12 * 3600);
  EXPECT_EQ(FView.State.Interval.Value, 12) << "the window is told the value it holds";
  FWatchdog.IntervalValueChanged(0);
  EXPECT_EQ(FWatchdog.GetIntervalSeconds(), 3600);
}

TEST_F(IntervalControlsTest, TogglingPeriodicBackupsKeepsTheValue) {
  FWatchdog.IntervalUnitChosen(iuSeconds);
  FWatchdog.IntervalValueChanged(45);
  FWatchdog.PeriodicClicked(false);
  EXPECT_EQ(FWatchdog.BuInterval(), -1);
  EXPECT_EQ(FWatchdog.GetIntervalSeconds(), -1);
  EXPECT_FALSE(FView.State.Interval.Periodic) << "the value field and unit box are disabled";
  EXPECT_EQ(FView.State.Interval.Value, 45);

  FWatchdog.PeriodicClicked(true);
  EXPECT_EQ(FWatchdog.BuInterval(), 45);
  EXPECT_TRUE(FView.State.Interval.Periodic);
  FWatchdog.IntervalUnitChosen(iuMinutes);
  EXPECT_TRUE(FView.State.Interval.Periodic) << "choosing a unit does not switch periodic backups";
}

}  // namespace
}  // namespace dz
