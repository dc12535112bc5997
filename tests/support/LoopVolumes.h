#pragma once
// File systems of a test's own: sparse images with a new file system,
// attached to loop devices and mounted below the test's folder. Needs root,
// util-linux, e2fsprogs and dosfstools; a test skips (DZ_REQUIRE) where a
// step is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace dz::test {

inline std::string Quoted(const std::filesystem::path& Path) { return "'" + Path.string() + "'"; }

inline std::string RandomHex(std::size_t Length) {
  std::random_device Random;
  std::string Out;
  while (Out.size() < Length) Out += "0123456789abcdef"[Random() % 16];
  return Out;
}

// Every mount and loop device a test makes is undone in TearDown, also after
// a failed assertion.
class TLoopVolumeTest : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FLabel = "Dz" + RandomHex(6);
    FReal = std::filesystem::canonical(FDir);
  }

  void TearDown() override {
    while (!FMounts.empty()) Unmount(FMounts.back());
    for (const std::string& Loop : FLoops)
      EXPECT_EQ(std::system(("losetup -d '" + Loop + "' 2>/dev/null").c_str()), 0) << "cannot detach " << Loop;
    TTempDirTest::TearDown();
  }

  static bool Run(const std::string& Command) { return std::system((Command + " >/dev/null 2>&1").c_str()) == 0; }

  // A sparse image of 8 MiB with a new file system made by Mkfs.
  bool MakeImage(const std::filesystem::path& Image, const std::string& Mkfs) {
    WriteFileBytes(Image, "");
    std::filesystem::resize_file(Image, 8 << 20);
    return Run(Mkfs + " " + Quoted(Image));
  }

  // Image attached to a new loop device and mounted at Dir.
  bool MountImage(const std::filesystem::path& Image, const std::filesystem::path& Dir) {
    std::filesystem::create_directories(Dir);
    const std::filesystem::path Output = FDir / "loop-device.txt";
    if (std::system(("losetup --find --show " + Quoted(Image) + " >" + Quoted(Output) + " 2>/dev/null").c_str()) != 0)
      return false;
    std::string Device = ReadFileBytes(Output);
    while (!Device.empty() && std::isspace(static_cast<unsigned char>(Device.back()))) Device.pop_back();
    if (Device.empty()) return false;
    FLoops.push_back(Device);
    return Mount("'" + Device + "'", Dir);
  }

  // A disk that takes writes into the system's cache and fails them on the
  // way to the disk: an ext2 image of 8 MiB in a tmpfs of 1 MiB, mounted at
  // Dir. Data beyond the few hundred KiB that fit fails when it is written
  // back or flushed, never while it is written.
  bool MountFailingDisk(const std::filesystem::path& Dir) {
    const std::filesystem::path Holder = FDir / "failing-disk";
    return Mount("-t tmpfs -o size=1m tmpfs", Holder) && MakeImage(Holder / "disk.img", "mkfs.ext2 -q -F") &&
           MountImage(Holder / "disk.img", Dir);
  }

  // mount with Args (source and options) at Dir.
  bool Mount(const std::string& Args, const std::filesystem::path& Dir) {
    std::filesystem::create_directories(Dir);
    if (!Run("mount " + Args + " " + Quoted(Dir))) return false;
    FMounts.push_back(Dir);
    return true;
  }

  void Unmount(const std::filesystem::path Dir) {
    const auto It = std::find(FMounts.rbegin(), FMounts.rend(), Dir);
    ASSERT_NE(It, FMounts.rend()) << Dir << " is not mounted by this test";
    FMounts.erase(std::next(It).base());
    // Lazily when busy, so that nothing is left behind.
    EXPECT_TRUE(Run("umount " + Quoted(Dir)) || Run("umount -l " + Quoted(Dir))) << "cannot unmount " << Dir;
  }

  // As the mount table spells it.
  std::string Dir(const char* Name) const { return (FReal / Name).string(); }

  std::string FLabel;
  std::filesystem::path FReal;
  std::vector<std::filesystem::path> FMounts;
  std::vector<std::string> FLoops;
};

}  // namespace dz::test

// Skips the test when a step that needs root or a tool is refused.
#define DZ_REQUIRE(Condition, What)                                                     \
  if (Condition) {                                                                      \
  } else                                                                                \
    GTEST_SKIP() << What << " refused: needs root, util-linux, e2fsprogs, dosfstools, " \
                 << "and kernel support for the file system; not tested here"
