#pragma once
// The permission bits that the system takes away from every file the
// process creates (the umask on POSIX systems).

#include <cstdint>

namespace dz {

// Read without changing it: setting it and setting it back would give the
// files that other threads create in between the wrong permissions. Where
// the system does not tell it, 077, so that a mode computed from it errs on
// the private side.
std::uint32_t FileCreationMask();

}  // namespace dz
