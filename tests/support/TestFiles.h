#pragma once
// What tests that touch real files share: a fresh folder per test, whole-file
// reading and writing, and a tiny tmpfs for running out of disk space.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace dz::test {

inline std::string ReadFileBytes(const std::filesystem::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::filesystem::path& Path, std::string_view Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  ASSERT_TRUE(Out.good()) << "cannot write " << Path;
}

// The names in Dir, sorted: shows a temporary file left behind.
inline std::vector<std::string> Listing(const std::filesystem::path& Dir) {
  std::vector<std::string> Names;
  for (const auto& Entry : std::filesystem::directory_iterator(Dir)) Names.push_back(Entry.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

// Permission bits of Path itself (a link is not followed).
inline unsigned ModeOf(const std::filesystem::path& Path) {
  return static_cast<unsigned>(std::filesystem::symlink_status(Path).permissions()) & 07777u;
}

inline void SetMode(const std::filesystem::path& Path, unsigned Mode) {
  std::filesystem::permissions(Path, static_cast<std::filesystem::perms>(Mode),
                               std::filesystem::perm_options::replace);
}

// A fresh folder below the system's temporary folder, removed with the test.
class TTempDirTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::random_device Random;
    FDir = std::filesystem::temp_directory_path() /
           ("dz-test-" + std::to_string(Random()) + "-" + std::to_string(Random()));
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override {
    std::error_code Ignored;
    std::filesystem::remove_all(FDir, Ignored);
  }
  std::string PathOf(std::string_view Name) const { return (FDir / Name).string(); }
  // A file of the test's folder with Content and the permission bits Mode.
  std::string MakeFile(const std::string& Name, const std::string& Content = "data", unsigned Mode = 0644) {
    const std::string Path = PathOf(Name);
    WriteFileBytes(Path, Content);
    SetMode(Path, Mode);
    return Path;
  }

  std::filesystem::path FDir;
};

// FDir is a tmpfs of SizeKiB kibibytes, so that writes into it run out of
// space. Mounting needs root; where it is refused the test is skipped with a
// message, never passed.
template <int SizeKiB>
class TTmpfsTest : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    const std::string Command =
        "mount -t tmpfs -o size=" + std::to_string(SizeKiB) + "k tmpfs '" + FDir.string() + "' 2>/dev/null";
    if (std::system(Command.c_str()) != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount permission); the full-disk case is not tested";
    FMounted = true;
  }
  void TearDown() override {
    if (FMounted) {
      const std::string Command = "umount -l '" + FDir.string() + "'";
      EXPECT_EQ(std::system(Command.c_str()), 0) << "cannot unmount " << FDir;
    }
    TTempDirTest::TearDown();
  }

  // Writes to Path until the file system is full.
  static void Fill(const std::filesystem::path& Path) {
    std::ofstream Out(Path, std::ios::binary);
    const std::string Chunk(4096, 'x');
    for (int I = 0; I < 4 * SizeKiB && Out.good(); ++I) {
      Out.write(Chunk.data(), static_cast<std::streamsize>(Chunk.size()));
      Out.flush();
    }
    ASSERT_FALSE(Out.good()) << "the tmpfs did not fill up";
  }

  bool FMounted = false;
};

}  // namespace dz::test
