// Copy jobs that fail on real faults: a full disk, missing or unreadable
// sources, missing or read-only destinations, cancelling, pausing at the end.
// Every job must end with its code, and no thread or descriptor may outlive
// the worker.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "CopyTestUtil.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/CopyThread.h"
#include "platform/FileOps.h"
#include "platform/posix/PosixFileOps.h"
#include "support/AsUser.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

using TForm = test::TOutputForm;
constexpr const auto& Forms = test::OutputForms;
using test::TLeakCheck;

class CopyFailureTest : public test::TLeakCheckedDirTest {};

TEST_F(CopyFailureTest, SourceVanishesBeforeTheJob) {
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    test::WriteFileBytes(FDir / "src", "soon gone");
    TWinCopyThread Worker(PathOf("src"), PathOf("dst"), Form.Options, true);
    fs::remove(FDir / "src");
    Worker.Start();
    Worker.Wait();
    EXPECT_EQ(Worker.ErrorCode(), Form.Action | cjFileNotFound);
    EXPECT_FALSE(fs::exists(FDir / "dst"));
  }
}

TEST_F(CopyFailureTest, DestinationCannotBeCreated) {
  test::WriteFileBytes(FDir / "src", "data");
  const struct {
    const char* Name;
    std::string Dest;
  } Cases[] = {
      {"folder missing", PathOf("missing/dst")},
      {"no name", ""},
      {"a folder of that name", FDir.string()},
  };
  for (const auto& Case : Cases) {
    for (const TForm& Form : Forms) {
      SCOPED_TRACE(std::string(Case.Name) + ", " + Form.Name);
      const auto Result = test::RunCopyJob(PathOf("src"), Case.Dest, Form.Options);
      EXPECT_EQ(Result.ErrorCode, Form.Action | cjCreateFile);
    }
  }
  EXPECT_FALSE(fs::exists(FDir / "missing"));
}

// Permission checks need a user that root is not: the unprivileged part runs
// as "nobody" in a child process when the tests run as root.
class CopyPermissionTest : public CopyFailureTest {
protected:
  void SetUp() override {
    CopyFailureTest::SetUp();
    FOut = FDir / "out";
    fs::create_directory(FOut);
    if (test::RunningAsRoot()) {
      fs::permissions(FDir, fs::perms(0755));
      ASSERT_EQ(ChangeOwner(FOut.string(), test::NobodyId, test::NobodyId, false), 0);
    }
  }
  // Runs a job unprivileged; its code in hexadecimal, or the skip reason.
  std::string RunAsUser(const std::string& Source, const std::string& Dest, TCopyOptions Options) {
    const test::TUnprivilegedRun Run = test::RunUnprivileged([&] {
      TWinCopyThread Worker(Source, Dest, Options);
      Worker.Wait();
      return SafeFormat("0x%.4x", Worker.ErrorCode());
    });
    if (!Run.Ran) FSkipReason = Run.WhyNot;
    return Run.Output;
  }
  static std::string Hex(int Code) { return SafeFormat("0x%.4x", Code); }

  fs::path FOut;
  std::string FSkipReason;
};

TEST_F(CopyPermissionTest, SourceWithoutReadPermission) {
  test::WriteFileBytes(FDir / "secret", "not for everyone");
  fs::permissions(FDir / "secret", fs::perms::none);
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    const std::string Code = RunAsUser(PathOf("secret"), (FOut / "copy").string(), Form.Options);
    if (!FSkipReason.empty()) GTEST_SKIP() << "cannot run as an unprivileged user: " << FSkipReason;
    EXPECT_EQ(Code, Hex(Form.Action | cjOpenFile));
    EXPECT_FALSE(fs::exists(FOut / "copy"));
  }
}

TEST_F(CopyPermissionTest, ReadOnlyDestination) {
  test::WriteFileBytes(FDir / "src", "new");
  fs::permissions(FDir / "src", fs::perms(0640));
  if (test::RunningAsRoot()) {
    ASSERT_EQ(ChangeOwner(PathOf("src"), test::NobodyId, test::NobodyId, false), 0);
  }
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    const fs::path Dest = FOut / "dst";
    test::WriteFileBytes(Dest, "old");
    fs::permissions(Dest, fs::perms(0444));
    if (test::RunningAsRoot()) {
      ASSERT_EQ(ChangeOwner(Dest.string(), test::NobodyId, test::NobodyId, false), 0);
    }

    std::string Code = RunAsUser(PathOf("src"), Dest.string(), Form.Options & ~coOverwrite);
    if (!FSkipReason.empty()) GTEST_SKIP() << "cannot run as an unprivileged user: " << FSkipReason;
    EXPECT_EQ(Code, Hex(Form.Action | cjCreateFile)) << "without coOverwrite";
    EXPECT_EQ(test::ReadFileBytes(Dest), "old");

    Code = RunAsUser(PathOf("src"), Dest.string(), Form.Options);
    EXPECT_EQ(Code, "0x0000") << "with coOverwrite";
    EXPECT_NE(test::ReadFileBytes(Dest), "old");
    EXPECT_EQ(PosixMode(test::StatusOf(Dest)), 0640u) << "the copy has the source's permissions";
    fs::remove(Dest);
  }
}

// A read-only destination whose attributes this user may not change.
TEST_F(CopyPermissionTest, ReadOnlyDestinationOfAnotherUser) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to give the destination to another user";
  test::WriteFileBytes(FDir / "src", "new");
  fs::permissions(FDir / "src", fs::perms(0644));
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    const fs::path Dest = FOut / "dst";
    test::WriteFileBytes(Dest, "old");
    fs::permissions(Dest, fs::perms(0444));  // root's file
    const std::string Code = RunAsUser(PathOf("src"), Dest.string(), Form.Options);
    if (!FSkipReason.empty()) GTEST_SKIP() << "cannot run as an unprivileged user: " << FSkipReason;
    EXPECT_EQ(Code, Hex(Form.Action | cjResetAttributes));
    EXPECT_EQ(test::ReadFileBytes(Dest), "old");
    fs::remove(Dest);
  }
}

// A large sparse source, cancelled at its first block.
TEST_F(CopyFailureTest, CancelInTheMiddle) {
  const std::uintmax_t Size = 64u << 20;
  { std::ofstream(FDir / "big", std::ios::binary); }
  fs::resize_file(FDir / "big", Size);
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    TWinCopyThread Worker(PathOf("big"), PathOf("dst"), Form.Options, true);
    int Blocks = 0;
    Worker.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
      if (Count > 0 && ++Blocks == 1) Worker.CancelThread();
    };
    Worker.Start();
    Worker.Wait();
    EXPECT_EQ(Worker.ErrorCode(), Form.Action | cjUserBreak);
    EXPECT_EQ(Blocks, 1) << "the job went on after its current block";
    EXPECT_LT(fs::file_size(FDir / "dst"), Size) << "the copy is complete";
    fs::remove(FDir / "dst");
  }
}

// A worker paused while its last block is reported finishes its job, then
// waits before it becomes done.
TEST_F(CopyFailureTest, PausedAtTheEndBecomesDoneOnlyWhenResumed) {
  const std::string Data = test::MixedBytes(CopyThreadBufferSize + 1000);
  test::WriteFileBytes(FDir / "src", Data);
  test::SetMTime(FDir / "src", 1400000000);
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    TWinCopyThread Worker(PathOf("src"), PathOf("dst"), Form.Options, true);
    Worker.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
      if (Count == static_cast<std::int64_t>(Data.size())) Worker.SetPaused(true);
    };
    Worker.Start();
    // The time stamp is among the job's last steps before it ends; ctest's
    // time-out ends the wait for a job that never gets there.
    TFileStatus Status;
    while (PathStatus(PathOf("dst"), false, Status) != 0 || Status.LastWriteTime != test::UnixToFileTime(1400000000))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(Worker.Paused());
    EXPECT_FALSE(Worker.Wait(std::chrono::milliseconds(200))) << "done while paused";
    Worker.SetPaused(false);
    Worker.Wait();
    EXPECT_EQ(Worker.ErrorCode(), 0);
    EXPECT_FALSE(Worker.Paused());
    Worker.SetPaused(true);
    EXPECT_FALSE(Worker.Paused()) << "a finished worker cannot be paused";
    fs::remove(FDir / "dst");
  }
}

// ---------------------------------------------------------------------------
// A full disk: the destination is a tmpfs of 64 KiB; sources live elsewhere.

class FullDiskTest : public test::TTmpfsTest<64> {
protected:
  static constexpr std::size_t DiskSize = 64 * 1024;

  void SetUp() override {
    FLeaks.Start();
    test::TTmpfsTest<64>::SetUp();
    if (IsSkipped()) return;
    std::random_device Random;
    FSrc = fs::temp_directory_path() / ("dz-src-" + std::to_string(Random()) + "-" + std::to_string(Random()));
    fs::create_directories(FSrc);
  }
  void TearDown() override {
    if (!FSrc.empty()) {
      std::error_code Ignored;
      fs::remove_all(FSrc, Ignored);
    }
    test::TTmpfsTest<64>::TearDown();
    FLeaks.Verify();
  }
  std::string Source(const std::string& Name, const std::string& Content) {
    test::WriteFileBytes(FSrc / Name, Content);
    return (FSrc / Name).string();
  }

  fs::path FSrc;
  TLeakCheck FLeaks;
};

// On the job's thread, and deflated in pieces on helper threads.
TEST_F(FullDiskTest, DataDoesNotFit) {
  const std::string Src = Source("src", test::RandomBytes(200 * 1024));
  for (const bool InPieces : {false, true}) {
    for (const TForm& Form : Forms) {
      if (InPieces && !(Form.Options & coCompress)) continue;
      SCOPED_TRACE(std::string(Form.Name) + (InPieces ? ", in pieces" : ""));
      TCopyJob Job;
      if (InPieces) Job.SetParallelDeflate(test::DeflateInPieces(32 * 1024));
      const TCopyResult Result = Job.Run({Src, PathOf("dst"), Form.Options});
      EXPECT_EQ(Result.ErrorCode, Form.Action | cjLowDiskSpace);
      EXPECT_NE(Result.SysErrorMsg.find("(0x00070070)"), std::string::npos) << Result.SysErrorMsg;
      EXPECT_EQ(Result.DeflatePieces > 0, InPieces);
      const std::string Partial = test::ReadFileBytes(FDir / "dst");
      EXPECT_FALSE(Partial.empty()) << "the partly written destination stays";
      if (Form.Action == caGzip) {
        ASSERT_GE(Partial.size(), 32u);
        EXPECT_EQ(Partial.substr(16, 16), std::string(16, '\0')) << "sizes of an incomplete member";
      }
      fs::remove(FDir / "dst");
    }
  }
}

TEST_F(FullDiskTest, HeaderDoesNotFit) {
  const std::string Src = Source("src", "a few bytes");
  Fill(FDir / "filler");
  const struct {
    TForm Form;
    int Code;
  } Cases[] = {
      {Forms[0], caCopy | cjLowDiskSpace},
      {Forms[1], caGzip | cjLowDiskSpace},
      {Forms[2], caZip | cjZipWrite},
      {Forms[3], caZip | cjZipWrite},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Form.Name);
    const auto Result = test::RunCopyJob(Src, PathOf("dst"), Case.Form.Options);
    EXPECT_EQ(Result.ErrorCode, Case.Code);
    EXPECT_NE(Result.SysErrorMsg.find("(0x00070070)"), std::string::npos) << Result.SysErrorMsg;
    fs::remove(FDir / "dst");
  }
}

// The local header and the data fill the disk to its last byte; the central
// directory finds no room.
TEST_F(FullDiskTest, ZipCentralDirectoryDoesNotFit) {
  const std::string Src = Source("z", test::RandomBytes(DiskSize - 30 - 1));
  const auto Result = test::RunCopyJob(Src, PathOf("z.zip"), CopyOptionsZipStored);
  EXPECT_EQ(Result.ErrorCode, caZip | cjZipWrite);
  const std::string Partial = test::ReadFileBytes(FDir / "z.zip");
  ASSERT_EQ(Partial.size(), DiskSize);
  EXPECT_EQ(test::Le32(Partial, 14), test::Crc32Of(Partial.substr(31))) << "the local header was patched";
  EXPECT_EQ(Partial.find(std::string("PK\x05\x06", 4)), std::string::npos) << "an end record was written";
}

// Header and deflate data fill the disk to its last byte; the trailer finds
// no room. The source's length is searched so that its deflate data has
// exactly the size that leaves no byte over.
TEST_F(FullDiskTest, GzipTrailerDoesNotFit) {
  const std::size_t HeaderSize = 32 + 2;  // name "t" and its 0
  std::string Data;
  for (unsigned Seed = 1; Seed < 20 && Data.empty(); ++Seed) {
    std::size_t Length = DiskSize - HeaderSize - 64;
    for (int Step = 0; Step < 10; ++Step) {
      const std::string Candidate = test::RandomBytes(Length, Seed);
      const std::size_t Total = HeaderSize + test::DeflateRaw(Candidate).size();
      if (Total == DiskSize) {
        Data = Candidate;
        break;
      }
      Length = Length + DiskSize - Total;
    }
  }
  ASSERT_FALSE(Data.empty()) << "no source found whose member fills the disk exactly";
  const std::string Src = Source("t", Data);
  const auto Result = test::RunCopyJob(Src, PathOf("t.gz"), CopyOptionsGzip);
  EXPECT_EQ(Result.ErrorCode, caGzip | cjLowDiskSpace);
  const std::string Partial = test::ReadFileBytes(FDir / "t.gz");
  ASSERT_EQ(Partial.size(), DiskSize) << "header and data should have filled the disk";
  EXPECT_EQ(Partial.substr(16, 16), std::string(16, '\0')) << "sizes of an incomplete member";
}

}  // namespace
}  // namespace dz
