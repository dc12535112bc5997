#include "filesys/FileUtils.h"

#include <new>
#include <utility>

#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "platform/Environment.h"
#include "platform/SysError.h"

namespace dz {

namespace {

using namespace std::chrono;

constexpr TFileTime TicksPerMillisecond = 10000;
constexpr TFileTime OneDay = 86400 * FileTimeTicksPerSecond;
constexpr int DefaultCopyBufferSize = 262144;
constexpr std::uint32_t OwnerOnlyMode = 0600;

constexpr local_days Epoch1601 = local_days{year{1601} / January / 1};
// The last file time that ConvertFileTime accepts: 9999-12-31 23:59:59.9999999.
constexpr TFileTime MaxConvertibleFileTime =
    (local_days{year{10000} / January / 1} - Epoch1601).count() * 86400 * FileTimeTicksPerSecond - 1;

TFileTime FileTimeNow() {
  const auto Ticks = duration_cast<duration<std::int64_t, std::ratio<1, 10000000>>>(
      system_clock::now().time_since_epoch());
  return Ticks.count() + FileTimeOfUnixEpoch;
}

TDateTime LocalNow() {
  const auto Now = floor<milliseconds>(system_clock::now());
  std::int64_t Offset = 0;
  UtcOffsetAt(floor<seconds>(Now).time_since_epoch().count(), Offset);
  return TDateTime{Now.time_since_epoch() + seconds{Offset}};
}

// The time as it is, or the current time when it cannot be converted or
// lies more than a day ahead. "Now" is the real UTC time, as every file time
// is UTC; the local clock reading would shift the stamp by the zone offset.
TFileTime PlausibleTime(TFileTime Time, TFileTime Now) {
  TDateTime Ignored;
  if (!ConvertFileTime(Time, Ignored) || Time > Now + OneDay)
    return Now;
  return Time;
}

std::int64_t FloorDiv(std::int64_t A, std::int64_t B) {
  std::int64_t Q = A / B;
  if ((A % B != 0) && ((A < 0) != (B < 0)))
    --Q;
  return Q;
}


[[noreturn]] void RaiseCopyError(const char* Format, const std::string& Name, int Code) {
  throw ECopyError(SafeFormat(Tr(Format), Name), Code);
}

}  // namespace

bool GetFileData(const std::string& FileName, TFileData& Data) {
  Data = TFileData();
  Data.FileName = ExtractFileName(FileName);
  TFileStatus S;
  if (PathStatus(FileName, true, S) != ErrSuccess)
    return false;
  const int Attr = FileStatusAttr(S, FileName);
  Data.FileSize = S.Kind == TFileKind::fkRegular ? S.Size : 0;
  Data.FileAttr = static_cast<std::uint32_t>(Attr);
  Data.TimeStamps.Valid = true;
  Data.TimeStamps.CreationTime = S.CreationTime;
  Data.TimeStamps.LastAccessTime = S.LastAccessTime;
  Data.TimeStamps.LastWriteTime = S.LastWriteTime;
  return true;
}

namespace {

// The last-access (0: left as it is) and last-write times SetFileTimestamps
// gives a file.
std::pair<TFileTime, TFileTime> TimesToSet(const TFileTimestamps& Timestamps, bool CheckTime, bool AllTimes) {
  const TFileTime Now = FileTimeNow();
  TFileTime Access = Now;
  TFileTime Write = Now;
  if (Timestamps.Valid) {
    Access = Timestamps.LastAccessTime;
    Write = Timestamps.LastWriteTime;
    if (CheckTime) {
      Access = PlausibleTime(Access, Now);
      Write = PlausibleTime(Write, Now);
    }
  }
  return {AllTimes ? Access : 0, Write};
}

}  // namespace

int SetFileTimestamps(const std::string& FileName, const TFileTimestamps& Timestamps, bool CheckTime, bool AllTimes,
                      bool FollowLink) {
  const auto [Access, Write] = TimesToSet(Timestamps, CheckTime, AllTimes);
  return SetPathTimes(FileName, Access, Write, FollowLink);
}

bool ConvertFileTime(TFileTime FileTime, TDateTime& DateTime) {
  if (FileTime < 0 || FileTime > MaxConvertibleFileTime) {
    DateTime = LocalNow();
    return false;
  }
  DateTime = TDateTime{Epoch1601} + milliseconds{FileTime / TicksPerMillisecond};
  return true;
}

TFileTime MakeFileTime(TDateTime DateTime) {
  const std::int64_t Ms = (DateTime - TDateTime{Epoch1601}).count();
  if (Ms > INT64_MAX / TicksPerMillisecond)
    return INT64_MAX;
  if (Ms < INT64_MIN / TicksPerMillisecond)
    return INT64_MIN;
  return Ms * TicksPerMillisecond;
}

std::int64_t FileTimeToUnixTime(TFileTime FileTime) {
  TDateTime DateTime;
  if (!ConvertFileTime(FileTime, DateTime))
    return FloorDiv(FileTimeNow() - FileTimeOfUnixEpoch, FileTimeTicksPerSecond);
  const std::int64_t Ms = DateTime.time_since_epoch().count();
  std::int64_t Seconds = FloorDiv(Ms, 1000);
  const std::int64_t Rest = Ms - Seconds * 1000;
  if (Rest > 500 || (Rest == 500 && (Seconds & 1) != 0))
    ++Seconds;
  return Seconds;
}

std::int32_t FileTimeToDosTime(TFileTime FileTime) {
  if (FileTime < 0 || FileTime > MaxConvertibleFileTime)
    return -1;
  std::int64_t Offset = 0;
  if (!UtcOffsetAt(FloorDiv(FileTime - FileTimeOfUnixEpoch, FileTimeTicksPerSecond), Offset))
    return -1;
  TDateTime Local;
  if (!ConvertFileTime(FileTime + Offset * FileTimeTicksPerSecond, Local))
    return -1;
  const local_days Day = floor<days>(Local);
  const year_month_day Date{Day};
  const hh_mm_ss<milliseconds> Time{Local - Day};
  const int Year = static_cast<int>(Date.year());
  if (Year < 1980 || Year > 2107)
    return -1;
  const std::uint32_t DosDate = (static_cast<std::uint32_t>(Year - 1980) << 9) |
                                (static_cast<unsigned>(Date.month()) << 5) | static_cast<unsigned>(Date.day());
  const std::uint32_t DosTime = (static_cast<std::uint32_t>(Time.hours().count()) << 11) |
                                (static_cast<std::uint32_t>(Time.minutes().count()) << 5) |
                                static_cast<std::uint32_t>(Time.seconds().count() / 2);
  return static_cast<std::int32_t>((DosDate << 16) | DosTime);
}

TFileTime GetLastWriteFileTime(const std::string& FileName) {
  TFileStatus S;
  if (PathStatus(FileName, true, S) == ErrSuccess || PathStatus(FileName, false, S) == ErrSuccess)
    return S.LastWriteTime;
  return 0;
}

int SetLastWriteFileTime(const std::string& FileName, TFileTime FileTime, bool CheckTime) {
  if (CheckTime)
    FileTime = PlausibleTime(FileTime, FileTimeNow());
  return SetPathTimes(FileName, 0, FileTime, true);
}

EExtFileStreamError EExtFileStreamError::CreateResFmt(const char* ResString, std::initializer_list<TFormatArg> Args,
                                                      int FError) {
  return EExtFileStreamError(SafeFormatArgs(Tr(ResString), Args), FError);
}

TExtFileStream::TExtFileStream(const std::string& AFileName, std::uint16_t Mode, std::uint32_t Rights) {
  const bool Create = Mode >= fmCreate;
  int E;
  if (!Create) {
    const unsigned Access = Mode & 3u;
    if (Access == 3 || (Mode & 0xFFu) > 0x4F)
      E = ErrInvalidParameter;
    else
      E = OpenFileHandle(AFileName, Access == fmOpenRead ? ofRead : Access == fmOpenWrite ? ofWrite : ofRead | ofWrite, 0,
                         FHandle);
  } else {
    unsigned Low = Mode & 0xFFu;
    if (Low == 0xFF)
      Low = fmShareExclusive;
    const unsigned Disposition = (Low & fmExclusive) != 0 ? ofCreateNew : ofTruncate;
    E = OpenFileHandle(AFileName, ofRead | ofWrite | ofCreate | Disposition, Rights, FHandle);
  }
  if (E != ErrSuccess) {
    throw EExtFileStreamError::CreateResFmt(Create ? TrMark("Cannot create file \"%s\". %s")
                                                   : TrMark("Cannot open file \"%s\". %s"),
                                            {AbsolutePath(AFileName), PlatformErrorText(E)}, E);
  }
  FFileName = AFileName;
}

TExtFileStream::TExtFileStream(const std::string& AFileName, TFileHandle&& Handle)
    : FFileName(AFileName), FHandle(std::move(Handle)) {}

int TExtFileStream::Read(void* Buffer, std::size_t Count, std::int64_t& ReadCount) {
  std::size_t Done = 0;
  const int E = FHandle.Read(Buffer, Count, Done);
  ReadCount = E == ErrSuccess ? static_cast<std::int64_t>(Done) : -1;
  return E;
}

int TExtFileStream::Write(const void* Buffer, std::size_t Count, std::int64_t& WriteCount) {
  std::size_t Done = 0;
  const int E = FHandle.Write(Buffer, Count, Done);
  WriteCount = E == ErrSuccess ? static_cast<std::int64_t>(Done) : -1;
  return E;
}

std::int64_t TExtFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t Position = -1;
  FHandle.Seek(Offset, Origin, Position);
  return Position;
}

std::int64_t TExtFileStream::Size() const {
  TFileStatus S;
  return FHandle.Status(S) == ErrSuccess ? S.Size : -1;
}

int TExtFileStream::SetSize(std::int64_t NewSize) {
  return FHandle.Truncate(NewSize);
}

int TExtFileStream::Flush() {
  return FHandle.Sync();
}

int TExtFileStream::Status(TFileStatus& Into) const {
  return FHandle.Status(Into);
}

int TExtFileStream::SetTimestamps(const TFileTimestamps& Timestamps, bool CheckTime, bool AllTimes) {
  const auto [Access, Write] = TimesToSet(Timestamps, CheckTime, AllTimes);
  return FHandle.SetTimes(Access, Write);
}

int TExtFileStream::SetAttr(int Attr) {
  if (Attr < 0)
    return ErrInvalidParameter;
  TFileStatus S;
  if (const int E = FHandle.Status(S))
    return E;
  const std::uint32_t Mode = ModeOfAttr(Attr, PosixMode(S));
  return Mode == PosixMode(S) ? ErrSuccess : FHandle.ChangeMode(Mode);
}

int TExtFileStream::Close() {
  return FHandle.Close();
}

void CopySingleFile(const std::string& SrcName, const std::string& DestName, int Attr, int BufSize) {
  // Linux names that differ only in case are two files; names that differ
  // in spelling but name one file are caught below, once the source is open.
  if (SrcName == DestName)
    return;
  if (!XlFileExists(SrcName, true) || DestName.empty())
    RaiseCopyError("File not found: \"%s\"", SrcName, ErrFileNotFound);

  const std::size_t Size = BufSize > 0 ? static_cast<std::size_t>(BufSize) : DefaultCopyBufferSize;
  std::vector<char> Buffer;
  try {
    Buffer.resize(Size);
  } catch (const std::bad_alloc&) {
    RaiseCopyError("Error opening \"%s\"", SrcName, ErrNotEnoughMemory);
  }
  const TFileTime Time = GetLastWriteFileTime(SrcName);
  if (Attr < 0)
    Attr = XlFileGetAttr(SrcName, true);
  // Unreadable attributes are not to make the copy read-only and hidden.
  Attr = Attr < 0 ? faArchive : Attr & (faWindowsMask | faModeMask | faModePresent);

  std::unique_ptr<TExtFileStream> Source;
  try {
    Source = std::make_unique<TExtFileStream>(SrcName, fmOpenRead | fmShareDenyNone);
  } catch (const EExtFileStreamError& Error) {
    RaiseCopyError("Error opening \"%s\"", SrcName, Error.ErrorCode);
  }

  // Creating the destination would truncate the source first if both were
  // one file (a hard link, a link, "./name").
  TFileStatus SourceStatus;
  TFileStatus DestStatus;
  if (Source->Status(SourceStatus) == ErrSuccess && PathStatus(DestName, true, DestStatus) == ErrSuccess &&
      SameFileStatus(SourceStatus, DestStatus))
    return;

  // The copy belongs to its owner alone until it is complete: a private
  // file carried over is never readable by others meanwhile, nor is what a
  // failure leaves behind. A file being replaced is made so before it is
  // truncated. Attributes without permission bits keep those the copy would
  // have had: the replaced file's, or those of a new file.
  std::uint32_t PlainMode = 0;
  if (XlFileExists(DestName, true)) {
    const int Old = XlFileGetAttr(DestName, true);
    if (Old >= 0 && AttrHasMode(Old))
      PlainMode = AttrMode(Old);
    if (const int E = XlFileSetAttr(DestName, AttrWithMode(faArchive, OwnerOnlyMode), true))
      RaiseCopyError("Error creating \"%s\"", DestName, E);
  } else {
    PlainMode = DefaultNewFileMode();
  }
  if (!AttrHasMode(Attr))
    Attr = AttrWithMode(Attr, PlainMode);
  std::unique_ptr<TExtFileStream> Dest;
  try {
    Dest = std::make_unique<TExtFileStream>(DestName, fmCreate, OwnerOnlyMode);
  } catch (const EExtFileStreamError& Error) {
    RaiseCopyError("Error creating \"%s\"", DestName, Error.ErrorCode);
  }

  for (;;) {
    std::int64_t Got = 0;
    if (const int E = Source->Read(Buffer.data(), Size, Got))
      RaiseCopyError("Error reading from \"%s\"", SrcName, E);
    std::int64_t Put = 0;
    if (const int E = Dest->Write(Buffer.data(), static_cast<std::size_t>(Got), Put))
      RaiseCopyError("Error writing to \"%s\"", DestName, E);
    if (Put < Got)
      RaiseCopyError("Error writing to \"%s\"", DestName, ErrDiskFull);
    if (static_cast<std::size_t>(Got) < Size)
      break;
  }
  Source.reset();
  // Data refused only when the file is closed (a network file system, a
  // quota) is lost data, not a detail of releasing the stream.
  if (const int E = Dest->Close())
    RaiseCopyError("Error writing to \"%s\"", DestName, E);
  Dest.reset();

  if (const int E = SetLastWriteFileTime(DestName, Time, true))
    RaiseCopyError("Error setting timestamps of \"%s\"", DestName, E);
  if (const int E = XlFileSetAttr(DestName, Attr, true))
    RaiseCopyError("Error setting attributes of \"%s\"", DestName, E);
}

int CopyFileSecurity(const std::string& SrcName, const std::string& DestName) {
  return CopyOwnerAndAccess(SrcName, DestName);
}

int CopyAlternateStreams(const std::string& SrcName, const std::string& DestName) {
  return CopyNamedStreams(SrcName, DestName);
}

int ReadFileSummary(const std::string& FileName, TFileSummary& Summary) {
  (void)FileName;
  Summary.clear();
  return ErrCallNotImplemented;
}

int WriteFileSummary(const std::string& FileName, const TFileSummary& Summary) {
  (void)FileName;
  (void)Summary;
  return ErrCallNotImplemented;
}

}  // namespace dz
