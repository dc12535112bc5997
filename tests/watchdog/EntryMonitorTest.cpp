// The entry monitor on its own, against fake watcher backends and walks the
// test holds: which entries it watches, where a watcher's batches go, and
// what a stop still takes.

#include "watchdog/EntryMonitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/FakeDirWatchBackend.h"
#include "support/Gate.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;
using TFiles = std::vector<std::string>;

class EntryMonitorTest : public test::TTempDirTest {
protected:
  void TearDown() override {
    FScanGate.Open();  // a walk a failed test still holds
    FMonitor.reset();
    TTempDirTest::TearDown();
  }

  // An entry on the directory Name of the test folder (made unless Missing).
  std::size_t AddEntry(const std::string& Name, TMonTaskStatus Status = mtEnabled, bool Missing = false) {
    if (!Missing)
      fs::create_directories(FDir / Name);
    auto Entry = std::make_unique<TMonTask>(PathOf(Name + ".buj"), PathOf(Name));
    Entry->MonStatus = Status;
    FEntries.push_back(std::move(Entry));
    return FEntries.size() - 1;
  }

  // The monitor, with walks that find Found in every tree, once the test
  // opens the gate when HoldScans is set.
  void MakeMonitor(TFiles Found = {}, bool HoldScans = false) {
    TEntryMonitorSetup Setup;
    Setup.WatchBackend = FBackends.Factory();
    Setup.Clock = [this] { return FNow; };
    Setup.ScanTree = [this, Found, HoldScans](const std::string&, const TMonFilter&, TFileTime,
                                               std::vector<std::string>& Files) {
      if (HoldScans)
        FScanGate.Pass();
      Files = Found;
      return 0;
    };
    TEntryMonitorEvents Events;
    Events.PendingChanged = [this](std::size_t Index) { FChanged.push_back(Index); };
    Events.EntryChanged = [this](std::size_t Index) { FChanged.push_back(Index); };
    Events.LogLine = [this](const std::string& Line) { FLog.push_back(Line); };
    FMonitor = std::make_unique<TEntryMonitor>(FQueue, FEntries, Setup, Events);
  }

  void WaitForWatchers() {
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !FMonitor->Starting(); }, std::chrono::minutes(2)));
  }

  test::TFakeDirWatch* Backend(std::size_t I) { return FBackends.Active(FEntries[I]->Dir); }
  TFiles Pending(std::size_t I) const { return FEntries[I]->FileList.Items(); }

  TPlainMainThreadQueue FQueue;
  test::TFakeDirWatchBackends FBackends;
  TMonTaskList FEntries;
  system_clock::time_point FNow = system_clock::now();
  test::TGate FScanGate;
  std::vector<std::size_t> FChanged;
  TFiles FLog;
  std::unique_ptr<TEntryMonitor> FMonitor;
};

// One watcher per enabled entry whose directory is there, each bound to its
// entry: a batch reaches that entry only, applied by the kinds it carries
// (the directory named in it exists nowhere, so only its kind keeps it out
// of the pending files), and the entry is reported changed.
TEST_F(EntryMonitorTest, EachEnabledEntryGetsAWatcherWhoseBatchesReachOnlyIt) {
  const std::size_t Docs = AddEntry("docs");
  const std::size_t Off = AddEntry("off", mtDisabled);
  const std::size_t Gone = AddEntry("gone", mtEnabled, /*Missing=*/true);
  const std::size_t Work = AddEntry("work");
  MakeMonitor();
  FMonitor->Start(std::nullopt);
  WaitForWatchers();

  EXPECT_EQ(FBackends.ActiveCount(), 2u);
  for (const std::size_t I : {Docs, Work}) {
    ASSERT_NE(FMonitor->Watcher(I), nullptr);
    EXPECT_EQ(FMonitor->Watcher(I)->Id(), static_cast<int>(I + 1));
    EXPECT_NE(Backend(I), nullptr);
  }
  EXPECT_FALSE(FMonitor->Watched(Off));
  EXPECT_FALSE(FMonitor->Watched(Gone));
  EXPECT_EQ(FEntries[Gone]->Unavailable, "Directory \"" + PathOf("gone") + "\" not found!");
  EXPECT_EQ(FLog, TFiles{"  *** 03: Directory \"" + PathOf("gone") +
                         "\" not found! It is monitored again as soon as it is back."});

  FChanged.clear();
  ASSERT_TRUE(Backend(Work)->Push({{DirActionAdded, "sub", ckDirectory},
                                   {DirActionAdded, "a.txt", ckFile},
                                   {DirActionModified, "b.txt", ckFile}}));
  FQueue.ProcessPending();
  EXPECT_EQ(Pending(Work), (TFiles{"a.txt", "b.txt"}));
  EXPECT_TRUE(Pending(Docs).empty());
  EXPECT_EQ(FChanged, std::vector<std::size_t>{Work});
}

// A stop takes what the watchers had read and what the walk of a catch-up
// found before it returns; after it every change up to now counts as
// collected until the watchers are released.
TEST_F(EntryMonitorTest, StopTakesWhatIsStillQueuedAndTheWalksStillOut) {
  const std::size_t Docs = AddEntry("docs");
  MakeMonitor({"caught-up.txt"}, /*HoldScans=*/true);
  const system_clock::time_point Saved = FNow - std::chrono::hours(1);
  FMonitor->Start(Saved);
  WaitForWatchers();
  ASSERT_TRUE(FScanGate.WaitForArrivals(1));
  EXPECT_EQ(FMonitor->CollectedUntil(Saved), Saved) << "a look for older changes is still on";

  ASSERT_TRUE(Backend(Docs)->Push({{DirActionAdded, "read.txt", ckFile}}));
  FScanGate.Open();
  FMonitor->Stop();  // the test processes nothing itself

  EXPECT_EQ(Pending(Docs), (TFiles{"caught-up.txt", "read.txt"}));
  EXPECT_EQ(FLog, TFiles{"01: 1 file in \"" + PathOf("docs") +
                         "\" changed while they were not watched; they wait for the next backup."});
  EXPECT_EQ(FBackends.ActiveCount(), 0u);
  EXPECT_EQ(FMonitor->CollectedUntil(Saved), FNow);
  ASSERT_NE(FMonitor->Watcher(Docs), nullptr) << "kept until released";

  FMonitor->Release();
  EXPECT_FALSE(FMonitor->Watched(Docs));
  EXPECT_EQ(FMonitor->CollectedUntil(Saved), Saved);
  FEntries[Docs]->MissingSince = Saved - std::chrono::minutes(1);
  EXPECT_EQ(FMonitor->CollectedUntil(Saved), *FEntries[Docs]->MissingSince) << "a directory that went away";
}

}  // namespace
}  // namespace dz
