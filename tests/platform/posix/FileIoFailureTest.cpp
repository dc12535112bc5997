// Failures of ReplaceFileAtomically in the middle of a save, provoked with
// the operating system's own means (file size limit, a tiny tmpfs, umask).
// Like the POSIX backend it tests, this file may use the system headers.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/FileIo.h"
#include "platform/InstanceLock.h"
#include "platform/SysError.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class FileIoFailureTest : public test::TTempDirTest {
protected:
  static void WriteFile(const std::string& Path, const std::string& Data) { test::WriteFileBytes(Path, Data); }
  static std::string ReadFile(const std::string& Path) {
    std::string Data;
    EXPECT_EQ(ReadWholeFile(Path, Data), 0);
    return Data;
  }
  std::vector<std::string> Listing() const { return test::Listing(FDir); }
};

using FileIoFullDiskTest = test::TTmpfsTest<64>;

// The write of the new file fails half-way: the old file must be untouched
// and the half-written new one gone.
TEST_F(FileIoFailureTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  const std::string Path = PathOf("settings.ini");
  const std::string Old = "[Config]\nthe old settings that must survive\n";
  WriteFile(Path, Old);

  struct rlimit Saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Saved), 0);
  const auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit Small = Saved;
  Small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
  const int Result = ReplaceFileAtomically(Path, std::string(1000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &Saved);
  std::signal(SIGXFSZ, OldHandler);

  EXPECT_EQ(Result, ErrErrnoFlag | EFBIG);
  EXPECT_EQ(ReadFile(Path), Old);
  EXPECT_EQ(Listing(), std::vector<std::string>{"settings.ini"});
}

TEST_F(FileIoFullDiskTest, FullDiskGivesDiskFullAndKeepsTheOldFile) {
  const std::string Path = PathOf("settings.ini");
  const std::string Old(20 * 1024, 'o');
  test::WriteFileBytes(Path, Old);
  ASSERT_EQ(test::ReadFileBytes(Path), Old);

  EXPECT_EQ(ReplaceFileAtomically(Path, std::string(100 * 1024, 'n')), ErrDiskFull);
  EXPECT_EQ(test::ReadFileBytes(Path), Old);
  EXPECT_EQ(test::Listing(FDir), std::vector<std::string>{"settings.ini"});

  // What fits still saves.
  EXPECT_EQ(ReplaceFileAtomically(Path, std::string(30 * 1024, 'n')), 0);
  EXPECT_EQ(test::ReadFileBytes(Path), std::string(30 * 1024, 'n'));
}

// Renaming over a file needs no write permission on it, so the save must
// refuse a file the user made read-only itself. Root may write anything, so
// as root the call is made with the effective user "nobody", owning the file.
TEST_F(FileIoFailureTest, ReadOnlyFileIsNotReplaced) {
  const std::string Path = PathOf("locked.ini");
  WriteFile(Path, "old");
  fs::permissions(Path, fs::perms(0444));
  const bool AsRoot = ::geteuid() == 0;
  constexpr uid_t Nobody = 65534;
  if (AsRoot) {
    fs::permissions(FDir, fs::perms(0777));
    ASSERT_EQ(::chown(Path.c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(::seteuid(Nobody), 0);
  }
  const int Result = ReplaceFileAtomically(Path, "new");
  if (AsRoot) {
    ASSERT_EQ(::seteuid(0), 0);
  }
  EXPECT_EQ(Result, ErrAccessDenied);
  EXPECT_EQ(ReadFile(Path), "old");
  EXPECT_EQ(Listing(), std::vector<std::string>{"locked.ini"});
}

TEST_F(FileIoFailureTest, NewFileTakesModeFromTheUmask) {
  const mode_t Saved = ::umask(027);
  const int Result = ReplaceFileAtomically(PathOf("new.ini"), "data");
  ::umask(Saved);
  ASSERT_EQ(Result, 0);
  EXPECT_EQ(fs::status(FDir / "new.ini").permissions(), fs::perms(0640));
}

// A save killed in the middle of writing leaves its new file behind; the
// next start takes it away, and nothing else that only looks like it. The
// save runs in a child that the file size limit kills (SIGXFSZ), so the
// leftover is a real one, named as the save names it.
TEST_F(FileIoFailureTest, WhatAKilledSaveLeftIsRemovedAndNothingElse) {
  const std::string Path = PathOf("dezedodiru.ini");
  WriteFile(Path, "[Config]\nkept\n");
  const pid_t Child = ::fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    struct rlimit Limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &Limit);
    struct rlimit NoCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &NoCore);
    std::signal(SIGXFSZ, SIG_DFL);
    ReplaceFileAtomically(Path, std::string(1000, 'n'));
    ::_exit(0);  // not reached when the limit kills the save
  }
  int Status = 0;
  ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == SIGXFSZ) << Status;
  std::vector<std::string> Left = Listing();
  ASSERT_EQ(Left.size(), 2u);
  std::erase(Left, "dezedodiru.ini");
  ASSERT_EQ(Left.size(), 1u);
  EXPECT_TRUE(Left[0].starts_with(".dezedodiru.ini.") && Left[0].ends_with(".tmp")) << Left[0];

  const std::vector<std::string> LookAlikes = {".dezedodiru.ini.0123456789xy.tmp", ".dezedodiru.ini.0123.tmp",
                                               ".other.ini.0123456789ab.tmp", "dezedodiru.ini.0123456789ab.tmp"};
  for (const std::string& Name : LookAlikes) WriteFile(PathOf(Name), "not ours");
  fs::create_directory(FDir / ".dezedodiru.ini.0123456789ab.tmp");

  EXPECT_EQ(RemoveStaleReplacements(Path), 1);
  std::vector<std::string> Expected = LookAlikes;
  Expected.push_back(".dezedodiru.ini.0123456789ab.tmp");
  Expected.push_back("dezedodiru.ini");
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(Listing(), Expected);
  EXPECT_EQ(ReadFile(Path), "[Config]\nkept\n");
}

// The lock of a running program: a second taker, also in the same process,
// is refused and learns who holds it; once given up, it can be taken again.
TEST_F(FileIoFailureTest, AnInstanceLockIsHeldOnceAndTellsItsHolder) {
  const std::string LockFile = PathOf(".settings.lock");
  TInstanceLock First, Second;
  std::int64_t Holder = -1;
  ASSERT_EQ(First.Acquire(LockFile, Holder), 0);
  EXPECT_TRUE(First.Held());
  EXPECT_EQ(Second.Acquire(LockFile, Holder), ErrSharingViolation);
  EXPECT_FALSE(Second.Held());
  EXPECT_EQ(Holder, ::getpid());

  // A child process is refused as well: the lock is the file's, not the
  // process's.
  const pid_t Child = ::fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    TInstanceLock Other;
    std::int64_t Seen = 0;
    const int E = Other.Acquire(LockFile, Seen);
    ::_exit(E == ErrSharingViolation && Seen == ::getppid() ? 0 : 1);
  }
  int Status = 0;
  ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;

  First.Release();
  EXPECT_EQ(Second.Acquire(LockFile, Holder), 0);
  EXPECT_TRUE(Second.Held());
  // A link planted at the lock's name is not followed.
  Second.Release();
  fs::remove(LockFile);
  fs::create_symlink(PathOf("elsewhere"), LockFile);
  EXPECT_NE(First.Acquire(LockFile, Holder), 0);
  EXPECT_FALSE(fs::exists(PathOf("elsewhere")));
}

}  // namespace
}  // namespace dz
