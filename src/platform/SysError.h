#pragma once
// System error codes. The program keeps the Windows numbers everywhere above
// this layer (its texts, its logs and its callers compare against them); the
// POSIX layer maps errno onto them (posix/Errno.h). An errno without a
// Windows counterpart becomes ErrErrnoFlag | errno, so it stays
// distinguishable and keeps its own text.

#include <string>

namespace dz {

inline constexpr int ErrSuccess = 0;
inline constexpr int ErrInvalidFunction = 1;
inline constexpr int ErrFileNotFound = 2;
inline constexpr int ErrPathNotFound = 3;
inline constexpr int ErrTooManyOpenFiles = 4;
inline constexpr int ErrAccessDenied = 5;
inline constexpr int ErrInvalidHandle = 6;
inline constexpr int ErrNotEnoughMemory = 8;
inline constexpr int ErrInvalidData = 13;
inline constexpr int ErrNotSameDevice = 17;
inline constexpr int ErrWriteProtect = 19;
inline constexpr int ErrNotReady = 21;
inline constexpr int ErrSharingViolation = 32;
inline constexpr int ErrLockViolation = 33;
inline constexpr int ErrHandleEof = 38;
inline constexpr int ErrHandleDiskFull = 39;
inline constexpr int ErrNotSupported = 50;
inline constexpr int ErrBadNetPath = 53;
inline constexpr int ErrBadNetName = 67;
inline constexpr int ErrFileExists = 80;
inline constexpr int ErrInvalidParameter = 87;
inline constexpr int ErrDiskFull = 112;
inline constexpr int ErrCallNotImplemented = 120;
inline constexpr int ErrSemTimeout = 121;
inline constexpr int ErrInvalidName = 123;
inline constexpr int ErrDirNotEmpty = 145;
inline constexpr int ErrBadPathName = 161;
inline constexpr int ErrAlreadyExists = 183;
inline constexpr int ErrFilenameExcedRange = 206;
inline constexpr int ErrDirectory = 267;
inline constexpr int ErrOperationAborted = 995;
inline constexpr int ErrIoPending = 997;
inline constexpr int ErrNotifyEnumDir = 1022;
inline constexpr int ErrCantResolveFilename = 1921;

inline constexpr int ErrErrnoFlag = 0x20000000;

// The code of the calling thread's last failed system or C library call
// (errno on POSIX systems).
int LastSysError();

// The system's message for Code (on POSIX systems the C library's message
// for the errno behind it), with trailing blanks, control characters and
// dots removed; Code 0 gives the success message.
// Empty when there is no message for Code.
std::string PlatformErrorText(int Code);

}  // namespace dz
