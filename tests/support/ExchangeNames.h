#pragma once
// Swaps two names in one step, as renameat2 with RENAME_EXCHANGE does (and
// "mv --exchange" where coreutils has it): each name then holds what the
// other held. The program never does this itself, but other programs do
// (editors saving atomically, package managers), and a watcher must keep up.
//
// Test support, not product code: like the POSIX backend it exercises, it
// calls the system directly.

#include <fcntl.h>  // AT_FDCWD
#include <stdio.h>  // renameat2, RENAME_EXCHANGE

#include <cerrno>
#include <string>

namespace dz::test {

// 0, or the errno of the failure (EINVAL where the file system cannot
// exchange names, ENOSYS on a kernel without the call).
inline int ExchangeNames(const std::string& A, const std::string& B) {
  return ::renameat2(AT_FDCWD, A.c_str(), AT_FDCWD, B.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
}

}  // namespace dz::test
