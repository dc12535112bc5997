#pragma once
// errno in the program's system error codes (platform/SysError.h), for the
// POSIX backend and its tests.

namespace dz {

// Windows code for an errno value (0 gives 0); ErrErrnoFlag | Errno for one
// without a counterpart.
int SysErrorFromErrno(int Errno);

}  // namespace dz
