#include "taskedit/TaskPreview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "taskedit/TaskEditTestSupport.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

// Source A holds a small tree with a known answer for the entry of Entry():
// .tmp files are excluded by extension, *.log by the file filter, the
// folder cache/ by the sub-directory rule.
class TaskPreviewTest : public test::TTaskFolderTest {
protected:
  void SetUp() override {
    TTaskFolderTest::SetUp();
    for (const char* Dir : {"keep", "cache/deep", "logs"}) fs::create_directories(A() + "/" + Dir);
    for (const char* File : {"a.txt", "b.tmp", "Makefile", "notes.log", "keep/c.txt", "keep/d.tmp", "cache/e.txt",
                             "cache/deep/f.txt", "logs/g.log"})
      test::WriteFileBytes(A() + "/" + File, "x");
    fs::create_symlink(A() + "/a.txt", A() + "/link.txt");  // backed up as a file
    fs::create_directory_symlink(A() + "/keep", A() + "/keep-link");  // a directory: not a file
  }

  TTaskSourceEntry Entry() const {
    TTaskSourceEntry E = NewTaskDocument({A()}, Dest()).Sources[0];
    E.Exclude = {"tmp"};
    E.FilterMode = fmExclude;
    E.Filter = "*.log";
    E.SubDirs = {"cache"};
    return E;
  }

  static const std::vector<std::string>& ExpectedIncluded() {
    static const std::vector<std::string> Files{"Makefile", "a.txt", "keep/c.txt", "link.txt"};
    return Files;
  }
  static const std::vector<TPreviewExcluded>& ExpectedExcluded() {
    static const std::vector<TPreviewExcluded> Files{
        {"b.tmp", fvExtension},        {"cache/deep/f.txt", fvSubDirRule}, {"cache/e.txt", fvSubDirRule},
        {"keep/d.tmp", fvExtension},   {"logs/g.log", fvFileFilter},       {"notes.log", fvFileFilter}};
    return Files;
  }
};

TEST_F(TaskPreviewTest, IncludedAndExcludedFilesWithTheirReasons) {
  const TPreviewResult Result = ComputePreview(Entry());
  EXPECT_EQ(Result.Error, 0);
  EXPECT_FALSE(Result.Cancelled);
  EXPECT_EQ(Result.Included, ExpectedIncluded());
  EXPECT_EQ(Result.Excluded, ExpectedExcluded());
  EXPECT_EQ(Result.IncludedTotal, 4u);
  EXPECT_EQ(Result.ExcludedTotal, 6u);
}

TEST_F(TaskPreviewTest, ItAgreesWithTheWatchdogReadingTheWrittenTask) {
  TTaskDocument Doc = NewTaskDocument({}, Dest());
  Doc.Sources.push_back(Entry());
  WriteTaskDocument(Doc, Task());
  TMonTask MonTask(Task(), A());
  ReadAsWatchdog(MonTask);
  const TPreviewResult Result = ComputePreview(Entry());
  for (const std::string& File : Result.Included) EXPECT_TRUE(PassesMonFilter(MonTask.MonFilter, File)) << File;
  for (const TPreviewExcluded& File : Result.Excluded)
    EXPECT_FALSE(PassesMonFilter(MonTask.MonFilter, File.File)) << File.File;
}

TEST_F(TaskPreviewTest, TheListsAreCappedButTheTotalsAreNot) {
  const TPreviewResult Result = ComputePreview(Entry(), 2);
  EXPECT_EQ(Result.Included.size(), 2u);
  EXPECT_EQ(Result.Excluded.size(), 2u);
  EXPECT_EQ(Result.IncludedTotal, 4u);
  EXPECT_EQ(Result.ExcludedTotal, 6u);
  for (const std::string& File : Result.Included)
    EXPECT_NE(std::find(ExpectedIncluded().begin(), ExpectedIncluded().end(), File), ExpectedIncluded().end());
}

TEST_F(TaskPreviewTest, AStoppedWalkSaysSoAndAMissingSourceGivesItsCode) {
  std::stop_source Stop;
  Stop.request_stop();
  const TPreviewResult Stopped = ComputePreview(Entry(), DefaultPreviewCap, Stop.get_token());
  EXPECT_TRUE(Stopped.Cancelled);
  EXPECT_EQ(Stopped.IncludedTotal + Stopped.ExcludedTotal, 0u);

  TTaskSourceEntry Gone = Entry();
  Gone.Source = PathOf("gone");
  const TPreviewResult Missing = ComputePreview(Gone);
  EXPECT_EQ(Missing.Error, 2);
  EXPECT_EQ(Missing.IncludedTotal + Missing.ExcludedTotal, 0u);
}

TEST_F(TaskPreviewTest, TheBackgroundPreviewDeliversTheSameResultOnItsOwnThread) {
  std::promise<TPreviewResult> Delivered;
  std::promise<std::thread::id> DeliveredOn;
  TTaskPreview Preview(Entry(), [&](TPreviewResult Result) {
    DeliveredOn.set_value(std::this_thread::get_id());
    Delivered.set_value(std::move(Result));
  });
  std::future<TPreviewResult> Future = Delivered.get_future();
  // A guard against a hang only: the walk of ten files ends long before.
  ASSERT_EQ(Future.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const TPreviewResult Result = Future.get();
  EXPECT_EQ(Result.Included, ExpectedIncluded());
  EXPECT_EQ(Result.Excluded, ExpectedExcluded());
  EXPECT_NE(DeliveredOn.get_future().get(), std::this_thread::get_id());
}

TEST(FilterVerdictTextTest, EveryReasonHasAText) {
  for (const TFilterVerdict V : {fvPasses, fvExtension, fvFileFilter, fvSubDirRule})
    EXPECT_FALSE(FilterVerdictText(V).empty());
  EXPECT_EQ(FilterVerdictText(fvSubDirRule), "sub-directory rule");
}

}  // namespace
}  // namespace dz
