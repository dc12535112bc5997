// The system's directory-watch backend on real file-system activity. Every
// test waits for events, never for time: after the activity it writes a
// marker file and waits until the marker's report arrives, so everything
// reported before it is in. The upper bound of a wait only guards against a
// hang.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/MainThreadQueue.h"
#include "dirwatch/DirectoryWatch.h"
#include "platform/DirWatchBackend.h"
#include "platform/SysError.h"
#include "support/AsUser.h"
#include "support/ExchangeNames.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::WriteFileBytes;

constexpr auto WaitGuard = std::chrono::seconds(60);
constexpr std::uint32_t AllFilters = 0x17F;
constexpr std::uint32_t WatchdogFilters = 0x5B;  // file and directory names, size, last write, creation

std::string Describe(const TDirChange& Change) {
  static const char* const Names[] = {"?", "added", "removed", "modified", "renamed-old", "renamed-new"};
  const int Action = Change.Action >= 1 && Change.Action <= 5 ? Change.Action : 0;
  return std::string(Names[Action]) + " " + Change.FileName;
}

bool IsMarker(const std::string& FileName) { return FileName.rfind("marker-", 0) == 0; }

// Records what the backend reports. A test can hold the worker inside the
// sink, so that the kernel queue fills up behind it, and can make the sink
// raise, as a receiver that cannot allocate would.
class TRecordingSink final : public TDirWatchSink {
public:
  void Changes(std::vector<TDirChange> Batch, TDirWatchClock::time_point) override {
    std::unique_lock<std::mutex> Lock(FLock);
    FInside = true;
    FSignal.notify_all();
    FSignal.wait(Lock, [this] { return !FHold; });
    FInside = false;
    if (FClosed) ADD_FAILURE() << "the sink was called after Stop returned";
    if (FRaiseInChanges > 0 || !FRaiseUntil.empty()) {
      if (FRaiseInChanges > 0) --FRaiseInChanges;
      for (const TDirChange& Change : Batch)
        if (Change.FileName == FRaiseUntil) FRaiseUntil.clear();
      ++FRefusedBatches;
      for (TDirChange& Change : Batch) FRefused.push_back(std::move(Change));
      FSignal.notify_all();
      throw std::bad_alloc();
    }
    for (TDirChange& Change : Batch) FChanges.push_back(std::move(Change));
    FSignal.notify_all();
  }
  void Error(int Code, std::string Text, TDirWatchClock::time_point Since) override {
    std::lock_guard<std::mutex> Lock(FLock);
    if (FClosed) ADD_FAILURE() << "the sink was called after Stop returned";
    if (FRaiseInErrors) {
      ++FRaisedErrors;
      FSignal.notify_all();
      throw std::system_error(std::make_error_code(std::errc::not_enough_memory), "cannot queue the report");
    }
    FErrors.emplace_back(Code, std::move(Text));
    FErrorSince.push_back(Since);
    FSignal.notify_all();
  }

  // The next Count calls of Changes raise std::bad_alloc; the batches they
  // refused are kept apart (Refused).
  void RaiseInChanges(int Count) {
    std::lock_guard<std::mutex> Lock(FLock);
    FRaiseInChanges = Count;
  }
  // Every call of Changes raises until it has refused a batch holding Name:
  // events left over from earlier writes may come first, in batches of their own.
  void RaiseInChangesUntil(std::string Name) {
    std::lock_guard<std::mutex> Lock(FLock);
    FRaiseUntil = std::move(Name);
  }
  // Every call of Error raises std::system_error.
  void RaiseInErrors() {
    std::lock_guard<std::mutex> Lock(FLock);
    FRaiseInErrors = true;
  }
  // Until a call of Error has raised.
  bool WaitForRaisedError() {
    return WaitFor([this] { return FRaisedErrors > 0; });
  }
  std::vector<TDirChange> Refused() {
    std::lock_guard<std::mutex> Lock(FLock);
    return FRefused;
  }
  std::size_t RefusedBatches() {
    std::lock_guard<std::mutex> Lock(FLock);
    return FRefusedBatches;
  }
  bool WaitUntilRefused(const std::string& FileName) {
    return WaitFor([&] {
      return std::any_of(FRefused.begin(), FRefused.end(), [&](const TDirChange& C) { return C.FileName == FileName; });
    });
  }
  std::vector<TDirWatchClock::time_point> ErrorSince() {
    std::lock_guard<std::mutex> Lock(FLock);
    return FErrorSince;
  }

  // Waits until Done holds for what has arrived; false after the guard time.
  bool WaitFor(const std::function<bool()>& Done) {
    std::unique_lock<std::mutex> Lock(FLock);
    return FSignal.wait_for(Lock, WaitGuard, Done);
  }
  bool WaitForChange(int Action, const std::string& FileName) {
    return WaitFor([&] {
      return std::any_of(FChanges.begin(), FChanges.end(),
                         [&](const TDirChange& C) { return C.Action == Action && C.FileName == FileName; });
    });
  }
  bool WaitForName(const std::string& FileName) {
    return WaitFor([&] {
      return std::any_of(FChanges.begin(), FChanges.end(), [&](const TDirChange& C) { return C.FileName == FileName; });
    });
  }
  bool WaitForError(int Code, std::size_t Count = 1) {
    return WaitFor([&] {
      return static_cast<std::size_t>(std::count_if(FErrors.begin(), FErrors.end(),
                                                    [&](const auto& E) { return E.first == Code; })) >= Count;
    });
  }

  // The changes up to the marker's first report, without the reports of
  // any marker; they are taken out of the record.
  std::vector<TDirChange> TakeUntil(const std::string& Marker) {
    std::lock_guard<std::mutex> Lock(FLock);
    const auto End =
        std::find_if(FChanges.begin(), FChanges.end(), [&](const TDirChange& C) { return C.FileName == Marker; });
    std::vector<TDirChange> Taken;
    for (auto It = FChanges.begin(); It != End; ++It)
      if (!IsMarker(It->FileName)) Taken.push_back(*It);
    FChanges.erase(FChanges.begin(), End == FChanges.end() ? End : End + 1);
    return Taken;
  }

  void Hold() {
    std::lock_guard<std::mutex> Lock(FLock);
    FHold = true;
  }
  bool WaitUntilHeldInside() {
    std::unique_lock<std::mutex> Lock(FLock);
    return FSignal.wait_for(Lock, WaitGuard, [this] { return FInside; });
  }
  void Release() {
    std::lock_guard<std::mutex> Lock(FLock);
    FHold = false;
    FSignal.notify_all();
  }
  // Forgets everything recorded (between the cases of a test).
  void Clear() {
    std::lock_guard<std::mutex> Lock(FLock);
    FChanges.clear();
    FRefused.clear();
    FRefusedBatches = 0;
    FErrors.clear();
    FErrorSince.clear();
  }
  // From now on any call is a failure.
  void Close() {
    std::lock_guard<std::mutex> Lock(FLock);
    FClosed = true;
  }
  std::vector<std::pair<int, std::string>> Errors() {
    std::lock_guard<std::mutex> Lock(FLock);
    return FErrors;
  }
  std::vector<TDirChange> AllChanges() {
    std::lock_guard<std::mutex> Lock(FLock);
    return FChanges;
  }

private:
  std::mutex FLock;
  std::condition_variable FSignal;
  std::vector<TDirChange> FChanges;
  std::vector<TDirChange> FRefused;
  std::vector<std::pair<int, std::string>> FErrors;
  std::vector<TDirWatchClock::time_point> FErrorSince;  // beside FErrors
  int FRaisedErrors = 0;
  int FRaiseInChanges = 0;
  std::string FRaiseUntil;
  std::size_t FRefusedBatches = 0;
  bool FRaiseInErrors = false;
  bool FHold = false;
  bool FInside = false;
  bool FClosed = false;
};

// Until this process runs one thread only: the workers of earlier tests end
// on their own once they have let go of their watches. A child forked while
// other threads run may not start threads of its own under ThreadSanitizer,
// which itself keeps a thread from the first thread made on (not counted in
// that check).
bool WaitUntilSingleThreaded() {
#if defined(__SANITIZE_THREAD__)
  constexpr int OwnThreads = 2;
#else
  constexpr int OwnThreads = 1;
#endif
  const auto Deadline = std::chrono::steady_clock::now() + WaitGuard;
  for (;;) {
    std::ifstream Status("/proc/self/status");
    int Threads = 0;
    for (std::string Line; std::getline(Status, Line);)
      if (Line.rfind("Threads:", 0) == 0) Threads = std::stoi(Line.substr(8));
    if (Threads <= OwnThreads) return true;
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// What a collector of changed files would hold after the reports: names
// added, modified or renamed to, less those removed or renamed away.
std::set<std::string> Collected(const std::vector<TDirChange>& Changes) {
  std::set<std::string> Names;
  for (const TDirChange& C : Changes) {
    if (C.Action == DirActionRemoved || C.Action == DirActionRenamedOld)
      Names.erase(C.FileName);
    else
      Names.insert(C.FileName);
  }
  return Names;
}

std::set<std::string> NamesOf(const std::vector<TDirChange>& Changes, int Action) {
  std::set<std::string> Names;
  for (const TDirChange& C : Changes)
    if (C.Action == Action) Names.insert(C.FileName);
  return Names;
}

std::vector<std::string> Described(const std::vector<TDirChange>& Changes) {
  std::vector<std::string> Lines;
  for (const TDirChange& C : Changes) Lines.push_back(Describe(C));
  return Lines;
}

// fs.inotify.max_queued_events is read when an inotify instance is made, so
// it is lowered just around Start and restored at once.
class TQueueLimit {
public:
  static constexpr const char* Path = "/proc/sys/fs/inotify/max_queued_events";
  explicit TQueueLimit(int Limit) : FLimit(Limit) {
    std::ifstream In(Path);
    if (!(In >> FSaved)) return;
    std::ofstream Out(Path);
    FLowered = static_cast<bool>(Out << Limit << "\n");
    Out.close();
    FLowered = FLowered && !Out.fail();
  }
  ~TQueueLimit() { Restore(); }
  bool Lowered() const { return FLowered; }
  void Restore() {
    if (!FLowered) return;
    FLowered = false;
    // Another test lowering it at the same moment may have read the low
    // value as the one to restore; the system's default is the sane value then.
    std::ofstream(Path) << (FSaved == FLimit ? 16384 : FSaved) << "\n";
  }

private:
  int FLimit;
  int FSaved = 0;
  bool FLowered = false;
};

class InotifyBackendTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FRoot = FDir / "watched";
    FOutside = FDir / "outside";
    fs::create_directories(FRoot);
    fs::create_directories(FOutside);
  }
  void TearDown() override {
    FSink.Release();  // a test that failed while holding the worker
    if (FBackend) FBackend->Stop();
    while (!FMounts.empty()) Unmount(FMounts.back());
    // std::filesystem gives up on paths longer than the system's limit;
    // rm works its way down with relative names.
    if (FDeep) {
      EXPECT_EQ(std::system(("rm -rf '" + FDir.string() + "'").c_str()), 0);
    }
    TTempDirTest::TearDown();
  }

  // Mounts Source at Target with mount's Options ("--bind", "-t tmpfs -o
  // size=1m"); false when mounting is refused here (not root, no mount
  // permission in this container). Undone in TearDown if the test does not.
  bool Mount(const std::string& Options, const std::string& Source, const fs::path& Target) {
    const std::string Command = "mount " + Options + " '" + Source + "' '" + Target.string() + "' 2>/dev/null";
    if (std::system(Command.c_str()) != 0) return false;
    FMounts.push_back(Target);
    return true;
  }
  void Unmount(fs::path Target) {
    FMounts.erase(std::find(FMounts.begin(), FMounts.end(), Target));
    EXPECT_EQ(std::system(("umount '" + Target.string() + "'").c_str()), 0) << "cannot unmount " << Target;
  }

  // Top/Name/Name/... Levels deep, with a file "f.txt" in Top and every
  // level. Made with relative steps, since the full paths exceed what the
  // system accepts in one name.
  void MakeDeepTree(const fs::path& Top, int Levels, const std::string& Name) {
    FDeep = true;
    fs::create_directories(Top);
    WalkDownDeepTree(Top, Name, [&](int Level) {
      WriteFileBytes("f.txt", "level " + std::to_string(Level));
      if (Level == Levels) return false;
      fs::create_directory(Name);
      return true;
    });
  }
  // Runs Step with each level below Top as the current directory (0 is Top
  // itself), going deeper while Step returns true.
  static void WalkDownDeepTree(const fs::path& Top, const std::string& Name, const std::function<bool(int Level)>& Step) {
    struct TBack {
      fs::path Saved = fs::current_path();
      ~TBack() { fs::current_path(Saved); }
    } Back;
    fs::current_path(Top);
    for (int Level = 0; Step(Level); ++Level) fs::current_path(Name);
  }

  void Start(std::uint32_t Filter = WatchdogFilters, bool SubTree = true) {
    FBackend = CreateSystemDirWatchBackend();
    FFilter = Filter;
    FBackend->Start(TDirWatchRequest{FRoot.string(), SubTree, Filter, 17024}, FSink);
  }
  // Start with a kernel queue of 32 events, which a test overflows easily;
  // false when the limit cannot be lowered here (not root).
  bool StartWithSmallQueue() {
    TQueueLimit Limit(32);
    if (!Limit.Lowered()) return false;
    Start();
    return true;
  }

  // Everything reported since the last Sync, up to a marker made now in a
  // way that the filter lets through.
  std::vector<TDirChange> Sync() {
    const std::string Marker = "marker-" + std::to_string(++FMarkers);
    if (FFilter & DirNotifyFileName) {
      WriteFileBytes(FRoot / Marker, "");
    } else if (FFilter & DirNotifyDirName) {
      fs::create_directory(FRoot / Marker);
    } else if (FFilter & (DirNotifyLastWrite | DirNotifySize)) {
      WriteFileBytes(FRoot / Marker, "written");
    } else {
      WriteFileBytes(FRoot / Marker, "");
      fs::permissions(FRoot / Marker, fs::perms::others_read, fs::perm_options::remove);
    }
    EXPECT_TRUE(FSink.WaitForName(Marker)) << "the marker's report did not arrive";
    return FSink.TakeUntil(Marker);
  }

  fs::path FRoot;
  fs::path FOutside;
  TRecordingSink FSink;
  std::unique_ptr<TDirWatchBackend> FBackend;
  std::uint32_t FFilter = 0;
  int FMarkers = 0;
  std::vector<fs::path> FMounts;
  bool FDeep = false;
};

TEST_F(InotifyBackendTest, ARenameReportsTheOldNameThenTheNewOne) {
  fs::create_directories(FRoot / "docs");
  WriteFileBytes(FRoot / "docs" / "a.txt", "text");
  Start();
  fs::rename(FRoot / "docs" / "a.txt", FRoot / "docs" / "b.txt");
  fs::rename(FRoot / "docs" / "b.txt", FRoot / "c.txt");  // into another directory of the tree
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"renamed-old docs/a.txt", "renamed-new docs/b.txt",
                                                         "renamed-old docs/b.txt", "renamed-new c.txt"}));
}

TEST_F(InotifyBackendTest, CreatingWritingAndDeletingAFile) {
  Start();
  WriteFileBytes(FRoot / "new.txt", "content");
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"added new.txt", "modified new.txt"}));
  fs::remove(FRoot / "new.txt");
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"removed new.txt"}));
}

TEST_F(InotifyBackendTest, ASubTreeMadeAtOnceReportsEveryFileInIt) {
  Start();
  // Directories and files are made as fast as possible, before the backend
  // can have watched the new directories: the files must still be reported.
  std::set<std::string> Expected;
  for (int Round = 0; Round < 5; ++Round) {
    const std::string Top = "tree" + std::to_string(Round);
    ASSERT_EQ(std::system(("mkdir -p '" + (FRoot / Top / "a" / "b" / "c").string() + "'").c_str()), 0);
    for (const char* Dir : {"", "/a", "/a/b", "/a/b/c"})
      for (const char* Name : {"x.txt", "y.dat"}) {
        const std::string RelPath = Top + Dir + "/" + Name;
        WriteFileBytes(FRoot / RelPath, RelPath);
        Expected.insert(RelPath);
      }
    for (const char* Dir : {"", "/a", "/a/b", "/a/b/c"}) Expected.insert(Top + Dir);
  }
  const std::set<std::string> Got = Collected(Sync());
  for (const std::string& Name : Expected) EXPECT_TRUE(Got.count(Name)) << Name << " was not reported";
}

TEST_F(InotifyBackendTest, ABurstOfThousandsOfFilesIsReportedCompletely) {
  Start();
  // Like a checkout: directories and files appear together.
  std::set<std::string> Expected;
  for (int D = 0; D < 40; ++D) {
    const std::string Dir = "src/module" + std::to_string(D);
    fs::create_directories(FRoot / Dir);
    for (int F = 0; F < 100; ++F) {
      const std::string RelPath = Dir + "/file" + std::to_string(F) + ".cpp";
      WriteFileBytes(FRoot / RelPath, RelPath);
      Expected.insert(RelPath);
    }
  }
  const std::vector<TDirChange> Changes = Sync();
  const std::set<std::string> Got = Collected(Changes);
  std::size_t Missing = 0;
  for (const std::string& Name : Expected) Missing += Got.count(Name) ? 0 : 1;
  EXPECT_EQ(Missing, 0u) << "of " << Expected.size() << " files";
  EXPECT_TRUE(FSink.Errors().empty()) << FSink.Errors().front().second;
}

TEST_F(InotifyBackendTest, EditorSavePatternsLeaveTheSavedFileCollected) {
  struct TCase {
    const char* Name;
    std::function<void(const fs::path& Dir)> Save;
    std::set<std::string> Collected;  // of the save alone
  };
  const TCase Cases[] = {
      {"temporary file renamed over the original",
       [](const fs::path& Dir) {
         WriteFileBytes(Dir / ".doc.txt.swp", "new content");
         fs::rename(Dir / ".doc.txt.swp", Dir / "doc.txt");
       },
       {"doc.txt"}},
      {"original renamed to a backup, then written anew",
       [](const fs::path& Dir) {
         fs::rename(Dir / "doc.txt", Dir / "doc.txt~");
         WriteFileBytes(Dir / "doc.txt", "new content");
       },
       {"doc.txt", "doc.txt~"}},
      {"truncated and rewritten in place",
       [](const fs::path& Dir) { WriteFileBytes(Dir / "doc.txt", "new content"); },
       {"doc.txt"}},
  };
  Start();
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::remove_all(FRoot / "edit");
    fs::create_directories(FRoot / "edit");
    WriteFileBytes(FRoot / "edit" / "doc.txt", "old content");
    Sync();
    Case.Save(FRoot / "edit");
    std::set<std::string> Got;
    for (const std::string& Name : Collected(Sync())) Got.insert(fs::path(Name).filename().string());
    EXPECT_EQ(Got, Case.Collected);
  }
}

TEST_F(InotifyBackendTest, AWriteBurstIsReportedOnce) {
  WriteFileBytes(FRoot / "log.txt", "");
  Start();
  {
    std::ofstream Out(FRoot / "log.txt", std::ios::binary | std::ios::app);
    for (int I = 0; I < 500; ++I) {
      Out << "line " << I << "\n";
      Out.flush();  // one write() each
    }
  }
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"modified log.txt"}));
}

TEST_F(InotifyBackendTest, AFileThatStaysOpenIsReportedWithoutWaitingForItsClose) {
  Start();
  std::ofstream Out(FRoot / "open.log", std::ios::binary);
  Sync();
  Out << "first entry\n";
  Out.flush();
  // The report comes after a short delay, not only at the close.
  EXPECT_TRUE(FSink.WaitForChange(DirActionModified, "open.log"));
  Out.close();
}

// A write held back until the file is closed is still reported when the
// watcher stops first: otherwise that change would miss its backup.
TEST_F(InotifyBackendTest, WritesHeldBackAreReportedAtStop) {
  Start();
  std::ofstream Out(FRoot / "still-open.log", std::ios::binary);
  Sync();
  Out << "entry\n";
  Out.flush();
  Sync();  // the write has been read (the kernel reports in order) and is held
  FBackend->Stop();
  EXPECT_TRUE(FSink.WaitForChange(DirActionModified, "still-open.log"));
  Out.close();
}

TEST_F(InotifyBackendTest, ADirectoryMovedInReportsWhatIsInsideAndIsWatched) {
  fs::create_directories(FOutside / "tree" / "sub");
  WriteFileBytes(FOutside / "tree" / "a.txt", "a");
  WriteFileBytes(FOutside / "tree" / "sub" / "b.txt", "b");
  Start();
  fs::rename(FOutside / "tree", FRoot / "tree");
  const std::vector<TDirChange> Changes = Sync();
  EXPECT_EQ(NamesOf(Changes, DirActionAdded), (std::set<std::string>{"tree", "tree/a.txt", "tree/sub", "tree/sub/b.txt"}));
  WriteFileBytes(FRoot / "tree" / "sub" / "c.txt", "c");
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"added tree/sub/c.txt", "modified tree/sub/c.txt"}));
}

TEST_F(InotifyBackendTest, ADirectoryMovedOutIsReportedRemovedAndNoLongerWatched) {
  fs::create_directories(FRoot / "gone" / "sub");
  WriteFileBytes(FRoot / "gone" / "sub" / "a.txt", "a");
  Start();
  fs::rename(FRoot / "gone", FOutside / "gone");
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"removed gone"}));
  WriteFileBytes(FOutside / "gone" / "sub" / "later.txt", "later");
  fs::remove(FOutside / "gone" / "sub" / "a.txt");
  EXPECT_EQ(Described(Sync()), std::vector<std::string>{});
}

// A directory renamed within the tree is its rename, then everything below
// it added under the new name: a receiver that keeps files by their paths
// must back them up there, as it does for a directory moved in.
TEST_F(InotifyBackendTest, ADirectoryMovedWithinTheTreeKeepsThePathsBelowItRight) {
  fs::create_directories(FRoot / "a" / "b" / "c");
  fs::create_directories(FRoot / "other");
  WriteFileBytes(FRoot / "a" / "b" / "x.txt", "x");
  Start();
  fs::rename(FRoot / "a", FRoot / "z");
  std::vector<std::string> Changes = Described(Sync());
  ASSERT_GE(Changes.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(Changes.begin(), Changes.begin() + 2),
            (std::vector<std::string>{"renamed-old a", "renamed-new z"}));
  EXPECT_EQ(std::set<std::string>(Changes.begin() + 2, Changes.end()),
            (std::set<std::string>{"added z/b", "added z/b/c", "added z/b/x.txt"}));
  WriteFileBytes(FRoot / "z" / "b" / "c" / "f.txt", "f");
  EXPECT_EQ(NamesOf(Sync(), DirActionAdded), std::set<std::string>{"z/b/c/f.txt"});

  fs::rename(FRoot / "z" / "b", FRoot / "other" / "b");  // to another parent
  Changes = Described(Sync());
  ASSERT_GE(Changes.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(Changes.begin(), Changes.begin() + 2),
            (std::vector<std::string>{"renamed-old z/b", "renamed-new other/b"}));
  EXPECT_EQ(std::set<std::string>(Changes.begin() + 2, Changes.end()),
            (std::set<std::string>{"added other/b/c", "added other/b/c/f.txt", "added other/b/x.txt"}));
  WriteFileBytes(FRoot / "other" / "b" / "c" / "g.txt", "g");
  fs::rename(FRoot / "other" / "b" / "c" / "f.txt", FRoot / "other" / "b" / "c" / "h.txt");
  EXPECT_EQ(Described(Sync()),
            (std::vector<std::string>{"added other/b/c/g.txt", "modified other/b/c/g.txt", "renamed-old other/b/c/f.txt",
                                      "renamed-new other/b/c/h.txt"}));
}

// Each change says whether its name is a directory: a link counts as what
// it leads to, a name that went away as what it was.
TEST_F(InotifyBackendTest, EveryChangeCarriesItsKind) {
  const auto Kinds = [](const std::vector<TDirChange>& Changes) {
    static const char* const Names[] = {"unknown", "file", "directory"};
    std::set<std::string> Lines;
    for (const TDirChange& C : Changes)
      if (!IsMarker(C.FileName)) Lines.insert(Describe(C) + " " + Names[C.Kind]);
    return Lines;
  };
  fs::create_directories(FRoot / "old");
  WriteFileBytes(FRoot / "old" / "in-old.txt", "o");
  Start();
  fs::create_directories(FRoot / "d");
  EXPECT_EQ(Kinds(Sync()), (std::set<std::string>{"added d directory"}));
  WriteFileBytes(FRoot / "d" / "a.txt", "a");
  fs::create_directory_symlink(FRoot / "d", FRoot / "link-dir");
  fs::create_symlink(FRoot / "d" / "a.txt", FRoot / "link-file");
  fs::create_symlink(FRoot / "nowhere", FRoot / "dangling");
  EXPECT_EQ(Kinds(Sync()), (std::set<std::string>{"added d/a.txt file", "modified d/a.txt file",
                                                  "added link-dir directory", "added link-file file",
                                                  "added dangling file"}));

  fs::rename(FRoot / "old", FRoot / "new");
  EXPECT_EQ(Kinds(Sync()), (std::set<std::string>{"renamed-old old directory", "renamed-new new directory",
                                                  "added new/in-old.txt file"}));
  fs::rename(FRoot / "link-dir", FRoot / "link-dir2");
  fs::remove(FRoot / "d" / "a.txt");
  fs::remove(FRoot / "new" / "in-old.txt");
  fs::remove(FRoot / "new");
  EXPECT_EQ(Kinds(Sync()), (std::set<std::string>{"renamed-old link-dir file", "renamed-new link-dir2 directory",
                                                  "removed d/a.txt file", "removed new/in-old.txt file",
                                                  "removed new directory"}));
}

TEST_F(InotifyBackendTest, ADeletedTreeReportsItsFilesThenItself) {
  fs::create_directories(FRoot / "old" / "sub");
  WriteFileBytes(FRoot / "old" / "sub" / "a.txt", "a");
  Start();
  fs::remove_all(FRoot / "old");
  EXPECT_EQ(Described(Sync()), (std::vector<std::string>{"removed old/sub/a.txt", "removed old/sub", "removed old"}));
  // A new directory of the same name is a new directory.
  fs::create_directories(FRoot / "old");
  WriteFileBytes(FRoot / "old" / "n.txt", "n");
  EXPECT_EQ(Collected(Sync()), (std::set<std::string>{"old", "old/n.txt"}));
}

TEST_F(InotifyBackendTest, TheFilterDecidesWhichKindsOfChangeAreReported) {
  struct TCase {
    const char* Name;
    std::uint32_t Filter;
    bool SubTree;
    std::vector<std::string> Expected;
  };
  const TCase Cases[] = {
      {"everything", AllFilters, true,
       {"added dir", "added dir/f.txt", "modified dir/f.txt", "modified top.txt", "modified top.txt"}},
      {"file names only", DirNotifyFileName, true, {"added dir/f.txt"}},
      {"directory names only", DirNotifyDirName, true, {"added dir"}},
      {"writes only", DirNotifyLastWrite, true, {"modified dir/f.txt", "modified top.txt"}},
      {"attributes only", DirNotifyAttributes, true, {"modified top.txt"}},
      {"without the sub-tree", AllFilters, false, {"added dir", "modified top.txt", "modified top.txt"}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    if (FBackend) FBackend->Stop();
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
    WriteFileBytes(FRoot / "top.txt", "top");
    Start(Case.Filter, Case.SubTree);
    // One step at a time, so that no two of them can fall into one batch.
    fs::create_directories(FRoot / "dir");
    std::vector<TDirChange> Changes = Sync();
    WriteFileBytes(FRoot / "dir" / "f.txt", "f");
    WriteFileBytes(FRoot / "top.txt", "changed");
    for (TDirChange& C : Sync()) Changes.push_back(C);
    fs::permissions(FRoot / "top.txt", fs::perms::others_read, fs::perm_options::remove);
    for (TDirChange& C : Sync()) Changes.push_back(C);
    EXPECT_EQ(Described(Changes), Case.Expected);
  }
}

TEST_F(InotifyBackendTest, NamesThatAreNotUtf8ArePassedOnAsTheyAre) {
  Start();
  const std::string Name = "caf\xE9-\xFF.txt";
  WriteFileBytes(FRoot / Name, "x");
  EXPECT_EQ(NamesOf(Sync(), DirActionAdded), std::set<std::string>{Name});
}


TEST_F(InotifyBackendTest, AnOverflowIsReportedWith1022AndWatchingGoesOn) {
  if (!StartWithSmallQueue())
    GTEST_SKIP() << "cannot write " << TQueueLimit::Path << " (needs root); the overflow is not tested";
  // Hold the worker inside the sink while the queue overflows behind it.
  FSink.Hold();
  WriteFileBytes(FRoot / "first.txt", "1");
  ASSERT_TRUE(FSink.WaitUntilHeldInside());
  fs::create_directories(FRoot / "during" / "deep");
  WriteFileBytes(FRoot / "during" / "deep" / "inside.txt", "lost in the overflow");
  for (int I = 0; I < 200; ++I) WriteFileBytes(FRoot / ("flood" + std::to_string(I)), "x");
  FSink.Release();
  ASSERT_TRUE(FSink.WaitForError(ErrNotifyEnumDir));
  const auto Errors = FSink.Errors();
  EXPECT_EQ(Errors.front().first, ErrNotifyEnumDir);
  EXPECT_FALSE(Errors.front().second.empty());
  // The directory made while reports were lost is watched now, and what
  // was inside it is reported.
  const std::set<std::string> AddedFirst = NamesOf(Sync(), DirActionAdded);
  EXPECT_TRUE(AddedFirst.count("during/deep/inside.txt"))
      << "the file written into a directory made during the overflow was not reported";
  WriteFileBytes(FRoot / "during" / "deep" / "after.txt", "seen");
  EXPECT_TRUE(NamesOf(Sync(), DirActionAdded).count("during/deep/after.txt"));
}

TEST_F(InotifyBackendTest, StopWakesAWaitingWorkerAndEndsAllReports) {
  Start();
  Sync();  // the worker now waits in poll
  FBackend->Stop();
  FSink.Close();
  // A second watcher on the same tree shows when the kernel has reported
  // these changes; the stopped one must have seen none of them.
  TRecordingSink Witness;
  auto Other = CreateSystemDirWatchBackend();
  Other->Start(TDirWatchRequest{FRoot.string(), true, WatchdogFilters, 17024}, Witness);
  WriteFileBytes(FRoot / "after-stop.txt", "x");
  EXPECT_TRUE(Witness.WaitForChange(DirActionAdded, "after-stop.txt"));
  Other->Stop();
  FBackend->Stop();  // a second Stop does nothing
}

TEST_F(InotifyBackendTest, TheWatchedDirectoryDeletedEndsWithAnError) {
  Start();
  Sync();
  fs::remove_all(FRoot);
  EXPECT_TRUE(FSink.WaitForError(ErrFileNotFound));
}

// A watched directory renamed away, or swapped with another one, is no
// longer at its path: reported as gone, as a deletion is, so the receiver
// neither looks for its files under the old name nor takes the stranger now
// at the path for it.
TEST_F(InotifyBackendTest, TheWatchedDirectoryRenamedAwayEndsWithAnError) {
  const struct {
    const char* Name;
    bool Exchange;
  } Cases[] = {{"renamed away", false}, {"swapped with another directory", true}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const fs::path Root = FDir / (std::string("root-") + (Case.Exchange ? "x" : "r"));
    const fs::path Other = FOutside / (std::string("other-") + (Case.Exchange ? "x" : "r"));
    fs::create_directories(Root);
    fs::create_directories(Other);
    TRecordingSink Sink;
    auto Backend = CreateSystemDirWatchBackend();
    Backend->Start(TDirWatchRequest{Root.string(), true, WatchdogFilters, 17024}, Sink);
    WriteFileBytes(Root / "before.txt", "x");
    ASSERT_TRUE(Sink.WaitForName("before.txt"));
    if (Case.Exchange) {
      if (const int Failure = test::ExchangeNames(Root.string(), Other.string()); Failure != 0) {
        Backend->Stop();
        GTEST_SKIP() << "no RENAME_EXCHANGE here (errno " << Failure << ")";
      }
    } else {
      fs::rename(Root, Other / "moved");
    }
    EXPECT_TRUE(Sink.WaitForError(ErrFileNotFound)) << "the directory left its path unreported";
    Backend->Stop();
  }
}

TEST_F(InotifyBackendTest, StartOnADirectoryThatCannotBeWatchedRaises) {
  WriteFileBytes(FDir / "plain-file", "x");
  struct TCase {
    fs::path Directory;
    int Code;
  };
  const TCase Cases[] = {
      {FDir / "missing", ErrFileNotFound},
      {FDir / "missing" / "deeper", ErrPathNotFound},
      {FDir / "plain-file", ErrDirectory},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Directory.string());
    auto Backend = CreateSystemDirWatchBackend();
    try {
      Backend->Start(TDirWatchRequest{Case.Directory.string(), true, WatchdogFilters, 17024}, FSink);
      ADD_FAILURE() << "Start did not raise";
    } catch (const EDirWatchOpenError& E) {
      EXPECT_EQ(E.Code(), Case.Code);
    }
    Backend->Stop();  // harmless on a backend that never started
  }
}

// A cancelled start (the owner stopped while the tree was being walked)
// raises 995 and leaves nothing running; the cancel holds for every later
// Start of that backend. A new backend starts as usual.
TEST_F(InotifyBackendTest, ACancelledStartRaisesAndWatchesNothing) {
  for (int I = 0; I < 20; ++I) fs::create_directories(FRoot / ("d" + std::to_string(I)) / "e");
  auto Backend = CreateSystemDirWatchBackend();
  Backend->CancelStart();
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    SCOPED_TRACE(Attempt);
    try {
      Backend->Start(TDirWatchRequest{FRoot.string(), true, WatchdogFilters, 17024}, FSink);
      ADD_FAILURE() << "Start did not raise";
    } catch (const EDirWatchOpenError& E) {
      EXPECT_EQ(E.Code(), ErrOperationAborted);
    }
  }
  Backend->Stop();  // harmless: nothing runs
  Backend.reset();

  Start();
  WriteFileBytes(FRoot / "d3" / "e" / "a.txt", "x");
  const std::vector<TDirChange> Changes = Sync();
  EXPECT_TRUE(std::any_of(Changes.begin(), Changes.end(),
                          [](const TDirChange& C) { return C.FileName == "d3/e/a.txt"; }));
}

// Running out of watches needs a lower limit than this machine has; a user
// namespace of its own gives the watcher one (/proc/sys/user/
// max_inotify_watches) without touching the rest of the system. The watcher
// runs there as the dz-watch tool, which is tested along with it.
TEST_F(InotifyBackendTest, RunningOutOfWatchesIsReportedOnceAndWatchingGoesOn) {
  if (std::system("unshare -U -r sh -c 'echo 8 > /proc/sys/user/max_inotify_watches' 2>/dev/null") != 0)
    GTEST_SKIP() << "no user namespace with a limit of its own can be made here; the watch limit is not tested";
  const fs::path Tool = fs::read_symlink("/proc/self/exe").parent_path() / "dz-watch";
  ASSERT_TRUE(fs::exists(Tool)) << Tool;
  for (int I = 0; I < 30; ++I) fs::create_directories(FRoot / ("dir" + std::to_string(I)));
  const fs::path Out = FDir / "out.txt";
  // Each step waits for the line that shows the previous one had its effect;
  // the counters only guard against a hang.
  const std::string Script =
      "cd '" + FDir.string() + "' || exit 1\n"
      "(n=0; until [ -e stop ] || [ $n -ge 6000 ]; do n=$((n+1)); sleep 0.02; done) | unshare -U -r sh -c "
      "'echo 8 > /proc/sys/user/max_inotify_watches && exec \"$0\" \"$1\"' '" + Tool.string() + "' '" +
      FRoot.string() + "' > out.txt &\n"
      "await() { i=0; until grep -q \"$1\" out.txt; do [ $i -ge 3000 ] && return 1; i=$((i+1)); sleep 0.02; done; }\n"
      "finish() { touch stop; wait; exit $1; }\n"
      "await '^error 1816 ' || finish 2\n"
      "mkdir watched/late-dir\n"
      "touch watched/top.txt\n"
      "await '^waAdded top.txt$' || finish 3\n"
      "finish 0\n";
  WriteFileBytes(FDir / "run.sh", Script);
  EXPECT_EQ(std::system(("sh '" + (FDir / "run.sh").string() + "'").c_str()), 0) << test::ReadFileBytes(Out);
  const std::string Output = test::ReadFileBytes(Out);
  std::vector<std::string> ErrorLines;
  std::istringstream Lines(Output);
  for (std::string Line; std::getline(Lines, Line);)
    if (Line.rfind("error ", 0) == 0) ErrorLines.push_back(Line);
  ASSERT_EQ(ErrorLines.size(), 1u) << Output;  // the late directory failed too, without a second report
  EXPECT_NE(ErrorLines[0].find("fs.inotify.max_user_watches = 8)"), std::string::npos) << ErrorLines[0];
  EXPECT_NE(ErrorLines[0].find("sysctl fs.inotify.max_user_watches="), std::string::npos) << ErrorLines[0];
  EXPECT_NE(Output.find("waAdded late-dir\n"), std::string::npos) << Output;
}

// The receiver rescans from Since after a loss, so Since must not be later
// than any lost change. Here the batch that holds the overflow also holds a
// rename out of the tree, so the backend reads again for its partner while
// changes keep coming: that extra read is no moment at which the queue was
// known to be empty.
TEST_F(InotifyBackendTest, AnOverflowsSinceIsNotLaterThanTheChangesLostInIt) {
  WriteFileBytes(FRoot / "leaving.txt", "l");
  if (!StartWithSmallQueue())
    GTEST_SKIP() << "cannot write " << TQueueLimit::Path << " (needs root); the overflow is not tested";
  FSink.Hold();
  WriteFileBytes(FRoot / "first.txt", "1");
  ASSERT_TRUE(FSink.WaitUntilHeldInside());
  const TDirWatchClock::time_point BeforeLoss = TDirWatchClock::now();
  fs::rename(FRoot / "leaving.txt", FOutside / "leaving.txt");
  for (int I = 0; I < 200; ++I) WriteFileBytes(FRoot / ("flood" + std::to_string(I)), "x");
  std::atomic<bool> Done{false};
  std::thread Writer([&] {
    for (int I = 0; !Done.load(); ++I) WriteFileBytes(FRoot / ("later" + std::to_string(I % 50)), "y");
  });
  FSink.Release();
  const bool Reported = FSink.WaitForError(ErrNotifyEnumDir);
  Done.store(true);
  Writer.join();
  ASSERT_TRUE(Reported);
  const auto Since = FSink.ErrorSince();
  ASSERT_FALSE(Since.empty());
  EXPECT_LE(Since.front(), BeforeLoss) << "Since is "
                                       << std::chrono::duration_cast<std::chrono::microseconds>(Since.front() - BeforeLoss).count()
                                       << " us after the first lost change";
}

// A receiver that raises (it could not allocate the queued call) must not
// end the program: a batch it refused is a loss like an overflow, and when
// it cannot even take an error report, only the worker ends.
TEST_F(InotifyBackendTest, AReceiverThatRaisesEndsNeitherTheProgramNorTheWatchingUntilItRefusesErrorsToo) {
  Start();
  Sync();
  FSink.RaiseInChangesUntil("refused.txt");
  WriteFileBytes(FRoot / "refused.txt", "r");
  // The worker may still read the marker's last events in between, so the
  // time that bounds Since is the end of the write, not its start.
  const TDirWatchClock::time_point AfterChange = TDirWatchClock::now();
  ASSERT_TRUE(FSink.WaitUntilRefused("refused.txt"));
  EXPECT_TRUE(NamesOf(FSink.Refused(), DirActionAdded).count("refused.txt"));
  // Every refused batch is a loss of its own, the file's one included.
  ASSERT_TRUE(FSink.WaitForError(ErrNotifyEnumDir, FSink.RefusedBatches())) << "a refused batch was not reported as lost";
  for (const TDirWatchClock::time_point Since : FSink.ErrorSince()) EXPECT_LE(Since, AfterChange);
  WriteFileBytes(FRoot / "after.txt", "a");
  EXPECT_TRUE(NamesOf(Sync(), DirActionAdded).count("after.txt")) << "watching did not go on";

  FSink.RaiseInChanges(1000000);
  FSink.RaiseInErrors();
  WriteFileBytes(FRoot / "refused-too.txt", "r");
  ASSERT_TRUE(FSink.WaitForRaisedError());
  // The worker has ended. A second watcher shows when the kernel has
  // reported later changes; the first one no longer hands them on.
  TRecordingSink Witness;
  auto Other = CreateSystemDirWatchBackend();
  Other->Start(TDirWatchRequest{FRoot.string(), true, WatchdogFilters, 17024}, Witness);
  for (const char* Name : {"unseen.txt", "marker-unseen"}) {
    WriteFileBytes(FRoot / Name, "u");
    EXPECT_TRUE(Witness.WaitForChange(DirActionAdded, Name));
  }
  Other->Stop();
  EXPECT_FALSE(NamesOf(FSink.Refused(), DirActionAdded).count("unseen.txt"))
      << "the worker went on after its receiver refused even the error report";
  FBackend->Stop();
}

// Root passes every permission check, so the watcher runs as "nobody" in a
// child process here. A directory it may not read is met at the start and
// moved in later (twice); each is reported once, with its path and code 5,
// and the rest of the tree is watched.
TEST_F(InotifyBackendTest, DirectoriesWithoutPermissionAreReportedOnceEachAndTheRestIsWatched) {
  fs::create_directories(FRoot / "open" / "locked");
  test::SetMode(FRoot / "open" / "locked", 0);
  test::SetMode(FRoot / "open", 0777);
  test::SetMode(FRoot, 0777);
  test::SetMode(FOutside, 0777);
  const fs::path Root = FRoot;
  const fs::path Outside = FOutside;
  ASSERT_TRUE(WaitUntilSingleThreaded());
  const test::TUnprivilegedRun Run = test::RunUnprivileged([&]() -> std::string {
    TRecordingSink Sink;
    auto Backend = CreateSystemDirWatchBackend();
    Backend->Start(TDirWatchRequest{Root.string(), true, WatchdogFilters, 17024}, Sink);
    fs::create_directories(Outside / "wrap" / "shut");
    WriteFileBytes(Outside / "wrap" / "seen.txt", "s");
    fs::permissions(Outside / "wrap" / "shut", fs::perms::none);
    fs::rename(Outside / "wrap", Root / "wrap");
    if (!Sink.WaitForChange(DirActionAdded, "wrap/seen.txt")) return "the file beside the shut directory was not reported";
    fs::rename(Root / "wrap", Outside / "wrap");  // out and in again: met once more
    fs::rename(Outside / "wrap", Root / "wrap");
    WriteFileBytes(Root / "open" / "new.txt", "n");
    if (!Sink.WaitForChange(DirActionAdded, "open/new.txt")) return "a change beside the locked directory was not reported";
    Backend->Stop();
    std::string Out;
    for (const auto& [Code, Text] : Sink.Errors()) Out += std::to_string(Code) + " " + Text + "\n";
    return Out;
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  std::vector<std::string> Lines;
  std::istringstream In(Run.Output);
  for (std::string Line; std::getline(In, Line);) Lines.push_back(Line);
  ASSERT_EQ(Lines.size(), 2u) << Run.Output;
  EXPECT_EQ(Lines[0].rfind("5 ", 0), 0u) << Lines[0];
  EXPECT_NE(Lines[0].find("\"" + (FRoot / "open" / "locked").string() + "\""), std::string::npos) << Lines[0];
  EXPECT_EQ(Lines[1].rfind("5 ", 0), 0u) << Lines[1];
  EXPECT_NE(Lines[1].find("\"" + (FRoot / "wrap" / "shut").string() + "\""), std::string::npos) << Lines[1];
}

// inotify takes a path of at most PATH_MAX (4096) bytes. Directories beyond
// are reported (code 206, the first of them by its path), once for a tree
// that was there at the start and once for one moved in; everything above
// them is watched, and what lies beyond breaks nothing.
TEST_F(InotifyBackendTest, ADirectoryBeyondThePathLimitIsReportedAndEverythingAboveItIsWatched) {
  const std::string Name(200, 'd');
  constexpr int Levels = 25;  // about 5000 bytes
  // The first level whose full path is too long, below Top.
  const auto FirstTooLong = [&](const fs::path& Top) {
    std::string Path = Top.string();
    int Level = 0;
    while (Path.size() < 4096) {
      Path += "/" + Name;
      ++Level;
    }
    return std::make_pair(Level, Path);
  };
  const auto RelPathAt = [&](const std::string& Top, int Level) {
    std::string Rel = Top;
    for (int I = 0; I < Level; ++I) Rel += "/" + Name;
    return Rel;
  };
  MakeDeepTree(FRoot / "at-start", Levels, Name);
  MakeDeepTree(FOutside / "moved-in", Levels, Name);
  Start();
  ASSERT_TRUE(FSink.WaitForError(ErrFilenameExcedRange));
  const auto [StartLevel, StartPath] = FirstTooLong(FRoot / "at-start");
  // The deepest watched level reports its changes; a level beyond does not,
  // and fails nothing.
  WalkDownDeepTree(FRoot / "at-start", Name, [&](int Level) {
    if (Level == StartLevel - 1 || Level == StartLevel + 2) WriteFileBytes("new.txt", "n");
    return Level < StartLevel + 2;
  });
  std::set<std::string> Added = NamesOf(Sync(), DirActionAdded);
  EXPECT_EQ(Added, std::set<std::string>{RelPathAt("at-start", StartLevel - 1) + "/new.txt"});

  fs::rename(FOutside / "moved-in", FRoot / "moved-in");
  ASSERT_TRUE(FSink.WaitForError(ErrFilenameExcedRange, 2));
  const auto [MovedLevel, MovedPath] = FirstTooLong(FRoot / "moved-in");
  Added = NamesOf(Sync(), DirActionAdded);
  EXPECT_TRUE(Added.count(RelPathAt("moved-in", MovedLevel - 1) + "/f.txt")) << "a file at the deepest level that can be named was not reported";
  EXPECT_TRUE(Added.count(RelPathAt("moved-in", MovedLevel))) << "the directory beyond the limit was not listed";

  const auto Errors = FSink.Errors();
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_NE(Errors[0].second.find("\"" + StartPath + "\""), std::string::npos) << Errors[0].second;
  EXPECT_NE(Errors[1].second.find("\"" + MovedPath + "\""), std::string::npos) << Errors[1].second;
}

// A file system mounted on a directory of the tree covers what the watch
// sees: the new one is watched and its files reported as added, and an
// unmount goes back to the directory underneath. Both with a bind mount
// (no unmount event from inotify at all) on a sub-directory and a tmpfs on
// the watched directory itself (inotify reports its unmount).
TEST_F(InotifyBackendTest, AFileSystemMountedInTheTreeIsWatchedAndItsUnmountUncoversTheDirectoryBelow) {
  struct TCase {
    const char* Name;
    const char* Point;  // relative to the watched directory; "" for itself
    bool Tmpfs;
  };
  const TCase Cases[] = {{"bind mount on a sub-directory", "mnt", false}, {"tmpfs on the watched directory", "", true}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string Prefix = *Case.Point ? std::string(Case.Point) + "/" : std::string();
    const fs::path Point = *Case.Point ? FRoot / Case.Point : FRoot;
    if (FBackend) FBackend->Stop();
    fs::remove_all(FRoot);
    fs::create_directories(Point);
    WriteFileBytes(Point / "covered.txt", "c");
    fs::remove_all(FOutside / "shown");
    fs::create_directories(FOutside / "shown" / "sub");
    WriteFileBytes(FOutside / "shown" / "sub" / "inner.txt", "i");
    Start();
    const bool Mounted = Case.Tmpfs ? Mount("-t tmpfs -o size=1m", "tmpfs", Point)
                                    : Mount("--bind", (FOutside / "shown").string(), Point);
    if (!Mounted) GTEST_SKIP() << "mounting is not permitted here; mounts in the tree are not tested";
    if (Case.Tmpfs) {
      // Written at once, before the backend can have seen the mount.
      fs::create_directories(Point / "sub");
      WriteFileBytes(Point / "sub" / "inner.txt", "i");
    }
    ASSERT_TRUE(FSink.WaitForError(ErrNotSameDevice)) << "the mount was not reported";
    EXPECT_NE(FSink.Errors().back().second.find("\"" + Point.string() + "\""), std::string::npos)
        << FSink.Errors().back().second;
    EXPECT_TRUE(Collected(Sync()).count(Prefix + "sub/inner.txt")) << "what the mounted file system holds was not reported";
    WriteFileBytes(Point / "sub" / "on-mount.txt", "m");
    EXPECT_TRUE(Collected(Sync()).count(Prefix + "sub/on-mount.txt")) << "a change on the mounted file system was missed";

    Unmount(Point);
    ASSERT_TRUE(FSink.WaitForError(ErrNotSameDevice, 2)) << "the unmount was not reported";
    std::set<std::string> Got = Collected(Sync());
    EXPECT_TRUE(Got.count(Prefix + "covered.txt")) << "what the unmount uncovered was not reported";
    WriteFileBytes(Point / "uncovered.txt", "u");
    Got = Collected(Sync());
    EXPECT_TRUE(Got.count(Prefix + "uncovered.txt")) << "a change in the uncovered directory was missed";
    for (const auto& [Code, Text] : FSink.Errors())
      EXPECT_EQ(Code, ErrNotSameDevice) << Text;
    FSink.Clear();
  }
}

// renameat2 with RENAME_EXCHANGE swaps two names in one step; inotify tells
// it as two renames (two cookies), the second back the other way. Both names
// must stay collected, and the directories' watches must follow them.
TEST_F(InotifyBackendTest, AnExchangeOfTwoNamesKeepsBothCollectedAndLaterChangesUnderTheirNewNames) {
  struct TCase {
    const char* Name;
    bool ADir;
    bool BDir;
    std::set<std::string> Collected;  // of the exchange
    std::set<std::string> Later;      // of the writes after it
  };
  const TCase Cases[] = {
      // Each half moves a directory's contents to new paths: they are all
      // collected there.
      {"two directories", true, true,
       {"x/b", "x/a", "x/a/from-b.txt", "x/a/deep-b", "x/a/deep-b/inner.txt", "x/b/from-a.txt", "x/b/deep-a",
        "x/b/deep-a/inner.txt"},
       {"x/a/later.txt", "x/a/deep-b/later.txt", "x/b/later.txt", "x/b/deep-a/later.txt"}},
      {"two files", false, false, {"x/a", "x/b"}, {"x/a", "x/b"}},
      {"a directory and a file", true, false, {"x/b", "x/a", "x/b/from-a.txt", "x/b/deep-a", "x/b/deep-a/inner.txt"},
       {"x/a", "x/b/later.txt", "x/b/deep-a/later.txt"}},
      {"a file and a directory", false, true,
       {"x/b", "x/a", "x/a/from-b.txt", "x/a/deep-b", "x/a/deep-b/inner.txt"},
       {"x/b", "x/a/later.txt", "x/a/deep-b/later.txt"}},
  };
  const auto Make = [&](const std::string& Side, bool Dir) {
    const fs::path Path = FRoot / "x" / Side;
    if (!Dir) return WriteFileBytes(Path, "file " + Side);
    fs::create_directories(Path / ("deep-" + Side));
    WriteFileBytes(Path / ("from-" + Side + ".txt"), Side);
    WriteFileBytes(Path / ("deep-" + Side) / "inner.txt", Side);
  };
  // Writes in whatever each name holds now, at every level it has.
  const auto WriteInBoth = [&] {
    for (const char* Side : {"a", "b"}) {
      const fs::path Path = FRoot / "x" / Side;
      if (!fs::is_directory(Path)) {
        std::ofstream(Path, std::ios::app) << "more";
        continue;
      }
      WriteFileBytes(Path / "later.txt", "l");
      for (const auto& Entry : fs::directory_iterator(Path))
        if (Entry.is_directory()) WriteFileBytes(Entry.path() / "later.txt", "l");
    }
  };
  Start();
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fs::remove_all(FRoot / "x");
    fs::create_directories(FRoot / "x");
    Make("a", Case.ADir);
    Make("b", Case.BDir);
    Sync();
    const int Failure = test::ExchangeNames((FRoot / "x" / "a").string(), (FRoot / "x" / "b").string());
    if (Failure != 0) GTEST_SKIP() << "this file system cannot exchange names (errno " << Failure << ")";
    EXPECT_EQ(Collected(Sync()), Case.Collected);
    WriteInBoth();
    EXPECT_EQ(Collected(Sync()), Case.Later);
  }
  EXPECT_TRUE(FSink.Errors().empty()) << FSink.Errors().front().second;
}

// Memory that runs out while a large tree moved in is walked must not end
// the program: the walk stops, that part of the tree is reported as not
// watched completely, and watching goes on. The memory runs out for real:
// the dz-watch tool gets a data size limit a few MiB above what it uses.
TEST_F(InotifyBackendTest, MemoryRunningOutWhileANewTreeIsWalkedIsReportedAndWatchingGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator ends the program when memory runs out instead of raising std::bad_alloc";
#endif
  if (std::system("prlimit --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "prlimit (util-linux) is not installed";
  const fs::path Tool = fs::read_symlink("/proc/self/exe").parent_path() / "dz-watch";
  ASSERT_TRUE(fs::exists(Tool)) << Tool;
  // About 12 MiB of reports: 40000 names of 240 bytes.
  fs::create_directories(FOutside / "big");
  const std::string Padding(232, 'n');
  for (int I = 0; I < 40000; ++I) WriteFileBytes(FOutside / "big" / (std::to_string(100000 + I) + Padding), "");
  const std::string Script =
      "cd '" + FDir.string() + "' || exit 1\n"
      "(n=0; until [ -e stop ] || [ $n -ge 6000 ]; do n=$((n+1)); sleep 0.02; done) | '" + Tool.string() +
      "' watched > out.txt &\n"
      "pid=$!\n"
      "await() { i=0; until grep -q \"$1\" out.txt; do [ $i -ge 3000 ] && return 1; i=$((i+1)); sleep 0.02; done; }\n"
      "finish() { touch stop; wait; exit $1; }\n"
      // Until the tool watches: a new marker every round.
      "i=0; until grep -q '^waAdded ready-' out.txt; do [ $i -ge 3000 ] && finish 2; i=$((i+1)); "
      "touch watched/ready-$i; sleep 0.02; done\n"
      "data=$(awk '/^VmData:/ { print $2 }' /proc/$pid/status)\n"
      "prlimit --pid $pid --data=$(( (data + 6144) * 1024 )) || finish 3\n"
      "mv outside/big watched/big\n"
      "await '^error 8 ' || finish 4\n"
      "touch watched/marker-2; await '^waAdded marker-2$' || finish 5\n"
      "finish 0\n";
  WriteFileBytes(FDir / "run.sh", Script);
  const int Status = std::system(("sh '" + (FDir / "run.sh").string() + "'").c_str());
  const std::string Output = test::ReadFileBytes(FDir / "out.txt");
  std::vector<std::string> ErrorLines;
  std::istringstream Lines(Output);
  for (std::string Line; std::getline(Lines, Line);)
    if (Line.rfind("error ", 0) == 0) ErrorLines.push_back(Line);
  ASSERT_EQ(Status, 0) << "the last lines: " << Output.substr(Output.size() > 2000 ? Output.size() - 2000 : 0);
  ASSERT_EQ(ErrorLines.size(), 1u) << Output.substr(Output.size() > 2000 ? Output.size() - 2000 : 0);
  EXPECT_NE(ErrorLines[0].find("\"watched/big\""), std::string::npos) << ErrorLines[0];
}

// The watcher on the system's backend, as the watchdog uses it.
TEST_F(InotifyBackendTest, TheWatcherDeliversThroughItsQueue) {
  TPlainMainThreadQueue Queue;
  TDirectoryWatch Watch(3, Queue);
  std::vector<std::string> Seen;
  Watch.OnNotify = [&Seen](TDirectoryWatch&, int Id, TWatchAction Action, const std::string& FileName) {
    Seen.push_back(std::to_string(Id) + " " + std::to_string(static_cast<int>(Action)) + " " + FileName);
  };
  Watch.SetDirectory(FRoot.string());
  Watch.SetWatchOptions({woFileName, woDirName, woSize, woLastWrite, woCreation});
  WriteFileBytes(FRoot / "a.txt", "a");
  Watch.Start();
  fs::rename(FRoot / "a.txt", FRoot / "b.txt");
  WriteFileBytes(FRoot / "marker", "");
  ASSERT_TRUE(Queue.WaitWhileProcessing(
      [&] { return std::find(Seen.begin(), Seen.end(), "3 0 marker") != Seen.end(); }, WaitGuard));
  EXPECT_EQ(std::vector<std::string>(Seen.begin(), Seen.begin() + 2),
            (std::vector<std::string>{"3 3 a.txt", "3 4 b.txt"}));
  Watch.Stop();

  TDirectoryWatch Missing(4, Queue);
  Missing.SetDirectory((FDir / "nothing-here").string());
  try {
    Missing.Start();
    ADD_FAILURE() << "Start did not raise";
  } catch (const EDirWatchError& E) {
    EXPECT_EQ(std::string(E.what()),
              "Error trying to create file handle for \"" + (FDir / "nothing-here").string() + "\". Error code: 2");
  }
  EXPECT_FALSE(Missing.Running());
}

}  // namespace
}  // namespace dz
