#pragma once
// Single file-system calls, each as narrow as the file layer above needs it:
// what a name is (kind, size, times, read-only, which file it is, and the
// extras a POSIX system keeps), an owning file handle, and the changes made
// to names and metadata. Paths are UTF-8 and
// are handed to the system as they are. Results are system error codes
// (SysError.h), 0 meaning success; nothing here raises.
//
// The names avoid those of Windows API functions, which windows.h turns into
// macros.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace dz {

// A point in time as 100-nanosecond intervals since 1601-01-01 00:00:00 UTC,
// the unit every time stamp of the program is kept in.
using TFileTime = std::int64_t;

// The file time of 1970-01-01 00:00:00 UTC.
inline constexpr TFileTime FileTimeOfUnixEpoch = 116444736000000000;
inline constexpr TFileTime FileTimeTicksPerSecond = 10000000;

enum class TFileKind { fkRegular, fkDirectory, fkSymLink, fkOther };

// Which file a status describes, however it was reached: the file system it
// lives on and the file's number there (on POSIX systems the device and the
// inode; on Windows the volume serial number and the file index). Two files
// that exist at the same time never share an identity.
struct TFileIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// What a POSIX system keeps of a file beyond what every system has: its
// permission bits and its owner. A system without them leaves
// TFileStatus::Posix empty, and the calls that set them give 50 there.
struct TPosixExtras {
  std::uint32_t Mode = 0;  // permission bits: st_mode & 07777
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
};

struct TFileStatus {
  TFileKind Kind = TFileKind::fkOther;
  // The file's own attributes refuse writing: on POSIX systems the owner's
  // write permission is missing (a symbolic link, which has no permissions
  // of its own, is never read-only), on Windows the read-only attribute.
  bool ReadOnly = false;
  std::int64_t Size = 0;
  // The birth time where the file system records it, else 0: the change time
  // is no creation time, and a made-up one would be copied as if it were.
  TFileTime CreationTime = 0;
  TFileTime LastAccessTime = 0;
  TFileTime LastWriteTime = 0;
  TFileTime ChangeTime = 0;  // the last change of data, attributes, links or name
  TFileIdentity Identity;
  std::optional<TPosixExtras> Posix;
};

// The permission bits of Status; 0 where the system keeps none.
inline std::uint32_t PosixMode(const TFileStatus& Status) {
  return Status.Posix ? Status.Posix->Mode : 0;
}

// The status of Path; of the link itself when Path is a symbolic link and
// FollowLink is false.
int PathStatus(const std::string& Path, bool FollowLink, TFileStatus& Status);
class TFileHandle;
// The same for Name in the open directory Dir: a name alone is looked up in
// Dir without walking the path to it again.
int PathStatus(const TFileHandle& Dir, const std::string& Name, bool FollowLink, TFileStatus& Status);

// True when both statuses describe the same file.
inline bool SameFileStatus(const TFileStatus& A, const TFileStatus& B) {
  return A.Identity == B.Identity;
}

// Flags of OpenFileHandle.
enum TOpenFlag : unsigned {
  ofRead = 0x01,
  ofWrite = 0x02,
  ofCreate = 0x04,     // create the file when it is missing
  ofTruncate = 0x08,   // an existing file loses its content
  ofCreateNew = 0x10,  // with ofCreate: fail with 183 when the name exists
  ofNoFollow = 0x20,   // a symbolic link as the last part of the path is not
                       // followed: opening it fails with 1921
  ofStatusOnly = 0x40,  // neither read nor write, only Status, ChangeMode and
                        // ClearReadOnly:
                        // the name is opened whatever it is (with ofNoFollow
                        // a link itself), nothing of a device or a FIFO is
                        // run; the other flags are ignored
  ofDirectory = 0x80,   // a directory, for Status, Sync and SyncFileSystem;
                        // any other kind of file fails with 3; the other
                        // flags but ofNoFollow are ignored
  ofAppend = 0x100,     // with ofWrite: every write goes to the end of the
                        // file as it is at that moment, also when another
                        // handle (another process) has written there since
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// An open file, closed when the handle is destroyed. Always opened
// close-on-exec, so that programs the watchdog starts never inherit it.
class TFileHandle {
public:
  TFileHandle() = default;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  TFileHandle(TFileHandle&& Other) noexcept;
  TFileHandle& operator=(TFileHandle&& Other) noexcept;
  ~TFileHandle();

  bool Valid() const { return FFd >= 0; }

  // Reads until Count bytes are in Buffer or the end of the file is met, so
  // that fewer bytes than asked always mean the end. Done := bytes read.
  int Read(void* Buffer, std::size_t Count, std::size_t& Done);
  // Writes all Count bytes unless the system refuses; Done := bytes written.
  int Write(const void* Buffer, std::size_t Count, std::size_t& Done);
  int Seek(std::int64_t Offset, TSeekOrigin Origin, std::int64_t& Position);
  int Status(TFileStatus& Into) const;
  // What the file was when OpenFileHandle opened it for reading or writing
  // (it looks once anyway, to refuse a directory); Status for other handles.
  int OpenedStatus(TFileStatus& Into) const;
  int Truncate(std::int64_t Size);
  int Sync();  // the data on the disk
  // Starts writing Length bytes from Offset to the disk and returns without
  // waiting, so that a later flush finds less to do. Only a hint: a file
  // system that cannot gives 0 all the same.
  int StartWriteback(std::int64_t Offset, std::int64_t Length);
  // Writes everything written on the handle's file system to the disk and
  // waits, the disk's own write cache included. A write to any file there
  // that failed in the background since the handle was opened (or since the
  // last call) gives its error here: a handle opened before a run of writes
  // learns of every failure among them.
  int SyncFileSystem();
  // True when SyncFileSystem makes the content of every file of the handle's
  // file system durable: the disk file systems the kernel writes itself.
  // Network and user-space (FUSE) file systems, and any this list does not
  // know, answer false: their files are to be flushed one by one.
  bool FileSystemSyncCoversFiles() const;
  // Sets the POSIX permission bits (07777) of the open file, also of one
  // opened with ofStatusOnly; such a handle of a symbolic link gives 50, as
  // a link has no permissions of its own. 50 on a system without them.
  int ChangeMode(std::uint32_t Mode);
  // Lets the owner write the open file again (also one opened with
  // ofStatusOnly), changing no more of its access than that. Current is its
  // status as last read; on POSIX systems the owner's write bit is added to
  // its permission bits.
  int ClearReadOnly(const TFileStatus& Current);
  // Sets the last-access and last-write times of the open file as
  // SetPathTimes does (0 leaves a time as it is); needs a handle opened for
  // writing or the file's owner.
  int SetTimes(TFileTime LastAccessTime, TFileTime LastWriteTime);
  // An exclusive lock on the whole file that belongs to this handle (an open
  // file description lock: two handles of one process exclude each other as
  // two processes do) and ends when the handle is closed. Never waits: 32
  // when another handle holds a lock on the file. Advisory: only programs
  // that ask for a lock are held back. A file system that has no locks
  // gives its own error (50, 0x20000000 | ENOLCK, ...).
  int LockExclusive();
  // Closes now. The result counts: network file systems and quotas report
  // failed writes only here.
  int Close();

private:
  friend int OpenFileHandle(const TFileHandle*, const std::string&, unsigned, std::uint32_t, TFileHandle&);
  friend int PathStatus(const TFileHandle&, const std::string&, bool, TFileStatus&);
  friend int RenameReplacing(const TFileHandle&, const std::string&, const std::string&);
  int FFd = -1;
  bool FHaveOpened = false;
  TFileStatus FOpened;
};

// Opens Path with the TOpenFlag bits of Flags. A file that ofCreate creates
// gets the POSIX permission bits Rights (0 means 0666), less the umask; a
// system without permission bits ignores Rights. Opening
// never blocks on a FIFO without a writer, and a directory is refused
// (opening it for reading would succeed on Linux and only reading it fail).
int OpenFileHandle(const std::string& Path, unsigned Flags, std::uint32_t Rights, TFileHandle& Handle);
// The same for Name in the open directory Dir (nullptr: Name is a path).
int OpenFileHandle(const TFileHandle* Dir, const std::string& Name, unsigned Flags, std::uint32_t Rights,
                   TFileHandle& Handle);

// Removes a name that is not a directory (a symbolic link itself, never its
// target).
int UnlinkPath(const std::string& Path);
int RemoveEmptyDirectory(const std::string& Path);
// Creates one directory with 0777 less the umask.
int MakeDirectory(const std::string& Path);

// Gives OldName the name NewName, never replacing what NewName names: an
// existing NewName fails with 183 and both stay as they were. Where the file
// system refuses the kernel's no-replace rename, the way below is taken.
int RenameNoReplace(const std::string& OldName, const std::string& NewName);

// The no-replace rename without the kernel's flag. A file gets NewName as a
// hard link, which never replaces anything, and then loses OldName. A
// directory, which cannot be linked, first has NewName reserved as an empty
// directory (mkdir fails on any existing name) and is then renamed over that
// reservation; had anything been put into it meanwhile, the rename fails
// instead of replacing it. Where the file system has no hard links the same
// reservation is made with an empty file. Public so that it is tested on
// every machine, not only where the kernel flag is refused.
int RenameNoReplaceByReservation(const std::string& OldName, const std::string& NewName);

// Gives OldName the name NewName in one step, replacing a file NewName names:
// a reader sees either the old or the new file under NewName, never none.
int RenameReplacing(const std::string& OldName, const std::string& NewName);
// The same for two names in the open directory Dir.
int RenameReplacing(const TFileHandle& Dir, const std::string& OldName, const std::string& NewName);

// Gives the file Existing the further name NewName (a hard link), never
// replacing anything (183). ErrNotSupported when this file system, or this
// file, cannot get another name that way (no hard links, another device,
// refused by protected_hardlinks, too many links already).
int MakeHardLink(const std::string& Existing, const std::string& NewName);

// Flushes the entries of the directory Path (names made, renamed, removed)
// to the disk. A file system that cannot flush a directory gives 0.
int SyncDirectory(const std::string& Path);

// Sets the POSIX permission bits (07777) of Path. A symbolic link itself has
// none: with FollowLink false and Path a link the result is 50, as on a
// system without permission bits.
int ChangeMode(const std::string& Path, std::uint32_t Mode, bool FollowLink);

// The permission bits a file gets that is created with Rights 0 (0666 less
// the process's umask, read without changing it; 0600 where the system does
// not tell it); 0 on a system without permission bits.
std::uint32_t DefaultNewFileMode();

// Gives DestName (links followed) the owner and the access rights of
// SrcName: on POSIX systems its owner, group and permission bits. A user who
// may not give a file away still hands it to a group of theirs; beyond that
// the owner stays, and only the permission bits decide the result.
int CopyOwnerAndAccess(const std::string& SrcName, const std::string& DestName);

// Gives DestName (links followed) the named data of SrcName that belongs to
// the user: on POSIX systems the extended attributes of the user.* name
// space. 0 when the file system of SrcName keeps none.
int CopyNamedStreams(const std::string& SrcName, const std::string& DestName);

// Sets the last-access and last-write times of Path (of the link itself when
// FollowLink is false) to the 100-ns precision of a file time. A time of 0
// leaves that time unchanged, as it does on Windows.
int SetPathTimes(const std::string& Path, TFileTime LastAccessTime, TFileTime LastWriteTime, bool FollowLink);

// The text of the symbolic link Path, as written (a relative target is
// relative to the link's directory).
int ReadSymLink(const std::string& Path, std::string& Target);

// The absolute path of Path with every link, "." and ".." resolved; every
// part of Path must exist.
int ResolveExistingPath(const std::string& Path, std::string& Resolved);

// The offset of local time from UTC in seconds (east positive) at the UTC
// time UnixSeconds, following the time zone as TZ names it at the moment of
// the call. False when the system cannot convert that time.
bool UtcOffsetAt(std::int64_t UnixSeconds, std::int64_t& OffsetSeconds);

}  // namespace dz
