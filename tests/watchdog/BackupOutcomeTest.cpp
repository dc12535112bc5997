// What the backup runner makes of the outcomes a worker reports: files whose
// copy was already current are done like copied ones, names that can never
// be backed up are not pending again, and neither leaves a file in flight.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/MainThreadQueue.h"
#include "filesys/PathUtils.h"
#include "platform/FileOps.h"
#include "support/TestFiles.h"
#include "watchdog/BackupRunner.h"
#include "watchdog/MonTask.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class BackupOutcomeTest : public test::TTempDirTest {
protected:
  // One backup of Files through the runner, to its end.
  std::vector<std::string> Backup(TMonTask& Task, const std::vector<std::string>& Files) {
    Task.FileList.Assign(Files);
    std::vector<std::string> Lines;
    TPlainMainThreadQueue Queue;
    TBackupRunner Runner(Queue, [&](const std::string& Line) { Lines.push_back(Line); },
                         [] { return std::string("2026-12-09 14:03:27"); });
    EXPECT_TRUE(Runner.Start(Task, 1, PathOf("dst") + "/"));
    Runner.WaitAll();
    EXPECT_EQ(Runner.InFlight(Task), nullptr);
    EXPECT_EQ(Runner.Worker(Task), nullptr);
    return Lines;
  }
};

TEST_F(BackupOutcomeTest, UpToDateFilesAreDoneAndNamesThatAreNoFilesAreNotPendingAgain) {
  fs::create_directories(FDir / "src");
  TMonTask Task(PathOf("task.buj"), PathOf("src"));
  Task.RetainBak = 1;
  for (const char* Name : {"a", "b"}) {
    test::WriteFileBytes(FDir / "src" / Name, Name);
    ASSERT_EQ(SetPathTimes(PathOf("src/") + Name, 0, FileTimeOfUnixEpoch + 1700000000 * FileTimeTicksPerSecond, true),
              0);
  }
  ASSERT_EQ(::mkfifo(PathOf("src/fifo").c_str(), 0644), 0);

  const std::vector<std::string> First = Backup(Task, {"a", "b", "fifo"});
  EXPECT_EQ(First.size(), 3u);
  EXPECT_TRUE(Task.FileList.Items().empty()) << "the FIFO is handed back: " << Task.FileList.Count();

  // A restart hands the same files over again: nothing is copied, nothing
  // stays pending.
  const std::vector<std::string> Again = Backup(Task, {"a", "b"});
  EXPECT_TRUE(Again.empty()) << Again.front();
  EXPECT_TRUE(Task.FileList.Items().empty());
  const std::string Copies = JoinPath(PathOf("dst"), PathWithoutDrive(PathOf("src")));
  EXPECT_EQ(test::Listing(Copies), (std::vector<std::string>{"a", "b"}));
}

// Whoever shows the entry's files learns of each report and of the release
// when it comes, not at the next look: after each file, the files in
// flight are fewer, and the release gives the entry back its run status.
TEST_F(BackupOutcomeTest, EachReportAndTheReleaseSayThatTheEntrysFilesChanged) {
  fs::create_directories(FDir / "src");
  TMonTask Task(PathOf("task.buj"), PathOf("src"));
  for (const char* Name : {"a", "b"}) test::WriteFileBytes(FDir / "src" / Name, Name);
  Task.FileList.Assign({"a", "b", "gone"});
  TPlainMainThreadQueue Queue;
  TBackupRunner Runner(Queue, [](const std::string&) {}, [] { return std::string("2026-12-09 14:03:27"); });
  struct TSeen {
    std::size_t InFlight;
    bool Released;
    bool operator==(const TSeen&) const = default;
  };
  std::vector<TSeen> Seen;
  Runner.OnFilesChanged = [&] {
    const TMatchList* InFlight = Runner.InFlight(Task);
    Seen.push_back({InFlight != nullptr ? InFlight->Count() : 0, Runner.Worker(Task) == nullptr});
  };
  ASSERT_TRUE(Runner.Start(Task, 1, PathOf("dst") + "/"));
  EXPECT_TRUE(Seen.empty()) << "a start is the caller's own change";
  Runner.WaitAll();
  EXPECT_EQ(Seen, (std::vector<TSeen>{{2, false}, {1, false}, {0, false}, {0, true}}));
  EXPECT_TRUE(Task.FileList.Items().empty());
}

}  // namespace
}  // namespace dz
