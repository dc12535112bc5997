#include "platform/FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <new>
#include <random>
#include <string_view>
#include <vector>

#include "platform/SysError.h"
#include "platform/posix/Errno.h"

namespace dz {

namespace {

class TFd {
public:
  explicit TFd(int Fd = -1) : FFd(Fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Close(); }

  void Reset(int Fd) {
    Close();
    FFd = Fd;
  }
  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // close() reports late write errors (NFS, quotas), so its result counts.
  int Close() {
    if (FFd < 0) return 0;
    const int Result = ::close(FFd);
    FFd = -1;
    return Result == 0 ? 0 : errno;
  }

private:
  int FFd;
};

int OpenRetrying(const char* Path, int Flags, mode_t Mode = 0) {
  int Fd;
  do {
    Fd = ::open(Path, Flags, Mode);
  } while (Fd < 0 && errno == EINTR);
  return Fd;
}

std::string DirectoryOf(const std::string& Path) {
  const std::size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  if (Slash == 0) return "/";
  return Path.substr(0, Slash);
}

std::string NameOf(const std::string& Path) {
  const std::size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

// ENOENT means "file not found" only when the directory is there; a missing
// directory is "path not found", as the callers know it from Windows.
int MissingCode(const std::string& Path) {
  struct stat St;
  const std::string Dir = DirectoryOf(Path);
  if (::stat(Dir.c_str(), &St) == 0 && S_ISDIR(St.st_mode)) return ErrFileNotFound;
  return ErrPathNotFound;
}

int WriteAll(int Fd, std::string_view Data) {
  const char* P = Data.data();
  std::size_t Left = Data.size();
  while (Left > 0) {
    const ssize_t Written = ::write(Fd, P, Left < (1u << 30) ? Left : (1u << 30));
    if (Written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (Written == 0) return ENOSPC;  // a regular file never does this unless full
    P += Written;
    Left -= static_cast<std::size_t>(Written);
  }
  return 0;
}

int FsyncRetrying(int Fd) {
  while (::fsync(Fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Follows Path through symbolic links to the file that is to be replaced,
// so that replacing it keeps the link. A dangling link yields its target.
int ResolveTarget(const std::string& Path, std::string& Target) {
  Target = Path;
  for (int Hops = 0; Hops < 40; ++Hops) {
    struct stat St;
    if (::lstat(Target.c_str(), &St) != 0) {
      if (errno == ENOENT) return 0;
      return errno;
    }
    if (!S_ISLNK(St.st_mode)) return 0;
    std::string Link(PATH_MAX, '\0');
    const ssize_t Length = ::readlink(Target.c_str(), Link.data(), Link.size());
    if (Length < 0) return errno;
    if (static_cast<std::size_t>(Length) >= Link.size()) return ENAMETOOLONG;
    Link.resize(static_cast<std::size_t>(Length));
    Target = (Link.front() == '/') ? Link : DirectoryOf(Target) + "/" + Link;
  }
  return ELOOP;
}

constexpr std::size_t TemporaryHexDigits = 12;
constexpr std::string_view TemporaryEnd = ".tmp";

// What a temporary name beside Target begins with: hidden, and Target's name
// cut short enough for NAME_MAX even when it is at the limit.
std::string TemporaryPrefix(const std::string& Target) {
  std::string Name = NameOf(Target);
  if (Name.size() > 200) {
    std::size_t Cut = 200;
    while (Cut > 0 && (static_cast<unsigned char>(Name[Cut]) & 0xC0) == 0x80) --Cut;
    Name.resize(Cut);
  }
  return "." + Name + ".";
}

// A name beside Target that nothing else uses: the prefix, random hex
// digits and ".tmp".
std::string TemporaryName(const std::string& Target, std::mt19937_64& Random) {
  static constexpr char Hex[] = "0123456789abcdef";
  std::string Suffix;
  std::uint64_t Bits = Random();
  for (std::size_t I = 0; I < TemporaryHexDigits; ++I, Bits >>= 4) Suffix += Hex[Bits & 15];
  return DirectoryOf(Target) + "/" + TemporaryPrefix(Target) + Suffix + std::string(TemporaryEnd);
}

bool IsTemporaryNameFor(std::string_view Name, std::string_view Prefix) {
  if (Name.size() != Prefix.size() + TemporaryHexDigits + TemporaryEnd.size() || !Name.starts_with(Prefix) ||
      !Name.ends_with(TemporaryEnd))
    return false;
  const std::string_view Digits = Name.substr(Prefix.size(), TemporaryHexDigits);
  return std::all_of(Digits.begin(), Digits.end(),
                     [](char C) { return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f'); });
}

int WriteTemporary(int Fd, std::string_view Data, const struct stat* Old) {
  if (const int E = WriteAll(Fd, Data)) return E;
  if (Old) {
    // Owner first: chown clears the set-user-ID bits that fchmod then sets.
    // Only root may give the file away, so a failure here is expected and
    // harmless: the file then belongs to the user who saves it.
    if (::fchown(Fd, Old->st_uid, Old->st_gid) != 0) {
      [[maybe_unused]] const int Ignored = ::fchown(Fd, static_cast<uid_t>(-1), Old->st_gid);
    }
    if (::fchmod(Fd, Old->st_mode & 07777) != 0) return errno;
  }
  return FsyncRetrying(Fd);
}

}  // namespace

int ReadWholeFile(const std::string& Path, std::string& Data) {
  Data.clear();
  // O_NONBLOCK: opening a FIFO that stands where a settings file belongs must
  // not hang the program; it has no effect on the files we do read.
  TFd Fd(OpenRetrying(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!Fd.Valid()) {
    const int E = errno;
    return E == ENOENT ? MissingCode(Path) : SysErrorFromErrno(E);
  }
  struct stat St;
  if (::fstat(Fd.Get(), &St) != 0) return LastSysError();
  if (S_ISDIR(St.st_mode)) return SysErrorFromErrno(EISDIR);
  // A device or pipe is no document (and /dev/zero would never end).
  if (!S_ISREG(St.st_mode)) return SysErrorFromErrno(EINVAL);
  try {
    // The size is only a hint: the file may change while it is read, and
    // files of /proc report 0. The byte beyond the size leaves room for the
    // read that meets the end, so the usual file never regrows the buffer.
    const bool KnownSize = S_ISREG(St.st_mode) && St.st_size > 0;
    Data.resize(KnownSize ? static_cast<std::size_t>(St.st_size) + 1 : std::size_t{1} << 16);
    std::size_t Used = 0;
    for (;;) {
      if (Used == Data.size()) Data.resize(Data.size() * 2);
      const std::size_t Room = std::min<std::size_t>(Data.size() - Used, std::size_t{1} << 30);
      const ssize_t Got = ::read(Fd.Get(), Data.data() + Used, Room);
      if (Got < 0) {
        if (errno == EINTR) continue;
        const int E = errno;
        Data.clear();
        return SysErrorFromErrno(E);
      }
      if (Got == 0) break;
      Used += static_cast<std::size_t>(Got);
    }
    Data.resize(Used);
  } catch (const std::bad_alloc&) {
    Data = std::string();
    return ErrNotEnoughMemory;
  } catch (const std::length_error&) {
    Data = std::string();
    return ErrNotEnoughMemory;
  }
  return ErrSuccess;
}

int RemoveStaleReplacements(const std::string& Path) {
  const std::string Prefix = TemporaryPrefix(Path);
  TFd Dir(OpenRetrying(DirectoryOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!Dir.Valid()) return 0;
  DIR* Stream = ::fdopendir(::dup(Dir.Get()));
  if (Stream == nullptr) return 0;
  std::vector<std::string> Found;
  while (const struct dirent* Entry = ::readdir(Stream))
    if (IsTemporaryNameFor(Entry->d_name, Prefix)) Found.emplace_back(Entry->d_name);
  ::closedir(Stream);
  int Removed = 0;
  for (const std::string& Name : Found) {
    // Only plain files: a directory or a link of that name is not ours.
    struct stat St;
    if (::fstatat(Dir.Get(), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(St.st_mode) &&
        ::unlinkat(Dir.Get(), Name.c_str(), 0) == 0)
      ++Removed;
  }
  return Removed;
}

bool RegularFileExists(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

bool DirectoryExists(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

int ReplaceFileAtomically(const std::string& Path, std::string_view Data) {
  try {
    std::string Target;
    if (const int E = ResolveTarget(Path, Target)) return SysErrorFromErrno(E);

    struct stat Old;
    bool HasOld = false;
    if (::stat(Target.c_str(), &Old) == 0) {
      if (S_ISDIR(Old.st_mode)) return SysErrorFromErrno(EISDIR);
      // Renaming over a file needs no write permission on it, but a file the
      // user made read-only is not to be changed behind the user's back.
      if (::faccessat(AT_FDCWD, Target.c_str(), W_OK, AT_EACCESS) != 0) return LastSysError();
      HasOld = true;
    } else if (errno != ENOENT) {
      return LastSysError();
    }

    std::mt19937_64 Random(std::random_device{}() ^
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count()));
    std::string Temp;
    TFd Fd;
    for (int Attempt = 0; Attempt < 100 && !Fd.Valid(); ++Attempt) {
      Temp = TemporaryName(Target, Random);
      const int NewFd = OpenRetrying(Temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
      const int OpenError = errno;
      Fd.Reset(NewFd);
      if (!Fd.Valid() && OpenError != EEXIST) {
        return OpenError == ENOENT ? ErrPathNotFound : SysErrorFromErrno(OpenError);
      }
    }
    if (!Fd.Valid()) return ErrAlreadyExists;

    int E = WriteTemporary(Fd.Get(), Data, HasOld ? &Old : nullptr);
    const int CloseError = Fd.Close();
    if (E == 0) E = CloseError;
    if (E == 0 && ::rename(Temp.c_str(), Target.c_str()) != 0) E = errno;
    if (E != 0) {
      ::unlink(Temp.c_str());
      return SysErrorFromErrno(E);
    }

    // Makes the rename itself durable. The new content is in place already
    // and the old one is gone, so a failure here cannot be undone and is not
    // reported as a failed save; file systems without directory fsync
    // (EINVAL) are common.
    TFd Dir(OpenRetrying(DirectoryOf(Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (Dir.Valid()) FsyncRetrying(Dir.Get());
    return ErrSuccess;
  } catch (const std::bad_alloc&) {
    return ErrNotEnoughMemory;
  }
}

}  // namespace dz
