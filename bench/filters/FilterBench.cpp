// How long one name takes to pass a filter: the change handler runs every
// reported name through two filters on the thread that also runs the window.

#include "filters/TextFilter.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

dz::TTextFilter MakeFilter(bool ARegular, const char* AText) {
  dz::TTextFilter Filter(true, true);
  Filter.SetRegular(ARegular);
  Filter.SetFilter(AText);
  Filter.SetMode(dz::fmInclude);
  return Filter;
}

void BM_MaskList(benchmark::State& AState) {
  const dz::TTextFilter Filter = MakeFilter(false, "*.doc|*.docx|*.xls|*.xlsx|*.odt|*.txt|*.");
  for (auto _ : AState)
    benchmark::DoNotOptimize(Filter.MatchesFilter("Quarterly report, final version (2).pdf"));
}
BENCHMARK(BM_MaskList);

// Thirty stars against a long name that almost matches: the worst the mask
// language allows.
void BM_MaskManyStars(benchmark::State& AState) {
  std::string Mask;
  for (int I = 0; I < 30; ++I)
    Mask += "*a";
  Mask += "b";
  const dz::TMask Compiled(Mask);
  const std::string Name(static_cast<std::size_t>(AState.range(0)), 'a');
  for (auto _ : AState)
    benchmark::DoNotOptimize(Compiled.Matches(Name));
}
BENCHMARK(BM_MaskManyStars)->Arg(255)->Arg(4096);

void BM_RegExp(benchmark::State& AState) {
  const dz::TTextFilter Filter = MakeFilter(true, "\\.(docx?|xlsx?|odt)$");
  for (auto _ : AState)
    benchmark::DoNotOptimize(Filter.MatchesFilter("Quarterly report, final version (2).pdf"));
}
BENCHMARK(BM_RegExp);

// A catastrophic expression: the match limit has to stop it within about a
// millisecond.
void BM_RegExpRunaway(benchmark::State& AState) {
  const dz::TTextFilter Filter = MakeFilter(true, "(a+)+$");
  const std::string Name = std::string(30, 'a') + "b";
  for (auto _ : AState)
    benchmark::DoNotOptimize(Filter.MatchesFilter(Name));
}
BENCHMARK(BM_RegExpRunaway)->Unit(benchmark::kMicrosecond);

}  // namespace
