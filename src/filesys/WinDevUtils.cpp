#include "filesys/WinDevUtils.h"

#include "base/CaseFold.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"

namespace dz {

namespace {

// Blanks and control characters, as a label padded by its file system has
// them.
std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && static_cast<unsigned char>(Text.front()) <= ' ') Text.remove_prefix(1);
  while (!Text.empty() && static_cast<unsigned char>(Text.back()) <= ' ') Text.remove_suffix(1);
  return Text;
}

}  // namespace

TDriveKind GetDriveKind(std::string_view Path, const TVolumes& Volumes) {
  if (!IsAbsolutePath(Path)) return dkNoDrive;
  switch (DriveTypeOf(Path, Volumes)) {
    case dtUnknown:
    case dtNoRootDir:
      return dkNotAvailable;
    case dtRemovable:
    case dtCdRom:
      return dkRemovable;
    case dtRemote:
      return dkNetwork;
    case dtFixed:
    case dtRamDisk:
      break;
  }
  return dkLocal;
}

TDriveType DriveTypeOf(std::string_view Path, const TVolumes& Volumes) {
  switch (Volumes.KindOf(Path)) {
    case vkUnknown:
      return dtUnknown;
    case vkMissing:
      return dtNoRootDir;
    case vkRemovable:
      return dtRemovable;
    case vkNetwork:
      return dtRemote;
    case vkRamDisk:
      return dtRamDisk;
    case vkFixed:
      break;
  }
  return dtFixed;
}

bool IsUsbDrive(std::string_view Root, const TVolumes& Volumes) { return Volumes.OnUsb(Root); }

bool ReadVolumeLabel(std::string_view Path, std::string& Label, const TVolumes& Volumes) {
  std::string Stored;
  if (!Volumes.ReadLabel(Path, Stored)) {
    Label = Tr(LabelNotAvailable);
    return false;
  }
  Label = Trimmed(Stored);
  return true;
}

std::string FindDriveByLabel(std::string_view Label, int /*FirstDrive*/, const TVolumes& Volumes) {
  // An empty label would pick whichever file system happens to have none.
  if (Trimmed(Label).empty()) return {};
  std::string Found;
  Volumes.ForEachMountedLabel([&](const std::string& MountPoint, const std::string& Stored) {
    if (!SameText(Trimmed(Stored), Label)) return true;
    Found = DirWithDelimiter(MountPoint);
    return false;
  });
  return Found;
}

}  // namespace dz
