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

}  // namespace dz
