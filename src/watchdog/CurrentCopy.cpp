#include "watchdog/CurrentCopy.h"

#include <algorithm>
#include <cstring>

#include "copyengine/CopyRecord.h"
#include "copyengine/Crc32.h"
#include "copyengine/GzipFormat.h"
#include "copyengine/ZipFormat.h"
#include "filesys/FileUtils.h"
#include "filesys/PathUtils.h"

namespace dz {

namespace {

// The steps to which file systems round the times they keep: 1 µs, 10 ms
// (exFAT), 1 s (ext3 with small inodes, HFS+, some network file systems),
// 2 s (FAT).
constexpr TFileTime TimeSteps[] = {10, 100000, FileTimeTicksPerSecond, 2 * FileTimeTicksPerSecond};

// Bytes read from each file per comparison step.
constexpr std::size_t CompareBlock = 256 * 1024;

TFileTime RoundedDown(TFileTime Time, TFileTime Step) {
  const TFileTime Rest = Time % Step;
  return Time - (Rest < 0 ? Rest + Step : Rest);
}

int OpenIn(const TFileHandle* Folder, const std::string& Path, unsigned Flags, TFileHandle& Handle) {
  return Folder != nullptr ? OpenFileHandle(Folder, ExtractFileName(Path), Flags, 0, Handle)
                           : OpenFileHandle(Path, Flags, 0, Handle);
}

// The source opened for reading, when it is still the file that was judged.
bool OpenSameSource(const TCurrentCopyQuery& Query, const TFileStatus& Judged, TFileHandle& Handle) {
  TFileStatus Opened;
  return OpenIn(Query.SourceFolder, Query.Source, ofRead, Handle) == 0 && Handle.OpenedStatus(Opened) == 0 &&
         Opened.Kind == TFileKind::fkRegular && SameFileStatus(Opened, Judged) && Opened.Size == Judged.Size &&
         Opened.LastWriteTime == Judged.LastWriteTime;
}

TCurrentCopy SameBytes(TFileHandle& Source, TFileHandle& Copy, std::int64_t Size, std::vector<char>& Buffer,
                       const std::stop_token& Stop) {
  Buffer.resize(std::max(Buffer.size(), 2 * CompareBlock));
  char* const A = Buffer.data();
  char* const B = Buffer.data() + CompareBlock;
  std::int64_t Left = Size;
  for (;;) {
    if (Stop.stop_requested()) return TCurrentCopy::ccStopped;
    std::size_t GotA = 0, GotB = 0;
    if (Source.Read(A, CompareBlock, GotA) != 0 || Copy.Read(B, CompareBlock, GotB) != 0 || GotA != GotB ||
        std::memcmp(A, B, GotA) != 0)
      return TCurrentCopy::ccDifferent;
    Left -= static_cast<std::int64_t>(GotA);
    if (GotA < CompareBlock) return Left == 0 ? TCurrentCopy::ccSame : TCurrentCopy::ccDifferent;
  }
}

TCurrentCopy SameCrc(TFileHandle& Source, std::int64_t Size, std::uint32_t Crc, std::vector<char>& Buffer,
                     const std::stop_token& Stop) {
  Buffer.resize(std::max(Buffer.size(), CompareBlock));
  std::uint32_t Computed = 0;
  std::int64_t Read = 0;
  for (;;) {
    if (Stop.stop_requested()) return TCurrentCopy::ccStopped;
    std::size_t Got = 0;
    if (Source.Read(Buffer.data(), CompareBlock, Got) != 0) return TCurrentCopy::ccDifferent;
    Computed = Crc32Update(Computed, Buffer.data(), Got);
    Read += static_cast<std::int64_t>(Got);
    if (Got < CompareBlock) break;
  }
  return Read == Size && Computed == Crc ? TCurrentCopy::ccSame : TCurrentCopy::ccDifferent;
}

// The copy is the source: it gets the source's permission bits, which the job
// would have given it, through a handle of the very file looked at. Where
// the file system keeps no such bits (FAT) a new copy would get them no
// better, so a refusal changes nothing.
void MatchPermissions(const TCurrentCopyQuery& Query, const TFileStatus& Source, const TFileStatus& Copy) {
  const std::uint32_t Mode = PosixMode(Source) & 07777u;
  if ((PosixMode(Copy) & 07777u) == Mode) return;
  TFileHandle Handle;
  TFileStatus Opened;
  if (OpenIn(Query.CopyFolder, Query.Copy, ofStatusOnly | ofNoFollow, Handle) == 0 && Handle.Status(Opened) == 0 &&
      SameFileStatus(Opened, Copy) && Opened.Kind == TFileKind::fkRegular)
    Handle.ChangeMode(Mode);
}

// What the writer puts into the header of a copy of Source.
std::string StoredNameOf(const std::string& Source, bool Zip) {
  const std::string Name = DefaultEntryName(Source);
  return Zip ? EncodeZipName(Name).Bytes : EncodeGzipName(Name).Bytes;
}

}  // namespace

int PathStatusIn(const TFileHandle* Folder, const std::string& Path, bool FollowLink, TFileStatus& Status) {
  return Folder != nullptr ? PathStatus(*Folder, ExtractFileName(Path), FollowLink, Status)
                           : PathStatus(Path, FollowLink, Status);
}

TCopyVerdict JudgeCopyTimes(TFileTime SourceWrite, TFileTime CopyWrite, TFileTime CopyChange) {
  if (CopyWrite == SourceWrite)
    return CopyChange - SourceWrite < RacyMargin ? TCopyVerdict::cvCompareContent : TCopyVerdict::cvSame;
  for (const TFileTime Step : TimeSteps) {
    const TFileTime Down = RoundedDown(SourceWrite, Step);
    if (CopyWrite == Down || CopyWrite == Down + Step) return TCopyVerdict::cvCompareContent;
  }
  return TCopyVerdict::cvDifferent;
}

TCurrentCopy CompareWithCurrentCopy(const TCurrentCopyQuery& Query, std::vector<char>& Buffer,
                                    std::stop_token Stop) {
  // The job follows a link to the source, and never writes through one in
  // the copy's place.
  TFileStatus Source, Copy;
  if (PathStatusIn(Query.SourceFolder, Query.Source, true, Source) != 0 || Source.Kind != TFileKind::fkRegular ||
      PathStatusIn(Query.CopyFolder, Query.Copy, false, Copy) != 0 || Copy.Kind != TFileKind::fkRegular)
    return TCurrentCopy::ccDifferent;
  const TCopyVerdict Verdict = JudgeCopyTimes(Source.LastWriteTime, Copy.LastWriteTime, Copy.ChangeTime);
  if (Verdict == TCopyVerdict::cvDifferent) return TCurrentCopy::ccDifferent;

  TCurrentCopy Result = TCurrentCopy::ccDifferent;
  if ((Query.Options & (coCompress | coZipCompress)) == 0) {
    if (Copy.Size != Source.Size) return TCurrentCopy::ccDifferent;
    if (Verdict == TCopyVerdict::cvSame) {
      Result = TCurrentCopy::ccSame;
    } else {
      TFileHandle SourceFile, CopyFile;
      TFileStatus Opened;
      if (!OpenSameSource(Query, Source, SourceFile) ||
          OpenIn(Query.CopyFolder, Query.Copy, ofRead | ofNoFollow, CopyFile) != 0 ||
          CopyFile.OpenedStatus(Opened) != 0 || !SameFileStatus(Opened, Copy))
        return TCurrentCopy::ccDifferent;
      Result = SameBytes(SourceFile, CopyFile, Source.Size, Buffer, Stop);
    }
  } else {
    const bool Zip = (Query.Options & coZipCompress) != 0;
    TFileHandle CopyFile;
    TFileStatus Opened;
    TCopyRecord Record;
    if (OpenIn(Query.CopyFolder, Query.Copy, ofRead | ofNoFollow, CopyFile) != 0 ||
        CopyFile.OpenedStatus(Opened) != 0 || !SameFileStatus(Opened, Copy) ||
        !ReadCopyRecord(CopyFile, static_cast<std::uint64_t>(Opened.Size),
                        Zip ? TCopyFormat::cfZip : TCopyFormat::cfGzip, Record))
      return TCurrentCopy::ccDifferent;
    // What the writer would put into the header for this source.
    const std::uint32_t Time = Zip ? static_cast<std::uint32_t>(FileTimeToDosTime(Source.LastWriteTime))
                                   : static_cast<std::uint32_t>(FileTimeToUnixTime(Source.LastWriteTime));
    const std::string StoredName = StoredNameOf(Query.Source, Zip);
    if (Record.Size != static_cast<std::uint64_t>(Source.Size) || Record.Time != Time || Record.Name != StoredName)
      return TCurrentCopy::ccDifferent;
    if (Verdict == TCopyVerdict::cvSame) {
      Result = TCurrentCopy::ccSame;
    } else {
      TFileHandle SourceFile;
      if (!OpenSameSource(Query, Source, SourceFile)) return TCurrentCopy::ccDifferent;
      Result = SameCrc(SourceFile, Source.Size, Record.Crc, Buffer, Stop);
    }
  }
  if (Result == TCurrentCopy::ccSame) MatchPermissions(Query, Source, Copy);
  return Result;
}

bool CopyRecordsSourceName(const std::string& Copy, TCopyOptions Options, const std::string& Source) {
  if ((Options & (coCompress | coZipCompress)) == 0) return false;
  const bool Zip = (Options & coZipCompress) != 0;
  TFileHandle File;
  TFileStatus Opened;
  TCopyRecord Record;
  return OpenFileHandle(Copy, ofRead | ofNoFollow, 0, File) == 0 && File.OpenedStatus(Opened) == 0 &&
         Opened.Kind == TFileKind::fkRegular &&
         ReadCopyRecord(File, static_cast<std::uint64_t>(Opened.Size), Zip ? TCopyFormat::cfZip : TCopyFormat::cfGzip,
                        Record) &&
         Record.Name == StoredNameOf(Source, Zip);
}

}  // namespace dz
