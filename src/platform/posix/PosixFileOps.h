#pragma once
// The file calls only a POSIX system has, behind the portable ones of
// platform/FileOps.h (CopyOwnerAndAccess, CopyNamedStreams): owners and
// extended attributes. For the POSIX backend and its tests.

#include <cstdint>
#include <string>
#include <vector>

namespace dz {

// Gives Path the owner Uid and group Gid; (uint32_t)-1 leaves either as it
// is. Only root may give a file away.
inline constexpr std::uint32_t KeepOwner = static_cast<std::uint32_t>(-1);
int ChangeOwner(const std::string& Path, std::uint32_t Uid, std::uint32_t Gid, bool FollowLink);

// Extended attributes of the user.* name space, the one that ordinary users
// own and that plays the part of named data streams. Links are followed.
// A file system without extended attributes gives 50.
int ListUserXattrs(const std::string& Path, std::vector<std::string>& Names);
int GetXattr(const std::string& Path, const std::string& Name, std::string& Value);
int SetXattr(const std::string& Path, const std::string& Name, const std::string& Value);

}  // namespace dz
