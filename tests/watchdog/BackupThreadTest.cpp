#include "watchdog/BackupThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/MainThreadQueue.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr const char* Now = "09.12.2026 14:03:27";

class TBackupThreadTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FSrc = (FDir / "src").string();
    FDst = (FDir / "dst").string() + "/";
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
    TPlainMainThreadQueue Queue;
    FWorker = std::make_unique<TBackupThread>(
        1, FDst, FSrc, Drv, "jpg,Zip", List, Compress, Retain,
        [this](const std::string& Line) { FLines.push_back(Line); },
        [this](const TBackupFileResult& Result) { FDone.push_back(Result); }, Queue, [] { return std::string(Now); },
        std::move(Hook), Flush);
    FCurrent.store(FWorker.get());
    ASSERT_TRUE(Queue.WaitWhileProcessing([this] { return FWorker->Finished(); }, std::chrono::minutes(5)));
    FWorker->Wait();
    Queue.ProcessPending();
  }

  std::string LineFor(const std::string& Rel, int Moved = 0) const {
    std::string Line = std::string(Now) + " - 01: " + Source(Rel) + " => " + FDst;
    if (Moved > 0) Line += " (+" + std::to_string(Moved) + ")";
    return Line;
  }

  std::string FSrc, FDst;
  std::vector<std::string> FLines;
  std::vector<TBackupFileResult> FDone;  // as told on the main thread, in order
  std::unique_ptr<TBackupThread> FWorker;
  std::atomic<TBackupThread*> FCurrent{nullptr};
};

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

TEST_F(TBackupThreadTest, StopBetweenFilesKeepsTheRestUnreported) {
  for (const char* Name : {"a", "b", "c"}) WriteFileBytes(Source(Name), Name);
  Run({"a", "b", "c"}, 0, 0, [this](TBackupThread::TStep Step, std::size_t Index) {
    if (Step == TBackupThread::TStep::stBeforeFile && Index == 1) FCurrent.load()->RequestStop();
  });
  EXPECT_EQ(FLines, std::vector<std::string>{LineFor("a")});
  ASSERT_EQ(FWorker->Results().size(), 1u);
  EXPECT_EQ(FWorker->NotDone(), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(Listing(TargetDir()), std::vector<std::string>{"a"});
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
// may be written to the folder below the mount point.
TEST_F(TBackupThreadTmpfsTest, DestinationThatGoesAwayStopsTheRun) {
  for (const char* Name : {"a", "b", "c"}) WriteFileBytes(Source(Name), Name);
  Run({"a", "b", "c"}, 0, 0, [this](TBackupThread::TStep Step, std::size_t Index) {
    if (Step != TBackupThread::TStep::stBeforeFile || Index != 1) return;
    if (std::system(("umount -l '" + FDst + "'").c_str()) == 0) FMounted = false;
  });
  ASSERT_FALSE(FMounted) << "the tmpfs could not be unmounted";
  ASSERT_EQ(FLines.size(), 2u);
  EXPECT_EQ(FLines[0], LineFor("a"));
  EXPECT_EQ(FLines[1].substr(0, 5), " *** ");
  EXPECT_NE(FLines[1].find(FDst), std::string::npos);
  EXPECT_EQ(FWorker->Results().size(), 1u);
  EXPECT_EQ(FWorker->NotDone(), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(Listing(FDst).empty());
}

}  // namespace
}  // namespace dz
