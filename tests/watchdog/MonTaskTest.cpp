#include "watchdog/MonTask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace dz {
namespace {

TEST(TMonTask, StartsEnabledWithEmptyLists) {
  const TMonTask Task("/home/u/ZentApp/daily.buj", "/home/u/Projects");
  EXPECT_EQ(Task.BuTask, "/home/u/ZentApp/daily.buj");
  EXPECT_EQ(Task.Dir, "/home/u/Projects");
  EXPECT_EQ(Task.MonStatus, mtEnabled);
  EXPECT_TRUE(Task.DestDir.empty());
  EXPECT_EQ(Task.ErrCount, 0);
  EXPECT_EQ(Task.RetainBak, 0);
  EXPECT_TRUE(Task.FileList.Empty());
  EXPECT_FALSE(Task.MonFilter.IncludeSubDirs);
  EXPECT_FALSE(Task.MonFilter.IncludeExts);
  EXPECT_EQ(Task.Watches, (TWatchOptions{woFileName, woDirName, woSize, woLastWrite, woCreation}));
}

TEST(TMonTask, RunStatusFollowsWatcherAndWorker) {
  EXPECT_EQ(RunStatusOf(false, false), rsOff);
  EXPECT_EQ(RunStatusOf(false, true), rsOff) << "a worker that outlives monitoring does not count";
  EXPECT_EQ(RunStatusOf(true, true), rsBackup);
  EXPECT_EQ(RunStatusOf(true, false), rsWatch);
}

// A change whose kind the watcher knows is applied as that kind, whatever
// is at its path by the time it is handled; only one of unknown kind makes
// the entry look, and then what it finds decides.
class TMonTaskKindTest : public test::TTempDirTest {};

TEST_F(TMonTaskKindTest, AKnownKindIsTakenWithoutALookAtThePath) {
  struct TCase {
    const char* Name;
    std::vector<const char*> DirsOnDisk;
    std::vector<std::string> Pending;
    std::vector<TWatchChange> Batch;  // with their kinds
    std::vector<std::string> Expected;
    std::vector<std::string> ExpectedUnknown;  // the same batch, every kind unknown
  };
  const TCase Cases[] = {
      {"a file already gone is still collected", {}, {}, {{waAdded, "gone.txt", ckFile}}, {"gone.txt"}, {"gone.txt"}},
      {"a file where a directory stands now", {"d.txt"}, {}, {{waModified, "d.txt", ckFile}}, {"d.txt"}, {}},
      {"a directory already gone is not", {}, {}, {{waAdded, "sub", ckDirectory}}, {}, {"sub"}},
      {"a directory renamed and gone again moves its files",
       {},
       {"old/a.txt"},
       {{waRenamedOld, "old", ckDirectory}, {waRenamedNew, "new", ckDirectory}},
       {"new/a.txt"},
       {"new", "old/a.txt"}},
      {"a removed directory with a new one at its path takes its files along",
       {"d"},
       {"d/a.txt", "e.txt"},
       {{waRemoved, "d", ckDirectory}},
       {"e.txt"},
       {"d/a.txt", "e.txt"}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    for (const bool Known : {true, false}) {
      SCOPED_TRACE(Known ? "kinds known" : "kinds unknown");
      std::filesystem::remove_all(FDir / "src");
      std::filesystem::create_directories(FDir / "src");
      for (const char* Dir : Case.DirsOnDisk) std::filesystem::create_directories(FDir / "src" / Dir);
      TMonTask Task("/t.buj", PathOf("src"));
      Task.FileList.Assign(Case.Pending);
      std::vector<TWatchChange> Batch = Case.Batch;
      if (!Known)
        for (TWatchChange& Change : Batch) Change.Kind = ckUnknown;
      Task.ApplyChanges(Batch);
      EXPECT_EQ(Task.FileList.Items(), Known ? Case.Expected : Case.ExpectedUnknown);
    }
  }
}

// Where the destination lies in the directory, nothing at or below it is
// collected, by reports, by scans or by the walk of a catch-up, and what was
// pending there goes; names beside it that only begin alike still count.
class TMonTaskDestinationTest : public test::TTempDirTest {};

TEST_F(TMonTaskDestinationTest, NothingAtOrBelowADestinationInTheDirectoryIsCollected) {
  std::filesystem::create_directories(FDir / "backup" / "deep");
  for (const char* Name : {"a.txt", "backup/x.txt", "backup/deep/y.txt", "backupx.txt"})
    test::WriteFileBytes(FDir / Name, "x");
  TMonTask Task("/t.buj", FDir.string());
  Task.FileList.Add("backup/old.txt");
  Task.Failed.Failed("backup/failed.txt", 5);

  EXPECT_FALSE(Task.NoteDestination("/elsewhere/backup/")) << "outside: nothing changes";
  EXPECT_TRUE(Task.NoteDestination(PathOf("backup") + "/"));
  EXPECT_FALSE(Task.NoteDestination(PathOf("backup"))) << "known already";
  EXPECT_TRUE(Task.FileList.Empty()) << "the pending copies go";
  EXPECT_EQ(Task.Failed.Find("backup/failed.txt"), nullptr);

  for (const char* Name : {"backup/x.txt", "backup/deep/y.txt", "backup"})
    Task.DirectoryChanged(waModified, Name);
  EXPECT_TRUE(Task.FileList.Empty());
  EXPECT_EQ(Task.AddPending({"backup/deep/y.txt"}), 0u);
  Task.DirectoryChanged(waAdded, "backupx.txt");
  EXPECT_EQ(Task.FileList.Items(), std::vector<std::string>{"backupx.txt"});

  std::vector<std::string> Found;
  ASSERT_EQ(ScanChangedFiles(FDir.string(), Task.MonFilter, 0, Found), 0);
  std::sort(Found.begin(), Found.end());
  EXPECT_EQ(Found, (std::vector<std::string>{"a.txt", "backupx.txt"}));
}

}  // namespace
}  // namespace dz
