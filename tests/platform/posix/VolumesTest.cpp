// The Linux tables behind the volume helpers: the mount table and fstab
// parsers, finding the mount that holds a path, the expected-but-missing
// file system, path resolution, sysfs and the label probe.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/MountTables.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

// --- the mount table ---------------------------------------------------------

struct TMountInfoCase {
  const char* Name;
  const char* Line;
  bool Parsed;
  TMountEntry Expected;
};

const TMountInfoCase MountInfoCases[] = {
    {"plain with one optional field",
     "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue", true,
     {36, 35, 98, 0, "/mnt1", "/mnt2", "ext3", "/dev/root"}},
    {"no optional fields", "22 28 0:21 / /proc rw,relatime - proc proc rw", true,
     {22, 28, 0, 21, "/", "/proc", "proc", "proc"}},
    {"several optional fields", "40 28 8:17 / /mnt/b rw shared:5 master:2 propagate_from:1 - ext4 /dev/sdb1 rw", true,
     {40, 28, 8, 17, "/", "/mnt/b", "ext4", "/dev/sdb1"}},
    {"blank, tab, newline and backslash escaped",
     "41 28 8:33 / /media/anna/My\\040Disk\\011x\\012y\\134z rw - vfat /dev/sdc1 rw", true,
     {41, 28, 8, 33, "/", "/media/anna/My Disk\tx\ny\\z", "vfat", "/dev/sdc1"}},
    {"bind mount of a folder", "50 28 254:0 /srv/my\\040data /mnt/bind rw,relatime - ext4 /dev/vda rw", true,
     {50, 28, 254, 0, "/srv/my data", "/mnt/bind", "ext4", "/dev/vda"}},
    {"overlay root of a container", "1 0 0:50 / / rw,relatime - overlay overlay rw,lowerdir=/l,upperdir=/u", true,
     {1, 0, 0, 50, "/", "/", "overlay", "overlay"}},
    {"network source with an escaped blank", "60 28 0:60 / /mnt/share rw - cifs //server/my\\040share rw", true,
     {60, 28, 0, 60, "/", "/mnt/share", "cifs", "//server/my share"}},
    {"FUSE type", "61 28 0:61 / /mnt/ssh rw,nosuid - fuse.sshfs anna@host:/home rw", true,
     {61, 28, 0, 61, "/", "/mnt/ssh", "fuse.sshfs", "anna@host:/home"}},
    {"backslashes that are no escape stay", "62 28 0:62 / /mnt/a\\9b\\400c\\04 rw - tmpfs tmpfs rw", true,
     {62, 28, 0, 62, "/", "/mnt/a\\9b\\400c\\04", "tmpfs", "tmpfs"}},
    {"no super options", "63 28 0:63 / /mnt/x rw - tmpfs tmpfs", true,
     {63, 28, 0, 63, "/", "/mnt/x", "tmpfs", "tmpfs"}},
    {"no source", "64 28 0:64 / /mnt/y rw - tmpfs", true, {64, 28, 0, 64, "/", "/mnt/y", "tmpfs", ""}},
    {"empty source", "65 28 0:65 / /mnt/z rw - tmpfs  rw", true, {65, 28, 0, 65, "/", "/mnt/z", "tmpfs", ""}},
    {"no separator", "70 28 0:70 / /mnt/n rw tmpfs tmpfs rw", false, {}},
    {"no type after the separator", "71 28 0:71 / /mnt/n rw master:1 -", false, {}},
    {"separator in place of the options", "72 28 0:72 / /mnt/n - tmpfs tmpfs rw", false, {}},
    {"id not a number", "7x 28 0:73 / /mnt/n rw - tmpfs tmpfs rw", false, {}},
    {"device without a colon", "74 28 073 / /mnt/n rw - tmpfs tmpfs rw", false, {}},
    {"negative device number", "75 28 -1:0 / /mnt/n rw - tmpfs tmpfs rw", false, {}},
    {"mount point not absolute", "76 28 0:76 / mnt/n rw - tmpfs tmpfs rw", false, {}},
    {"empty line", "", false, {}},
};

void ExpectSameMount(const TMountEntry& Actual, const TMountEntry& Expected) {
  EXPECT_EQ(Actual.Id, Expected.Id);
  EXPECT_EQ(Actual.ParentId, Expected.ParentId);
  EXPECT_EQ(Actual.Major, Expected.Major);
  EXPECT_EQ(Actual.Minor, Expected.Minor);
  EXPECT_EQ(Actual.Root, Expected.Root);
  EXPECT_EQ(Actual.MountPoint, Expected.MountPoint);
  EXPECT_EQ(Actual.FsType, Expected.FsType);
  EXPECT_EQ(Actual.Source, Expected.Source);
}

TEST(MountInfoTest, ParsesEachLineOrPassesItOver) {
  for (const TMountInfoCase& Case : MountInfoCases) {
    SCOPED_TRACE(Case.Name);
    const std::vector<TMountEntry> Mounts = ParseMountInfo(Case.Line);
    ASSERT_EQ(Mounts.size(), Case.Parsed ? 1u : 0u);
    if (Case.Parsed) ExpectSameMount(Mounts[0], Case.Expected);
  }
}

TEST(MountInfoTest, KeepsTheOrderOfTheTableAndSkipsOnlyBrokenLines) {
  std::string Text;
  std::vector<const TMountInfoCase*> Good;
  for (const TMountInfoCase& Case : MountInfoCases) {
    Text += Case.Line;
    Text += '\n';
    if (Case.Parsed) Good.push_back(&Case);
  }
  const std::vector<TMountEntry> Mounts = ParseMountInfo(Text);
  ASSERT_EQ(Mounts.size(), Good.size());
  for (std::size_t I = 0; I < Mounts.size(); ++I) {
    SCOPED_TRACE(Good[I]->Name);
    ExpectSameMount(Mounts[I], Good[I]->Expected);
  }
}

TEST(MountInfoTest, ReadsThisProcessesTable) {
  std::vector<TMountEntry> Mounts;
  ASSERT_EQ(ReadMountTable("/proc/self/mountinfo", Mounts), 0);
  const TMountEntry* Root = FindMountOf(Mounts, "/");
  ASSERT_NE(Root, nullptr);
  EXPECT_EQ(Root->MountPoint, "/");
}

TEST(MountInfoTest, MissingTableIsAnError) {
  std::vector<TMountEntry> Mounts(1);
  EXPECT_EQ(ReadMountTable("/nonexistent-dz/mountinfo", Mounts), 3);
  EXPECT_TRUE(Mounts.empty());
}

// --- fstab ---------------------------------------------------------------------

struct TFstabCase {
  const char* Line;
  bool Declares;
  TFstabEntry Expected;
};

const TFstabCase FstabCases[] = {
    {"# /etc/fstab: static file system information.", false, {}},
    {"   # an indented comment /dev/sdz1 /mnt/z ext4", false, {}},
    {"#/dev/sdz2 /mnt/commented ext4 defaults 0 0", false, {}},
    {"", false, {}},
    {" \t ", false, {}},
    {"UUID=1234-abcd / ext4 errors=remount-ro 0 1", false, {}},
    {"UUID=5678-ef01 /home ext4 defaults 0 2", true, {"UUID=5678-ef01", "/home", "ext4", "defaults"}},
    {"LABEL=BACKUP\\040DISK /mnt/backup\\040disk ext4 noauto,user 0 0", true,
     {"LABEL=BACKUP DISK", "/mnt/backup disk", "ext4", "noauto,user"}},
    {"/dev/sdb1\t/mnt/tabbed/\tvfat\tnoauto\t0\t0", true, {"/dev/sdb1", "/mnt/tabbed", "vfat", "noauto"}},
    {"/srv/data   /mnt/bind   none   bind   0 0", true, {"/srv/data", "/mnt/bind", "none", "bind"}},
    {"/swapfile none swap sw 0 0", false, {}},
    {"/dev/sda3 /swap swap defaults 0 0", false, {}},
    {"tmpfs /tmp tmpfs defaults,size=1g 0 0", true, {"tmpfs", "/tmp", "tmpfs", "defaults,size=1g"}},
    {"server:/export /mnt/nfs nfs4 _netdev 0 0", true, {"server:/export", "/mnt/nfs", "nfs4", "_netdev"}},
    {"/dev/sdc1 /mnt//double/./x/ ext4 defaults", true, {"/dev/sdc1", "/mnt/double/x", "ext4", "defaults"}},
    {"/dev/sdd1 relative/point ext4 defaults 0 0", false, {}},
    {"/dev/sde1 /mnt/short", true, {"/dev/sde1", "/mnt/short", "", ""}},
    {"onlyonefield", false, {}},
    {"/dev/sdf1 // ext4 defaults", false, {}},
};

void ExpectSameFstabEntry(const TFstabEntry& Actual, const TFstabEntry& Expected) {
  EXPECT_EQ(Actual.Source, Expected.Source);
  EXPECT_EQ(Actual.MountPoint, Expected.MountPoint);
  EXPECT_EQ(Actual.FsType, Expected.FsType);
  EXPECT_EQ(Actual.Options, Expected.Options);
}

TEST(FstabMountTest, DeclaresMountPointsOfFileSystemsOnly) {
  for (const TFstabCase& Case : FstabCases) {
    SCOPED_TRACE(Case.Line);
    const std::vector<TFstabEntry> Entries = ParseFstab(Case.Line);
    ASSERT_EQ(Entries.size(), Case.Declares ? 1u : 0u);
    if (Case.Declares) ExpectSameFstabEntry(Entries[0], Case.Expected);
  }
}

TEST(FstabMountTest, WholeFileInOrder) {
  std::string Text;
  std::vector<const TFstabCase*> Declaring;
  for (const TFstabCase& Case : FstabCases) {
    Text += Case.Line;
    Text += '\n';
    if (Case.Declares) Declaring.push_back(&Case);
  }
  const std::vector<TFstabEntry> Entries = ParseFstab(Text);
  ASSERT_EQ(Entries.size(), Declaring.size());
  for (std::size_t I = 0; I < Entries.size(); ++I) {
    SCOPED_TRACE(Declaring[I]->Line);
    ExpectSameFstabEntry(Entries[I], Declaring[I]->Expected);
  }
}

TEST(FstabMountTest, MissingFileDeclaresNothing) { EXPECT_TRUE(ReadFstab("/nonexistent-dz/fstab").empty()); }

// --- the mount that holds a path -------------------------------------------------

// 3 and 4 share a prefix that is no component; 7 lies on 6; 9 is mounted
// above 8 later and hides it; 11's parent is not listed (a container).
constexpr const char* SampleMountInfo =
    "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
    "2 1 0:21 / /proc rw - proc proc rw\n"
    "3 1 8:17 / /mnt/backup rw - ext4 /dev/sdb1 rw\n"
    "4 1 0:30 / /mnt/backup2 rw - tmpfs tmpfs rw\n"
    "5 3 0:31 / /mnt/backup/deep rw - tmpfs tmpfs rw\n"
    "6 1 8:33 / /mnt/stack rw - ext4 /dev/sdc1 rw\n"
    "7 6 8:49 / /mnt/stack rw - vfat /dev/sdd1 rw\n"
    "8 1 8:65 / /srv/hidden/inner rw - ext4 /dev/sde1 rw\n"
    "9 1 0:40 / /srv rw - tmpfs tmpfs rw\n"
    "10 1 8:81 / /media/anna/My\\040Disk rw - vfat /dev/sdf1 rw\n"
    "11 99 0:42 / /orphan rw - tmpfs tmpfs rw\n";

TEST(FindMountTest, DeepestVisibleMountHoldsThePath) {
  const std::vector<TMountEntry> Mounts = ParseMountInfo(SampleMountInfo);
  const struct {
    const char* Path;
    int Id;
  } Cases[] = {
      {"/", 1},
      {"/etc/passwd", 1},
      {"/proc/self", 2},
      {"/procfs", 1},
      {"/mnt/backup", 3},
      {"/mnt/backup/x", 3},
      {"/mnt/backup2/x", 4},
      {"/mnt/backupX", 1},
      {"/mnt/backup/deep/y", 5},
      {"/mnt/backup/deeper", 3},
      {"/mnt/stack/f", 7},
      {"/srv/hidden/inner/f", 9},
      {"/media/anna/My Disk/f", 10},
      {"/media/anna/My", 1},
      {"/orphan/x", 11},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    const TMountEntry* Found = FindMountOf(Mounts, Case.Path);
    ASSERT_NE(Found, nullptr);
    EXPECT_EQ(Found->Id, Case.Id);
  }
}

TEST(FindMountTest, RootMountsStackedInAnyListingOrder) {
  // 5 lies on 6 although it is listed first.
  const std::vector<TMountEntry> Mounts = ParseMountInfo(
      "5 6 0:51 / / rw - tmpfs tmpfs rw\n"
      "6 0 0:50 / / rw - overlay overlay rw\n"
      "7 5 0:52 / /data rw - tmpfs tmpfs rw\n");
  const TMountEntry* Found = FindMountOf(Mounts, "/a/b");
  ASSERT_NE(Found, nullptr);
  EXPECT_EQ(Found->Id, 5);
  Found = FindMountOf(Mounts, "/data/x");
  ASSERT_NE(Found, nullptr);
  EXPECT_EQ(Found->Id, 7);
}

TEST(FindMountTest, NoRootMountFindsNothing) {
  EXPECT_EQ(FindMountOf({}, "/x"), nullptr);
  EXPECT_EQ(FindMountOf(ParseMountInfo("3 1 0:30 / /mnt rw - tmpfs tmpfs rw\n"), "/mnt/x"), nullptr);
}

TEST(FindMountTest, DamagedParentLinksEndTheSearch) {
  // 2 has no listed parent and so attaches wherever /a is reached, also
  // on 3, which lies on 2: the walk must not circle.
  const std::vector<TMountEntry> Mounts = ParseMountInfo(
      "1 0 0:50 / / rw - ext4 /dev/vda rw\n"
      "2 99 0:51 / /a rw - tmpfs tmpfs rw\n"
      "3 2 0:52 / /a rw - tmpfs tmpfs rw\n");
  const TMountEntry* Found = FindMountOf(Mounts, "/a/x");
  ASSERT_NE(Found, nullptr);
  EXPECT_EQ(Found->Id, 3);
}

// --- file systems that are expected but missing ----------------------------------

TEST(MissingMountTest, DeepestExpectedMountPointDecides) {
  const std::vector<TFstabEntry> Fstab = ParseFstab(
      "/dev/sdb1 /mnt/backup ext4 noauto 0 0\n"
      "/dev/sdc1 /mnt/backup/deeper ext4 noauto 0 0\n"
      "LABEL=X /mnt/my\\040disk vfat noauto 0 0\n");
  const struct {
    const char* Path;
    const char* Holder;
    bool Missing;
  } Cases[] = {
      {"/mnt/backup/x", "/", true},
      {"/mnt/backup", "/", true},
      {"/mnt/backup/x", "/mnt/backup", false},
      {"/mnt/backup2/x", "/", false},
      {"/mnt/back", "/", false},
      {"/mnt/backup/deeper/x", "/mnt/backup", true},
      {"/mnt/backup/deeper/x", "/mnt/backup/deeper", false},
      {"/mnt/backup/deeperX", "/mnt/backup", false},
      {"/mnt/backup/other", "/mnt/backup", false},
      {"/mnt/backup/deeper/x", "/", true},
      {"/mnt/my disk/x", "/", true},
      {"/mnt/my disk/x", "/mnt/my disk", false},
      {"/home/anna/x", "/", false},
      // Removable media, with no fstab entry.
      {"/media/anna/STICK/backup", "/", true},
      {"/media/anna/STICK", "/", true},
      {"/media/anna/STICK/backup", "/media/anna/STICK", false},
      {"/media/usb0/backup", "/media/usb0", false},
      {"/media/usb0/backup", "/", true},
      {"/media/anna", "/", false},
      {"/media", "/", false},
      {"/media/anna/STICK/x", "/media", true},
      {"/run/media/anna/STICK/x", "/", true},
      {"/run/media/anna/STICK/x", "/run/media/anna/STICK", false},
      {"/run/media/anna", "/", false},
      {"/run/medias/anna/STICK/x", "/", false},
      {"/mediaX/anna/STICK/x", "/", false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Path) + " held by " + Case.Holder);
    EXPECT_EQ(FileSystemIsMissing(Fstab, Case.Path, Case.Holder), Case.Missing);
  }
  // A folder below /mnt that is empty is a mount point without its file
  // system, declared or not; a mount below /mnt that holds the path is it.
  const struct {
    const char* Path;
    const char* Holder;
    bool Missing;
  } EmptyMnt[] = {
      {"/mnt/usbdisk/backup", "/", true},
      {"/mnt/usbdisk", "/", true},
      {"/mnt/usbdisk/backup", "/mnt/usbdisk", false},
      {"/mnt/usbdisk/backup", "/mnt", true},
      {"/home/anna/x", "/", false},
      {"/mnt", "/", false},
  };
  for (const auto& Case : EmptyMnt) {
    SCOPED_TRACE(std::string(Case.Path) + " held by " + Case.Holder + ", its folder below /mnt empty");
    EXPECT_EQ(FileSystemIsMissing(Fstab, Case.Path, Case.Holder, true), Case.Missing);
  }
}

// The bare folder of a file system mounted by hand, and not mounted now: a
// backup there would fill the disk underneath and vanish at the next mount.
TEST(VolumeKindTest, AnEmptyFolderBelowMntIsAMissingFileSystem) {
  std::random_device Random;
  const fs::path Folder = fs::path("/mnt") / ("dz-test-" + std::to_string(Random()));
  std::error_code Ec;
  if (!fs::create_directory(Folder, Ec)) GTEST_SKIP() << "cannot make a folder in /mnt here (needs root)";
  EXPECT_EQ(VolumeKindOf((Folder / "backup").string()), vkMissing);
  EXPECT_EQ(VolumeKindOf(Folder.string()), vkMissing);
  // Once it holds something it is a folder of the disk it lies on.
  test::WriteFileBytes(Folder / "kept.txt", "x");
  EXPECT_NE(VolumeKindOf((Folder / "backup").string()), vkMissing);
  fs::remove_all(Folder, Ec);
}

// --- path resolution ----------------------------------------------------------------

class VolumePathTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FBase = fs::canonical(FDir).string();
  }
  std::string FBase;
};

TEST_F(VolumePathTest, ResolvesLinksOfTheExistingPartOnly) {
  fs::create_directories(FDir / "a" / "b");
  fs::create_symlink(FDir / "a" / "b", FDir / "abs-link");
  fs::create_symlink("a/b", FDir / "rel-link");
  fs::create_symlink(FDir / "gone" / "deeper", FDir / "dangling");
  fs::create_symlink("loop2", FDir / "loop1");
  fs::create_symlink("loop1", FDir / "loop2");
  const struct {
    std::string In;
    std::string Out;
  } Cases[] = {
      {FBase, FBase},
      {FBase + "//a/./b/", FBase + "/a/b"},
      {FBase + "/a/missing/x/../y", FBase + "/a/missing/y"},
      {FBase + "/abs-link/new", FBase + "/a/b/new"},
      {FBase + "/rel-link/new/more", FBase + "/a/b/new/more"},
      // ".." after a link goes up from where the link leads.
      {FBase + "/abs-link/..", FBase + "/a"},
      {FBase + "/dangling/x", FBase + "/gone/deeper/x"},
      {"/", "/"},
      {"/..", "/"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.In);
    std::string Resolved;
    ASSERT_EQ(ResolvePartialPath(Case.In, Resolved), 0);
    EXPECT_EQ(Resolved, Case.Out);
  }
  std::string Resolved;
  ASSERT_EQ(ResolvePartialPath(FBase + "/loop1/x", Resolved), 0);
  EXPECT_EQ(Resolved.rfind(FBase + "/", 0), 0u) << Resolved;
}

TEST_F(VolumePathTest, RelativePathStartsAtTheCurrentDirectory) {
  std::string Resolved;
  ASSERT_EQ(ResolvePartialPath("dz-missing/x", Resolved), 0);
  EXPECT_EQ(Resolved, fs::canonical(fs::current_path()).string() + "/dz-missing/x");
}

// --- sysfs -----------------------------------------------------------------------------

class BlockDeviceVolumeTest : public test::TTempDirTest {
protected:
  // A device folder below sys/devices with its number linked from
  // sys/dev/block, as the kernel lays it out.
  void AddDevice(const std::string& Folder, const std::string& Number, const std::string& DevName,
                 const char* Removable, bool Partition) {
    const fs::path Dir = FDir / "sys" / "devices" / Folder;
    fs::create_directories(Dir);
    test::WriteFileBytes(Dir / "uevent", "MAJOR=0\nDEVNAME=" + DevName + "\nDEVTYPE=disk\n");
    if (Removable) test::WriteFileBytes(Dir / "removable", std::string(Removable) + "\n");
    if (Partition) test::WriteFileBytes(Dir / "partition", "1\n");
    fs::create_directories(FDir / "sys" / "dev" / "block");
    fs::create_symlink(fs::path("../../devices") / Folder, FDir / "sys" / "dev" / "block" / Number);
  }
};

TEST_F(BlockDeviceVolumeTest, RemovableFlagAndUsbBusOfDiskPartitionOrLowerDevice) {
  const std::string Usb = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
  AddDevice(Usb, "8:16", "sdb", "0", false);
  AddDevice(Usb + "/sdb1", "8:17", "sdb1", nullptr, true);
  AddDevice("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", "8:0", "sda", "0", false);
  AddDevice("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2", "8:2", "sda2", nullptr, true);
  AddDevice("platform/mmc0/mmc_host/mmc0/mmc0:1234/block/mmcblk0", "179:0", "mmcblk0", "1", false);
  AddDevice("platform/mmc0/mmc_host/mmc0/mmc0:1234/block/mmcblk0/mmcblk0p1", "179:1", "mmcblk0p1", nullptr, true);
  AddDevice("pci0000:00/0000:00:1f.0/usbmisc/block/sdx", "8:240", "sdx", "0", false);
  AddDevice("virtual/block/dm-1", "254:1", "dm-1", "0", false);
  fs::create_directories(FDir / "sys" / "devices" / "virtual" / "block" / "dm-1" / "slaves");
  fs::create_symlink(fs::path("../../../../") / Usb / "sdb1",
                     FDir / "sys" / "devices" / "virtual" / "block" / "dm-1" / "slaves" / "sdb1");
  AddDevice("virtual/block/loop0", "7:0", "loop0", "0", false);

  const struct {
    unsigned Major, Minor;
    bool Found, Removable, Usb;
    const char* DevName;
  } Cases[] = {
      {8, 16, true, false, true, "sdb"},          {8, 17, true, false, true, "sdb1"},
      {8, 0, true, false, false, "sda"},          {8, 2, true, false, false, "sda2"},
      {179, 1, true, true, false, "mmcblk0p1"},   {8, 240, true, false, false, "sdx"},
      {254, 1, true, false, true, "dm-1"},        {7, 0, true, false, false, "loop0"},
      {0, 45, false, false, false, ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::to_string(Case.Major) + ":" + std::to_string(Case.Minor));
    const TBlockDeviceInfo Info = QueryBlockDevice(Case.Major, Case.Minor, (FDir / "sys").string());
    EXPECT_EQ(Info.Found, Case.Found);
    EXPECT_EQ(Info.Removable, Case.Removable);
    EXPECT_EQ(Info.Usb, Case.Usb);
    EXPECT_EQ(Info.DevName, Case.DevName);
  }
}

TEST_F(BlockDeviceVolumeTest, MissingSysfsKnowsNothing) {
  const TBlockDeviceInfo Info = QueryBlockDevice(8, 0, (FDir / "no-sys").string());
  EXPECT_FALSE(Info.Found);
  EXPECT_FALSE(Info.Removable);
  EXPECT_FALSE(Info.Usb);
}

// --- labels ----------------------------------------------------------------------------

class ProbeLabelTest : public test::TTempDirTest {
protected:
  // A sparse image file with a new file system; false when the tool is
  // missing.
  static bool MakeImage(const fs::path& Image, const std::string& MkfsCommand) {
    test::WriteFileBytes(Image, "");
    fs::resize_file(Image, 8 << 20);
    return std::system((MkfsCommand + " '" + Image.string() + "' >/dev/null 2>&1").c_str()) == 0;
  }
};

TEST_F(ProbeLabelTest, ReadsTheLabelFromTheSuperblock) {
  const struct {
    const char* Name;
    const char* Mkfs;
    const char* Label;
  } Cases[] = {
      {"ext4 with a label", "mkfs.ext4 -q -F -L 'Back Up'", "Back Up"},
      // libblkid drops trailing blanks, not leading ones.
      {"ext4 with blanks around its label", "mkfs.ext4 -q -F -L ' pad '", " pad"},
      {"ext4 with a non-ASCII label", "mkfs.ext4 -q -F -L 'Sicherung-\xC3\x9C'", "Sicherung-\xC3\x9C"},
      {"ext4 without a label", "mkfs.ext4 -q -F", ""},
      {"vfat with a label", "mkfs.vfat -n DZVFAT", "DZVFAT"},
      {"vfat with a lower-case label", "mkfs.vfat -n dzLower", "dzLower"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const fs::path Image = FDir / "volume.img";
    if (!MakeImage(Image, Case.Mkfs)) GTEST_SKIP() << "cannot run " << Case.Mkfs << " (e2fsprogs, dosfstools)";
    std::string Label = "old";
    EXPECT_TRUE(ProbeDeviceLabel(Image.string(), Label));
    EXPECT_EQ(Label, Case.Label);
  }
}

TEST_F(ProbeLabelTest, NoFileSystemNoLabel) {
  const fs::path Zeros = FDir / "zeros.img";
  test::WriteFileBytes(Zeros, "");
  fs::resize_file(Zeros, 1 << 20);
  std::string Label = "old";
  EXPECT_FALSE(ProbeDeviceLabel(Zeros.string(), Label));
  EXPECT_EQ(Label, "");
  Label = "old";
  EXPECT_FALSE(ProbeDeviceLabel((FDir / "missing.img").string(), Label));
  EXPECT_EQ(Label, "");
}

}  // namespace
}  // namespace dz
