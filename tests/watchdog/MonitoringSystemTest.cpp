// Monitoring on real file-system activity, with the system's watcher
// backend. Nothing here waits for a fixed time: after the activity of a case
// a marker file is written, and the test processes the main-thread queue
// until the marker is among the pending files. The watcher reports in the
// order of the changes, so everything before the marker has been handled by
// then.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/TestFiles.h"
#include "watchdog/FakeWatchdogView.h"
#include "watchdog/Watchdog.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::TFakeWatchdogView;
using TFiles = std::vector<std::string>;

constexpr std::string_view MarkerPrefix = "zz-marker-";
constexpr std::chrono::seconds MarkerTimeout{60};

// A main-thread queue that can hold the watcher's worker at its next report,
// so that the kernel's queue of changes fills up behind it.
class THoldingQueue final : public TMainThreadQueue {
public:
  ~THoldingQueue() override { Close(); }

  void Hold() {
    std::lock_guard Lock(FGateLock);
    FHeld = true;
  }
  void Release() {
    {
      std::lock_guard Lock(FGateLock);
      FHeld = false;
    }
    FGate.notify_all();
  }

  bool Post(TCall Call) override {
    {
      std::unique_lock Lock(FGateLock);
      FGate.wait(Lock, [this] { return !FHeld; });
    }
    return FInner.Post(std::move(Call));
  }
  std::size_t ProcessPending() override { return FInner.ProcessPending(); }
  bool WaitWhileProcessing(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) override {
    return FInner.WaitWhileProcessing(Done, Timeout);
  }
  void Wake() override { FInner.Wake(); }
  void Close() override {
    Release();
    FInner.Close();
  }

private:
  TPlainMainThreadQueue FInner;
  std::mutex FGateLock;
  std::condition_variable FGate;
  bool FHeld = false;
};

// Sets a kernel tunable for as long as it lives, and restores it.
class TScopedSysctl {
public:
  explicit TScopedSysctl(fs::path Path) : FPath(std::move(Path)) {
    std::ifstream In(FPath);
    In >> FOld;
  }
  ~TScopedSysctl() {
    if (FChanged) Write(FOld);
  }
  TScopedSysctl(const TScopedSysctl&) = delete;
  TScopedSysctl& operator=(const TScopedSysctl&) = delete;

  // False when the value cannot be read or written (not root, no /proc).
  bool Set(const std::string& Value) {
    if (FOld.empty() || !Write(Value)) return false;
    FChanged = true;
    return true;
  }

private:
  bool Write(const std::string& Value) const {
    std::ofstream Out(FPath);
    Out << Value << '\n';
    Out.close();
    return !Out.fail();
  }

  fs::path FPath;
  std::string FOld;
  bool FChanged = false;
};

class MonitoringSystemTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FRoot = FDir / "watched";
    fs::create_directories(FRoot);
  }
  void TearDown() override {
    FQueue.Release();
    FWatchdog.reset();
    TTempDirTest::TearDown();
  }

  // Monitors FRoot with a task whose source section holds Section; the
  // markers must pass its filters.
  void StartMonitoring(std::string_view Section = "BackupMode=1\n") {
    const std::string Text = "[Global]\nDestination=" + PathOf("dest") + "\nDirCount=1\n[Dir000]\nSource=" +
                             FRoot.string() + "\n" + std::string(Section);
    test::WriteFileBytes(FDir / "task.buj", Text);
    TWatchdogSetup Setup;
    Setup.IniName = PathOf("DeZedodiru.ini");
    Setup.UserPath = FDir.string() + "/";
    Setup.ReturnLookTicks = 1;
    FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, Setup);
    ASSERT_EQ(FWatchdog->AddMonTask(std::make_unique<TMonTask>(PathOf("task.buj"), FRoot.string())), atAdded);
    ASSERT_TRUE(FWatchdog->StartMonitoring());
    // The watcher walks the tree on a thread of its own; changes count from
    // when it is in place.
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !FWatchdog->WatchersStarting(); }, MarkerTimeout));
    ASSERT_TRUE(Watcher()) << (FView.LogLines.empty() ? "" : FView.LogLines.back());
    ASSERT_TRUE(Watcher()->Running());
  }

  TMonTask& Task() { return FWatchdog->MonTask(0); }
  const TDirectoryWatch* Watcher() const { return FWatchdog->Monitor().Watcher(0); }

  // Writes a marker and handles the watcher's reports until it arrives.
  void Sync() {
    const std::string Name = std::string(MarkerPrefix) + std::to_string(++FMarkers) + ".mark";
    test::WriteFileBytes(FRoot / Name, "");
    ASSERT_TRUE(FQueue.WaitWhileProcessing([&] { return Task().FileList.Contains(Name); }, MarkerTimeout))
        << "the marker " << Name << " was not reported";
    fs::remove(FRoot / Name);
  }

  // The pending files without the markers.
  TFiles Pending() {
    TFiles Files;
    for (const std::string& File : Task().FileList)
      if (!File.starts_with(MarkerPrefix)) Files.push_back(File);
    return Files;
  }

  void Write(const fs::path& RelPath, std::string_view Text = "text") {
    fs::create_directories((FRoot / RelPath).parent_path());
    test::WriteFileBytes(FRoot / RelPath, Text);
  }

  fs::path FRoot;
  TFakeWatchdogView FView;
  THoldingQueue FQueue;
  std::unique_ptr<TWatchdog> FWatchdog;
  int FMarkers = 0;
};

// Like a checkout of a branch: thousands of files in a fresh tree, created
// as fast as the file system takes them.
TEST_F(MonitoringSystemTest, ABurstOfNewFilesIsCollectedWhole) {
  StartMonitoring();
  TFiles Expected;
  for (int Dir = 0; Dir < 60; ++Dir) {
    const std::string Sub = "src/module" + std::to_string(Dir) + "/impl";
    fs::create_directories(FRoot / Sub);
    for (int File = 0; File < 50; ++File) {
      const std::string Name = Sub + "/file" + std::to_string(File) + ".cpp";
      Write(Name, "int x;\n");
      Expected.push_back(Name);
    }
  }
  Sync();
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(Pending(), Expected);
  EXPECT_EQ(FWatchdog->FileCount(), static_cast<std::int32_t>(Task().FileList.Count()));
}

TEST_F(MonitoringSystemTest, EditorSavePatternsEndWithTheSavedFile) {
  const struct {
    const char* Name;
    void (*Save)(const fs::path& Root);
    TFiles Expected;
  } Cases[] = {
      {"temporary file renamed over the original",
       [](const fs::path& Root) {
         test::WriteFileBytes(Root / ".a.txt.swp", "new text");
         fs::rename(Root / ".a.txt.swp", Root / "a.txt");
       },
       {"a.txt"}},
      {"original renamed to a backup name, new file written",
       [](const fs::path& Root) {
         fs::rename(Root / "a.txt", Root / "a.txt~");
         test::WriteFileBytes(Root / "a.txt", "new text");
       },
       {"a.txt", "a.txt~"}},
      {"truncated and rewritten in place",
       [](const fs::path& Root) {
         std::ofstream Out(Root / "a.txt", std::ios::binary | std::ios::trunc);
         Out << "new text";
       },
       {"a.txt"}},
      {"written into a sub-directory made on the spot",
       [](const fs::path& Root) {
         fs::create_directories(Root / "x" / "y" / "z");
         test::WriteFileBytes(Root / "x" / "y" / "z" / "a.txt", "new text");
       },
       {"x/y/z/a.txt"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TearDown();
    SetUp();
    Write("a.txt", "old text");
    StartMonitoring();
    Case.Save(FRoot);
    Sync();
    EXPECT_EQ(Pending(), Case.Expected);
  }
}

TEST_F(MonitoringSystemTest, ADeletedPendingFileLeavesTheList) {
  StartMonitoring();
  Write("keep.txt");
  Write("sub/gone.txt");
  Sync();
  ASSERT_EQ(Pending(), (TFiles{"keep.txt", "sub/gone.txt"}));
  const std::int32_t Before = FWatchdog->FileCount();

  fs::remove(FRoot / "sub" / "gone.txt");
  Sync();
  EXPECT_EQ(Pending(), TFiles{"keep.txt"});
  EXPECT_EQ(FWatchdog->FileCount(), Before - 1);
}

TEST_F(MonitoringSystemTest, PendingFilesFollowTheirDirectorysRename) {
  StartMonitoring();
  Write("draft/a.txt");
  Write("draft/deep/b.txt");
  Sync();
  fs::rename(FRoot / "draft", FRoot / "final");
  Sync();
  EXPECT_EQ(Pending(), (TFiles{"final/a.txt", "final/deep/b.txt"}));
}

// The watched directory deleted and made again, or renamed away and back
// (as tools that swap folders do): the loss is logged, the entry is not
// watched meanwhile, and once a directory is at its path again it is
// watched, with what was written there while it was away.
TEST_F(MonitoringSystemTest, TheWatchedDirectoryGoneAndBackIsWatchedAgain) {
  const struct {
    const char* Name;
    bool Rename;
  } Cases[] = {{"deleted and made again", false}, {"renamed away and back", true}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TearDown();
    SetUp();
    StartMonitoring();
    Write("a.txt");
    Sync();
    const fs::path Away = FDir / "away";
    if (Case.Rename)
      fs::rename(FRoot, Away);
    else
      fs::remove_all(FRoot);
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return !Watcher(); }, MarkerTimeout))
        << "the loss of the directory went unnoticed";
    ASSERT_FALSE(FView.LogLines.empty());
    EXPECT_NE(FView.LogLines.back().find("is no longer there"), std::string::npos) << FView.LogLines.back();
    EXPECT_EQ(FView.State.DirItems.at(0).RunStatus, rsOff);
    EXPECT_EQ(Pending(), Case.Rename ? TFiles{"a.txt"} : TFiles{}) << "a file deleted with it is not pending";

    if (Case.Rename) {
      test::WriteFileBytes(Away / "while-away.txt", "x");
      fs::rename(Away, FRoot);
    } else {
      fs::create_directories(FRoot);
      test::WriteFileBytes(FRoot / "while-away.txt", "x");
    }
    FWatchdog->Tick();
    ASSERT_TRUE(FQueue.WaitWhileProcessing(
        [this] { return Watcher() && !FWatchdog->WatchersStarting() && !Task().ReturnLookOut; }, MarkerTimeout))
        << "the directory back at its path is not watched again";
    ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return Task().FileList.Contains("while-away.txt"); },
                                           MarkerTimeout))
        << "what was written while it was away is not collected";
    EXPECT_EQ(FView.State.DirItems.at(0).RunStatus, rsWatch);
    Write("later.txt");
    Sync();
    EXPECT_TRUE(Task().FileList.Contains("later.txt"));
  }
}

TEST_F(MonitoringSystemTest, TheTasksFiltersApply) {
  StartMonitoring("BackupMode=1\nExclude=tmp,o\nIncludeDirs=0\nSubCount=1\nSubDir000=build\nDirFilter=cache\n");
  for (const char* Name : {"a.txt", "b.tmp", "src/c.cpp", "src/c.o", "build/d.txt", "builds/e.txt",
                           "x/cache/f.txt", "x/cached/g.txt", "Makefile"})
    Write(Name);
  Sync();
  EXPECT_EQ(Pending(), (TFiles{"Makefile", "a.txt", "src/c.cpp", "x/cached/g.txt"}));
}

// More changes than the kernel's queue holds: the changes of the overflow
// are lost to the watcher, and the rescan brings them back.
TEST_F(MonitoringSystemTest, MoreChangesThanTheQueueHoldsAreAllCollected) {
  {
    // The kernel reads the limit when the watcher's instance is made.
    TScopedSysctl QueueLimit("/proc/sys/fs/inotify/max_queued_events");
    if (!QueueLimit.Set("64"))
      GTEST_SKIP() << "cannot lower fs.inotify.max_queued_events (needs root); the overflow is not tested";
    StartMonitoring();
  }
  Write("before.txt");
  // Watched before the burst: in a directory the watcher has not reached
  // yet, the kernel reports nothing, and the watcher finds the files there
  // when it gets to the directory.
  for (int I = 0; I < 10; ++I) fs::create_directories(FRoot / "burst" / ("d" + std::to_string(I)));
  Sync();

  // The watcher's worker stops at its next report, so the kernel's queue
  // runs over while the files are written.
  FQueue.Hold();
  TFiles Expected{"before.txt"};
  for (int I = 0; I < 1000; ++I) {
    const std::string Name = "burst/d" + std::to_string(I % 10) + "/f" + std::to_string(I) + ".txt";
    Write(Name);
    Expected.push_back(Name);
  }
  FQueue.Release();
  Sync();

  // The rescan walks the tree off the main thread; its line says when its
  // files have arrived.
  const bool Rescanned = FQueue.WaitWhileProcessing(
      [this] {
        return std::any_of(FView.LogLines.begin(), FView.LogLines.end(), [](const std::string& Line) {
          return Line.find("was scanned again") != std::string::npos;
        });
      },
      MarkerTimeout);
  EXPECT_TRUE(Rescanned) << "the queue did not run over, so the rescan was not tested; log: "
                         << ::testing::PrintToString(FView.LogLines);
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(Pending(), Expected);
  EXPECT_EQ(FWatchdog->FileCount(), static_cast<std::int32_t>(Task().FileList.Count()));

  // Watching goes on.
  Write("after.txt");
  Sync();
  EXPECT_TRUE(Task().FileList.Contains("after.txt"));
}

}  // namespace
}  // namespace dz
