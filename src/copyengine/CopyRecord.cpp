#include "copyengine/CopyRecord.h"

#include <algorithm>

#include "platform/FileOps.h"

namespace dz {

namespace {

constexpr std::uint8_t GzipFlagText = 0x01;
constexpr std::uint8_t GzipFlagHeaderCrc = 0x02;
constexpr std::uint8_t GzipFlagExtra = 0x04;
constexpr std::uint8_t GzipFlagName = 0x08;
constexpr std::uint8_t GzipFlagComment = 0x10;

constexpr std::size_t Zip64EndRecordSize = 56;
constexpr std::size_t Zip64LocatorSize = 20;

// The longest central directory of one entry: the header with a name, an
// extra field and a comment of the most bytes their lengths can say.
constexpr std::uint64_t ZipMaxDirectorySize = ZipCentralHeaderSize + 3 * 0xFFFF;

// Little-endian fields read one after the other; reading past the end makes
// the reader fail and every later field 0.
class TByteReader {
public:
  explicit TByteReader(std::string_view Bytes, std::size_t Pos = 0) : FBytes(Bytes), FPos(Pos) {
    if (Pos > Bytes.size()) FOk = false;
  }
  std::uint8_t U8() { return static_cast<std::uint8_t>(Get(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Get(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Get(4)); }
  std::uint64_t U64() { return Get(8); }
  std::string_view Bytes(std::size_t Count) {
    if (!Has(Count)) return {};
    const std::string_view Out = FBytes.substr(FPos, Count);
    FPos += Count;
    return Out;
  }
  // Up to the next 0 byte, which is passed.
  std::string_view ZeroTerminated() {
    const std::size_t End = FOk ? FBytes.find('\0', FPos) : std::string_view::npos;
    if (End == std::string_view::npos) {
      FOk = false;
      return {};
    }
    const std::string_view Out = FBytes.substr(FPos, End - FPos);
    FPos = End + 1;
    return Out;
  }
  bool Ok() const { return FOk; }
  std::size_t Pos() const { return FPos; }
  std::size_t Left() const { return FOk ? FBytes.size() - FPos : 0; }

private:
  bool Has(std::size_t Count) {
    if (FOk && FBytes.size() - FPos >= Count) return true;
    FOk = false;
    return false;
  }
  std::uint64_t Get(int Count) {
    if (!Has(static_cast<std::size_t>(Count))) return 0;
    std::uint64_t V = 0;
    for (int I = Count - 1; I >= 0; --I)
      V = (V << 8) | static_cast<unsigned char>(FBytes[FPos + static_cast<std::size_t>(I)]);
    FPos += static_cast<std::size_t>(Count);
    return V;
  }

  std::string_view FBytes;
  std::size_t FPos;
  bool FOk = true;
};

// Reads exactly Count bytes from Offset.
bool ReadAt(TFileHandle& File, std::uint64_t Offset, std::size_t Count, std::string& Into) {
  std::int64_t Position = 0;
  if (File.Seek(static_cast<std::int64_t>(Offset), TSeekOrigin::soBeginning, Position) != 0 ||
      Position != static_cast<std::int64_t>(Offset))
    return false;
  Into.resize(Count);
  std::size_t Done = 0;
  return File.Read(Into.data(), Count, Done) == 0 && Done == Count;
}

}  // namespace

bool ParseGzipCopy(std::string_view Head, std::string_view Tail, std::uint64_t FileSize, TCopyRecord& Record) {
  TByteReader In(Head);
  if (In.U8() != 0x1F || In.U8() != 0x8B || In.U8() != 8) return false;
  const std::uint8_t Flags = In.U8();
  if ((Flags & ~(GzipFlagText | GzipFlagHeaderCrc | GzipFlagExtra | GzipFlagName | GzipFlagComment)) != 0 ||
      (Flags & GzipFlagExtra) == 0)
    return false;
  const std::uint32_t MTime = In.U32();
  In.U8();  // XFL
  In.U8();  // OS
  // The subfield with the two 64-bit sizes, among whatever else is there.
  TByteReader Extra(In.Bytes(In.U16()));
  bool HaveSizes = false;
  std::uint64_t Compressed = 0, Uncompressed = 0;
  while (In.Ok() && Extra.Ok() && Extra.Left() > 0) {
    const std::uint8_t Si1 = Extra.U8(), Si2 = Extra.U8();
    TByteReader Field(Extra.Bytes(Extra.U16()));
    if (Si1 == 0x01 && Si2 == 0x00 && Field.Left() == 16) {
      Compressed = Field.U64();
      Uncompressed = Field.U64();
      HaveSizes = true;
    }
  }
  if (!Extra.Ok() || !HaveSizes) return false;
  const std::string_view Name = (Flags & GzipFlagName) != 0 ? In.ZeroTerminated() : std::string_view();
  if ((Flags & GzipFlagComment) != 0) In.ZeroTerminated();
  if ((Flags & GzipFlagHeaderCrc) != 0) In.U16();
  if (!In.Ok()) return false;
  // A member whose sizes were never filled in, or that was cut or added to,
  // does not add up.
  const std::uint64_t Header = In.Pos();
  if (Compressed > FileSize || FileSize - Compressed < Header + GzipTrailerSize ||
      Header + Compressed + GzipTrailerSize != FileSize)
    return false;
  TByteReader Trailer(Tail);
  const std::uint32_t Crc = Trailer.U32();
  const std::uint32_t ISize = Trailer.U32();
  if (!Trailer.Ok() || Tail.size() != GzipTrailerSize || ISize != static_cast<std::uint32_t>(Uncompressed))
    return false;
  Record.Size = Uncompressed;
  Record.Crc = Crc;
  Record.Time = MTime;
  Record.Name = std::string(Name);
  return true;
}

bool ParseZipEnd(std::string_view Tail, std::uint64_t FileSize, TZipDirectorySpan& Span) {
  if (Tail.size() < ZipEndRecordSize || Tail.size() > FileSize) return false;
  const std::uint64_t TailStart = FileSize - Tail.size();
  const std::size_t EndPos = Tail.size() - ZipEndRecordSize;
  TByteReader End(Tail, EndPos);
  if (End.U32() != ZipEndSignature || End.U16() != 0 || End.U16() != 0) return false;
  const std::uint16_t Entries = End.U16(), Total = End.U16();
  const std::uint32_t Size32 = End.U32(), Start32 = End.U32();
  if (End.U16() != 0 || !End.Ok()) return false;  // a comment: not written by the job
  std::uint64_t DirectoryEnd = TailStart + EndPos;
  if (Size32 != ZipMaxValue32 && Start32 != ZipMaxValue32 && Entries != 0xFFFF) {
    if (Entries != 1 || Total != 1) return false;
    Span = {Start32, Size32};
  } else {
    // Zip64: the locator right before the end record names the Zip64 end
    // record, which the job writes right before the locator.
    if (EndPos < Zip64LocatorSize + Zip64EndRecordSize) return false;
    TByteReader Locator(Tail, EndPos - Zip64LocatorSize);
    if (Locator.U32() != Zip64LocatorSignature || Locator.U32() != 0) return false;
    const std::uint64_t RecordPos = Locator.U64();
    if (Locator.U32() != 1 || !Locator.Ok()) return false;
    const std::size_t Pos = EndPos - Zip64LocatorSize - Zip64EndRecordSize;
    if (RecordPos != TailStart + Pos) return false;
    TByteReader Record(Tail, Pos);
    if (Record.U32() != Zip64EndSignature || Record.U64() != Zip64EndRecordSize - 12) return false;
    Record.U16();  // made by
    Record.U16();  // needed
    if (Record.U32() != 0 || Record.U32() != 0 || Record.U64() != 1 || Record.U64() != 1) return false;
    Span.Size = Record.U64();
    Span.Start = Record.U64();
    if (!Record.Ok()) return false;
    DirectoryEnd = RecordPos;
  }
  return Span.Start <= DirectoryEnd && DirectoryEnd - Span.Start == Span.Size;
}

bool ParseZipCentralHeader(std::string_view Bytes, TZipEntry& Entry) {
  TByteReader In(Bytes);
  if (In.U32() != ZipCentralSignature) return false;
  In.U16();  // made by
  In.U16();  // needed
  const std::uint16_t Flags = In.U16();
  TZipEntry Out;
  Out.Method = In.U16();
  Out.DosTime = In.U32();
  Out.Crc = In.U32();
  const std::uint32_t Compressed32 = In.U32(), Uncompressed32 = In.U32();
  const std::uint16_t NameLength = In.U16(), ExtraLength = In.U16(), CommentLength = In.U16();
  In.U16();  // disk number
  In.U16();  // internal attributes
  Out.ExternalAttr = In.U32();
  const std::uint32_t Offset32 = In.U32();
  const std::string_view Name = In.Bytes(NameLength);
  TByteReader Extra(In.Bytes(ExtraLength));
  In.Bytes(CommentLength);
  if (!In.Ok() || In.Left() != 0) return false;  // one header, nothing else
  Out.Name.Bytes = std::string(Name);
  Out.Name.Utf8 = (Flags & ZipFlagUtf8) != 0;
  Out.CompressedSize = Compressed32;
  Out.UncompressedSize = Uncompressed32;
  std::uint64_t Offset = Offset32;
  bool Sized = Compressed32 != ZipMaxValue32 && Uncompressed32 != ZipMaxValue32 && Offset32 != ZipMaxValue32;
  while (Extra.Ok() && Extra.Left() > 0) {
    const std::uint16_t Tag = Extra.U16();
    TByteReader Field(Extra.Bytes(Extra.U16()));
    if (!Extra.Ok()) return false;
    if (Tag == Zip64ExtraTag) {
      // Only the fields whose 32-bit form is full are there, in this order.
      Out.Zip64 = true;
      if (Uncompressed32 == ZipMaxValue32) Out.UncompressedSize = Field.U64();
      if (Compressed32 == ZipMaxValue32) Out.CompressedSize = Field.U64();
      if (Offset32 == ZipMaxValue32) Offset = Field.U64();
      if (!Field.Ok()) return false;
      Sized = true;
    } else if (Tag == ZipOriginalNameTag) {
      Out.Name.Original = std::string(Field.Bytes(Field.Left()));
    }
  }
  // The job's entry begins the archive.
  if (!Extra.Ok() || !Sized || Offset != 0) return false;
  Entry = std::move(Out);
  return true;
}

bool ReadCopyRecord(TFileHandle& File, std::uint64_t FileSize, TCopyFormat Format, TCopyRecord& Record) {
  std::string Head, Tail;
  if (Format == TCopyFormat::cfGzip) {
    if (FileSize < GzipFixedHeaderSize + GzipTrailerSize) return false;
    return ReadAt(File, 0, static_cast<std::size_t>(std::min<std::uint64_t>(FileSize, GzipRecordHeadSize)), Head) &&
           ReadAt(File, FileSize - GzipTrailerSize, GzipTrailerSize, Tail) &&
           ParseGzipCopy(Head, Tail, FileSize, Record);
  }
  const auto TailSize = static_cast<std::size_t>(std::min<std::uint64_t>(FileSize, ZipRecordTailSize));
  TZipDirectorySpan Span;
  TZipEntry Entry;
  if (!ReadAt(File, FileSize - TailSize, TailSize, Tail) || !ParseZipEnd(Tail, FileSize, Span) ||
      Span.Size > ZipMaxDirectorySize || !ReadAt(File, Span.Start, static_cast<std::size_t>(Span.Size), Head) ||
      !ParseZipCentralHeader(Head, Entry))
    return false;
  Record.Size = Entry.UncompressedSize;
  Record.Crc = Entry.Crc;
  Record.Time = Entry.DosTime;
  Record.Name = std::move(Entry.Name.Bytes);
  return true;
}

}  // namespace dz
