#pragma once
// What the program knows about a file besides its content (size, attributes,
// time stamps), the conversions of file times, a file stream whose errors
// carry a system error code, and the copy of a single file.
//
// File times (TFileTime, platform/FileOps.h) count 100-nanosecond intervals
// since 1601-01-01 00:00:00 UTC everywhere. Linux keeps nanoseconds; a time
// stamp carried from file to file keeps 100-ns precision and loses the last
// two digits of its nanoseconds.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "base/SafeFormat.h"
#include "filesys/XlFileUtils.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"

namespace dz {

struct TFileTimestamps {
  bool Valid = false;  // the three times were read from a file
  TFileTime CreationTime = 0;  // 0 where the file system does not record it
  TFileTime LastAccessTime = 0;
  TFileTime LastWriteTime = 0;
};

// A stream that travels with TFileData; nothing on Linux fills it.
struct TFileStreamData {
  std::shared_ptr<void> FileStream;
  std::uint32_t BufferSize = 0;
};

struct TFileData {
  std::string FileName;  // the name part
  std::string FullPath;  // left empty by GetFileData
  TFileStreamData StreamData;
  std::int64_t FileSize = 0;
  std::uint32_t FileAttr = faArchive;  // an attribute value, mode part included (XlFileUtils.h)
  TFileTimestamps TimeStamps;
};

// A calendar date and time of day to the millisecond that belongs to no
// time zone: ConvertFileTime and MakeFileTime convert without any time-zone
// conversion, so a UTC file time gives the reading of a UTC clock. Its
// parts: std::chrono::year_month_day{floor<days>(T)} and
// hh_mm_ss{T - floor<days>(T)}.
using TDateTime = std::chrono::local_time<std::chrono::milliseconds>;

// Fills Data with what is known about FileName: FileName := its name part;
// size, attributes and the three time stamps (Valid true) of the file,
// a symbolic link being followed, as a copy reads the target's content.
// False when it is not found (a dangling link included); Data then stays
// reset (size 0, attributes 0x20, time stamps not valid). Never raises.
bool GetFileData(const std::string& FileName, TFileData& Data);

// Gives FileName the time stamps. Invalid time stamps are replaced by the
// current time (UTC, like every file time); with CheckTime so is each time that cannot be converted or
// lies more than one day in the future. AllTimes sets the last-access and
// last-write times (Linux cannot set a creation time), otherwise only the
// last-write time is set; a time of 0 stays as the file has it. FollowLink
// sets the times of a link's target (a dangling link gives 2), otherwise
// those of the link itself. Setting a time needs the file's owner (or root).
int SetFileTimestamps(const std::string& FileName, const TFileTimestamps& Timestamps, bool CheckTime, bool AllTimes,
                      bool FollowLink);

// The file time as a calendar date and time, without any time-zone
// conversion; milliseconds kept, the rest cut off. Times from 1601-01-01
// to 9999-12-31 convert; for any other, DateTime is the current local date
// and time and the result false.
bool ConvertFileTime(TFileTime FileTime, TDateTime& DateTime);

// The calendar date and time encoded as a file time, without any time-zone
// conversion. A date before 1601 gives a negative value, which
// ConvertFileTime rejects.
TFileTime MakeFileTime(TDateTime DateTime);

// Seconds since 1970-01-01 00:00:00 of the converted file time, rounded to
// the nearest second with halves to even; a UTC file time gives UTC seconds.
// A time that cannot be converted gives the current time.
std::int64_t FileTimeToUnixTime(TFileTime FileTime);

// The file time in local time (the zone's offset at that moment) as MS-DOS
// date (high 16 bits) and time (low 16 bits, seconds halved); -1 when it
// cannot be converted or the year lies outside 1980 to 2107.
std::int32_t FileTimeToDosTime(TFileTime FileTime);

// The file's last-write time; a symbolic link is followed, and one whose
// target is missing gives its own. 0 when it cannot be read.
TFileTime GetLastWriteFileTime(const std::string& FileName);

// Sets only the last-write time, following links. With CheckTime a time that
// cannot be converted or lies more than one day in the future becomes the
// current time. A time of 0 leaves the file's time as it is.
int SetLastWriteFileTime(const std::string& FileName, TFileTime FileTime, bool CheckTime);

// An I/O failure of a file stream, with the system error code behind it.
class EExtFileStreamError : public EInOutError {
public:
  EExtFileStreamError(const std::string& Msg, int FError) : EInOutError(Msg, FError) {}
  // The message is the translated ResString filled with Args.
  static EExtFileStreamError CreateResFmt(const char* ResString, std::initializer_list<TFormatArg> Args, int FError);
};

// Raised by CopySingleFile for every failure.
class ECopyError : public EExtFileStreamError {
public:
  ECopyError(const std::string& Msg, int FError) : EExtFileStreamError(Msg, FError) {}
};

// Modes of TExtFileStream. Below fmCreate: the access in the low two bits
// and the sharing in bits 4 to 7. Linux cannot keep other programs away from
// a file, so the sharing bits are checked for range and otherwise have no
// effect; advisory locks would only hold back programs that ask for them
// (the copy engine locks its destination itself: TFileHandle::LockExclusive).
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareCompat = 0x0000;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;
// Creates the file for reading and writing, an existing one losing its
// content; with fmExclusive in the low byte only a new file is created.
inline constexpr std::uint16_t fmCreate = 0xFF00;
inline constexpr std::uint16_t fmExclusive = 0x0004;

// A file stream whose reads and writes return system error codes instead of
// raising. It owns its file and closes it when destroyed.
class TExtFileStream {
public:
  TExtFileStream(const std::string& AFileName, std::uint16_t Mode) : TExtFileStream(AFileName, Mode, 0) {}
  // Opens (Mode below fmCreate) or creates AFileName; raises
  // EExtFileStreamError with "Cannot open file "%s". %s" or "Cannot create
  // file "%s". %s" (the full path and the system's text) on failure. A Mode
  // with the access bits 3 or a low byte above 0x4F fails with 87. Rights are
  // the permission bits of a file that is created (0: 0666), less the umask.
  // Opened close-on-exec; a folder is refused.
  TExtFileStream(const std::string& AFileName, std::uint16_t Mode, std::uint32_t Rights);
  // Takes over Handle, opened by the caller (who has checked what it is), as
  // the stream of AFileName.
  TExtFileStream(const std::string& AFileName, TFileHandle&& Handle);
  TExtFileStream(const TExtFileStream&) = delete;
  TExtFileStream& operator=(const TExtFileStream&) = delete;

  // Reads up to Count bytes; fewer only at the end of the file. ReadCount is
  // -1 when the result is not 0.
  int Read(void* Buffer, std::size_t Count, std::int64_t& ReadCount);
  // Writes Count bytes; WriteCount below Count means the file system took no
  // more. WriteCount is -1 when the result is not 0.
  int Write(const void* Buffer, std::size_t Count, std::int64_t& WriteCount);
  // The new position, or -1.
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin);
  std::int64_t Size() const;  // -1 when it cannot be read
  int SetSize(std::int64_t NewSize);
  int Flush();  // to the disk
  int Status(TFileStatus& Into) const;
  // The file as it was opened (see TFileHandle::OpenedStatus).
  int OpenedStatus(TFileStatus& Into) const { return FHandle.OpenedStatus(Into); }
  int StartWriteback(std::int64_t Offset, std::int64_t Length) { return FHandle.StartWriteback(Offset, Length); }
  // SetFileTimestamps and XlFileSetAttr for the open file itself: they reach
  // the file this stream wrote, whatever its name has become meanwhile.
  int SetTimestamps(const TFileTimestamps& Timestamps, bool CheckTime, bool AllTimes);
  int SetAttr(int Attr);
  // Closes the file now and reports what closing reports (a network file
  // system or a quota may refuse data only here).
  int Close();

  const std::string& FileName() const { return FFileName; }

private:
  std::string FFileName;
  TFileHandle FHandle;
};

// Copies SrcName to DestName with its last-write time and attributes,
// raising ECopyError for every failure ("File not found: "%s"", "Error
// opening "%s"", "Error creating "%s"", "Error reading from "%s"", "Error
// writing to "%s"" (112 when the disk is full), "Error setting timestamps of
// "%s"", "Error setting attributes of "%s""). Nothing happens when both
// names are the same or name the same file, so a file is never truncated
// onto itself. An Attr below 0 stands for the source's own attributes; the
// low 16 bits and the mode part of Attr are applied; an Attr without a mode
// part keeps the permission bits of the file replaced, or gives those of a
// new file (0666 less the umask). A read-only destination is made writable
// and replaced. Until the copy is complete the destination is its owner's
// alone (0600, also a file being replaced), so that nobody else reads a
// private file through it. BufSize below 1 means 262144. After a failure the
// destination may be left partly written, still with 0600.
void CopySingleFile(const std::string& SrcName, const std::string& DestName, int Attr, int BufSize);

// Gives DestName the permission bits of SrcName and, where allowed (as root,
// or the group for a member of it), its owner and group.
int CopyFileSecurity(const std::string& SrcName, const std::string& DestName);

// Copies the extended attributes of the user.* name space, Linux's nearest
// counterpart of named data streams. A source on a file system without
// them has none: 0. The first failure is the result.
int CopyAlternateStreams(const std::string& SrcName, const std::string& DestName);

// Document summary property sets of structured storage.
using TPropertyValue = std::variant<std::monostate, std::int64_t, double, std::string>;
struct TSummaryProperty {
  std::uint32_t Id = 0;
  TPropertyValue Value;
};
struct TSummaryPropertySet {
  std::string FormatId;
  std::vector<TSummaryProperty> Properties;
};
using TFileSummary = std::vector<TSummaryPropertySet>;

// Linux files have no document summary: both give 120 (not implemented),
// and Summary stays empty.
int ReadFileSummary(const std::string& FileName, TFileSummary& Summary);
int WriteFileSummary(const std::string& FileName, const TFileSummary& Summary);

}  // namespace dz
