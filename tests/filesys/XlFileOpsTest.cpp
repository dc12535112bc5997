// The file operations of XlFileUtils on real files, folders and symbolic
// links: existence tests, attributes with the POSIX mode, deleting, renaming
// without replacing, creating folder chains and the log file.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "filesys/XlFileUtils.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "platform/posix/PosixFileOps.h"
#include "support/AsUser.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::ModeOf;
using test::SetMode;
using namespace std::chrono_literals;

class XlFileOpsTest : public test::TTempDirTest {
protected:
  std::string MakeDir(const std::string& Name, unsigned Mode = 0755) {
    const std::string Path = PathOf(Name);
    fs::create_directory(Path);
    SetMode(Path, Mode);
    return Path;
  }

  // One name of every kind the operations tell apart. Link targets are
  // relative, so they are resolved against the link's folder.
  void MakeTree() {
    MakeFile("file", "content of file");
    MakeDir("dir");
    fs::create_symlink("file", FDir / "link-file");
    fs::create_symlink("dir", FDir / "link-dir");
    fs::create_symlink("missing", FDir / "dangling");
    fs::create_symlink("../file", FDir / "dir" / "inner-link");
  }
};

TEST_F(XlFileOpsTest, ExistenceTestsByKindOfName) {
  MakeTree();
  const struct {
    const char* Name;
    bool FileFollow, FileNoFollow, DirFollow, DirNoFollow, IsDir;
  } Cases[] = {
      {"file", true, true, false, false, false},
      {"dir", false, false, true, true, true},
      {"link-file", true, true, false, false, false},
      // A link to a folder exists as a file only as itself, and carries the
      // folder bit, as a folder link does on Windows.
      {"link-dir", false, true, true, true, true},
      {"dangling", false, true, false, false, false},
      {"dir/inner-link", true, true, false, false, false},
      {"missing", false, false, false, false, false},
      {"file/below", false, false, false, false, false},  // a path through a file
      {"dir/", false, false, true, true, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = PathOf(C.Name);
    EXPECT_EQ(XlFileExists(Path, true), C.FileFollow);
    EXPECT_EQ(XlFileExists(Path, false), C.FileNoFollow);
    EXPECT_EQ(XlDirectoryExists(Path, true), C.DirFollow);
    EXPECT_EQ(XlDirectoryExists(Path, false), C.DirNoFollow);
    EXPECT_EQ(IsDirectory(Path), C.IsDir);
  }
  EXPECT_FALSE(XlFileExists(""));
  EXPECT_FALSE(XlDirectoryExists(""));
  EXPECT_FALSE(IsDirectory(""));
}

TEST_F(XlFileOpsTest, AttributesByKindOfName) {
  MakeTree();
  MakeFile("readonly", "r", 0444);
  MakeFile(".profile", "p", 0600);
  MakeDir("locked-dir", 0555);
  const struct {
    const char* Name;
    bool FollowLink;
    int Expected;
  } Cases[] = {
      {"file", true, AttrWithMode(faArchive, 0644)},
      {"file", false, AttrWithMode(faArchive, 0644)},
      {"readonly", true, AttrWithMode(faArchive | faReadOnly, 0444)},
      {".profile", true, AttrWithMode(faArchive | faHidden, 0600)},
      {"dir", true, AttrWithMode(faDirectory, 0755)},
      {"locked-dir", true, AttrWithMode(faDirectory | faReadOnly, 0555)},
      {"link-file", true, AttrWithMode(faArchive, 0644)},
      {"dir/inner-link", true, AttrWithMode(faArchive, 0644)},
      {"link-dir", true, AttrWithMode(faDirectory, 0755)},
      // A link itself has no permissions, so its value carries no mode that
      // could be applied to a file by mistake.
      {"link-file", false, faReparsePoint | faArchive},
      {"link-dir", false, faReparsePoint | faDirectory},
      {"dangling", false, faReparsePoint | faArchive},
      {"dangling", true, -1},
      {"missing", true, -1},
      {"missing", false, -1},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + (C.FollowLink ? " followed" : " itself"));
    EXPECT_EQ(XlFileGetAttr(PathOf(C.Name), C.FollowLink), C.Expected);
  }
  EXPECT_EQ(AttrWithMode(faArchive, 0) & faModePresent, faModePresent) << "a mode of 0 is still a mode";
}

TEST_F(XlFileOpsTest, ModeTravelsWithTheAttributes) {
  // A backup copy must end up with the source's permission bits.
  const unsigned Modes[] = {0640, 0600, 0755, 0700, 0444, 0464, 0604, 0000, 0777, 04755, 02750, 01644};
  for (const unsigned Mode : Modes) {
    SCOPED_TRACE(testing::Message() << std::oct << Mode);
    const std::string Source = MakeFile("source", "s", Mode);
    const std::string Dest = MakeFile("dest", "d", 0644);
    const int Attr = XlFileGetAttr(Source);
    ASSERT_TRUE(AttrHasMode(Attr));
    EXPECT_EQ(AttrMode(Attr), Mode);
    EXPECT_EQ(XlFileSetAttr(Dest, Attr, false), 0);
    EXPECT_EQ(ModeOf(Dest), Mode);
    EXPECT_EQ(XlFileGetAttr(Dest), Attr);
    fs::remove(Source);
    fs::remove(Dest);
  }
  const std::string SourceDir = MakeDir("source-dir", 0750);
  const std::string DestDir = MakeDir("dest-dir", 0777);
  EXPECT_EQ(XlFileSetAttr(DestDir, XlFileGetAttr(SourceDir)), 0);
  EXPECT_EQ(ModeOf(DestDir), 0750u);
}

TEST_F(XlFileOpsTest, ReadOnlyBitChangesTheWriteBits) {
  const struct {
    unsigned Before;
    int Attr;
    unsigned After;
  } Cases[] = {
      // Values with only the Windows bits keep the file's other permissions.
      {0664, faReadOnly, 0444},
      {0644, faArchive | faReadOnly, 0444},
      {0666, faReadOnly, 0444},
      {0444, faArchive, 0644},
      {0440, faArchive, 0640},
      {0464, faArchive, 0664},  // read-only already: only the owner's bit comes back
      {0664, faArchive, 0664},
      {0444, faReadOnly, 0444},
      {0464, faReadOnly, 0464},  // read-only already: nothing is taken away
      {0644, faHidden | faSysFile | faArchive | faDirectory, 0644},
      // A mode part that contradicts the read-only bit follows the bit.
      {0600, AttrWithMode(faReadOnly, 0664), 0444},
      {0600, AttrWithMode(faArchive, 0444), 0644},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << std::oct << C.Before << " with 0x" << std::hex << C.Attr);
    const std::string Path = MakeFile("file", "x", C.Before);
    EXPECT_EQ(XlFileSetAttr(Path, C.Attr), 0);
    EXPECT_EQ(ModeOf(Path), C.After);
    fs::remove(Path);
  }
}

TEST_F(XlFileOpsTest, SetAttrFailures) {
  MakeTree();
  const std::string File = PathOf("file");
  SetMode(File, 0640);
  // -1 is what a source with unreadable attributes gives.
  EXPECT_NE(XlFileSetAttr(File, -1), 0);
  EXPECT_EQ(XlFileSetAttr(File, -1), ErrInvalidParameter);
  EXPECT_EQ(XlFileSetAttr(File, -2), ErrInvalidParameter);
  EXPECT_EQ(ModeOf(File), 0640u);
  EXPECT_EQ(XlFileSetAttr(PathOf("missing"), faArchive), ErrFileNotFound);
  EXPECT_EQ(XlFileSetAttr(PathOf("dangling"), faArchive, true), ErrFileNotFound);

  // A link itself has no permissions to change; its target keeps its own.
  EXPECT_EQ(XlFileSetAttr(PathOf("link-file"), faReadOnly, false), ErrNotSupported);
  EXPECT_EQ(XlFileSetAttr(PathOf("link-file"), faArchive, false), 0);  // nothing to change
  EXPECT_EQ(ModeOf(File), 0640u);
  EXPECT_EQ(XlFileSetAttr(PathOf("link-file"), faReadOnly, true), 0);
  EXPECT_EQ(ModeOf(File), 0440u);
}

TEST_F(XlFileOpsTest, ChangeAttrSetsAndClearsBits) {
  const std::string Path = MakeFile("file", "x", 0644);
  EXPECT_EQ(XlChangeAttr(Path, faReadOnly, false), 0);
  EXPECT_EQ(ModeOf(Path), 0444u);
  EXPECT_EQ(XlChangeAttr(Path, faReadOnly, true), 0);
  EXPECT_EQ(ModeOf(Path), 0644u);
  EXPECT_EQ(XlChangeAttr(PathOf("missing"), faReadOnly, true), ErrFileNotFound);
}

// When the bits already have the wanted value nothing may be written. The
// file belongs to root and the call runs as another user, so any write would
// be refused and show.
TEST_F(XlFileOpsTest, ChangeAttrWritesNothingWhenTheBitsMatch) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to make a file that belongs to someone else";
  const std::string Path = MakeFile("file", "x", 0644);
  const auto Run = test::RunUnprivileged([&] {
    const int ClearMatching = XlChangeAttr(Path, faReadOnly, true);
    const int SetMatching = XlChangeAttr(Path, faArchive, false);
    const int SetDiffering = XlChangeAttr(Path, faReadOnly, false);
    return std::to_string(ClearMatching) + " " + std::to_string(SetMatching) + " " + std::to_string(SetDiffering);
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  // The third call has something to write and is refused: proof that the
  // first two wrote nothing rather than being allowed to write.
  EXPECT_EQ(Run.Output, "0 0 5");
  EXPECT_EQ(ModeOf(Path), 0644u);
}

TEST_F(XlFileOpsTest, DeleteFileCases) {
  MakeTree();
  MakeFile("readonly-cleared", "r", 0444);
  MakeFile("readonly-kept", "r", 0444);
  MakeFile("plain", "p");
  enum TCall { DeleteFile, DeleteExisting };
  const struct {
    const char* Name;
    TCall Call;
    bool ClearReadOnly;
    int Expected;
    bool Gone;
  } Cases[] = {
      {"missing", DeleteExisting, true, 0, true},
      {"missing", DeleteExisting, false, 0, true},
      {"missing", DeleteFile, true, ErrFileNotFound, true},
      {"missing", DeleteFile, false, ErrFileNotFound, true},
      {"readonly-cleared", DeleteFile, true, 0, true},
      // Whether a name may go is the folder's business on Linux.
      {"readonly-kept", DeleteFile, false, 0, true},
      {"plain", DeleteExisting, false, 0, true},
      // A dangling link is no existing file, so it is left alone...
      {"dangling", DeleteExisting, true, 0, false},
      // ...but it can be deleted by name.
      {"dangling", DeleteFile, true, 0, true},
      {"link-dir", DeleteFile, true, 0, true},
      {"link-file", DeleteFile, true, 0, true},
      {"dir", DeleteFile, true, ErrErrnoFlag | EISDIR, false},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + (C.Call == DeleteFile ? " XlDeleteFile" : " XlDeleteExistingFile") +
                 (C.ClearReadOnly ? " clearing" : ""));
    const std::string Path = PathOf(C.Name);
    const int Result = C.Call == DeleteFile ? XlDeleteFile(Path, C.ClearReadOnly)
                                            : XlDeleteExistingFile(Path, C.ClearReadOnly);
    EXPECT_EQ(Result, C.Expected);
    EXPECT_EQ(!fs::exists(fs::symlink_status(Path)), C.Gone);
  }
  // Deleting links never touches what they point to.
  EXPECT_EQ(test::ReadFileBytes(FDir / "file"), "content of file");
  EXPECT_TRUE(fs::is_directory(FDir / "dir"));
}

TEST_F(XlFileOpsTest, DeleteInReadOnlyFolderAsUser) {
  const std::string Dir = MakeDir("locked");
  const std::string Path = PathOf("locked/readonly");
  test::WriteFileBytes(Path, "keep");
  SetMode(Path, 0444);
  if (test::RunningAsRoot()) {
    ASSERT_EQ(ChangeOwner(Dir, test::NobodyId, test::NobodyId, true), 0);
    ASSERT_EQ(ChangeOwner(Path, test::NobodyId, test::NobodyId, true), 0);
  }
  SetMode(Dir, 0555);
  const auto Run = test::RunUnprivileged([&] {
    const int Kept = XlDeleteFile(Path, false);
    const unsigned ModeAfterKept = ModeOf(Path);
    const int Cleared = XlDeleteFile(Path, true);
    return std::to_string(Kept) + " " + std::to_string(ModeAfterKept) + " " + std::to_string(Cleared);
  });
  SetMode(Dir, 0755);
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, "5 " + std::to_string(0444) + " 5");
  EXPECT_EQ(test::ReadFileBytes(Path), "keep");
  // A deletion that fails after clearing leaves the bit cleared.
  EXPECT_EQ(ModeOf(Path), 0644u);
}

TEST_F(XlFileOpsTest, FileExistsNeedsAReadableLinkTarget) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to make a file that belongs to someone else";
  MakeFile("secret", "s", 0600);
  fs::create_symlink("secret", FDir / "link-secret");
  const std::string Link = PathOf("link-secret");
  const auto Run = test::RunUnprivileged([&] {
    std::string Output;
    Output += XlFileExists(Link, true) ? "1" : "0";
    Output += XlFileExists(Link, false) ? "1" : "0";
    Output += XlFileExists(PathOf("secret"), true) ? "1" : "0";
    return Output;
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  // Followed, a link counts only when its file can be opened for reading; a
  // plain file that cannot be read still exists.
  EXPECT_EQ(Run.Output, "011");
}

// Both ways of renaming keep the promise never to replace anything: the
// kernel's no-replace flag, and the reservation used where a file system
// refuses that flag.
class XlRenameTest : public XlFileOpsTest,
                     public testing::WithParamInterface<int (*)(const std::string&, const std::string&)> {};

TEST_P(XlRenameTest, NeverReplacesAndMovesAnyKindOfName) {
  const auto Rename = GetParam();
  MakeFile("old", "old content");
  MakeFile("taken", "taken content");
  MakeDir("empty-dir");
  MakeDir("full-dir");
  MakeFile("full-dir/inside", "inside");
  MakeDir("other-empty-dir");

  const struct {
    const char* From;
    const char* To;
    int Expected;
  } Refused[] = {
      {"old", "taken", ErrAlreadyExists},
      {"old", "empty-dir", ErrAlreadyExists},
      {"full-dir", "other-empty-dir", ErrAlreadyExists},  // a plain rename would replace it
      {"full-dir", "taken", ErrAlreadyExists},
      {"missing", "new", ErrFileNotFound},
      {"old", "no-such-dir/new", ErrFileNotFound},
  };
  const std::vector<std::string> Before = test::Listing(FDir);
  for (const auto& C : Refused) {
    SCOPED_TRACE(std::string(C.From) + " -> " + C.To);
    EXPECT_EQ(Rename(PathOf(C.From), PathOf(C.To)), C.Expected);
  }
  EXPECT_EQ(test::Listing(FDir), Before) << "nothing left behind";
  EXPECT_EQ(test::ReadFileBytes(FDir / "old"), "old content");
  EXPECT_EQ(test::ReadFileBytes(FDir / "taken"), "taken content");
  EXPECT_EQ(test::Listing(FDir / "full-dir"), std::vector<std::string>{"inside"});
  EXPECT_TRUE(fs::is_empty(FDir / "other-empty-dir"));

  EXPECT_EQ(Rename(PathOf("old"), PathOf("new")), 0);
  EXPECT_FALSE(fs::exists(FDir / "old"));
  EXPECT_EQ(test::ReadFileBytes(FDir / "new"), "old content");
  EXPECT_EQ(fs::hard_link_count(FDir / "new"), 1u);

  EXPECT_EQ(Rename(PathOf("full-dir"), PathOf("moved-dir")), 0);
  EXPECT_EQ(test::Listing(FDir / "moved-dir"), std::vector<std::string>{"inside"});
  EXPECT_FALSE(fs::exists(FDir / "full-dir"));

  // A link is moved as itself; a relative target keeps pointing relative to
  // the same folder.
  fs::create_symlink("new", FDir / "link");
  EXPECT_EQ(Rename(PathOf("link"), PathOf("moved-link")), 0);
  EXPECT_TRUE(fs::is_symlink(FDir / "moved-link"));
  EXPECT_EQ(test::ReadFileBytes(FDir / "moved-link"), "old content");
}

INSTANTIATE_TEST_SUITE_P(BothWays, XlRenameTest,
                         testing::Values(&XlRenameFile, &RenameNoReplaceByReservation),
                         [](const auto& Info) { return Info.index == 0 ? "KernelFlag" : "Reservation"; });

// Where no hard link can be made (here: protected_hardlinks refuses to link
// another user's file that the caller cannot read), the new name is
// reserved with an empty file instead.
TEST_F(XlFileOpsTest, RenameReservesWithAFileWhereNoHardLinkCanBeMade) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to make a file that belongs to someone else";
  MakeFile("old", "root's content", 0600);
  MakeFile("taken", "taken content", 0600);
  SetMode(FDir, 0777);
  const auto Run = test::RunUnprivileged([&] {
    const int OntoTaken = RenameNoReplaceByReservation(PathOf("old"), PathOf("taken"));
    const int OntoNew = RenameNoReplaceByReservation(PathOf("old"), PathOf("new"));
    return std::to_string(OntoTaken) + " " + std::to_string(OntoNew);
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, "183 0");
  EXPECT_EQ(test::Listing(FDir), (std::vector<std::string>{"new", "taken"}));
  EXPECT_EQ(test::ReadFileBytes(FDir / "new"), "root's content");
  EXPECT_EQ(test::ReadFileBytes(FDir / "taken"), "taken content");
}

TEST_F(XlFileOpsTest, ForceDirectories) {
  MakeDir("existing");
  MakeFile("file");
  const std::vector<std::string> Before = test::Listing(FDir);
  EXPECT_TRUE(XlForceDirectories(PathOf("existing")));
  EXPECT_TRUE(XlForceDirectories(PathOf("existing/")));
  EXPECT_EQ(test::Listing(FDir), Before);
  EXPECT_TRUE(test::Listing(FDir / "existing").empty());

  EXPECT_TRUE(XlForceDirectories(PathOf("new/a/b")));
  EXPECT_TRUE(fs::is_directory(FDir / "new/a/b"));
  EXPECT_TRUE(XlForceDirectories(PathOf("new/a/c/")));
  EXPECT_TRUE(fs::is_directory(FDir / "new/a/c"));

  // Through a link to a folder.
  fs::create_symlink("existing", FDir / "link-dir");
  EXPECT_TRUE(XlForceDirectories(PathOf("link-dir/x")));
  EXPECT_TRUE(fs::is_directory(FDir / "existing/x"));

  EXPECT_FALSE(XlForceDirectories(PathOf("file/x/y")));
  EXPECT_TRUE(fs::is_regular_file(FDir / "file"));
  EXPECT_FALSE(XlForceDirectories(PathOf("file")));

  try {
    XlForceDirectories("");
    ADD_FAILURE() << "an empty name must raise";
  } catch (const EInOutError& Error) {
    EXPECT_EQ(Error.ErrorCode, ErrPathNotFound);
    EXPECT_STREQ(Error.what(), "Unable to create directory");
  }
}

TEST_F(XlFileOpsTest, ForceDirectoriesFailsBelowAFolderThatCannotBeWritten) {
  MakeDir("locked", 0555);
  const auto Run = test::RunUnprivileged([&] { return XlForceDirectories(PathOf("locked/a/b")) ? "made" : "refused"; });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, "refused");
  EXPECT_TRUE(fs::is_empty(FDir / "locked"));
}

TEST_F(XlFileOpsTest, CreateUtf8FileWritesOnlyTheByteOrderMark) {
  const std::string Bom = "\xEF\xBB\xBF";
  EXPECT_EQ(CreateUtf8File(PathOf("new.log")), 0);
  EXPECT_EQ(test::ReadFileBytes(FDir / "new.log"), Bom);
  const std::string Old = MakeFile("old.log", "yesterday's lines");
  EXPECT_EQ(CreateUtf8File(Old), 0);
  EXPECT_EQ(test::ReadFileBytes(Old), Bom);
  EXPECT_EQ(CreateUtf8File(PathOf("missing/x.log")), ErrFileNotFound);
  MakeDir("dir");
  EXPECT_EQ(CreateUtf8File(PathOf("dir")), ErrErrnoFlag | EISDIR);
}

TEST_F(XlFileOpsTest, FindFileLooksUpExactlyThatName) {
  MakeTree();
  const fs::path File = FDir / "file";
  const auto Written = std::chrono::sys_days{std::chrono::year{2020} / 9 / 13} + 12h + 26min + 40s + 123456700ns;
  fs::last_write_time(File, std::chrono::file_clock::from_sys(Written));
  SetMode(File, 0640);

  TXlFindData Data;
  EXPECT_TRUE(XlFindFile(File.string(), Data));
  EXPECT_EQ(Data.FileAttr, static_cast<std::uint32_t>(AttrWithMode(faArchive, 0640)));
  EXPECT_EQ(Data.FileSize, 15);
  EXPECT_EQ(Data.FileName, "file");
  EXPECT_EQ(Data.AlternateName, "");
  EXPECT_EQ(Data.LastWriteTime, FileTimeOfUnixEpoch + 1600000000LL * FileTimeTicksPerSecond + 1234567);

  EXPECT_FALSE(XlFindFile(PathOf("dir"), Data));
  EXPECT_EQ(Data.FileAttr & faDirectory, static_cast<std::uint32_t>(faDirectory));
  EXPECT_EQ(Data.FileName, "dir");

  // The link itself is found, not its target.
  EXPECT_TRUE(XlFindFile(PathOf("link-file"), Data));
  EXPECT_EQ(Data.FileAttr, static_cast<std::uint32_t>(faReparsePoint | faArchive));
  EXPECT_EQ(Data.FileSize, 0);
  EXPECT_EQ(Data.FileName, "link-file");
  EXPECT_FALSE(XlFindFile(PathOf("link-dir"), Data));
  EXPECT_EQ(Data.FileAttr, static_cast<std::uint32_t>(faReparsePoint | faDirectory));
  EXPECT_TRUE(XlFindFile(PathOf("dangling"), Data));

  EXPECT_FALSE(XlFindFile(PathOf("missing"), Data));
  EXPECT_EQ(Data.FileName, "");
  EXPECT_EQ(Data.FileAttr, 0u);
  // No wildcards: "*" is a character of a name like any other.
  EXPECT_FALSE(XlFindFile(PathOf("fil*"), Data));
}

}  // namespace
}  // namespace dz
