#include "watchdog/BackupThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/MainThreadQueue.h"
#include "copyengine/CopyJobCodes.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "support/LoopVolumes.h"
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
        1, FDst, FSrc, Drv, "jpg,Zip", List, Compress, Retain,
        [this](const std::string& Line) {
          FLines.push_back(Line);
          ++FLinesTaken;
        },
        [this](const TBackupFileResult& Result) { FDone.push_back(Result); }, Queue, [] { return std::string(Now); },
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
  struct TCase {
    int Compress;
    bool NoComp;
    TCopyOptions Options;
    const char* Suffix;
  };
  const TCase Cases[] = {{0, false, 0x188, ""}, {0, true, 0x188, ""},   {1, false, 0x189, ".gz"},
                         {1, true, 0x188, ""},  {2, false, 0x18B, ".zip"}, {2, true, 0x18A, ".zip"}};
  for (const TCase& C : Cases) {
    const TBackupCopyKind Kind = BackupCopyKind(C.Compress, C.NoComp);
    EXPECT_EQ(Kind.Options, C.Options) << C.Compress << " " << C.NoComp;
    EXPECT_EQ(Kind.Suffix, C.Suffix) << C.Compress << " " << C.NoComp;
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
  EXPECT_EQ(AtFlush, (std::vector<std::string>{"a.txt.tmp", "b.txt", "b.txt.tmp", "c.txt.tmp"}));
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

}  // namespace
}  // namespace dz
