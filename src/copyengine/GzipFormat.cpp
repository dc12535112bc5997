#include "copyengine/GzipFormat.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <new>

#include "base/Utf.h"
#include "copyengine/ByteWriter.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/CopyJob.h"
#include "copyengine/Crc32.h"
#include "copyengine/ParallelDeflate.h"
#include "filesys/FileUtils.h"
#include "platform/SysError.h"

namespace dz {

TStoredName EncodeGzipName(std::string_view Name) {
  TStoredName Stored;
  if (!IsValidUtf8(Name)) {
    Stored.Bytes = std::string(Name);
    return Stored;
  }
  std::string Latin1;
  for (std::size_t Pos = 0; Pos < Name.size();) {
    const char32_t Ch = DecodeUtf8(Name, Pos);
    if (Ch >= 0x100) {
      Stored.Bytes = std::string(Name);
      Stored.Utf8 = true;
      return Stored;
    }
    Latin1.push_back(static_cast<char>(Ch));
  }
  Stored.Bytes = std::move(Latin1);
  return Stored;
}

std::string BuildGzipHeader(const TStoredName& Name, std::uint32_t MTime) {
  TByteWriter Out;
  Out.U8(0x1F).U8(0x8B).U8(Z_DEFLATED);
  Out.U8(Name.Bytes.empty() ? 0x04 : 0x0C);  // FEXTRA, FNAME
  Out.U32(MTime).U8(0).U8(Name.Utf8 ? GzipOsUtf8 : GzipOsSingleByte);
  Out.U16(20);                 // XLEN
  Out.U8(0x01).U8(0x00).U16(16);  // subfield 1: the two 64-bit sizes
  Out.U64(0).U64(0);
  if (!Name.Bytes.empty()) Out.Bytes(Name.Bytes).U8(0);
  return Out.Take();
}

// ---------------------------------------------------------------------------
// TDeflateWriter

struct TDeflateState::TZlib {
  z_stream Stream{};
  bool Initialized = false;
  int Level = 0;
  std::array<unsigned char, TDeflateWriter::OutputBufferSize> Output;

  ~TZlib() {
    if (Initialized) deflateEnd(&Stream);
  }
};

TDeflateState::TDeflateState() = default;
TDeflateState::~TDeflateState() = default;

TDeflateWriter::TDeflateWriter(TExtFileStream& Dest, int Level)
    : FOwnState(std::make_unique<TDeflateState>()), FDest(Dest) {
  Begin(*FOwnState, Level);
}

TDeflateWriter::TDeflateWriter(TExtFileStream& Dest, int Level, TDeflateState& State) : FDest(Dest) {
  Begin(State, Level);
}

void TDeflateWriter::Begin(TDeflateState& State, int Level) {
  if (!State.FZlib) State.FZlib = std::make_unique_for_overwrite<TDeflateState::TZlib>();
  TDeflateState::TZlib& Z = *State.FZlib;
  if (!Z.Initialized) {
    Z.Stream = z_stream{};
    if (deflateInit2(&Z.Stream, Level, Z_DEFLATED, DeflateWindowBits, DeflateMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::bad_alloc();
    Z.Initialized = true;
    Z.Level = Level;
  } else {
    // A new stream, whatever became of the last one; a level of its own is
    // set while nothing of the stream has been compressed.
    Z.Stream.next_out = Z.Output.data();
    Z.Stream.avail_out = static_cast<uInt>(Z.Output.size());
    if (deflateReset(&Z.Stream) != Z_OK) throw std::bad_alloc();
    if (Z.Level != Level) {
      if (deflateParams(&Z.Stream, Level, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
      Z.Level = Level;
    }
  }
  Z.Stream.next_out = Z.Output.data();
  Z.Stream.avail_out = static_cast<uInt>(Z.Output.size());
  FState = &Z;
}

TDeflateWriter::~TDeflateWriter() = default;

int TDeflateWriter::Write(const void* Data, std::size_t Count) {
  const auto* In = static_cast<const unsigned char*>(Data);
  while (Count > 0 && FError == 0) {
    const std::size_t Chunk = std::min<std::size_t>(Count, std::numeric_limits<uInt>::max());
    FError = Deflate(In, Chunk, Z_NO_FLUSH);
    In += Chunk;
    Count -= Chunk;
  }
  return FError;
}

int TDeflateWriter::Close() {
  if (FClosed || FError != 0) return FError;
  FClosed = true;
  FError = Deflate(nullptr, 0, Z_FINISH);
  if (FError == 0) FError = Drain();
  return FError;
}

int TDeflateWriter::Deflate(const void* Data, std::size_t Count, int Flush) {
  if (FClosed && Flush != Z_FINISH) return ErrInvalidFunction;
  z_stream& Z = FState->Stream;
  Z.next_in = static_cast<Bytef*>(const_cast<void*>(Data));
  Z.avail_in = static_cast<uInt>(Count);
  for (;;) {
    const int Result = deflate(&Z, Flush);
    if (Result == Z_STREAM_ERROR) return ErrInvalidData;
    if (Z.avail_out == 0) {
      if (const int Error = Drain(); Error != 0) return Error;
      continue;
    }
    // Room is left in the output buffer: zlib has taken all the input.
    if (Flush != Z_FINISH || Result == Z_STREAM_END) return 0;
    if (Result == Z_BUF_ERROR) return ErrInvalidData;
  }
}

int TDeflateWriter::Drain() {
  z_stream& Z = FState->Stream;
  const std::size_t Pending = FState->Output.size() - Z.avail_out;
  if (Pending > 0) {
    std::int64_t Put = 0;
    const int Error = FDest.Write(FState->Output.data(), Pending, Put);
    if (Error != 0) return Error;
    // The file system took no more bytes: it is full.
    if (Put < static_cast<std::int64_t>(Pending)) return ErrDiskFull;
  }
  Z.next_out = FState->Output.data();
  Z.avail_out = static_cast<uInt>(FState->Output.size());
  return 0;
}

// ---------------------------------------------------------------------------
// TCopyJob: gzip output

int TCopyJob::WriteGZip() {
  int Code = OpenStreams();
  if (Code != 0) {
    ReleaseStreams();
    return Code;
  }
  const auto MTime = static_cast<std::uint32_t>(FileTimeToUnixTime(SourceFileData.TimeStamps.LastWriteTime));
  Code = WriteGzHeader(*sDest, FName, MTime);
  const std::int64_t Start = sDest->Seek(0, TSeekOrigin::soCurrent);
  // Compared with the bytes compressed: a source that changes size while it
  // is read would leave a member whose size does not match the file.
  const std::int64_t Size = FSourceStatus.Size;
  if (Code == 0 && Start < 0) {
    SetSysError(LastSysError());
    Code = cjWriteFile;
  }
  if (Code == 0) {
    DoProgress(TFileAction::acCompress, -Size, false);
    Code = CompressData(*sSource, *sDest, true);
  }
  if (Code == 0 && Size != UTotal) Code = cjReadFile;
  if (Code == 0) {
    CTotal = sDest->Seek(0, TSeekOrigin::soCurrent) - Start;
    Code = WriteGzTrailer(*sDest, FCrc);
  }
  if (Code != 0) {
    ReleaseStreams();
    return Code;
  }
  return FinishCopy(Has(coStorage), Has(coAltStreams), Has(coPermissions));
}

int TCopyJob::WriteGzHeader(TExtFileStream& Dest, const std::string& Name, std::uint32_t MTime) {
  const std::string Header = BuildGzipHeader(EncodeGzipName(Name), MTime);
  std::int64_t Put = 0;
  const int Error = Dest.Write(Header.data(), Header.size(), Put);
  if (SetSysError(Error)) return WriteFailureCode(Error);
  return Put < static_cast<std::int64_t>(Header.size()) ? cjLowDiskSpace : 0;
}

int TCopyJob::WriteGzTrailer(TExtFileStream& Dest, std::uint32_t Crc) {
  TByteWriter Trailer;
  Trailer.U32(Crc).U32(static_cast<std::uint32_t>(UTotal));
  std::int64_t Put = 0;
  int Error = Dest.Write(Trailer.Data().data(), Trailer.Size(), Put);
  if (SetSysError(Error)) return WriteFailureCode(Error);
  if (Put < static_cast<std::int64_t>(Trailer.Size())) return cjLowDiskSpace;

  // Only a complete member gets its sizes: a partial one keeps zeros there.
  TByteWriter Sizes;
  Sizes.U64(static_cast<std::uint64_t>(CTotal)).U64(static_cast<std::uint64_t>(UTotal));
  if (Dest.Seek(GzipSizesOffset, TSeekOrigin::soBeginning) != static_cast<std::int64_t>(GzipSizesOffset)) {
    SetSysError(LastSysError());
    return cjWriteFile;
  }
  Error = Dest.Write(Sizes.Data().data(), Sizes.Size(), Put);
  if (SetSysError(Error)) return WriteFailureCode(Error);
  // Rewriting bytes that are on the disk needs no new space.
  return Put < static_cast<std::int64_t>(Sizes.Size()) ? cjWriteFile : 0;
}

int TCopyJob::ReadToDeflate(TExtFileStream& Source, void* Into, std::size_t Count, bool SpeedLimit,
                            std::int64_t& Got) {
  if (const int ReadError = Source.Read(Into, Count, Got)) {
    SetSysError(ReadError);
    return cjReadFile;
  }
  UTotal += Got;
  try {
    DoProgress(TFileAction::acCompress, UTotal, SpeedLimit);
  } catch (const std::exception& Error) {
    FSysErrMsg = Error.what();
    return cjReadFile;
  }
  return 0;
}

int TCopyJob::CompressData(TExtFileStream& Source, TExtFileStream& Dest, bool SpeedLimit) {
  if (FSourceStatus.Size >= FParallelDeflate.MinSize) {
    // A large source goes over every core when no other job does so already.
    const TParallelDeflatePermit Permit;
    if (const auto Pieces = Permit.Granted() ? MakeParallelDeflater() : nullptr)
      return CompressPieces(Source, Dest, SpeedLimit, *Pieces);
  }
  if (!FDeflate) FDeflate = std::make_unique<TDeflateState>();
  TDeflateWriter Writer(Dest, ZlibLevel(), *FDeflate);
  const std::int64_t Start = Dest.Seek(0, TSeekOrigin::soCurrent);
  int Code = 0;
  std::int64_t Got = 0;
  do {
    if (!PassPauseGate()) {
      Code = cjUserBreak;
      break;
    }
    Code = ReadToDeflate(Source, FBuffer.get(), FBufSize, SpeedLimit, Got);
    if (Got > 0) FCrc = Crc32Update(FCrc, FBuffer.get(), static_cast<std::size_t>(Got));
    if (Code == 0) {
      const int WriteError = Writer.Write(FBuffer.get(), static_cast<std::size_t>(Got));
      if (SetSysError(WriteError)) Code = WriteFailureCode(WriteError);
    }
    if (Code == 0 && StopRequested()) Code = cjUserBreak;
  } while (Code == 0 && Got == static_cast<std::int64_t>(FBufSize));
  if (Code == 0) {
    const int CloseError = Writer.Close();
    if (SetSysError(CloseError)) Code = WriteFailureCode(CloseError);
  }
  if (Code == 0 && UTotal > 0 && Dest.Seek(0, TSeekOrigin::soCurrent) <= Start) Code = cjLowDiskSpace;
  return Code;
}

}  // namespace dz
