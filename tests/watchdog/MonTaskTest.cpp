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

// Stand-ins for a running watcher and worker: GetRunStatus only asks whether
// they are there, and these are never used as objects.
template <class T>
std::shared_ptr<T> Present() {
  static char Token;
  return std::shared_ptr<T>(reinterpret_cast<T*>(&Token), [](T*) {});
}

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
  TMonTask Task("/t.buj", "/d");
  EXPECT_EQ(Task.GetRunStatus(), rsOff);
  // Only the address matters here: the list never touches the worker.
  Task.BuThread = reinterpret_cast<TBackupThread*>(&Task);
  EXPECT_EQ(Task.GetRunStatus(), rsOff) << "a worker that outlives monitoring does not count";
  Task.DirWatch = Present<TDirectoryWatch>();
  EXPECT_EQ(Task.GetRunStatus(), rsBackup);
  Task.BuThread = nullptr;
  EXPECT_EQ(Task.GetRunStatus(), rsWatch);
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
