#pragma once
// Whether the copy a file already has in the destination is that file as it
// is now: such a file is neither copied again nor rotated, which would move
// a real previous version out for an identical one.
//
// The copy job gives every copy, plain, gzip or zip, its source's last-write
// time, so a copy with its source's time and size is that source (the quick
// look, as at every restart). The content is compared where the time cannot
// decide:
//  - the copy's time is the source's rounded to a coarser step (FAT keeps
//    2 s, exFAT 10 ms, some file systems whole seconds);
//  - the copy was made less than RacyMargin after the source's last write: a
//    write just after the copy read the file can leave the same time behind,
//    as the clock of file times advances in ticks of milliseconds.
// A gzip or zip copy must also agree in what its header records (size, time
// as the writer put it, stored name); its content is compared through the
// CRC-32 it records, a plain copy's byte for byte. A different time is a
// different file: it is copied without a look at the content.

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "copyengine/CopyJob.h"
#include "platform/FileOps.h"

namespace dz {

// What the times of a source and of its current copy say.
enum class TCopyVerdict {
  cvDifferent,       // another time: another file
  cvSame,            // the same time, made long enough after the last write
  cvCompareContent,  // a rounded time, or a copy made right after the write
};

// A copy made within this time after its source's last write may have read
// it before a later write with the same time stamp.
inline constexpr TFileTime RacyMargin = 2 * FileTimeTicksPerSecond;

// SourceWrite: the source's last-write time; CopyWrite and CopyChange: the
// copy's last-write and status-change times.
TCopyVerdict JudgeCopyTimes(TFileTime SourceWrite, TFileTime CopyWrite, TFileTime CopyChange);

enum class TCurrentCopy {
  ccDifferent,  // no copy, another file, or one that cannot be read: copy it
  ccSame,       // the copy is the source as it is now
  ccStopped,    // a stop request ended the comparison
};

struct TCurrentCopyQuery {
  std::string Source;
  std::string Copy;  // the current copy's name, with its suffix
  TCopyOptions Options;  // of the copy: plain, gzip or zip
  // The open folders of Source and Copy, or nullptr to go by the full names.
  const TFileHandle* SourceFolder = nullptr;
  const TFileHandle* CopyFolder = nullptr;
};

// Looks at Query.Copy and, where its time does not decide, reads the source
// (and a plain copy) into Buffer, which grows to what it needs and is kept
// for the next call. A copy that is the source but for its permission bits
// gets the source's bits where its file system keeps them.
TCurrentCopy CompareWithCurrentCopy(const TCurrentCopyQuery& Query, std::vector<char>& Buffer,
                                    std::stop_token Stop);

// The status of Path, looked up by its name alone in its open Folder, or by
// the full name when Folder is nullptr (a deep path may be longer than the
// system takes whole).
int PathStatusIn(const TFileHandle* Folder, const std::string& Path, bool FollowLink, TFileStatus& Status);

// Whether the gzip or zip copy Copy (Options: of such a copy) records Source's
// name as the file it holds. False for a plain copy, which records nothing,
// and for a copy without a readable record.
bool CopyRecordsSourceName(const std::string& Copy, TCopyOptions Options, const std::string& Source);

}  // namespace dz
