// Drive kinds, drive types and volume labels on Linux: first with mount
// table, fstab and sysfs of the test's own making (the POSIX backend's
// TVolumeTables stands in for the system's volumes), then on this
// machine's file systems, and, as root, on loop-mounted ext4 and vfat
// images.

#include "filesys/WinDevUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/CaseFold.h"
#include "platform/posix/MountTables.h"
#include "support/AsUser.h"
#include "support/LoopVolumes.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

using test::Quoted;
using test::RandomHex;

std::string AsciiUpper(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(), [](char C) { return static_cast<char>(std::toupper(C)); });
  return Text;
}


// --- tables of the test's own making ---------------------------------------------

// Paths below FBase do not exist, so they are judged by the fake mount
// table alone; sysfs knows a fixed virtio disk, a USB stick, a card reader
// with the removable flag and a loop device.
class DriveKindTablesTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FBase = fs::canonical(FDir).string() + "/fs";
    AddDevice("pci0000:00/0000:00:02.0/virtio1/block/vda", "254:0", "vda", "0", false);
    const std::string Usb = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
    AddDevice(Usb, "8:16", "sdb", "0", false);
    AddDevice(Usb + "/sdb1", "8:17", "sdb1", nullptr, true);
    AddDevice("platform/mmc0/mmc_host/mmc0/mmc0:1234/block/mmcblk0", "179:0", "mmcblk0", "1", false);
    AddDevice("platform/mmc0/mmc_host/mmc0/mmc0:1234/block/mmcblk0/mmcblk0p1", "179:1", "mmcblk0p1", nullptr, true);
    AddDevice("virtual/block/loop0", "7:0", "loop0", "0", false);
    const std::string& B = FBase;
    test::WriteFileBytes(FDir / "mountinfo",
                         "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
                         "2 1 8:17 / " + B + "/usb rw - ext4 /dev/sdb1 rw\n"
                         "3 1 8:17 / " + B + "/my\\040usb rw - ext4 /dev/sdb1 rw\n"
                         "4 1 179:1 / " + B + "/card rw - vfat /dev/mmcblk0p1 rw\n"
                         "5 1 0:50 / " + B + "/nfs rw - nfs4 server:/export rw\n"
                         "6 1 0:51 / " + B + "/ssh rw - fuse.sshfs anna@host:/ rw\n"
                         "7 1 0:52 / " + B + "/smb rw - cifs //server/share rw\n"
                         "8 1 0:53 / " + B + "/ram rw - tmpfs tmpfs rw\n"
                         "9 1 7:0 / " + B + "/loop rw - ext4 /dev/loop0 rw\n"
                         "10 1 0:54 / " + B + "/proc rw - proc proc rw\n"
                         "11 1 254:0 /srv " + B + "/bind rw - ext4 /dev/vda rw\n");
    test::WriteFileBytes(FDir / "fstab",
                         "# declared, and mounted or not\n"
                         "/dev/sdc1 " + B + "/backup ext4 noauto 0 0\n"
                         "UUID=0a1b " + B + "/usb ext4 defaults 0 2\n"
                         "LABEL=DEEP " + B + "/usb/deeper ext4 noauto 0 0\n"
                         "/dev/sdd1 " + B + "/with\\040blank vfat noauto,user 0 0\n"
                         "/swapfile none swap sw 0 0\n");
    FTables.MountInfo = (FDir / "mountinfo").string();
    FTables.Fstab = (FDir / "fstab").string();
    FTables.SysFs = (FDir / "sys").string();
  }

  void AddDevice(const std::string& Folder, const std::string& Number, const std::string& DevName,
                 const char* Removable, bool Partition) {
    const fs::path Dir = FDir / "sys" / "devices" / Folder;
    fs::create_directories(Dir);
    test::WriteFileBytes(Dir / "uevent", "DEVNAME=" + DevName + "\n");
    if (Removable) test::WriteFileBytes(Dir / "removable", std::string(Removable) + "\n");
    if (Partition) test::WriteFileBytes(Dir / "partition", "1\n");
    fs::create_directories(FDir / "sys" / "dev" / "block");
    fs::create_symlink(fs::path("../../devices") / Folder, FDir / "sys" / "dev" / "block" / Number);
  }

  std::string FBase;
  TVolumeTables FTables;
};

TEST_F(DriveKindTablesTest, KindTypeAndBusFollowTheFileSystemHoldingThePath) {
  // Links lead into the fake mounts: the place a link leads to decides.
  fs::create_symlink(FBase + "/usb/data", FDir / "to-usb");
  fs::create_symlink(FBase + "/backup", FDir / "to-backup");
  const std::string& B = FBase;
  const struct {
    std::string Path;
    TDriveKind Kind;
    TDriveType Type;
    bool Usb;
  } Cases[] = {
      {B + "/usb/data", dkRemovable, dtRemovable, true},
      {B + "/my usb/data", dkRemovable, dtRemovable, true},
      {B + "/card/data", dkRemovable, dtRemovable, false},
      {B + "/nfs/data", dkNetwork, dtRemote, false},
      {B + "/ssh", dkNetwork, dtRemote, false},
      {B + "/smb/x", dkNetwork, dtRemote, false},
      {B + "/ram/x", dkLocal, dtRamDisk, false},
      {B + "/loop/x", dkLocal, dtFixed, false},
      {B + "/proc", dkLocal, dtFixed, false},
      {B + "/bind/x", dkLocal, dtFixed, false},
      {B + "/other/x", dkLocal, dtFixed, false},
      {"/", dkLocal, dtFixed, false},
      // Declared in fstab and not mounted.
      {B + "/backup/x", dkNotAvailable, dtNoRootDir, false},
      {B + "/backup", dkNotAvailable, dtNoRootDir, false},
      {B + "/backup2/x", dkLocal, dtFixed, false},
      {B + "/usb/deeper/x", dkNotAvailable, dtNoRootDir, false},
      {B + "/usb/deeperX", dkRemovable, dtRemovable, true},
      {B + "/with blank/x", dkNotAvailable, dtNoRootDir, false},
      // A removable medium's folder with nothing mounted.
      {"/media/dz-nobody-" + RandomHex(8) + "/STICK/backup", dkNotAvailable, dtNoRootDir, false},
      {"/run/media/dz-nobody-" + RandomHex(8) + "/STICK", dkNotAvailable, dtNoRootDir, false},
      {"/media/dz-nobody-" + RandomHex(8), dkLocal, dtFixed, false},
      {(FDir / "to-usb" / "x").string(), dkRemovable, dtRemovable, true},
      {(FDir / "to-backup" / "x").string(), dkNotAvailable, dtNoRootDir, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    EXPECT_EQ(GetDriveKind(Case.Path, FTables), Case.Kind);
    EXPECT_EQ(DriveTypeOf(Case.Path, FTables), Case.Type);
    EXPECT_EQ(IsUsbDrive(Case.Path, FTables), Case.Usb);
  }
}

TEST_F(DriveKindTablesTest, RelativePathHasNoDrive) {
  for (const char* Path : {"backup/data", "", ".", "..", "~/backup"}) {
    SCOPED_TRACE(Path);
    EXPECT_EQ(GetDriveKind(Path, FTables), dkNoDrive);
  }
  // The type of a relative path is that of the current directory's drive.
  EXPECT_EQ(DriveTypeOf("backup/data", FTables), DriveTypeOf(fs::current_path().string(), FTables));
}

TEST_F(DriveKindTablesTest, WithoutMountTableAMountPointIsADifferentDevice) {
  // FDir/declared is a plain folder on the same file system as FDir.
  fs::create_directory(FDir / "declared");
  test::WriteFileBytes(FDir / "fstab", "/dev/sdx1 " + fs::canonical(FDir).string() + "/declared ext4 noauto 0 0\n");
  FTables.MountInfo = (FDir / "no-mountinfo").string();
  EXPECT_EQ(GetDriveKind((FDir / "declared" / "x").string(), FTables), dkNotAvailable);
  EXPECT_EQ(GetDriveKind((FDir / "plain" / "x").string(), FTables), dkLocal);
  EXPECT_EQ(DriveTypeOf((FDir / "plain").string(), FTables), dtFixed);
}

TEST_F(DriveKindTablesTest, NoLabelWithoutADevice) {
  for (const std::string& Path : {FBase + "/nfs/x", FBase + "/ram", FBase + "/backup/x"}) {
    SCOPED_TRACE(Path);
    std::string Label = "old";
    EXPECT_FALSE(ReadVolumeLabel(Path, Label, FTables));
    EXPECT_EQ(Label, LabelNotAvailable);
  }
}

// --- this machine's tables -----------------------------------------------------------

class DriveKindTest : public test::TTempDirTest {};

TEST_F(DriveKindTest, RootTemporaryAndVirtualFileSystemsAreLocal) {
  for (const std::string& Path : {std::string("/"), FDir.string(), (FDir / "not" / "yet" / "there").string(),
                                 std::string("/proc")}) {
    SCOPED_TRACE(Path);
    EXPECT_EQ(GetDriveKind(Path), dkLocal);
  }
  EXPECT_EQ(GetDriveKind("backup/data"), dkNoDrive);
  EXPECT_FALSE(IsUsbDrive(FDir.string()));
}

TEST_F(DriveKindTest, RemovableMediaFolderWithNothingMountedIsNotAvailable) {
  const std::string User = "dz-nobody-" + RandomHex(8);
  for (const std::string& Path : {"/media/" + User + "/STICK/backup", "/run/media/" + User + "/STICK"}) {
    SCOPED_TRACE(Path);
    EXPECT_EQ(GetDriveKind(Path), dkNotAvailable);
    EXPECT_EQ(DriveTypeOf(Path), dtNoRootDir);
  }
}

TEST_F(DriveKindTest, DeclaredMountPointWithNothingMountedIsNotAvailable) {
  fs::create_directories(FDir / "mnt point");
  test::WriteFileBytes(FDir / "fstab", "LABEL=DZ " + fs::canonical(FDir).string() + "/mnt\\040point ext4 noauto 0 0\n");
  TVolumeTables Tables;
  Tables.Fstab = (FDir / "fstab").string();
  const struct {
    std::string Path;
    TDriveKind Kind;
  } Cases[] = {
      {(FDir / "mnt point" / "backup").string(), dkNotAvailable},
      {(FDir / "mnt point").string(), dkNotAvailable},
      {(FDir / "mnt point2" / "backup").string(), dkLocal},
      {FDir.string(), dkLocal},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    EXPECT_EQ(GetDriveKind(Case.Path, Tables), Case.Kind);
  }
  std::string Label;
  EXPECT_FALSE(ReadVolumeLabel((FDir / "mnt point" / "backup").string(), Label, Tables));
  EXPECT_EQ(Label, LabelNotAvailable);
}

using DriveKindTmpfsTest = test::TTmpfsTest<256>;

TEST_F(DriveKindTmpfsTest, TmpfsIsALocalRamDiskWithoutLabel) {
  EXPECT_EQ(GetDriveKind((FDir / "backup").string()), dkLocal);
  EXPECT_EQ(DriveTypeOf((FDir / "backup").string()), dtRamDisk);
  EXPECT_FALSE(IsUsbDrive(FDir.string()));
  std::string Label;
  EXPECT_FALSE(ReadVolumeLabel(FDir.string(), Label));
  EXPECT_EQ(Label, LabelNotAvailable);
  EXPECT_EQ(FindDriveByLabel("tmpfs"), "");
}

TEST_F(DriveKindTmpfsTest, DeclaredMountPointsOnAndBelowAMountedTmpfs) {
  fs::create_directory(FDir / "sub");
  test::WriteFileBytes(FDir / "sub" / "fstab",
                       "tmpfs " + fs::canonical(FDir).string() + " tmpfs size=256k 0 0\n"
                       "/dev/sdx1 " + fs::canonical(FDir).string() + "/sub ext4 noauto 0 0\n");
  TVolumeTables Tables;
  Tables.Fstab = (FDir / "sub" / "fstab").string();
  EXPECT_EQ(GetDriveKind((FDir / "backup").string(), Tables), dkLocal);
  EXPECT_EQ(GetDriveKind((FDir / "sub" / "backup").string(), Tables), dkNotAvailable);
  // The same answers where the mount table cannot be read.
  Tables.MountInfo = (FDir / "no-mountinfo").string();
  EXPECT_EQ(GetDriveKind((FDir / "backup").string(), Tables), dkLocal);
  EXPECT_EQ(GetDriveKind((FDir / "sub" / "backup").string(), Tables), dkNotAvailable);
}

// --- loop-mounted images (root) ----------------------------------------------------------

using test::TLoopVolumeTest;
using LoopVolumeTest = TLoopVolumeTest;

// An ordinary user may not open a disk to read its label; the links of the
// device manager's label folder then name it. Root probes the device itself
// and never takes a link's word for it.
TEST_F(LoopVolumeTest, LabelFromTheLabelLinksWhenTheDeviceCannotBeOpened) {
  DZ_REQUIRE(MakeImage(FDir / "ext.img", "mkfs.ext4 -q -F -L " + FLabel), "mkfs.ext4");
  DZ_REQUIRE(MountImage(FDir / "ext.img", FDir / "ext"), "loop mount");
  fs::create_directory(FDir / "by-label");
  fs::create_symlink(FLoops.back(), FDir / "by-label" / "Linked\\x20Name");
  TVolumeTables Tables;
  Tables.DiskByLabel = (FDir / "by-label").string();

  std::string Label;
  ASSERT_TRUE(ReadVolumeLabel(Dir("ext"), Label, Tables));
  if (!test::RunningAsRoot()) {
    EXPECT_EQ(Label, "Linked Name");
    return;
  }
  EXPECT_EQ(Label, FLabel);
  const auto Run = test::RunUnprivileged([&] {
    std::string Unprivileged;
    const bool Read = ReadVolumeLabel(Dir("ext"), Unprivileged, Tables);
    return (Read ? "read " : "failed ") + Unprivileged;
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, "read Linked Name");
}

TEST_F(LoopVolumeTest, LabelOfTheFileSystemHoldingThePath) {
  DZ_REQUIRE(MakeImage(FDir / "ext.img", "mkfs.ext4 -q -F -L ' " + FLabel + "e'"), "mkfs.ext4");
  DZ_REQUIRE(MakeImage(FDir / "bare.img", "mkfs.ext4 -q -F"), "mkfs.ext4");
  DZ_REQUIRE(MountImage(FDir / "ext.img", FDir / "ext"), "loop mount");
  DZ_REQUIRE(MountImage(FDir / "bare.img", FDir / "bare"), "loop mount");
  fs::create_directory(FDir / "ext" / "sub");
  DZ_REQUIRE(Mount("--bind " + Quoted(FDir / "ext" / "sub"), FDir / "bind"), "bind mount");

  const struct {
    std::string Path;
    std::string Label;
  } Cases[] = {
      {Dir("ext"), FLabel + "e"},
      {Dir("ext") + "/new/folder", FLabel + "e"},
      {Dir("bind") + "/x", FLabel + "e"},
      {Dir("bare") + "/x", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    std::string Label = "old";
    EXPECT_TRUE(ReadVolumeLabel(Case.Path, Label));
    EXPECT_EQ(Label, Case.Label);
    // Loop devices are neither removable nor on USB.
    EXPECT_EQ(GetDriveKind(Case.Path), dkLocal);
    EXPECT_EQ(DriveTypeOf(Case.Path), dtFixed);
    EXPECT_FALSE(IsUsbDrive(Case.Path));
  }
}

// Kernels built without FAT support refuse the mount; the label of a FAT
// image is read in the platform tests all the same.
TEST_F(LoopVolumeTest, LabelOfAVfatFileSystem) {
  const std::string Upper = AsciiUpper(FLabel);
  DZ_REQUIRE(MakeImage(FDir / "fat.img", "mkfs.vfat -n " + Upper), "mkfs.vfat");
  DZ_REQUIRE(MountImage(FDir / "fat.img", FDir / "fat"), "vfat loop mount");
  std::string Label;
  EXPECT_TRUE(ReadVolumeLabel(Dir("fat") + "/x", Label));
  EXPECT_EQ(Label, Upper);
  EXPECT_EQ(FindDriveByLabel(FLabel), Dir("fat") + "/");
}

TEST_F(LoopVolumeTest, FirstMountWithTheLabelInTableOrderWithoutRegardToCase) {
  const std::string Upper = AsciiUpper(FLabel);
  const std::string Lower = AsciiLower(FLabel);
  DZ_REQUIRE(MakeImage(FDir / "first.img", "mkfs.ext4 -q -F -L " + FLabel), "mkfs.ext4");
  DZ_REQUIRE(MakeImage(FDir / "second.img", "mkfs.ext4 -q -F -L " + Upper), "mkfs.ext4");
  // Mounted in the order b, a: the table's order, not the names', decides.
  DZ_REQUIRE(MountImage(FDir / "first.img", FDir / "b"), "loop mount");
  DZ_REQUIRE(MountImage(FDir / "second.img", FDir / "a"), "loop mount");

  EXPECT_EQ(FindDriveByLabel(FLabel), Dir("b") + "/");
  EXPECT_EQ(FindDriveByLabel(Upper), Dir("b") + "/");
  EXPECT_EQ(FindDriveByLabel(Lower, 3), Dir("b") + "/");
  EXPECT_EQ(FindDriveByLabel(FLabel + "x"), "");
  EXPECT_EQ(FindDriveByLabel(FLabel.substr(1)), "");
  EXPECT_EQ(FindDriveByLabel(""), "");

  Unmount(FDir / "b");
  EXPECT_EQ(FindDriveByLabel(FLabel), Dir("a") + "/");
}

TEST_F(LoopVolumeTest, MountsThatDoNotShowTheWholeFileSystemArePassedOver) {
  DZ_REQUIRE(MakeImage(FDir / "ext.img", "mkfs.ext4 -q -F -L " + FLabel), "mkfs.ext4");
  DZ_REQUIRE(MountImage(FDir / "ext.img", FDir / "disk"), "loop mount");
  fs::create_directory(FDir / "disk" / "sub");
  DZ_REQUIRE(Mount("--bind " + Quoted(FDir / "disk" / "sub"), FDir / "bind"), "bind mount");
  // A tmpfs on top hides the disk; only the bind mount of its folder shows.
  DZ_REQUIRE(Mount("-t tmpfs -o size=64k tmpfs", FDir / "disk"), "tmpfs mount");

  EXPECT_EQ(FindDriveByLabel(FLabel), "");
  std::string Label;
  EXPECT_TRUE(ReadVolumeLabel(Dir("bind"), Label));
  EXPECT_EQ(Label, FLabel);
  EXPECT_EQ(DriveTypeOf(Dir("disk")), dtRamDisk);

  Unmount(FDir / "disk");
  EXPECT_EQ(FindDriveByLabel(FLabel), Dir("disk") + "/");
}

TEST_F(LoopVolumeTest, DeclaredMountPointIsAvailableOnlyWhileMounted) {
  fs::create_directories(FDir / "mnt point");
  test::WriteFileBytes(FDir / "fstab", "LABEL=" + FLabel + " " + Dir("mnt\\040point") + " ext4 noauto 0 0\n");
  TVolumeTables Tables;
  Tables.Fstab = (FDir / "fstab").string();
  const std::string Destination = Dir("mnt point") + "/backup";
  const std::string Beside = Dir("mnt point2") + "/backup";
  DZ_REQUIRE(MakeImage(FDir / "ext.img", "mkfs.ext4 -q -F -L " + FLabel), "mkfs.ext4");

  EXPECT_EQ(GetDriveKind(Destination, Tables), dkNotAvailable);
  EXPECT_EQ(GetDriveKind(Beside, Tables), dkLocal);

  DZ_REQUIRE(MountImage(FDir / "ext.img", FDir / "mnt point"), "loop mount");
  EXPECT_EQ(GetDriveKind(Destination, Tables), dkLocal);
  EXPECT_EQ(DriveTypeOf(Destination, Tables), dtFixed);
  std::string Label;
  EXPECT_TRUE(ReadVolumeLabel(Destination, Label, Tables));
  EXPECT_EQ(Label, FLabel);
  EXPECT_EQ(FindDriveByLabel(FLabel, 0, Tables), Dir("mnt point") + "/");

  Unmount(FDir / "mnt point");
  EXPECT_EQ(GetDriveKind(Destination, Tables), dkNotAvailable);
  EXPECT_EQ(GetDriveKind(Beside, Tables), dkLocal);
  EXPECT_EQ(FindDriveByLabel(FLabel, 0, Tables), "");
}

}  // namespace
}  // namespace dz
