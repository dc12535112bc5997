// The window's responsiveness while monitoring starts on 100,000
// directories, measured as the large test measures it
// (tests/ui/StartResponsiveness.h): the time from the start button's click
// until every watcher has started, and the longest gap between two ticks of
// a 10 ms timer on the GUI thread meanwhile (target: well below 100 ms).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "StartResponsiveness.h"

namespace {

using namespace dz::ui::test;

constexpr int Directories = 100000;

void BM_WindowStartOnLargeTree(benchmark::State& State) {
  TWatchLimit Limit(Directories + 20000);
  if (!Limit.Enough()) {
    State.SkipWithError("fs.inotify.max_user_watches is too low for 100,000 directories (raise it as root)");
    return;
  }
  std::unique_ptr<TWindowRig> Rig;
  double LongestGap = 0;
  int Ticks = 0;
  for (auto _ : State) {
    State.PauseTiming();
    Rig.reset();
    Rig = std::make_unique<TWindowRig>(false);  // a fresh window and controller on a fresh folder
    MakeDirectoryTree(Rig->PathOf("tree"), Directories);
    Rig->AddEntry("tree", "tree");
    Rig->Window().show();
    State.ResumeTiming();
    const TStartMeasure M = MeasureStart(*Rig, std::chrono::minutes(10));
    State.SetIterationTime(M.Seconds);
    if (!M.Started) {
      State.SkipWithError("the watchers did not start within 10 minutes");
      return;
    }
    LongestGap = std::max(LongestGap, M.LongestGapMs);
    Ticks = M.Ticks;
  }
  State.counters["longest_gap_ms"] = LongestGap;
  State.counters["ticks"] = Ticks;
}
BENCHMARK(BM_WindowStartOnLargeTree)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
