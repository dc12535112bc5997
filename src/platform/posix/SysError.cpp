#include "platform/SysError.h"
#include "platform/posix/Errno.h"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace dz {

namespace {

struct TErrnoMapping {
  int Errno;
  int Code;
};

// errno -> Windows code. Where several errno values share a code, the first
// one listed is the representative whose message the code shows.
constexpr TErrnoMapping ErrnoMappings[] = {
    {ENOENT, ErrFileNotFound},
    {ENOTDIR, ErrPathNotFound},
    {EACCES, ErrAccessDenied},
    {EPERM, ErrAccessDenied},
    {EBUSY, ErrSharingViolation},
    {ETXTBSY, ErrSharingViolation},
    {ENOSPC, ErrDiskFull},
    {EDQUOT, ErrDiskFull},
    {EEXIST, ErrAlreadyExists},
    {ENOTEMPTY, ErrAlreadyExists},
    {EILSEQ, ErrInvalidName},
    {ENAMETOOLONG, ErrFilenameExcedRange},
    {EROFS, ErrWriteProtect},
    {EXDEV, ErrNotSameDevice},
    {EMFILE, ErrTooManyOpenFiles},
    {ENFILE, ErrTooManyOpenFiles},
    {EBADF, ErrInvalidHandle},
    {ENOMEM, ErrNotEnoughMemory},
    {EINVAL, ErrInvalidParameter},
    {ENOTSUP, ErrNotSupported},
    {EOPNOTSUPP, ErrNotSupported},  // the same value as ENOTSUP on Linux
    {ETIMEDOUT, ErrSemTimeout},
    {ENOSYS, ErrInvalidFunction},
    {ELOOP, ErrCantResolveFilename},
};

struct TOwnText {
  int Code;
  const char* Text;
};

// Codes that no errno leads to but that the program produces itself (the
// directory watcher, the copy engine); they still need a readable text.
constexpr TOwnText OwnTexts[] = {
    {ErrInvalidData, "The data is invalid"},
    {ErrNotReady, "The device is not ready"},
    {ErrLockViolation, "The file is locked by another process"},
    {ErrHandleEof, "Reached the end of the file"},
    {ErrHandleDiskFull, "The disk is full"},
    {ErrBadNetPath, "The network path was not found"},
    {ErrBadNetName, "The network name cannot be found"},
    {ErrFileExists, "The file exists"},
    {ErrCallNotImplemented, "This function is not supported on this system"},
    {ErrDirNotEmpty, "The directory is not empty"},
    {ErrBadPathName, "The path is invalid"},
    {ErrDirectory, "The directory name is invalid"},
    {ErrOperationAborted, "The operation was aborted"},
    {ErrIoPending, "The operation is still in progress"},
    {ErrNotifyEnumDir, "Too many changes at once; the directory must be scanned again"},
};

// strerror_r comes in two forms; whichever the C library declares is used.
[[maybe_unused]] const char* PickMessage(int Result, const char* Buffer) {
  return Result == 0 ? Buffer : nullptr;
}
[[maybe_unused]] const char* PickMessage(const char* Result, const char*) {
  return Result;
}

bool IsKnownErrno(int Errno) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  return strerrorname_np(Errno) != nullptr;
#else
  return Errno > 0 && Errno < 4096;
#endif
}

std::string ErrnoText(int Errno) {
  char Buffer[256] = {};
  const char* Message = PickMessage(strerror_r(Errno, Buffer, sizeof Buffer), Buffer);
  return Message ? std::string(Message) : std::string();
}

std::string TrimMessage(std::string Text) {
  while (!Text.empty() &&
         (static_cast<unsigned char>(Text.back()) <= 32 || Text.back() == '.')) {
    Text.pop_back();
  }
  return Text;
}

}  // namespace

int SysErrorFromErrno(int Errno) {
  if (Errno == 0) return ErrSuccess;
  for (const TErrnoMapping& M : ErrnoMappings) {
    if (M.Errno == Errno) return M.Code;
  }
  return ErrErrnoFlag | Errno;
}

int LastSysError() {
  return SysErrorFromErrno(errno);
}

std::string PlatformErrorText(int Code) {
  try {
    if (Code == ErrSuccess) return TrimMessage(ErrnoText(0));
    if ((static_cast<unsigned>(Code) & 0xE0000000u) == static_cast<unsigned>(ErrErrnoFlag)) {
      const int Errno = Code & ~ErrErrnoFlag;
      if (Errno == 0 || !IsKnownErrno(Errno)) return std::string();
      return TrimMessage(ErrnoText(Errno));
    }
    for (const TErrnoMapping& M : ErrnoMappings) {
      if (M.Code == Code) return TrimMessage(ErrnoText(M.Errno));
    }
    for (const TOwnText& T : OwnTexts) {
      if (T.Code == Code) return T.Text;
    }
  } catch (...) {
    // Only an exhausted heap gets here; no text is the documented fallback.
  }
  return std::string();
}

}  // namespace dz
