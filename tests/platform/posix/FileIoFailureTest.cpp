// Failures of ReplaceFileAtomically in the middle of a save, provoked with
// the operating system's own means (file size limit, a tiny tmpfs, umask).
// Like the POSIX backend it tests, this file may use the system headers.

#include <sys/resource.h>
#include <sys/stat.h>
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

}  // namespace
}  // namespace dz
