#pragma once
// The codes a copy job ends with: severity | number (filesys/ErrorTexts.h).
// The worker adds its action (ErrorType) to every code but 0, so a read
// failure of a plain copy is reported as caCopy | cjReadFile = 0x1104.

#include "filesys/ErrorTexts.h"
#include "platform/SysError.h"

namespace dz {

inline constexpr int cjFileNotFound = ceError | cnFileNotFound;        // 0x10E the source is missing
inline constexpr int cjCreateFile = ceError | cnCreateFile;            // 0x101 no destination name, or it cannot be created
inline constexpr int cjOpenFile = ceError | cnOpenFile;                // 0x102 the source cannot be opened
inline constexpr int cjReadFile = ceError | cnReadFile;                // 0x104 a read failed, or the source changed size
inline constexpr int cjWriteFile = ceError | cnWriteFile;              // 0x105 a write failed (not for lack of space)
inline constexpr int cjResetAttributes = ceError | cnSetAttributes;    // 0x106 an existing destination stays read-only
inline constexpr int cjLowDiskSpace = ceError | cnLowDiskSpace;        // 0x107 the disk is full
inline constexpr int cjUserBreak = cnUserBreak;                        // 0x080 CancelThread
inline constexpr int cjDestIsSource = ceError | cnDestIsSource;        // 0x140 the destination names the source file
inline constexpr int cjDestNotAFile = ceError | cnDestNotAFile;        // 0x141 a device, FIFO or socket is in the way
inline constexpr int cjSetAttributes = ceWarning | cnSetAttributes;    // 0x206
inline constexpr int cjSetTimestamp = ceWarning | cnSetTimestamp;      // 0x20F
inline constexpr int cjDocumentSummary = ceWarning | cnDocumentSummary;  // 0x210
inline constexpr int cjPermissions = ceWarning | cnPermissions;        // 0x213
inline constexpr int cjAltStreams = ceWarning | cnAltStreams;          // 0x225
inline constexpr int cjZipWrite = cnWriteFile;                         // 0x005 a zip header or record could not be written
// A failure that none of the steps names (an exception out of the job, no
// thread to run it on); SysErrorMsg tells what happened.
inline constexpr int cjJobFailed = ceError | 0xFF;                     // 0x1FF

// The code of a failed write of compressed data, a header or a trailer:
// the disk is full, or it is not.
inline constexpr int WriteFailureCode(int SysError) { return SysError == ErrDiskFull ? cjLowDiskSpace : cjWriteFile; }

}  // namespace dz
