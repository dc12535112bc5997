// A large source deflated in pieces on several threads: the output is still
// one deflate stream that restores the source, with the CRC of the whole
// source, for every size around the pieces' edges; stopping and pausing end
// the job with its usual code and leave no thread behind (a full disk:
// CopyFailureTest.cpp); one job at a time spreads its source.
//
// The pieces here are small (64 KiB) so that many edges are cheap to reach;
// every piece but the first then gets the last 32 KiB of the one before as
// its dictionary, so data that repeats across an edge tells a dictionary
// taken from the wrong place.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <stop_token>
#include <string>
#include <thread>

#include "CopyTestUtil.h"
#include "copyengine/CopyJob.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/ParallelDeflate.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::Le16;
using test::Le32;

constexpr std::size_t Piece = 64 * 1024;

// Every compressed source in pieces, on three helpers.
TParallelDeflateSettings SmallPieces(int Workers = 3) { return test::DeflateInPieces(Piece, Workers); }

// Every compressed source on the job's own thread.
TParallelDeflateSettings OneThread() {
  TParallelDeflateSettings Settings;
  Settings.MinSize = INT64_MAX;
  return Settings;
}

// A line of 1000 bytes over and over: nearly every match reaches back
// across the edge of a piece.
std::string Repeating(std::size_t Size) {
  std::string Line;
  for (int I = 0; Line.size() < 1000; ++I) Line += "record " + std::to_string(I * 7919 % 1000) + "; ";
  Line.resize(1000);
  std::string Out;
  while (Out.size() < Size) Out += Line;
  Out.resize(Size);
  return Out;
}

struct TForm {
  const char* Name;
  TCopyOptions Options;
  int Action;
};
constexpr TForm Forms[] = {
    {"gzip", CopyOptionsGzip, caGzip},
    {"zip deflated", CopyOptionsZipDeflated, caZip},
};

// The deflate data of an output and what its headers say of the source.
struct TMember {
  std::string Deflated;
  std::uint32_t Crc = 0;
  std::uint64_t Size = 0;
  bool Stored = false;  // a zip entry without deflate
};

TMember MemberOf(const std::string& Output, const TForm& Form, const std::string& Name) {
  TMember M;
  if (Form.Options & coZipCompress) {
    const std::size_t DataStart = 30 + Le16(Output, 26) + Le16(Output, 28);
    M.Stored = Le16(Output, 8) == 0;
    M.Crc = Le32(Output, 14);
    M.Size = Le32(Output, 22);
    M.Deflated = Output.substr(DataStart, Le32(Output, 18));
  } else {
    const std::size_t DataStart = 32 + Name.size() + 1;
    EXPECT_GE(Output.size(), DataStart + 8);
    M.Crc = Le32(Output, Output.size() - 8);
    M.Size = Le32(Output, Output.size() - 4);
    M.Deflated = Output.substr(DataStart, Output.size() - DataStart - 8);
  }
  return M;
}

class ParallelDeflateTest : public test::TLeakCheckedDirTest {
protected:
  static TCopyResult Run(const TCopyRequest& Request, const TParallelDeflateSettings& Settings,
                         std::stop_token Stop = {}) {
    TCopyJob Job;
    Job.SetParallelDeflate(Settings);
    return Job.Run(Request, std::move(Stop));
  }

  // Copies Data (as the file "src") in Form with Settings and checks that
  // the output restores it; gives the output.
  std::string CopyAndCheck(const std::string& Data, const TForm& Form, const TParallelDeflateSettings& Settings,
                           TCopyResult& Result) {
    test::WriteFileBytes(FDir / "src", Data);
    const std::string Dest = PathOf("dst");
    fs::remove(Dest);
    Result = Run({PathOf("src"), Dest, Form.Options}, Settings);
    EXPECT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    const std::string Output = test::ReadFileBytes(Dest);
    const TMember M = MemberOf(Output, Form, "src");
    EXPECT_EQ(Result.Crc, test::Crc32Of(Data));
    EXPECT_EQ(M.Crc, test::Crc32Of(Data));
    EXPECT_EQ(M.Size, Data.size());
    if (M.Stored)
      EXPECT_EQ(M.Deflated, Data);
    else
      EXPECT_TRUE(test::InflateRaw(M.Deflated) == Data) << "the deflate data does not restore the source";
    return Output;
  }
};

TEST_F(ParallelDeflateTest, EverySizeAroundThePiecesRestoresTheSource) {
  const std::size_t Sizes[] = {0, 1, Piece - 1, Piece, Piece + 1, 3 * Piece, 3 * Piece + 17};
  const struct {
    const char* Name;
    std::string (*Make)(std::size_t);
  } Kinds[] = {
      {"random", [](std::size_t N) { return test::RandomBytes(N, 7); }},
      {"mixed", [](std::size_t N) { return test::MixedBytes(N, 7); }},
      {"repeating", Repeating},
  };
  for (const TForm& Form : Forms) {
    for (const auto& Kind : Kinds) {
      for (const std::size_t Size : Sizes) {
        SCOPED_TRACE(std::string(Form.Name) + ", " + Kind.Name + ", " + std::to_string(Size) + " bytes");
        const std::string Data = Kind.Make(Size);
        TCopyResult Result;
        CopyAndCheck(Data, Form, SmallPieces(), Result);
        // A zip entry of nothing is stored, not deflated. Otherwise every
        // full piece and the last, shorter one (perhaps empty): a source of
        // whole pieces ends with an empty piece, as one thread ends its
        // input with the first short read.
        const bool Deflated = Size > 0 || !(Form.Options & coZipCompress);
        EXPECT_EQ(Result.DeflatePieces, Deflated ? static_cast<std::int64_t>(Size / Piece + 1) : 0);
        if (HasFailure()) return;
      }
    }
  }
}

// With the settings of the backup path: a source from the threshold up is
// spread, one below it is not; the CRC is that of one thread, and the
// output is hardly larger than one thread's.
TEST_F(ParallelDeflateTest, BackupSettingsSpreadASourceFromTheThresholdUp) {
  const TParallelDeflateSettings Backup;
  const auto Threshold = static_cast<std::size_t>(Backup.MinSize);
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    const std::string Data = test::MixedBytes(Threshold + Backup.PieceSize + 12345, 3);
    TCopyResult Spread, Single;
    const std::string SpreadOutput = CopyAndCheck(Data, Form, Backup, Spread);
    const std::string SingleOutput = CopyAndCheck(Data, Form, OneThread(), Single);
    EXPECT_EQ(Spread.DeflatePieces, static_cast<std::int64_t>(Data.size() / Backup.EffectivePieceSize() + 1));
    EXPECT_EQ(Single.DeflatePieces, 0);
    EXPECT_EQ(Spread.Crc, Single.Crc);
    EXPECT_LE(SpreadOutput.size(), SingleOutput.size() + SingleOutput.size() / 100)
        << "pieces cost more than 1% of the output";

    TCopyResult Below;
    CopyAndCheck(Data.substr(0, Threshold - 1), Form, Backup, Below);
    EXPECT_EQ(Below.DeflatePieces, 0) << "a source below the threshold was spread";
  }
}

// Each piece depends only on its bytes and the 32 KiB before it: the output
// is the same however many helpers there are and however they are
// scheduled.
TEST_F(ParallelDeflateTest, OutputIsTheSameWhateverTheNumberOfHelpers) {
  const std::string Data = test::MixedBytes(9 * Piece + 5, 11);
  std::string First;
  for (const int Workers : {1, 2, 5}) {
    SCOPED_TRACE(std::to_string(Workers) + " helpers");
    TCopyResult Result;
    // The deflate data alone: the header holds the source's time, which
    // moves as the source is written again.
    const std::string Deflated =
        MemberOf(CopyAndCheck(Data, Forms[0], SmallPieces(Workers), Result), Forms[0], "src").Deflated;
    EXPECT_EQ(Result.DeflatePieces, 10);
    if (First.empty())
      First = Deflated;
    else
      EXPECT_TRUE(Deflated == First) << "the output depends on the helpers";
  }
}

// Stopped after the first piece, or paused there and stopped while paused:
// the job ends with 0x080 without reading on, and the helpers are gone
// (TearDown).
TEST_F(ParallelDeflateTest, StopEndsTheJobAfterTheCurrentPiece) {
  const std::string Data = test::MixedBytes(40 * Piece, 5);
  test::WriteFileBytes(FDir / "src", Data);
  for (const bool Pause : {false, true}) {
    for (const TForm& Form : Forms) {
      SCOPED_TRACE(std::string(Form.Name) + (Pause ? ", paused first" : ""));
      std::stop_source Stop;
      TPauseGate Gate;
      std::promise<void> FirstPiece;
      int Reports = 0;
      TCopyRequest Request(PathOf("src"), PathOf("dst"), Form.Options);
      Request.PauseGate = &Gate;
      Request.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
        if (Count <= 0 || ++Reports > 1) return;
        if (Pause) {
          Gate.SetPaused(true);
          FirstPiece.set_value();
        } else {
          Stop.request_stop();
        }
      };
      std::thread Stopper;
      if (Pause)
        Stopper = std::thread([&] {
          FirstPiece.get_future().wait();
          Stop.request_stop();
        });
      const TCopyResult Result = Run(Request, SmallPieces(), Stop.get_token());
      if (Stopper.joinable()) Stopper.join();
      EXPECT_EQ(Result.ErrorCode, Form.Action | cjUserBreak);
      EXPECT_EQ(Reports, 1) << "the job read on after it was stopped";
      EXPECT_LT(fs::file_size(FDir / "dst"), Data.size() / 2) << "the job went on";
      fs::remove(FDir / "dst");
    }
  }
}

// One process spreads one source at a time: a second job compressing while
// the first one spreads deflates on its own thread, and both outputs are
// right.
TEST_F(ParallelDeflateTest, OneJobAtATimeSpreadsItsSource) {
  const std::string DataA = test::MixedBytes(6 * Piece + 1, 21);
  const std::string DataB = test::MixedBytes(5 * Piece + 2, 22);
  test::WriteFileBytes(FDir / "a", DataA);
  test::WriteFileBytes(FDir / "b", DataB);
  std::promise<void> AStarted, BDone;
  std::shared_future<void> BDoneFuture = BDone.get_future().share();
  TCopyRequest RequestA(PathOf("a"), PathOf("a.gz"), CopyOptionsGzip);
  RequestA.OnProgress = [&, Held = false](TFileAction, std::int64_t Count, bool) mutable {
    if (Count <= 0 || Held) return;
    Held = true;
    AStarted.set_value();
    BDoneFuture.wait();
  };
  TCopyResult ResultA;
  std::thread JobA([&] { ResultA = Run(RequestA, SmallPieces()); });
  AStarted.get_future().wait();
  const TCopyResult ResultB = Run({PathOf("b"), PathOf("b.gz"), CopyOptionsGzip}, SmallPieces());
  BDone.set_value();
  JobA.join();

  ASSERT_EQ(ResultA.ErrorCode, 0) << ResultA.SysErrorMsg;
  ASSERT_EQ(ResultB.ErrorCode, 0) << ResultB.SysErrorMsg;
  EXPECT_EQ(ResultA.DeflatePieces, 7);
  EXPECT_EQ(ResultB.DeflatePieces, 0) << "two jobs spread at once";
  EXPECT_TRUE(test::InflateRaw(MemberOf(test::ReadFileBytes(FDir / "a.gz"), Forms[0], "a").Deflated) == DataA);
  EXPECT_TRUE(test::InflateRaw(MemberOf(test::ReadFileBytes(FDir / "b.gz"), Forms[0], "b").Deflated) == DataB);
  EXPECT_EQ(ResultA.Crc, test::Crc32Of(DataA));
  EXPECT_EQ(ResultB.Crc, test::Crc32Of(DataB));
}

}  // namespace
}  // namespace dz
