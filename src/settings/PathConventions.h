#pragma once
// The drive folder of a backup destination: everything that comes from one
// source drive goes into a folder named after that drive, so that C:\Data
// and D:\Data do not meet in one destination. Its name comes from a pattern
// in which every "?" stands for the drive letter ("Drv?" gives DrvC).
//
// Linux paths have no drive part, so there the drive folder is always empty;
// the Windows forms are handled all the same, because task files written on
// Windows name them.

#include <string>
#include <string_view>

#include "filesys/PathUtils.h"
#include "filesys/WinDevUtils.h"

namespace dz {

// The pattern used when neither the main application nor the task gives
// one: "Lw?" for German ("de", in any case), otherwise "Drv?".
std::string DefaultDriveId(std::string_view LanguageCode);

// The folder name, ending in the style's delimiter, for the files of one
// source drive; Drive is the drive part of the source path (DrivePart):
//  - a network share \\server\share gives server\share, whatever the pattern;
//  - a drive letter (c:) gives the pattern with every "?" replaced by the
//    capital letter, or the pattern followed by the letter when it has no "?";
//  - no drive part (a relative path, every POSIX path) gives an empty name.
std::string DriveFolderName(std::string_view Pattern, std::string_view Drive,
                            const TPathStyle& Style = NativePathStyle);

// A destination may name its volume by label instead of by place, so that a
// removable disk is found wherever it is mounted: ":" label ":" rest, where
// rest begins with the delimiter (":BACKUP:/data"); a ":" inside the label is
// written twice.

// Splits such a path into its label and the rest (without the delimiter that
// follows the label). Leading blanks are ignored. The label is empty when
// Path does not begin with ":" or the label part is too short.
std::string CutVolumeLabel(std::string_view Path, std::string& Rest, const TPathStyle& Style = NativePathStyle);

enum TVolumePathResult : int {
  vpNoLabel = 0,   // Path names no volume by label; left unchanged
  vpResolved = 1,  // Path now begins with the volume's mount point
  vpNotFound = 2,  // Path is empty, or no mounted volume carries the label
};

// Resolves a volume-label path to the mount point of the first mounted file
// system with that label (compared without regard to case) followed by the
// rest; Label receives the label.
TVolumePathResult ResolveVolumePath(std::string& Path, std::string& Label, const TVolumes& Volumes = *SystemVolumes());

// True, with the label, when Path names a volume by a non-empty label.
bool VolumeLabelOf(std::string_view Path, std::string& Label);

}  // namespace dz
