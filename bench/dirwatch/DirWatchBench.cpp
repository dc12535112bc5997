// The directory watcher on the system's backend, on real trees:
//   StartOnTree      time and memory to start watching a tree of 100,000
//                    directories (target: below 2 s); Stop is timed apart
//   FileBurst        100,000 files created as fast as possible: every one of
//                    them must reach OnNotify, counted by name
//   StopLatency      Stop while the worker waits for reports
//
// The trees go below DZ_BENCH_DIR (default: the system's temporary folder);
// on a tmpfs the files appear faster and the watcher is pressed harder.
// fs.inotify.max_user_watches must allow the tree; the benchmark says so
// when it does not.

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <unordered_set>

#include "base/MainThreadQueue.h"
#include "dirwatch/DirectoryWatch.h"
#include "platform/DirWatchBackend.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

fs::path BenchRoot() {
  const char* Dir = std::getenv("DZ_BENCH_DIR");
  return Dir != nullptr && *Dir != 0 ? fs::path(Dir) : fs::temp_directory_path();
}

// Prefix and number (appending, where "literal" + std::to_string trips a
// false -Wrestrict of GCC 12 at -O3).
std::string Numbered(const char* Prefix, int Number) {
  std::string Name = Prefix;
  Name += std::to_string(Number);
  return Name;
}

// A fresh folder, removed at the end.
class TBenchDir {
public:
  explicit TBenchDir(const std::string& Name) {
    std::random_device Random;
    FPath = BenchRoot() / (Numbered("dz-bench-", static_cast<int>(Random() & 0x7fffffff)) + "-" + Name);
    fs::create_directories(FPath);
  }
  ~TBenchDir() {
    std::error_code Ignored;
    fs::remove_all(FPath, Ignored);
  }
  const fs::path& Path() const { return FPath; }

private:
  fs::path FPath;
};

long ReadProcValue(const char* File, const char* Key) {
  std::ifstream In(File);
  std::string Line;
  while (std::getline(In, Line))
    if (Line.rfind(Key, 0) == 0) return std::strtol(Line.c_str() + std::string(Key).size(), nullptr, 10);
  return -1;
}

long ResidentKiB() { return ReadProcValue("/proc/self/status", "VmRSS:"); }
// Kernel memory that is not page cache: inotify watches live here.
long KernelSlabKiB() { return ReadProcValue("/proc/meminfo", "SUnreclaim:"); }

int MaxUserWatches() {
  std::ifstream In("/proc/sys/fs/inotify/max_user_watches");
  int Value = 0;
  In >> Value;
  return Value;
}

void Touch(const fs::path& Path) { std::ofstream Out(Path); }


// Counts the reports of one backend and waits for a name among them.
class TCountingSink final : public TDirWatchSink {
public:
  void Changes(std::vector<TDirChange> Batch, TDirWatchClock::time_point) override {
    std::lock_guard<std::mutex> Lock(FLock);
    for (const TDirChange& Change : Batch)
      if (Change.FileName == FAwaited) FSeen = true;
    FSignal.notify_all();
  }
  void Error(int Code, std::string, TDirWatchClock::time_point) override {
    std::lock_guard<std::mutex> Lock(FLock);
    if (Code == ErrNotifyEnumDirCode) ++FOverflows;
  }
  void Await(const std::string& Name) {
    std::lock_guard<std::mutex> Lock(FLock);
    FAwaited = Name;
    FSeen = false;
  }
  bool WaitSeen() {
    std::unique_lock<std::mutex> Lock(FLock);
    return FSignal.wait_for(Lock, std::chrono::seconds(60), [this] { return FSeen; });
  }

private:
  static constexpr int ErrNotifyEnumDirCode = 1022;
  std::mutex FLock;
  std::condition_variable FSignal;
  std::string FAwaited;
  bool FSeen = false;
  int FOverflows = 0;
};

// 10 x 100 x 100 directories below 10 x 100 more: 101,010 directories.
void MakeTree(const fs::path& Root) {
  for (int A = 0; A < 10; ++A)
    for (int B = 0; B < 100; ++B)
      for (int C = 0; C < 100; ++C)
        fs::create_directories(Root / Numbered("a", A) / Numbered("b", B) / Numbered("c", C));
}
constexpr int TreeDirectories = 10 + 10 * 100 + 10 * 100 * 100;

void StartOnTree(benchmark::State& State) {
  if (MaxUserWatches() < TreeDirectories + 1000) {
    State.SkipWithError("fs.inotify.max_user_watches is below 102,010: raise it with sysctl fs.inotify.max_user_watches=524288");
    return;
  }
  TBenchDir Dir("tree");
  MakeTree(Dir.Path());
  double StopSeconds = 0;
  long RssKiB = 0;
  long SlabKiB = 0;
  bool First = true;
  for (auto _ : State) {
    TCountingSink Sink;
    auto Backend = CreateSystemDirWatchBackend();
    const long RssBefore = ResidentKiB();
    const long SlabBefore = KernelSlabKiB();
    const auto Started = TClock::now();
    Backend->Start(TDirWatchRequest{Dir.Path().string(), true, 0x5B, 17024}, Sink);
    State.SetIterationTime(std::chrono::duration<double>(TClock::now() - Started).count());
    // Later rounds reuse the memory the first one freed: only the first counts.
    if (First) {
      RssKiB = ResidentKiB() - RssBefore;
      SlabKiB = KernelSlabKiB() - SlabBefore;
      First = false;
    }
    // Every directory is watched: a file in the last one walked is reported.
    const std::string Last = "a9/b99/c99/probe";
    Sink.Await(Last);
    Touch(Dir.Path() / Last);
    if (!Sink.WaitSeen()) State.SkipWithError("the probe in the deepest directory was not reported");
    const auto Stopping = TClock::now();
    Backend->Stop();
    StopSeconds = std::chrono::duration<double>(TClock::now() - Stopping).count();
    fs::remove(Dir.Path() / Last);
  }
  State.counters["directories"] = TreeDirectories;
  State.counters["rss_MiB"] = static_cast<double>(RssKiB) / 1024;
  State.counters["kernel_MiB"] = static_cast<double>(SlabKiB) / 1024;
  State.counters["stop_s"] = StopSeconds;
}
BENCHMARK(StartOnTree)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr int BurstFiles = 100000;

void FileBurst(benchmark::State& State) {
  std::size_t Collected = 0;
  for (auto _ : State) {
    State.PauseTiming();
    TBenchDir Dir("burst");
    for (int D = 0; D < 100; ++D) fs::create_directory(Dir.Path() / Numbered("d", D));
    TPlainMainThreadQueue Queue;
    TDirectoryWatch Watch(1, Queue);
    Watch.SetDirectory(Dir.Path().string());
    Watch.SetWatchOptions({woFileName, woDirName, woSize, woLastWrite, woCreation});
    std::unordered_set<std::string> Added;
    Added.reserve(BurstFiles * 2);
    int Overflows = 0;
    bool MarkerSeen = false;
    Watch.OnNotify = [&](TDirectoryWatch&, int, TWatchAction Action, const std::string& FileName) {
      if (FileName == "marker") MarkerSeen = true;
      else if (Action == waAdded) Added.insert(FileName);
    };
    Watch.OnError = [&](TDirectoryWatch&, int Code, const std::string&, TDirWatchClock::time_point) {
      Overflows += Code == 1022;
    };
    Watch.Start();
    State.ResumeTiming();
    // The creating thread does not process the queue meanwhile: the reports
    // pile up in it, as they would behind a busy main thread.
    for (int D = 0; D < 100; ++D)
      for (int F = 0; F < BurstFiles / 100; ++F)
        Touch(Dir.Path() / Numbered("d", D) / Numbered("f", F));
    Touch(Dir.Path() / "marker");
    if (!Queue.WaitWhileProcessing([&] { return MarkerSeen; }, std::chrono::seconds(120)))
      State.SkipWithError("the marker was not reported");
    State.PauseTiming();
    Watch.Stop();
    Collected = Added.size();
    State.counters["overflows"] = Overflows;
    State.ResumeTiming();
  }
  State.counters["files"] = BurstFiles;
  State.counters["collected"] = static_cast<double>(Collected);
  if (Collected != BurstFiles) State.SkipWithError("not every file was reported");
}
BENCHMARK(FileBurst)->Unit(benchmark::kMillisecond)->Iterations(3);

void StopLatency(benchmark::State& State) {
  TBenchDir Dir("stop");
  int Round = 0;
  for (auto _ : State) {
    TCountingSink Sink;
    auto Backend = CreateSystemDirWatchBackend();
    Backend->Start(TDirWatchRequest{Dir.Path().string(), true, 0x5B, 17024}, Sink);
    // Once the probe is reported the worker is back in its wait.
    const std::string Probe = Numbered("probe", Round++);
    Sink.Await(Probe);
    Touch(Dir.Path() / Probe);
    if (!Sink.WaitSeen()) State.SkipWithError("the probe was not reported");
    const auto Stopping = TClock::now();
    Backend->Stop();
    State.SetIterationTime(std::chrono::duration<double>(TClock::now() - Stopping).count());
  }
}
BENCHMARK(StopLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace
}  // namespace dz

BENCHMARK_MAIN();
