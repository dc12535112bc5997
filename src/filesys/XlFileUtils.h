#pragma once
// Long path names: the form in which a path is handed to the platform so that
// names beyond the classic length limit work.

#include <cstddef>
#include <string>
#include <string_view>

#include "filesys/PathUtils.h"

namespace dz {

// Paths of this many UTF-16 code units or more exceed what the classic
// Windows file functions accept once a file name is added below them.
inline constexpr std::size_t LongPathThreshold = 248;

// The form of Path handed to the platform. Windows style: a path already in
// long form (\\?\...) is unchanged; a network path \\server\share\... becomes
// \\?\UNC\server\share\... at any length; a local path with a drive letter
// gets \\?\ in front when it is LongPathThreshold units or longer; anything
// else (relative paths, a single character, empty) is unchanged. POSIX style:
// unchanged, as there is no such limit to work around.
//
// Callers keep and log the ordinary path; only the platform sees this form.
std::string AddLongPathPrefix(std::string_view Path, const TPathStyle& Style = NativePathStyle);

}  // namespace dz
