#include "copyengine/ParallelDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <system_error>

#include "copyengine/CopyJob.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/Crc32.h"
#include "copyengine/GzipFormat.h"
#include "filesys/FileUtils.h"
#include "platform/SysError.h"

namespace dz {

namespace {

// Held by the one job that spreads its source now.
std::atomic<bool> PermitTaken{false};

// A sync flush adds an empty stored block and up to a byte of padding to
// what deflateBound allows for a stream that ends; the rest is margin.
constexpr std::size_t FlushMargin = 64;

}  // namespace

int TParallelDeflateSettings::WorkerCount() const {
  if (Workers > 0) return std::min(Workers, MaxWorkers);
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, MaxWorkers);
}

std::size_t TParallelDeflateSettings::EffectivePieceSize() const {
  return std::max(PieceSize, TParallelDeflater::WindowSize);
}

TParallelDeflatePermit::TParallelDeflatePermit() : FGranted(!PermitTaken.exchange(true)) {}

TParallelDeflatePermit::~TParallelDeflatePermit() {
  if (FGranted) PermitTaken.store(false);
}

// ---------------------------------------------------------------------------
// TParallelDeflater

struct TParallelDeflater::TPiece {
  std::unique_ptr<unsigned char[]> Input;
  std::unique_ptr<unsigned char[]> Dictionary;  // WindowSize bytes
  std::unique_ptr<unsigned char[]> Output;
  std::size_t InputSize = 0;
  std::size_t DictionarySize = 0;
  std::size_t OutputSize = 0;
  bool Last = false;
  std::uint32_t Crc = 0;
  int Error = 0;
  bool Done = true;  // under FLock: deflated (or never handed in)
};

struct TParallelDeflater::TWorker {
  z_stream Stream{};
  bool Initialized = false;
  std::size_t OutputCapacity = 0;

  ~TWorker() {
    if (Initialized) deflateEnd(&Stream);
  }

  // The piece's CRC and its deflate: the dictionary first, then every byte,
  // ended with a sync flush or, for the last piece, with the stream's end.
  void Deflate(TPiece& Piece) {
    Piece.Crc = Crc32Update(0, Piece.Input.get(), Piece.InputSize);
    Piece.OutputSize = 0;
    Piece.Error = ErrInvalidData;
    if (deflateReset(&Stream) != Z_OK) return;
    if (Piece.DictionarySize > 0 &&
        deflateSetDictionary(&Stream, Piece.Dictionary.get(), static_cast<uInt>(Piece.DictionarySize)) != Z_OK)
      return;
    Stream.next_in = Piece.Input.get();
    Stream.avail_in = static_cast<uInt>(Piece.InputSize);
    Stream.next_out = Piece.Output.get();
    Stream.avail_out = static_cast<uInt>(OutputCapacity);
    const int Result = deflate(&Stream, Piece.Last ? Z_FINISH : Z_SYNC_FLUSH);
    // Room left after a flush means the flush is complete; the output
    // buffer holds the worst case, so anything else is zlib's failure.
    const bool Complete = Piece.Last ? Result == Z_STREAM_END
                                     : Result == Z_OK && Stream.avail_in == 0 && Stream.avail_out > 0;
    Piece.OutputSize = OutputCapacity - Stream.avail_out;
    if (Complete) Piece.Error = 0;
  }
};

TParallelDeflater::TParallelDeflater(int Level, int Workers, std::size_t PieceSize, std::size_t MaxPieces)
    : FPieceSize(std::max(PieceSize, WindowSize)),
      FWindow(std::make_unique_for_overwrite<unsigned char[]>(WindowSize)) {
  Workers = std::max(Workers, 1);
  FWorkers.reserve(static_cast<std::size_t>(Workers));
  for (int I = 0; I < Workers; ++I) {
    auto Worker = std::make_unique<TWorker>();
    if (deflateInit2(&Worker->Stream, Level, Z_DEFLATED, DeflateWindowBits, DeflateMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK)
      throw std::bad_alloc();
    Worker->Initialized = true;
    Worker->OutputCapacity = deflateBound(&Worker->Stream, static_cast<uLong>(FPieceSize)) + FlushMargin;
    FWorkers.push_back(std::move(Worker));
  }
  const std::size_t OutputCapacity = FWorkers.front()->OutputCapacity;
  MaxPieces = std::max(MaxPieces, static_cast<std::size_t>(Workers) + 1);
  FPieces.reserve(MaxPieces);
  for (std::size_t I = 0; I < MaxPieces; ++I) {
    // Not cleared: every byte used is written first, and untouched pages
    // cost no memory.
    auto Piece = std::make_unique<TPiece>();
    Piece->Input = std::make_unique_for_overwrite<unsigned char[]>(FPieceSize);
    Piece->Dictionary = std::make_unique_for_overwrite<unsigned char[]>(WindowSize);
    Piece->Output = std::make_unique_for_overwrite<unsigned char[]>(OutputCapacity);
    FPieces.push_back(std::move(Piece));
  }
  FThreads.reserve(FWorkers.size());
  try {
    for (auto& Worker : FWorkers) FThreads.emplace_back([this, W = Worker.get()] { WorkerLoop(*W); });
  } catch (...) {
    // The helpers already started must not outlive the object.
    {
      std::lock_guard Guard(FLock);
      FStopping = true;
    }
    FWork.notify_all();
    for (auto& Thread : FThreads) Thread.join();
    throw;
  }
}

TParallelDeflater::~TParallelDeflater() {
  {
    std::lock_guard Guard(FLock);
    FStopping = true;
  }
  FWork.notify_all();
  for (auto& Thread : FThreads) Thread.join();
}

std::span<unsigned char> TParallelDeflater::NextInput() {
  return {PieceOf(FSubmitted).Input.get(), FPieceSize};
}

void TParallelDeflater::Submit(std::size_t Size, bool Last) {
  TPiece& Piece = PieceOf(FSubmitted);
  Piece.InputSize = std::min(Size, FPieceSize);
  Piece.Last = Last;
  std::memcpy(Piece.Dictionary.get(), FWindow.get(), FWindowSize);
  Piece.DictionarySize = FWindowSize;
  // The window moves on: the last WindowSize bytes of what it held and the
  // piece (a short piece keeps part of the old window).
  const unsigned char* Input = Piece.Input.get();
  if (Piece.InputSize >= WindowSize) {
    std::memcpy(FWindow.get(), Input + Piece.InputSize - WindowSize, WindowSize);
    FWindowSize = WindowSize;
  } else {
    const std::size_t Keep = std::min(FWindowSize, WindowSize - Piece.InputSize);
    std::memmove(FWindow.get(), FWindow.get() + FWindowSize - Keep, Keep);
    std::memcpy(FWindow.get() + Keep, Input, Piece.InputSize);
    FWindowSize = Keep + Piece.InputSize;
  }
  ++FSubmitted;
  {
    std::lock_guard Guard(FLock);
    Piece.Done = false;
    FQueued = FSubmitted;
  }
  FWork.notify_one();
}

TDeflatedPiece TParallelDeflater::TakeOldest() {
  TPiece& Piece = PieceOf(FTaken);
  {
    std::unique_lock Guard(FLock);
    FDeflated.wait(Guard, [&Piece] { return Piece.Done; });
  }
  ++FTaken;
  return {{Piece.Output.get(), Piece.OutputSize}, Piece.Crc, Piece.InputSize, Piece.Error};
}

void TParallelDeflater::WorkerLoop(TWorker& Worker) noexcept {
  for (;;) {
    TPiece* Piece;
    {
      std::unique_lock Guard(FLock);
      FWork.wait(Guard, [this] { return FStopping || FNextToDeflate < FQueued; });
      if (FStopping) return;
      Piece = &PieceOf(FNextToDeflate++);
    }
    Worker.Deflate(*Piece);
    {
      std::lock_guard Guard(FLock);
      Piece->Done = true;
    }
    FDeflated.notify_all();
  }
}

// ---------------------------------------------------------------------------
// TCopyJob: deflate in pieces

std::unique_ptr<TParallelDeflater> TCopyJob::MakeParallelDeflater() {
  const int Workers = FParallelDeflate.WorkerCount();
  try {
    return std::make_unique<TParallelDeflater>(ZlibLevel(), Workers, FParallelDeflate.EffectivePieceSize(),
                                               2 * static_cast<std::size_t>(Workers));
  } catch (const std::bad_alloc&) {
  } catch (const std::system_error&) {
  }
  // Without the memory or the threads the job's own thread deflates, as it
  // does for a small source.
  return nullptr;
}

int TCopyJob::CompressPieces(TExtFileStream& Source, TExtFileStream& Dest, bool SpeedLimit,
                             TParallelDeflater& Pieces) {
  const std::int64_t Start = Dest.Seek(0, TSeekOrigin::soCurrent);
  std::int64_t Written = Start;
  std::int64_t Started = 0;  // written bytes whose writeback has started
  // The oldest piece, once deflated, goes to the file: the pieces are
  // written in the order they were read.
  const auto WriteOldest = [&]() {
    const TDeflatedPiece Piece = Pieces.TakeOldest();
    if (SetSysError(Piece.Error)) return WriteFailureCode(Piece.Error);
    FCrc = static_cast<std::uint32_t>(crc32_combine(FCrc, Piece.Crc, static_cast<z_off_t>(Piece.InputSize)));
    ++FDeflatePieces;
    std::int64_t Put = 0;
    const int Error = Dest.Write(Piece.Output.data(), Piece.Output.size(), Put);
    if (SetSysError(Error)) return WriteFailureCode(Error);
    if (Put < static_cast<std::int64_t>(Piece.Output.size())) {
      SetSysError(ErrDiskFull);
      return cjLowDiskSpace;
    }
    Written += Put;
    WriteBehind(Dest, Written, Started);
    return 0;
  };
  int Code = 0;
  bool Ended = false;
  while (Code == 0 && !Ended) {
    if (!Pieces.HasRoom()) {
      Code = WriteOldest();
      continue;
    }
    if (!PassPauseGate()) {
      Code = cjUserBreak;
      break;
    }
    const std::span<unsigned char> Input = Pieces.NextInput();
    std::int64_t Got = 0;
    Code = ReadToDeflate(Source, Input.data(), Input.size(), SpeedLimit, Got);
    if (Code != 0) break;
    // As on one thread, the first read shorter than asked ends the input; a
    // source of whole pieces ends with an empty one.
    Ended = Got < static_cast<std::int64_t>(Input.size());
    Pieces.Submit(static_cast<std::size_t>(Got), Ended);
    if (StopRequested()) Code = cjUserBreak;
  }
  while (Code == 0 && Pieces.Pending() > 0) Code = WriteOldest();
  if (Code == 0 && UTotal > 0 && Dest.Seek(0, TSeekOrigin::soCurrent) <= Start) Code = cjLowDiskSpace;
  return Code;
}

}  // namespace dz
