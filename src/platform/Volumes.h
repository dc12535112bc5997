#pragma once
// Which volume holds a path, what kind of storage it lives on, and the
// labels of volumes: the questions the layers above ask, without the
// system's tables in them. Paths are UTF-8.
//
// The answers are the system's at the moment of the call (a medium plugged
// in since the last call is seen). Each system's folder answers them from
// its own sources (on Linux the mount table, fstab, sysfs and the file
// systems' superblocks: posix/MountTables.h); tests put in their own.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace dz {

// The kind of storage a path's file system lives on.
enum TVolumeKind {
  vkUnknown,    // the path cannot be resolved (the current directory is gone)
  vkMissing,    // the file system expected there is not mounted
  vkFixed,      // a fixed disk, or any other local file system
  vkRemovable,  // removable medium, or a disk on USB
  vkNetwork,
  vkRamDisk,
};

// What one look at the volume of a path found.
struct TVolumeLook {
  // The volume that belongs at the path is there: the path resolves, and
  // writing there would not land in the bare folder of a volume that is
  // not mounted (KindOf gives neither vkUnknown nor vkMissing).
  bool There = false;
  // Which volume holds the path: the folder it is mounted at ("/",
  // "/media/anna/STICK"); empty when unknown. Paths on one volume give the
  // same text.
  std::string MountPoint;
  // The path made absolute with the links of its existing part resolved;
  // empty when it cannot be resolved.
  std::string Resolved;
};

// The questions about volumes, answered by the system (SystemVolumes) or by
// a test's stand-in. Every member may be called on any thread and may block
// (a dead network mount); callers on the main thread use a thread of their
// own.
class TVolumes {
public:
  virtual ~TVolumes() = default;

  // The kind of the file system that holds Path. For a path that does not
  // exist yet this is the file system of its nearest existing folder,
  // unless the path lies below a place where a file system is expected and
  // none is mounted: then vkMissing, because writing there would fill the
  // folder of the file system underneath.
  virtual TVolumeKind KindOf(std::string_view Path) const = 0;
  // True when the file system holding Path lies on a device attached by USB.
  virtual bool OnUsb(std::string_view Path) const = 0;
  // The label of the file system holding Path, as stored. False when it
  // cannot be read: the file system is missing, has no device (tmpfs,
  // network), or its device cannot be opened.
  virtual bool ReadLabel(std::string_view Path, std::string& Label) const = 0;
  // Calls Visit with the mount point and the stored label of every mounted
  // file system whose label can be read, in the system's order, until Visit
  // returns false. Only mounts that show a whole file system (not a bind
  // mount of one of its folders) and that no other mount hides are visited.
  using TLabelVisit = std::function<bool(const std::string& MountPoint, const std::string& Label)>;
  virtual void ForEachMountedLabel(const TLabelVisit& Visit) const = 0;
  // The look at a backup destination, in one go: is its volume there,
  // which one is it, and where do its links lead.
  virtual TVolumeLook Look(std::string_view Path) const = 0;
};

// The system's answers; shared, so that a look still running on a thread
// of its own keeps them.
const std::shared_ptr<const TVolumes>& SystemVolumes();

// Path made absolute (against the current directory), with the symbolic
// links of its existing part resolved, "." and ".." applied, and the part
// that does not exist yet taken as written. 0, or a system error code when
// the current directory is unknown.
int ResolvePartialPath(std::string_view Path, std::string& Resolved);

}  // namespace dz
