// The file handle's calls that work on the open file rather than on a name:
// the lock, opening without following a link, for the status only or as a
// directory, changing permissions and times through the handle, and flushing
// a whole file system.

#include "platform/FileOps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/SysError.h"
#include "support/LoopVolumes.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

constexpr TFileTime Time2001 = FileTimeOfUnixEpoch + 1000000000LL * FileTimeTicksPerSecond + 1234500;

class FileOpsTest : public test::TTempDirTest {
protected:
  TFileHandle Open(const std::string& Name, unsigned Flags) {
    TFileHandle Handle;
    EXPECT_EQ(OpenFileHandle(PathOf(Name), Flags, 0, Handle), 0) << Name;
    return Handle;
  }
  TFileStatus StatusOf(const std::string& Name) {
    TFileStatus Status;
    EXPECT_EQ(PathStatus(PathOf(Name), false, Status), 0) << Name;
    return Status;
  }
};

// Two handles exclude each other, also in one process and one thread; the
// lock ends with the handle that holds it.
TEST_F(FileOpsTest, ExclusiveLockBelongsToItsHandle) {
  MakeFile("f");
  TFileHandle First = Open("f", ofRead | ofWrite);
  TFileHandle Second = Open("f", ofRead | ofWrite);
  ASSERT_EQ(First.LockExclusive(), 0);
  EXPECT_EQ(First.LockExclusive(), 0) << "asking again for the lock one holds";
  EXPECT_EQ(Second.LockExclusive(), ErrSharingViolation);
  // A reader that does not ask for the lock is not held back.
  TFileHandle Reader = Open("f", ofRead);
  char Byte = 0;
  std::size_t Done = 0;
  EXPECT_EQ(Reader.Read(&Byte, 1, Done), 0);
  EXPECT_EQ(Done, 1u);
  ASSERT_EQ(First.Close(), 0);
  EXPECT_EQ(Second.LockExclusive(), 0);
  EXPECT_EQ(TFileHandle().LockExclusive(), ErrInvalidHandle);
}

TEST_F(FileOpsTest, NoFollowRefusesALinkAndStatusOnlyOpensIt) {
  MakeFile("f", "data", 0644);
  fs::create_symlink(FDir / "f", FDir / "link");
  TFileHandle Handle;
  EXPECT_EQ(OpenFileHandle(PathOf("link"), ofRead | ofWrite | ofNoFollow, 0, Handle), ErrCantResolveFilename);
  EXPECT_FALSE(Handle.Valid());
  EXPECT_EQ(OpenFileHandle(PathOf("f"), ofRead | ofNoFollow, 0, Handle), 0);

  // For its status only, a link is opened as itself: it has no permissions
  // to change, and its target keeps its own.
  TFileHandle LinkHandle = Open("link", ofStatusOnly | ofNoFollow);
  TFileStatus Status;
  ASSERT_EQ(LinkHandle.Status(Status), 0);
  EXPECT_EQ(Status.Kind, TFileKind::fkSymLink);
  EXPECT_EQ(LinkHandle.ChangeMode(0600), ErrNotSupported);
  EXPECT_EQ(PosixMode(StatusOf("f")), 0644u);
  std::size_t Done = 0;
  char Byte;
  EXPECT_NE(LinkHandle.Read(&Byte, 1, Done), 0) << "a status-only handle reads nothing";
}

// Status-only opening neither waits for a FIFO's writer nor opens a device.
TEST_F(FileOpsTest, StatusOnlyOpensAFifoWithoutWaiting) {
  ASSERT_EQ(std::system(("mkfifo '" + PathOf("fifo") + "'").c_str()), 0);
  TFileHandle Handle = Open("fifo", ofStatusOnly | ofNoFollow);
  TFileStatus Status;
  ASSERT_EQ(Handle.Status(Status), 0);
  EXPECT_EQ(Status.Kind, TFileKind::fkOther);
}

// Permissions and times go to the file the handle holds, whatever name it
// has now; a status-only handle changes permissions too.
TEST_F(FileOpsTest, ModeAndTimesThroughTheHandle) {
  for (const unsigned Flags : {unsigned{ofRead | ofWrite}, unsigned{ofStatusOnly | ofNoFollow}}) {
    SCOPED_TRACE(Flags);
    MakeFile("f", "data", 0644);
    TFileHandle Handle = Open("f", Flags);
    fs::rename(FDir / "f", FDir / "moved");
    MakeFile("f", "another file", 0644);
    EXPECT_EQ(Handle.ChangeMode(0440), 0);
    EXPECT_EQ(PosixMode(StatusOf("moved")), 0440u);
    EXPECT_EQ(PosixMode(StatusOf("f")), 0644u);
    if (Flags & ofWrite) {
      const TFileTime Access = StatusOf("moved").LastAccessTime;
      ASSERT_EQ(Handle.SetTimes(0, Time2001), 0);
      EXPECT_EQ(StatusOf("moved").LastWriteTime, Time2001);
      EXPECT_EQ(StatusOf("moved").LastAccessTime, Access) << "a time of 0 is left as it is";
      ASSERT_EQ(Handle.SetTimes(Time2001, 0), 0);
      EXPECT_EQ(StatusOf("moved").LastAccessTime, Time2001);
      EXPECT_NE(StatusOf("f").LastWriteTime, Time2001);
    }
    fs::remove(FDir / "f");
    fs::remove(FDir / "moved");
  }
}

// Read-only is what keeps the owner from writing; ClearReadOnly gives back
// exactly that, through the handle, and leaves the other bits alone.
TEST_F(FileOpsTest, ReadOnlyIsTheOwnersWriteBitAndClearReadOnlyGivesItBack) {
  const struct {
    const char* Name;
    std::uint32_t Mode;
    bool ReadOnly;
    std::uint32_t Cleared;
  } Cases[] = {
      {"plain", 0644, false, 0644},
      {"readonly", 0444, true, 0644},
      {"private", 0400, true, 0600},
      {"others-may-write", 0466, true, 0666},
      {"write-only", 0200, false, 0200},
      {"setuid", 04555, true, 04755},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    MakeFile(C.Name, "data", C.Mode);
    ASSERT_EQ(ChangeMode(PathOf(C.Name), C.Mode, true), 0);  // the umask took bits away
    const TFileStatus Before = StatusOf(C.Name);
    EXPECT_EQ(Before.ReadOnly, C.ReadOnly);
    TFileHandle Handle = Open(C.Name, ofStatusOnly | ofNoFollow);
    ASSERT_EQ(Handle.ClearReadOnly(Before), 0);
    const TFileStatus After = StatusOf(C.Name);
    EXPECT_EQ(PosixMode(After), C.Cleared);
    EXPECT_FALSE(After.ReadOnly);
    EXPECT_TRUE(SameFileStatus(Before, After));
  }
  fs::create_directory(FDir / "dir");
  ASSERT_EQ(ChangeMode(PathOf("dir"), 0555, true), 0);
  EXPECT_TRUE(StatusOf("dir").ReadOnly);
  fs::create_symlink(FDir / "readonly", FDir / "link");
  EXPECT_FALSE(StatusOf("link").ReadOnly) << "a link has no permissions of its own";
  EXPECT_FALSE(SameFileStatus(StatusOf("link"), StatusOf("readonly")));
}

// The calls a backup's final steps are made of: a rename that replaces in one
// step, a second name for the current copy, and flushing a folder's entries.
TEST_F(FileOpsTest, RenameReplacingTakesTheNameInOneStep) {
  MakeFile("new", "new copy");
  MakeFile("current", "old copy");
  ASSERT_EQ(RenameReplacing(PathOf("new"), PathOf("current")), 0);
  EXPECT_EQ(test::ReadFileBytes(FDir / "current"), "new copy");
  EXPECT_FALSE(fs::exists(FDir / "new"));
  EXPECT_EQ(RenameReplacing(PathOf("new"), PathOf("current")), ErrFileNotFound);
  EXPECT_EQ(test::ReadFileBytes(FDir / "current"), "new copy");
}

TEST_F(FileOpsTest, HardLinkGivesASecondNameNeverReplacing) {
  MakeFile("current", "copy");
  MakeFile("taken", "other");
  ASSERT_EQ(MakeHardLink(PathOf("current"), PathOf("version")), 0);
  EXPECT_TRUE(SameFileStatus(StatusOf("current"), StatusOf("version")));
  EXPECT_EQ(MakeHardLink(PathOf("current"), PathOf("taken")), ErrAlreadyExists);
  EXPECT_EQ(test::ReadFileBytes(FDir / "taken"), "other");
  EXPECT_EQ(MakeHardLink(PathOf("missing"), PathOf("other")), ErrFileNotFound);
  // Another file system cannot hold a second name of this file: the caller
  // falls back to renaming.
  const fs::path Shm = "/dev/shm";
  TFileStatus Here;
  TFileStatus There;
  if (PathStatus(Shm.string(), true, There) == 0 && PathStatus(FDir.string(), true, Here) == 0 &&
      Here.Identity.Volume != There.Identity.Volume) {
    const fs::path Across = Shm / ("dz-link-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                   "-" + FDir.filename().string());
    EXPECT_EQ(MakeHardLink(PathOf("current"), Across.string()), ErrNotSupported);
    std::error_code Ignored;
    fs::remove(Across, Ignored);
  }
}

TEST_F(FileOpsTest, SyncDirectoryFlushesAnExistingFolderOnly) {
  fs::create_directories(FDir / "sub");
  EXPECT_EQ(SyncDirectory((FDir / "sub").string()), 0);
  EXPECT_EQ(SyncDirectory((FDir / "missing").string()), ErrFileNotFound);
  MakeFile("file");
  EXPECT_EQ(SyncDirectory(PathOf("file")), ErrPathNotFound) << "a file is no folder";
}

// An exclusive create makes a new file or nothing: no existing name of any
// kind is opened, and the new file takes blocking reads and writes.
TEST_F(FileOpsTest, ExclusiveCreateOpensOnlyANewFile) {
  MakeFile("file");
  fs::create_directories(FDir / "dir");
  fs::create_symlink(FDir / "missing", FDir / "dangling");
  ASSERT_EQ(std::system(("mkfifo '" + PathOf("fifo") + "'").c_str()), 0);
  for (const char* Name : {"file", "dir", "dangling", "fifo"}) {
    TFileHandle Handle;
    EXPECT_EQ(OpenFileHandle(PathOf(Name), ofRead | ofWrite | ofCreate | ofCreateNew, 0600, Handle),
              ErrAlreadyExists)
        << Name;
    EXPECT_FALSE(Handle.Valid()) << Name;
  }
  EXPECT_FALSE(fs::exists(FDir / "missing")) << "the link's target is not created";

  TFileHandle Handle = Open("new", ofRead | ofWrite | ofCreate | ofCreateNew);
  std::size_t Done = 0;
  ASSERT_EQ(Handle.Write("data", 4, Done), 0);
  EXPECT_EQ(Done, 4u);
  TFileStatus Status;
  ASSERT_EQ(Handle.Status(Status), 0);
  EXPECT_EQ(Status.Kind, TFileKind::fkRegular);
  EXPECT_EQ(Handle.Close(), 0);
  EXPECT_EQ(test::ReadFileBytes(FDir / "new"), "data");
}

// A directory opens for its status and its flushes only; anything else is
// no directory.
TEST_F(FileOpsTest, DirectoryHandleFlushesItsFileSystem) {
  fs::create_directories(FDir / "dir");
  MakeFile("file");
  fs::create_symlink(FDir / "dir", FDir / "link");
  TFileHandle Dir = Open("dir", ofDirectory);
  TFileStatus Status;
  ASSERT_EQ(Dir.Status(Status), 0);
  EXPECT_EQ(Status.Kind, TFileKind::fkDirectory);
  EXPECT_EQ(Dir.Sync(), 0);
  EXPECT_EQ(Dir.SyncFileSystem(), 0);
  EXPECT_EQ(Open("link", ofDirectory).Valid(), true) << "a link to a directory is followed";

  struct TCase {
    const char* Name;
    unsigned Flags;
    int Error;
  };
  const TCase Cases[] = {{"file", ofDirectory, ErrPathNotFound},
                         {"missing", ofDirectory, ErrFileNotFound},
                         {"link", ofDirectory | ofNoFollow, ErrPathNotFound}};  // not followed: no directory
  for (const TCase& C : Cases) {
    TFileHandle Handle;
    EXPECT_EQ(OpenFileHandle(PathOf(C.Name), C.Flags, 0, Handle), C.Error) << C.Name;
    EXPECT_FALSE(Handle.Valid()) << C.Name;
  }
  EXPECT_EQ(TFileHandle().SyncFileSystem(), ErrInvalidHandle);
  EXPECT_FALSE(TFileHandle().FileSystemSyncCoversFiles());
}

class FileSystemSyncTest : public test::TLoopVolumeTest {
protected:
  bool Covers(const std::string& Path) {
    TFileHandle Handle;
    EXPECT_EQ(OpenFileHandle(Path, ofDirectory, 0, Handle), 0) << Path;
    return Handle.FileSystemSyncCoversFiles();
  }
};

// One flush of the whole file system stands for a flush of every file only
// where the kernel writes the disk itself.
TEST_F(FileSystemSyncTest, CoversTheFilesOfDiskFileSystemsOnly) {
  EXPECT_FALSE(Covers("/proc"));
  EXPECT_FALSE(Covers("/sys"));
  DZ_REQUIRE(Mount("-t tmpfs -o size=1m tmpfs", FDir / "tmpfs"), "mounting a tmpfs");
  EXPECT_TRUE(Covers(Dir("tmpfs")));
  DZ_REQUIRE(MakeImage(FDir / "ext.img", "mkfs.ext4 -q -F") && MountImage(FDir / "ext.img", FDir / "ext"),
             "an ext4 image");
  EXPECT_TRUE(Covers(Dir("ext")));
}

// Data that the kernel accepted and then failed to write to the disk is
// reported by the next flush through a handle opened before it was written.
TEST_F(FileSystemSyncTest, ReportsAWriteThatFailedOnTheWayToTheDisk) {
  DZ_REQUIRE(MountFailingDisk(FDir / "disk"), "a loop device on a tmpfs");
  TFileHandle Root;
  ASSERT_EQ(OpenFileHandle(Dir("disk"), ofDirectory, 0, Root), 0);
  EXPECT_TRUE(Root.FileSystemSyncCoversFiles());
  ASSERT_EQ(Root.SyncFileSystem(), 0) << "nothing has failed yet";

  TFileHandle File;
  ASSERT_EQ(OpenFileHandle(Dir("disk") + "/big", ofWrite | ofCreate | ofCreateNew, 0, File), 0);
  const std::string Data(2 << 20, 'd');
  std::size_t Done = 0;
  ASSERT_EQ(File.Write(Data.data(), Data.size(), Done), 0) << "the cache takes it";
  ASSERT_EQ(Done, Data.size());
  ASSERT_EQ(File.Close(), 0);
  EXPECT_NE(Root.SyncFileSystem(), 0);
}

}  // namespace
}  // namespace dz
