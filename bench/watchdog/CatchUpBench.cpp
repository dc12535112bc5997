// What the look for changes made while nothing watched costs at a start of
// monitoring: one walk of a tree of 100,000 files (100 folders of 1,000),
// with the task's filters applied to every name. Measured with nothing
// changed since the last save (the usual start) and with every file changed
// (a first start after restoring a tree). Warm cache: the walk after a
// reboot also waits for the disk.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "watchdog/MonTask.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

constexpr int Folders = 100;
constexpr int FilesPerFolder = 1000;

std::string NumberedName(const char* Prefix, unsigned long N, const char* Suffix) {
  std::string Name(Prefix);
  Name.append(std::to_string(N)).append(Suffix);
  return Name;
}

class TTree {
public:
  TTree() {
    std::random_device Random;
    FRoot = fs::temp_directory_path() / NumberedName("dz-catchup-bench-", Random(), "");
    for (int D = 0; D < Folders; ++D) {
      const fs::path Dir = FRoot / NumberedName("folder", D, "");
      fs::create_directories(Dir);
      for (int F = 0; F < FilesPerFolder; ++F) std::ofstream(Dir / NumberedName("file", F, ".txt")) << F;
    }
  }
  ~TTree() {
    std::error_code Ignored;
    fs::remove_all(FRoot, Ignored);
  }
  TTree(const TTree&) = delete;
  TTree& operator=(const TTree&) = delete;
  std::string Root() const { return FRoot.string(); }

private:
  fs::path FRoot;
};

const TTree& Tree() {
  static const TTree Instance;
  return Instance;
}

void BM_CatchUpScan(benchmark::State& State) {
  const bool AllChanged = State.range(0) != 0;
  const std::string Root = Tree().Root();  // made before the time is taken
  TMonFilter Filter;
  Filter.ExtList.Add("tmp");  // a usual task leaves a few types out
  const auto Later = std::chrono::system_clock::now() + std::chrono::seconds(2);
  const TFileTime Since =
      AllChanged ? 0
                 : FileTimeOfUnixEpoch +
                       std::chrono::duration_cast<std::chrono::nanoseconds>(Later.time_since_epoch()).count() / 100;
  std::size_t Found = 0;
  for (auto _ : State) {
    std::vector<std::string> Files;
    if (ScanChangedFiles(Root, Filter, Since, Files) != 0) {
      State.SkipWithError("the tree cannot be walked");
      return;
    }
    Found = Files.size();
    benchmark::DoNotOptimize(Files.data());
  }
  State.counters["files_found"] = static_cast<double>(Found);
  State.SetItemsProcessed(State.iterations() * Folders * FilesPerFolder);
}
BENCHMARK(BM_CatchUpScan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dz

BENCHMARK_MAIN();
