#include "console/ConsoleApp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Environment.h"
#include "settings/UnicodeIniFile.h"
#include "support/FakeDirWatchBackend.h"
#include "support/Gate.h"
#include "support/ScopedEnvironment.h"
#include "support/TestFiles.h"
#include "watchdog/SettingsGuard.h"
#include "watchdog/Watchdog.h"
#include "watchdog/WatchdogSettings.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

// ---- The commands and the status --------------------------------------------

TEST(ConsoleCommandTest, LinesAsCommands) {
  const struct {
    const char* Line;
    TConsoleCommand Command;
  } Cases[] = {
      {"b", ccBackup}, {"B", ccBackup}, {"  b\t", ccBackup}, {"s", ccStatus}, {"S", ccStatus},
      {"q", ccQuit},   {"Q ", ccQuit},  {"", ccNone},        {"   ", ccNone}, {"quit", ccUnknown},
      {"bs", ccUnknown}, {"x", ccUnknown}, {"b s", ccUnknown},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(Case.Line)));
    EXPECT_EQ(ParseConsoleCommand(Case.Line), Case.Command);
  }
}

TEST(ConsoleCommandTest, StatusWordsAndLines) {
  const struct {
    TMonTaskStatus Status;
    TRunStatus Run;
    const char* Word;
  } Words[] = {
      {mtEnabled, rsWatch, "watched"},       {mtEnabled, rsBackup, "backup running"},
      {mtEnabled, rsOff, "not watched"},     {mtEnabled, rsNone, "not watched"},
      {mtInvalid, rsWatch, "invalid"},       {mtDisabled, rsOff, "disabled"},
      {mtDisabled, rsBackup, "disabled"},
  };
  for (const auto& Case : Words) {
    SCOPED_TRACE(Case.Word);
    EXPECT_EQ(MonStateWord(Case.Status, Case.Run), Case.Word);
  }

  const std::vector<TStatusEntry> Entries = {{"/home/u/docs", mtEnabled, rsWatch, 0, 0, false, ""},
                                              {"/home/u/src", mtEnabled, rsBackup, 3, 0, false, ""},
                                              {"/gone", mtInvalid, rsOff, 0, 0, false, ""},
                                              {"/big", mtDisabled, rsOff, 12345, 0, false, ""},
                                              {"/self", mtEnabled, rsWatch, 1, 2, true, ""},
                                              {"/media/u/disk", mtEnabled, rsOff, 2, 0, false,
                                               "Directory \"/media/u/disk\" not found!"},
                                              {"/two\nlines", mtEnabled, rsWatch, 0, 0, false, ""}};
  EXPECT_EQ(StatusLines(Entries, "7 s"),
            (std::vector<std::string>{"01: /home/u/docs - watched, No files", "02: /home/u/src - backup running, 3 files",
                                      "03: /gone - invalid, No files", "04: /big - disabled, 12 345 files",
                                      "05: /self - watched, 1 file, 2 given up, the backup destination lies in the "
                                      "directory",
                                      "06: /media/u/disk - not watched, 2 files, Directory \"/media/u/disk\" not found!",
                                      "07: /two\\nlines - watched, No files", "Next backup: 7 s"}));
  EXPECT_EQ(StatusLines({}, "on demand"),
            (std::vector<std::string>{"No directory is in the list.", "Next backup: on demand"}));
}

// ---- The program, from its start to its end ---------------------------------

// A user of its own with the program in prog/, and the console program on
// fake watchers and string streams. Run() runs it on a thread of its own,
// which is its main thread; the test talks to it through the queue.
class ConsoleAppTest : public test::TTempUserTest {
protected:
  void SetUp() override {
    // The example's script needs the system's programs.
    FSystemPath = EnvVar("PATH");
    TTempUserTest::SetUp();
    fs::create_directories(FDir / "prog");
    test::WriteFileBytes(FDir / "prog/dezedodiru", "\x7F" "ELF");
    fs::permissions(FDir / "prog/dezedodiru", fs::perms::owner_all);
  }
  void TearDown() override {
    if (FThread.joinable()) Finish();
    TTempUserTest::TearDown();
  }

  TProgramLocations Locations(std::vector<std::string> Args) const {
    TLocationInputs In = ProcessLocationInputs(0, nullptr);
    In.Args = std::move(Args);
    In.ExeFileName = PathOf("prog/dezedodiru");
    In.CurrentDir = FDir.string();
    In.MachineConfigDir = PathOf("etc");
    return FindProgramLocations(In);
  }

  // The program with these arguments, run to its end on this thread; Lines
  // wait in standard input.
  int RunHere(const std::vector<std::string>& Args, const std::vector<std::string>& Lines = {},
              bool InputEnds = false) {
    for (const std::string& Line : Lines) FQueue.Post([this, Line] { FApp.InputLine(Line); });
    if (InputEnds) FQueue.Post([this] { FApp.InputEnded(); });
    return FApp.Run(Locations(Args), ParseCommandLine(Args));
  }

  // The same on a thread of its own, which goes on processing the queue
  // after the program's end until Finish() has the thread's result.
  void RunOnThread(const std::vector<std::string>& Args) {
    const TProgramLocations L = Locations(Args);
    FEnded = false;
    FStopPump = false;
    FThread = std::thread([this, L, Args] {
      FExitCode = FApp.Run(L, ParseCommandLine(Args));
      FEnded = true;
      while (!FQueue.WaitWhileProcessing([this] { return FStopPump; }, std::chrono::hours(1))) {
      }
    });
  }
  int Finish() {
    FQueue.Post([this] { FStopPump = true; });
    FThread.join();
    return FExitCode.value_or(-1);
  }
  // The fake watcher of Dir once monitoring runs there; null when the
  // program ended first.
  test::TFakeDirWatch* WaitForWatcher(const std::string& Dir) {
    test::TFakeDirWatch* Watch = nullptr;
    bool Ended = false;
    while (Watch == nullptr && !Ended)
      FQueue.Send([&] {
        Watch = FWatchers.Active(Dir);
        Ended = FEnded;
      });
    return Watch;
  }

  // The README's example, made by its script below the test's folder; its
  // task written by the built ZentApp, as tools/run.sh has it, or by the
  // script itself.
  std::string MakeExample(bool ByZentApp = false) {
    const std::string ZentApp = ByZentApp ? "DZ_ZENTAPP='" DZ_ZENTAPP_PATH "'; export DZ_ZENTAPP; " : "";
    const std::string Command = "PATH='" + FSystemPath + "'; export PATH; " + ZentApp + "bash '" DZ_SOURCE_DIR
                                "/tools/example-setup.sh' '" + PathOf("ex") + "' >/dev/null";
    EXPECT_EQ(std::system(Command.c_str()), 0);
    return PathOf("ex");
  }
  // A task file in UTF-8 with the destination dest/ and the given sources.
  std::string WriteTask(const std::string& Name, const std::vector<std::string>& Sources) {
    std::string Text = "[Global]\nDestination=" + PathOf("dest") + "/\nDestMode=1\nDirCount=" +
                       std::to_string(Sources.size()) + "\n";
    for (std::size_t I = 0; I < Sources.size(); ++I) {
      fs::create_directories(Sources[I]);
      Text += "[Dir00" + std::to_string(I) + "]\nSource=" + Sources[I] + "\nBackupMode=1\n";
    }
    test::WriteFileBytes(FDir / Name, Text);
    return PathOf(Name);
  }
  std::string Settings() const { return PathOf("config/ZentApp6/dezedodiru.ini"); }
  std::vector<std::string> MonitoredDirs(const std::string& IniName) const {
    std::vector<std::string> Dirs;
    for (const TStoredMonTask& T : LoadWatchdogSettings(IniName).MonTasks) Dirs.push_back(T.Dir);
    return Dirs;
  }

  std::string FSystemPath;
  std::ostringstream FOut;
  std::ostringstream FErr;
  TPlainMainThreadQueue FQueue;
  test::TFakeDirWatchBackends FWatchers;
  TConsoleApp FApp{{FOut, FErr, false}, FQueue, FWatchers.Factory()};
  std::thread FThread;
  std::optional<int> FExitCode;
  bool FEnded = false;     // on the program's thread
  bool FStopPump = false;  // on the program's thread
};

TEST_F(ConsoleAppTest, WithNothingToMonitorItSaysHowToAddADirectoryAndEnds) {
  EXPECT_EQ(RunHere({"/console"}), ceNothingToMonitor);
  EXPECT_NE(FErr.str().find("Please specify at least one directory to be monitored!\n"), std::string::npos) << FErr.str();
  EXPECT_NE(FErr.str().find("dezedodiru /console /add:TASKFILE"), std::string::npos) << FErr.str();
  // The settings are saved on this way out too.
  EXPECT_TRUE(fs::is_regular_file(Settings()));
}

TEST_F(ConsoleAppTest, AnAddThatFailsSaysWhyAndEnds) {
  const std::string Usable = WriteTask("usable.buj", {PathOf("a")});
  test::WriteFileBytes(FDir / "ftp.buj", "[Global]\nFtpBackup=1\nDirCount=1\n[Dir000]\nSource=" + PathOf("a") + "\n");
  test::WriteFileBytes(FDir / "nosource.buj", "[Global]\nDirCount=1\n[Dir000]\nSource=" + PathOf("gone") + "\n");
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } Cases[] = {
      {{"/c", "/add:missing.buj"}, "Task file not found: " + PathOf("missing.buj")},
      {{"/c", "/add:"}, "Task file not found: \n"},
      {{"/c", "/add:ftp.buj"}, "The backup task \"" + PathOf("ftp.buj") + "\""},
      {{"/c", "/add:nosource.buj"}, "names no existing source directory"},
      {{"/c", "/add:" + Usable, "/add:missing.buj"}, "Task file not found"},  // the first one is kept
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Args.back());
    fs::remove(Settings());
    FErr.str("");
    // The current directory is the test's folder, so relative names are
    // taken from there.
    const fs::path Cwd = fs::current_path();
    fs::current_path(FDir);
    const int Code = RunHere(Case.Args);
    fs::current_path(Cwd);
    EXPECT_EQ(Code, ceAddFailed);
    EXPECT_NE(FErr.str().find(Case.Message), std::string::npos) << FErr.str();
    // Saved on the way out, with only what could be added.
    EXPECT_EQ(MonitoredDirs(Settings()),
              Case.Args.size() == 2 ? std::vector<std::string>{} : std::vector<std::string>{PathOf("a")});
  }
}

TEST_F(ConsoleAppTest, SettingsThatCannotBeReadOrWrittenEndTheProgram) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  {
    SCOPED_TRACE("unreadable");
    fs::create_directories(Settings());  // a folder where the file should be
    EXPECT_EQ(RunHere({"/c", "/add:" + Task}), ceSettingsUnreadable);
    EXPECT_NE(FErr.str().find(Settings()), std::string::npos) << FErr.str();
    EXPECT_TRUE(fs::is_directory(Settings()));
    // Nothing but the lock of the running program beside it.
    EXPECT_EQ(test::Listing(PathOf("config/ZentApp6")),
              (std::vector<std::string>{".dezedodiru.ini.lock", "dezedodiru.ini"}));
  }
  {
    SCOPED_TRACE("unwritable");
    // The settings directory turns into a file after the start has found
    // it; root passes every permission check, but not that.
    const std::vector<std::string> Args{"/c", "/ini:" + PathOf("own") + "/", "/add:" + Task};
    const TProgramLocations L = Locations(Args);
    ASSERT_EQ(L.IniName, PathOf("own/dezedodiru.ini"));
    fs::remove_all(PathOf("own"));
    test::WriteFileBytes(PathOf("own"), "in the way");
    FErr.str("");
    EXPECT_EQ(FApp.Run(L, ParseCommandLine(Args)), ceSettingsUnwritable);
    EXPECT_NE(FErr.str().find("Error writing to \"" + L.IniName + "\""), std::string::npos) << FErr.str();
  }
}

// A damaged settings file is never read as empty and written over: it is
// put aside, named in the message, and the program ends with the code of
// an unreadable file.
TEST_F(ConsoleAppTest, ADamagedSettingsFileIsKeptAsideAndNothingStarts) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  ASSERT_EQ(RunHere({"/c", "/add:" + Task}, {"q"}), ceQuit);
  const std::string Good = test::ReadFileBytes(Settings());
  std::string Utf16WithoutMark = Good.substr(2);
  const struct {
    const char* Name;
    std::string Bytes;
  } Cases[] = {
      {"truncated", Good.substr(0, Good.size() / 2)},
      {"garbage", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16)},
      {"empty", ""},
      {"UTF-16 without its mark", Utf16WithoutMark},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::remove(Settings() + ".damaged");
    test::WriteFileBytes(Settings(), Case.Bytes);
    FErr.str("");
    EXPECT_EQ(RunHere({"/c"}, {"q"}), ceSettingsUnreadable);
    EXPECT_NE(FErr.str().find("\"" + Settings() + ".damaged\""), std::string::npos) << FErr.str();
    EXPECT_FALSE(fs::exists(Settings())) << "nothing is written in its place";
    EXPECT_EQ(test::ReadFileBytes(Settings() + ".damaged"), Case.Bytes);
  }
}

// Two watchdogs on one settings file would copy every change twice and lose
// each other's entries: the second says who runs and ends.
TEST_F(ConsoleAppTest, ASecondWatchdogOnTheSameSettingsEnds) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  ASSERT_EQ(RunHere({"/c", "/add:" + Task}, {"q"}), ceQuit);
  const std::string Before = test::ReadFileBytes(Settings());
  TInstanceLock Running;
  ASSERT_EQ(LockSettingsFile(Settings(), "DeZedodiru", Running), std::nullopt);
  FErr.str("");
  EXPECT_EQ(RunHere({"/c", "/add:" + WriteTask("u.buj", {PathOf("b")})}, {"q"}), ceAlreadyRunning);
  EXPECT_NE(FErr.str().find("DeZedodiru is already running with the settings file \"" + Settings() + "\" (process "),
            std::string::npos)
      << FErr.str();
  EXPECT_EQ(test::ReadFileBytes(Settings()), Before);
  Running.Release();
  EXPECT_EQ(RunHere({"/c"}, {"q"}), ceQuit);
}

TEST_F(ConsoleAppTest, SeveralSourcesAreListedAndTheAnswerChooses) {
  const std::string Task = WriteTask("two.buj", {PathOf("a"), PathOf("b")});
  const struct {
    const char* Name;
    std::vector<std::string> Lines;
    bool InputEnds;
    std::vector<std::string> Added;
  } Cases[] = {
      {"second", {"2", "q"}, false, {PathOf("b")}},
      {"after a wrong answer", {"x", "3", " 1 ", "q"}, false, {PathOf("a")}},
      {"empty answer", {""}, false, {}},
      {"end of input", {}, true, {}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::remove(Settings());
    FOut.str("");
    const int Code = RunHere({"/c", "/add:" + Task}, Case.Lines, Case.InputEnds);
    const std::string Out = FOut.str();
    EXPECT_NE(Out.find("Source directories found in the backup task \"two.buj\":\n1: " + PathOf("a") + "\n2: " +
                       PathOf("b") + "\n"),
              std::string::npos)
        << Out;
    if (Case.Added.empty()) {
      EXPECT_NE(Out.find("No directory was added."), std::string::npos) << Out;
      EXPECT_EQ(Code, ceNothingToMonitor);
      EXPECT_TRUE(MonitoredDirs(Settings()).empty());
    } else {
      EXPECT_EQ(Code, ceQuit);
      EXPECT_EQ(MonitoredDirs(Settings()), Case.Added);
    }
  }
}

// A service that passes its task at every start keeps one entry: the same
// task on the same directory again is only said, never added.
TEST_F(ConsoleAppTest, AddingTheSameTaskAgainAddsNothing) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  const std::string Other = WriteTask("other.buj", {PathOf("a")});
  for (int Start = 0; Start < 3; ++Start) {
    SCOPED_TRACE(Start);
    FOut.str("");
    FErr.str("");
    EXPECT_EQ(RunHere({"/c", "/add:" + Task}, {"q"}), ceQuit);
    EXPECT_EQ(MonitoredDirs(Settings()), std::vector<std::string>{PathOf("a")});
    const bool Said = FErr.str().find("Directory \"" + PathOf("a") + "\" is monitored with the backup task \"" +
                                      Task + "\" already.") != std::string::npos;
    EXPECT_EQ(FOut.str().find("Directory added") != std::string::npos, Start == 0) << FOut.str();
    EXPECT_EQ(Said, Start > 0) << FErr.str();
  }
  // Another task on the same directory is another entry (its own
  // destination and filters).
  EXPECT_EQ(RunHere({"/c", "/add:" + Other}, {"q"}), ceQuit);
  EXPECT_EQ(MonitoredDirs(Settings()), (std::vector<std::string>{PathOf("a"), PathOf("a")}));
}

// A service started before its disk is mounted: the entry whose directory
// is missing keeps its place and check mark, monitoring starts, and the
// status says why it is not watched.
TEST_F(ConsoleAppTest, AnEntryWhoseDirectoryIsMissingWaitsAndTheStatusSaysWhy) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  ASSERT_EQ(RunHere({"/c", "/add:" + Task}, {"q"}), ceQuit);
  fs::remove_all(FDir / "a");
  FOut.str("");
  FErr.str("");

  EXPECT_EQ(RunHere({"/c"}, {"s", "q"}), ceQuit) << FErr.str();
  EXPECT_NE(FOut.str().find("01: " + PathOf("a") + " - not watched, No files, Directory \"" + PathOf("a") +
                            "\" not found!\n"),
            std::string::npos)
      << FOut.str();
  const TWatchdogSettings Saved = LoadWatchdogSettings(Settings());
  ASSERT_EQ(Saved.MonTasks.size(), 1u);
  EXPECT_TRUE(Saved.MonTasks[0].Enabled) << "the user's check mark is kept for the next start";
}

// A change reported and the status asked for in one turn of the queue: the
// state the status reads is published after the report, and still the
// status counts the change.
TEST_F(ConsoleAppTest, TheStatusCountsAChangeReportedInTheSameTurn) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  RunOnThread({"/c", "/add:" + Task});
  test::TFakeDirWatch* Watch = WaitForWatcher(PathOf("a"));
  ASSERT_NE(Watch, nullptr) << FOut.str() << FErr.str();
  // The main thread waits at the gate while the report and the commands
  // are queued behind it.
  test::TGate Held;
  FQueue.Post([&Held] { Held.Pass(); });
  ASSERT_TRUE(Held.WaitForArrivals(1));
  test::WriteFileBytes(FDir / "a/new.txt", "new");
  ASSERT_TRUE(Watch->Push({{DirActionAdded, "new.txt"}}));
  for (const char* Line : {"s", "q"}) FQueue.Post([this, Line] { FApp.InputLine(Line); });
  Held.Open();
  EXPECT_EQ(Finish(), ceQuit);
  EXPECT_NE(FOut.str().find("01: " + PathOf("a") + " - watched, 1 file\nNext backup: "), std::string::npos)
      << FOut.str();
}

class ConsoleExampleTest : public ConsoleAppTest, public testing::WithParamInterface<bool> {};

TEST_P(ConsoleExampleTest, TheExampleBacksUpAChangeAndQuitsWithALastBackup) {
  const std::string Ex = MakeExample(GetParam());
  // Only ZentApp writes the keys the script leaves to their defaults.
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(Ex + "/example.buj").ValueExists("Global", "CompressAsZip"), GetParam());
  const std::string Source = Ex + "/source";
  RunOnThread({"/console", "/ini:" + Ex + "/settings/", "/add:" + Ex + "/example.buj"});
  test::TFakeDirWatch* Watch = WaitForWatcher(Source);
  ASSERT_NE(Watch, nullptr) << FOut.str() << FErr.str();

  test::WriteFileBytes(Source + "/hello.txt", "changed");
  ASSERT_TRUE(Watch->Push({{DirActionModified, "hello.txt"}}));
  // The report was queued before these lines, so the status counts it.
  for (const char* Line : {"s", "what", "q"}) FQueue.Post([this, Line] { FApp.InputLine(Line); });
  EXPECT_EQ(Finish(), ceQuit);

  const std::string Out = FOut.str();
  EXPECT_NE(Out.find("Directory added: " + Source + "\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("01: " + Source + " - watched, 1 file\nNext backup: "), std::string::npos) << Out;
  EXPECT_NE(Out.find("Commands: b = backup now, s = status, q = quit\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("hello.txt"), std::string::npos) << Out;  // the worker's line
  EXPECT_EQ(FErr.str(), "");
  // The destination keeps the source's whole path.
  EXPECT_EQ(test::ReadFileBytes(Ex + "/backup" + Source + "/hello.txt"), "changed");

  const TWatchdogSettings Saved = LoadWatchdogSettings(Ex + "/settings/dezedodiru.ini");
  EXPECT_EQ(Saved.Interval, 10);
  EXPECT_TRUE(Saved.WriteLog);
  ASSERT_EQ(Saved.MonTasks.size(), 1u);
  EXPECT_EQ(Saved.MonTasks[0].BuTask, Ex + "/example.buj");
  EXPECT_EQ(Saved.MonTasks[0].Dir, Source);
  EXPECT_TRUE(Saved.MonTasks[0].Files.empty());

  // The next start needs no "add:": the entry is in the settings file.
  FOut.str("");
  RunOnThread({"/console", "/ini:" + Ex + "/settings/"});
  ASSERT_NE(WaitForWatcher(Source), nullptr) << FOut.str() << FErr.str();
  FQueue.Post([this] { FApp.Request(crQuit); });
  EXPECT_EQ(Finish(), ceQuit);
}

INSTANTIATE_TEST_SUITE_P(TaskWrittenBy, ConsoleExampleTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) { return Info.param ? "ZentApp" : "Script"; });

TEST_F(ConsoleAppTest, ASecondQuitDuringTheLastBackupSavesAndEndsAtOnce) {
  const std::string Task = WriteTask("t.buj", {PathOf("a")});
  test::WriteFileBytes(FDir / "a/file.txt", "data");
  std::optional<int> ExitedWith;
  std::vector<std::string> PendingAtExit;
  FApp.SetExitNow([&](int Code) {
    ExitedWith = Code;
    PendingAtExit = LoadWatchdogSettings(Settings()).MonTasks.at(0).Files;
  });
  RunOnThread({"/c", "/add:" + Task});
  test::TFakeDirWatch* Watch = WaitForWatcher(PathOf("a"));
  ASSERT_NE(Watch, nullptr) << FOut.str() << FErr.str();
  ASSERT_TRUE(Watch->Push({{DirActionAdded, "file.txt"}}));
  // The first request ends the loop; the second comes while the last backup
  // waits for its worker.
  FQueue.Post([this] {
    FApp.Request(crQuit);
    FQueue.Post([this] { FApp.Request(crQuit); });
  });
  EXPECT_EQ(Finish(), ceQuit);  // the test's exit returns, so the program goes on to its end
  EXPECT_EQ(ExitedWith, std::optional<int>(ceQuit));
  // The file the worker had not reported yet stayed pending in the file.
  EXPECT_EQ(PendingAtExit, std::vector<std::string>{"file.txt"});
  EXPECT_NE(FErr.str().find("Second quit request"), std::string::npos) << FErr.str();
}

}  // namespace
}  // namespace dz
