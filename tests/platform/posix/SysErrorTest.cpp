#include "platform/SysError.h"
#include "platform/posix/Errno.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace dz {
namespace {

TEST(SysError, MapsErrnoOntoWindowsCodes) {
  struct TCase {
    const char* Name;
    int Errno;
    int Code;
  };
  const TCase Cases[] = {
      {"none", 0, 0},
      {"ENOENT", ENOENT, 2},
      {"ENOTDIR", ENOTDIR, 3},
      {"EACCES", EACCES, 5},
      {"EPERM", EPERM, 5},
      {"EBUSY", EBUSY, 32},
      {"ETXTBSY", ETXTBSY, 32},
      {"ENOSPC", ENOSPC, 112},
      {"EDQUOT", EDQUOT, 112},
      {"EEXIST", EEXIST, 183},
      {"ENOTEMPTY", ENOTEMPTY, 183},
      {"EILSEQ", EILSEQ, 123},
      {"ENAMETOOLONG", ENAMETOOLONG, 206},
      {"EROFS", EROFS, 19},
      {"EXDEV", EXDEV, 17},
      {"EMFILE", EMFILE, 4},
      {"EBADF", EBADF, 6},
      {"ENOMEM", ENOMEM, 8},
      {"EINVAL", EINVAL, 87},
      {"ENOTSUP", ENOTSUP, 50},
      {"EOPNOTSUPP", EOPNOTSUPP, 50},
      {"ETIMEDOUT", ETIMEDOUT, 121},
      {"ELOOP", ELOOP, 1921},
      // Without a counterpart: kept apart, with the errno inside.
      {"EIO", EIO, ErrErrnoFlag | EIO},
      {"EISDIR", EISDIR, ErrErrnoFlag | EISDIR},
      {"EFBIG", EFBIG, ErrErrnoFlag | EFBIG},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(SysErrorFromErrno(C.Errno), C.Code);
  }
}

TEST(SysError, LastSysErrorReadsErrno) {
  errno = EACCES;
  EXPECT_EQ(LastSysError(), ErrAccessDenied);
  errno = EIO;
  EXPECT_EQ(LastSysError(), ErrErrnoFlag | EIO);
}

std::string Trimmed(const char* Message) {
  std::string Text = Message;
  while (!Text.empty() && (static_cast<unsigned char>(Text.back()) <= 32 || Text.back() == '.')) {
    Text.pop_back();
  }
  return Text;
}

// A code shows the C library's message of the errno it stands for.
TEST(SysError, TextIsTheMessageOfTheErrnoBehindTheCode) {
  struct TCase {
    int Code;
    int Errno;
  };
  const TCase Cases[] = {
      {ErrSuccess, 0},
      {ErrFileNotFound, ENOENT},
      {ErrPathNotFound, ENOTDIR},
      {ErrAccessDenied, EACCES},
      {ErrSharingViolation, EBUSY},
      {ErrDiskFull, ENOSPC},
      {ErrInvalidName, EILSEQ},
      {ErrAlreadyExists, EEXIST},
      {ErrErrnoFlag | EIO, EIO},
      {ErrErrnoFlag | EISDIR, EISDIR},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Code);
    const std::string Text = PlatformErrorText(C.Code);
    EXPECT_FALSE(Text.empty());
    EXPECT_EQ(Text, Trimmed(std::strerror(C.Errno)));
  }
  EXPECT_NE(PlatformErrorText(ErrFileNotFound), PlatformErrorText(ErrAccessDenied));
}

TEST(SysError, CodesWithoutErrnoHaveTextsOfTheirOwn) {
  for (const int Code : {ErrNotifyEnumDir, ErrOperationAborted, ErrDirectory, ErrNotReady}) {
    SCOPED_TRACE(Code);
    const std::string Text = PlatformErrorText(Code);
    EXPECT_FALSE(Text.empty());
    EXPECT_NE(Text.back(), '.');
  }
  EXPECT_NE(PlatformErrorText(ErrNotifyEnumDir), PlatformErrorText(ErrOperationAborted));
}

TEST(SysError, UnknownCodesHaveNoText) {
  for (const int Code : {9999, -1, 0x40000002, ErrErrnoFlag, ErrErrnoFlag | 99999,
                         static_cast<int>(0x80070005)}) {
    SCOPED_TRACE(Code);
    EXPECT_EQ(PlatformErrorText(Code), "");
  }
}

// Worker threads log failures while the main thread shows them.
TEST(SysError, TextsAreThreadSafe) {
  const std::string Expected[] = {PlatformErrorText(ErrFileNotFound), PlatformErrorText(ErrDiskFull)};
  std::vector<std::thread> Threads;
  std::vector<int> Mismatches(4, 0);
  for (int T = 0; T < 4; ++T) {
    Threads.emplace_back([&, T] {
      for (int I = 0; I < 500; ++I) {
        if (PlatformErrorText(T % 2 ? ErrDiskFull : ErrFileNotFound) != Expected[T % 2]) ++Mismatches[T];
      }
    });
  }
  for (std::thread& T : Threads) T.join();
  EXPECT_EQ(Mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace dz
