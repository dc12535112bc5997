#include "copyengine/ZipFormat.h"

#include <algorithm>
#include <array>
#include <utility>

#include "base/Utf.h"
#include "copyengine/ByteWriter.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/CopyJob.h"
#include "filesys/FileUtils.h"
#include "platform/SysError.h"

namespace dz {

namespace {

// Latin-1 characters and their code page 437 bytes. The table also lists
// the section and pilcrow signs, whose bytes (0x15, 0x14) are control codes
// to most readers: an entry at or below 0x20 counts as no mapping, so names
// with them are stored as UTF-8.
constexpr std::array<std::pair<char32_t, std::uint8_t>, 50> OemNameTable{{
    {U'¡', 0xAD}, {U'¢', 0x9B}, {U'£', 0x9C}, {U'¥', 0x9D}, {U'§', 0x15}, {U'«', 0xAE}, {U'¬', 0xAA}, {U'°', 0xF8},
    {U'±', 0xF1}, {U'²', 0xFD}, {U'µ', 0xE6}, {U'¶', 0x14}, {U'»', 0xAF}, {U'¼', 0xAC}, {U'½', 0xAB}, {U'¿', 0xA8},
    {U'Ä', 0x8E}, {U'Å', 0x8F}, {U'Æ', 0x92}, {U'Ç', 0x80}, {U'É', 0x90}, {U'Ñ', 0xA5}, {U'Ö', 0x99}, {U'Ü', 0x9A},
    {U'ß', 0xE1}, {U'à', 0x85}, {U'â', 0x83}, {U'ä', 0x84}, {U'å', 0x86}, {U'æ', 0x91}, {U'ç', 0x87}, {U'è', 0x8A},
    {U'é', 0x82}, {U'ê', 0x88}, {U'ë', 0x89}, {U'ì', 0x8D}, {U'í', 0xA1}, {U'î', 0x8C}, {U'ï', 0x8B}, {U'ñ', 0xA4},
    {U'ò', 0x95}, {U'ó', 0xA2}, {U'ô', 0x93}, {U'ö', 0x94}, {U'÷', 0xF6}, {U'ù', 0x97}, {U'ú', 0xA3}, {U'û', 0x96},
    {U'ü', 0x81}, {U'ÿ', 0x98},
}};

std::uint32_t Low32(std::uint64_t V) {
  return static_cast<std::uint32_t>(V);
}

// A 32-bit size field of the central directory: the value, or 0xFFFFFFFF
// when it lives in the Zip64 extra field.
std::uint32_t CentralSize(const TZipEntry& Entry, std::uint64_t V) {
  return Entry.Zip64 && V > ZipMaxValue32 ? 0xFFFFFFFF : Low32(V);
}

// The extra field with the name's exact bytes, or nothing.
std::string OriginalNameExtra(const TZipEntry& Entry) {
  if (Entry.Name.Original.empty()) return {};
  TByteWriter Out;
  Out.U16(ZipOriginalNameTag).U16(static_cast<std::uint16_t>(Entry.Name.Original.size())).Bytes(Entry.Name.Original);
  return Out.Take();
}

}  // namespace

std::uint8_t OemNameByte(char32_t Ch) {
  for (const auto& [Char, Byte] : OemNameTable)
    if (Char == Ch) return Byte > 0x20 ? Byte : 0;
  return 0;
}

bool IsOemName(std::string_view Name) {
  if (!IsValidUtf8(Name)) return false;
  for (std::size_t Pos = 0; Pos < Name.size();) {
    const char32_t Ch = DecodeUtf8(Name, Pos);
    if (Ch >= 0x80 && OemNameByte(Ch) == 0) return false;
  }
  return true;
}

TStoredName EncodeZipName(std::string_view Name) {
  TStoredName Stored;
  std::string Readable;
  for (std::size_t Pos = 0; Pos < Name.size();) {
    // An invalid byte decodes as U+FFFD, one byte at a time.
    const char32_t Ch = DecodeUtf8(Name, Pos);
    AppendUtf8(Readable, Ch == U'\\' ? U'\uFF3C' : Ch);
  }
  if (Readable != Name) {
    Stored.Bytes = std::move(Readable);
    Stored.Utf8 = true;
    Stored.Original = std::string(Name);
    return Stored;
  }
  if (!IsOemName(Name)) {
    Stored.Bytes = std::string(Name);
    Stored.Utf8 = true;
    return Stored;
  }
  for (std::size_t Pos = 0; Pos < Name.size();) {
    const char32_t Ch = DecodeUtf8(Name, Pos);
    Stored.Bytes.push_back(static_cast<char>(Ch < 0x80 ? static_cast<std::uint8_t>(Ch) : OemNameByte(Ch)));
  }
  return Stored;
}

std::uint16_t TZipEntry::Flags() const {
  std::uint16_t Flags = ZipFlagAlways;
  if (Name.Utf8) Flags |= ZipFlagUtf8;
  if (Method == ZipMethodDeflated) Flags |= ZipFlagDeflateMax;
  return Flags;
}

std::string BuildZipLocalHeader(const TZipEntry& Entry) {
  TByteWriter Out;
  Out.U32(ZipLocalSignature).U16(Entry.Version()).U16(Entry.Flags()).U16(Entry.Method).U32(Entry.DosTime);
  Out.U32(0);  // CRC-32, patched after the data
  const std::uint32_t Size32 = Entry.Zip64 ? 0xFFFFFFFF : 0;
  Out.U32(Size32).U32(Size32);
  Out.U16(static_cast<std::uint16_t>(Entry.Name.Bytes.size()));
  const std::string NameExtra = OriginalNameExtra(Entry);
  Out.U16(static_cast<std::uint16_t>((Entry.Zip64 ? ZipLocalZip64ExtraSize : 0) + NameExtra.size()));
  Out.Bytes(Entry.Name.Bytes);
  if (Entry.Zip64) Out.U16(Zip64ExtraTag).U16(16).U64(0).U64(0);
  Out.Bytes(NameExtra);
  return Out.Take();
}

std::string BuildZipLocalPatch(const TZipEntry& Entry) {
  TByteWriter Out;
  Out.U32(Entry.Crc);
  if (!Entry.Zip64) Out.U32(Low32(Entry.CompressedSize)).U32(Low32(Entry.UncompressedSize));
  return Out.Take();
}

std::string BuildZipLocal64Patch(const TZipEntry& Entry) {
  TByteWriter Out;
  Out.U64(Entry.UncompressedSize).U64(Entry.CompressedSize);
  return Out.Take();
}

std::uint64_t ZipLocalZip64SizesOffset(const TZipEntry& Entry) {
  return ZipLocalHeaderSize + Entry.Name.Bytes.size() + 4;
}

std::string BuildZipCentralHeader(const TZipEntry& Entry) {
  const bool BigUncompressed = Entry.Zip64 && Entry.UncompressedSize > ZipMaxValue32;
  const bool BigCompressed = Entry.Zip64 && Entry.CompressedSize > ZipMaxValue32;
  const int K = (BigUncompressed ? 1 : 0) + (BigCompressed ? 1 : 0);
  // A UTF-8 name is marked as made on NTFS: readers convert the names of
  // archives made on MS-DOS from code page 437 even when bit 11 says UTF-8,
  // which would garble the name. The attributes keep their meaning.
  const bool Utf8Name = (Entry.Flags() & ZipFlagUtf8) != 0;
  const auto MadeBy = static_cast<std::uint16_t>(Entry.Version() | (Utf8Name ? ZipHostNtfs << 8 : 0));
  TByteWriter Out;
  Out.U32(ZipCentralSignature).U16(MadeBy).U16(Entry.Version()).U16(Entry.Flags()).U16(Entry.Method);
  Out.U32(Entry.DosTime).U32(Entry.Crc);
  Out.U32(CentralSize(Entry, Entry.CompressedSize)).U32(CentralSize(Entry, Entry.UncompressedSize));
  Out.U16(static_cast<std::uint16_t>(Entry.Name.Bytes.size()));
  const std::string NameExtra = OriginalNameExtra(Entry);
  Out.U16(static_cast<std::uint16_t>((Entry.Zip64 ? 4 + 8 * K : 0) + NameExtra.size()));
  Out.U16(0).U16(0).U16(0);  // comment length, disk number, internal attributes
  Out.U32(Entry.ExternalAttr & 0xFFFF).U32(0);  // local header at offset 0
  Out.Bytes(Entry.Name.Bytes);
  if (Entry.Zip64) {
    Out.U16(Zip64ExtraTag).U16(static_cast<std::uint16_t>(8 * K));
    if (BigUncompressed) Out.U64(Entry.UncompressedSize);
    if (BigCompressed) Out.U64(Entry.CompressedSize);
  }
  Out.Bytes(NameExtra);
  return Out.Take();
}

std::string BuildZipEndRecords(std::uint64_t CdStart, std::uint64_t CdEnd) {
  const std::uint64_t CdSize = CdEnd - CdStart;
  TByteWriter Out;
  const bool Zip64 = CdEnd > ZipMaxValue32;
  if (Zip64) {
    Out.U32(Zip64EndSignature).U64(44).U16(ZipVersionZip64).U16(ZipVersionZip64).U32(0).U32(0);
    Out.U64(1).U64(1).U64(CdSize).U64(CdStart);
    Out.U32(Zip64LocatorSignature).U32(0).U64(CdEnd).U32(1);
  }
  Out.U32(ZipEndSignature).U16(0).U16(0).U16(1).U16(1);
  Out.U32(Zip64 && CdSize > ZipMaxValue32 ? 0xFFFFFFFF : Low32(CdSize));
  Out.U32(Zip64 ? 0xFFFFFFFF : Low32(CdStart));
  Out.U16(0);
  return Out.Take();
}

// ---------------------------------------------------------------------------
// TCopyJob: zip output

int TCopyJob::WriteZipFile(bool Compress) {
  // Writes Bytes at the current position; a failure ends the job with 5.
  const auto WriteRecord = [this](const std::string& Bytes) {
    std::int64_t Put = 0;
    const int Error = sDest->Write(Bytes.data(), Bytes.size(), Put);
    if (SetSysError(Error)) return false;
    if (Put < static_cast<std::int64_t>(Bytes.size())) {
      SetSysError(ErrDiskFull);
      return false;
    }
    return true;
  };
  const auto SeekTo = [this](std::int64_t Offset, TSeekOrigin Origin) {
    const std::int64_t Position = sDest->Seek(Offset, Origin);
    if (Position < 0) SetSysError(LastSysError());
    return Position;
  };

  // Size, time and attributes of the open source (OpenStreams).
  const std::int64_t Size = SourceFileData.FileSize;
  TZipEntry Entry;
  Entry.Name = EncodeZipName(FName);
  Entry.Zip64 = Size > Zip64Threshold;
  Entry.Method = Compress && Size > 0 ? ZipMethodDeflated : ZipMethodStored;
  Entry.DosTime = static_cast<std::uint32_t>(FileTimeToDosTime(SourceFileData.TimeStamps.LastWriteTime));
  Entry.ExternalAttr = SourceFileData.FileAttr & faWindowsMask;

  if (!WriteRecord(BuildZipLocalHeader(Entry))) return cjZipWrite;
  if (const int Code = WriteZipData(*sSource, Entry.Method == ZipMethodDeflated); Code != 0) return Code;

  Entry.Crc = FCrc;
  Entry.CompressedSize = static_cast<std::uint64_t>(CTotal);
  Entry.UncompressedSize = static_cast<std::uint64_t>(UTotal);
  if (SeekTo(ZipCrcOffset, TSeekOrigin::soBeginning) < 0 || !WriteRecord(BuildZipLocalPatch(Entry)))
    return cjZipWrite;
  if (Entry.Zip64 &&
      (SeekTo(static_cast<std::int64_t>(ZipLocalZip64SizesOffset(Entry)), TSeekOrigin::soBeginning) < 0 ||
       !WriteRecord(BuildZipLocal64Patch(Entry))))
    return cjZipWrite;

  const std::int64_t CdStart = SeekTo(0, TSeekOrigin::soEnd);
  if (CdStart < 0 || !WriteRecord(BuildZipCentralHeader(Entry))) return cjZipWrite;
  const std::int64_t CdEnd = SeekTo(0, TSeekOrigin::soCurrent);
  if (CdEnd < 0 ||
      !WriteRecord(BuildZipEndRecords(static_cast<std::uint64_t>(CdStart), static_cast<std::uint64_t>(CdEnd))))
    return cjZipWrite;
  return 0;
}

int TCopyJob::WriteZipData(TExtFileStream& Source, bool Deflate) {
  const std::int64_t Start = sDest->Seek(0, TSeekOrigin::soCurrent);
  // The size of the open source decided the header fields (Zip64 or not);
  // data of any other size would not match them.
  const std::int64_t Size = SourceFileData.FileSize;
  int Code;
  if (Deflate) {
    DoProgress(TFileAction::acCompress, -Size, false);
    Code = CompressData(Source, *sDest, true);
  } else {
    DoProgress(TFileAction::acCopy, -Size, false);
    Code = CopyData(Source, sDest.get(), Size, true);
  }
  if (Code == 0 && Size != UTotal) Code = cjReadFile;
  CTotal = sDest->Seek(0, TSeekOrigin::soCurrent) - Start;
  return Code;
}

}  // namespace dz
