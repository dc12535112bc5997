#pragma once
// Where a backup destination lies: whether its drive is there at all and
// what kind of drive it is, and finding a drive by its volume label.
//
// Linux has no drive letters: the drive of a path is the file system that
// holds it. That drive is missing when the path lies below a mount point
// declared in fstab, or below the folder of a removable medium
// (/media/<user>/<name>, /run/media/<user>/<name>), and nothing is mounted
// there; a backup would otherwise fill the bare mount-point folder on the
// file system underneath. Removable means the device's removable flag or a
// USB bus; network file systems are NFS, SMB, SSHFS, 9P and their like;
// tmpfs and ramfs are RAM disks. Labels are read from the file system's
// superblock, which needs read access to its device (usually root or the
// "disk" group); where that is refused, a label cannot be read.
//
// The system is asked at every call, so that a medium plugged in since the
// last call is seen. Tests may put in volumes of their own (TVolumes).

#include <string>
#include <string_view>

#include "base/Translate.h"
#include "platform/Volumes.h"

namespace dz {

// The type of the drive that holds a path.
enum TDriveType : int {
  dtUnknown = 0,    // the path cannot be resolved
  dtNoRootDir = 1,  // the drive does not exist (its file system is not mounted)
  dtRemovable = 2,  // removable medium, also a fixed disk on USB
  dtFixed = 3,      // fixed disk, and every other local file system
  dtRemote = 4,     // network file system
  dtCdRom = 5,      // optical drive; Linux reports these as removable (2)
  dtRamDisk = 6,    // tmpfs, ramfs
};

// What GetDriveKind makes of a path. The backup scheduler skips a
// destination of kind 0 and counts every other one as available.
enum TDriveKind : int {
  dkNotAvailable = 0,  // drive type 0 or 1
  dkLocal = 1,         // drive type 3 or 6
  dkNoDrive = 2,       // a relative path
  dkRemovable = 3,     // drive type 2 or 5
  dkNetwork = 4,       // drive type 4
};

// The label ReadVolumeLabel gives when it cannot read one (a key of the
// translation).
inline constexpr const char* LabelNotAvailable = TrMark("not available");

// The kind of place Path is on. A relative path gives dkNoDrive without
// looking further. A path that does not exist yet (the destination folder
// is created by the backup) is judged by its nearest existing folder,
// except that it is not available when the file system it belongs to is
// missing (see above).
TDriveKind GetDriveKind(std::string_view Path, const TVolumes& Volumes = *SystemVolumes());

// The type of the drive that holds Path; a relative path is taken from the
// current directory.
TDriveType DriveTypeOf(std::string_view Path, const TVolumes& Volumes = *SystemVolumes());

// True when the drive that holds Root (any path on it) is attached by USB.
bool IsUsbDrive(std::string_view Root, const TVolumes& Volumes = *SystemVolumes());

// The volume label of the drive that holds Path, with blanks trimmed at
// both ends; empty when the file system has none. When it cannot be read
// (missing drive, no device as with tmpfs or network file systems, device
// not readable), Label is the translated LabelNotAvailable and the result
// false.
bool ReadVolumeLabel(std::string_view Path, std::string& Label, const TVolumes& Volumes = *SystemVolumes());

// The mount point, with a trailing delimiter ("/media/anna/BACKUP/", "/"),
// of the first mounted file system in the order of the mount table whose
// label (trimmed) equals Label without regard to case; empty when none has
// it, and for an empty Label. A bind mount of one of its folders is never
// given, since a destination below it would not be where the label says.
// FirstDrive is the first drive letter to look at (0 = A) where drives are
// lettered; Linux has no letters and looks at every mounted file system.
std::string FindDriveByLabel(std::string_view Label, int FirstDrive = 0, const TVolumes& Volumes = *SystemVolumes());

}  // namespace dz
