#include "platform/posix/MountTables.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "platform/FileIo.h"
#include "platform/SysError.h"
#include "platform/posix/Errno.h"

namespace dz {

namespace {

namespace fs = std::filesystem;

// The kernel and fstab write a blank, tab, newline or backslash inside a
// field as a backslash and three octal digits; anything else stays as it is.
std::string DecodeEscapes(std::string_view Field) {
  std::string Out;
  Out.reserve(Field.size());
  for (std::size_t I = 0; I < Field.size(); ++I) {
    if (Field[I] == '\\' && I + 3 < Field.size()) {
      const char A = Field[I + 1], B = Field[I + 2], C = Field[I + 3];
      if (A >= '0' && A <= '3' && B >= '0' && B <= '7' && C >= '0' && C <= '7') {
        Out += static_cast<char>((A - '0') * 64 + (B - '0') * 8 + (C - '0'));
        I += 3;
        continue;
      }
    }
    Out += Field[I];
  }
  return Out;
}

std::vector<std::string_view> SplitKeepingEmpty(std::string_view Text, char Delimiter) {
  std::vector<std::string_view> Parts;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t End = Text.find(Delimiter, Start);
    if (End == std::string_view::npos) {
      Parts.push_back(Text.substr(Start));
      return Parts;
    }
    Parts.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
}

// A carriage return counts too, for a file saved with Windows line ends.
bool IsBlank(char C) { return C == ' ' || C == '\t' || C == '\r'; }

// Fields separated by runs of blanks and tabs, as fstab has them.
std::vector<std::string_view> SplitBlanks(std::string_view Text) {
  std::vector<std::string_view> Parts;
  std::size_t I = 0;
  while (I < Text.size()) {
    while (I < Text.size() && IsBlank(Text[I])) ++I;
    const std::size_t Start = I;
    while (I < Text.size() && !IsBlank(Text[I])) ++I;
    if (I > Start) Parts.push_back(Text.substr(Start, I - Start));
  }
  return Parts;
}

template <typename T>
bool ParseNumber(std::string_view Text, T& Value) {
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  return Error == std::errc() && End == Text.data() + Text.size() && !Text.empty();
}

// The components of a path; empty ones and "." are dropped.
std::vector<std::string_view> Components(std::string_view Path) {
  std::vector<std::string_view> Parts;
  for (const std::string_view Part : SplitKeepingEmpty(Path, '/'))
    if (!Part.empty() && Part != ".") Parts.push_back(Part);
  return Parts;
}

// An absolute path without doubled or trailing delimiters, "." or "..".
std::string NormalAbsolute(std::string_view Path) {
  std::vector<std::string_view> Kept;
  for (const std::string_view Part : Components(Path)) {
    if (Part == "..") {
      if (!Kept.empty()) Kept.pop_back();
    } else {
      Kept.push_back(Part);
    }
  }
  std::string Out;
  for (const std::string_view Part : Kept) {
    Out += '/';
    Out += Part;
  }
  return Out.empty() ? std::string("/") : Out;
}

// Component-wise: /mnt/data2 is not inside /mnt/data. Both are normal
// absolute paths.
bool IsInside(std::string_view Base, std::string_view Path) {
  if (Base == "/") return !Path.empty() && Path.front() == '/';
  return Path.size() >= Base.size() && Path.compare(0, Base.size(), Base) == 0 &&
         (Path.size() == Base.size() || Path[Base.size()] == '/');
}

bool IsStrictlyInside(std::string_view Base, std::string_view Path) {
  return IsInside(Base, Path) && Path.size() > Base.size();
}

// File systems whose data lies on another machine. FUSE file systems carry
// the name of their program after "fuse.".
constexpr std::string_view NetworkTypes[] = {
    "9p", "afs", "beegfs", "ceph", "cifs", "coda", "davfs", "fuse.ceph", "fuse.ceph-fuse", "fuse.curlftpfs",
    "fuse.glusterfs", "fuse.gvfsd-fuse", "fuse.rclone", "fuse.s3fs", "fuse.smbnetfs", "fuse.sshfs", "glusterfs",
    "gpfs", "lustre", "ncp", "ncpfs", "nfs", "nfs4", "orangefs", "pvfs2", "smb3", "smbfs", "sshfs", "vboxsf",
    "virtiofs",
};

bool IsNetworkType(std::string_view FsType) {
  return std::find(std::begin(NetworkTypes), std::end(NetworkTypes), FsType) != std::end(NetworkTypes);
}

bool IsRamType(std::string_view FsType) { return FsType == "tmpfs" || FsType == "ramfs"; }

std::string FirstLine(const fs::path& File) {
  std::ifstream In(File);
  std::string Line;
  std::getline(In, Line);
  return Line;
}

void CollectBlockDeviceInfo(const fs::path& Dir, const fs::path& SysRoot, int Depth, TBlockDeviceInfo& Info) {
  std::error_code Ec;
  // A partition's removable flag and bus are those of its disk, the folder
  // above it.
  const fs::path Disk = fs::exists(Dir / "partition", Ec) ? Dir.parent_path() : Dir;
  if (FirstLine(Disk / "removable") == "1") Info.Removable = true;
  for (const fs::path& Part : Disk.lexically_relative(SysRoot)) {
    const std::string Name = Part.string();
    if (Name.size() > 3 && Name.compare(0, 3, "usb") == 0 &&
        std::all_of(Name.begin() + 3, Name.end(), [](char C) { return C >= '0' && C <= '9'; }))
      Info.Usb = true;
  }
  // Encrypted or RAID volumes are removable when what lies below them is.
  if (Depth >= 8) return;
  for (fs::directory_iterator It(Dir / "slaves", Ec), End; !Ec && It != End; It.increment(Ec)) {
    const fs::path Slave = fs::canonical(It->path(), Ec);
    if (!Ec) CollectBlockDeviceInfo(Slave, SysRoot, Depth + 1, Info);
    Ec.clear();
  }
}

// The device numbers of the block device that holds Mount's file system.
// A file system without a device number of its own (btrfs, FUSE on a block
// device) names its device as the source.
bool BlockDeviceOf(const TMountEntry& Mount, unsigned& Major, unsigned& Minor) {
  if (IsNetworkType(Mount.FsType) || IsRamType(Mount.FsType)) return false;
  if (Mount.Major != 0) {
    Major = Mount.Major;
    Minor = Mount.Minor;
    return true;
  }
  struct stat St;
  if (Mount.Source.empty() || Mount.Source.front() != '/' || ::stat(Mount.Source.c_str(), &St) != 0 ||
      !S_ISBLK(St.st_mode))
    return false;
  Major = major(St.st_rdev);
  Minor = minor(St.st_rdev);
  return true;
}

bool IsBlockDevice(const std::string& Path, unsigned Major, unsigned Minor) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISBLK(St.st_mode) && St.st_rdev == makedev(Major, Minor);
}

// The label of Mount's file system; nullopt when it cannot be read. The
// device node is found through sysfs (the source of the root file system
// is often /dev/root, which does not exist), then through the source; a
// node counts only when it is the device itself.
// A name of the label folder decoded: the device manager writes a blank,
// a "/" and other unsafe bytes as \xNN.
std::string DecodeLabelLinkName(std::string_view Name) {
  std::string Out;
  for (std::size_t I = 0; I < Name.size(); ++I) {
    unsigned Value = 0;
    if (Name[I] == '\\' && I + 3 < Name.size() && Name[I + 1] == 'x' &&
        std::from_chars(Name.data() + I + 2, Name.data() + I + 4, Value, 16).ptr == Name.data() + I + 4) {
      Out += static_cast<char>(Value);
      I += 3;
    } else {
      Out += Name[I];
    }
  }
  return Out;
}

// The label of device Major:Minor from the label folder's links, for users
// who may not open the device to probe it.
std::optional<std::string> LabelFromLinks(unsigned Major, unsigned Minor, const TVolumeTables& Tables) {
  std::error_code Error;
  for (std::filesystem::directory_iterator It(Tables.DiskByLabel, Error), End; !Error && It != End;
       It.increment(Error)) {
    const std::string Link = It->path().string();
    if (IsBlockDevice(Link, Major, Minor)) return DecodeLabelLinkName(It->path().filename().string());
  }
  return std::nullopt;
}

std::optional<std::string> ProbeMountLabel(const TMountEntry& Mount, unsigned Major, unsigned Minor,
                                           const TVolumeTables& Tables) {
  std::vector<std::string> Candidates;
  const TBlockDeviceInfo Info = QueryBlockDevice(Major, Minor, Tables.SysFs);
  if (!Info.DevName.empty()) Candidates.push_back("/dev/" + Info.DevName);
  if (!Mount.Source.empty() && Mount.Source.front() == '/') Candidates.push_back(Mount.Source);
  bool Refused = false;
  for (const std::string& Device : Candidates) {
    std::string Label;
    if (!IsBlockDevice(Device, Major, Minor)) continue;
    if (ProbeDeviceLabel(Device, Label)) return Label;
    Refused = Refused || ::access(Device.c_str(), R_OK) != 0;
  }
  if (Refused) return LabelFromLinks(Major, Minor, Tables);
  return std::nullopt;
}

// Without a mount table: the folder at which the file system holding Path
// is mounted, found as the topmost folder on the same device.
std::string MountPointByDevice(const std::string& Path) {
  std::string Dir = Path;
  struct stat St;
  while (::stat(Dir.c_str(), &St) != 0) {
    if (Dir == "/") return Dir;
    const std::size_t Slash = Dir.rfind('/');
    Dir = Slash == 0 ? std::string("/") : Dir.substr(0, Slash);
  }
  while (Dir != "/") {
    const std::size_t Slash = Dir.rfind('/');
    const std::string Parent = Slash == 0 ? std::string("/") : Dir.substr(0, Slash);
    struct stat ParentSt;
    if (::stat(Parent.c_str(), &ParentSt) != 0 || ParentSt.st_dev != St.st_dev) return Dir;
    Dir = Parent;
  }
  return Dir;
}

// Where the resolved Path lives: the mount that holds it (an index into
// Mounts, -1 when the table cannot be used) and whether the file system
// expected there is missing.
struct TLocation {
  std::vector<TMountEntry> Mounts;
  std::ptrdiff_t Holder = -1;
  bool Missing = false;

  const TMountEntry* HolderEntry() const { return Holder < 0 ? nullptr : &Mounts[static_cast<std::size_t>(Holder)]; }
};

// An existing directory without entries; false when it cannot be read.
bool DirectoryIsEmpty(const std::string& Path) {
  DIR* Dir = ::opendir(Path.c_str());
  if (Dir == nullptr) return false;
  bool Empty = true;
  while (const struct dirent* Entry = ::readdir(Dir))
    if (std::strcmp(Entry->d_name, ".") != 0 && std::strcmp(Entry->d_name, "..") != 0) {
      Empty = false;
      break;
    }
  ::closedir(Dir);
  return Empty;
}

TLocation Locate(const std::string& Resolved, const TVolumeTables& Tables) {
  TLocation Location;
  if (ReadMountTable(Tables.MountInfo, Location.Mounts) == 0) {
    if (const TMountEntry* Found = FindMountOf(Location.Mounts, Resolved))
      Location.Holder = Found - Location.Mounts.data();
  }
  const TMountEntry* Holder = Location.HolderEntry();
  const std::string HolderPoint = Holder ? Holder->MountPoint : MountPointByDevice(Resolved);
  const std::vector<std::string_view> Parts = Components(Resolved);
  const bool MntFolderEmpty =
      Parts.size() >= 2 && Parts[0] == "mnt" && DirectoryIsEmpty("/mnt/" + std::string(Parts[1]));
  Location.Missing = FileSystemIsMissing(ReadFstab(Tables.Fstab), Resolved, HolderPoint, MntFolderEmpty);
  return Location;
}

class TBlkidProbe {
public:
  explicit TBlkidProbe(const std::string& Device) : FProbe(blkid_new_probe_from_filename(Device.c_str())) {}
  TBlkidProbe(const TBlkidProbe&) = delete;
  TBlkidProbe& operator=(const TBlkidProbe&) = delete;
  ~TBlkidProbe() {
    if (FProbe) blkid_free_probe(FProbe);
  }
  blkid_probe Get() const { return FProbe; }

private:
  blkid_probe FProbe;
};

TVolumeKind KindAt(const TLocation& Location, const TVolumeTables& Tables) {
  if (Location.Missing) return vkMissing;
  const TMountEntry* Holder = Location.HolderEntry();
  if (!Holder) return vkFixed;
  if (IsNetworkType(Holder->FsType)) return vkNetwork;
  if (IsRamType(Holder->FsType)) return vkRamDisk;
  unsigned Major = 0, Minor = 0;
  if (BlockDeviceOf(*Holder, Major, Minor)) {
    const TBlockDeviceInfo Info = QueryBlockDevice(Major, Minor, Tables.SysFs);
    if (Info.Removable || Info.Usb) return vkRemovable;
  }
  return vkFixed;
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view Text) {
  std::vector<TMountEntry> Mounts;
  for (const std::string_view Line : SplitKeepingEmpty(Text, '\n')) {
    // id parent major:minor root mount-point options [optional...] - type source [super-options]
    const std::vector<std::string_view> Fields = SplitKeepingEmpty(Line, ' ');
    const auto Separator = std::find(Fields.begin() + std::min<std::size_t>(Fields.size(), 6), Fields.end(), "-");
    if (Fields.size() < 8 || Separator == Fields.end() || Separator + 1 == Fields.end()) continue;
    TMountEntry Entry;
    const std::size_t Colon = Fields[2].find(':');
    if (!ParseNumber(Fields[0], Entry.Id) || !ParseNumber(Fields[1], Entry.ParentId) ||
        Colon == std::string_view::npos || !ParseNumber(Fields[2].substr(0, Colon), Entry.Major) ||
        !ParseNumber(Fields[2].substr(Colon + 1), Entry.Minor))
      continue;
    Entry.Root = DecodeEscapes(Fields[3]);
    Entry.MountPoint = DecodeEscapes(Fields[4]);
    if (Entry.MountPoint.empty() || Entry.MountPoint.front() != '/') continue;
    Entry.FsType = DecodeEscapes(*(Separator + 1));
    if (Separator + 2 != Fields.end()) Entry.Source = DecodeEscapes(*(Separator + 2));
    Mounts.push_back(std::move(Entry));
  }
  return Mounts;
}

std::vector<TFstabEntry> ParseFstab(std::string_view Text) {
  std::vector<TFstabEntry> Entries;
  for (const std::string_view Line : SplitKeepingEmpty(Text, '\n')) {
    const std::vector<std::string_view> Fields = SplitBlanks(Line);
    if (Fields.size() < 2 || Fields[0].front() == '#') continue;
    TFstabEntry Entry;
    Entry.Source = DecodeEscapes(Fields[0]);
    const std::string MountPoint = DecodeEscapes(Fields[1]);
    if (Fields.size() > 2) Entry.FsType = DecodeEscapes(Fields[2]);
    if (Fields.size() > 3) Entry.Options = DecodeEscapes(Fields[3]);
    if (Entry.FsType == "swap" || MountPoint.empty() || MountPoint.front() != '/') continue;
    Entry.MountPoint = NormalAbsolute(MountPoint);
    if (Entry.MountPoint == "/") continue;
    Entries.push_back(std::move(Entry));
  }
  return Entries;
}

int ReadMountTable(const std::string& MountInfoPath, std::vector<TMountEntry>& Mounts) {
  Mounts.clear();
  std::string Text;
  if (const int Code = ReadWholeFile(MountInfoPath, Text)) return Code;
  Mounts = ParseMountInfo(Text);
  return 0;
}

std::vector<TFstabEntry> ReadFstab(const std::string& FstabPath) {
  std::string Text;
  if (ReadWholeFile(FstabPath, Text) != 0) return {};
  return ParseFstab(Text);
}

const TMountEntry* FindMountOf(const std::vector<TMountEntry>& Mounts, std::string_view Path) {
  std::vector<int> Ids;
  Ids.reserve(Mounts.size());
  for (const TMountEntry& Entry : Mounts) Ids.push_back(Entry.Id);
  std::sort(Ids.begin(), Ids.end());
  const auto IsKnown = [&Ids](int Id) { return std::binary_search(Ids.begin(), Ids.end(), Id); };

  // The bottom of the mounts at "/": one whose parent is not at "/" too
  // (in a container the parent is not listed at all).
  const TMountEntry* Root = nullptr;
  for (const TMountEntry& Entry : Mounts) {
    if (Entry.MountPoint != "/") continue;
    const bool OnAnotherRoot = std::any_of(Mounts.begin(), Mounts.end(), [&Entry](const TMountEntry& Other) {
      return &Other != &Entry && Other.Id == Entry.ParentId && Other.MountPoint == "/";
    });
    if (!OnAnotherRoot) {
      Root = &Entry;
      break;
    }
  }
  if (!Root) return nullptr;

  // The kernel's own walk: component by component from the root mount,
  // crossing into a mount attached to the current one at exactly that
  // place, and into the topmost of several stacked there. A mount whose
  // parent is not listed (it lies outside a container's view) attaches
  // wherever its place is reached. Each mount is crossed at most once, so a
  // damaged table cannot make the walk circle.
  std::vector<bool> Crossed(Mounts.size(), false);
  const TMountEntry* Current = Root;
  Crossed[static_cast<std::size_t>(Root - Mounts.data())] = true;
  const auto CrossAt = [&](std::string_view Place) {
    for (;;) {
      const TMountEntry* Top = nullptr;
      for (std::size_t I = 0; I < Mounts.size(); ++I) {
        const TMountEntry& Entry = Mounts[I];
        if (!Crossed[I] && Entry.MountPoint == Place && (Entry.ParentId == Current->Id || !IsKnown(Entry.ParentId)))
          Top = &Entry;
      }
      if (!Top) return;
      Crossed[static_cast<std::size_t>(Top - Mounts.data())] = true;
      Current = Top;
    }
  };
  CrossAt("/");
  std::string Place;
  for (const std::string_view Part : Components(Path)) {
    Place += '/';
    Place += Part;
    CrossAt(Place);
  }
  return Current;
}

bool FileSystemIsMissing(const std::vector<TFstabEntry>& Fstab, std::string_view Path,
                         std::string_view HolderMountPoint, bool MntFolderEmpty) {
  for (const TFstabEntry& Entry : Fstab)
    if (IsInside(Entry.MountPoint, Path) && Entry.MountPoint.size() > HolderMountPoint.size()) return true;
  // Desktops mount a medium at /media/<user>/<name> or /run/media/<user>/<name>
  // and remove the folder again; some mount it directly below /media. Any
  // mount below the media folder that holds Path is the medium.
  const std::vector<std::string_view> Parts = Components(Path);
  std::string_view MediaDir;
  if (Parts.size() >= 3 && Parts[0] == "media") MediaDir = "/media";
  if (Parts.size() >= 4 && Parts[0] == "run" && Parts[1] == "media") MediaDir = "/run/media";
  if (!MediaDir.empty() && !IsStrictlyInside(MediaDir, HolderMountPoint)) return true;
  return MntFolderEmpty && Parts.size() >= 2 && Parts[0] == "mnt" && !IsStrictlyInside("/mnt", HolderMountPoint);
}

int ResolvePartialPath(std::string_view Path, std::string& Resolved) {
  Resolved.clear();
  std::string Absolute(Path);
  if (Absolute.empty() || Absolute.front() != '/') {
    std::error_code Ec;
    const fs::path Current = fs::current_path(Ec);
    if (Ec) return SysErrorFromErrno(Ec.value());
    Absolute = Current.string() + "/" + Absolute;
  }
  std::deque<std::string> Pending;
  for (const std::string_view Part : Components(Absolute)) Pending.emplace_back(Part);
  std::vector<std::string> Done;
  const auto Joined = [&Done] {
    std::string Out;
    for (const std::string& Part : Done) Out += "/" + Part;
    return Out.empty() ? std::string("/") : Out;
  };
  // Once a component does not exist, the rest is taken as written.
  bool Exists = true;
  int Links = 0;
  while (!Pending.empty()) {
    std::string Part = std::move(Pending.front());
    Pending.pop_front();
    if (Part == "..") {
      if (!Done.empty()) Done.pop_back();
      continue;
    }
    if (Exists) {
      const std::string Candidate = (Done.empty() ? std::string() : Joined()) + "/" + Part;
      struct stat St;
      if (::lstat(Candidate.c_str(), &St) != 0) {
        Exists = false;
      } else if (S_ISLNK(St.st_mode) && ++Links <= 40) {
        // Followed even when it leads nowhere yet (to the folder of an
        // unplugged medium), so that its target decides.
        std::string Target(PATH_MAX, '\0');
        const ssize_t Length = ::readlink(Candidate.c_str(), Target.data(), Target.size());
        if (Length > 0 && static_cast<std::size_t>(Length) < Target.size()) {
          Target.resize(static_cast<std::size_t>(Length));
          if (Target.front() == '/') Done.clear();
          const std::vector<std::string_view> TargetParts = Components(Target);
          for (auto It = TargetParts.rbegin(); It != TargetParts.rend(); ++It) Pending.emplace_front(*It);
          continue;
        }
        Exists = false;
      } else if (S_ISLNK(St.st_mode)) {
        Exists = false;
      }
    }
    Done.push_back(std::move(Part));
  }
  Resolved = Joined();
  return 0;
}

TBlockDeviceInfo QueryBlockDevice(unsigned Major, unsigned Minor, const std::string& SysFs) {
  TBlockDeviceInfo Info;
  std::error_code Ec;
  const fs::path SysRoot = fs::canonical(SysFs, Ec);
  if (Ec) return Info;
  const fs::path Dir =
      fs::canonical(SysRoot / "dev" / "block" / (std::to_string(Major) + ":" + std::to_string(Minor)), Ec);
  if (Ec) return Info;
  Info.Found = true;
  std::ifstream Uevent(Dir / "uevent");
  for (std::string Line; std::getline(Uevent, Line);) {
    if (Line.compare(0, 8, "DEVNAME=") == 0) Info.DevName = Line.substr(8);
  }
  CollectBlockDeviceInfo(Dir, SysRoot, 0, Info);
  return Info;
}

bool ProbeDeviceLabel(const std::string& Device, std::string& Label) {
  Label.clear();
  // Opened read-only and without waiting, so that a drive without a medium
  // answers at once.
  const TBlkidProbe Probe(Device);
  if (!Probe.Get()) return false;
  blkid_probe_enable_superblocks(Probe.Get(), 1);
  blkid_probe_set_superblocks_flags(Probe.Get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
  if (blkid_do_safeprobe(Probe.Get()) != 0) return false;
  const char* Value = nullptr;
  std::size_t Length = 0;
  if (blkid_probe_lookup_value(Probe.Get(), "LABEL", &Value, &Length) == 0 && Value) Label = Value;
  return true;
}

TVolumeKind VolumeKindOf(std::string_view Path, const TVolumeTables& Tables) {
  std::string Resolved;
  if (ResolvePartialPath(Path, Resolved) != 0) return vkUnknown;
  return KindAt(Locate(Resolved, Tables), Tables);
}

TVolumeLook LookAtVolume(std::string_view Path, const TVolumeTables& Tables) {
  TVolumeLook Look;
  std::string Resolved;
  if (ResolvePartialPath(Path, Resolved) != 0) return Look;
  // One reading of the tables answers all three.
  const TLocation Location = Locate(Resolved, Tables);
  const TVolumeKind Kind = KindAt(Location, Tables);
  Look.There = Kind != vkUnknown && Kind != vkMissing;
  if (const TMountEntry* Holder = Location.HolderEntry()) Look.MountPoint = Holder->MountPoint;
  Look.Resolved = std::move(Resolved);
  return Look;
}

bool VolumeIsOnUsb(std::string_view Path, const TVolumeTables& Tables) {
  std::string Resolved;
  if (ResolvePartialPath(Path, Resolved) != 0) return false;
  const TLocation Location = Locate(Resolved, Tables);
  const TMountEntry* Holder = Location.HolderEntry();
  unsigned Major = 0, Minor = 0;
  return !Location.Missing && Holder && BlockDeviceOf(*Holder, Major, Minor) &&
         QueryBlockDevice(Major, Minor, Tables.SysFs).Usb;
}

bool ReadFileSystemLabel(std::string_view Path, std::string& Label, const TVolumeTables& Tables) {
  Label.clear();
  std::string Resolved;
  if (ResolvePartialPath(Path, Resolved) != 0) return false;
  const TLocation Location = Locate(Resolved, Tables);
  const TMountEntry* Holder = Location.HolderEntry();
  unsigned Major = 0, Minor = 0;
  if (Location.Missing || !Holder || !BlockDeviceOf(*Holder, Major, Minor)) return false;
  const std::optional<std::string> Found = ProbeMountLabel(*Holder, Major, Minor, Tables);
  if (!Found) return false;
  Label = *Found;
  return true;
}

void ForEachMountedLabel(const TVolumeTables& Tables, const TVolumes::TLabelVisit& Visit) {
  std::vector<TMountEntry> Mounts;
  if (ReadMountTable(Tables.MountInfo, Mounts) != 0) return;
  // A device mounted more than once is probed once.
  std::vector<std::pair<dev_t, std::optional<std::string>>> Probed;
  for (const TMountEntry& Mount : Mounts) {
    unsigned Major = 0, Minor = 0;
    if (Mount.Root != "/" || !BlockDeviceOf(Mount, Major, Minor) || FindMountOf(Mounts, Mount.MountPoint) != &Mount)
      continue;
    const dev_t Device = makedev(Major, Minor);
    auto It = std::find_if(Probed.begin(), Probed.end(), [Device](const auto& Known) { return Known.first == Device; });
    if (It == Probed.end()) {
      Probed.emplace_back(Device, ProbeMountLabel(Mount, Major, Minor, Tables));
      It = Probed.end() - 1;
    }
    if (It->second && !Visit(Mount.MountPoint, *It->second)) return;
  }
}

TVolumeKind TVolumeTables::KindOf(std::string_view Path) const { return VolumeKindOf(Path, *this); }

bool TVolumeTables::OnUsb(std::string_view Path) const { return VolumeIsOnUsb(Path, *this); }

bool TVolumeTables::ReadLabel(std::string_view Path, std::string& Label) const {
  return ReadFileSystemLabel(Path, Label, *this);
}

void TVolumeTables::ForEachMountedLabel(const TLabelVisit& Visit) const { dz::ForEachMountedLabel(*this, Visit); }

TVolumeLook TVolumeTables::Look(std::string_view Path) const { return LookAtVolume(Path, *this); }

const std::shared_ptr<const TVolumes>& SystemVolumes() {
  static const std::shared_ptr<const TVolumes> System = std::make_shared<const TVolumeTables>();
  return System;
}

}  // namespace dz
