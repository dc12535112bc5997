#pragma once
// The records of a zip archive (PKWARE APPNOTE) that holds one file, as the
// copy worker writes it in one pass: local header with name (and a Zip64
// extra field for large sources), the data, then the CRC and sizes patched
// into the local header, the central directory, the Zip64 end records when
// the archive has grown beyond 4 GiB, and the end record. All numbers are
// little-endian; the entry always starts at offset 0.

#include <cstdint>
#include <string>
#include <string_view>

#include "copyengine/GzipFormat.h"

namespace dz {

// Sources larger than this get Zip64 fields: with a margin below 4 GiB, so
// that deflate's worst-case growth can never overflow a 32-bit size.
inline constexpr std::int64_t Zip64Threshold = 0xFF000000;
inline constexpr std::uint64_t ZipMaxValue32 = 0xFFFFFFFF;

inline constexpr std::uint16_t ZipFlagAlways = 0x0080;
inline constexpr std::uint16_t ZipFlagDeflateMax = 0x0002;
inline constexpr std::uint16_t ZipFlagUtf8 = 0x0800;
inline constexpr std::uint16_t ZipHostNtfs = 11;  // high byte of "version made by"
inline constexpr std::uint16_t ZipMethodStored = 0;
inline constexpr std::uint16_t ZipMethodDeflated = 8;
inline constexpr std::uint16_t ZipVersionDefault = 20;
inline constexpr std::uint16_t ZipVersionZip64 = 45;

inline constexpr std::uint32_t ZipLocalSignature = 0x04034B50;
inline constexpr std::uint32_t ZipCentralSignature = 0x02014B50;
inline constexpr std::uint32_t Zip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t Zip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t ZipEndSignature = 0x06054B50;
inline constexpr std::uint16_t Zip64ExtraTag = 0x0001;

inline constexpr std::size_t ZipLocalHeaderSize = 30;
inline constexpr std::size_t ZipLocalZip64ExtraSize = 20;
inline constexpr std::size_t ZipCentralHeaderSize = 46;
inline constexpr std::size_t ZipEndRecordSize = 22;
inline constexpr std::size_t ZipCrcOffset = 14;

// The code page 437 byte of a character from U+0080 to U+00FF, or 0 when it
// has none usable (characters the table leaves out, and the two whose
// code page 437 bytes are control codes).
std::uint8_t OemNameByte(char32_t Ch);

// True when every character is below U+0080 or has an OEM byte.
bool IsOemName(std::string_view Name);

// The zip name: the code page 437 form when IsOemName, else UTF-8 (flag bit
// 11). Every reader decodes zip names, some take a "\" for a folder
// separator, and none restores bytes that are not UTF-8 alike: so each byte
// of a name that is not valid UTF-8 is stored as U+FFFD and each "\" as
// U+FF3C (fullwidth reverse solidus), as UTF-8 with bit 11, and the name's
// exact bytes go into Original for the extra field below. Every reader here
// (unzip, 7z, bsdtar, Python's zipfile) then restores the same name.
TStoredName EncodeZipName(std::string_view Name);

// The extra field that keeps a name's exact bytes (TStoredName::Original) in
// both headers; readers skip extra fields they do not know.
inline constexpr std::uint16_t ZipOriginalNameTag = 0x7A64;

// What the headers of the one entry say.
struct TZipEntry {
  TStoredName Name;
  bool Zip64 = false;
  std::uint16_t Method = ZipMethodStored;
  std::uint32_t DosTime = 0xFFFFFFFF;  // MS-DOS date (high 16 bits) and time
  std::uint32_t Crc = 0;
  std::uint64_t CompressedSize = 0;
  std::uint64_t UncompressedSize = 0;
  std::uint32_t ExternalAttr = 0;  // the low 16 bits of the source's attributes

  std::uint16_t Flags() const;
  std::uint16_t Version() const { return Zip64 ? ZipVersionZip64 : ZipVersionDefault; }
};

// The local header with name and extra fields (Zip64 first, then the
// original name), CRC and sizes as written before the data: zeros, or
// 0xFFFFFFFF in the 32-bit sizes with Zip64 (the extra field then holds
// zeros).
std::string BuildZipLocalHeader(const TZipEntry& Entry);

// The patch of the local header after the data: at ZipCrcOffset the CRC and,
// without Zip64, the 32-bit compressed and uncompressed sizes.
std::string BuildZipLocalPatch(const TZipEntry& Entry);
// With Zip64: the uncompressed and compressed sizes written at
// ZipLocalZip64SizesOffset(Entry) (inside the extra field).
std::string BuildZipLocal64Patch(const TZipEntry& Entry);
std::uint64_t ZipLocalZip64SizesOffset(const TZipEntry& Entry);

// The central directory header with name and extra fields: Zip64 holding
// the sizes above 0xFFFFFFFF, then the original name.
std::string BuildZipCentralHeader(const TZipEntry& Entry);

// What follows the central directory (which spans CdStart to CdEnd): the
// Zip64 end record and its locator when CdEnd exceeds 0xFFFFFFFF, then the
// end record.
std::string BuildZipEndRecords(std::uint64_t CdStart, std::uint64_t CdEnd);

}  // namespace dz
