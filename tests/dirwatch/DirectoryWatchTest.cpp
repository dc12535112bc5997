// TDirectoryWatch against a fake backend: what reaches the handlers, in which
// order and when; starting, stopping and restarting; the exceptions.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/MainThreadQueue.h"
#include "dirwatch/DirectoryWatch.h"
#include "support/FakeDirWatchBackend.h"

namespace dz {
namespace {

struct TNotification {
  int Id;
  TWatchAction Action;
  std::string FileName;
  friend bool operator==(const TNotification&, const TNotification&) = default;
};

std::ostream& operator<<(std::ostream& Out, const TNotification& N) {
  return Out << "{" << N.Id << ", " << static_cast<int>(N.Action) << ", " << N.FileName << "}";
}

struct TErrorReport {
  int Code;
  std::string Text;
  friend bool operator==(const TErrorReport&, const TErrorReport&) = default;
};

class DirectoryWatchTest : public ::testing::Test {
protected:
  // A watcher with identifier 7 that records everything its handlers see.
  std::unique_ptr<TDirectoryWatch> MakeWatch(const std::string& Directory = "/data/docs") {
    auto Watch = std::make_unique<TDirectoryWatch>(7, FQueue, FFakes.Factory());
    Watch->SetDirectory(Directory);
    Watch->OnNotify = [this](TDirectoryWatch&, int Id, TWatchAction Action, const std::string& FileName) {
      FNotified.push_back({Id, Action, FileName});
    };
    Watch->OnError = [this](TDirectoryWatch&, int Code, const std::string& Text, TDirWatchClock::time_point) {
      FErrors.push_back({Code, Text});
    };
    Watch->OnChange = [this](TDirectoryWatch& Sender) { FChanges.push_back(Sender.Running()); };
    return Watch;
  }

  TPlainMainThreadQueue FQueue;
  test::TFakeDirWatchBackends FFakes;
  std::vector<TNotification> FNotified;
  std::vector<TErrorReport> FErrors;
  std::vector<bool> FChanges;  // Running() as each OnChange saw it
};

TEST_F(DirectoryWatchTest, StartHandsTheSettingsToOneBackendAndStopEndsIt) {
  auto Watch = MakeWatch();
  EXPECT_FALSE(Watch->Running());
  Watch->Start();
  ASSERT_TRUE(Watch->Running());
  ASSERT_EQ(FFakes.Count(), 1u);
  const TDirWatchRequest Request = FFakes.Last().Request();
  EXPECT_EQ(Request.Directory, "/data/docs");
  EXPECT_TRUE(Request.WatchSubTree);
  EXPECT_EQ(Request.Filter, 0x17Fu);
  EXPECT_EQ(Request.BufferSize, 32u * 532u);
  EXPECT_EQ(FChanges, std::vector<bool>{true});

  Watch->Start();  // running already: nothing
  EXPECT_EQ(FFakes.Count(), 1u);
  EXPECT_EQ(FFakes.StartCalls(), 1);
  EXPECT_EQ(FChanges.size(), 1u);

  Watch->Stop();
  EXPECT_FALSE(Watch->Running());
  EXPECT_FALSE(FFakes.Last().Started());
  EXPECT_TRUE(FFakes.Last().Destroyed());
  EXPECT_EQ(FChanges, (std::vector<bool>{true, false}));

  Watch->Stop();  // stopped already: nothing
  EXPECT_EQ(FFakes.StopCalls(), 1);
  EXPECT_EQ(FChanges.size(), 2u);

  Watch->Start();  // a new backend for every start
  EXPECT_EQ(FFakes.Count(), 2u);
  EXPECT_TRUE(FFakes.Last().Started());
}

TEST_F(DirectoryWatchTest, StartWithoutADirectoryRaisesAndStaysStopped) {
  auto Watch = MakeWatch("");
  try {
    Watch->Start();
    ADD_FAILURE() << "Start did not raise";
  } catch (const EDirWatchError& E) {
    EXPECT_STREQ(E.what(), "Please specify a directory to watch");
  }
  EXPECT_FALSE(Watch->Running());
  EXPECT_TRUE(FChanges.empty());
  EXPECT_EQ(FFakes.StartCalls(), 0);
}

// On Linux " x " and "x" are two directories, and a name of blanks is a
// name: the watcher keeps what it is given.
TEST_F(DirectoryWatchTest, BlanksAroundADirectoryArePartOfItsName) {
  for (const char* Directory : {" /data/docs ", "  \t ", "\r\n", "docs\t"}) {
    SCOPED_TRACE(testing::Message() << "directory \"" << Directory << "\"");
    auto Watch = MakeWatch(Directory);
    EXPECT_EQ(Watch->Directory(), Directory);
    Watch->Start();
    ASSERT_TRUE(Watch->Running());
    EXPECT_EQ(FFakes.Last().Request().Directory, Directory);
  }
}

TEST_F(DirectoryWatchTest, EachSystemsRulesDecideWhatADirectoryNameIs) {
  const TDirNameRules Windows{true, true};
  const TDirNameRules Linux{false, false};
  struct TCase {
    const char* Given;
    const char* Current;
    const TDirNameRules& Rules;
    const char* Stored;
    bool Same;  // as the current one: no restart
  };
  const TCase Cases[] = {
      {" \tC:\\Data \r\n", "C:\\Data", Windows, "C:\\Data", true},
      {"C:\\DATA", "C:\\Data", Windows, "C:\\DATA", true},
      {"C:\\Daten", "C:\\Data", Windows, "C:\\Daten", false},
      {" \t ", "", Windows, "", true},
      {" /data/docs ", "/data/docs", Linux, " /data/docs ", false},
      {"/data/Docs", "/data/docs", Linux, "/data/Docs", false},
      {"/data/docs", "/data/docs", Linux, "/data/docs", true},
      {" \t ", "", Linux, " \t ", false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::Message() << "\"" << Case.Given << "\" against \"" << Case.Current << "\"");
    const std::string Stored = WatchedDirectoryName(Case.Given, Case.Rules);
    EXPECT_EQ(Stored, Case.Stored);
    EXPECT_EQ(SameWatchedDirectory(Stored, Case.Current, Case.Rules), Case.Same);
  }
  EXPECT_EQ(SystemDirNameRules.TrimEnds, false);
  EXPECT_EQ(SystemDirNameRules.IgnoreCase, false);
}

TEST_F(DirectoryWatchTest, ADirectoryThatCannotBeOpenedRaisesWithItsCode) {
  struct TCase {
    const char* Directory;
    int Code;
    const char* Message;
  };
  const TCase Cases[] = {
      {"/data/missing", 2, "Error trying to create file handle for \"/data/missing\". Error code: 2"},
      {"/gone/path/x", 3, "Error trying to create file handle for \"/gone/path/x\". Error code: 3"},
      {"/root/secret", 5, "Error trying to create file handle for \"/root/secret\". Error code: 5"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Directory);
    FFakes.FailStart(Case.Directory, Case.Code);
    auto Watch = MakeWatch(Case.Directory);
    try {
      Watch->Start();
      ADD_FAILURE() << "Start did not raise";
    } catch (const EDirWatchError& E) {
      EXPECT_EQ(std::string(E.what()), Case.Message);
    }
    EXPECT_FALSE(Watch->Running());
    EXPECT_TRUE(FChanges.empty());
    EXPECT_EQ(FFakes.ActiveCount(), 0u);
  }
}

// The start in the background ends on the owning thread, with the text a
// Start would have raised when it fails.
TEST_F(DirectoryWatchTest, AStartInTheBackgroundEndsOnTheOwningThread) {
  struct TCase {
    const char* Directory;
    int FailCode;  // 0: starts
    const char* Message;
  };
  const TCase Cases[] = {
      {"/data/docs", 0, ""},
      {"/data/missing", 2, "Error trying to create file handle for \"/data/missing\". Error code: 2"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Directory);
    FChanges.clear();
    if (Case.FailCode != 0) FFakes.FailStart(Case.Directory, Case.FailCode);
    auto Watch = MakeWatch(Case.Directory);
    std::vector<std::string> Ended;
    Watch->OnStarted = [&](TDirectoryWatch& Sender, const std::string& Error) {
      EXPECT_EQ(&Sender, Watch.get());
      Ended.push_back(Error);
    };
    Watch->StartInBackground();
    EXPECT_TRUE(Watch->Starting());
    EXPECT_FALSE(Watch->Running());
    Watch->StartInBackground();  // starting already: nothing
    ASSERT_TRUE(FQueue.WaitWhileProcessing([&] { return !Ended.empty(); }, std::chrono::minutes(2)));
    EXPECT_EQ(Ended, std::vector<std::string>{Case.Message});
    EXPECT_FALSE(Watch->Starting());
    EXPECT_EQ(Watch->Running(), Case.FailCode == 0);
    EXPECT_EQ(FChanges, Case.FailCode == 0 ? std::vector<bool>{true} : std::vector<bool>{});
    EXPECT_EQ(FFakes.Last().StartCalls(), 1);
  }
}

// Stop, a setter's restart and the destructor while the backend's start is
// held: the start is cancelled and waited for, and its end never reported.
TEST_F(DirectoryWatchTest, AHeldStartIsCancelledByStopRestartAndDestruction) {
  enum TEnd { Stop, Restart, Destroy };
  for (const TEnd End : {Stop, Restart, Destroy}) {
    SCOPED_TRACE(static_cast<int>(End));
    FFakes.HoldStart("/data/docs");
    auto Watch = MakeWatch("/data/docs");
    int Ended = 0;
    Watch->OnStarted = [&](TDirectoryWatch&, const std::string&) { ++Ended; };
    Watch->StartInBackground();
    test::TFakeDirWatch& Held = FFakes.Last();
    ASSERT_TRUE(Held.WaitUntilHeld());
    ASSERT_TRUE(Held.Push({{DirActionAdded, "early.txt"}}));
    FNotified.clear();
    FQueue.ProcessPending();
    EXPECT_EQ(FNotified, (std::vector<TNotification>{{7, waAdded, "early.txt"}})) << "reported while starting";

    switch (End) {
      case Stop:
        Watch->Stop();
        EXPECT_FALSE(Watch->Starting());
        EXPECT_FALSE(Watch->Running());
        break;
      case Restart:
        FFakes.ClearHolds();
        Watch->SetDirectory("/data/other");
        EXPECT_TRUE(Watch->Starting()) << "the new start runs in the background too";
        ASSERT_TRUE(FQueue.WaitWhileProcessing([&] { return Ended > 0; }, std::chrono::minutes(2)));
        EXPECT_TRUE(Watch->Running());
        EXPECT_EQ(FFakes.Last().Request().Directory, "/data/other");
        EXPECT_EQ(Ended, 1) << "only the new start ends";
        break;
      case Destroy:
        Watch.reset();
        break;
    }
    EXPECT_EQ(Held.CancelCalls(), 1);
    EXPECT_FALSE(Held.Started());
    FQueue.ProcessPending();
    EXPECT_EQ(Ended, End == Restart ? 1 : 0) << "a cancelled start reports nothing";
    FFakes.ClearHolds();
  }
}

TEST_F(DirectoryWatchTest, ChangesArriveOnTheOwningThreadInTheOrderReported) {
  auto Watch = MakeWatch();
  Watch->Start();
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "a.txt"}, {DirActionModified, "sub/b.txt"}}));
  ASSERT_TRUE(FFakes.Last().Push({{DirActionRenamedOld, "a.txt"}, {DirActionRenamedNew, "c.txt"}}));
  ASSERT_TRUE(FFakes.Last().Push({{DirActionRemoved, "sub/b.txt"}}));
  EXPECT_TRUE(FNotified.empty()) << "a handler ran on the backend's thread";
  EXPECT_EQ(FQueue.ProcessPending(), 3u);
  const std::vector<TNotification> Expected = {
      {7, waAdded, "a.txt"},      {7, waModified, "sub/b.txt"}, {7, waRenamedOld, "a.txt"},
      {7, waRenamedNew, "c.txt"}, {7, waRemoved, "sub/b.txt"},
  };
  EXPECT_EQ(FNotified, Expected);
}

TEST_F(DirectoryWatchTest, WatchActionsDecideWhatReachesOnNotify) {
  const std::vector<TDirChange> Batch = {
      {0, "zero"},  // outside 1 to 5: always dropped
      {DirActionAdded, "added"},
      {DirActionRemoved, "removed"},
      {DirActionModified, "modified"},
      {DirActionRenamedOld, "old"},
      {DirActionRenamedNew, "new"},
      {6, "six"},
      {-1, "minus"},
  };
  struct TCase {
    TWatchActions Actions;
    std::vector<std::string> Delivered;
  };
  const TCase Cases[] = {
      {AllWatchActions, {"added", "removed", "modified", "old", "new"}},
      {{waAdded}, {"added"}},
      {{waRemoved, waRenamedNew}, {"removed", "new"}},
      {{}, {}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::Message() << "actions 0x" << std::hex << int(Case.Actions.Bits()));
    FNotified.clear();
    auto Watch = MakeWatch();
    Watch->SetWatchActions(Case.Actions);
    Watch->Start();
    ASSERT_TRUE(FFakes.Last().Push(Batch));
    FQueue.ProcessPending();
    std::vector<std::string> Delivered;
    for (const TNotification& N : FNotified) Delivered.push_back(N.FileName);
    EXPECT_EQ(Delivered, Case.Delivered);
    Watch->Stop();
  }
}

// OnBatch takes each batch whole, before OnNotify sees its changes one by
// one: the changes the actions let through, with their kinds, and the time
// the backend read the batch, however long it waited in the queue. The
// time of an error reaches OnError the same way.
TEST_F(DirectoryWatchTest, OnBatchTakesEachBatchWholeWithItsKindsAndReadTime) {
  struct TBatchSeen {
    std::vector<std::string> Changes;  // action, name and kind of each
    TDirWatchClock::time_point ReadTime;
  };
  std::vector<TBatchSeen> Batches;
  std::vector<TDirWatchClock::time_point> ErrorTimes;
  auto Watch = MakeWatch();
  Watch->SetWatchActions({waAdded, waRemoved});
  Watch->OnBatch = [&](TDirectoryWatch& Sender, const std::vector<TWatchChange>& Batch,
                       TDirWatchClock::time_point ReadTime) {
    EXPECT_EQ(Sender.Id(), 7);
    EXPECT_EQ(FNotified.size(), 0u) << "the batch comes before its single changes";
    TBatchSeen& Seen = Batches.emplace_back();
    Seen.ReadTime = ReadTime;
    for (const TWatchChange& Change : Batch)
      Seen.Changes.push_back(std::to_string(Change.Action) + " " + Change.FileName + " " +
                             std::to_string(Change.Kind));
  };
  Watch->OnError = [&](TDirectoryWatch&, int, const std::string&, TDirWatchClock::time_point Since) {
    ErrorTimes.push_back(Since);
  };
  Watch->Start();
  const TDirWatchClock::time_point Read = TDirWatchClock::now() - std::chrono::hours(1);
  const TDirWatchClock::time_point Lost = Read - std::chrono::minutes(5);
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "dir", ckDirectory},
                                  {DirActionModified, "modified", ckFile},
                                  {DirActionRemoved, "file", ckFile},
                                  {0, "zero", ckFile},
                                  {DirActionAdded, "unknown"}},
                                 Read));
  ASSERT_TRUE(FFakes.Last().Push({{DirActionModified, "only-modified", ckFile}}, Read));
  ASSERT_TRUE(FFakes.Last().PushError(1022, "lost", Lost));
  FQueue.ProcessPending();

  ASSERT_EQ(Batches.size(), 1u) << "a batch with nothing let through is not handed on";
  EXPECT_EQ(Batches[0].Changes, (std::vector<std::string>{
                                    std::to_string(waAdded) + " dir " + std::to_string(ckDirectory),
                                    std::to_string(waRemoved) + " file " + std::to_string(ckFile),
                                    std::to_string(waAdded) + " unknown " + std::to_string(ckUnknown),
                                }));
  EXPECT_EQ(Batches[0].ReadTime, Read);
  EXPECT_EQ(ErrorTimes, std::vector<TDirWatchClock::time_point>{Lost});
  EXPECT_EQ(FNotified, (std::vector<TNotification>{{7, waAdded, "dir"}, {7, waRemoved, "file"},
                                                   {7, waAdded, "unknown"}}));
}

TEST_F(DirectoryWatchTest, WithoutOnNotifyChangesAreDroppedQuietly) {
  auto Watch = MakeWatch();
  Watch->OnNotify = nullptr;
  Watch->Start();
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "a.txt"}}));
  EXPECT_EQ(FQueue.ProcessPending(), 1u);
  EXPECT_TRUE(FNotified.empty());
}

TEST_F(DirectoryWatchTest, ReportsQueuedBeforeStopAreDeliveredAfterIt) {
  auto Watch = MakeWatch();
  Watch->Start();
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "late.txt"}}));
  Watch->Stop();
  EXPECT_FALSE(FFakes.Last().Push({{DirActionAdded, "after-stop.txt"}})) << "a stopped backend took a batch";
  FQueue.ProcessPending();
  EXPECT_EQ(FNotified, (std::vector<TNotification>{{7, waAdded, "late.txt"}}));
}

TEST_F(DirectoryWatchTest, NothingIsDeliveredAfterTheWatcherIsDestroyed) {
  auto Watch = MakeWatch();
  Watch->Start();
  test::TFakeDirWatch& Backend = FFakes.Last();
  ASSERT_TRUE(Backend.Push({{DirActionAdded, "a.txt"}}));
  ASSERT_TRUE(Backend.PushError(1022, "lost"));
  Watch.reset();
  EXPECT_FALSE(Backend.Started()) << "the backend outlived its watcher";
  EXPECT_TRUE(Backend.Destroyed());
  // The handlers refer to this fixture, which is still alive: a delivery
  // would be seen here, and under AddressSanitizer a use of the dead watcher
  // would be caught.
  EXPECT_EQ(FQueue.ProcessPending(), 2u);
  EXPECT_TRUE(FNotified.empty());
  EXPECT_TRUE(FErrors.empty());
  EXPECT_EQ(FChanges.size(), 1u) << "OnChange ran while the watcher was destroyed";
}

TEST_F(DirectoryWatchTest, AHandlerThatDestroysTheWatcherEndsTheBatch) {
  auto Watch = MakeWatch();
  Watch->OnNotify = [this, &Watch](TDirectoryWatch&, int Id, TWatchAction Action, const std::string& FileName) {
    FNotified.push_back({Id, Action, FileName});
    Watch.reset();
  };
  Watch->Start();
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "first"}, {DirActionAdded, "second"}}));
  FQueue.ProcessPending();
  EXPECT_EQ(FNotified, (std::vector<TNotification>{{7, waAdded, "first"}}));
  EXPECT_EQ(Watch, nullptr);
}

TEST_F(DirectoryWatchTest, AFailingHandlerDoesNotLoseTheRestOfTheBatch) {
  auto Watch = MakeWatch();
  Watch->OnNotify = [this](TDirectoryWatch&, int Id, TWatchAction Action, const std::string& FileName) {
    FNotified.push_back({Id, Action, FileName});
    if (FileName == "bad") throw std::runtime_error("handler failed");
  };
  Watch->Start();
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "bad"}, {DirActionAdded, "good"}}));
  EXPECT_THROW(FQueue.ProcessPending(), std::runtime_error);
  EXPECT_EQ(FNotified, (std::vector<TNotification>{{7, waAdded, "bad"}, {7, waAdded, "good"}}));
}

TEST_F(DirectoryWatchTest, ErrorsGoToOnErrorInOrderWithTheChanges) {
  auto Watch = MakeWatch();
  std::vector<std::string> Seen;
  Watch->OnNotify = [&Seen](TDirectoryWatch&, int, TWatchAction, const std::string& FileName) {
    Seen.push_back(FileName);
  };
  Watch->OnError = [&Seen](TDirectoryWatch& Sender, int Code, const std::string& Text, TDirWatchClock::time_point) {
    EXPECT_EQ(Sender.Id(), 7);
    Seen.push_back("error " + std::to_string(Code) + " " + Text);
  };
  Watch->Start();
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "before"}}));
  ASSERT_TRUE(FFakes.Last().PushError(1022, "too many changes"));
  ASSERT_TRUE(FFakes.Last().Push({{DirActionAdded, "after"}}));
  FQueue.ProcessPending();
  EXPECT_EQ(Seen, (std::vector<std::string>{"before", "error 1022 too many changes", "after"}));
  EXPECT_TRUE(Watch->Running()) << "an error report does not stop the watcher";

  Watch->OnError = nullptr;  // no handler: the report is dropped
  ASSERT_TRUE(FFakes.Last().PushError(2, "gone"));
  EXPECT_EQ(FQueue.ProcessPending(), 1u);
  EXPECT_EQ(Seen.size(), 3u);
}

TEST_F(DirectoryWatchTest, SettersRestartARunningWatcher) {
  struct TCase {
    const char* Name;
    void (*Change)(TDirectoryWatch&);
    bool Restarts;  // on a running watcher
  };
  const TCase Cases[] = {
      {"options", [](TDirectoryWatch& W) { W.SetWatchOptions({woFileName, woLastWrite}); }, true},
      {"actions", [](TDirectoryWatch& W) { W.SetWatchActions({waAdded}); }, true},
      {"sub-tree", [](TDirectoryWatch& W) { W.SetWatchSubTree(false); }, true},
      {"directory", [](TDirectoryWatch& W) { W.SetDirectory("/data/other"); }, true},
      {"letter case (a different directory on Linux)", [](TDirectoryWatch& W) { W.SetDirectory("/data/Docs"); },
       true},
      {"same options", [](TDirectoryWatch& W) { W.SetWatchOptions(AllWatchOptions); }, false},
      {"same actions", [](TDirectoryWatch& W) { W.SetWatchActions(AllWatchActions); }, false},
      {"same sub-tree", [](TDirectoryWatch& W) { W.SetWatchSubTree(true); }, false},
      {"same directory", [](TDirectoryWatch& W) { W.SetDirectory("/data/docs"); }, false},
      {"blanks around the same name (another directory on Linux)",
       [](TDirectoryWatch& W) { W.SetDirectory(" \t/data/docs \r\n"); }, true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    {
      auto Watch = MakeWatch();
      Watch->Start();
      FChanges.clear();
      const std::size_t Made = FFakes.Count();
      Case.Change(*Watch);
      EXPECT_TRUE(Watch->Running());
      if (Case.Restarts) {
        // Stop, start and the change itself.
        EXPECT_EQ(FChanges, (std::vector<bool>{false, true, true}));
        ASSERT_EQ(FFakes.Count(), Made + 1);
        EXPECT_TRUE(FFakes.Last().Started());
        EXPECT_FALSE(FFakes.At(Made - 1).Started());
      } else {
        EXPECT_TRUE(FChanges.empty());
        EXPECT_EQ(FFakes.Count(), Made);
      }
    }
    {
      auto Watch = MakeWatch();  // stopped: the value changes, nothing starts
      FChanges.clear();
      const std::size_t Made = FFakes.Count();
      Case.Change(*Watch);
      EXPECT_FALSE(Watch->Running());
      EXPECT_EQ(FChanges.size(), Case.Restarts ? 1u : 0u);
      EXPECT_EQ(FFakes.Count(), Made);
    }
  }
}

TEST_F(DirectoryWatchTest, ARestartUsesTheNewValues) {
  auto Watch = MakeWatch();
  Watch->Start();
  Watch->SetWatchOptions({woFileName, woDirName, woSize, woLastWrite, woCreation});
  EXPECT_EQ(FFakes.Last().Request().Filter, 0x5Bu);
  Watch->SetWatchSubTree(false);
  EXPECT_FALSE(FFakes.Last().Request().WatchSubTree);
  Watch->SetDirectory("/data/other");
  EXPECT_EQ(Watch->Directory(), "/data/other");
  EXPECT_EQ(FFakes.Last().Request().Directory, "/data/other");
  EXPECT_EQ(FFakes.ActiveCount(), 1u);
}

TEST_F(DirectoryWatchTest, ARestartThatFailsRaisesAndLeavesTheWatcherStopped) {
  FFakes.FailStart("/data/missing", 2);
  auto Watch = MakeWatch();
  Watch->Start();
  EXPECT_THROW(Watch->SetDirectory("/data/missing"), EDirWatchError);
  EXPECT_FALSE(Watch->Running());
  EXPECT_EQ(Watch->Directory(), "/data/missing");
  EXPECT_EQ(FFakes.ActiveCount(), 0u);
  EXPECT_NO_THROW(Watch->SetDirectory("")) << "a stopped watcher is not restarted, so nothing can fail";
}

TEST_F(DirectoryWatchTest, NotifyFilterOfMapsEachOption) {
  struct TCase {
    TWatchOptions Options;
    std::uint32_t Filter;
  };
  const TCase Cases[] = {
      {{}, 0x000},
      {{woFileName}, 0x001},
      {{woDirName}, 0x002},
      {{woAttributes}, 0x004},
      {{woSize}, 0x008},
      {{woLastWrite}, 0x010},
      {{woLastAccess}, 0x020},
      {{woCreation}, 0x040},
      {{woSecurity}, 0x100},
      {{woFileName, woDirName, woSize, woLastWrite, woCreation}, 0x05B},
      {AllWatchOptions, 0x17F},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::Message() << "options 0x" << std::hex << int(Case.Options.Bits()));
    EXPECT_EQ(NotifyFilterOf(Case.Options), Case.Filter);
  }
}

TEST_F(DirectoryWatchTest, BufferSizeIsHandedOnInBytesWithinSaneBounds) {
  struct TCase {
    std::int32_t Records;
    std::uint32_t Bytes;
  };
  const TCase Cases[] = {
      {32, 17024}, {1, 532}, {0, 532}, {-5, 532}, {0x7fffffff, 64u * 1024 * 1024},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Records);
    auto Watch = MakeWatch();
    Watch->BufferSize = Case.Records;
    Watch->Start();
    EXPECT_EQ(FFakes.Last().Request().BufferSize, Case.Bytes);
  }
}

TEST_F(DirectoryWatchTest, DestroyingARunningWatcherStopsItsBackendWithoutOnChange) {
  auto Watch = MakeWatch();
  Watch->Start();
  FChanges.clear();
  Watch.reset();
  EXPECT_EQ(FFakes.Last().StopCalls(), 1);
  EXPECT_TRUE(FFakes.Last().Destroyed());
  EXPECT_TRUE(FChanges.empty());
}

}  // namespace
}  // namespace dz
