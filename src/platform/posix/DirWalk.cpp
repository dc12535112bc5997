#include "platform/DirWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/SysError.h"
#include "platform/posix/Errno.h"
#include "platform/posix/UniqueFd.h"

namespace dz {

namespace {

constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;

std::int64_t FileTimeOf(const struct timespec& Time) {
  return (static_cast<std::int64_t>(Time.tv_sec) + SecondsFrom1601To1970) * 10000000 + Time.tv_nsec / 100;
}

TDirEntryKind KindOfMode(mode_t Mode) {
  if (S_ISREG(Mode)) return dekFile;
  if (S_ISDIR(Mode)) return dekDirectory;
  if (S_ISLNK(Mode)) return dekLink;
  return dekOther;
}

// The kind as readdir tells it, or false when the file system does not say.
bool KindOfDirent(unsigned char Type, TDirEntryKind& Kind) {
  switch (Type) {
    case DT_REG: Kind = dekFile; return true;
    case DT_DIR: Kind = dekDirectory; return true;
    case DT_LNK: Kind = dekLink; return true;
    case DT_FIFO: case DT_SOCK: case DT_CHR: case DT_BLK: Kind = dekOther; return true;
    default: return false;
  }
}

std::string ParentOf(std::string Path) {
  while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
  const std::size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  if (Slash == 0) return "/";
  return Path.substr(0, Slash);
}

// As the directory-opening call of the system the program was written for
// distinguishes them: a missing last name is "file not found", a missing
// directory on the way "path not found".
int MissingCode(const std::string& Path, int Errno) {
  if (Errno == ENOENT) {
    struct stat St;
    const std::string Parent = ParentOf(Path);
    return ::stat(Parent.c_str(), &St) == 0 && S_ISDIR(St.st_mode) ? ErrFileNotFound : ErrPathNotFound;
  }
  return SysErrorFromErrno(Errno);
}

struct TDirCloser {
  void operator()(DIR* Dir) const { ::closedir(Dir); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

// Opens Path as a directory; the root may be reached through a link, the
// directories below it may not (the walk never leaves the tree).
TDirHandle OpenDirectory(const std::string& Path, bool FollowLink, int& Errno) {
  int Flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (!FollowLink) Flags |= O_NOFOLLOW;
  TUniqueFd Fd;
  do {
    Fd.Reset(::open(Path.c_str(), Flags));
  } while (!Fd.Valid() && errno == EINTR);
  if (!Fd.Valid()) {
    Errno = errno;
    return nullptr;
  }
  DIR* Dir = ::fdopendir(Fd.Get());
  if (Dir == nullptr) {
    Errno = errno;
    return nullptr;
  }
  Fd.Release();
  return TDirHandle(Dir);
}

}  // namespace

int CheckDirectory(const std::string& Root) {
  if (Root.empty()) return ErrPathNotFound;
  struct stat St;
  if (::stat(Root.c_str(), &St) != 0) return MissingCode(Root, errno);
  if (!S_ISDIR(St.st_mode)) return ErrDirectory;
  int Errno = 0;
  if (!OpenDirectory(Root, true, Errno)) return MissingCode(Root, Errno);
  return 0;
}

int WalkDirectoryTree(const std::string& Root, const TDirWalkVisitor& Visit, const TDirWalkOptions& Options) {
  if (const int Code = CheckDirectory(Root); Code != 0) return Code;
  const std::string Base = Root.back() == '/' ? Root : Root + "/";

  // Directories still to read, relative to Root ("" is Root itself). Each
  // one is read to its end and closed before the next is opened, so a deep
  // tree holds one descriptor, not one per level.
  std::vector<std::string> Pending{std::string()};
  while (!Pending.empty()) {
    const std::string Dir = std::move(Pending.back());
    Pending.pop_back();
    int Errno = 0;
    TDirHandle Handle = OpenDirectory(Dir.empty() ? Root : Base + Dir, Dir.empty(), Errno);
    if (!Handle) {
      if (Dir.empty()) return MissingCode(Root, Errno);
      continue;  // gone, replaced by a link, or not readable: nothing to report below it
    }
    const std::string Prefix = Dir.empty() ? std::string() : Dir + "/";
    while (const dirent* Item = ::readdir(Handle.get())) {
      const char* Name = Item->d_name;
      if (Name[0] == '.' && (Name[1] == 0 || (Name[1] == '.' && Name[2] == 0))) continue;
      TDirWalkEntry Entry;
      Entry.RelPath = Prefix + Name;
      const bool KindKnown = KindOfDirent(Item->d_type, Entry.Kind);
      if (!KindKnown || Options.Times) {
        struct stat St;
        if (::fstatat(::dirfd(Handle.get()), Name, &St, AT_SYMLINK_NOFOLLOW) == 0) {
          Entry.Kind = KindOfMode(St.st_mode);
          if (Options.Times) {
            Entry.ModifyTime = FileTimeOf(St.st_mtim);
            Entry.ChangeTime = FileTimeOf(St.st_ctim);
          }
        } else if (errno == ENOENT || !KindKnown) {
          continue;  // deleted since readdir, or nothing to say about it
        }
      }
      const TDirWalkVerdict Verdict = Visit(Entry);
      if (Verdict == dwvStop) return 0;
      if (Verdict == dwvContinue && Entry.Kind == dekDirectory && Options.Recursive)
        Pending.push_back(std::move(Entry.RelPath));
    }
  }
  return 0;
}

}  // namespace dz
