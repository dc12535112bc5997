#include "platform/FileOps.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/SysError.h"
#include "platform/posix/Errno.h"
#include "platform/posix/CreationMask.h"
#include "platform/posix/LocalTimeLock.h"
#include "platform/posix/PosixFileOps.h"

namespace dz {

namespace {

constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;
// Seconds since 1970 whose file time still fits into 64 bits.
constexpr std::int64_t MaxFileTimeSeconds = INT64_MAX / FileTimeTicksPerSecond - SecondsFrom1601To1970 - 1;
constexpr std::int64_t MinFileTimeSeconds = -(INT64_MAX / FileTimeTicksPerSecond) - SecondsFrom1601To1970 + 1;

int Failed() {
  return SysErrorFromErrno(errno);
}

// A time stamp that a damaged or foreign file system reports beyond the
// range of a file time is clamped rather than overflowing.
TFileTime FileTimeOf(std::int64_t Seconds, std::int64_t Nanoseconds) {
  if (Seconds > MaxFileTimeSeconds) return INT64_MAX;
  if (Seconds < MinFileTimeSeconds) return INT64_MIN + FileTimeTicksPerSecond;
  return (Seconds + SecondsFrom1601To1970) * FileTimeTicksPerSecond + Nanoseconds / 100;
}

struct timespec TimespecOf(TFileTime Time) {
  std::int64_t Ticks = Time % FileTimeTicksPerSecond;
  std::int64_t Seconds = Time / FileTimeTicksPerSecond;
  if (Ticks < 0) {
    Ticks += FileTimeTicksPerSecond;
    --Seconds;
  }
  struct timespec Result{};
  Result.tv_sec = static_cast<time_t>(Seconds - SecondsFrom1601To1970);
  Result.tv_nsec = static_cast<long>(Ticks * 100);
  return Result;
}

TFileKind KindOf(unsigned Mode) {
  if (S_ISREG(Mode)) return TFileKind::fkRegular;
  if (S_ISDIR(Mode)) return TFileKind::fkDirectory;
  if (S_ISLNK(Mode)) return TFileKind::fkSymLink;
  return TFileKind::fkOther;
}

constexpr std::uint32_t OwnerWrite = 0200;

// Kind and Posix filled in: what follows from them.
void FillReadOnly(TFileStatus& S) {
  S.ReadOnly = S.Kind != TFileKind::fkSymLink && (S.Posix->Mode & OwnerWrite) == 0;
}

void FillFrom(const struct stat& St, TFileStatus& S) {
  S = TFileStatus();
  S.Kind = KindOf(St.st_mode);
  S.Posix = TPosixExtras{St.st_mode & 07777u, St.st_uid, St.st_gid};
  FillReadOnly(S);
  S.Size = St.st_size;
  S.LastAccessTime = FileTimeOf(St.st_atim.tv_sec, St.st_atim.tv_nsec);
  S.LastWriteTime = FileTimeOf(St.st_mtim.tv_sec, St.st_mtim.tv_nsec);
  S.ChangeTime = FileTimeOf(St.st_ctim.tv_sec, St.st_ctim.tv_nsec);
  S.Identity = {St.st_dev, St.st_ino};
}

void FillFrom(const struct statx& X, TFileStatus& S) {
  S = TFileStatus();
  S.Kind = KindOf(X.stx_mode);
  S.Posix = TPosixExtras{X.stx_mode & 07777u, X.stx_uid, X.stx_gid};
  FillReadOnly(S);
  S.Size = static_cast<std::int64_t>(X.stx_size);
  if (X.stx_mask & STATX_BTIME) S.CreationTime = FileTimeOf(X.stx_btime.tv_sec, X.stx_btime.tv_nsec);
  S.LastAccessTime = FileTimeOf(X.stx_atime.tv_sec, X.stx_atime.tv_nsec);
  S.LastWriteTime = FileTimeOf(X.stx_mtime.tv_sec, X.stx_mtime.tv_nsec);
  S.ChangeTime = FileTimeOf(X.stx_ctime.tv_sec, X.stx_ctime.tv_nsec);
  S.Identity = {makedev(X.stx_dev_major, X.stx_dev_minor), X.stx_ino};
}

// statx gives the birth time; kernels before 4.11 and container filters
// that do not know the call (ENOSYS, or EPERM from older filters) get the
// classic call, without a birth time.
int StatInto(int DirFd, const char* Path, int Flags, TFileStatus& S) {
  struct statx X;
  if (::statx(DirFd, Path, Flags | AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME, &X) == 0) {
    FillFrom(X, S);
    return ErrSuccess;
  }
  if (errno != ENOSYS && errno != EPERM) return Failed();
  struct stat St;
  if (::fstatat(DirFd, Path, &St, Flags | AT_NO_AUTOMOUNT) != 0) return Failed();
  FillFrom(St, S);
  return ErrSuccess;
}

int OpenRetrying(const char* Path, int Flags, mode_t Mode, int DirFd = AT_FDCWD) {
  int Fd;
  do {
    Fd = ::openat(DirFd, Path, Flags, Mode);
  } while (Fd < 0 && errno == EINTR);
  return Fd;
}

// Runs a call that fills a buffer of a size it cannot know in advance
// (listxattr, getxattr): Size(nullptr, 0) tells the size, and a value that
// grew in between (ERANGE) is asked for again.
template <class TCall>
int ReadSized(TCall Call, std::string& Out) {
  Out.clear();
  for (int Attempt = 0; Attempt < 8; ++Attempt) {
    const ssize_t Needed = Call(nullptr, 0);
    if (Needed < 0) return Failed();
    if (Needed == 0) return ErrSuccess;
    Out.resize(static_cast<std::size_t>(Needed));
    const ssize_t Got = Call(Out.data(), Out.size());
    if (Got >= 0) {
      Out.resize(static_cast<std::size_t>(Got));
      return ErrSuccess;
    }
    if (errno != ERANGE) {
      const int E = Failed();
      Out.clear();
      return E;
    }
  }
  Out.clear();
  return SysErrorFromErrno(ERANGE);
}

}  // namespace

int PathStatus(const std::string& Path, bool FollowLink, TFileStatus& Status) {
  return StatInto(AT_FDCWD, Path.c_str(), FollowLink ? 0 : AT_SYMLINK_NOFOLLOW, Status);
}

int PathStatus(const TFileHandle& Dir, const std::string& Name, bool FollowLink, TFileStatus& Status) {
  if (!Dir.Valid()) return ErrInvalidHandle;
  return StatInto(Dir.FFd, Name.c_str(), FollowLink ? 0 : AT_SYMLINK_NOFOLLOW, Status);
}

TFileHandle::TFileHandle(TFileHandle&& Other) noexcept
    : FFd(std::exchange(Other.FFd, -1)), FHaveOpened(std::exchange(Other.FHaveOpened, false)), FOpened(Other.FOpened) {}

TFileHandle& TFileHandle::operator=(TFileHandle&& Other) noexcept {
  if (this != &Other) {
    Close();
    FFd = std::exchange(Other.FFd, -1);
    FHaveOpened = std::exchange(Other.FHaveOpened, false);
    FOpened = Other.FOpened;
  }
  return *this;
}

TFileHandle::~TFileHandle() {
  Close();
}

int TFileHandle::Read(void* Buffer, std::size_t Count, std::size_t& Done) {
  Done = 0;
  if (FFd < 0) return ErrInvalidHandle;
  char* Out = static_cast<char*>(Buffer);
  while (Done < Count) {
    const std::size_t Chunk = std::min<std::size_t>(Count - Done, std::size_t{1} << 30);
    const ssize_t Got = ::read(FFd, Out + Done, Chunk);
    if (Got < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    if (Got == 0) break;
    Done += static_cast<std::size_t>(Got);
  }
  return ErrSuccess;
}

int TFileHandle::Write(const void* Buffer, std::size_t Count, std::size_t& Done) {
  Done = 0;
  if (FFd < 0) return ErrInvalidHandle;
  const char* In = static_cast<const char*>(Buffer);
  while (Done < Count) {
    const std::size_t Chunk = std::min<std::size_t>(Count - Done, std::size_t{1} << 30);
    const ssize_t Put = ::write(FFd, In + Done, Chunk);
    if (Put < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    if (Put == 0) break;  // the caller sees the short count
    Done += static_cast<std::size_t>(Put);
  }
  return ErrSuccess;
}

int TFileHandle::Seek(std::int64_t Offset, TSeekOrigin Origin, std::int64_t& Position) {
  Position = -1;
  if (FFd < 0) return ErrInvalidHandle;
  const int Whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET : Origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  const off_t Result = ::lseek(FFd, static_cast<off_t>(Offset), Whence);
  if (Result < 0) return Failed();
  Position = Result;
  return ErrSuccess;
}

int TFileHandle::Status(TFileStatus& Into) const {
  if (FFd < 0) return ErrInvalidHandle;
  return StatInto(FFd, "", AT_EMPTY_PATH, Into);
}

int TFileHandle::OpenedStatus(TFileStatus& Into) const {
  if (FFd < 0 || !FHaveOpened) return Status(Into);
  Into = FOpened;
  return ErrSuccess;
}

int TFileHandle::Truncate(std::int64_t Size) {
  if (FFd < 0) return ErrInvalidHandle;
  while (::ftruncate(FFd, static_cast<off_t>(Size)) != 0) {
    if (errno != EINTR) return Failed();
  }
  return ErrSuccess;
}

int TFileHandle::ChangeMode(std::uint32_t Mode) {
  if (FFd < 0) return ErrInvalidHandle;
  const mode_t Bits = static_cast<mode_t>(Mode & 07777);
  if (::fchmod(FFd, Bits) == 0) return ErrSuccess;
  if (errno != EBADF) return Failed();
  // A handle opened for its status only (O_PATH) takes no fchmod; its entry
  // in /proc leads to the very file it holds, whatever has its name now.
  struct stat St;
  if (::fstat(FFd, &St) != 0) return Failed();
  if (S_ISLNK(St.st_mode)) return SysErrorFromErrno(EOPNOTSUPP);
  const std::string Entry = "/proc/self/fd/" + std::to_string(FFd);
  return ::chmod(Entry.c_str(), Bits) == 0 ? ErrSuccess : Failed();
}

int TFileHandle::ClearReadOnly(const TFileStatus& Current) {
  return ChangeMode(PosixMode(Current) | OwnerWrite);
}

int TFileHandle::SetTimes(TFileTime LastAccessTime, TFileTime LastWriteTime) {
  if (FFd < 0) return ErrInvalidHandle;
  struct timespec Times[2];
  Times[0] = LastAccessTime != 0 ? TimespecOf(LastAccessTime) : timespec{0, UTIME_OMIT};
  Times[1] = LastWriteTime != 0 ? TimespecOf(LastWriteTime) : timespec{0, UTIME_OMIT};
  return ::futimens(FFd, Times) == 0 ? ErrSuccess : Failed();
}

int TFileHandle::LockExclusive() {
  if (FFd < 0) return ErrInvalidHandle;
  struct flock Lock{};
  Lock.l_type = F_WRLCK;
  Lock.l_whence = SEEK_SET;
  Lock.l_start = 0;
  Lock.l_len = 0;  // the whole file, however long it grows
  if (::fcntl(FFd, F_OFD_SETLK, &Lock) == 0) return ErrSuccess;
  if (errno == EAGAIN || errno == EACCES) return ErrSharingViolation;
  return Failed();
}

int TFileHandle::Sync() {
  if (FFd < 0) return ErrInvalidHandle;
  while (::fsync(FFd) != 0) {
    if (errno != EINTR) return Failed();
  }
  return ErrSuccess;
}

int TFileHandle::StartWriteback(std::int64_t Offset, std::int64_t Length) {
  if (FFd < 0) return ErrInvalidHandle;
  if (::sync_file_range(FFd, static_cast<off_t>(Offset), static_cast<off_t>(Length), SYNC_FILE_RANGE_WRITE) == 0 ||
      errno == ESPIPE || errno == EINVAL || errno == ENOSYS)
    return ErrSuccess;
  return Failed();
}

int TFileHandle::SyncFileSystem() {
  if (FFd < 0) return ErrInvalidHandle;
  if (::syncfs(FFd) != 0) return Failed();
  // A file system without a flush of its own (FAT) only writes its blocks
  // and waits; an fsync of a directory there also empties the disk's cache.
  // Where the whole-system flush has done that already it finds nothing to
  // write.
  while (::fsync(FFd) != 0) {
    if (errno == EINTR) continue;
    if (errno != EINVAL) return Failed();
    break;
  }
  return ErrSuccess;
}

bool TFileHandle::FileSystemSyncCoversFiles() const {
  struct statfs Fs;
  if (FFd < 0 || ::fstatfs(FFd, &Fs) != 0) return false;
  // The f_type values of linux/magic.h (some kernels' headers lack the
  // newer ones).
  static constexpr unsigned long DiskFileSystems[] = {
      0xEF53,      // ext2, ext3, ext4
      0x58465342,  // xfs
      0x9123683E,  // btrfs
      0xF2F52010,  // f2fs
      0xCA451A4E,  // bcachefs
      0x4D44,      // msdos, vfat
      0x2011BAB0,  // exfat
      0x7366746E,  // ntfs3
      0x01021994,  // tmpfs: nothing lasts, nothing to flush
      0x858458F6,  // ramfs
  };
  const auto Type = static_cast<unsigned long>(Fs.f_type) & 0xFFFFFFFFul;
  return std::find(std::begin(DiskFileSystems), std::end(DiskFileSystems), Type) != std::end(DiskFileSystems);
}

int TFileHandle::Close() {
  FHaveOpened = false;
  if (FFd < 0) return ErrSuccess;
  const int Fd = std::exchange(FFd, -1);
  // Never retried on EINTR: Linux has released the descriptor already, and a
  // second close could hit one that another thread has just opened.
  return ::close(Fd) == 0 ? ErrSuccess : Failed();
}

int OpenFileHandle(const std::string& Path, unsigned Flags, std::uint32_t Rights, TFileHandle& Handle) {
  return OpenFileHandle(nullptr, Path, Flags, Rights, Handle);
}

int OpenFileHandle(const TFileHandle* Dir, const std::string& Path, unsigned Flags, std::uint32_t Rights,
                   TFileHandle& Handle) {
  if (Dir != nullptr && !Dir->Valid()) return ErrInvalidHandle;
  const int DirFd = Dir != nullptr ? Dir->FFd : AT_FDCWD;
  Handle.Close();
  if (Flags & (ofDirectory | ofStatusOnly)) {
    const int Kind = (Flags & ofDirectory) ? O_RDONLY | O_DIRECTORY : O_PATH;
    TFileHandle Opened;
    Opened.FFd = OpenRetrying(Path.c_str(), Kind | O_CLOEXEC | ((Flags & ofNoFollow) ? O_NOFOLLOW : 0), 0, DirFd);
    if (!Opened.Valid()) return Failed();
    Handle = std::move(Opened);
    return ErrSuccess;
  }
  // An exclusive create makes a new regular file or fails: there is no FIFO
  // to wait for and no directory to refuse.
  const bool New = (Flags & ofCreate) && (Flags & ofCreateNew);
  int OFlags = O_CLOEXEC | O_NOCTTY | (New ? 0 : O_NONBLOCK);
  if (Flags & ofNoFollow) OFlags |= O_NOFOLLOW;
  if ((Flags & ofRead) && (Flags & ofWrite))
    OFlags |= O_RDWR;
  else if (Flags & ofWrite)
    OFlags |= O_WRONLY;
  else
    OFlags |= O_RDONLY;
  if (Flags & ofCreate) OFlags |= O_CREAT;
  if (New) OFlags |= O_EXCL;
  if ((Flags & ofTruncate) && (Flags & ofWrite)) OFlags |= O_TRUNC;
  if ((Flags & ofAppend) && (Flags & ofWrite)) OFlags |= O_APPEND;
  const mode_t Mode = Rights != 0 ? static_cast<mode_t>(Rights & 07777) : 0666;

  TFileHandle Opened;
  Opened.FFd = OpenRetrying(Path.c_str(), OFlags, Mode, DirFd);
  if (!Opened.Valid()) return Failed();
  if (New) {
    Handle = std::move(Opened);
    return ErrSuccess;
  }
  if (const int E = StatInto(Opened.FFd, "", AT_EMPTY_PATH, Opened.FOpened)) return E;
  if (Opened.FOpened.Kind == TFileKind::fkDirectory) return SysErrorFromErrno(EISDIR);
  // O_NONBLOCK only kept the open itself from waiting for a FIFO's writer;
  // reads and writes of anything but a regular file (where it has no effect)
  // are to wait as usual.
  if (Opened.FOpened.Kind != TFileKind::fkRegular && ::fcntl(Opened.FFd, F_SETFL, OFlags & ~O_NONBLOCK) != 0)
    return Failed();
  Opened.FHaveOpened = true;
  Handle = std::move(Opened);
  return ErrSuccess;
}

int UnlinkPath(const std::string& Path) {
  return ::unlink(Path.c_str()) == 0 ? ErrSuccess : Failed();
}

int RemoveEmptyDirectory(const std::string& Path) {
  return ::rmdir(Path.c_str()) == 0 ? ErrSuccess : Failed();
}

int MakeDirectory(const std::string& Path) {
  return ::mkdir(Path.c_str(), 0777) == 0 ? ErrSuccess : Failed();
}

int RenameNoReplace(const std::string& OldName, const std::string& NewName) {
  if (::renameat2(AT_FDCWD, OldName.c_str(), AT_FDCWD, NewName.c_str(), RENAME_NOREPLACE) == 0) return ErrSuccess;
  // EINVAL: the file system does not know the flag (NFS, some FUSE file
  // systems); ENOSYS: the kernel or a container filter does not know the call.
  if (errno != EINVAL && errno != ENOSYS) return Failed();
  return RenameNoReplaceByReservation(OldName, NewName);
}

int RenameReplacing(const std::string& OldName, const std::string& NewName) {
  return ::rename(OldName.c_str(), NewName.c_str()) == 0 ? ErrSuccess : Failed();
}

int RenameReplacing(const TFileHandle& Dir, const std::string& OldName, const std::string& NewName) {
  if (!Dir.Valid()) return ErrInvalidHandle;
  return ::renameat(Dir.FFd, OldName.c_str(), Dir.FFd, NewName.c_str()) == 0 ? ErrSuccess : Failed();
}

int MakeHardLink(const std::string& Existing, const std::string& NewName) {
  if (::link(Existing.c_str(), NewName.c_str()) == 0) return ErrSuccess;
  if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV || errno == EMLINK || errno == ENOSYS)
    return ErrNotSupported;
  return Failed();
}

int SyncDirectory(const std::string& Path) {
  const int Fd = OpenRetrying(Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (Fd < 0) return Failed();
  int Result = ErrSuccess;
  while (::fsync(Fd) != 0) {
    if (errno == EINTR) continue;
    // EINVAL: a file system that has nothing to flush for a directory.
    if (errno != EINVAL) Result = Failed();
    break;
  }
  ::close(Fd);
  return Result;
}

int RenameNoReplaceByReservation(const std::string& OldName, const std::string& NewName) {
  const char* Old = OldName.c_str();
  const char* New = NewName.c_str();
  struct stat St;
  if (::lstat(Old, &St) != 0) return Failed();

  if (S_ISDIR(St.st_mode)) {
    if (::mkdir(New, 0700) != 0) return Failed();
    if (::rename(Old, New) != 0) {
      const int E = errno;
      ::rmdir(New);  // fails, and so keeps it, if someone filled it meanwhile
      return SysErrorFromErrno(E);
    }
    return ErrSuccess;
  }

  if (::link(Old, New) == 0) {
    if (::unlink(Old) != 0) {
      const int E = errno;
      ::unlink(New);
      return SysErrorFromErrno(E);
    }
    return ErrSuccess;
  }
  // EPERM: no hard links on this file system (FAT) or refused by
  // protected_hardlinks; EMLINK: the file has too many already.
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS) return Failed();
  const int Fd = OpenRetrying(New, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (Fd < 0) return Failed();
  ::close(Fd);
  if (::rename(Old, New) != 0) {
    const int E = errno;
    ::unlink(New);
    return SysErrorFromErrno(E);
  }
  return ErrSuccess;
}

int ChangeMode(const std::string& Path, std::uint32_t Mode, bool FollowLink) {
  if (!FollowLink) {
    // fchmodat(AT_SYMLINK_NOFOLLOW) would need /proc; a link is told apart
    // here instead.
    struct stat St;
    if (::lstat(Path.c_str(), &St) != 0) return Failed();
    if (S_ISLNK(St.st_mode)) return SysErrorFromErrno(EOPNOTSUPP);
  }
  return ::chmod(Path.c_str(), static_cast<mode_t>(Mode & 07777)) == 0 ? ErrSuccess : Failed();
}

std::uint32_t DefaultNewFileMode() {
  return 0666u & ~FileCreationMask();
}

int ChangeOwner(const std::string& Path, std::uint32_t Uid, std::uint32_t Gid, bool FollowLink) {
  const int Result = FollowLink ? ::chown(Path.c_str(), static_cast<uid_t>(Uid), static_cast<gid_t>(Gid))
                                : ::lchown(Path.c_str(), static_cast<uid_t>(Uid), static_cast<gid_t>(Gid));
  return Result == 0 ? ErrSuccess : Failed();
}

int SetPathTimes(const std::string& Path, TFileTime LastAccessTime, TFileTime LastWriteTime, bool FollowLink) {
  const int Flags = FollowLink ? 0 : AT_SYMLINK_NOFOLLOW;
  if (LastAccessTime == 0 && LastWriteTime == 0) {
    // Nothing to set; a missing file is still reported as the setter would.
    struct stat St;
    return ::fstatat(AT_FDCWD, Path.c_str(), &St, Flags) == 0 ? ErrSuccess : Failed();
  }
  struct timespec Times[2];
  Times[0] = LastAccessTime != 0 ? TimespecOf(LastAccessTime) : timespec{0, UTIME_OMIT};
  Times[1] = LastWriteTime != 0 ? TimespecOf(LastWriteTime) : timespec{0, UTIME_OMIT};
  return ::utimensat(AT_FDCWD, Path.c_str(), Times, Flags) == 0 ? ErrSuccess : Failed();
}

int ReadSymLink(const std::string& Path, std::string& Target) {
  Target.clear();
  std::string Buffer(256, '\0');
  for (;;) {
    const ssize_t Length = ::readlink(Path.c_str(), Buffer.data(), Buffer.size());
    if (Length < 0) return Failed();
    if (static_cast<std::size_t>(Length) < Buffer.size()) {
      Buffer.resize(static_cast<std::size_t>(Length));
      Target = std::move(Buffer);
      return ErrSuccess;
    }
    if (Buffer.size() >= (std::size_t{1} << 20)) return SysErrorFromErrno(ENAMETOOLONG);
    Buffer.resize(Buffer.size() * 2);
  }
}

int ResolveExistingPath(const std::string& Path, std::string& Resolved) {
  Resolved.clear();
  const std::unique_ptr<char, decltype(&std::free)> Result(::realpath(Path.c_str(), nullptr), &std::free);
  if (!Result) return Failed();
  Resolved = Result.get();
  return ErrSuccess;
}

int ListUserXattrs(const std::string& Path, std::vector<std::string>& Names) {
  Names.clear();
  std::string List;
  const int E = ReadSized(
      [&](char* Buffer, std::size_t Size) { return ::listxattr(Path.c_str(), Buffer, Size); }, List);
  if (E != ErrSuccess) return E;
  // The list is a run of names, each ended by a NUL.
  std::size_t Start = 0;
  while (Start < List.size()) {
    std::size_t End = List.find('\0', Start);
    if (End == std::string::npos) End = List.size();
    std::string Name = List.substr(Start, End - Start);
    if (Name.starts_with("user.")) Names.push_back(std::move(Name));
    Start = End + 1;
  }
  return ErrSuccess;
}

int GetXattr(const std::string& Path, const std::string& Name, std::string& Value) {
  return ReadSized(
      [&](char* Buffer, std::size_t Size) { return ::getxattr(Path.c_str(), Name.c_str(), Buffer, Size); }, Value);
}

int SetXattr(const std::string& Path, const std::string& Name, const std::string& Value) {
  return ::setxattr(Path.c_str(), Name.c_str(), Value.data(), Value.size(), 0) == 0 ? ErrSuccess : Failed();
}

int CopyOwnerAndAccess(const std::string& SrcName, const std::string& DestName) {
  TFileStatus S;
  if (const int E = PathStatus(SrcName, true, S)) return E;
  // Owner first, because changing it clears the set-user-ID bits that the
  // mode then sets again.
  if (ChangeOwner(DestName, S.Posix->Uid, S.Posix->Gid, true) != ErrSuccess)
    ChangeOwner(DestName, KeepOwner, S.Posix->Gid, true);
  return ChangeMode(DestName, S.Posix->Mode, true);
}

int CopyNamedStreams(const std::string& SrcName, const std::string& DestName) {
  std::vector<std::string> Names;
  const int E = ListUserXattrs(SrcName, Names);
  if (E == ErrNotSupported) return ErrSuccess;
  if (E != ErrSuccess) return E;
  std::string Value;
  for (const std::string& Name : Names) {
    if (const int GetError = GetXattr(SrcName, Name, Value)) return GetError;
    if (const int SetError = SetXattr(DestName, Name, Value)) return SetError;
  }
  return ErrSuccess;
}

bool UtcOffsetAt(std::int64_t UnixSeconds, std::int64_t& OffsetSeconds) {
  OffsetSeconds = 0;
  // localtime_r reads TZ only once per process unless tzset asks again; a
  // changed zone is to count from the next call on.
  const time_t Time = static_cast<time_t>(UnixSeconds);
  struct tm Local{};
  {
    const std::lock_guard<std::mutex> Guard(LocalTimeLock());
    ::tzset();
    if (::localtime_r(&Time, &Local) == nullptr) return false;
  }
  OffsetSeconds = Local.tm_gmtoff;
  return true;
}

}  // namespace dz
