#pragma once
// What a gzip or zip copy made by the copy job records of its source, read
// back from the fields GzipFormat.h and ZipFormat.h write: the size (all 64
// bits, from the gzip extra field or the zip entry with Zip64), the CRC-32,
// the time and the stored name. The parsers take bytes and do no input or
// output; ReadCopyRecord reads the few bytes they need from an open file.
//
// Only a complete copy has a record: a gzip member whose extra field holds
// sizes that add up to the file's size, a zip archive whose end records and
// one central directory header are in place. Anything else (a member made by
// another program, a torn file) has none, and is taken as a copy of nothing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "copyengine/ZipFormat.h"

namespace dz {

class TFileHandle;

struct TCopyRecord {
  std::uint64_t Size = 0;  // of the source
  std::uint32_t Crc = 0;   // CRC-32 of the source's bytes
  // gzip: MTIME (Unix seconds as the writer rounded them); zip: the MS-DOS
  // date and time.
  std::uint32_t Time = 0;
  std::string Name;  // the stored name's bytes (TStoredName::Bytes)
};

// The first bytes of a gzip copy that ParseGzipCopy needs at most: the fixed
// header and a name of any length a file system allows.
inline constexpr std::size_t GzipRecordHeadSize = GzipFixedHeaderSize + 4096;
inline constexpr std::size_t GzipTrailerSize = 8;

// Head: the copy's first bytes (all of them when it is shorter than
// GzipRecordHeadSize); Tail: its last 8 bytes; FileSize: its size.
bool ParseGzipCopy(std::string_view Head, std::string_view Tail, std::uint64_t FileSize, TCopyRecord& Record);

// The last bytes of a zip copy that ParseZipEnd needs at most: the Zip64 end
// record, its locator and the end record.
inline constexpr std::size_t ZipRecordTailSize = 56 + 20 + ZipEndRecordSize;

// Where the central directory of a one-entry archive lies.
struct TZipDirectorySpan {
  std::uint64_t Start = 0;
  std::uint64_t Size = 0;
};

// Tail: the archive's last ZipRecordTailSize bytes (all of a shorter one).
// False unless the end records describe one entry whose directory ends where
// they begin.
bool ParseZipEnd(std::string_view Tail, std::uint64_t FileSize, TZipDirectorySpan& Span);

// Bytes: the whole central directory, which must be one header with its name
// and extra fields. Entry receives what BuildZipCentralHeader wrote.
bool ParseZipCentralHeader(std::string_view Bytes, TZipEntry& Entry);

enum class TCopyFormat { cfGzip, cfZip };

// The record of the open copy File of FileSize bytes; false when it has none
// or it cannot be read. Reads from the positions it needs.
bool ReadCopyRecord(TFileHandle& File, std::uint64_t FileSize, TCopyFormat Format, TCopyRecord& Record);

}  // namespace dz
