// The scheduler, the backup runner and the log through the controller:
// ticks are stepped by the test, watchers are fakes whose reports the test
// pushes, and the backups are real copies into a folder of the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/MountTables.h"
#include "settings/ProgramLocations.h"
#include "settings/UnicodeIniFile.h"
#include "support/FakeDirWatchBackend.h"
#include "support/Gate.h"
#include "support/AsUser.h"
#include "support/TestFiles.h"
#include "watchdog/FakeWatchdogView.h"
#include "watchdog/Scheduler.h"
#include "watchdog/Watchdog.h"
#include "watchdog/WatchdogSettings.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;
using test::TFakeWatchdogView;
using TFiles = std::vector<std::string>;

// --- the countdown on its own -----------------------------------------------------

TEST(CountdownText, ShowsTheLargestUnitsThatMatter) {
  const struct {
    std::int32_t Seconds;
    const char* Text;
  } Cases[] = {
      {3725, "1 h 2 m"}, {3600, "1 h 0 m"}, {1799, "29 m"}, {600, "10 m"}, {599, "9 m 59 s"},
      {125, "2 m 5 s"},  {60, "1 m 0 s"},   {59, "59 s"},   {7, "7 s"},    {0, "0 s"},
      {-1, "on demand"},
  };
  for (const auto& Case : Cases) EXPECT_EQ(CountdownTextFor(Case.Seconds), Case.Text) << Case.Seconds;
}

TEST(BackupScheduler, PeriodicBackupsComeEveryIntervalTicks) {
  TBackupScheduler S;
  S.Start(30);
  EXPECT_EQ(S.TimeCount(), 30);
  for (int Round = 0; Round < 2; ++Round) {
    for (int I = 1; I < 30; ++I) ASSERT_EQ(S.Tick(), TTickAction::taNone) << "round " << Round << " tick " << I;
    EXPECT_EQ(S.TimeCount(), 1);
    EXPECT_EQ(S.Tick(), TTickAction::taPeriodicBackup);
    EXPECT_EQ(S.TimeCount(), 30) << "the countdown restarts";
  }
}

TEST(BackupScheduler, InstantRequestsAreTakenByTheNextTick) {
  TBackupScheduler S;
  S.Start(-1);
  EXPECT_EQ(S.CountdownText(), "on demand");
  for (int I = 0; I < 100; ++I) ASSERT_EQ(S.Tick(), TTickAction::taNone) << "never a periodic backup on demand";
  S.RequestInstant();
  EXPECT_EQ(S.Tick(), TTickAction::taInstantBackup);
  EXPECT_EQ(S.Tick(), TTickAction::taNone) << "the request is taken once";

  // A request that meets the end of the countdown is served by that backup.
  S.Start(2);
  S.Tick();
  S.RequestInstant();
  EXPECT_EQ(S.Tick(), TTickAction::taPeriodicBackup);
  EXPECT_FALSE(S.InstantRequested());
}

// --- the controller ------------------------------------------------------------

class BackupSchedulingTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    fs::create_directories(FDir / "config");
    FNow = system_clock::now();
    Restart();
  }
  void TearDown() override {
    FWatchdog.reset();
    TTempDirTest::TearDown();
  }

  // A new program run on the same files.
  void Restart() {
    FWatchdog.reset();
    FView = TFakeWatchdogView();
    FBackends = test::TFakeDirWatchBackends();
    FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, WatchdogSetup(), FBackends.Factory());
  }

  TWatchdogSetup WatchdogSetup() {
    TWatchdogSetup S;
    S.IniName = PathOf("config/DeZedodiru.ini");
    S.UserPath = FDir.string() + "/";
    S.Clock = [this] { return FNow; };
    auto Tables = std::make_shared<TVolumeTables>();
    Tables->Fstab = PathOf("fstab");
    S.Volumes = std::move(Tables);
    return S;
  }

  // A watched directory Name with a task whose destination is Dest (with
  // Global the task's further settings), appended to the list.
  std::size_t AddEntry(const std::string& Name, const std::string& Dest = "dest", const std::string& Global = "") {
    fs::create_directories(FDir / Name);
    const std::string Task = PathOf(Name + ".buj");
    test::WriteFileBytes(Task, "[Global]\nDestination=" + PathOf(Dest) + "\nDestMode=1\nDirCount=1\n" + Global +
                                   "[Dir000]\nSource=" + PathOf(Name) + "\nBackupMode=1\n");
    EXPECT_EQ(FWatchdog->AddMonTask(std::make_unique<TMonTask>(Task, PathOf(Name))), atAdded);
    return FWatchdog->MonTaskCount() - 1;
  }

  TMonTask& Task(std::size_t I) { return FWatchdog->MonTask(I); }
  const TBackupThread* Worker(std::size_t I) const { return FWatchdog->Runner().Worker(FWatchdog->MonTask(I)); }

  // Monitoring starts, and the test goes on once every watcher is in place.
  void StartMonitoring() {
    ASSERT_TRUE(FWatchdog->StartMonitoring());
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !FWatchdog->WatchersStarting(); }, std::chrono::minutes(2)));
  }

  // The file Rel of entry I gets Content, and its watcher says so.
  void Change(std::size_t I, const std::string& Rel, const std::string& Content) {
    test::WriteFileBytes(fs::path(Task(I).Dir) / Rel, Content);
    test::TFakeDirWatch* Fake = FBackends.Active(Task(I).Dir);
    ASSERT_NE(Fake, nullptr);
    ASSERT_TRUE(Fake->Push({{DirActionModified, Rel}}));
    FQueue.ProcessPending();
  }

  // Where the current copy of entry I's file Rel lands.
  fs::path CopyOf(std::size_t I, const std::string& Rel, const std::string& Dest = "dest") const {
    return FDir / Dest / fs::path(FWatchdog->MonTask(I).Dir).relative_path() / Rel;
  }

  // A backup start a tick makes goes on when the looks at its
  // destinations have answered: the test goes on after that. (A tick that
  // starts nothing leaves the queue alone.)
  void Tick(int Count = 1) {
    for (int I = 0; I < Count; ++I) {
      FNow = FNow + std::chrono::seconds(1);
      FWatchdog->Tick();
      if (FWatchdog->BackupStartWaiting()) {
        ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !FWatchdog->BackupStartWaiting(); },
                                               std::chrono::minutes(2)));
      }
    }
  }

  // Waits until no worker is busy any more (their lines taken), without
  // releasing them: that is the next tick's job.
  void WaitForWorkers() {
    auto Done = [this] {
      for (std::size_t I = 0; I < FWatchdog->MonTaskCount(); ++I)
        if (Worker(I) != nullptr && !Worker(I)->Finished()) return false;
      return true;
    };
    ASSERT_TRUE(FQueue.WaitWhileProcessing(Done, std::chrono::minutes(5)));
    FQueue.ProcessPending();
  }

  // An instant backup, taken by the next tick, and the tick after its
  // workers are done, which releases them.
  void BackUpNow() {
    FWatchdog->RequestInstantBackup();
    Tick();
    WaitForWorkers();
    Tick();
  }

  // A new controller whose looks at destinations wait at Look and are given
  // up on after Timeout; entry "docs" with a.txt pending, an instant backup,
  // and the tick that starts it has returned with the look held.
  std::size_t StartWithHeldLook(const std::shared_ptr<test::TGate>& Look, std::chrono::milliseconds Timeout) {
    TWatchdogSetup S = WatchdogSetup();
    S.ProbeDestination = [Look](const std::string& DestDir, const TVolumes& Volumes) {
      Look->Pass();
      return ProbeDestination(DestDir, Volumes);
    };
    S.DestinationProbeTimeout = Timeout;
    FWatchdog.reset();
    FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, S, FBackends.Factory());
    const std::size_t Docs = AddEntry("docs");
    StartMonitoring();
    Change(Docs, "a.txt", "one");
    FWatchdog->RequestInstantBackup();
    FWatchdog->Tick();
    EXPECT_TRUE(Look->WaitForArrivals(1));
    return Docs;
  }

  // A tmpfs of SizeKiB on the test's folder Name while it lives (Mount()
  // is false where mounting is refused: not root).
  class TTmpfs {
  public:
    TTmpfs(std::string Dir, int SizeKiB) : FDir(std::move(Dir)), FSize(std::to_string(SizeKiB) + "k") {
      fs::create_directories(FDir);
    }
    ~TTmpfs() {
      if (FMounted) Unmount();
    }
    bool Mount() {
      FMounted = std::system(("mount -t tmpfs -o size=" + FSize + " tmpfs '" + FDir + "' 2>/dev/null").c_str()) == 0;
      return FMounted;
    }
    bool Unmount() {
      FMounted = std::system(("umount -l '" + FDir + "'").c_str()) != 0;
      return !FMounted;
    }

  private:
    std::string FDir;
    std::string FSize;
    bool FMounted = false;
  };

  // The pending files of entry I as the settings file holds them now.
  TFiles StoredPending(std::size_t I) const {
    const TWatchdogSettings S = LoadWatchdogSettings(PathOf("config/DeZedodiru.ini"));
    return I < S.MonTasks.size() ? S.MonTasks[I].Files : TFiles{"(no entry)"};
  }

  std::int32_t SumOfEnabledLists() {
    std::size_t Sum = 0;
    for (std::size_t I = 0; I < FWatchdog->MonTaskCount(); ++I)
      if (Task(I).MonStatus == mtEnabled) Sum += Task(I).PendingCount();
    return static_cast<std::int32_t>(Sum);
  }

  std::size_t LinesWith(std::string_view Text) const {
    return static_cast<std::size_t>(std::count_if(FView.LogLines.begin(), FView.LogLines.end(), [&](const auto& L) {
      return L.find(Text) != std::string::npos;
    }));
  }

  // The controller's clock. Only the main thread reads it: the workers'
  // lines are stamped there, so a race with the test's steps shows in tsan.
  system_clock::time_point FNow;
  TFakeWatchdogView FView;
  TPlainMainThreadQueue FQueue;
  test::TFakeDirWatchBackends FBackends;
  std::unique_ptr<TWatchdog> FWatchdog;
};

TEST_F(BackupSchedulingTest, AChangeIsBackedUpWhenTheCountdownEnds) {
  const std::size_t Docs = AddEntry("docs");
  FWatchdog->IntervalUnitChosen(iuSeconds);
  FWatchdog->IntervalValueChanged(30);
  StartMonitoring();
  EXPECT_EQ(FView.State.ClockProgress, (TClockProgress{30, 0, true, true, false}));

  Tick();
  EXPECT_EQ(FView.State.TrayStatus, tbsWait) << "the first tick sets the icon";
  Tick(9);
  Change(Docs, "a.txt", "one");
  Tick();
  EXPECT_EQ(FView.State.TrayStatus, tbsRun);
  EXPECT_EQ(FView.State.FileCountText, "1 file");
  EXPECT_EQ(FView.State.CountdownText, "19 s");
  EXPECT_EQ(FView.State.ClockProgress, (TClockProgress{30, 11, true, true, true}));
  EXPECT_TRUE(FView.State.ImmediateBackupEnabled);
  Tick(18);
  EXPECT_EQ(FWatchdog->TimeCount(), 1);
  EXPECT_FALSE(fs::exists(CopyOf(Docs, "a.txt"))) << "not before the countdown ends";

  Tick();  // the 30th
  EXPECT_EQ(FWatchdog->TimeCount(), 30) << "the countdown restarts";
  EXPECT_EQ(FView.State.DirItems[Docs].RunStatus, rsBackup);
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "one");
  ASSERT_EQ(LinesWith(" - 01: " + PathOf("docs/a.txt") + " => " + PathOf("dest") + "/"), 1u)
      << ::testing::PrintToString(FView.LogLines);

  Tick();
  EXPECT_EQ(FView.State.DirItems[Docs].RunStatus, rsWatch) << "the finished worker is released";
  EXPECT_FALSE(FWatchdog->BackupRunning());
  EXPECT_EQ(FView.State.TrayStatus, tbsWait);
}

TEST_F(BackupSchedulingTest, TheStateFollowsMonitoringAndPendingFiles) {
  const std::size_t Docs = AddEntry("docs");
  FWatchdog->SelectDirItem(Docs);
  const TWatchdogState Off = FView.State;
  EXPECT_FALSE(Off.Monitoring);
  EXPECT_TRUE(Off.StartEnabled);
  EXPECT_FALSE(Off.StopEnabled);
  EXPECT_TRUE(Off.RemoveEnabled);
  EXPECT_TRUE(Off.PeriodicEnabled);
  EXPECT_TRUE(Off.NotScheduledVisible);
  EXPECT_FALSE(Off.ImmediateBackupEnabled);
  EXPECT_FALSE(Off.BackupTimerEnabled);
  EXPECT_EQ(Off.TrayTip, ProgVersName());
  ASSERT_TRUE(Off.TaskInfo.has_value());
  EXPECT_TRUE(Off.TaskInfo->EditEnabled);

  StartMonitoring();
  Tick();
  const TWatchdogState Waiting = FView.State;
  EXPECT_FALSE(Waiting.StartEnabled) << "nothing to back up at once";
  EXPECT_TRUE(Waiting.StopEnabled);
  EXPECT_FALSE(Waiting.RemoveEnabled);
  EXPECT_FALSE(Waiting.PeriodicEnabled);
  EXPECT_FALSE(Waiting.ShowFilesVisible);
  EXPECT_FALSE(Waiting.TaskInfo->EditEnabled);
  EXPECT_EQ(Waiting.TrayTip, ProgVersName() + "\r\nNext backup: 29 m\r\nNo files recognized as changed");
  EXPECT_EQ(Waiting.StatusLine, "Next backup: 29 m");

  Change(Docs, "a.txt", "x");
  Tick();
  EXPECT_TRUE(FView.State.StartEnabled);
  EXPECT_TRUE(FView.State.ShowFilesVisible);
  EXPECT_EQ(FView.State.StatusFileLine, "1 file");
  EXPECT_EQ(FView.State.DirItems[Docs].Pending, 1u);

  FWatchdog->RequestInstantBackup();
  EXPECT_FALSE(FView.State.StartEnabled) << "until the next tick has taken the request";
  EXPECT_TRUE(FView.State.ImmediateBackupEnabled);
  Tick();
  EXPECT_EQ(FView.State.DirItems[Docs].RunStatus, rsBackup);
  EXPECT_EQ(FView.State.FileCountText, "No files");
}

TEST_F(BackupSchedulingTest, AnInstantBackupWithNothingPendingStillSaves) {
  AddEntry("docs");
  StartMonitoring();
  ASSERT_FALSE(fs::exists(PathOf("config/DeZedodiru.ini")));
  FWatchdog->RequestInstantBackup();
  EXPECT_FALSE(fs::exists(PathOf("config/DeZedodiru.ini"))) << "taken by the next tick";
  Tick();
  EXPECT_TRUE(fs::exists(PathOf("config/DeZedodiru.ini")));
  EXPECT_FALSE(FWatchdog->BackupRunning());
  EXPECT_TRUE(FView.Warnings.empty());
}

// A destination below a mount point that fstab declares and nothing mounts:
// writing there would fill the disk underneath.
TEST_F(BackupSchedulingTest, AMissingDestinationKeepsTheFilesAndWarnsAfterTheFourthTime) {
  fs::create_directories(FDir / "mnt");
  test::WriteFileBytes(FDir / "fstab", "/dev/sdx1 " + fs::canonical(FDir).string() + "/mnt ext4 noauto 0 0\n");
  const std::size_t Docs = AddEntry("docs", "mnt/dest");
  FWatchdog->IntervalUnitChosen(iuSeconds);
  FWatchdog->IntervalValueChanged(5);
  StartMonitoring();
  Change(Docs, "a.txt", "one");

  const std::string NotReady = " - 01: Drive \"" + PathOf("mnt/dest") + "\" not ready!";
  for (int Round = 1; Round <= 4; ++Round) {
    SCOPED_TRACE(Round);
    Tick(5);
    EXPECT_EQ(LinesWith(NotReady), static_cast<std::size_t>(Round));
    EXPECT_TRUE(FView.LogLines.back().starts_with(" *** ")) << FView.LogLines.back();
    EXPECT_EQ(Task(Docs).ErrCount, Round);
    EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{"a.txt"}) << "the files stay pending";
    EXPECT_EQ(FView.Warnings.size(), Round < 4 ? 0u : 1u);
  }
  EXPECT_FALSE(fs::exists(FDir / "mnt" / "dest")) << "nothing written below the missing file system";
  ASSERT_EQ(FView.Warnings.size(), 1u);
  EXPECT_EQ(FView.Warnings[0], "Backup destination \"" + PathOf("mnt/dest") + "/\" not available!\r\n" +
                                   "Monitored directory \"01: " + PathOf("docs") + "\"\r\n" +
                                   "This was the case with the last 4 backups.\r\n" +
                                   "Please check that the backup medium is connected correctly!");

  // An instant backup warns at once, without the count.
  FWatchdog->RequestInstantBackup();
  Tick();
  ASSERT_EQ(FView.Warnings.size(), 2u);
  EXPECT_EQ(FView.Warnings[1].find("This was the case"), std::string::npos);

  // The medium is back (the declaration is gone): the files go, the count
  // starts again.
  fs::remove(FDir / "fstab");
  FWatchdog->RequestInstantBackup();
  Tick();
  EXPECT_EQ(Task(Docs).ErrCount, 0);
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt", "mnt/dest")), "one");
}

// A folder that stops being a mount point, declared nowhere: the next
// backup would fill the disk underneath.
TEST_F(BackupSchedulingTest, ADestinationWhoseFileSystemWentAwayIsNotReady) {
  TTmpfs Medium(PathOf("mnt"), 1024);
  if (!Medium.Mount()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root); the vanished destination is not tested";
  const std::size_t Docs = AddEntry("docs", "mnt/dest");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  BackUpNow();
  ASSERT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt", "mnt/dest")), "one");

  ASSERT_TRUE(Medium.Unmount());
  Change(Docs, "a.txt", "two");
  FWatchdog->RequestInstantBackup();
  Tick();
  EXPECT_EQ(LinesWith(" - 01: Drive \"" + PathOf("mnt/dest") + "\" not ready!"), 1u)
      << ::testing::PrintToString(FView.LogLines);
  EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{"a.txt"});
  EXPECT_FALSE(fs::exists(FDir / "mnt" / "dest")) << "nothing written into the bare folder";

  // Mounted again: the file goes.
  ASSERT_TRUE(Medium.Mount());
  FWatchdog->RequestInstantBackup();
  Tick();
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt", "mnt/dest")), "two");
}

// The look at a destination that hangs (a dead network mount) holds up
// neither the tick nor the main thread: the start counts it as not ready,
// and a later start does not look again while it is still out.
TEST_F(BackupSchedulingTest, AHangingLookAtTheDestinationCountsAsNotReady) {
  test::TGate Look;
  TWatchdogSetup S = WatchdogSetup();
  S.ProbeDestination = [&Look](const std::string& DestDir, const TVolumes& Volumes) {
    Look.Pass();
    return ProbeDestination(DestDir, Volumes);
  };
  // Only the first start waits for the held look, this long.
  S.DestinationProbeTimeout = std::chrono::milliseconds(500);
  FWatchdog.reset();
  FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, S, FBackends.Factory());
  // Two entries on one destination: one look serves both.
  const std::size_t Docs = AddEntry("docs");
  const std::size_t Work = AddEntry("work");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  Change(Work, "b.txt", "two");

  for (int Round = 1; Round <= 2; ++Round) {
    SCOPED_TRACE(Round);
    FWatchdog->RequestInstantBackup();
    Tick();  // returns with the look held
    ASSERT_TRUE(Look.WaitForArrivals(1));
    EXPECT_EQ(Look.Arrivals(), 1) << "no second look while the first is out";
    EXPECT_NE(Look.LastThread(), std::this_thread::get_id());
    EXPECT_EQ(FWatchdog->DestinationProbesRunning(), 1u);
    for (const std::size_t I : {Docs, Work}) {
      EXPECT_EQ(LinesWith(" - 0" + std::to_string(I + 1) + ": Drive \"" + PathOf("dest") + "\" not ready!"),
                static_cast<std::size_t>(Round));
      EXPECT_EQ(Task(I).ErrCount, Round);
      EXPECT_EQ(Worker(I), nullptr);
    }
    EXPECT_EQ(FWatchdog->FileCount(), 2) << "the files stay pending";
    EXPECT_EQ(FWatchdog->FileCount(), SumOfEnabledLists());
    EXPECT_EQ(FView.Warnings.size(), static_cast<std::size_t>(Round)) << "an instant backup warns at once";
  }
  EXPECT_FALSE(fs::exists(FDir / "dest"));

  // The look answers late: its verdict serves no start, and the next start
  // looks again. (On a busy machine a look may miss the bound once more; a
  // start after it has answered looks anew.)
  Look.Open();
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  do {
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return FWatchdog->DestinationProbesRunning() == 0; },
                                           std::chrono::minutes(2)));
    FWatchdog->RequestInstantBackup();
    Tick();
  } while (Worker(Docs) == nullptr && std::chrono::steady_clock::now() < Deadline);
  ASSERT_NE(Worker(Docs), nullptr);
  EXPECT_NE(Worker(Work), nullptr) << "the same verdict serves both entries";
  EXPECT_GE(Look.Arrivals(), 2);
  WaitForWorkers();
  Tick();
  EXPECT_EQ(Task(Docs).ErrCount, 0);
  EXPECT_EQ(Task(Work).ErrCount, 0);
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "one");
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Work, "b.txt")), "two");
  EXPECT_EQ(FWatchdog->FileCount(), 0);
}

// The controller may go while a look at a destination hangs: its end does
// not wait for the look, and the late answer reaches nothing.
TEST_F(BackupSchedulingTest, TheControllerGoesWhileALookHangs) {
  auto Look = std::make_shared<test::TGate>();
  TWatchdogSetup S = WatchdogSetup();
  S.ProbeDestination = [Look](const std::string& DestDir, const TVolumes&) {
    Look->Pass();
    return TDestinationVerdict{true, DestDir, "", ""};
  };
  S.DestinationProbeTimeout = std::chrono::milliseconds(0);
  FWatchdog.reset();
  FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, std::move(S), FBackends.Factory());
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  FWatchdog->RequestInstantBackup();
  Tick();
  ASSERT_TRUE(Look->WaitForArrivals(1));
  EXPECT_EQ(Task(Docs).ErrCount, 1);
  FWatchdog->SaveSettings();

  FWatchdog.reset();  // returns with the look held
  EXPECT_EQ(StoredPending(Docs), TFiles{"a.txt"}) << "the file stays pending in the settings file";
  Look->Open();
  // The look's thread lets go of the gate when it ends.
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (Look.use_count() > 1 && std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(Look.use_count(), 1);
  EXPECT_EQ(FQueue.ProcessPending(), 0u) << "nothing posted for the controller that is gone";
}

// The tick never waits for the look at a destination: it returns while the
// look is held, the ticks meanwhile hold the countdown, and the start goes
// on (the worker, the save) when the look answers.
TEST_F(BackupSchedulingTest, TheTickReturnsWhileALookIsHeldAndTheStartGoesOnWhenItAnswers) {
  auto Look = std::make_shared<test::TGate>();
  // A tick that waited would hang the test.
  const std::size_t Docs = StartWithHeldLook(Look, std::chrono::minutes(10));
  EXPECT_TRUE(FWatchdog->BackupStartWaiting());
  EXPECT_EQ(Worker(Docs), nullptr);
  EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{"a.txt"});
  EXPECT_EQ(LinesWith("not ready"), 0u);
  EXPECT_FALSE(fs::exists(PathOf("config/DeZedodiru.ini"))) << "saved when the start goes on";

  const std::int32_t Count = FWatchdog->TimeCount();
  FWatchdog->Tick();
  EXPECT_EQ(FWatchdog->TimeCount(), Count) << "one start at a time";
  EXPECT_EQ(Look->Arrivals(), 1);

  Look->Open();
  ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !FWatchdog->BackupStartWaiting(); },
                                         std::chrono::minutes(2)));
  EXPECT_NE(Worker(Docs), nullptr);
  EXPECT_EQ(StoredPending(Docs), TFiles{"a.txt"}) << "in flight, and saved";
  WaitForWorkers();
  Tick();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "one");
  EXPECT_EQ(Task(Docs).ErrCount, 0);
}

// A stop (and so a quit) while a start waits for the look at its
// destination: the start goes on first, when the look's time is up (not
// ready), then the last backup finds the look still out (not ready again);
// the file stays pending in the settings file, and nothing starts after
// the stop when the look answers at last.
TEST_F(BackupSchedulingTest, AStopWhileAStartWaitsForItsLookLetsItGoOnFirst) {
  auto Look = std::make_shared<test::TGate>();
  const std::size_t Docs = StartWithHeldLook(Look, std::chrono::milliseconds(300));
  FWatchdog->StopMonitoring();
  EXPECT_FALSE(FWatchdog->BackupStartWaiting());
  EXPECT_FALSE(FView.State.Monitoring);
  const std::string NotReady = " - 01: Drive \"" + PathOf("dest") + "\" not ready!";
  EXPECT_EQ(LinesWith(NotReady), 2u) << ::testing::PrintToString(FView.LogLines);
  EXPECT_EQ(Task(Docs).ErrCount, 2);
  EXPECT_EQ(StoredPending(Docs), TFiles{"a.txt"});

  Look->Open();
  ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return FWatchdog->DestinationProbesRunning() == 0; },
                                         std::chrono::minutes(2)));
  EXPECT_EQ(Worker(Docs), nullptr);
  EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{"a.txt"});
  EXPECT_FALSE(fs::exists(FDir / "dest"));
}

TEST_F(BackupSchedulingTest, TheWarningNamesTheFirstOfTheWorstEntries) {
  fs::create_directories(FDir / "mnt");
  test::WriteFileBytes(FDir / "fstab", "/dev/sdx1 " + fs::canonical(FDir).string() + "/mnt ext4 noauto 0 0\n");
  AddEntry("docs", "mnt/a");
  AddEntry("work", "mnt/b");
  StartMonitoring();
  Change(0, "a.txt", "1");
  Change(1, "b.txt", "2");
  for (int I = 0; I < 5; ++I) {
    FWatchdog->RequestInstantBackup();
    Tick();
  }
  EXPECT_EQ(Task(0).ErrCount, 5);
  EXPECT_EQ(Task(1).ErrCount, 5);
  ASSERT_FALSE(FView.Warnings.empty());
  EXPECT_NE(FView.Warnings.back().find("\"01: " + PathOf("docs") + "\""), std::string::npos) << FView.Warnings.back();
}

TEST_F(BackupSchedulingTest, AFailedFileIsPendingAgainAndRetriedAtTheNextStart) {
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  Change(Docs, "b.txt", "two");
  // Something that is no file stands where the copy of a.txt belongs.
  fs::create_directories(CopyOf(Docs, "a.txt"));

  FWatchdog->RequestInstantBackup();
  Tick();
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  WaitForWorkers();
  EXPECT_EQ(LinesWith("  *** "), 1u) << "the failure is reported";
  ASSERT_NE(Task(Docs).Failed.Find("a.txt"), nullptr) << "and the file waits for the next start";
  EXPECT_EQ(Task(Docs).Failed.Find("a.txt")->Wait, 1);
  EXPECT_EQ(FWatchdog->FileCount(), 1);
  EXPECT_EQ(FWatchdog->FileCount(), SumOfEnabledLists());
  Tick();
  EXPECT_EQ(FView.State.FileCountText, "1 file");

  fs::remove(CopyOf(Docs, "a.txt"));
  BackUpNow();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "one");
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  EXPECT_EQ(Task(Docs).Failed.Find("a.txt"), nullptr) << "backed up: its record goes";
  FWatchdog->SaveSettings();
  EXPECT_EQ(StoredPending(Docs), TFiles{});
}

// A file that can never be copied is tried at the next start, after 2 and
// after 4 more, then given up: the log says so once and stops growing, the
// icon shows nothing pending, and the file stays listed and in the settings
// file, given up across a restart, until it changes again.
TEST_F(BackupSchedulingTest, AFileThatKeepsFailingIsGivenUpAfterBoundedRetries) {
  const std::size_t Docs = AddEntry("docs");
  FWatchdog->IntervalUnitChosen(iuSeconds);
  FWatchdog->IntervalValueChanged(5);
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  // A source that cannot be opened for reading. Root passes every
  // permission check, so as root a write-only attribute of the kernel's
  // sysfs (only ever opened for reading here) is bound over the file.
  const fs::path Source = fs::path(Task(Docs).Dir) / "a.txt";
  bool Bound = false;
  const auto Unbind = [&] {
    if (Bound) {
      EXPECT_EQ(std::system(("umount '" + Source.string() + "'").c_str()), 0);
    }
    Bound = false;
  };
  const std::unique_ptr<void, std::function<void(void*)>> Guard(&Bound, [&](void*) { Unbind(); });
  if (test::RunningAsRoot()) {
    for (const char* Candidate : {"/sys/bus/pci/rescan", "/sys/devices/system/clockevents/clockevent0/unbind_device",
                                  "/sys/class/zram-control/hot_remove"})
      if (!Bound && fs::is_regular_file(Candidate) && !std::ifstream(Candidate).is_open())
        Bound = std::system(("mount --bind '" + std::string(Candidate) + "' '" + Source.string() + "' 2>/dev/null")
                                .c_str()) == 0;
    if (!Bound) GTEST_SKIP() << "no write-only sysfs attribute can stand for an unreadable file here";
  } else {
    test::SetMode(Source, 0);
  }

  std::vector<int> Tries;  // the starts at which the copy was tried
  for (int Start = 1; Start <= 20; ++Start) {
    const std::size_t Before = LinesWith("  *** ");
    Tick(5);
    WaitForWorkers();
    if (LinesWith("  *** ") > Before) Tries.push_back(Start);
  }
  Tick();
  EXPECT_EQ(Tries, (std::vector<int>{1, 2, 4, 8})) << "the spacing doubles, then no more tries";
  EXPECT_EQ(LinesWith("is given up after 4 failed copies"), 1u) << ::testing::PrintToString(FView.LogLines);
  EXPECT_EQ(FWatchdog->FileCount(), 0) << "a file given up is not pending";
  EXPECT_EQ(FView.State.TrayStatus, tbsWait);
  EXPECT_EQ(FView.State.DirItems[Docs].GivenUp, 1u);
  const std::vector<std::string> Listed = FWatchdog->ChangedFileLines();
  ASSERT_EQ(Listed.size(), 1u);
  EXPECT_TRUE(Listed[0].starts_with("01: a.txt")) << Listed[0];
  EXPECT_NE(Listed[0].find("given up"), std::string::npos) << Listed[0];

  // Nothing is lost by a restart, and nothing starts spinning again.
  FWatchdog->StopMonitoring();
  EXPECT_EQ(StoredPending(Docs), TFiles{"a.txt"});
  Restart();
  FWatchdog->LoadSettings();
  FWatchdog->IntervalUnitChosen(iuSeconds);
  FWatchdog->IntervalValueChanged(5);
  StartMonitoring();
  ASSERT_NE(Task(Docs).Failed.Find("a.txt"), nullptr);
  EXPECT_TRUE(Task(Docs).Failed.Find("a.txt")->GivenUp());
  Tick(20);
  WaitForWorkers();
  EXPECT_EQ(LinesWith("  *** "), 0u) << "given up before the restart, given up after it";

  // It changes again (and can be read now): a new change, backed up.
  Unbind();
  fs::remove(Source);
  Change(Docs, "a.txt", "two");
  EXPECT_EQ(Task(Docs).Failed.Find("a.txt"), nullptr);
  Tick(5);
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "two");
}

// What the destination refuses (here a folder in the way of the copy; a
// full disk alike) is no fault of the file: it is tried at every start and
// never given up, so that it is backed up as soon as the destination takes
// it, without having to change again.
TEST_F(BackupSchedulingTest, AFileTheDestinationRefusesIsTriedUntilItTakesIt) {
  const std::size_t Docs = AddEntry("docs");
  FWatchdog->IntervalUnitChosen(iuSeconds);
  FWatchdog->IntervalValueChanged(5);
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  fs::create_directories(CopyOf(Docs, "a.txt") / "in the way");

  std::vector<int> Tries;
  for (int Start = 1; Start <= 10; ++Start) {
    const std::size_t Before = LinesWith("  *** ");
    Tick(5);
    WaitForWorkers();
    if (LinesWith("  *** ") > Before) Tries.push_back(Start);
  }
  Tick();
  EXPECT_EQ(Tries, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(LinesWith("is given up"), 0u) << ::testing::PrintToString(FView.LogLines);
  EXPECT_EQ(FView.State.DirItems[Docs].GivenUp, 0u);

  fs::remove_all(CopyOf(Docs, "a.txt"));
  Tick(5);
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "one");
  Tick();
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  EXPECT_EQ(Task(Docs).Failed.Find("a.txt"), nullptr);
}

TEST_F(BackupSchedulingTest, FilesHandedToAWorkerStayInTheSettingsFileUntilReported) {
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  Change(Docs, "b.txt", "two");
  FWatchdog->RequestInstantBackup();
  Tick();
  // The worker waits for the main thread to take its first line: nothing is
  // reported yet, and the save of the start has happened.
  EXPECT_TRUE(Task(Docs).FileList.Empty());
  EXPECT_EQ(StoredPending(Docs), (TFiles{"a.txt", "b.txt"}));
  // A file changed again while the worker runs is pending once more.
  Change(Docs, "a.txt", "one again");

  WaitForWorkers();
  Tick();
  FWatchdog->SaveSettings();
  EXPECT_EQ(StoredPending(Docs), TFiles{"a.txt"});
}

TEST_F(BackupSchedulingTest, ANewStartWaitsForTheEntrysRunningWorker) {
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  FWatchdog->RequestInstantBackup();
  Tick();
  const TBackupThread* First = Worker(Docs);
  ASSERT_NE(First, nullptr);
  // Added without processing the queue, so the first worker cannot finish.
  Task(Docs).FileList.Add("b.txt");
  test::WriteFileBytes(fs::path(Task(Docs).Dir) / "b.txt", "two");

  FWatchdog->RunBackups(false);
  EXPECT_EQ(Worker(Docs), First) << "one worker per entry";
  EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{"b.txt"});
  EXPECT_EQ(Task(Docs).ErrCount, 0);

  WaitForWorkers();
  FWatchdog->RequestInstantBackup();
  Tick();  // releases the first worker, then starts the next
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "b.txt")), "two");
}

// A stop (the console's quit and the window's quit stop monitoring too)
// while the entry's worker runs: the file that changed meanwhile is backed
// up by the last backup, after that worker, and nothing stays pending.
TEST_F(BackupSchedulingTest, StoppingWhileAWorkerRunsBacksUpWhatChangedMeanwhile) {
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "big.txt", "one");
  FWatchdog->RequestInstantBackup();
  Tick();
  ASSERT_NE(Worker(Docs), nullptr);
  // The worker waits for the main thread to take its line; the report of
  // the new file is queued behind it.
  test::WriteFileBytes(FDir / "docs" / "small.txt", "two");
  ASSERT_TRUE(FBackends.Active(Task(Docs).Dir)->Push({{DirActionModified, "small.txt"}}));

  FWatchdog->StopMonitoring();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "big.txt")), "one");
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "small.txt")), "two");
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  EXPECT_FALSE(FWatchdog->BackupRunning());
  EXPECT_EQ(StoredPending(Docs), TFiles{});
}

// A start that finds the entry's worker still busy says so once, and the
// request is not used up: the files go as soon as that worker has ended,
// not at the next request or interval.
TEST_F(BackupSchedulingTest, AStartSkippedForARunningWorkerIsLoggedAndServedWhenItEnds) {
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  FWatchdog->RequestInstantBackup();
  Tick();
  ASSERT_NE(Worker(Docs), nullptr);
  // Added without processing the queue, so the worker cannot finish yet.
  Task(Docs).FileList.Add("b.txt");
  test::WriteFileBytes(fs::path(Task(Docs).Dir) / "b.txt", "two");

  FWatchdog->RequestInstantBackup();
  Tick();
  Tick();
  EXPECT_EQ(LinesWith(" - 01: The previous backup is still running"), 1u)
      << ::testing::PrintToString(FView.LogLines);
  EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{"b.txt"});

  WaitForWorkers();
  Tick();  // releases the worker and serves the kept request
  ASSERT_NE(Worker(Docs), nullptr) << "no new request was needed";
  WaitForWorkers();
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "b.txt")), "two");
  EXPECT_EQ(LinesWith(" - 01: The previous backup is still running"), 1u);
  Tick();
  EXPECT_FALSE(Task(Docs).StartDeferred);

  // A kept start whose files went away meanwhile is done with, not tried
  // at every tick.
  Change(Docs, "c.txt", "three");
  FWatchdog->RequestInstantBackup();
  Tick();
  ASSERT_NE(Worker(Docs), nullptr);
  Task(Docs).FileList.Add("d.txt");
  FWatchdog->RequestInstantBackup();
  Tick();
  ASSERT_TRUE(Task(Docs).StartDeferred);
  Task(Docs).FileList.Remove("d.txt");
  WaitForWorkers();
  Tick();
  EXPECT_FALSE(Task(Docs).StartDeferred);
  EXPECT_EQ(Worker(Docs), nullptr);
}

TEST_F(BackupSchedulingTest, StoppingBacksUpWhatIsPendingBeforeItReturns) {
  const std::size_t Docs = AddEntry("docs");
  StartMonitoring();
  Change(Docs, "a.txt", "one");
  FWatchdog->StopMonitoring();
  EXPECT_FALSE(FView.State.Monitoring);
  ASSERT_TRUE(FView.LogLinesWhenStopped.has_value());
  EXPECT_EQ(*FView.LogLinesWhenStopped, 1u) << "the worker's line came before the window returned to the stopped state";
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "a.txt")), "one");
  EXPECT_FALSE(FWatchdog->BackupRunning());
  EXPECT_EQ(StoredPending(Docs), TFiles{});
}

TEST_F(BackupSchedulingTest, TheLogFileIsOpenWhileWorkersRun) {
  const std::size_t Docs = AddEntry("docs");
  FWatchdog->WriteLogClicked(true);
  StartMonitoring();
  Change(Docs, "α.txt", "one");
  BackUpNow();
  const std::string LogFile = PathOf("config/DeZedodiru " + LocalDateText(FNow) + ".log");
  const std::string Text = test::ReadFileBytes(LogFile);
  EXPECT_EQ(Text, "\xEF\xBB\xBF" + FView.LogLines.back() + "\r\n");
  EXPECT_NE(Text.find("docs/α.txt => "), std::string::npos) << "UTF-8 as it is";

  // Closed once no worker runs: a line now reaches the window only.
  FWatchdog->AddLogLine("after");
  EXPECT_EQ(test::ReadFileBytes(LogFile), Text);
  EXPECT_EQ(FView.LogLines.back(), "after");

  FWatchdog->ClearLog();
  EXPECT_TRUE(FWatchdog->LogLines().empty());
  EXPECT_EQ(test::ReadFileBytes(LogFile), Text) << "clearing the window leaves the file";
}

// The log's folder fills up in the middle of a backup.
TEST_F(BackupSchedulingTest, AFullLogDiskCostsNoLineInTheWindow) {
  TTmpfs Logs(PathOf("logs"), 16);
  if (!Logs.Mount()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root); the full log disk is not tested";

  TWatchdogSetup S = WatchdogSetup();
  S.LogDir = PathOf("logs");
  FWatchdog.reset();
  FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, S, FBackends.Factory());
  const std::size_t Docs = AddEntry("docs");
  FWatchdog->WriteLogClicked(true);
  StartMonitoring();
  const std::string Long(150, 'n');
  for (int I = 0; I < 60; ++I) Change(Docs, Long + std::to_string(I), "x");
  FWatchdog->RequestInstantBackup();
  Tick();
  // The file is open with its first page; the rest of the disk goes now.
  {
    std::ofstream Out(FDir / "logs" / "filler", std::ios::binary);
    const std::string Chunk(1024, 'x');
    while (Out.write(Chunk.data(), static_cast<std::streamsize>(Chunk.size())) && Out.flush()) {
    }
  }
  WaitForWorkers();

  EXPECT_EQ(LinesWith(" => "), 60u) << "every line is in the window";
  ASSERT_EQ(LinesWith("could not be written"), 1u) << "and one line says why the file stops";
  Tick();
  EXPECT_FALSE(FWatchdog->BackupRunning());
}

// A task whose destination lies in the monitored directory, written as a
// sub-folder of it or reached through a link: the worker's writes are
// reported as changes, and were backed up again, one level deeper every
// interval.
TEST_F(BackupSchedulingTest, ADestinationInTheMonitoredDirectoryIsNotBackedUpAgain) {
  const struct {
    const char* Name;
    const char* Dest;  // as the task writes it
    bool MarkedBeforeStart;  // seen in the names alone
  } Cases[] = {{"sub-folder", "docs/backup", true}, {"link", "link/backup", false}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::remove_all(FDir / "docs");
    fs::remove_all(FDir / "link");
    fs::remove(PathOf("config/DeZedodiru.ini"));
    Restart();
    fs::create_directories(FDir / "docs");
    fs::create_directory_symlink(FDir / "docs", FDir / "link");
    const std::size_t Docs = AddEntry("docs", Case.Dest);
    FWatchdog->ValidateMonTasks();
    EXPECT_EQ(FView.State.DirItems[Docs].DestinationInside, Case.MarkedBeforeStart);
    FWatchdog->IntervalUnitChosen(iuSeconds);
    FWatchdog->IntervalValueChanged(5);
    StartMonitoring();
    Change(Docs, "a.txt", "one");
    for (int Interval = 0; Interval < 4; ++Interval) {
      Tick(5);
      WaitForWorkers();
      // The watcher reports every file the worker wrote.
      std::vector<TDirChange> Written;
      for (const auto& Entry : fs::recursive_directory_iterator(FDir / "docs" / "backup"))
        if (Entry.is_regular_file())
          Written.push_back({DirActionModified, fs::relative(Entry.path(), FDir / "docs").string()});
      ASSERT_FALSE(Written.empty());
      ASSERT_TRUE(FBackends.Active(Task(Docs).Dir)->Push(Written));
      FQueue.ProcessPending();
    }
    EXPECT_EQ(FWatchdog->FileCount(), 0);
    std::size_t Copies = 0;
    for (const auto& Entry : fs::recursive_directory_iterator(FDir / "docs" / "backup"))
      if (Entry.is_regular_file()) {
        ++Copies;
        EXPECT_EQ(Entry.path().filename(), "a.txt") << Entry.path();
      }
    EXPECT_EQ(Copies, 1u) << "no copy of a copy";
    EXPECT_EQ(LinesWith("lies in the monitored directory"), 1u) << ::testing::PrintToString(FView.LogLines);
    EXPECT_TRUE(FView.State.DirItems[Docs].DestinationInside);
    FWatchdog->StopMonitoring();
  }
}

// --- nothing missed while the program was not running ---------------------------------

TEST_F(BackupSchedulingTest, ChangesMadeWhileNotRunningArePendingAtTheStart) {
  const std::size_t Docs = AddEntry("docs");
  test::WriteFileBytes(FDir / "docs" / "old.txt", "before");
  StartMonitoring();
  // Monitoring stops well after old.txt was written: the stop is the moment
  // up to which every change was seen.
  FNow = system_clock::now() + std::chrono::minutes(5);
  FWatchdog->StopMonitoring();
  FWatchdog->SaveSettings();

  // While the program is not running, files change (their time is what the
  // look goes by).
  FNow = FNow + std::chrono::hours(1);
  fs::create_directories(FDir / "docs" / "sub");
  for (const char* Name : {"new.txt", "sub/deep.txt"}) {
    test::WriteFileBytes(FDir / "docs" / Name, "made");
    fs::last_write_time(FDir / "docs" / Name, fs::file_time_type::clock::now() + std::chrono::minutes(30));
  }

  Restart();
  FWatchdog->LoadSettings();
  StartMonitoring();
  // The look for them runs off the main thread.
  ASSERT_TRUE(FQueue.WaitWhileProcessing([&] { return FWatchdog->FileCount() == 2; }, std::chrono::minutes(5)))
      << ::testing::PrintToString(Task(Docs).FileList.Items());
  FWatchdog->StopMonitoring();
  EXPECT_EQ(Task(Docs).FileList.Items(), TFiles{}) << "backed up at the stop";
  EXPECT_EQ(test::ReadFileBytes(CopyOf(Docs, "sub/deep.txt")), "made");
  EXPECT_FALSE(fs::exists(CopyOf(Docs, "old.txt"))) << "seen before the stop, so not looked for";
  EXPECT_EQ(LinesWith("2 files in \"" + PathOf("docs") + "\" changed while they were not watched"), 1u)
      << ::testing::PrintToString(FView.LogLines);
}

TEST_F(BackupSchedulingTest, ASettingsFileWithoutItsTimeGetsNoCatchUp) {
  AddEntry("docs");
  test::WriteFileBytes(FDir / "docs" / "new.txt", "made");
  FWatchdog->SaveSettings();
  ASSERT_FALSE(LoadWatchdogSettings(PathOf("config/DeZedodiru.ini")).LastSave.has_value())
      << "never monitored: no time to catch up from";
  Restart();
  FWatchdog->LoadSettings();
  StartMonitoring();
  FWatchdog->StopMonitoring();  // waits for any look to end
  EXPECT_EQ(FWatchdog->FileCount(), 0);
  EXPECT_EQ(LinesWith("changed while they were not watched"), 0u);
}

}  // namespace
}  // namespace dz
