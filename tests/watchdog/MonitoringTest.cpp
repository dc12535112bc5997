// Monitoring against fake watcher backends: the reports are pushed by the
// test and run by ProcessPending, so every case is deterministic. Task files
// and the monitored directories are real, in a fresh folder per test.

#include <gtest/gtest.h>

#include <thread>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/SafeFormat.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "settings/ProgramLocations.h"
#include "support/FakeDirWatchBackend.h"
#include "support/Gate.h"
#include "support/TestFiles.h"
#include "watchdog/FakeWatchdogView.h"
#include "watchdog/Watchdog.h"
#include "watchdog/WatchdogSettings.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;
using test::TFakeWatchdogView;
using TFiles = std::vector<std::string>;

// A source section that lets every file through.
constexpr std::string_view AllFiles = "BackupMode=1\n";

class MonitoringTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    Restart();
  }
  void TearDown() override {
    FWatchdog.reset();
    TTempDirTest::TearDown();
  }

  // A new controller, window, log and backends on an empty folder: for
  // tables of cases that each need their own.
  void Restart() {
    FWatchdog.reset();
    for (const auto& Entry : fs::directory_iterator(FDir)) fs::remove_all(Entry.path());
    FView = TFakeWatchdogView();
    FView.LogLines.clear();
    FBackends = test::TFakeDirWatchBackends();
    FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, Setup(), FBackends.Factory());
  }

  TWatchdogSetup Setup() const {
    TWatchdogSetup S;
    S.IniName = PathOf("DeZedodiru.ini");
    S.UserPath = FDir.string() + "/";
    S.ReturnLookTicks = 1;  // entries that wait for their directory are looked for at every tick
    return S;
  }

  // A task file for the directory Name of the test folder whose source
  // section holds Section.
  std::string WriteTask(const std::string& Name, std::string_view Section) const {
    const std::string Text = "[Global]\nDestination=" + PathOf("dest") + "\nDirCount=1\n[Dir000]\nSource=" +
                             PathOf(Name) + "\n" + std::string(Section);
    test::WriteFileBytes(FDir / (Name + ".buj"), Text);
    return PathOf(Name + ".buj");
  }

  // Creates the directory Name in the test folder with a task for it, and
  // appends the entry; Pending are its files from an earlier run.
  std::size_t AddEntry(const std::string& Name, std::string_view Section = AllFiles,
                       TMonTaskStatus Status = mtEnabled, const TFiles& Pending = {}) {
    fs::create_directories(FDir / Name);
    auto Entry = std::make_unique<TMonTask>(WriteTask(Name, Section), PathOf(Name));
    Entry->MonStatus = Status;
    for (const std::string& File : Pending) Entry->FileList.Add(File);
    EXPECT_EQ(FWatchdog->AddMonTask(std::move(Entry)), atAdded);
    return FWatchdog->MonTaskCount() - 1;
  }

  TMonTask& Task(std::size_t I) { return FWatchdog->MonTask(I); }
  TFiles Pending(std::size_t I) { return Task(I).FileList.Items(); }
  const TDirectoryWatch* Watcher(std::size_t I) const { return FWatchdog->Monitor().Watcher(I); }

  test::TFakeDirWatch* Backend(std::size_t I) { return FBackends.Active(Task(I).Dir); }

  // The reports of one batch of entry I's watcher, run on the main thread.
  void Report(std::size_t I, std::vector<TDirChange> Batch) {
    test::TFakeDirWatch* Fake = Backend(I);
    ASSERT_NE(Fake, nullptr) << "entry " << I << " is not watched";
    ASSERT_TRUE(Fake->Push(std::move(Batch)));
    FQueue.ProcessPending();
  }
  // Since: as the backend gives it (for 1022, from when changes may be lost).
  void ReportError(std::size_t I, int Code, const std::string& Text,
                   system_clock::time_point Since = system_clock::now()) {
    test::TFakeDirWatch* Fake = Backend(I);
    ASSERT_NE(Fake, nullptr) << "entry " << I << " is not watched";
    ASSERT_TRUE(Fake->PushError(Code, Text, Since));
    FQueue.ProcessPending();
  }

  // A lost burst: the rescan runs off the main thread, and its line in the
  // log says that it is done.
  void ReportLost(std::size_t I, system_clock::time_point Since = system_clock::now()) {
    const std::size_t Lines = FView.LogLines.size();
    ReportError(I, ErrNotifyEnumDir, "Too many changes at once in directory", Since);
    WaitForLines(Lines + 1);
  }
  void WaitForLines(std::size_t Count) {
    ASSERT_TRUE(FQueue.WaitWhileProcessing([&] { return FView.LogLines.size() >= Count; }, std::chrono::minutes(2)))
        << ::testing::PrintToString(FView.LogLines);
  }

  std::int64_t ListedFiles() {
    std::int64_t Sum = 0;
    for (std::size_t I = 0; I < FWatchdog->MonTaskCount(); ++I) Sum += static_cast<std::int64_t>(Pending(I).size());
    return Sum;
  }

  // Monitoring starts, and the test goes on once every watcher's start has
  // ended.
  void Start() {
    ASSERT_TRUE(FWatchdog->StartMonitoring());
    WaitForWatchers();
  }
  void WaitForWatchers() {
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !FWatchdog->WatchersStarting(); }, std::chrono::minutes(2)));
  }
  // Runs the queue until it is empty: what was queued, and what that queued
  // in turn.
  void Drain() {
    while (FQueue.ProcessPending() > 0) {
    }
  }

  TFakeWatchdogView FView;
  TPlainMainThreadQueue FQueue;
  test::TFakeDirWatchBackends FBackends;
  std::unique_ptr<TWatchdog> FWatchdog;
};

// ---------------------------------------------------------------------------
// Starting

TEST_F(MonitoringTest, StartWatchesEveryUsableEntryAsConfigured) {
  AddEntry("docs", AllFiles, mtEnabled, {"a.txt", "b/c.txt"});
  AddEntry("off", AllFiles, mtDisabled, {"x.txt", "y.txt", "z.txt"});
  AddEntry("work", AllFiles, mtEnabled, {"w.txt"});
  FWatchdog->SelectDirItem(2);

  Start();

  ASSERT_EQ(FBackends.ActiveCount(), 2u);
  for (const std::size_t I : {0u, 2u}) {
    SCOPED_TRACE(Task(I).Dir);
    ASSERT_NE(Backend(I), nullptr);
    const TDirWatchRequest Request = Backend(I)->Request();
    EXPECT_TRUE(Request.WatchSubTree);
    EXPECT_EQ(Request.Filter, NotifyFilterOf(Task(I).Watches));
    EXPECT_EQ(Request.Filter, 0x5Bu);
    ASSERT_TRUE(Watcher(I));
    EXPECT_EQ(Watcher(I)->Id(), static_cast<int>(I + 1)) << "the watcher reports its list position";
    EXPECT_EQ(Watcher(I)->WatchActions(), AllWatchActions);
    EXPECT_TRUE(Watcher(I)->Running());
    EXPECT_EQ(FWatchdog->RunStatus(I), rsWatch);
  }
  EXPECT_FALSE(Watcher(1));
  EXPECT_EQ(FWatchdog->RunStatus(1), rsOff);
  EXPECT_EQ(FWatchdog->FileCount(), 3) << "only the watched entries' pending files count";
  EXPECT_TRUE(FWatchdog->Monitoring());
  EXPECT_TRUE(FView.LogLines.empty());

  EXPECT_EQ(FWatchdog->BuInterval(), 1800);
  EXPECT_EQ(FWatchdog->TimeCount(), 1800);
  EXPECT_EQ(FView.State.FileCountText, "3 files");
  EXPECT_FALSE(FView.State.NotScheduledVisible);
  EXPECT_TRUE(FView.State.ShowFilesVisible);
  EXPECT_FALSE(FView.State.RemoveEnabled);
  EXPECT_FALSE(FView.State.PeriodicEnabled);
  EXPECT_TRUE(FView.State.StopEnabled);
  EXPECT_EQ(FView.State.StartHint, "Start immediate backup");
  EXPECT_EQ(FView.State.TrayStartStopCaption, "Stop monitoring");
  EXPECT_TRUE(FView.State.BackupTimerEnabled);
  EXPECT_EQ(FView.State.ClockProgress, (TClockProgress{1800, 0, true, true, true}));
  EXPECT_GT(FView.StateChanges, 0);
  EXPECT_EQ(FWatchdog->TbStatus(), tbsOff) << "the first tick changes the icon";

  // A second start while running changes nothing.
  EXPECT_TRUE(FWatchdog->StartMonitoring());
  EXPECT_EQ(FBackends.Count(), 2u);
}

TEST_F(MonitoringTest, StartWithBackupsOnDemand) {
  AddEntry("docs");
  FWatchdog->PeriodicClicked(false);
  Start();
  EXPECT_EQ(FWatchdog->BuInterval(), -1);
  EXPECT_EQ(FWatchdog->TimeCount(), -1);
  EXPECT_FALSE(FView.State.ClockProgress.Visible);
}

TEST_F(MonitoringTest, StartSkipsInvalidTasksAndNamesThem) {
  const struct {
    const char* Name;
    const char* Global;  // replaces the usable task's text
    std::string ExpectedLine;
  } Cases[] = {
      {"FTP task", "[Global]\nFtpBackup=1\nDirCount=1\n", "The backup task \"{TASK}\" has invalid settings!"},
      {"directory not in the task", "[Global]\nDirCount=1\n[Dir000]\nSource=/elsewhere\n",
       "Directory \"{DIR}\" not specified in {TASK}!"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Restart();
    const std::size_t Good = AddEntry("good");
    const std::size_t Bad = AddEntry("bad");
    test::WriteFileBytes(Task(Bad).BuTask, Case.Global);

    EXPECT_TRUE(FWatchdog->StartMonitoring());
    WaitForWatchers();

    EXPECT_NE(Backend(Good), nullptr);
    EXPECT_EQ(Backend(Bad), nullptr);
    EXPECT_EQ(Task(Bad).MonStatus, mtInvalid);
    ASSERT_EQ(FView.State.DirItems.size(), 2u);
    EXPECT_TRUE(FView.State.DirItems[Good].Checked);
    EXPECT_FALSE(FView.State.DirItems[Bad].Checked);
    std::string Expected = Case.ExpectedLine;
    for (const auto& [Token, Value] : {std::pair<std::string, std::string>{"{TASK}", Task(Bad).BuTask},
                                       std::pair<std::string, std::string>{"{DIR}", Task(Bad).Dir}})
      if (const auto At = Expected.find(Token); At != std::string::npos) Expected.replace(At, Token.size(), Value);
    EXPECT_EQ(FView.LogLines, TFiles{Expected});
  }
}

TEST_F(MonitoringTest, StartRefusesWhenNothingIsLeftToWatch) {
  EXPECT_FALSE(FWatchdog->StartMonitoring()) << "empty list";
  const std::size_t Bad = AddEntry("bad");
  test::WriteFileBytes(Task(Bad).BuTask, "[Global]\nEncrypt=1\n");
  AddEntry("off", AllFiles, mtDisabled);

  EXPECT_FALSE(FWatchdog->StartMonitoring());

  EXPECT_EQ(FView.Messages,
            TFiles(2, "Please specify at least one directory to be monitored!"));
  EXPECT_FALSE(FWatchdog->Monitoring());
  EXPECT_EQ(FBackends.Count(), 0u);
  EXPECT_FALSE(FView.State.StopEnabled);
  EXPECT_TRUE(FView.State.RemoveEnabled);
  EXPECT_FALSE(FView.State.BackupTimerEnabled);
  EXPECT_EQ(FView.State.DirItems[Bad].Checked, false);
}

TEST_F(MonitoringTest, AWatcherThatCannotStartLeavesTheOthersWatched) {
  const std::size_t Locked = AddEntry("locked", AllFiles, mtEnabled, {"old.txt"});
  const std::size_t Open = AddEntry("open");
  FBackends.FailStart(Task(Locked).Dir, 5);

  Start();

  EXPECT_FALSE(Watcher(Locked));
  EXPECT_NE(Backend(Open), nullptr);
  EXPECT_EQ(FWatchdog->FileCount(), 1) << "its pending files still wait for their backup";
  ASSERT_EQ(FView.LogLines.size(), 1u);
  EXPECT_TRUE(FView.LogLines[0].starts_with("  *** 01: Directory \"" + Task(Locked).Dir + "\" cannot be monitored"))
      << FView.LogLines[0];
}

// ---------------------------------------------------------------------------
// Stopping

TEST_F(MonitoringTest, StopReleasesTheWatchersAndRestoresTheWindow) {
  AddEntry("docs");
  AddEntry("work");
  Start();

  FWatchdog->StopMonitoring();

  EXPECT_EQ(FBackends.ActiveCount(), 0u);
  for (std::size_t I = 0; I < FBackends.Count(); ++I) EXPECT_TRUE(FBackends.At(I).Destroyed());
  EXPECT_FALSE(Watcher(0));
  EXPECT_FALSE(Watcher(1));
  EXPECT_FALSE(FWatchdog->Monitoring());
  EXPECT_FALSE(fs::exists(FDir / "dest")) << "nothing was pending, so nothing was backed up";

  EXPECT_FALSE(FView.State.BackupTimerEnabled);
  EXPECT_EQ(FView.State.FileCountText, "");
  EXPECT_EQ(FView.State.CountdownText, "");
  EXPECT_TRUE(FView.State.StartEnabled);
  EXPECT_FALSE(FView.State.StopEnabled);
  EXPECT_TRUE(FView.State.RemoveEnabled);
  EXPECT_TRUE(FView.State.PeriodicEnabled);
  EXPECT_EQ(FWatchdog->TbStatus(), tbsOff);
  EXPECT_EQ(FView.State.TrayStatus, tbsOff);
  EXPECT_EQ(FView.State.TrayTip, ProgVersName());
  EXPECT_TRUE(FView.State.NotScheduledVisible);
  EXPECT_FALSE(FView.State.ShowFilesVisible);
  EXPECT_FALSE(FView.State.ClockProgress.Running);
  EXPECT_FALSE(FView.State.ClockProgress.Visible);
  EXPECT_EQ(FView.State.ClockProgress.Position, 0);
  EXPECT_EQ(FView.State.TrayStartStopCaption, "Start monitoring");
  EXPECT_EQ(FView.State.StartHint, "Start monitoring the selected directories");
  EXPECT_EQ(FView.State.Selected, 0) << "the first entry is selected when none was";
  ASSERT_TRUE(FView.State.TaskInfo.has_value());
  EXPECT_EQ(FView.State.TaskInfo->Task, Task(0).BuTask);
  EXPECT_TRUE(FView.State.TaskInfo->EditEnabled);
  EXPECT_EQ(FView.State.TaskInfo->Destination, PathOf("dest") + "/");

  // Monitoring starts again with new watchers.
  Start();
  EXPECT_EQ(FBackends.ActiveCount(), 2u);
}

TEST_F(MonitoringTest, StopCollectsWhatWasReportedAndBacksItUp) {
  const std::size_t Docs = AddEntry("docs", AllFiles, mtEnabled, {"old.txt"});
  for (const char* Name : {"a.txt", "late.txt", "old.txt"}) test::WriteFileBytes(FDir / "docs" / Name, Name);
  FWatchdog->SelectDirItem(0);
  Start();
  Report(Docs, {{DirActionAdded, "a.txt"}});
  // Read by the watcher but not yet handled on the main thread.
  ASSERT_TRUE(Backend(Docs)->Push({{DirActionModified, "late.txt"}}));

  FWatchdog->StopMonitoring();

  // Every file, the late one too, was backed up before the stop returned.
  EXPECT_EQ(Pending(Docs), TFiles{});
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  EXPECT_FALSE(FWatchdog->BackupRunning());
  for (const char* Name : {"a.txt", "late.txt", "old.txt"}) {
    SCOPED_TRACE(Name);
    const fs::path Copy = fs::path(PathOf("dest")) / fs::path(Task(Docs).Dir).relative_path() / Name;
    EXPECT_EQ(test::ReadFileBytes(Copy), Name);
  }
  EXPECT_EQ(FView.LogLines.size(), 3u) << ::testing::PrintToString(FView.LogLines);

  // Nothing is pending any more in the settings file either.
  TFakeWatchdogView View;
  TWatchdog Reloaded(View, FQueue, Setup(), FBackends.Factory());
  Reloaded.LoadSettings();
  ASSERT_EQ(Reloaded.MonTaskCount(), 1u);
  EXPECT_EQ(Reloaded.MonTask(0).FileList.Items(), TFiles{});
}

TEST_F(MonitoringTest, DestroyingTheControllerStopsItsWatchers) {
  AddEntry("docs");
  Start();
  ASSERT_EQ(FBackends.ActiveCount(), 1u);
  FWatchdog.reset();
  EXPECT_TRUE(FBackends.At(0).Destroyed());
  EXPECT_EQ(FBackends.At(0).StopCalls(), 1);
}

// ---------------------------------------------------------------------------
// Watchers starting in the background

// A tree of many directories takes its watcher seconds to start: monitoring
// runs meanwhile, and what the watcher reports while it starts is collected.
TEST_F(MonitoringTest, StartReturnsWhileAWatcherIsStillStarting) {
  const std::size_t Docs = AddEntry("docs");
  const std::size_t Work = AddEntry("work");
  FBackends.HoldStart(Task(Docs).Dir);

  ASSERT_TRUE(FWatchdog->StartMonitoring());

  EXPECT_TRUE(FWatchdog->Monitoring());
  EXPECT_TRUE(FView.State.Monitoring);
  EXPECT_TRUE(FView.State.StopEnabled);
  ASSERT_TRUE(FBackends.At(Docs).WaitUntilHeld());
  EXPECT_TRUE(FWatchdog->WatchersStarting());
  ASSERT_TRUE(Watcher(Docs));
  EXPECT_TRUE(Watcher(Docs)->Starting());
  EXPECT_FALSE(Watcher(Docs)->Running());
  EXPECT_EQ(FWatchdog->RunStatus(Docs), rsWatch);

  // Reported while the watcher still walks its tree.
  Report(Docs, {{DirActionAdded, "early.txt"}});
  EXPECT_EQ(Pending(Docs), TFiles{"early.txt"});
  EXPECT_EQ(FWatchdog->FileCount(), 1);
  // Until every watcher is in place, changes are not known to be collected
  // up to now: the settings file keeps no time to catch up from.
  ASSERT_TRUE(FWatchdog->SaveSettings());
  EXPECT_FALSE(LoadWatchdogSettings(PathOf("DeZedodiru.ini")).LastSave.has_value());

  FBackends.At(Docs).ReleaseStart();
  WaitForWatchers();
  EXPECT_TRUE(Watcher(Docs)->Running());
  EXPECT_TRUE(Watcher(Work)->Running());
  ASSERT_TRUE(FWatchdog->SaveSettings());
  EXPECT_TRUE(LoadWatchdogSettings(PathOf("DeZedodiru.ini")).LastSave.has_value());
  Report(Docs, {{DirActionAdded, "later.txt"}});
  EXPECT_EQ(Pending(Docs), (TFiles{"early.txt", "later.txt"}));
  EXPECT_TRUE(FView.LogLines.empty()) << ::testing::PrintToString(FView.LogLines);
}

// Stopping monitoring or destroying the controller while a watcher's start
// is held cancels that start, and what the watcher had reported stays
// pending.
TEST_F(MonitoringTest, AStartInProgressIsCancelledByAStopOrTheEnd) {
  for (const bool Destroy : {false, true}) {
    SCOPED_TRACE(Destroy ? "destroyed" : "stopped");
    Restart();
    const std::size_t Docs = AddEntry("docs");
    test::WriteFileBytes(FDir / "docs" / "a.txt", "reported while starting");
    FBackends.HoldStart(Task(Docs).Dir);
    ASSERT_TRUE(FWatchdog->StartMonitoring());
    test::TFakeDirWatch& Held = FBackends.At(0);
    ASSERT_TRUE(Held.WaitUntilHeld());
    // Read by the watcher, not yet handled on the main thread.
    ASSERT_TRUE(Held.Push({{DirActionAdded, "a.txt"}}));

    if (Destroy) {
      FWatchdog.reset();
      EXPECT_EQ(Held.CancelCalls(), 1);
      EXPECT_FALSE(Held.Started());
      EXPECT_TRUE(Held.Destroyed());
      FQueue.ProcessPending();  // nothing queued may reach the destroyed controller
      continue;
    }
    FWatchdog->StopMonitoring();

    EXPECT_EQ(Held.CancelCalls(), 1);
    EXPECT_FALSE(Held.Started());
    EXPECT_FALSE(FWatchdog->Monitoring());
    EXPECT_FALSE(FWatchdog->WatchersStarting());
    EXPECT_EQ(FView.LogLines.size(), 1u) << "only the backup's line, no failed start: "
                                         << ::testing::PrintToString(FView.LogLines);
    const fs::path Copy = fs::path(PathOf("dest")) / fs::path(Task(Docs).Dir).relative_path() / "a.txt";
    EXPECT_EQ(test::ReadFileBytes(Copy), "reported while starting") << "the report was collected and backed up";
    FQueue.ProcessPending();
    EXPECT_EQ(FView.LogLines.size(), 1u) << "a cancelled start reports nothing later";
  }
}

// ---------------------------------------------------------------------------
// Collecting reports

TEST_F(MonitoringTest, ReportsChangeThePendingFiles) {
  struct TStep {
    int Action;
    const char* FileName;
  };
  const struct {
    const char* Name;
    std::vector<const char*> Dirs;  // directories that exist in the monitored one
    std::vector<TStep> Reports;
    TFiles Expected;
  } Cases[] = {
      {"created, then deleted", {}, {{DirActionAdded, "a.txt"}, {DirActionRemoved, "a.txt"}}, {}},
      {"renamed a.txt to b.txt",
       {},
       {{DirActionAdded, "a.txt"}, {DirActionRenamedOld, "a.txt"}, {DirActionRenamedNew, "b.txt"}},
       {"b.txt"}},
      {"a file not pending renamed", {}, {{DirActionRenamedOld, "a.txt"}, {DirActionRenamedNew, "b.txt"}}, {"b.txt"}},
      {"modified while pending",
       {},
       {{DirActionAdded, "a.txt"}, {DirActionModified, "a.txt"}, {DirActionModified, "a.txt"}},
       {"a.txt"}},
      {"a new sub-directory and a file in it",
       {"sub"},
       {{DirActionAdded, "sub"}, {DirActionAdded, "sub/x.txt"}, {DirActionModified, "sub"}},
       {"sub/x.txt"}},
      {"a deleted file that was never pending", {}, {{DirActionRemoved, "gone.txt"}}, {}},
      {"names differing in case are two files",
       {},
       {{DirActionAdded, "A.txt"}, {DirActionAdded, "a.txt"}, {DirActionRemoved, "A.txt"}},
       {"a.txt"}},
      // The pending files below a renamed directory are looked for under its
      // new name; files of a directory with a longer name stay.
      {"a directory with pending files renamed",
       {"new"},
       {{DirActionAdded, "old/a.txt"},
        {DirActionAdded, "old/deep/c.txt"},
        {DirActionAdded, "older/d.txt"},
        {DirActionAdded, "top.txt"},
        {DirActionRenamedOld, "old"},
        {DirActionRenamedNew, "new"}},
       {"new/a.txt", "new/deep/c.txt", "older/d.txt", "top.txt"}},
      // Only the directory is reported when it leaves the tree.
      {"a directory with pending files moved out",
       {},
       {{DirActionAdded, "out/a.txt"}, {DirActionAdded, "outer.txt"}, {DirActionRemoved, "out"}},
       {"outer.txt"}},
      {"a rename whose new name is no directory moves nothing",
       {},
       {{DirActionAdded, "old/a.txt"}, {DirActionRenamedOld, "old"}, {DirActionRenamedNew, "new"}},
       {"new", "old/a.txt"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Restart();
    const std::size_t Docs = AddEntry("docs", AllFiles, mtEnabled, {"kept.txt"});
    for (const char* Dir : Case.Dirs) fs::create_directories(FDir / "docs" / Dir);
    Start();
    std::vector<TDirChange> Batch;
    for (const TStep& Step : Case.Reports) Batch.push_back({Step.Action, Step.FileName});
    Report(Docs, Batch);

    TFiles Expected = Case.Expected;
    Expected.push_back("kept.txt");
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Pending(Docs), Expected);
    EXPECT_EQ(FWatchdog->FileCount(), static_cast<std::int32_t>(Expected.size()));
  }
}

TEST_F(MonitoringTest, TheTasksFiltersDecideWhatIsCollected) {
  const struct {
    const char* Name;
    const char* Section;
    TFiles Collected;
    TFiles Ignored;
  } Cases[] = {
      {"included extensions, none listed", "BackupMode=0\n", {}, {"a.txt", "Makefile", "sub/b.doc"}},
      {"included extensions",
       "BackupMode=0\nInclude=txt,doc\n",
       {"a.txt", "B.TXT", "sub/c.doc"},
       {"a.pdf", "Makefile", "txt", "d.txt.bak"}},
      {"excluded extensions", "BackupMode=1\nExclude=tmp\n", {"a.txt", "Makefile", "x.TMP.txt"}, {"x.tmp", "s/y.TMP"}},
      // An empty item of the list is the extension of names that have none.
      {"included extensions and none",
       "BackupMode=0\nInclude=txt,\n",
       {"a.txt", "Makefile", "s/README", "name."},
       {"a.pdf", "s/b.doc"}},
      {"excluded extensions and none", "BackupMode=1\nExclude=,tmp\n", {"a.txt", "s/b.doc"}, {"Makefile", "x.tmp", "s/README"}},
      {"included extensions, empty list", "BackupMode=0\nInclude=\n", {}, {"a.txt", "Makefile"}},
      {"excluded extensions, empty list", "BackupMode=1\nExclude=\n", {"a.txt", "Makefile"}, {}},
      {"file mask", "BackupMode=1\nFilterMode=1\nFilter=*.doc\n", {"a.doc", "s/b.DOC"}, {"a.txt", "doc"}},
      {"file mask excluding", "BackupMode=1\nFilterMode=2\nFilter=~*\n", {"a.doc"}, {"~lock.doc", "s/~x.doc"}},
      {"listed sub-directory included",
       "BackupMode=1\nIncludeDirs=1\nSubCount=1\nSubDir000=Work\n",
       {"Work/a.txt", "Work/deep/b.txt", "Workshop/c.txt", "work/d.txt"},
       {"a.txt", "Other/Work/e.txt"}},
      {"listed sub-directory excluded",
       "BackupMode=1\nIncludeDirs=0\nSubCount=1\nSubDir000=Temp\n",
       {"Other/x.log", "x.log", "Other/Temp/y.log"},
       {"Temp/x.log", "Temp/deep/z.log"}},
      {"directory filter, sub-directories excluded",
       "BackupMode=1\nIncludeDirs=0\nDirFilter=cache\n",
       {"a.txt", "cached/b.txt", "src/c.txt"},
       {"cache/a.txt", "a/b/cache/c/d.txt", "x/Cache/e.txt"}},
      {"directory filter, sub-directories included",
       "BackupMode=1\nIncludeDirs=1\nDirFilter=src,lib\n",
       {"src/a.c", "x/lib/y/b.c"},
       {"a.c", "doc/c.c"}},
      {"directory expression", "BackupMode=1\nIncludeDirs=0\nDirFilter=#^\\d{4}$\n", {"2024x/a.txt"}, {"2024/a.txt"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Restart();
    const std::size_t Docs = AddEntry("docs", Case.Section);
    Start();
    std::vector<TDirChange> Batch;
    for (const TFiles* Names : {&Case.Collected, &Case.Ignored})
      for (const std::string& Name : *Names) Batch.push_back({DirActionAdded, Name});
    Report(Docs, Batch);

    TFiles Expected = Case.Collected;
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Pending(Docs), Expected);
    EXPECT_EQ(FWatchdog->FileCount(), static_cast<std::int32_t>(Expected.size()));
  }
}

TEST_F(MonitoringTest, ReportsThatNameNoWatchedEntryAreIgnored) {
  const std::size_t Docs = AddEntry("docs");
  const std::size_t Work = AddEntry("work");
  AddEntry("off", AllFiles, mtDisabled);
  Start();
  const TDirectoryWatch& DocsWatch = *Watcher(Docs);
  TEntryMonitor& Monitor = FWatchdog->Monitor();
  const std::vector<TWatchChange> Added{{waAdded, "a.txt"}};
  const system_clock::time_point Now = system_clock::now();

  for (const int Id : {0, -1, 4, 1000})
    Monitor.BatchReported(DocsWatch, Id, Added, Now);
  // The disabled entry has no watcher; the position of another one is not
  // this watcher's to report for.
  Monitor.BatchReported(DocsWatch, 3, Added, Now);
  Monitor.BatchReported(DocsWatch, static_cast<int>(Work + 1), Added, Now);
  EXPECT_EQ(ListedFiles(), 0);
  EXPECT_EQ(FWatchdog->FileCount(), 0);

  Monitor.BatchReported(DocsWatch, static_cast<int>(Docs + 1), Added, Now);
  EXPECT_EQ(Pending(Docs), TFiles{"a.txt"});
  EXPECT_EQ(FWatchdog->FileCount(), 1);
}

// Whatever the watchers report, the count of pending files is the number of
// files listed.
TEST_F(MonitoringTest, FileCountFollowsTheListsThroughAnyReports) {
  const std::size_t A = AddEntry("a", AllFiles, mtEnabled, {"x.txt", "s/c.txt"});
  const std::size_t B = AddEntry("b", "BackupMode=1\nExclude=tmp\n");
  fs::create_directories(FDir / "a" / "t");
  fs::create_directories(FDir / "b" / "t");
  Start();
  const std::vector<std::string> Names{"x.txt", "y.tmp", "s/c.txt", "s/d.txt", "t/e.txt", "s", "t", "u/f.txt"};
  std::mt19937 Random(20240611);
  for (int Round = 0; Round < 200; ++Round) {
    std::vector<TDirChange> Batch;
    for (int I = 0; I < 8; ++I) {
      const int Action = DirActionAdded + static_cast<int>(Random() % 5);
      Batch.push_back({Action, Names[Random() % Names.size()]});
    }
    Report(Round % 2 == 0 ? A : B, Batch);
    ASSERT_EQ(FWatchdog->FileCount(), ListedFiles()) << "round " << Round;
  }
}

// ---------------------------------------------------------------------------
// Lost changes and watcher errors

// Change times as the file system keeps them.
class LostChangesTest : public MonitoringTest {
protected:
  // The later of the modification and status-change times of every entry
  // directly in Dir, by name.
  static std::vector<std::pair<std::string, TFileTime>> TimesIn(const fs::path& Dir) {
    std::vector<std::pair<std::string, TFileTime>> Times;
    const int Result = WalkDirectoryTree(
        Dir.string(),
        [&](const TDirWalkEntry& Entry) {
          Times.emplace_back(Entry.RelPath, std::max(Entry.ModifyTime, Entry.ChangeTime));
          return dwvContinue;
        },
        {true, false});
    EXPECT_EQ(Result, 0);
    return Times;
  }

  // A new controller whose walks of the trees wait at Walk.
  void HoldWalksAt(test::TGate& Walk) {
    TWatchdogSetup S = Setup();
    S.ScanTree = [&Walk](const std::string& Dir, const TMonFilter& Filter, TFileTime Since, TFiles& Files) {
      Walk.Pass();
      return ScanChangedFiles(Dir, Filter, Since, Files);
    };
    FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, S, FBackends.Factory());
  }

  static system_clock::time_point ClockTime(TFileTime Time) {
    return system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(
        std::chrono::nanoseconds((Time - FileTimeOfUnixEpoch) * 100)));
  }

  // Rewrites a file outside the monitored directories until the file
  // system's clock has moved past After; returns the time it shows then.
  // The file system's clock runs in ticks of a few milliseconds, so this
  // waits for its next tick, not for a fixed time.
  TFileTime NextFileSystemTick(TFileTime After) {
    fs::create_directories(FDir / "clock");
    for (int Attempt = 0; Attempt < 10'000'000; ++Attempt) {
      test::WriteFileBytes(FDir / "clock" / "probe", std::to_string(Attempt));
      const TFileTime Now = TimesIn(FDir / "clock").at(0).second;
      if (Now > After)
        return Now;
    }
    ADD_FAILURE() << "the file system's clock does not move";
    return After;
  }
};

TEST_F(LostChangesTest, ARescanCollectsWhatChangedSinceChangesWereLost) {
  const std::size_t Docs = AddEntry("docs", "BackupMode=1\nExclude=tmp\nIncludeDirs=0\nDirFilter=cache\n",
                                    mtEnabled, {"pending.txt"});
  const fs::path Root = FDir / "docs";
  fs::create_directories(Root / "sub");
  test::WriteFileBytes(Root / "old.txt", "before changes were lost");
  test::WriteFileBytes(Root / "sub" / "old2.txt", "before changes were lost");
  test::WriteFileBytes(Root / "pending.txt", "pending already");
  Start();
  TFileTime Before = 0;
  for (const auto& [Name, Time] : TimesIn(Root)) Before = std::max(Before, Time);
  for (const auto& [Name, Time] : TimesIn(Root / "sub")) Before = std::max(Before, Time);

  // Changes are lost from a second after the file system's next tick on:
  // the files above are older than that less the slack, the files below are
  // not.
  const TFileTime Tick = NextFileSystemTick(Before);
  const system_clock::time_point LostSince = ClockTime(Tick) + std::chrono::seconds(1);
  Report(Docs, {{DirActionModified, "sub"}});

  fs::create_directories(Root / "deep" / "er");
  fs::create_directories(Root / "cache");
  test::WriteFileBytes(Root / "new.txt", "lost");
  test::WriteFileBytes(Root / "sub" / "new2.txt", "lost");
  test::WriteFileBytes(Root / "deep" / "er" / "new3.txt", "lost");
  test::WriteFileBytes(Root / "skip.tmp", "excluded by extension");
  test::WriteFileBytes(Root / "cache" / "x.txt", "excluded by directory");
  test::WriteFileBytes(Root / "pending.txt", "changed again");
  // Moved in: an old modification time, but a new status change.
  test::WriteFileBytes(FDir / "moved.txt", "from outside");
  fs::last_write_time(FDir / "moved.txt", fs::file_time_type::clock::now() - std::chrono::hours(24 * 365));
  fs::rename(FDir / "moved.txt", Root / "moved.txt");
  fs::create_symlink(Root / "sub", Root / "link-to-dir");
  fs::create_symlink(Root / "new.txt", Root / "link.txt");

  ReportLost(Docs, LostSince);

  const TFiles Expected{"deep/er/new3.txt", "link.txt", "moved.txt", "new.txt", "pending.txt", "sub/new2.txt"};
  EXPECT_EQ(Pending(Docs), Expected);
  EXPECT_EQ(FWatchdog->FileCount(), static_cast<std::int32_t>(Expected.size()));
  EXPECT_EQ(FView.LogLines,
            TFiles{"01: " + SafeFormat("More changes in \"%s\" than the system could report at once: the directory "
                                       "was scanned again, %u changed files were added.",
                                       Task(Docs).Dir, 5u)});
  EXPECT_NE(Backend(Docs), nullptr) << "watching goes on";
  Report(Docs, {{DirActionAdded, "after.txt"}});
  EXPECT_TRUE(Task(Docs).FileList.Contains("after.txt"));
}

// Before any report, changes may be lost from when watching started.
TEST_F(LostChangesTest, ARescanBeforeAnyReportCoversTheTimeSinceTheStart) {
  const std::size_t Docs = AddEntry("docs");
  const fs::path Root = FDir / "docs";
  test::WriteFileBytes(Root / "old.txt", "before the start");
  TFileTime Before = TimesIn(Root).at(0).second;
  const system_clock::time_point Started = ClockTime(NextFileSystemTick(Before)) + std::chrono::seconds(1);
  Start();
  test::WriteFileBytes(Root / "new.txt", "lost");
  ReportLost(Docs, Started);
  EXPECT_EQ(Pending(Docs), TFiles{"new.txt"});
}

// The window was busy (a modal dialog) while a report waited in the queue
// and the burst after it was lost: the rescan starts from when the changes
// were lost, however late the main thread gets round to the reports.
TEST_F(LostChangesTest, ALostBurstHandledLateIsRescannedFromWhenItWasLost) {
  const std::size_t Docs = AddEntry("docs");
  const fs::path Root = FDir / "docs";
  Start();
  // The batch was read an hour ago and the file changed half an hour ago:
  // both reports waited in the queue all that time (a modal window), and
  // only the time they were read tells which changes may be lost.
  const system_clock::time_point Read = system_clock::now() - std::chrono::hours(1);
  test::WriteFileBytes(Root / "seen.txt", "reported");
  ASSERT_TRUE(Backend(Docs)->Push({{DirActionAdded, "seen.txt"}}, Read));
  test::WriteFileBytes(Root / "lost.txt", "its report was lost");
  fs::last_write_time(Root / "lost.txt", fs::file_time_type::clock::now() - std::chrono::minutes(30));
  ASSERT_TRUE(Backend(Docs)->PushError(ErrNotifyEnumDir, "Too many changes", Read));
  // Its status-change time cannot be set back; the reports are handled
  // well after it, beyond the rescan's slack.
  const auto Written = system_clock::now();
  while (system_clock::now() < Written + std::chrono::seconds(3))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

  FQueue.ProcessPending();
  WaitForLines(1);

  EXPECT_EQ(Pending(Docs), (TFiles{"lost.txt", "seen.txt"}));
}

// The rescan skips a sub-directory only when the directory filter decides
// that it is excluded. A name the filter cannot decide on keeps its files,
// as it does for the watcher's reports.
TEST_F(LostChangesTest, ARescanEntersDirectoriesTheFilterCannotDecide) {
  const struct {
    const char* Name;
    const char* DirFilter;
    std::string Undecided;  // a directory name the expression cannot judge
    std::string Excluded;   // one it excludes
  } Cases[] = {
      {"name that is not UTF-8", "#^cache$", "bad\xFFname", "cache"},
      {"expression that gives up", "#(a+)+$", std::string(30, 'a') + "b", "data"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Restart();
    const std::size_t Docs =
        AddEntry("docs", std::string("BackupMode=1\nIncludeDirs=0\nDirFilter=") + Case.DirFilter + "\n");
    const fs::path Root = FDir / "docs";
    Start();
    const system_clock::time_point Since = system_clock::now();
    for (const fs::path& Dir : {Root / Case.Undecided / "deep", Root / Case.Excluded}) fs::create_directories(Dir);
    test::WriteFileBytes(Root / Case.Undecided / "a.txt", "lost");
    test::WriteFileBytes(Root / Case.Undecided / "deep" / "b.txt", "lost");
    test::WriteFileBytes(Root / Case.Excluded / "c.txt", "excluded");
    test::WriteFileBytes(Root / "top.txt", "lost");

    ReportLost(Docs, Since);

    const TFiles Expected{Case.Undecided + "/a.txt", Case.Undecided + "/deep/b.txt", "top.txt"};
    EXPECT_EQ(Pending(Docs), Expected);
    // The reports of the same files agree with the rescan.
    for (const std::string& File : Expected) EXPECT_TRUE(PassesMonFilter(Task(Docs).MonFilter, File)) << File;
    EXPECT_FALSE(PassesMonFilter(Task(Docs).MonFilter, Case.Excluded + "/c.txt"));
  }
}

// The rescan walks the tree on a thread of its own: the main thread goes on
// while it is held, and its files arrive when it is done.
TEST_F(LostChangesTest, RescansRunOffTheMainThreadOneAtATime) {
  test::TGate Walk;
  HoldWalksAt(Walk);
  const std::size_t Docs = AddEntry("docs");
  Start();
  const system_clock::time_point Since = system_clock::now() - std::chrono::seconds(10);
  test::WriteFileBytes(FDir / "docs" / "lost.txt", "its report was lost");

  ReportError(Docs, ErrNotifyEnumDir, "Too many changes", Since);  // returns with the walk held
  ASSERT_TRUE(Walk.WaitForArrivals(1));
  EXPECT_NE(Walk.LastThread(), std::this_thread::get_id());
  Report(Docs, {{DirActionAdded, "seen.txt"}});
  EXPECT_EQ(Pending(Docs), TFiles{"seen.txt"}) << "reports are collected while the walk runs";
  ASSERT_TRUE(FWatchdog->SaveSettings());
  EXPECT_FALSE(LoadWatchdogSettings(PathOf("DeZedodiru.ini")).LastSave.has_value())
      << "while lost changes are looked for, they are not collected";

  // Two more losses while the walk runs: one more walk after it, from the
  // earlier of them, not a walk each.
  test::WriteFileBytes(FDir / "docs" / "lost2.txt", "lost as well");
  ReportError(Docs, ErrNotifyEnumDir, "Too many changes", Since + std::chrono::seconds(5));
  ReportError(Docs, ErrNotifyEnumDir, "Too many changes", Since + std::chrono::seconds(2));

  Walk.Open();
  WaitForLines(2);
  EXPECT_EQ(Pending(Docs), (TFiles{"lost.txt", "lost2.txt", "seen.txt"}));
  const std::string Line = "01: More changes in \"" + Task(Docs).Dir +
                           "\" than the system could report at once: the directory was scanned again, ";
  EXPECT_EQ(FView.LogLines, (TFiles{Line + "2 changed files were added.", Line + "0 changed files were added."}));
  ASSERT_TRUE(FWatchdog->SaveSettings());
  EXPECT_TRUE(LoadWatchdogSettings(PathOf("DeZedodiru.ini")).LastSave.has_value()) << "no walk is left";
  EXPECT_EQ(Walk.Arrivals(), 2);
}

// A stop while the rescan runs waits for it: its files are backed up too.
TEST_F(LostChangesTest, AStopWaitsForARescanAndBacksUpWhatItFinds) {
  test::TGate Walk;
  HoldWalksAt(Walk);
  const std::size_t Docs = AddEntry("docs");
  Start();
  test::WriteFileBytes(FDir / "docs" / "lost.txt", "its report was lost");
  ReportError(Docs, ErrNotifyEnumDir, "Too many changes", system_clock::now() - std::chrono::seconds(10));
  ASSERT_TRUE(Walk.WaitForArrivals(1));
  // The walk goes on only once the stop has begun.
  Backend(Docs)->OnStop([&Walk] { Walk.Open(); });

  FWatchdog->StopMonitoring();

  const fs::path Copy = fs::path(PathOf("dest")) / fs::path(Task(Docs).Dir).relative_path() / "lost.txt";
  EXPECT_EQ(test::ReadFileBytes(Copy), "its report was lost");
  EXPECT_EQ(FWatchdog->FileCount(), 0);
}

TEST_F(MonitoringTest, RunningOutOfWatchesIsLoggedOnceWithTheRemedy) {
  const std::size_t Docs = AddEntry("docs");
  const std::size_t Work = AddEntry("work");
  Start();
  // The backend's text says which limit to raise and how; any other error
  // with a text that happens to name the limit is an error of its own.
  const std::string Texts[] = {
      "The system's limit of directory watches (fs.inotify.max_user_watches = 8192) is reached: raise it.",
      "Limit reached",
  };
  ReportError(Docs, ErrNotEnoughQuota, Texts[0]);
  ReportError(Docs, ErrNotEnoughQuota, Texts[0]);
  ReportError(Work, ErrNotEnoughQuota, Texts[1]);
  ReportError(Work, 5, "not max_user_watches");

  ASSERT_EQ(FView.LogLines.size(), 3u) << "one line per entry, and the other error";
  for (const std::size_t I : {Docs, Work}) {
    const std::string& Line = FView.LogLines[I];
    EXPECT_EQ(Line, "  *** 0" + std::to_string(I + 1) + ": Directory \"" + Task(I).Dir +
                        "\" is watched only in part: " + Texts[I] + " Start monitoring again once the limit is raised.");
  }
  EXPECT_TRUE(FView.LogLines[2].find("Error monitoring directory") != std::string::npos) << FView.LogLines[2];
  // What is watched stays watched.
  Report(Docs, {{DirActionAdded, "a.txt"}});
  EXPECT_EQ(Pending(Docs), TFiles{"a.txt"});

  // A new start may report the limit again.
  FWatchdog->StopMonitoring();
  Start();
  ReportError(Docs, ErrNotEnoughQuota, Texts[0]);
  EXPECT_EQ(std::count_if(FView.LogLines.begin(), FView.LogLines.end(),
                          [](const std::string& Line) { return Line.find("watched only in part") != std::string::npos; }),
            3);
}

TEST_F(MonitoringTest, OtherWatcherErrorsAreLoggedEachTime) {
  const std::size_t Docs = AddEntry("docs");
  Start();
  ReportError(Docs, 5, "Permission denied");
  ReportError(Docs, 32, "Device or resource busy");
  EXPECT_EQ(FView.LogLines, (TFiles{"  *** 01: Error monitoring directory \"" + Task(Docs).Dir + "\": Permission denied (5)",
                               "  *** 01: Error monitoring directory \"" + Task(Docs).Dir +
                                   "\": Device or resource busy (32)"}));

  // Lost changes in a directory that has gone cannot be rescanned.
  FView.LogLines.clear();
  fs::remove_all(Task(Docs).Dir);
  ReportLost(Docs);
  EXPECT_EQ(FView.LogLines, TFiles{"  *** 01: Error monitoring directory \"" + Task(Docs).Dir + "\": " +
                               PlatformErrorText(ErrFileNotFound) + " (2)"});
}

// ---------------------------------------------------------------------------
// Directories and tasks that go away and come back

class ReturningEntryTest : public MonitoringTest {
protected:
  // One tick, and the looks for entries that wait have answered.
  void TickAndLook() {
    FWatchdog->Tick();
    ASSERT_TRUE(FQueue.WaitWhileProcessing(
        [this] {
          for (std::size_t I = 0; I < FWatchdog->MonTaskCount(); ++I)
            if (Task(I).ReturnLookOut) return false;
          return true;
        },
        std::chrono::minutes(2)));
    WaitForWatchers();
  }
  bool Logged(std::string_view Part) const {
    return std::any_of(FView.LogLines.begin(), FView.LogLines.end(),
                       [&](const std::string& Line) { return Line.find(Part) != std::string::npos; });
  }
};

// A service started before its disk is mounted: the entries whose task or
// directory is missing keep their check mark and pending files, monitoring
// starts all the same, and each is watched as soon as it is there.
TEST_F(ReturningEntryTest, AnEntryMissingAtTheStartIsWatchedWhenItComes) {
  const std::size_t Late = AddEntry("late", AllFiles, mtEnabled, {"old.txt"});
  const std::size_t NoTask = AddEntry("notask", AllFiles, mtEnabled, {"n.txt"});
  const std::size_t Off = AddEntry("off", AllFiles, mtDisabled);
  fs::remove_all(Task(Late).Dir);
  fs::remove_all(Task(Off).Dir);
  const std::string TaskText = test::ReadFileBytes(Task(NoTask).BuTask);
  fs::remove(Task(NoTask).BuTask);

  FWatchdog->ValidateMonTasks();
  EXPECT_EQ(Task(Late).MonStatus, mtEnabled);
  EXPECT_EQ(Task(NoTask).MonStatus, mtEnabled);
  ASSERT_TRUE(FWatchdog->StartMonitoring()) << ::testing::PrintToString(FView.Messages);
  WaitForWatchers();
  EXPECT_EQ(FBackends.Count(), 0u);
  for (const std::size_t I : {Late, NoTask}) {
    SCOPED_TRACE(I);
    const TDirItem& Item = FView.State.DirItems[I];
    EXPECT_TRUE(Item.Checked);
    EXPECT_TRUE(Item.Invalid);
    EXPECT_EQ(Item.RunStatus, rsOff);
    EXPECT_FALSE(Item.Unavailable.empty());
  }
  EXPECT_EQ(FView.State.DirItems[Late].Unavailable, "Directory \"" + Task(Late).Dir + "\" not found!");
  EXPECT_EQ(FView.State.DirItems[NoTask].Unavailable, "Task not found: " + Task(NoTask).BuTask);
  EXPECT_EQ(Pending(Late), TFiles{"old.txt"});
  EXPECT_EQ(FWatchdog->FileCount(), 0) << "files that wait for their directory are not due";

  TickAndLook();  // still missing
  EXPECT_EQ(FBackends.Count(), 0u);

  fs::create_directories(Task(Late).Dir);
  fs::create_directories(Task(Off).Dir);
  TickAndLook();
  ASSERT_NE(Backend(Late), nullptr);
  EXPECT_EQ(Backend(NoTask), nullptr);
  EXPECT_EQ(Backend(Off), nullptr) << "an entry the user unchecked stays off";
  EXPECT_TRUE(Logged("01: Directory \"" + Task(Late).Dir + "\" is there again and is monitored."));
  EXPECT_FALSE(FView.State.DirItems[Late].Invalid);
  EXPECT_EQ(FView.State.DirItems[Late].RunStatus, rsWatch);
  EXPECT_EQ(FWatchdog->FileCount(), 1);

  test::WriteFileBytes(Task(NoTask).BuTask, TaskText);
  TickAndLook();
  ASSERT_NE(Backend(NoTask), nullptr);
  EXPECT_EQ(FWatchdog->FileCount(), 2);
  Report(NoTask, {{DirActionAdded, "new.txt"}});
  EXPECT_EQ(Pending(NoTask), (TFiles{"n.txt", "new.txt"}));
}

// The watched directory deleted, renamed away or unmounted: the watcher
// has ended. The entry says so once, shows as not watched, keeps its
// pending files (they are not looked for under the old name) and is watched
// again when a directory is at its path once more, with what changed there
// meanwhile.
TEST_F(ReturningEntryTest, TheWatchedDirectoryGoneIsWatchedAgainWhenItIsBack) {
  const struct {
    int Code;
    const char* Text;
  } Cases[] = {{ErrFileNotFound, "The watched directory no longer exists"},
               {ErrNotReady, "The file system of the watched directory was unmounted"}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Code);
    Restart();
    const std::size_t Docs = AddEntry("docs", AllFiles, mtEnabled, {"a.txt"});
    const std::size_t Other = AddEntry("other");
    Start();
    const std::string Dir = Task(Docs).Dir;
    fs::rename(Dir, Dir + "-moved");
    const system_clock::time_point Gone = system_clock::now();
    ReportError(Docs, Case.Code, Case.Text, Gone);

    EXPECT_EQ(FView.LogLines, TFiles{"  *** 01: Directory \"" + Dir + "\" is no longer there: " + Case.Text +
                                     " It is monitored again as soon as it is back."});
    EXPECT_FALSE(Watcher(Docs));
    EXPECT_EQ(FView.State.DirItems[Docs].RunStatus, rsOff);
    EXPECT_TRUE(FView.State.DirItems[Docs].Invalid);
    EXPECT_TRUE(FView.State.DirItems[Docs].Checked);
    EXPECT_NE(Backend(Other), nullptr);

    // No backup looks for its files while the directory is away.
    FWatchdog->RequestInstantBackup();
    TickAndLook();
    EXPECT_FALSE(FWatchdog->BackupRunning());
    EXPECT_EQ(Pending(Docs), TFiles{"a.txt"});
    EXPECT_EQ(FView.LogLines.size(), 1u) << ::testing::PrintToString(FView.LogLines);

    // Back, as a tool that swaps folders leaves it, with a file written
    // while it was away.
    fs::rename(Dir + "-moved", Dir);
    test::WriteFileBytes(fs::path(Dir) / "b.txt", "b");
    const std::size_t Made = FBackends.Count();
    TickAndLook();
    EXPECT_EQ(FBackends.Count(), Made + 1);
    ASSERT_TRUE(Watcher(Docs));
    EXPECT_EQ(FView.State.DirItems[Docs].RunStatus, rsWatch);
    EXPECT_FALSE(FView.State.DirItems[Docs].Invalid);
    ASSERT_TRUE(FQueue.WaitWhileProcessing([&] { return Pending(Docs).size() == 2; }, std::chrono::minutes(2)));
    EXPECT_EQ(Pending(Docs), (TFiles{"a.txt", "b.txt"}));
    EXPECT_TRUE(Logged("01: Directory \"" + Dir + "\" is there again and is monitored."));
    Report(Docs, {{DirActionAdded, "c.txt"}});
    EXPECT_EQ(Pending(Docs), (TFiles{"a.txt", "b.txt", "c.txt"}));
  }
}

// A name with a line break is shown escaped in the log: one line stays one
// line, on the console and in the log file.
TEST_F(MonitoringTest, NamesWithLineBreaksAreEscapedInLogLines) {
  const std::size_t Docs = AddEntry("docs");
  ASSERT_EQ(FWatchdog->AddMonTask(std::make_unique<TMonTask>(Task(Docs).BuTask, PathOf("do\ncs\r"))), atAdded);
  const std::string Shown = PathOf("do\\ncs\\r");
  FWatchdog->ValidateMonTasks();
  EXPECT_EQ(FView.LogLines, TFiles{"Directory \"" + Shown + "\" not found!"});
  EXPECT_EQ(FView.State.DirItems[1].Text, "02: " + Shown);
  Start();
  ReportError(Docs, 5, "Permission\ndenied");
  EXPECT_EQ(FView.LogLines.back(),
            "  *** 01: Error monitoring directory \"" + Task(Docs).Dir + "\": Permission\\ndenied (5)");
  for (const std::string& Line : FView.LogLines) {
    EXPECT_EQ(Line.find('\n'), std::string::npos) << Line;
    EXPECT_EQ(Line.find('\r'), std::string::npos) << Line;
  }
}

// ---------------------------------------------------------------------------
// Texts and views

TEST(FileCountText, CountsInWords) {
  const struct {
    std::int64_t Count;
    const char* Text;
  } Cases[] = {
      {0, "No files"},         {1, "1 file"},          {2, "2 files"},
      {9999, "9999 files"},    {10000, "10 000 files"}, {123456, "123 456 files"},
      {1234567, "1 234 567 files"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Count);
    EXPECT_EQ(FileCountText(Case.Count), Case.Text);
  }
}

TEST(PathHelpers, SubDirectoryListAndFilter) {
  TMatchList List;
  List.Add("Doc");
  List.Add("src/lib");
  EXPECT_TRUE(PathInSubDirList("Doc/", List));
  EXPECT_TRUE(PathInSubDirList("Documents/", List)) << "an entry covers every name it begins";
  EXPECT_FALSE(PathInSubDirList("Do/", List));
  EXPECT_TRUE(PathInSubDirList("docs/deep/", List));
  EXPECT_TRUE(PathInSubDirList("src/lib/x/", List));
  EXPECT_FALSE(PathInSubDirList("src/", List));
  EXPECT_FALSE(PathInSubDirList("", List));
  EXPECT_FALSE(PathInSubDirList("Docs/", TMatchList()));

  TTextFilter Filter(false, true);
  Filter.SetFilter("cache|tmp*");
  Filter.SetMode(fmInclude);
  const struct {
    const char* P;
    char Delimiter;
    bool Matches;
  } Cases[] = {
      {"", '/', false},          {"cache/", '/', true},       {"a/b/tmpfiles/", '/', true},
      {"a//b/", '/', false},     {"cachex/", '/', false},     {"a\\cache\\", '\\', true},
      {"a\\cache\\", '/', false}, {"x/cache", '/', true},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.P);
    EXPECT_EQ(PathMatchesDirFilter(Case.P, Filter, Case.Delimiter, true), Case.Matches);
  }
  Filter.SetMode(fmOff);
  EXPECT_TRUE(PathMatchesDirFilter("a/", Filter, '/', false)) << "a filter that is off lets every name through";
  EXPECT_FALSE(PathMatchesDirFilter("", Filter, '/', true));
}

TEST(PathHelpers, FiltersInWindowsNotation) {
  TMonFilter Filter;
  Filter.IncludeExts = false;
  Filter.IncludeSubDirs = false;
  Filter.SubDirList.Add("Temp");
  Filter.SubDirFilter.SetFilter("cache");
  Filter.SubDirFilter.SetMode(fmInclude);
  EXPECT_TRUE(PassesMonFilter(Filter, "a.txt", WindowsPathStyle));
  EXPECT_TRUE(PassesMonFilter(Filter, "Other\\a.txt", WindowsPathStyle));
  EXPECT_FALSE(PassesMonFilter(Filter, "Temp\\a.txt", WindowsPathStyle));
  EXPECT_FALSE(PassesMonFilter(Filter, "x\\Cache\\a.txt", WindowsPathStyle));
  EXPECT_TRUE(PassesMonFilter(Filter, "x/Cache/a.txt", WindowsPathStyle)) << "\"/\" is a character there";
}

// A directory filter's expression that gives up on a name (here: a name that
// is not valid UTF-8) must keep the file, whichever sense the filter has.
TEST(PathHelpers, UndecidedDirectoryNamesKeepTheFile) {
  for (const bool IncludeSubDirs : {false, true}) {
    SCOPED_TRACE(IncludeSubDirs ? "only the filtered directories" : "all but the filtered directories");
    TMonFilter Filter;
    Filter.IncludeSubDirs = IncludeSubDirs;
    Filter.SubDirFilter.SetRegular(true);
    Filter.SubDirFilter.SetFilter("^cache$");
    Filter.SubDirFilter.SetMode(fmInclude);
    EXPECT_TRUE(PassesMonFilter(Filter, "bad\xFFname/a.txt"));
    // The helper leaves the undecided name to its caller; a decided hit
    // deeper in the path still counts.
    EXPECT_EQ(PathMatchesDirFilter("bad\xFFname/", Filter.SubDirFilter, '/', IncludeSubDirs), IncludeSubDirs);
    EXPECT_TRUE(PathMatchesDirFilter("bad\xFFname/cache/", Filter.SubDirFilter, '/', false));
    EXPECT_EQ(PassesMonFilter(Filter, "cache/a.txt"), IncludeSubDirs);
    EXPECT_EQ(PassesMonFilter(Filter, "other/a.txt"), !IncludeSubDirs);
  }
}

TEST_F(MonitoringTest, TheViewsListThePendingFiles) {
  EXPECT_EQ(FWatchdog->ChangedFileLines(), TFiles{"No files"});
  FWatchdog->sbViewFilesClick();
  EXPECT_EQ(FView.ChangedFiles.back(), TFiles{"No files"});

  const std::size_t Docs = AddEntry("docs", AllFiles, mtEnabled, {"b.txt"});
  AddEntry("off", AllFiles, mtDisabled, {"x.txt"});
  for (int I = 3; I <= 10; ++I) AddEntry("d" + std::to_string(I));
  const std::size_t Tenth = AddEntry("tenth");
  Start();
  Report(Docs, {{DirActionAdded, "a.txt"}});
  Report(Tenth, {{DirActionAdded, "t/z.txt"}});

  FWatchdog->sbViewFilesClick();
  EXPECT_EQ(FView.ChangedFiles.back(), (TFiles{"01: a.txt", "01: b.txt", "11: t/z.txt"})) << "enabled entries only";
  EXPECT_EQ(FWatchdog->ChangedFileLines(), (TFiles{"01: a.txt", "01: b.txt", "02: x.txt", "11: t/z.txt"}))
      << "every entry";
}

// ---------------------------------------------------------------------------
// The state follows the pending files without waiting for a tick

TEST_F(MonitoringTest, ReportedChangesArePublishedOnceTheQueueHasRunOncePerTurn) {
  const std::size_t Docs = AddEntry("docs");
  Start();
  Drain();
  const int Before = FView.StateChanges;
  // Three batches wait in the queue when the main thread looks.
  for (const char* Name : {"a.txt", "b.txt", "c.txt"}) ASSERT_TRUE(Backend(Docs)->Push({{DirActionAdded, Name}}));
  Drain();
  EXPECT_EQ(FView.StateChanges - Before, 1) << "one publish for the reports of one turn";
  EXPECT_EQ(FView.State.DirItems[Docs].Pending, 3u);
  EXPECT_EQ(FView.State.FileCountText, "3 files");
  EXPECT_TRUE(FView.State.ImmediateBackupEnabled);
  EXPECT_EQ(FWatchdog->State(), FView.State);

  Report(Docs, {{DirActionRemoved, "b.txt"}});
  Drain();
  EXPECT_EQ(FView.State.DirItems[Docs].Pending, 2u);
  EXPECT_EQ(FView.StateChanges - Before, 2);
}

TEST_F(MonitoringTest, WhatTheLookAtTheStartFindsIsPublishedWithoutATick) {
  TWatchdogSetup S = Setup();
  S.ScanTree = [](const std::string&, const TMonFilter&, TFileTime, TFiles& Files) {
    Files = {"found.txt"};
    return 0;
  };
  FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, S, FBackends.Factory());
  const std::size_t Docs = AddEntry("docs");
  Start();
  FWatchdog->StopMonitoring();  // the next start looks for what changed since
  const std::size_t Lines = FView.LogLines.size();
  Start();
  WaitForLines(Lines + 1);  // the look's result
  Drain();
  EXPECT_EQ(FView.State.DirItems[Docs].Pending, 1u) << ::testing::PrintToString(FView.LogLines);
  EXPECT_EQ(FView.State.FileCountText, "1 file");
}

TEST_F(MonitoringTest, APublishStillQueuedWhenTheControllerGoesDoesNothing) {
  const std::size_t Docs = AddEntry("docs");
  Start();
  ASSERT_TRUE(Backend(Docs)->Push({{DirActionAdded, "a.txt"}}));
  FQueue.ProcessPending();  // the report; the publish it asks for waits in the queue
  const int Before = FView.StateChanges;
  FWatchdog.reset();
  Drain();
  EXPECT_EQ(FView.StateChanges, Before);
}

// The entries as the snapshot carries them for the console's status.
TEST_F(MonitoringTest, TheListItemsCarryTheDirectoryAndTheEntrysStatus) {
  AddEntry("on");
  AddEntry("off", AllFiles, mtDisabled);
  const std::size_t Bad = AddEntry("bad");
  test::WriteFileBytes(Task(Bad).BuTask, "[Global]\nEncrypt=1\n");
  FWatchdog->ValidateMonTasks();
  ASSERT_EQ(FView.State.DirItems.size(), 3u);
  const std::pair<std::string, TMonTaskStatus> Expected[] = {
      {PathOf("on"), mtEnabled}, {PathOf("off"), mtDisabled}, {PathOf("bad"), mtInvalid}};
  for (std::size_t I = 0; I < 3; ++I) {
    EXPECT_EQ(FView.State.DirItems[I].Dir, Expected[I].first);
    EXPECT_EQ(FView.State.DirItems[I].Status, Expected[I].second) << Expected[I].first;
  }
}

// ---------------------------------------------------------------------------
// What the window shows of the list and its own rules

TEST_F(MonitoringTest, RemovingTheLastEntryClearsTheDetailsAndResetsTheInterval) {
  FWatchdog->IntervalUnitChosen(iuHours);
  FWatchdog->IntervalValueChanged(5);
  AddEntry("one");
  AddEntry("two");
  FWatchdog->SelectDirItem(1);
  FWatchdog->RetainBakChanged(3);
  FWatchdog->RemoveSelected();
  ASSERT_EQ(FWatchdog->MonTaskCount(), 1u);
  EXPECT_EQ(FView.State.Selected, 0) << "the selection moves to the last item";
  EXPECT_EQ(FView.State.Interval.Unit, iuHours) << "an entry is left: the interval stays";
  EXPECT_EQ(FView.State.Interval.Value, 5);

  FWatchdog->RemoveSelected();
  EXPECT_EQ(FWatchdog->MonTaskCount(), 0u);
  EXPECT_EQ(FView.State.Selected, -1);
  EXPECT_FALSE(FView.State.TaskInfo.has_value());
  const TIntervalDisplay& I = FView.State.Interval;
  EXPECT_EQ(std::tuple(I.Unit, I.Value, I.MinValue, I.MaxValue, I.Step), std::tuple(iuSeconds, 30, 5, 295, 5));
  EXPECT_EQ(FWatchdog->GetIntervalSeconds(), 30) << "the value means what the unit box shows";

  // The retain-versions position shown was cleared too: a new entry takes 0.
  ASSERT_TRUE(FWatchdog->AddDirectory(WriteTask("three", AllFiles), (fs::create_directories(FDir / "three"), PathOf("three"))));
  EXPECT_EQ(Task(0).RetainBak, 0);
}

TEST_F(MonitoringTest, TheQuitButtonFollowsKeepRunningInBackground) {
  for (const bool Checked : {true, false}) {
    FWatchdog->SysTrayClicked(Checked);
    EXPECT_EQ(FView.State.QuitToBackground, Checked);
    EXPECT_EQ(FView.State.QuitHint, Checked ? "Move program to background" : "Quit program and save settings");
  }
}

TEST_F(MonitoringTest, TheStatusTextNamesTheWatchedDirectoriesByOrdinal) {
  const struct { std::size_t Number; const char* Text; } Ordinals[] = {
      {1, "1st "}, {2, "2nd "}, {3, "3rd "}, {4, "4th "}, {11, "11th "}, {12, "12th "}, {21, "21th "}, {22, "22th "}};
  for (const auto& O : Ordinals) EXPECT_EQ(OrdinalText(O.Number), O.Text);

  AddEntry("first");
  AddEntry("off", AllFiles, mtDisabled);
  AddEntry("third");
  EXPECT_EQ(FView.State.ActiveDirsText, "Directories to be monitored\r\nThe monitoring is not active!");
  Start();
  EXPECT_EQ(FView.State.ActiveDirsText, "Directories to be monitored\r\n1st Directory: " + PathOf("first") +
                                            "\r\n3rd Directory: " + PathOf("third"));
  FWatchdog->StopMonitoring();
  EXPECT_EQ(FView.State.ActiveDirsText, "Directories to be monitored\r\nThe monitoring is not active!");
}

TEST_F(MonitoringTest, AnEditedTaskIsCheckedAgain) {
  const struct {
    const char* Name;
    TMonTaskStatus Before;
    std::string Task;  // the task file as the editor left it; empty: deleted
    TMonTaskStatus After;
    std::string Message;  // the beginning of the message shown; empty: none
  } Cases[] = {
      {"a disabled entry with a usable task is enabled", mtDisabled, "usable", mtEnabled, ""},
      {"an invalid entry with a repaired task is enabled", mtInvalid, "usable", mtEnabled, ""},
      {"a task with a placeholder in its destination", mtEnabled,
       "[Global]\nDestination=%TEMP%/x\nDirCount=1\n[Dir000]\nSource=SRC\n", mtInvalid, "The backup task"},
      {"a task that no longer names the directory", mtEnabled,
       "[Global]\nDestination=DEST\nDirCount=1\n[Dir000]\nSource=SRC-other\n", mtInvalid, "Directory \""},
      {"a deleted task", mtEnabled, "", mtInvalid, "Task file not found: "},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    Restart();
    fs::create_directories(FDir / "src-other");
    const std::size_t I = AddEntry("src", AllFiles, C.Before);
    const std::string TaskFile = Task(I).BuTask;
    if (C.Task.empty()) {
      fs::remove(TaskFile);
    } else if (C.Task != "usable") {
      std::string Text = C.Task;
      Text.replace(Text.find("SRC"), 3, PathOf("src"));
      if (const auto Dest = Text.find("DEST"); Dest != std::string::npos) Text.replace(Dest, 4, PathOf("dest"));
      test::WriteFileBytes(TaskFile, Text);
    }
    FWatchdog->TaskEdited(I);
    EXPECT_EQ(Task(I).MonStatus, C.After);
    EXPECT_EQ(FView.State.DirItems.at(I).Checked, C.After == mtEnabled);
    if (C.Message.empty()) {
      EXPECT_TRUE(FView.Messages.empty());
    } else {
      ASSERT_EQ(FView.Messages.size(), 1u);
      EXPECT_EQ(FView.Messages[0].rfind(C.Message, 0), 0u) << FView.Messages[0];
    }
  }
}

}  // namespace
}  // namespace dz
