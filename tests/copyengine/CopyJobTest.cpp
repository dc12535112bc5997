// The synchronous copy job: many files through one job object and its one
// buffer, a stop token, a pause gate the caller owns.

#include "copyengine/CopyJob.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "CopyTestUtil.h"
#include "copyengine/CopyJobCodes.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

using TForm = test::TOutputForm;
constexpr const auto& Forms = test::OutputForms;

// The source bytes an output holds, decoded without the writer's help: the
// name stored inside gzip and zip output goes to StoredName.
std::string ContentOf(const std::string& Output, TCopyOptions Options, std::string& StoredName) {
  if (Options & coZipCompress) {
    const std::size_t NameLength = test::Le16(Output, 26);
    const std::size_t Start = 30 + NameLength + test::Le16(Output, 28);
    StoredName = Output.substr(30, NameLength);
    const std::string_view Data = std::string_view(Output).substr(Start, test::Le32(Output, 18));
    return test::Le16(Output, 8) == 8 ? test::InflateRaw(Data) : std::string(Data);
  }
  if (Options & coCompress) {
    const std::size_t NameEnd = Output.find('\0', 32);
    StoredName = Output.substr(32, NameEnd - 32);
    return test::InflateRaw(std::string_view(Output).substr(NameEnd + 1, Output.size() - NameEnd - 1 - 8));
  }
  StoredName.clear();
  return Output;
}

class CopyJobTest : public test::TTempDirTest {};

// One job object copies file after file; its buffer, reused, gives no byte
// of a longer file to a shorter one that follows, and each result is the
// file's own.
TEST_F(CopyJobTest, SeveralFilesThroughOneJob) {
  constexpr int BufSize = 4096;
  const std::string Files[] = {
      test::RandomBytes(3 * BufSize + 100, 1),
      test::MixedBytes(BufSize - 1, 2),  // shorter than one block, after a full one
      "",
      "a few bytes",
      test::MixedBytes(5 * BufSize, 3),
  };
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    TCopyJob Job(BufSize);
    for (std::size_t I = 0; I < std::size(Files); ++I) {
      SCOPED_TRACE(I);
      const std::string Source = PathOf("src" + std::to_string(I));
      const std::string Dest = PathOf("out" + std::to_string(I) + Form.Extension);
      test::WriteFileBytes(Source, Files[I]);
      const TCopyResult Result = Job.Run({Source, Dest, Form.Options, "entry" + std::to_string(I)});
      ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
      EXPECT_EQ(Result.Crc, test::Crc32Of(Files[I]));
      EXPECT_TRUE(Result.SysErrorMsg.empty()) << Result.SysErrorMsg;
      const bool Deflated = (Form.Options & coCompress) != 0 && !Files[I].empty();
      EXPECT_EQ(Result.Ratio >= 0, Deflated);
      std::string StoredName;
      EXPECT_TRUE(ContentOf(test::ReadFileBytes(Dest), Form.Options, StoredName) == Files[I]);
      if (Form.Options != CopyOptionsPlain) {
        EXPECT_EQ(StoredName, "entry" + std::to_string(I));
      }
    }
  }
}

// A job that compressed files before, at other levels, or stopped in the
// middle of one, writes every file byte for byte as a new job does.
TEST_F(CopyJobTest, EachCompressedFileIsWrittenAsByANewJob) {
  const std::string Text = test::MixedBytes(200000, 7);
  test::WriteFileBytes(FDir / "text", Text);
  test::WriteFileBytes(FDir / "small", "small file, small file, small file");
  struct TStep {
    const char* Source;
    TCopyOptions Options;
    TZCompressionLevel Level;
    bool StopEarly;  // a stop request after the first block
  };
  const TStep Steps[] = {
      {"text", CopyOptionsGzip, TZCompressionLevel::zcDefault, false},
      {"small", CopyOptionsZipDeflated, TZCompressionLevel::zcMax, false},
      {"text", CopyOptionsGzip, TZCompressionLevel::zcFastest, true},
      {"text", CopyOptionsZipDeflated, TZCompressionLevel::zcNone, false},
      {"text", CopyOptionsGzip, TZCompressionLevel::zcDefault, false},
      {"small", CopyOptionsGzip, TZCompressionLevel::zcFastest, false},
  };
  TCopyJob Reused(4096);
  for (std::size_t I = 0; I < std::size(Steps); ++I) {
    const TStep& S = Steps[I];
    SCOPED_TRACE(I);
    TCopyRequest Request{PathOf(S.Source), PathOf("reused" + std::to_string(I)), S.Options};
    Request.CompressionLevel = S.Level;
    std::stop_source Stop;
    if (S.StopEarly)
      Request.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
        if (Count > 0) Stop.request_stop();
      };
    const TCopyResult Result = Reused.Run(Request, Stop.get_token());
    if (S.StopEarly) {
      EXPECT_EQ(Result.ErrorCode & CopyNumberMask, cjUserBreak & CopyNumberMask);
      continue;
    }
    ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    TCopyJob Fresh(4096);
    Request.DestName = PathOf("fresh" + std::to_string(I));
    ASSERT_EQ(Fresh.Run(Request).ErrorCode, 0);
    EXPECT_TRUE(test::ReadFileBytes(FDir / ("reused" + std::to_string(I))) ==
                test::ReadFileBytes(FDir / ("fresh" + std::to_string(I))));
  }
}

TEST_F(CopyJobTest, FailuresAreResultsAndTheJobGoesOn) {
  test::WriteFileBytes(FDir / "src", "data");
  TCopyJob Job;
  const struct {
    const char* Name;
    std::string Source, Dest;
    TCopyOptions Options;
    int Code;
  } Cases[] = {
      {"missing source", PathOf("missing"), PathOf("a"), CopyOptionsGzip, caGzip | cjFileNotFound},
      {"missing folder", PathOf("src"), PathOf("no/such/dir/a"), CopyOptionsZipStored, caZip | cjCreateFile},
      {"the source itself", PathOf("src"), PathOf("src"), CopyOptionsPlain, caCopy | cjDestIsSource},
      {"a good one", PathOf("src"), PathOf("b"), CopyOptionsPlain, 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TCopyResult Result = Job.Run({Case.Source, Case.Dest, Case.Options});
    EXPECT_EQ(Result.ErrorCode, Case.Code);
  }
  EXPECT_EQ(test::ReadFileBytes(FDir / "b"), "data");
}

// A new destination is created exclusively, without looking first: a name
// that is taken, by a file or by a link (dangling or not), is left exactly as
// it was, whatever the output form, and the caller learns that the name was
// the trouble.
TEST_F(CopyJobTest, NewDestinationNeverTouchesATakenName) {
  test::WriteFileBytes(FDir / "src", "new data");
  test::WriteFileBytes(FDir / "other", "other's");
  TCopyJob Job;
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    fs::remove_all(FDir / "d");
    fs::create_directory(FDir / "d");
    test::WriteFileBytes(FDir / "d" / "file", "keep");
    fs::create_symlink(FDir / "other", FDir / "d" / "link");
    fs::create_symlink(FDir / "d" / "nowhere", FDir / "d" / "dangling");
    for (const char* Taken : {"file", "link", "dangling"}) {
      SCOPED_TRACE(Taken);
      TCopyRequest Request(PathOf("src"), (FDir / "d" / Taken).string(), Form.Options | coOverwrite);
      Request.NewDestination = true;
      const TCopyResult Result = Job.Run(Request);
      EXPECT_EQ(Result.ErrorCode, CopyActionOf(Form.Options) | cjCreateFile);
      EXPECT_TRUE(Result.DestNameTaken);
    }
    EXPECT_EQ(test::ReadFileBytes(FDir / "d" / "file"), "keep");
    EXPECT_EQ(test::ReadFileBytes(FDir / "other"), "other's");
    EXPECT_FALSE(fs::exists(FDir / "d" / "nowhere"));

    TCopyRequest Request(PathOf("src"), (FDir / "d" / "free").string(), Form.Options);
    Request.NewDestination = true;
    const TCopyResult Result = Job.Run(Request);
    EXPECT_EQ(Result.ErrorCode, 0);
    EXPECT_FALSE(Result.DestNameTaken);
    EXPECT_EQ(Result.SourceSize, 8);
    std::string Stored;
    EXPECT_EQ(ContentOf(test::ReadFileBytes(FDir / "d" / "free"), Form.Options, Stored), "new data");
  }
}

// A stop request ends the job after its current block with 0x080; one made
// before the job begins ends it before any file is opened. The job object
// serves the next file as before.
TEST_F(CopyJobTest, StopTokenEndsTheJob) {
  const std::string Data = test::RandomBytes(4 * 4096, 5);
  test::WriteFileBytes(FDir / "src", Data);
  TCopyJob Job(4096);
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    std::stop_source Stop;
    int Blocks = 0;
    TCopyRequest Request{PathOf("src"), PathOf(std::string("dst") + Form.Extension), Form.Options};
    Request.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
      if (Count > 0 && ++Blocks == 1) Stop.request_stop();
    };
    TCopyResult Result = Job.Run(Request, Stop.get_token());
    EXPECT_EQ(Result.ErrorCode, Form.Action | cjUserBreak);
    EXPECT_EQ(Blocks, 1) << "the job went on after its current block";

    Result = Job.Run({PathOf("src"), PathOf("early"), Form.Options}, Stop.get_token());
    EXPECT_EQ(Result.ErrorCode, Form.Action | cjUserBreak);
    EXPECT_FALSE(fs::exists(FDir / "early")) << "a job stopped before it began made its destination";

    Result = Job.Run({PathOf("src"), PathOf("again"), Form.Options});
    ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    std::string StoredName;
    EXPECT_TRUE(ContentOf(test::ReadFileBytes(FDir / "again"), Form.Options, StoredName) == Data);
    fs::remove(FDir / "again");
  }
}

// The caller's gate holds the job before its next block; a stop request
// lets a paused job through without a resume, and it ends with 0x080.
TEST_F(CopyJobTest, PauseGateHoldsTheJobUntilResumedOrStopped) {
  test::WriteFileBytes(FDir / "src", test::RandomBytes(4 * 4096, 6));
  for (const bool Resume : {true, false}) {
    SCOPED_TRACE(Resume ? "resumed" : "stopped while paused");
    TCopyJob Job(4096);
    TPauseGate Gate;
    std::stop_source Stop;
    std::promise<void> Paused;
    int Blocks = 0;
    TCopyRequest Request{PathOf("src"), PathOf("dst"), CopyOptionsPlain};
    Request.PauseGate = &Gate;
    Request.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
      if (Count > 0 && ++Blocks == 1) {
        Gate.SetPaused(true);
        Paused.set_value();
      }
    };
    auto Running = std::async(std::launch::async, [&] { return Job.Run(Request, Stop.get_token()); });
    Paused.get_future().wait();
    EXPECT_EQ(Running.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout) << "a paused job went on";
    if (Resume)
      Gate.SetPaused(false);
    else
      Stop.request_stop();
    const TCopyResult Result = Running.get();
    EXPECT_EQ(Result.ErrorCode, Resume ? 0 : caCopy | cjUserBreak);
    EXPECT_EQ(Blocks, Resume ? 4 : 1);
    fs::remove(FDir / "dst");
  }
}

}  // namespace
}  // namespace dz
