// What a plain copy's time is made of, piece by piece, so that the choice of
// its data loop (copyengine/DataLoop.h) can be checked again on another
// machine or kernel:
//
//   Crc32Piece/...       the checksum alone on a buffer in the cache: zlib's
//                        crc32 against Crc32Update (libdeflate), and ISA-L's
//                        when the build found it (pkg-config libisal)
//   DataPass/<buffer>    the copy loop as the worker runs it: read, CRC,
//                        write from the same buffer
//   ...CrcPass           the same loop without its hooks and codes, with
//                        zlib's crc32 (the loop before), Crc32Update or
//                        ISA-L's
//   NoCrcPass            the same loop without a checksum: the two copies
//                        the kernel makes, page cache to buffer and back
//   KernelCopy           copy_file_range over the whole file, as cp makes
//                        its copy: one copy inside the kernel, no checksum
//   KernelCopyCrcRead    copy_file_range per block plus a separate read of
//                        the block for the CRC (the written bytes are then
//                        not the checksummed ones)
//
// Every copy reads a file of DZ_BENCH_FILE_MIB MiB (default 256) in the page
// cache, below DZ_BENCH_DIR (default: the system's temporary folder), into a
// new file; outside the timed part the output is removed, the disk
// synchronised and the source read through again. Every copy runs for two
// seconds at least, so that one stall of a shared machine (hundreds of
// milliseconds here, now and then) does not make a result. Compare the times
// of one run with each other, the machine's load moves all of them; for
// stable figures run with --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true and read the medians. The
// kernel calls that only the reference loops need are made here directly
// (docs/architecture.md lists this exception).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#ifdef DZ_BENCH_HAVE_ISAL
#include <isa-l/crc.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "copyengine/CopyThread.h"
#include "copyengine/Crc32.h"
#include "copyengine/DataLoop.h"
#include "filesys/FileUtils.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

std::int64_t FileMiB() {
  const char* Value = std::getenv("DZ_BENCH_FILE_MIB");
  const long MiB = Value != nullptr ? std::strtol(Value, nullptr, 10) : 0;
  return MiB > 0 ? MiB : 256;
}

// The source file, made once and read once so that it sits in the page cache.
struct TBenchFiles {
  TBenchFiles() {
    const char* Dir = std::getenv("DZ_BENCH_DIR");
    std::random_device Random;
    Folder = (Dir != nullptr && *Dir != 0 ? fs::path(Dir) : fs::temp_directory_path()) /
             ("dz-pieces-bench-" + std::to_string(Random()));
    fs::create_directories(Folder);
    Source = (Folder / "source").string();
    Dest = (Folder / "dest").string();
    Size = FileMiB() << 20;
    std::mt19937_64 Bits(20240517);
    std::vector<std::uint64_t> Block(1 << 17);
    std::ofstream Out(Source, std::ios::binary);
    for (std::int64_t Written = 0; Written < Size; Written += static_cast<std::int64_t>(Block.size() * 8)) {
      for (auto& Word : Block) Word = Bits();
      Out.write(reinterpret_cast<const char*>(Block.data()), static_cast<std::streamsize>(Block.size() * 8));
    }
  }
  ~TBenchFiles() {
    std::error_code Ignored;
    fs::remove_all(Folder, Ignored);
  }
  fs::path Folder;
  std::string Source, Dest;
  std::int64_t Size = 0;
};

TBenchFiles& Files() {
  static TBenchFiles Instance;
  return Instance;
}

// Reads the source through, so that its pages are in the cache: machines
// that page out idle memory (a balloon, DAMON) drop them within seconds.
void Warm() {
  std::ifstream In(Files().Source, std::ios::binary);
  std::vector<char> Block(1 << 20);
  while (In.read(Block.data(), static_cast<std::streamsize>(Block.size()))) {
  }
}

// Outside the timed part: no output left over, the writeback of the last
// copy not charged to the next one, the source in the cache.
void Reset(benchmark::State& State) {
  State.PauseTiming();
  std::error_code Ignored;
  fs::remove(Files().Dest, Ignored);
  ::sync();
  Warm();
  State.ResumeTiming();
}

void Finish(benchmark::State& State) {
  State.SetBytesProcessed(State.iterations() * Files().Size);
  std::error_code Ignored;
  fs::remove(Files().Dest, Ignored);
}

// --- the checksum alone ----------------------------------------------------

using TCrcFunction = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

std::uint32_t ZlibCrc(std::uint32_t Crc, const void* Data, std::size_t Size) {
  return static_cast<std::uint32_t>(crc32(Crc, static_cast<const Bytef*>(Data), static_cast<uInt>(Size)));
}

#ifdef DZ_BENCH_HAVE_ISAL
std::uint32_t IsalCrc(std::uint32_t Crc, const void* Data, std::size_t Size) {
  return crc32_gzip_refl(Crc, static_cast<const unsigned char*>(Data), Size);
}
#endif

// One piece of State.range(0) bytes, in the cache as the loop's buffer is.
void Crc32Piece(benchmark::State& State, TCrcFunction Function) {
  std::vector<char> Piece(static_cast<std::size_t>(State.range(0)));
  std::mt19937 Bits(1);
  for (char& C : Piece) C = static_cast<char>(Bits());
  std::uint32_t Crc = 0;
  for (auto _ : State) {
    Crc = Function(Crc, Piece.data(), Piece.size());
    benchmark::DoNotOptimize(Crc);
  }
  State.SetBytesProcessed(State.iterations() * State.range(0));
}
BENCHMARK_CAPTURE(Crc32Piece, zlib, ZlibCrc)->Arg(64)->Arg(4096)->Arg(CopyThreadBufferSize);
BENCHMARK_CAPTURE(Crc32Piece, Crc32Update, Crc32Update)->Arg(64)->Arg(4096)->Arg(CopyThreadBufferSize);
#ifdef DZ_BENCH_HAVE_ISAL
BENCHMARK_CAPTURE(Crc32Piece, isal, IsalCrc)->Arg(64)->Arg(4096)->Arg(CopyThreadBufferSize);
#endif

// --- the copy loops ---------------------------------------------------------

void DataPass(benchmark::State& State) {
  auto Buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(State.range(0)));
  const std::span<char> Span(Buffer.get(), static_cast<std::size_t>(State.range(0)));
  for (auto _ : State) {
    Reset(State);
    TExtFileStream Source(Files().Source, fmOpenRead | fmShareDenyNone);
    TExtFileStream Dest(Files().Dest, fmCreate, 0600);
    TDataPassTotals Totals;
    if (RunDataPass(Source, &Dest, Span, Source.Size(), {}, Totals) != 0) State.SkipWithError("copy failed");
    benchmark::DoNotOptimize(Totals.Crc);
  }
  Finish(State);
}
BENCHMARK(DataPass)
    ->Arg(64 << 10)
    ->Arg(128 << 10)
    ->Arg(256 << 10)
    ->Arg(CopyThreadBufferSize)
    ->Arg(1 << 20)
    ->Arg(2 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

// The loop without its hooks and codes, with another checksum (or none).
void PlainLoop(benchmark::State& State, TCrcFunction Function) {
  auto Buffer = std::make_unique_for_overwrite<char[]>(CopyThreadBufferSize);
  for (auto _ : State) {
    Reset(State);
    TExtFileStream Source(Files().Source, fmOpenRead | fmShareDenyNone);
    TExtFileStream Dest(Files().Dest, fmCreate, 0600);
    std::uint32_t Crc = 0;
    std::int64_t Got = 0;
    std::int64_t Put = 0;
    do {
      if (Source.Read(Buffer.get(), CopyThreadBufferSize, Got) != 0) State.SkipWithError("read failed");
      if (Function != nullptr) Crc = Function(Crc, Buffer.get(), static_cast<std::size_t>(Got));
      if (Dest.Write(Buffer.get(), static_cast<std::size_t>(Got), Put) != 0) State.SkipWithError("write failed");
    } while (Got == CopyThreadBufferSize);
    benchmark::DoNotOptimize(Crc);
  }
  Finish(State);
}
BENCHMARK_CAPTURE(PlainLoop, ZlibCrcPass, ZlibCrc)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_CAPTURE(PlainLoop, NoCrcPass, nullptr)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_CAPTURE(PlainLoop, Crc32UpdatePass, Crc32Update)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
#ifdef DZ_BENCH_HAVE_ISAL
BENCHMARK_CAPTURE(PlainLoop, IsalCrcPass, IsalCrc)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
#endif

// The kernel's file-to-file copy; with ChecksumRead each block is also read
// into the buffer for the CRC.
void KernelCopy(benchmark::State& State, bool ChecksumRead) {
  auto Buffer = std::make_unique_for_overwrite<char[]>(CopyThreadBufferSize);
  for (auto _ : State) {
    Reset(State);
    const int In = ::open(Files().Source.c_str(), O_RDONLY | O_CLOEXEC);
    const int Out = ::open(Files().Dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::uint32_t Crc = 0;
    for (off_t Offset = 0; Offset < Files().Size;) {
      const std::size_t Block = ChecksumRead ? CopyThreadBufferSize : static_cast<std::size_t>(Files().Size - Offset);
      if (ChecksumRead) {
        if (::pread(In, Buffer.get(), Block, Offset) != static_cast<ssize_t>(Block)) State.SkipWithError("read failed");
        Crc = Crc32Update(Crc, Buffer.get(), Block);
      }
      off_t From = Offset;
      off_t To = Offset;
      const ssize_t Copied = ::copy_file_range(In, &From, Out, &To, Block, 0);
      if (Copied <= 0) {
        State.SkipWithError("copy_file_range failed");
        break;
      }
      Offset += Copied;
    }
    ::close(In);
    ::close(Out);
    benchmark::DoNotOptimize(Crc);
  }
  Finish(State);
}
BENCHMARK_CAPTURE(KernelCopy, KernelCopy, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_CAPTURE(KernelCopy, KernelCopyCrcRead, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
}  // namespace dz

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  dz::Files();  // made before anything is timed
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
