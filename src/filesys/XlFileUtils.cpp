#include "filesys/XlFileUtils.h"

#include "base/Translate.h"
#include "base/Utf.h"
#include "platform/SysError.h"

namespace dz {

namespace {

constexpr std::string_view LongPrefix = "\\\\?\\";
constexpr std::string_view LongUncPrefix = "\\\\?\\UNC\\";

// True when the second character of Path (not the second byte) is ":".
bool HasDriveLetter(std::string_view Path) {
  if (Path.empty())
    return false;
  std::size_t AfterFirst = 0;
  DecodeUtf8(Path, AfterFirst);
  return AfterFirst < Path.size() && Path[AfterFirst] == ':';
}

// The last component of Path; delimiters at its end are ignored.
std::string_view LastComponent(std::string_view Path) {
  while (Path.size() > 1 && Path.back() == PathDelimiter)
    Path.remove_suffix(1);
  const std::size_t Slash = Path.rfind(PathDelimiter);
  return Slash == std::string_view::npos ? Path : Path.substr(Slash + 1);
}

bool IsHiddenName(std::string_view Name) {
  return Name.size() > 1 && Name.front() == '.' && Name != "..";
}

constexpr std::uint32_t OwnerWrite = 0200;
constexpr std::uint32_t AnyWrite = 0222;

}  // namespace

int FileStatusAttr(const TFileStatus& S, std::string_view Name, bool LinkToDirectory) {
  int Attr = 0;
  switch (S.Kind) {
    case TFileKind::fkDirectory:
      Attr = faDirectory;
      break;
    case TFileKind::fkRegular:
      Attr = faArchive;
      break;
    case TFileKind::fkSymLink:
      Attr = faReparsePoint | (LinkToDirectory ? faDirectory : faArchive);
      break;
    case TFileKind::fkOther:
      break;
  }
  if (S.ReadOnly)
    Attr |= faReadOnly;
  if (IsHiddenName(LastComponent(Name)))
    Attr |= faHidden;
  if (Attr == 0)
    Attr = faNormal;
  return S.Kind == TFileKind::fkSymLink || !S.Posix ? Attr : AttrWithMode(Attr, S.Posix->Mode);
}

namespace {

bool PointsToDirectory(const std::string& Link) {
  TFileStatus Target;
  return PathStatus(Link, true, Target) == ErrSuccess && Target.Kind == TFileKind::fkDirectory;
}

// The attributes of Name, or the code of the failed lookup (Attr is then -1).
int ReadAttr(const std::string& Name, bool FollowLink, int& Attr) {
  Attr = -1;
  TFileStatus S;
  if (const int E = PathStatus(Name, FollowLink, S))
    return E;
  Attr = FileStatusAttr(S, Name, S.Kind == TFileKind::fkSymLink && PointsToDirectory(Name));
  return ErrSuccess;
}

// Errors that say a name does not exist rather than that it cannot be seen.
bool MeansMissing(int Code) {
  switch (Code) {
    case ErrFileNotFound:
    case ErrPathNotFound:
    case ErrInvalidName:
    case ErrFilenameExcedRange:
    case ErrCantResolveFilename:
      return true;
    default:
      return false;
  }
}

bool CreateOneDirectory(const std::string& Dir) {
  const int E = MakeDirectory(Dir);
  if (E == ErrSuccess)
    return true;
  // Two backup workers may build the same destination tree at once.
  TFileStatus S;
  return E == ErrAlreadyExists && PathStatus(Dir, true, S) == ErrSuccess && S.Kind == TFileKind::fkDirectory;
}

}  // namespace

std::string AddLongPathPrefix(std::string_view Path, const TPathStyle& Style) {
  if (!Style.HasDrives || Path.starts_with(LongPrefix))
    return std::string(Path);
  if (Path.starts_with("\\\\"))
    return std::string(LongUncPrefix) + std::string(Path.substr(2));
  if (HasDriveLetter(Path) && Utf16Length(Path) >= LongPathThreshold)
    return std::string(LongPrefix) + std::string(Path);
  return std::string(Path);
}

bool XlForceDirectories(const std::string& Dir) {
  if (Dir.empty())
    throw EInOutError(Tr("Unable to create directory"), ErrPathNotFound);
  std::string Path = Dir;
  while (Path.size() > 1 && Path.back() == PathDelimiter)
    Path.pop_back();
  if (XlDirectoryExists(Path, true))
    return true;
  const std::size_t Slash = Path.rfind(PathDelimiter);
  if (Slash == std::string::npos)
    return CreateOneDirectory(Path);
  const std::string Parent = Slash == 0 ? std::string(1, PathDelimiter) : Path.substr(0, Slash);
  if (Parent == Path)
    return CreateOneDirectory(Path);
  return XlForceDirectories(Parent) && CreateOneDirectory(Path);
}

bool XlFileExists(const std::string& Name, bool FollowLink) {
  TFileStatus S;
  if (const int E = PathStatus(Name, false, S)) {
    if (MeansMissing(E))
      return false;
    TXlFindData Found;
    return XlFindFile(Name, Found);
  }
  if (S.Kind != TFileKind::fkSymLink)
    return S.Kind != TFileKind::fkDirectory;
  if (!FollowLink)
    return true;
  TFileStatus Target;
  if (PathStatus(Name, true, Target) != ErrSuccess || Target.Kind == TFileKind::fkDirectory)
    return false;
  // Opening a device can have effects of its own (a tape rewinds), and a
  // FIFO or socket has nothing to be opened for; they count as they are.
  if (Target.Kind != TFileKind::fkRegular)
    return true;
  TFileHandle Handle;
  const int E = OpenFileHandle(Name, ofRead, 0, Handle);
  return E == ErrSuccess || E == ErrSharingViolation;
}

bool XlDirectoryExists(const std::string& Name, bool FollowLink) {
  int Attr;
  const int E = ReadAttr(Name, FollowLink, Attr);
  if (E == ErrSuccess)
    return (Attr & faDirectory) != 0;
  switch (E) {
    case ErrNotReady:
    case ErrBadNetPath:
    case ErrBadNetName:
    case ErrBadPathName:
      return false;
    default:
      return !MeansMissing(E);
  }
}

bool XlFindFile(const std::string& Name, TXlFindData& FindData) {
  FindData = TXlFindData();
  TFileStatus S;
  if (PathStatus(Name, false, S) != ErrSuccess)
    return false;
  const int Attr = FileStatusAttr(S, Name, S.Kind == TFileKind::fkSymLink && PointsToDirectory(Name));
  FindData.FileAttr = static_cast<std::uint32_t>(Attr);
  FindData.CreationTime = S.CreationTime;
  FindData.LastAccessTime = S.LastAccessTime;
  FindData.LastWriteTime = S.LastWriteTime;
  FindData.FileSize = S.Kind == TFileKind::fkRegular ? S.Size : 0;
  FindData.FileName = std::string(LastComponent(Name));
  return (Attr & faDirectory) == 0;
}

int XlDeleteFile(const std::string& Name, bool ClearReadOnly) {
  if (ClearReadOnly) {
    if (const int E = XlChangeAttr(Name, faReadOnly, true, false))
      return E;
  }
  // unlink removes a link to a folder as well, so no folder link needs the
  // second attempt that Windows junctions do.
  return UnlinkPath(Name);
}

int XlDeleteExistingFile(const std::string& Name, bool ClearReadOnly) {
  if (!XlFileExists(Name, true))
    return ErrSuccess;
  return XlDeleteFile(Name, ClearReadOnly);
}

int XlRenameFile(const std::string& OldName, const std::string& NewName) {
  return RenameNoReplace(OldName, NewName);
}

int XlFileGetAttr(const std::string& Name, bool FollowLink) {
  int Attr;
  ReadAttr(Name, FollowLink, Attr);
  return Attr;
}

int XlFileSetAttr(const std::string& Name, int Attr, bool FollowLink) {
  if (Attr < 0)
    return ErrInvalidParameter;
  TFileStatus S;
  if (const int E = PathStatus(Name, FollowLink, S))
    return E;
  const std::uint32_t Mode = ModeOfAttr(Attr, PosixMode(S));
  if (Mode == PosixMode(S))
    return ErrSuccess;
  return ChangeMode(Name, Mode, FollowLink);
}

std::uint32_t ModeOfAttr(int Attr, std::uint32_t CurrentMode) {
  std::uint32_t Mode = AttrHasMode(Attr) ? AttrMode(Attr) : CurrentMode;
  const bool ReadOnly = (Attr & faReadOnly) != 0;
  if (ReadOnly && (Mode & OwnerWrite) != 0)
    Mode &= ~AnyWrite;
  else if (!ReadOnly && (Mode & OwnerWrite) == 0)
    Mode |= OwnerWrite;
  return Mode;
}

int XlChangeAttr(const std::string& Name, int Mask, bool Clear, bool FollowLink) {
  const int Old = XlFileGetAttr(Name, FollowLink);
  if (Old == -1)
    return ErrFileNotFound;
  const int New = Clear ? (Old & ~Mask) : (Old | Mask);
  if (New == Old)
    return ErrSuccess;
  return XlFileSetAttr(Name, New, FollowLink);
}

bool IsDirectory(const std::string& Name) {
  const int Attr = XlFileGetAttr(Name, false);
  return Attr != -1 && (Attr & faDirectory) != 0;
}

int CreateUtf8File(const std::string& FileName) {
  TFileHandle Handle;
  if (const int E = OpenFileHandle(FileName, ofWrite | ofCreate | ofTruncate, 0, Handle))
    return E;
  static constexpr char Bom[] = {'\xEF', '\xBB', '\xBF'};
  std::size_t Written = 0;
  int E = Handle.Write(Bom, sizeof Bom, Written);
  if (E == ErrSuccess && Written != sizeof Bom)
    E = ErrDiskFull;
  const int CloseError = Handle.Close();
  if (E == ErrSuccess)
    E = CloseError;
  if (E != ErrSuccess)
    throw EInOutError(PlatformErrorText(E), E);
  return ErrSuccess;
}

}  // namespace dz
