#include "platform/FileIo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/SysError.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public test::TTempDirTest {
protected:
  static void WriteFile(const std::string& Path, const std::string& Data) {
    std::ofstream(Path, std::ios::binary) << Data;
  }
  static std::string ReadFile(const std::string& Path) {
    std::string Data;
    EXPECT_EQ(ReadWholeFile(Path, Data), 0) << Path;
    return Data;
  }
  static std::vector<std::string> Listing(const fs::path& Dir) { return test::Listing(Dir); }
};

TEST_F(FileIoTest, ReadsWholeFilesOfAnySize) {
  std::string Big;
  for (int I = 0; Big.size() < 3'000'000; ++I) Big += std::to_string(I) + '\0';
  const std::string Cases[] = {"", "x", std::string("a\0b\r\n", 5), Big};
  for (const std::string& Content : Cases) {
    SCOPED_TRACE(Content.size());
    WriteFile(PathOf("f"), Content);
    std::string Data = "stale";
    EXPECT_EQ(ReadWholeFile(PathOf("f"), Data), 0);
    EXPECT_EQ(Data, Content);
  }
}

// Only regular files are documents: a FIFO in the place of a settings file
// would otherwise block the start-up for ever, a device never end.
TEST_F(FileIoTest, ReadRefusesFifosAndDevicesAtOnce) {
  ASSERT_EQ(std::system(("mkfifo '" + PathOf("fifo.ini") + "'").c_str()), 0);
  std::string Data = "stale";
  EXPECT_NE(ReadWholeFile(PathOf("fifo.ini"), Data), 0);
  EXPECT_EQ(Data, "");
  EXPECT_NE(ReadWholeFile("/dev/zero", Data), 0);
}

TEST_F(FileIoTest, ReadTellsMissingFileFromMissingDirectory) {
  std::string Data = "stale";
  EXPECT_EQ(ReadWholeFile(PathOf("missing.ini"), Data), ErrFileNotFound);
  EXPECT_EQ(Data, "");
  EXPECT_EQ(ReadWholeFile(PathOf("no-dir/missing.ini"), Data), ErrPathNotFound);
  EXPECT_NE(ReadWholeFile(FDir.string(), Data), 0);  // a directory is no file
  EXPECT_EQ(Data, "");
}

TEST_F(FileIoTest, RegularFileAndDirectoryExistence) {
  WriteFile(PathOf("file"), "x");
  fs::create_directory(FDir / "dir");
  fs::create_symlink(FDir / "file", FDir / "link");
  fs::create_symlink(FDir / "dir", FDir / "dirlink");
  fs::create_symlink(FDir / "gone", FDir / "dangling");
  const struct {
    const char* Name;
    bool File;
    bool Directory;
  } Cases[] = {
      {"file", true, false},    {"link", true, false},     {"dir", false, true},
      {"dirlink", false, true}, {"dangling", false, false}, {"missing", false, false},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(RegularFileExists(PathOf(C.Name)), C.File);
    EXPECT_EQ(DirectoryExists(PathOf(C.Name)), C.Directory);
  }
}

TEST_F(FileIoTest, ReplaceCreatesAndReplacesLeavingNothingElse) {
  const std::string Path = PathOf("settings.ini");
  ASSERT_EQ(ReplaceFileAtomically(Path, "first"), 0);
  EXPECT_EQ(ReadFile(Path), "first");
  ASSERT_EQ(ReplaceFileAtomically(Path, std::string("sec\0ond", 7)), 0);
  EXPECT_EQ(ReadFile(Path), std::string("sec\0ond", 7));
  ASSERT_EQ(ReplaceFileAtomically(Path, ""), 0);
  EXPECT_EQ(ReadFile(Path), "");
  EXPECT_EQ(Listing(FDir), std::vector<std::string>{"settings.ini"});
}

TEST_F(FileIoTest, ReplaceKeepsThePermissionBits) {
  for (const fs::perms Mode : {fs::perms(0600), fs::perms(0640), fs::perms(0604)}) {
    SCOPED_TRACE(static_cast<int>(Mode));
    const std::string Path = PathOf("mode.ini");
    WriteFile(Path, "old");
    fs::permissions(Path, Mode);
    ASSERT_EQ(ReplaceFileAtomically(Path, "new"), 0);
    EXPECT_EQ(fs::status(Path).permissions(), Mode);
    EXPECT_EQ(ReadFile(Path), "new");
  }
}

TEST_F(FileIoTest, ReplaceThroughASymlinkKeepsTheLink) {
  fs::create_directory(FDir / "real");
  WriteFile(PathOf("real/target.ini"), "old");
  fs::create_symlink("real/target.ini", FDir / "relative.ini");
  fs::create_symlink(FDir / "relative.ini", FDir / "chain.ini");

  ASSERT_EQ(ReplaceFileAtomically(PathOf("relative.ini"), "via relative"), 0);
  EXPECT_TRUE(fs::is_symlink(FDir / "relative.ini"));
  EXPECT_EQ(ReadFile(PathOf("real/target.ini")), "via relative");

  ASSERT_EQ(ReplaceFileAtomically(PathOf("chain.ini"), "via chain"), 0);
  EXPECT_TRUE(fs::is_symlink(FDir / "chain.ini"));
  EXPECT_TRUE(fs::is_symlink(FDir / "relative.ini"));
  EXPECT_EQ(ReadFile(PathOf("real/target.ini")), "via chain");
  EXPECT_EQ(Listing(FDir / "real"), std::vector<std::string>{"target.ini"});
}

TEST_F(FileIoTest, ReplaceThroughADanglingSymlinkCreatesItsTarget) {
  fs::create_symlink("new-target.ini", FDir / "link.ini");
  ASSERT_EQ(ReplaceFileAtomically(PathOf("link.ini"), "created"), 0);
  EXPECT_TRUE(fs::is_symlink(FDir / "link.ini"));
  EXPECT_EQ(ReadFile(PathOf("new-target.ini")), "created");
}

TEST_F(FileIoTest, ReplaceIntoAMissingDirectoryFailsAndCreatesNothing) {
  EXPECT_EQ(ReplaceFileAtomically(PathOf("no-dir/settings.ini"), "data"), ErrPathNotFound);
  EXPECT_TRUE(Listing(FDir).empty());
}

TEST_F(FileIoTest, ReplaceOfADirectoryFailsAndLeavesIt) {
  fs::create_directory(FDir / "dir");
  WriteFile(PathOf("dir/inside"), "x");
  EXPECT_NE(ReplaceFileAtomically(PathOf("dir"), "data"), 0);
  EXPECT_TRUE(fs::is_directory(FDir / "dir"));
  EXPECT_EQ(Listing(FDir), std::vector<std::string>{"dir"});
  EXPECT_EQ(Listing(FDir / "dir"), std::vector<std::string>{"inside"});
}

TEST_F(FileIoTest, ReplaceOfAFileWithAVeryLongNameLeavesNoTemporary) {
  const std::string Name(255, 'n');  // the longest name; the temporary must still fit
  ASSERT_EQ(ReplaceFileAtomically(PathOf(Name), "data"), 0);
  EXPECT_EQ(ReadFile(PathOf(Name)), "data");
  EXPECT_EQ(Listing(FDir), std::vector<std::string>{Name});
}

}  // namespace
}  // namespace dz
