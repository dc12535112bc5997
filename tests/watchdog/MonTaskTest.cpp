#include "watchdog/MonTask.h"

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace dz
