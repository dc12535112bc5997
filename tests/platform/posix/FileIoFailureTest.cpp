// Failures of ReplaceFileAtomically in the middle of a save, provoked with
// the operating system's own means (file size limit, a tiny tmpfs, umask).
// Like the POSIX backend it tests, this file may use the system headers.

#include <sys/mount.h>
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

namespace dz {
namespace {

namespace fs = std::filesystem;

class FileIoFailureTest : public testing::Test {
protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("dz-fileio-fail-" + std::to_string(std::random_device{}()));
    fs::create_directories(FDir);
  }
  void TearDown() override {
    if (FMounted) ::umount2(FDir.c_str(), MNT_DETACH);
    std::error_code Ignored;
    fs::remove_all(FDir, Ignored);
  }

  std::string PathOf(const std::string& Name) const { return (FDir / Name).string(); }

  static void WriteFile(const std::string& Path, const std::string& Data) {
    std::ofstream(Path, std::ios::binary) << Data;
  }
  static std::string ReadFile(const std::string& Path) {
    std::string Data;
    EXPECT_EQ(ReadWholeFile(Path, Data), 0);
    return Data;
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> Names;
    for (const fs::directory_entry& E : fs::directory_iterator(FDir)) Names.push_back(E.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
  }

  fs::path FDir;
  bool FMounted = false;
};

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

TEST_F(FileIoFailureTest, FullDiskGivesDiskFullAndKeepsTheOldFile) {
  if (::mount("tmpfs", FDir.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "a small tmpfs could not be mounted (" << std::strerror(errno)
                 << "); the full-disk case needs root";
  }
  FMounted = true;
  const std::string Path = PathOf("settings.ini");
  const std::string Old(20 * 1024, 'o');
  WriteFile(Path, Old);
  ASSERT_EQ(ReadFile(Path), Old);

  EXPECT_EQ(ReplaceFileAtomically(Path, std::string(100 * 1024, 'n')), ErrDiskFull);
  EXPECT_EQ(ReadFile(Path), Old);
  EXPECT_EQ(Listing(), std::vector<std::string>{"settings.ini"});

  // What fits still saves.
  EXPECT_EQ(ReplaceFileAtomically(Path, std::string(30 * 1024, 'n')), 0);
  EXPECT_EQ(ReadFile(Path), std::string(30 * 1024, 'n'));
}

TEST_F(FileIoFailureTest, ReadOnlyFileIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write to read-only files";
  const std::string Path = PathOf("locked.ini");
  WriteFile(Path, "old");
  fs::permissions(Path, fs::perms(0444));
  EXPECT_EQ(ReplaceFileAtomically(Path, "new"), ErrAccessDenied);
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
