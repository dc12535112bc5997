#pragma once
// The Linux side of Volumes.h: the mount table (/proc/self/mountinfo), the
// mount points the administrator declared (/etc/fstab), sysfs (removable
// flag and bus of the block device) and the file system's own superblock
// (read with libblkid, because /dev/disk/by-label exists only where udev
// runs). Where those tables are read from is a parameter, so that tests
// can point them at files of their own; the parsers take the text itself.
// Private to the POSIX backend and its tests.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Volumes.h"

namespace dz {

// Where the system's tables are read from, and the volumes as they tell
// them.
struct TVolumeTables : TVolumes {
  std::string MountInfo = "/proc/self/mountinfo";
  std::string Fstab = "/etc/fstab";
  std::string SysFs = "/sys";
  // Links named after labels, kept by the device manager where there is one:
  // only asked when the device itself cannot be opened (an ordinary user may
  // not read a disk), never relied on.
  std::string DiskByLabel = "/dev/disk/by-label";

  TVolumeKind KindOf(std::string_view Path) const override;
  bool OnUsb(std::string_view Path) const override;
  bool ReadLabel(std::string_view Path, std::string& Label) const override;
  void ForEachMountedLabel(const TLabelVisit& Visit) const override;
  TVolumeLook Look(std::string_view Path) const override;
};

// One line of the mount table. Texts are decoded (the kernel writes a blank
// in a mount point as \040).
struct TMountEntry {
  int Id = 0;
  int ParentId = 0;
  unsigned Major = 0;  // of the file system's device; 0 for virtual ones
  unsigned Minor = 0;
  std::string Root;        // the folder of the file system seen here ("/" unless bind-mounted)
  std::string MountPoint;  // where it is seen
  std::string FsType;      // ext4, nfs4, fuse.sshfs, ...
  std::string Source;      // /dev/sdb1, server:/export, tmpfs, ...
};

// One mount point declared in fstab.
struct TFstabEntry {
  std::string Source;      // /dev/sdb1, UUID=..., LABEL=..., server:/export
  std::string MountPoint;  // absolute, without a trailing delimiter
  std::string FsType;
  std::string Options;
};

// The lines of a mount table in its order; lines that do not have the
// mountinfo form are passed over.
std::vector<TMountEntry> ParseMountInfo(std::string_view Text);

// The mount points fstab declares, in its order. Comments, malformed lines,
// swap space and entries whose mount point is not an absolute path ("none")
// are passed over, and so is "/", which is always mounted.
std::vector<TFstabEntry> ParseFstab(std::string_view Text);

// Reads and parses the mount table; 0 or the system error code of reading it.
int ReadMountTable(const std::string& MountInfoPath, std::vector<TMountEntry>& Mounts);

// Reads and parses fstab; a missing or unreadable file declares nothing.
std::vector<TFstabEntry> ReadFstab(const std::string& FstabPath);

// The mount that holds the absolute, resolved Path, found as the kernel
// finds it: from the root mount, component by component, through the mounts
// attached at each place, so that a mount hidden by a later one on top of
// it or above it is never taken. /mnt/data2 is not inside /mnt/data. Null
// when Mounts has no mount at "/".
const TMountEntry* FindMountOf(const std::vector<TMountEntry>& Mounts, std::string_view Path);

// True when the file system that belongs at the absolute, resolved Path is
// not mounted, so that Path would land in the bare folder of the file
// system underneath, whose mount point is HolderMountPoint. A file system
// belongs at every mount point of Fstab, and at the folder of a removable
// medium (/media/<user>/<name>, /run/media/<user>/<name>; any mount below
// /media or /run/media that holds Path counts as that medium). The deepest
// mount point above Path decides: below a mounted /mnt/data, Path is fine
// unless it lies inside a declared /mnt/data/more that is not mounted.
// A folder directly below /mnt is where file systems are mounted by hand,
// without fstab: when nothing below /mnt holds Path and that folder is
// empty (MntFolderEmpty, which the caller looks at), it is the bare mount
// point, and the file system is missing too. (A plain folder there that is
// not a mount point takes copies once it holds anything.)
bool FileSystemIsMissing(const std::vector<TFstabEntry>& Fstab, std::string_view Path,
                         std::string_view HolderMountPoint, bool MntFolderEmpty = false);

// What sysfs tells about the block device Major:Minor. A partition has the
// removable flag of its disk; a device-mapper or RAID device is removable or
// on USB when one of the devices below it is.
struct TBlockDeviceInfo {
  bool Found = false;  // sysfs knows the device
  bool Removable = false;
  bool Usb = false;
  std::string DevName;  // below /dev, for example sdb1; empty when unknown
};
TBlockDeviceInfo QueryBlockDevice(unsigned Major, unsigned Minor, const std::string& SysFs = "/sys");

// The label in the superblock of the file system on Device (a block device
// or an image file). True when a file system was recognised; Label is then
// its label as stored, empty when it has none. False when Device cannot be
// opened (no permission, no medium) or holds no known file system.
bool ProbeDeviceLabel(const std::string& Device, std::string& Label);

// The members of TVolumeTables, as functions of the tables. When the mount
// table cannot be read, a mount point counts as mounted when it lies on
// another device than its parent, and the kind is vkFixed.
TVolumeKind VolumeKindOf(std::string_view Path, const TVolumeTables& Tables = {});
bool VolumeIsOnUsb(std::string_view Path, const TVolumeTables& Tables = {});
bool ReadFileSystemLabel(std::string_view Path, std::string& Label, const TVolumeTables& Tables = {});
void ForEachMountedLabel(const TVolumeTables& Tables, const TVolumes::TLabelVisit& Visit);
TVolumeLook LookAtVolume(std::string_view Path, const TVolumeTables& Tables = {});

}  // namespace dz
