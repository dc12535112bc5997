#pragma once
// Raw deflate of one large source on several threads, as one ordinary
// deflate stream.
//
// The source is cut into pieces of equal size (the last one shorter). Each
// piece is deflated on its own by a helper thread, with the last 32 KiB
// before it as its preset dictionary, so that matches reach back across the
// cut as they would in one stream; every piece but the last ends with a sync
// flush (an empty stored block that ends on a byte boundary and leaves the
// stream open), the last one with the stream's end. Laid one after the
// other, the pieces are one valid deflate stream, which every inflater
// reads as if one thread had written it: the size differs from a
// single-threaded stream only by a few bytes per piece. Each piece's CRC-32
// is computed beside its deflate and the CRCs are combined in order.
//
// Whoever owns the deflater (the copy job) reads the pieces into it and
// writes their output, in order, on its own thread; only the deflate and
// the CRC run on the helpers. At most MaxPieces pieces exist at any time
// (read, waiting, being deflated or waiting to be written), so the memory
// is bounded whatever the source's size: about MaxPieces times twice the
// piece size, and one deflate state per helper.
//
// A process spreads one source at a time over the cores (TParallelDeflatePermit):
// one such source already keeps every core busy, and several backup workers
// compressing at once would otherwise start a set of helpers each.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace dz {

// How a compressed copy spreads a large source over the cores.
struct TParallelDeflateSettings {
  // Sources of at least this many bytes are deflated in pieces; smaller
  // ones on the job's own thread, where a few milliseconds of deflate do not
  // pay for the helpers.
  std::int64_t MinSize = std::int64_t{4} << 20;
  // At least 32 KiB (the deflate window): every piece but the last gives
  // the next one a whole dictionary.
  std::size_t PieceSize = std::size_t{256} << 10;
  // Helper threads; 0: one per processor, at least 2 and at most MaxWorkers.
  int Workers = 0;
  static constexpr int MaxWorkers = 8;

  // Workers as it will be used.
  int WorkerCount() const;
  std::size_t EffectivePieceSize() const;
};

// One process-wide permission to spread a source; released when destroyed.
class TParallelDeflatePermit {
public:
  // Takes the permission when no one holds it.
  TParallelDeflatePermit();
  ~TParallelDeflatePermit();
  TParallelDeflatePermit(const TParallelDeflatePermit&) = delete;
  TParallelDeflatePermit& operator=(const TParallelDeflatePermit&) = delete;

  bool Granted() const { return FGranted; }

private:
  bool FGranted = false;
};

// What one piece gave, in the order the pieces were handed in.
struct TDeflatedPiece {
  std::span<const unsigned char> Output;  // raw deflate, ends on a byte boundary
  std::uint32_t Crc = 0;                  // CRC-32 of the piece's source bytes alone
  std::size_t InputSize = 0;
  int Error = 0;                          // a system error code; 0 = success
};

class TParallelDeflater {
public:
  static constexpr std::size_t WindowSize = 32768;

  // Level as zlib's; Workers helpers, pieces of PieceSize bytes (at least
  // WindowSize), at most MaxPieces at once (at least Workers + 1). Raises
  // std::bad_alloc when the memory cannot be had and std::system_error when
  // a thread cannot be started; nothing is left running then.
  TParallelDeflater(int Level, int Workers, std::size_t PieceSize, std::size_t MaxPieces);
  // Deflates no more pieces: helpers finish the piece in hand and end.
  ~TParallelDeflater();
  TParallelDeflater(const TParallelDeflater&) = delete;
  TParallelDeflater& operator=(const TParallelDeflater&) = delete;

  // True when a piece can be handed in; otherwise the oldest must be
  // taken first.
  bool HasRoom() const { return FSubmitted - FTaken < FPieces.size(); }
  // Where the next piece is read to: PieceSize bytes. Only with HasRoom.
  std::span<unsigned char> NextInput();
  // Hands in the first Size bytes of NextInput(); Last ends the stream
  // (a last piece may be empty). Nothing may follow a last piece.
  void Submit(std::size_t Size, bool Last);
  // Pieces handed in and not yet taken.
  std::size_t Pending() const { return FSubmitted - FTaken; }
  // Waits until the oldest piece not yet taken is deflated and gives it; the
  // view stays valid until the next call of TakeOldest or Submit. Only when
  // Pending() > 0.
  TDeflatedPiece TakeOldest();

private:
  struct TPiece;
  struct TWorker;

  void WorkerLoop(TWorker& Worker) noexcept;
  TPiece& PieceOf(std::uint64_t Number) { return *FPieces[Number % FPieces.size()]; }

  std::size_t FPieceSize;
  std::vector<std::unique_ptr<TPiece>> FPieces;
  std::vector<std::unique_ptr<TWorker>> FWorkers;
  // The last WindowSize bytes handed in so far: the next piece's dictionary.
  std::unique_ptr<unsigned char[]> FWindow;
  std::size_t FWindowSize = 0;

  // Counts of pieces; FNextToDeflate and the pieces' Done flags are shared
  // with the helpers under FLock. FSubmitted and FTaken are the owner's.
  std::uint64_t FSubmitted = 0;
  std::uint64_t FTaken = 0;
  std::mutex FLock;
  std::condition_variable FWork;     // a piece to deflate, or the end
  std::condition_variable FDeflated;  // a piece is done
  std::uint64_t FQueued = 0;         // pieces the helpers may take (= FSubmitted, under the lock)
  std::uint64_t FNextToDeflate = 0;
  bool FStopping = false;
  std::vector<std::jthread> FThreads;  // last: joined first when destroyed
};

}  // namespace dz
