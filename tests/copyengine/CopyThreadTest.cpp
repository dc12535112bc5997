// The copy worker: plain copies, what every form gives its destination, the
// option mask, progress reports, pausing, waiting and sources that change.

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "CopyTestUtil.h"
#include "base/MainThreadQueue.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/CopyThread.h"
#include "filesys/XlFileUtils.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class CopyThreadTest : public test::TTempDirTest {};

TEST_F(CopyThreadTest, PlainCopyOfSeveralBuffers) {
  const std::string Data = test::RandomBytes(2 * CopyThreadBufferSize + 333);
  test::WriteFileBytes(FDir / "src.bin", Data);
  const auto Result = test::RunCopyJob(PathOf("src.bin"), PathOf("dst.bin"), CopyOptionsPlain);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  EXPECT_TRUE(test::ReadFileBytes(FDir / "dst.bin") == Data);
  EXPECT_EQ(Result.Crc, test::Crc32Of(Data));
  EXPECT_EQ(Result.Ratio, -1);
  EXPECT_TRUE(Result.SysErrorMsg.empty()) << Result.SysErrorMsg;
}

TEST_F(CopyThreadTest, EmptySourceGivesEmptyCopy) {
  test::WriteFileBytes(FDir / "empty", "");
  const auto Result = test::RunCopyJob(PathOf("empty"), PathOf("copy"), CopyOptionsPlain);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  ASSERT_TRUE(fs::exists(FDir / "copy"));
  EXPECT_EQ(fs::file_size(FDir / "copy"), 0u);
  EXPECT_EQ(Result.Crc, 0u);
}

// Every form gives its output the source's last-write time and permission
// bits, private ones included.
TEST_F(CopyThreadTest, EveryFormKeepsTimeAndPermissions) {
  const struct {
    TCopyOptions Options;
    const char* Dest;
  } Forms[] = {{CopyOptionsPlain, "out"},
               {CopyOptionsGzip, "out.gz"},
               {CopyOptionsZipStored, "out.zip"},
               {CopyOptionsZipDeflated, "out.zip"}};
  // 0666 and 0460 are modes that creating a file under the umask cannot give.
  const std::uint32_t Modes[] = {0640, 0600, 0444, 0751, 0666, 0460};
  for (const auto& Form : Forms) {
    for (const std::uint32_t Mode : Modes) {
      SCOPED_TRACE(std::string(Form.Dest) + " mode " + std::to_string(Mode));
      test::WriteFileBytes(FDir / "src", test::MixedBytes(5000));
      fs::permissions(FDir / "src", fs::perms(Mode));
      test::SetMTime(FDir / "src", 1500000000);
      const auto Result = test::RunCopyJob(PathOf("src"), PathOf(Form.Dest), Form.Options);
      ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
      const TFileStatus Status = test::StatusOf(FDir / Form.Dest);
      EXPECT_EQ(PosixMode(Status), Mode);
      EXPECT_EQ(Status.LastWriteTime, test::UnixToFileTime(1500000000));
      fs::remove(FDir / "src");
      fs::remove(FDir / Form.Dest);
    }
  }
}

// While it is being written (and when a failure leaves it behind), a copy
// is readable by no one the source keeps out.
TEST_F(CopyThreadTest, CopyInProgressIsNoMoreOpenThanItsSource) {
  test::WriteFileBytes(FDir / "private", test::RandomBytes(CopyThreadBufferSize + 1));
  fs::permissions(FDir / "private", fs::perms(0600));
  const struct {
    TCopyOptions Options;
    const char* Dest;
  } Forms[] = {{CopyOptionsPlain, "out"}, {CopyOptionsGzip, "out.gz"}, {CopyOptionsZipDeflated, "out.zip"}};
  for (const auto& Form : Forms) {
    SCOPED_TRACE(Form.Dest);
    std::uint32_t ModeDuringCopy = 07777;
    const auto Result = test::RunCopyJob(PathOf("private"), PathOf(Form.Dest), Form.Options,
                                         [&](TFileAction, std::int64_t Count, bool) {
                                           if (Count > 0) ModeDuringCopy = PosixMode(test::StatusOf(FDir / Form.Dest));
                                         });
    ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    EXPECT_EQ(ModeDuringCopy & 077, 0u) << "mode while copying: " << std::oct << ModeDuringCopy;
  }
}

// Write-through flushes the copy to the disk before it is closed.
TEST_F(CopyThreadTest, WriteThroughCopies) {
  const std::string Data = test::MixedBytes(100000);
  test::WriteFileBytes(FDir / "src", Data);
  for (const TCopyOptions Extra : {coNoCache, coVerify}) {
    SCOPED_TRACE(Extra);
    const auto Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), CopyOptionsPlain | Extra);
    ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    EXPECT_TRUE(test::ReadFileBytes(FDir / "dst") == Data);
  }
}

// Without coAttributes and coTimeStamp the destination keeps what creating
// it gave it.
TEST_F(CopyThreadTest, WithoutAttributeAndTimeOptionsNothingIsCopied) {
  test::WriteFileBytes(FDir / "src", "data");
  fs::permissions(FDir / "src", fs::perms(0444));
  test::SetMTime(FDir / "src", 1000000000);
  const auto Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), coOverwrite);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  const TFileStatus Status = test::StatusOf(FDir / "dst");
  EXPECT_NE(Status.LastWriteTime, test::UnixToFileTime(1000000000));
  EXPECT_NE(PosixMode(Status) & 0200, 0u) << "the copy was made read-only";
}

TEST_F(CopyThreadTest, OptionMaskSetsTheJobsSettings) {
  test::WriteFileBytes(FDir / "src", "x");
  struct TCase {
    TCopyOptions Options;
    int ErrorType;
    bool Overwrite, CopyAttr, CopyTimeStamp, CheckTime, CreationTime, ResetArchive;
  } const Cases[] = {
      {CopyOptionsPlain, caCopy, true, true, true, false, false, false},
      {CopyOptionsGzip, caGzip, true, true, true, false, false, false},
      {CopyOptionsZipStored, caZip, true, true, true, false, false, false},
      {CopyOptionsZipDeflated, caZip, true, true, true, false, false, false},
      {0, caCopy, false, false, false, false, false, false},
      {coCheckTime | coCreationTime | coResetArchive, caCopy, false, false, false, true, true, true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Options);
    // Suspended and never started: the settings only, no job.
    TWinCopyThread Worker(PathOf("src"), PathOf("never"), Case.Options, true);
    EXPECT_EQ(Worker.ErrorType(), Case.ErrorType);
    EXPECT_EQ(Worker.Overwrite(), Case.Overwrite);
    EXPECT_EQ(Worker.CopyAttr(), Case.CopyAttr);
    EXPECT_EQ(Worker.CopyTimeStamp(), Case.CopyTimeStamp);
    EXPECT_EQ(Worker.CheckTime(), Case.CheckTime);
    EXPECT_EQ(Worker.CopyCreationTime(), Case.CreationTime);
    EXPECT_EQ(Worker.ResetArchiveBit(), Case.ResetArchive);
    EXPECT_FALSE(Worker.Done());
    EXPECT_EQ(Worker.ErrorCode(), 0);
  }
  EXPECT_FALSE(fs::exists(FDir / "never")) << "a worker that was never started copied";
}

TEST_F(CopyThreadTest, SuspendedWorkerRunsAfterStart) {
  test::WriteFileBytes(FDir / "src", "payload");
  TWinCopyThread Worker(PathOf("src"), PathOf("dst"), CopyOptionsPlain, true);
  EXPECT_FALSE(fs::exists(FDir / "dst"));
  Worker.Start();
  Worker.Start();  // a second start changes nothing
  Worker.Wait();
  EXPECT_TRUE(Worker.Done());
  EXPECT_EQ(Worker.ErrorCode(), 0);
  EXPECT_EQ(test::ReadFileBytes(FDir / "dst"), "payload");
}

// The backup worker's way: created running, then waited for from another
// thread while this one polls Done.
TEST_F(CopyThreadTest, WaitFromAnotherThreadSeesTheResult) {
  test::WriteFileBytes(FDir / "src", test::RandomBytes(3 * CopyThreadBufferSize));
  TWinCopyThread Worker(PathOf("src"), PathOf("dst"), CopyOptionsGzip);
  std::thread Waiter([&Worker] {
    Worker.Wait();
    EXPECT_EQ(Worker.ErrorCode(), 0);
  });
  Worker.Wait();
  Waiter.join();
  EXPECT_TRUE(Worker.Done());
  EXPECT_TRUE(Worker.Wait(std::chrono::milliseconds(0))) << "a finished worker's wait returns at once";
}

TEST_F(CopyThreadTest, OverwriteDecidesAboutAnExistingDestination) {
  test::WriteFileBytes(FDir / "src", "new content");
  test::WriteFileBytes(FDir / "dst", "old content that is longer");
  auto Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), coAttributes | coTimeStamp);
  EXPECT_EQ(Result.ErrorCode, caCopy | cjCreateFile);
  EXPECT_EQ(test::ReadFileBytes(FDir / "dst"), "old content that is longer");
  EXPECT_NE(Result.SysErrorMsg.find("dst"), std::string::npos) << Result.SysErrorMsg;

  Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), CopyOptionsPlain);
  EXPECT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  EXPECT_EQ(test::ReadFileBytes(FDir / "dst"), "new content");
}

struct TReport {
  TFileAction Action;
  std::int64_t Count;
  bool SpeedLimit;
};

TEST_F(CopyThreadTest, ProgressReportsActionTotalAndBlocks) {
  const std::int64_t Size = 2 * CopyThreadBufferSize + 10;
  test::WriteFileBytes(FDir / "src", test::MixedBytes(static_cast<std::size_t>(Size)));
  const struct {
    TCopyOptions Options;
    TFileAction Action;
    const char* Dest;
    int Reports;  // after the first one
  } Cases[] = {
      {CopyOptionsPlain, TFileAction::acCopy, "d", 3},
      {CopyOptionsGzip, TFileAction::acCompress, "d.gz", 3},
      {CopyOptionsZipStored, TFileAction::acCopy, "d.zip", 3},
      {CopyOptionsZipDeflated, TFileAction::acCompress, "d.zip", 3},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Dest);
    std::vector<TReport> Reports;
    const auto Result = test::RunCopyJob(PathOf("src"), PathOf(Case.Dest), Case.Options,
                                         [&Reports](TFileAction A, std::int64_t C, bool S) {
                                           Reports.push_back({A, C, S});
                                         });
    ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    ASSERT_EQ(Reports.size(), static_cast<std::size_t>(Case.Reports + 1));
    EXPECT_EQ(Reports[0].Action, Case.Action);
    EXPECT_EQ(Reports[0].Count, -Size);
    EXPECT_FALSE(Reports[0].SpeedLimit);
    EXPECT_EQ(Reports[1].Count, CopyThreadBufferSize);
    EXPECT_EQ(Reports[2].Count, 2 * CopyThreadBufferSize);
    EXPECT_EQ(Reports[3].Count, Size);
    for (std::size_t I = 1; I < Reports.size(); ++I) {
      EXPECT_EQ(Reports[I].Action, Case.Action);
      EXPECT_TRUE(Reports[I].SpeedLimit);
    }
  }
}

// With a main-thread queue the handler runs on the thread that processes it.
TEST_F(CopyThreadTest, ProgressRunsOnTheQueuesThread) {
  test::WriteFileBytes(FDir / "src", test::RandomBytes(CopyThreadBufferSize + 1));
  TPlainMainThreadQueue Queue;
  std::vector<std::thread::id> Threads;
  TWinCopyThread Worker(PathOf("src"), PathOf("dst"), CopyOptionsPlain, true);
  Worker.SetSyncQueue(&Queue);
  Worker.OnProgress = [&Threads](TFileAction, std::int64_t, bool) { Threads.push_back(std::this_thread::get_id()); };
  Worker.Start();
  // Processes the queue until the job is done, however long that takes.
  while (!Queue.WaitWhileProcessing([&Worker] { return Worker.Done(); }, std::chrono::seconds(1))) {
  }
  EXPECT_EQ(Worker.ErrorCode(), 0);
  ASSERT_EQ(Threads.size(), 3u);
  for (const auto& Id : Threads) EXPECT_EQ(Id, std::this_thread::get_id());
}

// A handler that raises ends the job with a code, never without one.
TEST_F(CopyThreadTest, RaisingProgressHandlerEndsTheJobWithACode) {
  test::WriteFileBytes(FDir / "src", test::RandomBytes(CopyThreadBufferSize + 1));
  const struct {
    const char* Name;
    int RaiseAt;  // the report that raises: 0 the announcement, 1 the first block
    TCopyOptions Options;
    int Code;
  } Cases[] = {
      {"announcement, plain", 0, CopyOptionsPlain, caCopy | cjJobFailed},
      {"block, plain", 1, CopyOptionsPlain, caCopy | cjReadFile},
      {"announcement, gzip", 0, CopyOptionsGzip, caGzip | cjJobFailed},
      {"block, gzip", 1, CopyOptionsGzip, caGzip | cjReadFile},
      {"block, zip", 1, CopyOptionsZipDeflated, caZip | cjReadFile},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    int Count = 0;
    const auto Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), Case.Options,
                                         [&Count, &Case](TFileAction, std::int64_t, bool) {
                                           if (Count++ == Case.RaiseAt) throw std::runtime_error("handler gave up");
                                         });
    EXPECT_EQ(Result.ErrorCode, Case.Code);
    EXPECT_EQ(Result.SysErrorMsg, "handler gave up");
  }
}

// A source that grows while it is copied: the plain copy holds what was
// there when the pass began; gzip and zip, whose headers depend on the size,
// refuse it.
TEST_F(CopyThreadTest, SourceThatGrowsDuringTheCopy) {
  const std::string Data = test::RandomBytes(CopyThreadBufferSize + 100);
  const struct {
    TCopyOptions Options;
    int Code;
  } Cases[] = {{CopyOptionsPlain, 0}, {CopyOptionsGzip, caGzip | cjReadFile}, {CopyOptionsZipDeflated, caZip | cjReadFile}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Options);
    test::WriteFileBytes(FDir / "src", Data);
    bool Grown = false;
    const auto Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), Case.Options,
                                         [&](TFileAction, std::int64_t Count, bool) {
                                           if (Count > 0 && !Grown) {
                                             Grown = true;
                                             std::ofstream(FDir / "src", std::ios::binary | std::ios::app) << "more";
                                           }
                                         });
    EXPECT_TRUE(Grown);
    EXPECT_EQ(Result.ErrorCode, Case.Code);
    if (Case.Code == 0) {
      EXPECT_TRUE(test::ReadFileBytes(FDir / "dst") == Data);
    }
  }
}

TEST_F(CopyThreadTest, SourceThatShrinksDuringTheCopy) {
  const struct {
    TCopyOptions Options;
    int Code;
  } Cases[] = {{CopyOptionsPlain, caCopy | cjReadFile},
               {CopyOptionsGzip, caGzip | cjReadFile},
               {CopyOptionsZipStored, caZip | cjReadFile},
               {CopyOptionsZipDeflated, caZip | cjReadFile}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Options);
    test::WriteFileBytes(FDir / "src", test::RandomBytes(2 * CopyThreadBufferSize + 100));
    const auto Result = test::RunCopyJob(PathOf("src"), PathOf("dst"), Case.Options,
                                         [&](TFileAction, std::int64_t Count, bool) {
                                           if (Count > 0) fs::resize_file(FDir / "src", CopyThreadBufferSize + 5);
                                         });
    EXPECT_EQ(Result.ErrorCode, Case.Code);
  }
}

// Only a regular file has an end: a device would be read forever.
TEST_F(CopyThreadTest, DeviceSourceIsRefused) {
  if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero here";
  const auto Result = test::RunCopyJob("/dev/zero", PathOf("zero.gz"), CopyOptionsGzip);
  EXPECT_EQ(Result.ErrorCode, caGzip | cjOpenFile);
  EXPECT_FALSE(fs::exists(FDir / "zero.gz"));
}

TEST_F(CopyThreadTest, PauseInTheMiddleHoldsTheJobUntilResumed) {
  const std::string Data = test::RandomBytes(3 * CopyThreadBufferSize);
  test::WriteFileBytes(FDir / "src", Data);
  std::promise<void> PausedAtBlock;
  std::int64_t CountWhenResumed = 0;
  TWinCopyThread Worker(PathOf("src"), PathOf("dst"), CopyOptionsPlain, true);
  int Reports = 0;
  Worker.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
    if (++Reports == 2) {  // the first block
      Worker.SetPaused(true);
      PausedAtBlock.set_value();
    } else if (Reports == 3) {
      CountWhenResumed = Count;
    }
  };
  Worker.Start();
  PausedAtBlock.get_future().wait();
  EXPECT_TRUE(Worker.Paused());
  EXPECT_FALSE(Worker.Wait(std::chrono::milliseconds(100))) << "a paused job went on";
  EXPECT_EQ(Reports, 2);
  Worker.SetPaused(false);
  Worker.Wait();
  EXPECT_EQ(Worker.ErrorCode(), 0);
  EXPECT_EQ(CountWhenResumed, 2 * CopyThreadBufferSize);
  EXPECT_TRUE(test::ReadFileBytes(FDir / "dst") == Data);
}

// A worker that tells what its job ended with, also while it is destroyed.
class TRecordingWorker : public TGZipThread {
public:
  TRecordingWorker(const std::string& Source, const std::string& Dest, int& Recorded)
      : TGZipThread(Source, Dest, true), FRecorded(Recorded) {}
  // It overrides DoneThread, which the job's thread calls: the thread must
  // end before this part of the object goes.
  ~TRecordingWorker() override { StopAndJoin(); }

protected:
  void DoneThread(int Code) override {
    TGZipThread::DoneThread(Code);
    FRecorded = ErrorCode();
  }

private:
  int& FRecorded;
};

// Destroying a worker whose job still runs (here paused in the middle of its
// data) cancels the job: the destructor returns without a resume, and the
// job ended with 0x080 after its current block.
TEST_F(CopyThreadTest, DestroyingAPausedWorkerCancelsItsJob) {
  test::WriteFileBytes(FDir / "src", test::RandomBytes(3 * CopyThreadBufferSize));
  std::promise<void> Paused;
  int Recorded = -1;
  int Blocks = 0;
  {
    TRecordingWorker Worker(PathOf("src"), PathOf("dst.gz"), Recorded);
    Worker.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
      if (Count > 0 && ++Blocks == 1) {
        Worker.SetPaused(true);
        Paused.set_value();
      }
    };
    Worker.Start();
    Paused.get_future().wait();
  }
  EXPECT_EQ(Recorded, caGzip | cjUserBreak);
  EXPECT_EQ(Blocks, 1) << "the job went on after its current block";
}

}  // namespace
}  // namespace dz
