// What decides the settings of a compressed copy deflated in pieces on
// several threads (copyengine/ParallelDeflate.h):
//
//   BySize/<KiB>/<spread>    a gzip copy of a source of that size on the
//                            job's thread (0) and in pieces on every core
//                            (1): from which size on the helpers pay
//   ByPiece/<KiB>            a gzip copy of DZ_BENCH_FILE_MIB MiB (default
//                            64) in pieces of that size; the counter Growth
//                            is the output's size over one thread's, minus
//                            1, in percent
//
// The sources are half pseudo-random bytes and half text in turns of 64 KiB,
// as in bench/copyengine/copy_bench.py, below DZ_BENCH_DIR (default: the
// system's temporary folder) and in the page cache. Compare times of one
// run with each other: the load of a shared machine moves all of them; for
// stable figures use --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true and read the medians.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "copyengine/CopyJob.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

fs::path BenchDir() {
  const char* Dir = std::getenv("DZ_BENCH_DIR");
  static const fs::path Path =
      fs::path(Dir != nullptr ? Dir : fs::temp_directory_path().string()) / "dz-parallel-deflate-bench";
  fs::create_directories(Path);
  return Path;
}

std::int64_t FileMiB() {
  const char* Value = std::getenv("DZ_BENCH_FILE_MIB");
  return Value != nullptr ? std::atoll(Value) : 64;
}

// Half incompressible, half text, in turns of 64 KiB.
std::string MixedSource(std::size_t Size) {
  std::mt19937 Random(20240517);
  std::string Out;
  Out.reserve(Size);
  int Line = 0;
  while (Out.size() < Size) {
    const std::size_t End = std::min(Size, Out.size() + 65536);
    if (Out.size() / 65536 % 2 == 0) {
      while (Out.size() < End) Out.push_back(static_cast<char>(Random() & 0xFF));
    } else {
      static const char* const Words[] = {"backup", "monitor", "directory", "pending", "changed", "report", "the",
                                          "of", "file", "copy"};
      while (Out.size() < End) {
        std::string Text = std::to_string(++Line);
        for (unsigned W = 0, N = 4 + Random() % 10; W < N; ++W) Text += std::string(" ") + Words[Random() % 10];
        Text += '\n';
        Out.append(Text, 0, End - Out.size());
      }
    }
  }
  return Out;
}

std::string SourceOf(std::size_t Size) {
  const fs::path Path = BenchDir() / ("source-" + std::to_string(Size));
  if (!fs::exists(Path) || fs::file_size(Path) != Size) {
    const std::string Data = MixedSource(Size);
    std::ofstream(Path, std::ios::binary).write(Data.data(), static_cast<std::streamsize>(Data.size()));
  }
  return Path.string();
}

// One gzip copy per iteration; the output's size in Bytes.
void RunCopies(benchmark::State& State, const std::string& Source, const TParallelDeflateSettings& Settings,
               std::int64_t& Bytes) {
  const std::string Dest = (BenchDir() / "out.gz").string();
  TCopyJob Job;
  Job.SetParallelDeflate(Settings);
  for (auto _ : State) {
    const TCopyResult Result = Job.Run({Source, Dest, CopyOptionsGzip});
    if (Result.ErrorCode != 0) State.SkipWithError("the copy failed");
    Bytes = static_cast<std::int64_t>(fs::file_size(Dest));
  }
  fs::remove(Dest);
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(fs::file_size(Source)));
}

TParallelDeflateSettings Spread(bool On, std::size_t PieceSize = TParallelDeflateSettings().PieceSize) {
  TParallelDeflateSettings Settings;
  Settings.MinSize = On ? 0 : INT64_MAX;
  Settings.PieceSize = PieceSize;
  return Settings;
}

void BySize(benchmark::State& State) {
  std::int64_t Bytes = 0;
  RunCopies(State, SourceOf(static_cast<std::size_t>(State.range(0)) << 10), Spread(State.range(1) != 0), Bytes);
}
BENCHMARK(BySize)
    ->ArgsProduct({{128, 256, 512, 1024, 2048, 4096, 8192}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1);

void ByPiece(benchmark::State& State) {
  const std::string Source = SourceOf(static_cast<std::size_t>(FileMiB()) << 20);
  static std::int64_t Single = 0;
  if (Single == 0) {
    TCopyJob Job;
    Job.SetParallelDeflate(Spread(false));
    const std::string Dest = (BenchDir() / "single.gz").string();
    Job.Run({Source, Dest, CopyOptionsGzip});
    Single = static_cast<std::int64_t>(fs::file_size(Dest));
    fs::remove(Dest);
  }
  std::int64_t Bytes = 0;
  RunCopies(State, Source, Spread(true, static_cast<std::size_t>(State.range(0)) << 10), Bytes);
  State.counters["Growth"] = (static_cast<double>(Bytes) / static_cast<double>(Single) - 1) * 100;
}
BENCHMARK(ByPiece)->Arg(64)->Arg(128)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
}  // namespace dz

BENCHMARK_MAIN();
