// The data pass of a copy: what it writes, counts and checksums, where each
// hook stops it, and the code of every failure.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CopyTestUtil.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/DataLoop.h"
#include "filesys/FileUtils.h"
#include "platform/SysError.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

using test::Crc32Of;

// The pass over a source file into a destination file, recording the
// hooks' calls.
class DataLoopTest : public test::TTempDirTest {
protected:
  struct TRun {
    int Code = -1;
    TDataPassTotals Totals;
    int BlocksBegun = 0;
    std::vector<std::int64_t> Reported;  // BlockRead's arguments
    std::string Written;
  };

  // BlockReadCode and StopAfter act at the block with that number (1 =
  // the first); 0 never.
  TRun Run(const std::string& Content, std::size_t BufferSize, std::int64_t Length, bool WithDest = true,
           TDataPassTotals Start = {}, int StopAtBlock = 0, int BlockReadCode = 0) {
    test::WriteFileBytes(FDir / "source", Content);
    TExtFileStream Source(PathOf("source"), fmOpenRead | fmShareDenyNone);
    TExtFileStream Dest(PathOf("dest"), fmCreate);
    std::vector<char> Buffer(BufferSize);
    TRun Result;
    Result.Totals = Start;
    TDataPassHooks Hooks;
    Hooks.BeforeBlock = [&] {
      ++Result.BlocksBegun;
      return true;
    };
    Hooks.BlockRead = [&](std::int64_t Done) {
      Result.Reported.push_back(Done);
      return Result.BlocksBegun == StopAtBlock ? BlockReadCode : 0;
    };
    Hooks.StopRequested = [&] { return BlockReadCode == 0 && Result.BlocksBegun == StopAtBlock; };
    Result.Code = RunDataPass(Source, WithDest ? &Dest : nullptr, Buffer, Length, Hooks, Result.Totals);
    Dest.Close();
    Result.Written = test::ReadFileBytes(FDir / "dest");
    return Result;
  }
};

TEST_F(DataLoopTest, CopiesCountsAndChecksumsEveryBlock) {
  const std::string Data = test::MixedBytes(100, 3);
  const struct {
    const char* Name;
    std::string Content;
    std::size_t Buffer;
    std::vector<std::int64_t> Reported;
  } Cases[] = {
      {"several blocks and a short last one", Data, 30, {30, 60, 90, 100}},
      {"an exact multiple: no read past the end", Data, 25, {25, 50, 75, 100}},
      {"one block", Data, 4096, {100}},
      {"a one-byte buffer", Data.substr(0, 3), 1, {1, 2, 3}},
      {"an empty source: one read of nothing", "", 16, {0}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TRun R = Run(C.Content, C.Buffer, static_cast<std::int64_t>(C.Content.size()));
    EXPECT_EQ(R.Code, 0);
    EXPECT_EQ(R.Written, C.Content);
    EXPECT_EQ(R.Totals.Crc, Crc32Of(C.Content));
    EXPECT_EQ(R.Totals.Done, static_cast<std::int64_t>(C.Content.size()));
    EXPECT_EQ(R.Totals.SysError, 0);
    EXPECT_EQ(R.Reported, C.Reported);
    EXPECT_EQ(R.BlocksBegun, static_cast<int>(C.Reported.size()));
  }
}

TEST_F(DataLoopTest, ContinuesTheTotalsItIsGiven) {
  const TRun R = Run("world", 2, 5, true, {Crc32Of("hello "), 6, 0});
  EXPECT_EQ(R.Code, 0);
  EXPECT_EQ(R.Totals.Crc, Crc32Of("hello world"));
  EXPECT_EQ(R.Totals.Done, 11);
  EXPECT_EQ(R.Reported, (std::vector<std::int64_t>{8, 10, 11}));
}

TEST_F(DataLoopTest, WithoutDestinationOnlyCountsAndChecksums) {
  const std::string Data = test::MixedBytes(1000, 5);
  const TRun R = Run(Data, 300, 1000, false);
  EXPECT_EQ(R.Code, 0);
  EXPECT_EQ(R.Written, "");
  EXPECT_EQ(R.Totals.Crc, Crc32Of(Data));
  EXPECT_EQ(R.Totals.Done, 1000);
}

// Each way to end early: how much was counted, checksummed and written.
TEST_F(DataLoopTest, EndsEarlyWithTheCodeOfWhatStoppedIt) {
  const std::string Data = test::MixedBytes(100, 9);
  const struct {
    const char* Name;
    std::int64_t Length;
    int StopAtBlock;
    int BlockReadCode;
    int Code;
    std::size_t Counted;  // bytes counted and checksummed
    std::size_t Written;
  } Cases[] = {
      // 30, 30, 30, then 10 of the 20 asked for: that block is dropped.
      {"the source ends before Length", 110, 0, 0, cjReadFile, 90, 90},
      // The block that the progress report refused is checksummed, not written.
      {"the progress report fails", 100, 2, cjReadFile, cjReadFile, 60, 30},
      {"another code from the report", 100, 1, cjJobFailed, cjJobFailed, 30, 0},
      // A stop lets the current block through.
      {"a stop after the second block", 100, 2, 0, cjUserBreak, 60, 60},
      {"a stop after the last block still stops", 100, 4, 0, cjUserBreak, 100, 100},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TRun R = Run(Data, 30, C.Length, true, {}, C.StopAtBlock, C.BlockReadCode);
    EXPECT_EQ(R.Code, C.Code);
    EXPECT_EQ(R.Totals.Done, static_cast<std::int64_t>(C.Counted));
    EXPECT_EQ(R.Totals.Crc, Crc32Of(std::string_view(Data).substr(0, C.Counted)));
    EXPECT_EQ(R.Written, Data.substr(0, C.Written));
    EXPECT_EQ(R.Totals.SysError, 0);
  }
}

TEST_F(DataLoopTest, SystemFailuresGiveTheirCodes) {
  test::WriteFileBytes(FDir / "source", "content");
  std::vector<char> Buffer(4);
  {
    SCOPED_TRACE("an empty buffer");
    TExtFileStream Source(PathOf("source"), fmOpenRead);
    TDataPassTotals Totals;
    EXPECT_EQ(RunDataPass(Source, nullptr, {}, 7, {}, Totals), cjReadFile);
    EXPECT_EQ(Totals.SysError, ErrInvalidParameter);
    EXPECT_EQ(Totals.Done, 0);
  }
  {
    SCOPED_TRACE("a source that cannot be read");
    TExtFileStream Source(PathOf("source"), fmOpenWrite);
    TDataPassTotals Totals;
    EXPECT_EQ(RunDataPass(Source, nullptr, Buffer, 7, {}, Totals), cjReadFile);
    EXPECT_EQ(Totals.SysError, ErrInvalidHandle);
    EXPECT_EQ(Totals.Done, 0);
  }
  {
    SCOPED_TRACE("a destination that cannot be written");
    TExtFileStream Source(PathOf("source"), fmOpenRead);
    TExtFileStream Dest(PathOf("source"), fmOpenRead);
    TDataPassTotals Totals;
    EXPECT_EQ(RunDataPass(Source, &Dest, Buffer, 7, {}, Totals), cjWriteFile);
    EXPECT_EQ(Totals.SysError, ErrInvalidHandle);
    EXPECT_EQ(Totals.Done, 4);  // the first block was read and checksummed
    EXPECT_EQ(Totals.Crc, Crc32Of("cont"));
  }
}

using DataLoopFullDiskTest = test::TTmpfsTest<64>;

TEST_F(DataLoopFullDiskTest, FullDiskIsLowDiskSpace) {
  const std::string Data = test::MixedBytes(40 * 1024, 13);
  test::WriteFileBytes(FDir / "source", Data);
  TExtFileStream Source(PathOf("source"), fmOpenRead);
  TExtFileStream Dest(PathOf("dest"), fmCreate);
  std::vector<char> Buffer(8192);
  TDataPassTotals Totals;
  EXPECT_EQ(RunDataPass(Source, &Dest, Buffer, static_cast<std::int64_t>(Data.size()), {}, Totals), cjLowDiskSpace);
  EXPECT_EQ(Totals.SysError, ErrDiskFull);
  EXPECT_LT(Totals.Done, static_cast<std::int64_t>(Data.size()));
}

}  // namespace
}  // namespace dz
