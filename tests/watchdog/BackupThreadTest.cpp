#include "watchdog/BackupThread.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstring>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/MainThreadQueue.h"
#include "copyengine/CopyJobCodes.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "support/AsUser.h"
#include "support/LoopVolumes.h"
#include "watchdog/CurrentCopy.h"
#include "platform/FileOps.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr const char* Now = "09.12.2026 14:03:27";

// The main-thread queue of the tests, counting the calls handed to it.
class TCountingQueue final : public TMainThreadQueue {
public:
  bool Post(TCall Call) override {
    ++FPosts;
    return FInner.Post(std::move(Call));
  }
  std::size_t ProcessPending() override { return FInner.ProcessPending(); }
  bool WaitWhileProcessing(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) override {
    return FInner.WaitWhileProcessing(Done, Timeout);
  }
  void Wake() override { FInner.Wake(); }
  void Close() override { FInner.Close(); }
  int Posts() const { return FPosts.load(); }

private:
  TPlainMainThreadQueue FInner;
  std::atomic<int> FPosts{0};
};

using TStep = TBackupThread::TStep;
using TStepAt = std::pair<TStep, std::size_t>;

template <class TBase>
class TBackupThreadFixture : public TBase {
protected:
  void SetUp() override {
    TBase::SetUp();
    FSrc = (this->FDir / "src").string();
    FDst = (this->FDir / "dst").string() + "/";
    fs::create_directories(FSrc);
    fs::create_directories(FDst);
  }

  std::string Source(const std::string& Rel) const { return JoinPath(FSrc, Rel); }
  // Where the copy of Rel goes, without suffix.
  std::string Target(const std::string& Rel) const { return JoinPath(FDst, PathWithoutDrive(Source(Rel))); }
  std::string TargetDir() const { return Target(""); }

  // Runs a worker over Files and pumps the queue until it has finished.
  void Run(const std::vector<std::string>& Files, int Compress = 0, int Retain = 0,
           TBackupThread::TStepHook Hook = {}, std::string Drv = {}, bool Flush = true) {
    TMatchList List;
    List.Assign(Files);
    FLines.clear();
    FDone.clear();
    FSteps.clear();
    FLinesTaken.store(0);
    FCurrent.store(nullptr);
    TCountingQueue Queue;
    FWorker = std::make_unique<TBackupThread>(
        1, FDst, FSrc, Drv, FNoComp, List, Compress, Retain,
        [this](const std::string& Line) {
          FLines.push_back(Line);
          ++FLinesTaken;
        },
        [this](const TBackupFileResult& Result) { FDone.push_back(Result); }, Queue, FTimeText,
        [this, Hook = std::move(Hook)](TStep Step, std::size_t Index) {
          FSteps.emplace_back(Step, Index);  // on the worker's thread, read after it has ended
          // The worker starts in its constructor: a hook that asks FCurrent
          // waits until it names this worker.
          FCurrent.wait(nullptr);
          if (Hook) Hook(Step, Index);
        },
        Flush);
    FCurrent.store(FWorker.get());
    FCurrent.notify_all();
    ASSERT_TRUE(Queue.WaitWhileProcessing([this] { return FWorker->Finished(); }, std::chrono::minutes(5)));
    FWorker->Wait();
    Queue.ProcessPending();
    FHandOvers = Queue.Posts();
  }

  std::string LineFor(const std::string& Rel, int Moved = 0) const {
    std::string Line = std::string(Now) + " - 01: " + Source(Rel) + " => " + FDst;
    if (Moved > 0) Line += " (+" + std::to_string(Moved) + ")";
    return Line;
  }

  // The index of the last file of every batch, in order.
  std::vector<std::size_t> BatchEnds() const {
    std::vector<std::size_t> Ends;
    for (const auto& [Step, Index] : FSteps)
      if (Step == TStep::stAfterBatchFlush) Ends.push_back(Index);
    return Ends;
  }

  std::string FSrc, FDst;
  std::string FNoComp = "jpg,Zip";  // the extensions never compressed
  TTimeTextFunc FTimeText = [] { return std::string(Now); };
  std::vector<std::string> FLines;
  std::vector<TBackupFileResult> FDone;  // as told on the main thread, in order
  std::vector<TStepAt> FSteps;
  std::atomic<std::size_t> FLinesTaken{0};  // read on the worker's thread
  int FHandOvers = 0;  // calls handed to the main thread
  std::unique_ptr<TBackupThread> FWorker;
  std::atomic<TBackupThread*> FCurrent{nullptr};
};

using TBackupThreadTest = TBackupThreadFixture<test::TTempDirTest>;

TEST(BackupCopyKindTest, OptionsAndSuffixFollowTheCompressionAndTheNoCompressList) {
  constexpr auto Default = TZCompressionLevel::zcDefault;
  struct TCase {
    int Compress;
    bool NoComp;
    const char* Extension;
    TCopyOptions Options;
    const char* Suffix;
    TZCompressionLevel Level;
  };
  const TCase Cases[] = {
      {0, false, "txt", 0x188, "", Default},   {0, true, "jpg", 0x188, "", Default},
      {1, false, "txt", 0x189, ".gz", Default}, {1, true, "jpg", 0x188, "", Default},
      {2, false, "txt", 0x18B, ".zip", Default}, {2, true, "jpg", 0x18A, ".zip", Default},
      // A gzip file never keeps its name in gzip mode: it would be the name
      // of another file's compressed copy. Not compressed again, it is
      // stored in a member of its own.
      {1, true, "gz", 0x189, ".gz", TZCompressionLevel::zcNone}, {1, true, "Gz", 0x189, ".gz", TZCompressionLevel::zcNone},
      {1, false, "gz", 0x189, ".gz", Default},  {0, true, "gz", 0x188, "", Default},
      {2, true, "gz", 0x18A, ".zip", Default},  {2, true, "zip", 0x18A, ".zip", Default},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Compress) + " " + std::to_string(C.NoComp) + " " + C.Extension);
    const TBackupCopyKind Kind = BackupCopyKind(C.Compress, C.NoComp, C.Extension);
    EXPECT_EQ(Kind.Options, C.Options);
    EXPECT_EQ(Kind.Suffix, C.Suffix);
    EXPECT_EQ(Kind.Level, C.Level);
  }
}

TEST_F(TBackupThreadTest, FirstBackupGoesToTheFinalNameWithItsSuffixAndNothingElse) {
  struct TCase {
    int Compress;
    const char* Name;
    const char* Suffix;
    const char* Magic;  // the first bytes of the copy; empty: the source's bytes
    const char* Drv;
  };
  const TCase Cases[] = {{0, "a.txt", "", "", ""},    {1, "a.txt", ".gz", "\x1f\x8b", ""},
                         {1, "p.JPG", "", "", ""},    {2, "p.jpg", ".zip", "PK", ""},
                         {2, "a.txt", ".zip", "PK", ""}, {0, "sub/a.txt", "", "", "Drv?"}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + " compress " + std::to_string(C.Compress));
    fs::remove_all(FDst);
    fs::create_directories(FDst);
    fs::create_directories(fs::path(Source(C.Name)).parent_path());
    WriteFileBytes(Source(C.Name), "first content of the file");
    Run({C.Name}, C.Compress, 3, {}, C.Drv);
    const std::string Final = Target(C.Name) + C.Suffix;
    const std::string Copy = ReadFileBytes(Final);
    if (*C.Magic)
      EXPECT_EQ(Copy.substr(0, 2), C.Magic);
    else
      EXPECT_EQ(Copy, "first content of the file");
    EXPECT_EQ(Listing(fs::path(Final).parent_path()), std::vector<std::string>{fs::path(Final).filename().string()});
    EXPECT_EQ(FLines, std::vector<std::string>{LineFor(C.Name)});
    ASSERT_EQ(FWorker->Results().size(), 1u);
    EXPECT_EQ(FWorker->Results()[0].ErrorCode, 0);
  }
}

TEST_F(TBackupThreadTest, OverwriteKeepsTheRetainedVersionsInOrder) {
  struct TCase {
    const char* Name;
    const char* BakPattern;  // the name of version 1 with "#" for the number
    int Retain;
    int Existing;  // versions present before, besides the current copy
    int Moved;
    std::vector<std::string> After;  // contents: current, then versions 1, 2, 3 ("-" missing)
  };
  const TCase Cases[] = {
      {"r.txt", "r.bak-#.txt", 3, 2, 3, {"new", "cur", "v1", "v2"}},
      {"notes", "notes.bak-#", 2, 0, 1, {"new", "cur", "-", "-"}},
      {"r.txt", "r.bak-#.txt", 1, 1, 1, {"new", "cur", "-", "-"}},
      {"r.txt", "r.bak-#.txt", 0, 1, 0, {"new", "v1", "-", "-"}},
      {"r.txt", "r.bak-#.txt", -2, 0, 0, {"new", "-", "-", "-"}},  // taken as 0
      {"r.txt", "r.bak-#.txt", 7, 3, 3, {"new", "cur", "v1", "v2"}},  // taken as 3
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + " retain " + std::to_string(C.Retain));
    fs::remove_all(FDst);
    fs::create_directories(TargetDir());
    auto Version = [&](int N) {
      std::string Name = C.BakPattern;
      Name.replace(Name.find('#'), 1, std::to_string(N));
      return JoinPath(TargetDir(), Name);
    };
    WriteFileBytes(Source(C.Name), "new");
    WriteFileBytes(Target(C.Name), "cur");
    test::SetMode(Target(C.Name), 0444);  // a read-only old copy is replaced all the same
    for (int N = 1; N <= C.Existing; ++N) WriteFileBytes(Version(N), "v" + std::to_string(N));
    Run({C.Name}, 0, C.Retain);
    EXPECT_EQ(ReadFileBytes(Target(C.Name)), C.After[0]);
    for (int N = 1; N <= 3; ++N) {
      if (C.After[N] == "-")
        EXPECT_FALSE(fs::exists(Version(N))) << N;
      else
        EXPECT_EQ(ReadFileBytes(Version(N)), C.After[N]) << N;
    }
    EXPECT_EQ(FLines, std::vector<std::string>{LineFor(C.Name, C.Moved)});
    EXPECT_EQ(FWorker->Retain(), std::clamp(C.Retain, 0, 3));
    for (const std::string& Name : Listing(TargetDir())) EXPECT_EQ(Name.find(".tmp"), std::string::npos) << Name;
  }
}

// Until the new copy takes its name, the current copy keeps it (and is
// version 1 as well): a crash at that moment leaves a current copy.
TEST_F(TBackupThreadTest, CurrentCopyKeepsItsNameUntilTheNewOneReplacesIt) {
  fs::create_directories(TargetDir());
  WriteFileBytes(Source("r.txt"), "new");
  WriteFileBytes(Target("r.txt"), "cur");
  WriteFileBytes(JoinPath(TargetDir(), "r.bak-1.txt"), "v1");
  std::string AtReplace, Bak1AtReplace;
  Run({"r.txt"}, 0, 2, [&](TBackupThread::TStep Step, std::size_t) {
    if (Step != TBackupThread::TStep::stBeforeReplace) return;
    AtReplace = fs::exists(Target("r.txt")) ? ReadFileBytes(Target("r.txt")) : "missing";
    Bak1AtReplace = ReadFileBytes(JoinPath(TargetDir(), "r.bak-1.txt"));
  });
  EXPECT_EQ(AtReplace, "cur");
  EXPECT_EQ(Bak1AtReplace, "cur");
  EXPECT_EQ(ReadFileBytes(Target("r.txt")), "new");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "r.bak-1.txt")), "cur");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "r.bak-2.txt")), "v1");
  EXPECT_EQ(FLines, std::vector<std::string>{LineFor("r.txt", 2)});
}

// The time a line begins with is asked on the main thread as the line
// arrives: the worker never reads its owner's clock, which the owner's
// thread may be setting meanwhile.
TEST_F(TBackupThreadTest, TheTimeOfALineIsAskedOnTheMainThread) {
  WriteFileBytes(Source("a.txt"), "a");
  std::vector<std::thread::id> AskedOn;
  FTimeText = [&AskedOn] {
    AskedOn.push_back(std::this_thread::get_id());
    return std::string(Now);
  };
  Run({"a.txt", "gone.txt"});
  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_EQ(FLines[0], LineFor("a.txt"));
  EXPECT_TRUE(FLines[1].starts_with(LineFor("gone.txt") + "\r\n  *** ")) << FLines[1];
  EXPECT_EQ(AskedOn, std::vector<std::thread::id>(2, std::this_thread::get_id()));
}

TEST_F(TBackupThreadTest, FailedCopyLeavesTheCopyAndItsVersionsAndReportsTheError) {
  fs::create_directories(TargetDir());
  WriteFileBytes(Target("gone.txt"), "cur");
  WriteFileBytes(JoinPath(TargetDir(), "gone.bak-1.txt"), "v1");
  WriteFileBytes(Source("ok.txt"), "ok");
  Run({"gone.txt", "ok.txt"}, 0, 2);
  ASSERT_EQ(FWorker->Results().size(), 2u);
  const TBackupFileResult& Failed = FWorker->Results()[0];
  EXPECT_EQ(Failed.FileName, "gone.txt");
  EXPECT_NE(Failed.ErrorCode, 0);
  EXPECT_FALSE(Failed.SourceExists);
  EXPECT_EQ(FWorker->Results()[1].ErrorCode, 0);
  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_EQ(FLines[0], LineFor("gone.txt") + "\r\n  *** " + GetCopyErrorText(Failed.ErrorCode));
  EXPECT_EQ(FLines[1], LineFor("ok.txt"));
  // The main thread learns each outcome with its line.
  ASSERT_EQ(FDone.size(), 2u);
  EXPECT_EQ(FDone[0].FileName, "gone.txt");
  EXPECT_EQ(FDone[0].ErrorCode, Failed.ErrorCode);
  EXPECT_FALSE(FDone[0].SourceExists);
  EXPECT_EQ(FDone[1].FileName, "ok.txt");
  EXPECT_EQ(FDone[1].ErrorCode, 0);
  EXPECT_EQ(ReadFileBytes(Target("gone.txt")), "cur");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "gone.bak-1.txt")), "v1");
  EXPECT_EQ(Listing(TargetDir()), (std::vector<std::string>{"gone.bak-1.txt", "gone.txt", "ok.txt"}));
}

TEST_F(TBackupThreadTest, TemporaryNameNeverTakesAnotherFilesCopyAndLeftoversGo) {
  // x.txt.tmp is a file of its own with a copy in the destination; x.txt.tmp7
  // is what an interrupted run left behind.
  fs::create_directories(TargetDir());
  WriteFileBytes(Source("x.txt"), "new x");
  WriteFileBytes(Source("x.txt.tmp"), "the tmp file");
  WriteFileBytes(Target("x.txt"), "old x");
  WriteFileBytes(Target("x.txt.tmp"), "the tmp file");
  WriteFileBytes(Target("x.txt.tmp7"), "torn");
  WriteFileBytes(Target("x.txt.tmpfile"), "not ours");
  Run({"x.txt"}, 0, 1);
  EXPECT_EQ(ReadFileBytes(Target("x.txt")), "new x");
  EXPECT_EQ(ReadFileBytes(Target("x.txt.tmp")), "the tmp file");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "x.bak-1.txt")), "old x");
  EXPECT_EQ(Listing(TargetDir()), (std::vector<std::string>{"x.bak-1.txt", "x.txt", "x.txt.tmp", "x.txt.tmpfile"}));
  EXPECT_EQ(FLines, std::vector<std::string>{LineFor("x.txt", 1)});
}

// A stop request ends the batch in progress early: the files copied before
// it are flushed, renamed and reported; the others stay pending, without a
// line.
TEST_F(TBackupThreadTest, StopMidBatchKeepsTheFilesNotBegunUnreported) {
  const std::vector<std::string> Names = {"a", "b", "c", "d"};
  for (const std::string& Name : Names) WriteFileBytes(Source(Name), Name);
  for (const std::size_t StopAt : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
    SCOPED_TRACE("stop before file " + std::to_string(StopAt));
    fs::remove_all(FDst);
    fs::create_directories(FDst);
    Run(Names, 0, 0, [this, StopAt](TStep Step, std::size_t Index) {
      if (Step == TStep::stBeforeFile && Index == StopAt) FCurrent.load()->RequestStop();
    });
    const std::vector<std::string> Done(Names.begin(), Names.begin() + static_cast<std::ptrdiff_t>(StopAt));
    std::vector<std::string> Lines, Told;
    for (const std::string& Name : Done) Lines.push_back(LineFor(Name));
    for (const TBackupFileResult& R : FDone) Told.push_back(R.FileName);
    EXPECT_EQ(FLines, Lines);
    EXPECT_EQ(Told, Done);
    EXPECT_EQ(FWorker->Results().size(), StopAt);
    EXPECT_EQ(FWorker->NotDone(), std::vector<std::string>(Names.begin() + static_cast<std::ptrdiff_t>(StopAt), Names.end()));
    EXPECT_EQ(BatchEnds(), StopAt > 0 ? std::vector<std::size_t>{StopAt - 1} : std::vector<std::size_t>{});
    EXPECT_EQ(StopAt > 0 ? Listing(TargetDir()) : std::vector<std::string>{}, Done);
  }
}

// The copies of a batch are on the disk before any of them gets its final
// name, and the main thread hears of none before that.
TEST_F(TBackupThreadTest, CopiesKeepTheirTemporaryNamesUntilTheirBatchIsFlushed) {
  fs::create_directories(TargetDir());
  for (const char* Name : {"a.txt", "b.txt", "c.txt"}) WriteFileBytes(Source(Name), std::string("new ") + Name);
  WriteFileBytes(Target("b.txt"), "cur");
  std::vector<std::string> AtFlush;
  std::string CurrentAtFlush;
  std::size_t LinesAtFlush = 99;
  Run({"a.txt", "b.txt", "c.txt"}, 0, 1, [&](TStep Step, std::size_t) {
    if (Step != TStep::stAfterBatchFlush) return;
    AtFlush = Listing(TargetDir());
    CurrentAtFlush = ReadFileBytes(Target("b.txt"));
    LinesAtFlush = FLinesTaken.load();
  });
  // Three short temporary names beside the current copy.
  ASSERT_EQ(AtFlush.size(), 4u);
  EXPECT_EQ(AtFlush.back(), "b.txt");
  for (std::size_t I = 0; I < 3; ++I) EXPECT_TRUE(TBackupThread::IsTemporaryName(AtFlush[I])) << AtFlush[I];
  EXPECT_EQ(CurrentAtFlush, "cur");
  EXPECT_EQ(LinesAtFlush, 0u);
  // All three copied, then one flush, then the renames.
  const std::vector<TStepAt> Expected = {{TStep::stBeforeFile, 0},      {TStep::stBeforeFile, 1},
                                         {TStep::stBeforeFile, 2},      {TStep::stAfterBatchFlush, 2},
                                         {TStep::stBeforeReplace, 0},   {TStep::stBeforeReplace, 1},
                                         {TStep::stBeforeReplace, 2}};
  EXPECT_EQ(FSteps, Expected);
  EXPECT_EQ(FLines, (std::vector<std::string>{LineFor("a.txt"), LineFor("b.txt", 1), LineFor("c.txt")}));
  EXPECT_EQ(FHandOvers, 1) << "the lines of a batch go to the main thread in one call";
  EXPECT_EQ(ReadFileBytes(Target("b.txt")), "new b.txt");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "b.bak-1.txt")), "cur");
  EXPECT_EQ(Listing(TargetDir()), (std::vector<std::string>{"a.txt", "b.bak-1.txt", "b.txt", "c.txt"}));
}

// Over more files than a batch takes, with failures among them: lines and
// outcomes come in list order, one hand-over per batch.
TEST_F(TBackupThreadTest, LinesAndOutcomesFollowTheListAcrossBatches) {
  const std::size_t Count = TBackupThread::MaxBatchFiles + 5;
  std::vector<std::string> Names;
  for (std::size_t I = 0; I < Count; ++I) {
    char Name[16];
    std::snprintf(Name, sizeof Name, "f%05zu", I);
    Names.emplace_back(Name);
    if (I % 250 != 3) WriteFileBytes(Source(Name), Name);  // the others fail: no source
  }
  Run(Names);
  ASSERT_EQ(FLines.size(), Count);
  ASSERT_EQ(FDone.size(), Count);
  ASSERT_EQ(FWorker->Results().size(), Count);
  for (std::size_t I = 0; I < Count; ++I) {
    SCOPED_TRACE(Names[I]);
    const bool Missing = I % 250 == 3;
    const TBackupFileResult& R = FWorker->Results()[I];
    EXPECT_EQ(R.FileName, Names[I]);
    EXPECT_EQ(R.ErrorCode, Missing ? caCopy | cjFileNotFound : 0);
    EXPECT_EQ(FDone[I].FileName, Names[I]);
    EXPECT_EQ(FDone[I].ErrorCode, R.ErrorCode);
    EXPECT_EQ(FLines[I], Missing ? LineFor(Names[I]) + "\r\n  *** " + GetCopyErrorText(R.ErrorCode) : LineFor(Names[I]));
  }
  // Batches follow one another without a gap, none above its bound (time
  // may end one earlier on a busy machine).
  const std::vector<std::size_t> Ends = BatchEnds();
  ASSERT_GE(Ends.size(), 2u);
  EXPECT_EQ(Ends.back(), Count - 1);
  std::size_t First = 0;
  for (const std::size_t End : Ends) {
    EXPECT_GE(End, First);
    EXPECT_LE(End - First + 1, TBackupThread::MaxBatchFiles);
    First = End + 1;
  }
  EXPECT_EQ(FHandOvers, static_cast<int>(Ends.size()));
}

// A file of the byte bound or more is flushed alone: the small files before
// it get their lines without waiting for it.
TEST_F(TBackupThreadTest, LargeFileIsABatchOfItsOwn) {
  WriteFileBytes(Source("a"), "a");
  WriteFileBytes(Source("big"), "");
  fs::resize_file(Source("big"), TBackupThread::MaxBatchBytes);
  WriteFileBytes(Source("c"), "c");
  std::size_t LinesBeforeBig = 99;
  Run({"a", "big", "c"}, 0, 0, [&](TStep Step, std::size_t Index) {
    if (Step == TStep::stBeforeReplace && Index == 1) LinesBeforeBig = FLinesTaken.load();
  });
  EXPECT_EQ(BatchEnds(), (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(LinesBeforeBig, 1u);
  EXPECT_EQ(FLines, (std::vector<std::string>{LineFor("a"), LineFor("big"), LineFor("c")}));
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(Target("big"))), TBackupThread::MaxBatchBytes);
}

TEST_F(TBackupThreadTest, DirectoriesWrittenAreFlushedOnce) {
  fs::create_directories(Source("d1"));
  fs::create_directories(Source("d2"));
  for (const char* Name : {"d1/a", "d1/b", "d2/c"}) WriteFileBytes(Source(Name), Name);
  Run({"d1/a", "d1/b", "d2/c"});
  std::vector<std::string> Expected;
  // Every folder from the destination root down to the folders of the files.
  for (fs::path P = Target("d1"); P.string().size() >= FDst.size() - 1; P = P.parent_path())
    Expected.push_back(P.string());
  Expected.push_back(Target("d2"));
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(FWorker->SyncedDirectories(), Expected);
}

TEST_F(TBackupThreadTest, OnlyTheMeasuringSwitchLeavesOutTheDirectoryFlushes) {
  fs::create_directories(Source("d"));
  WriteFileBytes(Source("d/a"), "a");
  for (const bool Flush : {true, false}) {
    SCOPED_TRACE(Flush ? "flushing" : "not flushing");
    fs::remove_all(FDst);
    fs::create_directories(FDst);
    Run({"d/a"}, 0, 0, {}, {}, Flush);
    // Not flushing changes nothing but the flushes: the copy and its line are the same.
    EXPECT_EQ(ReadFileBytes(Target("d/a")), "a");
    EXPECT_EQ(FLines, std::vector<std::string>{LineFor("d/a")});
    if (Flush)
      EXPECT_TRUE(std::find(FWorker->SyncedDirectories().begin(), FWorker->SyncedDirectories().end(),
                            Target("d")) != FWorker->SyncedDirectories().end());
    else
      EXPECT_TRUE(FWorker->SyncedDirectories().empty());
  }
}

// The suffix of a copy in each compression mode.
constexpr const char* CopySuffix[] = {"", ".gz", ".zip"};

TFileTime At(std::int64_t UnixSeconds, TFileTime Ticks = 0) {
  return FileTimeOfUnixEpoch + UnixSeconds * FileTimeTicksPerSecond + Ticks;
}

void SetWriteTime(const std::string& Path, TFileTime Time) {
  ASSERT_EQ(SetPathTimes(Path, 0, Time, true), 0) << Path;
}

TFileStatus StatusOf(const std::string& Path) {
  TFileStatus Status;
  EXPECT_EQ(PathStatus(Path, false, Status), 0) << Path;
  return Status;
}

std::string Inflated(std::string_view Data, int WindowBits) {
  z_stream Z{};
  EXPECT_EQ(inflateInit2(&Z, WindowBits), Z_OK);
  Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  Z.avail_in = static_cast<uInt>(Data.size());
  std::string Out;
  char Chunk[4096];
  int Result = Z_OK;
  while (Result == Z_OK) {
    Z.next_out = reinterpret_cast<Bytef*>(Chunk);
    Z.avail_out = sizeof Chunk;
    Result = inflate(&Z, Z_NO_FLUSH);
    Out.append(Chunk, sizeof Chunk - Z.avail_out);
  }
  EXPECT_EQ(Result, Z_STREAM_END);
  inflateEnd(&Z);
  return Out;
}

// The source bytes a copy holds: as they are, through zlib's gzip reader, or
// from the one entry of a zip archive as its local header describes it.
std::string Restored(const std::string& Path, int Compress) {
  const std::string Bytes = ReadFileBytes(Path);
  if (Compress == 1) return Inflated(Bytes, 16 + MAX_WBITS);
  if (Compress != 2) return Bytes;
  const auto Le = [&](std::size_t At, int Count) {
    std::uint32_t V = 0;
    for (int I = Count - 1; I >= 0; --I) V = (V << 8) | static_cast<unsigned char>(Bytes.at(At + static_cast<std::size_t>(I)));
    return V;
  };
  const std::string Data = Bytes.substr(30 + Le(26, 2) + Le(28, 2), Le(18, 4));
  return Le(8, 2) == 0 ? Data : Inflated(Data, -MAX_WBITS);
}

TEST(JudgeCopyTimesTest, TimeDecidesUnlessRoundedOrMadeRightAfterTheWrite) {
  using enum TCopyVerdict;
  const TFileTime S = At(1700000000, 1234567);  // 0.1234567 s past an even second
  const TFileTime Later = S + 60 * FileTimeTicksPerSecond;
  struct TCase {
    const char* Why;
    TFileTime Copy, Change;
    TCopyVerdict Verdict;
  };
  const TCase Cases[] = {
      {"the same time, copied long after", S, Later, cvSame},
      {"the same time, copied within the margin", S, S + RacyMargin - 1, cvCompareContent},
      {"the same time, copied just beyond the margin", S, S + RacyMargin, cvSame},
      {"the copy changed before the source's time (clocks apart)", S, S - FileTimeTicksPerSecond, cvCompareContent},
      {"rounded down to 2 s (FAT)", At(1700000000), Later, cvCompareContent},
      {"rounded up to 2 s", At(1700000002), Later, cvCompareContent},
      {"rounded up to 1 s", At(1700000001), Later, cvCompareContent},
      {"rounded down to 10 ms (exFAT)", At(1700000000, 1200000), Later, cvCompareContent},
      {"rounded down to 1 us", At(1700000000, 1234560), Later, cvCompareContent},
      {"100 ns apart", S + 1, Later, cvDifferent},
      {"3 s earlier", S - 3 * FileTimeTicksPerSecond, Later, cvDifferent},
      {"an hour later", S + 3600 * FileTimeTicksPerSecond, Later, cvDifferent},
  };
  for (const TCase& C : Cases) EXPECT_EQ(JudgeCopyTimes(S, C.Copy, C.Change), C.Verdict) << C.Why;
}

// A file whose current copy already is the file as it is (after a restart,
// an interrupted run) is not copied again, and so moves no real previous
// version out; a change of the same size is backed up as ever.
TEST_F(TBackupThreadTest, UnchangedFileKeepsItsCopyAndItsVersions) {
  const char* Contents[] = {"first version", "secnd version", "third version"};  // one size
  for (int Compress = 0; Compress <= 2; ++Compress)
    for (int Retain = 1; Retain <= 3; ++Retain) {
      SCOPED_TRACE("compress " + std::to_string(Compress) + " retain " + std::to_string(Retain));
      fs::remove_all(FDst);
      fs::create_directories(FDst);
      const std::string Current = Target("r.txt") + CopySuffix[Compress];
      const auto Version = [&](int N) {
        return JoinPath(TargetDir(), "r.bak-" + std::to_string(N) + ".txt") + CopySuffix[Compress];
      };
      // Each change made long before its backup.
      const auto Change = [&](int N) {
        WriteFileBytes(Source("r.txt"), Contents[N]);
        SetWriteTime(Source("r.txt"), At(1700000000 + 1000 * N, 2500000));
      };
      Change(0);
      Run({"r.txt"}, Compress, Retain);
      Change(1);
      Run({"r.txt"}, Compress, Retain);
      ASSERT_EQ(FLines, std::vector<std::string>{LineFor("r.txt", 1)});
      const TFileStatus Before = StatusOf(Current);
      const std::vector<std::string> ListingBefore = Listing(TargetDir());

      Run({"r.txt"}, Compress, Retain);
      EXPECT_TRUE(FLines.empty()) << FLines.front();
      ASSERT_EQ(FDone.size(), 1u);
      EXPECT_EQ(FDone[0].FileName, "r.txt");
      EXPECT_EQ(FDone[0].ErrorCode, 0);
      EXPECT_TRUE(FDone[0].UpToDate);
      EXPECT_TRUE(FWorker->NotDone().empty());
      EXPECT_EQ(Listing(TargetDir()), ListingBefore);
      EXPECT_EQ(StatusOf(Current).Identity.Index, Before.Identity.Index) << "the copy was written again";
      EXPECT_EQ(StatusOf(Current).LastWriteTime, Before.LastWriteTime);
      EXPECT_EQ(Restored(Current, Compress), Contents[1]);
      EXPECT_EQ(Restored(Version(1), Compress), Contents[0]);
      EXPECT_FALSE(fs::exists(Version(2)));

      Change(2);
      Run({"r.txt"}, Compress, Retain);
      EXPECT_EQ(FLines, std::vector<std::string>{LineFor("r.txt", Retain >= 2 ? 2 : 1)});
      ASSERT_EQ(FDone.size(), 1u);
      EXPECT_FALSE(FDone[0].UpToDate);
      EXPECT_EQ(Restored(Current, Compress), Contents[2]);
      EXPECT_EQ(Restored(Version(1), Compress), Contents[1]);
      if (Retain >= 2)
        EXPECT_EQ(Restored(Version(2), Compress), Contents[0]);
      else
        EXPECT_FALSE(fs::exists(Version(2)));
    }
}

// Up-to-date files among copied ones: each outcome in list order, lines for
// the copies only, and the copy's permission bits follow a source that only
// had them changed.
TEST_F(TBackupThreadTest, UpToDateFilesAmongCopiesAreToldInListOrder) {
  for (const char* Name : {"a", "b", "c"}) {
    WriteFileBytes(Source(Name), Name);
    SetWriteTime(Source(Name), At(1700000000));
  }
  Run({"a", "b", "c"});
  test::SetMode(Source("a"), 0600);
  WriteFileBytes(Source("b"), "B");
  SetWriteTime(Source("b"), At(1700000100));
  Run({"a", "b", "c"});
  EXPECT_EQ(FLines, std::vector<std::string>{LineFor("b")});
  ASSERT_EQ(FDone.size(), 3u);
  for (std::size_t I = 0; I < 3; ++I) {
    EXPECT_EQ(FDone[I].FileName, std::string(1, static_cast<char>('a' + I)));
    EXPECT_EQ(FDone[I].ErrorCode, 0);
    EXPECT_EQ(FDone[I].UpToDate, I != 1);
  }
  EXPECT_EQ(test::ModeOf(Target("a")), 0600u);
  EXPECT_EQ(ReadFileBytes(Target("b")), "B");
}

// Where the copy's time is its source's rounded to a coarser step (as FAT
// keeps times), the content decides: the times in the gzip and zip headers
// (1 s, 2 s) cannot tell apart two versions saved in one second.
TEST_F(TBackupThreadTest, CopyTimeRoundedByTheFileSystemLeavesTheDecisionToTheContent) {
  for (int Compress = 0; Compress <= 2; ++Compress)
    for (const bool Changed : {false, true}) {
      SCOPED_TRACE("compress " + std::to_string(Compress) + (Changed ? " changed" : " unchanged"));
      fs::remove_all(FDst);
      fs::create_directories(FDst);
      const std::string Current = Target("c.txt") + CopySuffix[Compress];
      const std::string Version1 = JoinPath(TargetDir(), "c.bak-1.txt") + CopySuffix[Compress];
      WriteFileBytes(Source("c.txt"), "aaaa aaaa");
      SetWriteTime(Source("c.txt"), At(1700000000, 3000000));
      Run({"c.txt"}, Compress, 1);
      SetWriteTime(Current, At(1700000000));  // as a file system with 2-second times keeps it
      if (Changed) {
        // Another content of the same size in the same second.
        WriteFileBytes(Source("c.txt"), "bbbb bbbb");
        SetWriteTime(Source("c.txt"), At(1700000000, 4000000));
      }
      Run({"c.txt"}, Compress, 1);
      ASSERT_EQ(FDone.size(), 1u);
      EXPECT_EQ(FDone[0].UpToDate, !Changed);
      if (Changed) {
        EXPECT_EQ(FLines, std::vector<std::string>{LineFor("c.txt", 1)});
        EXPECT_EQ(Restored(Current, Compress), "bbbb bbbb");
        EXPECT_EQ(Restored(Version1, Compress), "aaaa aaaa");
      } else {
        EXPECT_TRUE(FLines.empty());
        EXPECT_EQ(Restored(Current, Compress), "aaaa aaaa");
        EXPECT_FALSE(fs::exists(Version1));
      }
    }
}

// A write just after the copy read the file can keep the source's time as it
// was (file times move in clock ticks): a copy made so soon after the last
// write does not vouch for the file by its time.
TEST_F(TBackupThreadTest, WriteInTheCopysClockTickIsNotTakenForNoChange) {
  for (int Compress = 0; Compress <= 2; ++Compress) {
    SCOPED_TRACE("compress " + std::to_string(Compress));
    fs::remove_all(FDst);
    fs::create_directories(FDst);
    const std::string Current = Target("w.txt") + CopySuffix[Compress];
    WriteFileBytes(Source("w.txt"), "before");
    Run({"w.txt"}, Compress, 1);
    const TFileTime Written = StatusOf(Source("w.txt")).LastWriteTime;
    WriteFileBytes(Source("w.txt"), "after!");
    SetWriteTime(Source("w.txt"), Written);
    Run({"w.txt"}, Compress, 1);
    EXPECT_EQ(FLines, std::vector<std::string>{LineFor("w.txt", 1)});
    EXPECT_EQ(Restored(Current, Compress), "after!");
    // At once again: the content shows the copy is current.
    Run({"w.txt"}, Compress, 1);
    EXPECT_TRUE(FLines.empty());
    ASSERT_EQ(FDone.size(), 1u);
    EXPECT_TRUE(FDone[0].UpToDate);
  }
}

// Two files of one folder never share a copy: in gzip mode "X" is compressed
// to "X.gz", so a file named "X.gz" cannot keep that name even where "gz" is
// never compressed. Each copy restores its own file, and each file's
// versions are its own.
TEST_F(TBackupThreadTest, EveryFileOfAFolderHasACopyOfItsOwn) {
  struct TCase {
    int Compress;
    const char* NoComp;
    std::vector<std::string> Sources;
    std::vector<std::pair<std::string, int>> Copies;  // per source: the copy's name and how it restores
  };
  const TCase Cases[] = {
      {1, "jpg,gz", {"X", "X.gz", "Y.GZ"}, {{"X.gz", 1}, {"X.gz.gz", 1}, {"Y.GZ.gz", 1}}},
      {1, "jpg", {"X", "X.gz"}, {{"X.gz", 1}, {"X.gz.gz", 1}}},
      {1, "jpg,gz", {"P.jpg", "P.jpg.gz"}, {{"P.jpg", 0}, {"P.jpg.gz.gz", 1}}},
      {2, "jpg,gz,zip", {"X", "X.zip", "X.gz"}, {{"X.zip", 2}, {"X.zip.zip", 2}, {"X.gz.zip", 2}}},
      {0, "jpg,gz", {"X", "X.gz"}, {{"X", 0}, {"X.gz", 0}}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE("compress " + std::to_string(C.Compress) + " never compressed " + C.NoComp);
    fs::remove_all(FDst);
    fs::remove_all(FSrc);
    fs::create_directories(FSrc);
    FNoComp = C.NoComp;
    // Two versions of each file, all of different content.
    for (int Round = 0; Round < 2; ++Round) {
      for (const std::string& Name : C.Sources) {
        WriteFileBytes(Source(Name), std::string(300, 'a' + static_cast<char>(Round)) + " " + Name);
        SetWriteTime(Source(Name), At(1700000000 + 100 * Round));
      }
      Run(C.Sources, C.Compress, 1);
      ASSERT_EQ(FLines.size(), C.Sources.size());
    }
    std::vector<std::string> Expected;
    for (std::size_t I = 0; I < C.Sources.size(); ++I) {
      SCOPED_TRACE(C.Sources[I]);
      const auto& [CopyName, Decode] = C.Copies[I];
      const std::string Copy = JoinPath(TargetDir(), CopyName);
      EXPECT_EQ(Restored(Copy, Decode), std::string(300, 'b') + " " + C.Sources[I]);
      // Version 1 is the file's own first version.
      const std::string Suffix = CopyName.substr(C.Sources[I].size());
      const std::string Version = InsertBeforeExtension(Target(C.Sources[I]), ".bak-1") + Suffix;
      EXPECT_EQ(Restored(Version, Decode), std::string(300, 'a') + " " + C.Sources[I]);
      Expected.push_back(CopyName);
      Expected.push_back(ExtractFileName(Version));
    }
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Listing(TargetDir()), Expected);
  }
  // A gzip file that is not compressed again is stored: its member is larger
  // than the file, which deflate would have made much smaller.
  FNoComp = "gz";
  fs::remove_all(FDst);
  WriteFileBytes(Source("S.gz"), std::string(10000, 's'));
  Run({"S.gz"}, 1, 0);
  EXPECT_GT(fs::file_size(Target("S.gz") + ".gz"), 10000u);
  EXPECT_EQ(Restored(Target("S.gz") + ".gz", 1), std::string(10000, 's'));
}

// What users keep in watched trees besides files: none of it may hold up
// the worker (a FIFO without a writer would block a plain open), each line
// says why its name was not backed up, and what can never be backed up is
// not handed back for another try. A link to a file is backed up with the
// file's content.
TEST_F(TBackupThreadTest, NamesThatAreNoFilesFailWithTheirReasonAndAreNotTriedAgain) {
  ASSERT_EQ(::mkfifo(Source("fifo").c_str(), 0644), 0);
  const int Socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(Socket, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  ASSERT_LT(Source("sock").size(), sizeof Address.sun_path);
  std::strcpy(Address.sun_path, Source("sock").c_str());
  ASSERT_EQ(::bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  fs::create_directories(Source("dir"));
  WriteFileBytes(Source("file"), "the file's content");
  fs::create_symlink("file", Source("link-file"));
  fs::create_symlink("dir", Source("link-dir"));
  fs::create_symlink("missing", Source("link-dangling"));

  const std::string NoFile = GetCopyErrorText(caCopy | cjOpenFile) +
                             ": not a regular file (a directory, FIFO, socket or device): it is not backed up";
  struct TCase {
    const char* Name;
    std::string Error;  // after "  *** "; empty: copied
  };
  const TCase Cases[] = {
      {"dir", NoFile},
      {"fifo", NoFile},
      {"link-dangling", GetCopyErrorText(caCopy | cjFileNotFound) + ": a symbolic link whose target is missing"},
      {"link-dir", NoFile},
      {"link-file", ""},
      {"sock", NoFile},
  };
  std::vector<std::string> Names;
  for (const TCase& C : Cases) Names.push_back(C.Name);
  Run(Names, 0, 1);
  ::close(Socket);
  ASSERT_EQ(FLines.size(), Names.size());
  ASSERT_EQ(FDone.size(), Names.size());
  for (std::size_t I = 0; I < Names.size(); ++I) {
    const TCase& C = Cases[I];
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(FLines[I], C.Error.empty() ? LineFor(C.Name) : LineFor(C.Name) + "\r\n  *** " + C.Error);
    EXPECT_EQ(FDone[I].FileName, C.Name);
    EXPECT_EQ(FDone[I].ErrorCode == 0, C.Error.empty());
    EXPECT_EQ(FDone[I].SourceExists, C.Error.empty()) << "what can never be backed up is not tried again";
  }
  EXPECT_EQ(Listing(TargetDir()), std::vector<std::string>{"link-file"});
  EXPECT_EQ(ReadFileBytes(Target("link-file")), "the file's content");
  EXPECT_EQ(fs::symlink_status(Target("link-file")).type(), fs::file_type::regular);
}

// A file the user may not read: the line says so in the system's words, and
// the file stays to be tried again (its rights may be given back).
TEST_F(TBackupThreadTest, UnreadableFileIsReportedWithTheSystemsReason) {
  WriteFileBytes(Source("secret"), "secret");
  test::SetMode(Source("secret"), 0);
  WriteFileBytes(Source("open"), "open");
  test::SetMode(FDst, 0777);
  const auto Outcome = test::RunUnprivileged([&] {
    Run({"open", "secret"}, 0, 1);
    std::string Out;
    for (const std::string& Line : FLines) Out += Line + "\n";
    for (const TBackupFileResult& R : FDone) Out += R.FileName + " " + std::to_string(R.SourceExists) + "\n";
    return Out;
  });
  if (!Outcome.Ran) GTEST_SKIP() << Outcome.WhyNot;
  const std::string Denied = LineFor("secret") + "\r\n  *** " + GetCopyErrorText(caCopy | cjOpenFile) + ": ";
  EXPECT_EQ(Outcome.Output.substr(0, LineFor("open").size() + 1), LineFor("open") + "\n") << Outcome.Output;
  const std::size_t At = Outcome.Output.find(Denied);
  ASSERT_NE(At, std::string::npos) << Outcome.Output;
  const std::string Reason = Outcome.Output.substr(At + Denied.size(), Outcome.Output.find('\n', At) - At - Denied.size());
  EXPECT_NE(Reason.find(PlatformErrorText(ErrAccessDenied)), std::string::npos) << Reason;
  EXPECT_NE(Outcome.Output.find("secret 1\n"), std::string::npos) << Outcome.Output;
}

// Names up to the file system's limit, where the room for ".gz" or ".zip"
// and for ".bak-N" runs out: a copy is made whenever its name fits, under a
// temporary name that always fits; a version that cannot be named fails the
// file and keeps its current copy and versions as they were; "(+n)" counts
// only versions that exist; and a failure that another try would meet again
// is not handed back.
TEST_F(TBackupThreadTest, LongNamesAreCopiedOrFailCleanlyAndKeepTheirVersions) {
  const long NameMax = ::pathconf(FDst.c_str(), _PC_NAME_MAX);
  ASSERT_GT(NameMax, 245) << "a file system with short names";
  std::vector<std::string> Names;
  for (long Length = 240; Length <= NameMax; ++Length) {
    std::string Name = std::to_string(Length) + "-";
    Name += std::string(static_cast<std::size_t>(Length) - Name.size() - 4, 'n') + ".txt";
    Names.push_back(Name);
  }
  const auto Fits = [&](const std::string& Name) { return static_cast<long>(Name.size()) <= NameMax; };
  for (int Compress = 0; Compress <= 2; ++Compress)
    for (int Retain = 0; Retain <= 3; ++Retain) {
      SCOPED_TRACE("compress " + std::to_string(Compress) + " retain " + std::to_string(Retain));
      fs::remove_all(FDst);
      fs::create_directories(FDst);
      for (int Round = 0; Round <= 3; ++Round) {
        SCOPED_TRACE("round " + std::to_string(Round));
        for (const std::string& Name : Names) {
          WriteFileBytes(Source(Name), "round " + std::to_string(Round));
          SetWriteTime(Source(Name), At(1700000000 + 100 * Round));
        }
        Run(Names, Compress, Retain);
        ASSERT_EQ(FLines.size(), Names.size());
        ASSERT_EQ(FDone.size(), Names.size());
        for (std::size_t I = 0; I < Names.size(); ++I) {
          const std::string& Name = Names[I];
          SCOPED_TRACE(Name.size());
          const bool CopyFits = Fits(Name + CopySuffix[Compress]);
          const bool VersionFits = Fits(InsertBeforeExtension(Name, ".bak-1") + CopySuffix[Compress]);
          if (CopyFits && (Round == 0 || Retain == 0 || VersionFits)) {
            EXPECT_EQ(FLines[I], LineFor(Name, std::min(Round, Retain)));
            EXPECT_EQ(FDone[I].ErrorCode, 0);
          } else {
            const std::string Failed = LineFor(Name) + "\r\n  *** ";
            EXPECT_EQ(FLines[I].substr(0, Failed.size()), Failed);
            EXPECT_NE(FLines[I].find("longer than the destination's file system allows"), std::string::npos)
                << FLines[I];
            EXPECT_NE(FDone[I].ErrorCode, 0);
            EXPECT_FALSE(FDone[I].SourceExists) << "another try would meet the same name";
          }
        }
      }
      // After round 3: each copy and version holds its round, nothing else
      // is left.
      std::vector<std::string> Expected;
      for (const std::string& Name : Names) {
        SCOPED_TRACE(Name.size());
        const std::string Copy = Name + CopySuffix[Compress];
        if (!Fits(Copy)) continue;
        const bool Versions = Fits(InsertBeforeExtension(Name, ".bak-1") + CopySuffix[Compress]);
        Expected.push_back(Copy);
        EXPECT_EQ(Restored(JoinPath(TargetDir(), Copy), Compress), Versions || Retain == 0 ? "round 3" : "round 0");
        for (int N = 1; Versions && N <= Retain; ++N) {
          const std::string Version = InsertBeforeExtension(Name, ".bak-" + std::to_string(N)) + CopySuffix[Compress];
          Expected.push_back(Version);
          EXPECT_EQ(Restored(JoinPath(TargetDir(), Version), Compress), "round " + std::to_string(3 - N));
        }
      }
      std::sort(Expected.begin(), Expected.end());
      EXPECT_EQ(Listing(TargetDir()), Expected);
    }
}

// A rotation that cannot be completed is undone: the current copy and every
// version keep their names and contents, the new copy goes, and the line
// counts no version.
TEST_F(TBackupThreadTest, RotationThatFailsIsUndone) {
  struct TCase {
    const char* Why;
    int Retain;
    std::vector<std::string> Versions;  // contents of versions 1, 2, 3 ("" none, "/" a folder)
    bool LoseNewCopy;  // the new copy vanishes before it gets its name
    int Code;
  };
  const TCase Cases[] = {
      {"the final rename fails", 3, {"v1", "v2", "v3"}, true, BackupRenameErrorCode},
      {"the final rename fails, a gap", 3, {"v1", "", "v3"}, true, BackupRenameErrorCode},
      {"the final rename fails, no versions yet", 2, {"", "", ""}, true, BackupRenameErrorCode},
      {"a folder takes the oldest version's name", 2, {"v1", "/", ""}, false, caCopy | ceError | cnRenameFile},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Why);
    fs::remove_all(FDst);
    fs::create_directories(TargetDir());
    const auto Version = [&](int N) { return JoinPath(TargetDir(), "r.bak-" + std::to_string(N) + ".txt"); };
    WriteFileBytes(Source("r.txt"), "new");
    WriteFileBytes(Target("r.txt"), "cur");
    for (int N = 1; N <= 3; ++N) {
      if (C.Versions[N - 1] == "/")
        fs::create_directories(JoinPath(Version(N), "inside"));
      else if (!C.Versions[N - 1].empty())
        WriteFileBytes(Version(N), C.Versions[N - 1]);
    }
    const std::vector<std::string> Before = Listing(TargetDir());
    Run({"r.txt"}, 0, C.Retain, [&](TStep Step, std::size_t) {
      if (Step != TStep::stBeforeReplace || !C.LoseNewCopy) return;
      for (const std::string& Name : Listing(TargetDir()))
        if (fs::is_regular_file(JoinPath(TargetDir(), Name)) && ReadFileBytes(JoinPath(TargetDir(), Name)) == "new")
          fs::remove(JoinPath(TargetDir(), Name));
    });
    ASSERT_EQ(FLines.size(), 1u);
    const std::string Failed = LineFor("r.txt") + "\r\n  *** " + GetCopyErrorText(C.Code) + ": ";
    EXPECT_EQ(FLines[0].substr(0, Failed.size()), Failed) << FLines[0];
    EXPECT_NE(FLines[0].find("the copy and its versions are kept as they were"), std::string::npos) << FLines[0];
    ASSERT_EQ(FDone.size(), 1u);
    EXPECT_TRUE(FDone[0].SourceExists) << "tried again";
    EXPECT_EQ(Listing(TargetDir()), Before);
    EXPECT_EQ(ReadFileBytes(Target("r.txt")), "cur");
    for (int N = 1; N <= 3; ++N) {
      if (C.Versions[N - 1] == "/") {
        EXPECT_TRUE(fs::exists(JoinPath(Version(N), "inside")));
      } else if (!C.Versions[N - 1].empty()) {
        EXPECT_EQ(ReadFileBytes(Version(N)), C.Versions[N - 1]) << N;
      }
    }
  }
}

// A source file named as a version of another ("r.bak-1.txt" beside
// "r.txt") has a copy of that version's name. Neither takes the other's
// place: the file whose backup would do so fails with the reason, once per
// change, and both copies stay as they were.
TEST_F(TBackupThreadTest, VersionOfOneFileNeverTakesTheCopyOfAnother) {
  const auto Put = [&](const std::string& Name, const std::string& Content, int Round) {
    WriteFileBytes(Source(Name), Content);
    SetWriteTime(Source(Name), At(1700000000 + 100 * Round));
  };
  const auto Copy = [&](const std::string& Name, int Compress) {
    return JoinPath(TargetDir(), Name + CopySuffix[Compress]);
  };
  const auto ExpectRefused = [&](const std::string& Name, const std::string& Reason) {
    ASSERT_EQ(FLines.size(), 1u);
    const std::string Failed = LineFor(Name) + "\r\n  *** ";
    EXPECT_EQ(FLines[0].substr(0, Failed.size()), Failed) << FLines[0];
    EXPECT_NE(FLines[0].find(Reason), std::string::npos) << FLines[0];
    ASSERT_EQ(FDone.size(), 1u);
    EXPECT_EQ(FDone[0].ErrorCode & CopyNumberMask, cnFileExists);
    EXPECT_FALSE(FDone[0].SourceExists) << "not tried again at every interval";
  };
  for (int Compress = 0; Compress <= 2; ++Compress) {
    SCOPED_TRACE("compress " + std::to_string(Compress));
    // Both files there from the start: r.txt's version would replace the
    // copy of r.bak-1.txt.
    fs::remove_all(FDst);
    fs::remove_all(FSrc);
    fs::create_directories(FSrc);
    Put("r.txt", "r one", 0);
    Put("r.bak-1.txt", "the real r.bak-1", 0);
    Run({"r.bak-1.txt", "r.txt"}, Compress, 1);
    ASSERT_EQ(FLines, (std::vector<std::string>{LineFor("r.bak-1.txt"), LineFor("r.txt")}));
    Put("r.txt", "r two", 1);
    Run({"r.txt"}, Compress, 1);
    ExpectRefused("r.txt", "would take the name of the copy of \"r.bak-1.txt\"");
    EXPECT_EQ(Restored(Copy("r.txt", Compress), Compress), "r one");
    EXPECT_EQ(Restored(Copy("r.bak-1.txt", Compress), Compress), "the real r.bak-1");

    // r.txt had a version before r.bak-1.txt came: the new file's copy would
    // replace that version.
    fs::remove_all(FDst);
    fs::remove_all(FSrc);
    fs::create_directories(FSrc);
    Put("r.txt", "r one", 0);
    Run({"r.txt"}, Compress, 1);
    Put("r.txt", "r two", 1);
    Run({"r.txt"}, Compress, 1);
    ASSERT_EQ(FLines, std::vector<std::string>{LineFor("r.txt", 1)});
    Put("r.bak-1.txt", "the real r.bak-1", 2);
    Run({"r.bak-1.txt"}, Compress, 1);
    ExpectRefused("r.bak-1.txt", "would take the place of previous version 1 of \"r.txt\"");
    EXPECT_EQ(Restored(Copy("r.bak-1.txt", Compress), Compress), "r one");
    EXPECT_EQ(Restored(Copy("r.txt", Compress), Compress), "r two");

    // r.bak-1.txt was backed up first: a gzip or zip copy records whose it
    // is, so the file's next backup goes ahead; a plain copy records
    // nothing, and may be r.txt's version.
    fs::remove_all(FDst);
    fs::remove_all(FSrc);
    fs::create_directories(FSrc);
    Put("r.bak-1.txt", "the real r.bak-1", 0);
    Run({"r.bak-1.txt"}, Compress, 1);
    Put("r.txt", "r one", 1);
    Run({"r.txt"}, Compress, 1);
    ASSERT_EQ(FLines, std::vector<std::string>{LineFor("r.txt")});
    Put("r.bak-1.txt", "the real r.bak-1, changed", 2);
    Run({"r.bak-1.txt"}, Compress, 1);
    if (Compress == 0) {
      ExpectRefused("r.bak-1.txt", "would take the place of previous version 1 of \"r.txt\"");
      EXPECT_EQ(Restored(Copy("r.bak-1.txt", Compress), Compress), "the real r.bak-1");
    } else {
      EXPECT_EQ(FLines, std::vector<std::string>{LineFor("r.bak-1.txt", 1)});
      EXPECT_EQ(Restored(Copy("r.bak-1.txt", Compress), Compress), "the real r.bak-1, changed");
      EXPECT_EQ(Restored(Copy("r.bak-1.bak-1.txt", Compress), Compress), "the real r.bak-1");
    }
    EXPECT_EQ(Restored(Copy("r.txt", Compress), Compress), "r one");
  }
}

// A line break in a name is shown escaped: each file keeps one line (and a
// failure its one continuation line), and the copy has the exact name.
TEST_F(TBackupThreadTest, LineBreaksInNamesAreShownEscaped) {
  WriteFileBytes(Source("two\nlines.txt"), "lf");
  WriteFileBytes(Source("back\rto start.txt"), "cr");
  Run({"back\rto start.txt", "gone\r\n.txt", "two\nlines.txt"}, 0, 1);
  const std::string Start = std::string(Now) + " - 01: " + FSrc + "/";
  EXPECT_EQ(FLines, (std::vector<std::string>{
                        Start + "back\\rto start.txt => " + FDst,
                        Start + "gone\\r\\n.txt => " + FDst + "\r\n  *** " + GetCopyErrorText(caCopy | cjFileNotFound),
                        Start + "two\\nlines.txt => " + FDst}));
  EXPECT_EQ(ReadFileBytes(Target("two\nlines.txt")), "lf");
  EXPECT_EQ(ReadFileBytes(Target("back\rto start.txt")), "cr");
}

// A short temporary name tells nothing of its file, and another worker on
// the same destination may be writing it right now: a recent one stays, as
// does one that is a source file's copy.
TEST_F(TBackupThreadTest, RecentTemporaryFilesOfTheShortFormStay) {
  fs::create_directories(TargetDir());
  WriteFileBytes(Source("x.txt"), "new x");
  WriteFileBytes(Target("x.txt"), "old x");
  WriteFileBytes(Target(".dz-0123456789ab.tmp"), "another worker's copy in progress");
  Run({"x.txt"}, 0, 1);
  EXPECT_EQ(Listing(TargetDir()), (std::vector<std::string>{".dz-0123456789ab.tmp", "x.bak-1.txt", "x.txt"}));
  EXPECT_EQ(FLines, std::vector<std::string>{LineFor("x.txt", 1)});
}

TEST(BackupTemporaryNameTest, OnlyTheShortFormIsTaken) {
  EXPECT_TRUE(TBackupThread::IsTemporaryName(".dz-0123456789ab.tmp"));
  for (const char* Name : {".dz-0123456789AB.tmp", ".dz-0123456789a.tmp", ".dz-0123456789abc.tmp", "dz-0123456789ab.tmp",
                           ".dz-0123456789ab.tmp1", "x.txt.tmp", ".dz-0123456789ag.tmp"})
    EXPECT_FALSE(TBackupThread::IsTemporaryName(Name)) << Name;
}

// The destination is a small tmpfs.
class TBackupThreadTmpfsTest : public TBackupThreadTest {
protected:
  void SetUp() override {
    TBackupThreadTest::SetUp();
    const std::string Command = "mount -t tmpfs -o size=1m tmpfs '" + FDst + "' 2>/dev/null";
    if (std::system(Command.c_str()) != 0) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    FMounted = true;
  }
  void TearDown() override {
    if (FMounted) std::system(("umount -l '" + FDst + "' 2>/dev/null").c_str());
    TBackupThreadTest::TearDown();
  }
  bool FMounted = false;
};

// A copy that fails half-way (the destination is full) leaves no torn file
// under a final name: neither as a first copy nor over an existing one.
TEST_F(TBackupThreadTmpfsTest, CopyThatRunsOutOfSpaceLeavesNoTornFile) {
  fs::create_directories(TargetDir());
  const std::string Big(2 << 20, 'b');
  WriteFileBytes(Source("first.txt"), Big);
  WriteFileBytes(Source("kept.txt"), Big);
  WriteFileBytes(Target("kept.txt"), "cur");
  WriteFileBytes(JoinPath(TargetDir(), "kept.bak-1.txt"), "v1");
  Run({"first.txt", "kept.txt"}, 0, 2);
  ASSERT_EQ(FWorker->Results().size(), 2u);
  for (const TBackupFileResult& R : FWorker->Results()) {
    EXPECT_NE(R.ErrorCode, 0) << R.FileName;
    EXPECT_TRUE(R.SourceExists) << R.FileName;
  }
  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_NE(FLines[0].find("\r\n  *** "), std::string::npos) << FLines[0];
  EXPECT_EQ(Listing(TargetDir()), (std::vector<std::string>{"kept.bak-1.txt", "kept.txt"}));
  EXPECT_EQ(ReadFileBytes(Target("kept.txt")), "cur");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "kept.bak-1.txt")), "v1");
}

// The destination goes away between the first and the second file: nothing
// may be written to the folder below the mount point. The first file's copy
// was made but never flushed and renamed there: it fails, and so is backed
// up again by the next run.
TEST_F(TBackupThreadTmpfsTest, DestinationThatGoesAwayStopsTheRun) {
  for (const char* Name : {"a", "b", "c"}) WriteFileBytes(Source(Name), Name);
  Run({"a", "b", "c"}, 0, 0, [this](TBackupThread::TStep Step, std::size_t Index) {
    if (Step != TBackupThread::TStep::stBeforeFile || Index != 1) return;
    if (std::system(("umount -l '" + FDst + "'").c_str()) == 0) FMounted = false;
  });
  ASSERT_FALSE(FMounted) << "the tmpfs could not be unmounted";
  ASSERT_EQ(FLines.size(), 2u);
  ASSERT_EQ(FWorker->Results().size(), 1u);
  const TBackupFileResult& A = FWorker->Results()[0];
  EXPECT_EQ(A.ErrorCode, caCopy | cjWriteFile);
  EXPECT_TRUE(A.SourceExists);
  EXPECT_EQ(FLines[0], LineFor("a") + "\r\n  *** " + GetCopyErrorText(A.ErrorCode));
  EXPECT_EQ(FLines[1].substr(0, 5), " *** ");
  EXPECT_NE(FLines[1].find(FDst), std::string::npos);
  EXPECT_EQ(FWorker->NotDone(), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(Listing(FDst).empty());
}

// The destination is a disk that takes the writes into the cache and fails
// them on the way to the disk.
class TBackupThreadFailingDiskTest : public TBackupThreadFixture<test::TLoopVolumeTest> {};

// The batch's flush fails: none of its copies is taken, every file gets an
// error line, the current copy and its versions stay as they were.
TEST_F(TBackupThreadFailingDiskTest, BatchWhoseFlushFailsKeepsTheOldCopiesAndReportsEveryFile) {
  DZ_REQUIRE(MountFailingDisk(FDst), "a loop device on a tmpfs");
  fs::create_directories(TargetDir());
  WriteFileBytes(Target("kept.txt"), "cur");
  WriteFileBytes(JoinPath(TargetDir(), "kept.bak-1.txt"), "v1");
  ASSERT_EQ(std::system(("sync -f '" + FDst + "'").c_str()), 0);
  // Each alone is more than the disk can take, should time cut the batch in
  // two on a busy machine.
  WriteFileBytes(Source("kept.txt"), std::string(2 << 20, 'k'));
  WriteFileBytes(Source("new.txt"), std::string(3 << 20, 'n'));
  Run({"kept.txt", "new.txt"}, 0, 2);
  ASSERT_EQ(FWorker->Results().size(), 2u);
  ASSERT_EQ(FLines.size(), 2u);
  ASSERT_EQ(FDone.size(), 2u);
  const char* Names[] = {"kept.txt", "new.txt"};
  for (std::size_t I = 0; I < 2; ++I) {
    SCOPED_TRACE(Names[I]);
    const TBackupFileResult& R = FWorker->Results()[I];
    EXPECT_EQ(R.FileName, Names[I]);
    EXPECT_TRUE(R.ErrorCode == (caCopy | cjWriteFile) || R.ErrorCode == (caCopy | cjLowDiskSpace)) << R.ErrorCode;
    EXPECT_TRUE(R.SourceExists);
    EXPECT_EQ(FLines[I], LineFor(Names[I]) + "\r\n  *** " + GetCopyErrorText(R.ErrorCode));
    EXPECT_EQ(FDone[I].FileName, Names[I]);
    EXPECT_EQ(FDone[I].ErrorCode, R.ErrorCode);
  }
  EXPECT_EQ(Listing(TargetDir()), (std::vector<std::string>{"kept.bak-1.txt", "kept.txt"}));
  // At most the first bytes: a failure would show megabytes.
  EXPECT_EQ(ReadFileBytes(Target("kept.txt")).substr(0, 8), "cur");
  EXPECT_EQ(ReadFileBytes(JoinPath(TargetDir(), "kept.bak-1.txt")).substr(0, 8), "v1");
}

// The destination is an ext4 image whose leftovers are made old with
// debugfs (a status-change time cannot be set otherwise).
class TBackupThreadLeftoverTest : public TBackupThreadFixture<test::TLoopVolumeTest> {};

// Leftovers of interrupted runs go when their folder is met: the short form
// once it has not changed for long, the old form ("<target>.tmp<digits>") of
// the file backed up. A source file's copy of such a name stays.
TEST_F(TBackupThreadLeftoverTest, OldTemporaryFilesOfInterruptedRunsAreRemoved) {
  const fs::path Image = FDir / "dst.img";
  DZ_REQUIRE(MakeImage(Image, "mkfs.ext4 -q -F") && MountImage(Image, FDst), "an ext4 image on a loop device");
  fs::create_directories(TargetDir());
  WriteFileBytes(Source("x.txt"), "new x");
  WriteFileBytes(Source(".dz-cccccccccccc.tmp"), "a source file of that name");
  WriteFileBytes(Target("x.txt"), "old x");
  const char* Old[] = {".dz-aaaaaaaaaaaa.tmp", ".dz-cccccccccccc.tmp"};
  for (const char* Name : Old) WriteFileBytes(Target(Name), "old");
  WriteFileBytes(Target(".dz-bbbbbbbbbbbb.tmp"), "recent");
  WriteFileBytes(Target("x.txt.tmp3"), "old form");
  Unmount(FDst);
  const std::string Inside = "/" + fs::path(PathWithoutDrive(FSrc)).relative_path().string() + "/";
  for (const char* Name : Old)
    ASSERT_TRUE(test::TLoopVolumeTest::Run("debugfs -w -R 'sif " + Inside + Name + " ctime 20200101000000' " +
                                           test::Quoted(Image)));
  ASSERT_TRUE(MountImage(Image, FDst));
  Run({"x.txt"}, 0, 1);
  EXPECT_EQ(Listing(TargetDir()),
            (std::vector<std::string>{".dz-bbbbbbbbbbbb.tmp", ".dz-cccccccccccc.tmp", "x.bak-1.txt", "x.txt"}));
  EXPECT_EQ(FLines, std::vector<std::string>{LineFor("x.txt", 1)});
}

// The destination keeps coarser times than the source: ext2 with small
// inodes whole seconds, FAT 2 s (and no permission bits of the source).
class TBackupThreadCoarseTimesTest : public TBackupThreadFixture<test::TLoopVolumeTest> {};

TEST_F(TBackupThreadCoarseTimesTest, UnchangedFileIsUpToDateWhereTheCopysTimeIsRounded) {
  int Tried = 0;
  for (const char* Mkfs : {"mkfs.ext2 -q -F -I 128", "mkfs.vfat"}) {
    const fs::path Image = FDir / (std::to_string(Tried) + ".img");
    if (!MakeImage(Image, Mkfs) || !MountImage(Image, FDst)) continue;
    ++Tried;
    for (int Compress = 0; Compress <= 2; ++Compress) {
      SCOPED_TRACE(std::string(Mkfs) + ", compress " + std::to_string(Compress));
      for (const auto& Entry : fs::directory_iterator(FDst)) fs::remove_all(Entry.path());
      const std::string Current = Target("f.txt") + CopySuffix[Compress];
      WriteFileBytes(Source("f.txt"), "one");
      SetWriteTime(Source("f.txt"), At(1700000000, 3000000));
      Run({"f.txt"}, Compress, 1);
      ASSERT_EQ(FLines, std::vector<std::string>{LineFor("f.txt")});
      ASSERT_NE(StatusOf(Current).LastWriteTime, StatusOf(Source("f.txt")).LastWriteTime) << "not rounded";

      Run({"f.txt"}, Compress, 1);
      EXPECT_TRUE(FLines.empty()) << FLines.front();
      ASSERT_EQ(FDone.size(), 1u);
      EXPECT_TRUE(FDone[0].UpToDate);

      WriteFileBytes(Source("f.txt"), "two");
      SetWriteTime(Source("f.txt"), At(1700000000, 6000000));
      Run({"f.txt"}, Compress, 1);
      EXPECT_EQ(FLines, std::vector<std::string>{LineFor("f.txt", 1)});
      EXPECT_EQ(Restored(Current, Compress), "two");
    }
    Unmount(FDst);
  }
  DZ_REQUIRE(Tried > 0, "a file system with coarse times on a loop device");
}

}  // namespace
}  // namespace dz
