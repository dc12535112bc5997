#pragma once
// Long path names and the file operations that take them: the form in which
// a path is handed to the platform so that names beyond the classic length
// limit work, and thin wrappers around the platform's operations on names
// and attributes.
//
// Results follow one convention: an operation that can fail returns a system
// error code (platform/SysError.h), 0 meaning success, and does not raise; a
// question returns a Boolean. Linux has no path length limit to work around,
// so the wrappers hand the path to the system as it is.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "filesys/PathUtils.h"
#include "platform/FileOps.h"

namespace dz {

// Paths of this many UTF-16 code units or more exceed what the classic
// Windows file functions accept once a file name is added below them.
inline constexpr std::size_t LongPathThreshold = 248;

// The form of Path handed to the platform. Windows style: a path already in
// long form (\\?\...) is unchanged; a network path \\server\share\... becomes
// \\?\UNC\server\share\... at any length; a local path with a drive letter
// gets \\?\ in front when it is LongPathThreshold units or longer; anything
// else (relative paths, a single character, empty) is unchanged. POSIX style:
// unchanged, as there is no such limit to work around.
//
// Callers keep and log the ordinary path; only the platform sees this form.
std::string AddLongPathPrefix(std::string_view Path, const TPathStyle& Style = NativePathStyle);

// An input or output failure that ends an operation as a whole, with the
// system error code behind it.
class EInOutError : public std::runtime_error {
public:
  EInOutError(const std::string& Msg, int AErrorCode) : std::runtime_error(Msg), ErrorCode(AErrorCode) {}
  int ErrorCode;
};

// File attributes
// ---------------
// An attribute value is a signed 32-bit integer; -1 means "could not be
// read". Its low 16 bits have their Windows meaning everywhere (the zip
// writer stores only those):
inline constexpr int faReadOnly = 0x01;
inline constexpr int faHidden = 0x02;
inline constexpr int faSysFile = 0x04;
inline constexpr int faDirectory = 0x10;
inline constexpr int faArchive = 0x20;
inline constexpr int faNormal = 0x80;
inline constexpr int faReparsePoint = 0x400;  // a symbolic link
inline constexpr int faWindowsMask = 0xFFFF;
//
// On Linux they are derived from the file: read-only is the absence of the
// owner's write permission; folder is a directory; reparse point is a
// symbolic link read without following it (with folder when the link points
// to a directory, else with archive); hidden is a name that begins with "."
// (the name as given, also when a link is followed); archive is set for
// regular files; a file that has none of these (a FIFO, a device) is normal.
//
// The upper bits carry the POSIX permission bits, so that a copy can be
// given the source's permissions as `cp -p` gives them:
//   bits 16-27  st_mode & 07777 (permissions, set-ID and sticky bits)
//   bit  28     faModePresent: bits 16-27 hold a mode (0 is a legal mode)
//   bits 29-31  always 0, so a value with a mode is never negative
// The attributes of a symbolic link itself carry no mode, as a link has no
// permissions of its own. A value without faModePresent (0x20 or 0x01 from
// code that knows only the Windows bits) changes only what its low bits
// mean; the Windows backend never sets the upper bits.
inline constexpr int faModeShift = 16;
inline constexpr int faModeMask = 07777 << faModeShift;
inline constexpr int faModePresent = 0x10000000;

constexpr int AttrWithMode(int Attr, std::uint32_t Mode) {
  return (Attr & faWindowsMask) | static_cast<int>((Mode & 07777u) << faModeShift) | faModePresent;
}
constexpr bool AttrHasMode(int Attr) {
  return Attr >= 0 && (Attr & faModePresent) != 0;
}
constexpr std::uint32_t AttrMode(int Attr) {
  return static_cast<std::uint32_t>(Attr & faModeMask) >> faModeShift;
}

// The attribute value of a file whose status has been read (Name as it was
// looked up; LinkToDirectory for a link, read without following, that points
// to a directory).
int FileStatusAttr(const TFileStatus& Status, std::string_view Name, bool LinkToDirectory = false);

// What a directory lookup of one name reports.
struct TXlFindData {
  std::uint32_t FileAttr = 0;
  TFileTime CreationTime = 0;  // 0 where the file system records none
  TFileTime LastAccessTime = 0;
  TFileTime LastWriteTime = 0;
  std::int64_t FileSize = 0;  // 0 for anything but a regular file
  std::string FileName;       // the name part
  std::string AlternateName;  // the short 8.3 name on Windows; empty on Linux
};

// Creates Dir and every missing folder above it; true when Dir exists as a
// folder afterwards (a folder that another thread or program creates at the
// same moment counts). Folders created before a failure stay. An empty Dir
// raises EInOutError with "Unable to create directory" and code 3.
bool XlForceDirectories(const std::string& Dir);

// True when Name exists and is not a folder. A name that cannot be read
// (missing, invalid, a path through a file) is no file. A symbolic link
// counts as itself unless FollowLink; followed, it counts when it points to
// something other than a folder, and, if that is a regular file, the file
// can be opened for reading. A dangling link exists only without FollowLink.
bool XlFileExists(const std::string& Name, bool FollowLink = true);

// True when Name is a folder; with FollowLink a link counts by its target.
// A name whose status cannot be read counts as missing for the errors that
// say so (2, 3, 21, 53, 67, 123, 161, 206 too long, 1921 a loop of links)
// and as existing for any other (a folder that may not be looked into).
bool XlDirectoryExists(const std::string& Name, bool FollowLink = true);

// Looks up exactly Name (a symbolic link itself, not its target). False when
// nothing is found; otherwise FindData is filled and the result is true
// when the entry is not a folder.
bool XlFindFile(const std::string& Name, TXlFindData& FindData);

// Deletes the file Name (a symbolic link itself, also one to a folder).
// With ClearReadOnly the read-only attribute is cleared first; a failure
// there is the result and nothing is deleted (a missing file gives 2), and
// it stays cleared if the deletion then fails. Whether a name may be deleted
// is decided by its folder's permissions, as for any Linux program: a
// read-only file in a writable folder is deleted without ClearReadOnly too.
int XlDeleteFile(const std::string& Name, bool ClearReadOnly = false);

// 0 when XlFileExists(Name, true) is false, otherwise XlDeleteFile.
int XlDeleteExistingFile(const std::string& Name, bool ClearReadOnly = false);

// Moves or renames OldName to NewName, never replacing an existing NewName
// (183, both left as they were). Files and folders alike.
int XlRenameFile(const std::string& OldName, const std::string& NewName);

// The attribute value of Name (of the link's target with FollowLink, of the
// link itself without); -1 when it cannot be read.
int XlFileGetAttr(const std::string& Name, bool FollowLink = true);

// Applies Attr to Name (to the link's target with FollowLink). Of the low
// bits only read-only can be set on Linux; the others (hidden, archive,
// folder, ...) are ignored. The permissions become the mode part of Attr, or
// stay those of the file when Attr has none, and then follow the read-only
// bit by the smallest change:
//   read-only set, owner may write      -> every write bit cleared
//   read-only clear, owner may not write -> the owner's write bit added
// (group and other write bits are not given back: nothing records them, and
// guessing would widen access). Every value from XlFileGetAttr of a file
// round-trips exactly. Nothing is written when the permissions stay as they
// are. A negative Attr (-1 for unreadable attributes) gives 87; a symbolic
// link itself has no permissions, so changing them without FollowLink gives
// 50.
int XlFileSetAttr(const std::string& Name, int Attr, bool FollowLink = true);

// The permission bits that XlFileSetAttr gives a file whose bits are
// CurrentMode: the mode part of Attr (CurrentMode without one), changed as
// little as the read-only bit asks. Attr must not be negative.
std::uint32_t ModeOfAttr(int Attr, std::uint32_t CurrentMode);

// Sets (Clear false) or clears (Clear true) the bits of Mask and writes the
// result unless it equals the old value. 2 when the attributes cannot be
// read.
int XlChangeAttr(const std::string& Name, int Mask, bool Clear, bool FollowLink = true);

// True when Name (not followed) has the folder bit: a folder, or a symbolic
// link to one.
bool IsDirectory(const std::string& Name);

// Creates FileName (an existing file loses its content) holding only the
// UTF-8 byte-order mark. A failure to create is the result; a failure to
// write or close the file raises EInOutError.
int CreateUtf8File(const std::string& FileName);

}  // namespace dz
