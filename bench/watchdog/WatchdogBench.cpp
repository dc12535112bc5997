// Loading and saving the watchdog's settings file when every monitored
// directory has piled up pending files: 25 directories with 20,000 each, as
// after a long time without a reachable destination. Both run on the main
// thread (loading at start-up, saving after every backup start and on
// closing), so both must stay well under a second.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/IniNameCodec.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/Watchdog.h"
#include "NullWatchdogView.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using bench::TNullView;

constexpr int EntryCount = 25;
constexpr int FilesPerEntry = 20000;

std::string Padded(int I, std::size_t Width) {
  std::string Digits = std::to_string(I);
  if (Digits.size() < Width)
    Digits.insert(0, Width - Digits.size(), '0');
  return Digits;
}

// Unsorted on purpose in part (the numbers run through the name), with a few
// names that take the escaped form.
std::string PendingFile(int Entry, int I) {
  std::string Name = "Projects/Client " + std::to_string(Entry) + "/Reports/" + std::to_string(2000 + I % 25) +
                     "/Entw\xC3\xBC" "rfe/report-" + std::to_string(I) + ".docx";
  if (I % 1000 == 0)
    Name += " \xFF";
  return Name;
}

// A folder with the task files and the settings file, made once.
class TBenchFiles {
public:
  TBenchFiles() {
    std::random_device Random;
    FDir = fs::temp_directory_path() / ("dz-watchdog-bench-" + std::to_string(Random()));
    fs::create_directories(FDir);
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(IniName(), true);
    Ini.WriteInteger("Config", "Count", EntryCount);
    for (int E = 0; E < EntryCount; ++E) {
      const std::string Task = (FDir / ("Task " + Padded(E, 2) + ".buj")).string();
      std::ofstream(Task) << "[Global]\n";
      const std::string Section = "Monitor" + Padded(E, 2);
      Ini.WriteString(Section, "BackupTask", Task);
      Ini.WriteString(Section, "Directory", "/home/user/Projects/Client " + std::to_string(E));
      Ini.WriteInteger(Section, "Count", FilesPerEntry);
      for (int I = 0; I < FilesPerEntry; ++I)
        Ini.WriteString(Section, "File" + Padded(I, 3), EncodeIniName(PendingFile(E, I)));
    }
    Ini.UpdateFile();
  }
  ~TBenchFiles() {
    std::error_code Ignored;
    fs::remove_all(FDir, Ignored);
  }
  TWatchdogSetup Setup() const { return {IniName(), "/home/user/", "DeZedodiru", "1.0.0.0"}; }

private:
  std::string IniName() const { return (FDir / "DeZedodiru.ini").string(); }
  fs::path FDir;
};

TBenchFiles& Files() {
  static TBenchFiles Instance;
  return Instance;
}

void BM_LoadSettings(benchmark::State& State) {
  const TWatchdogSetup Setup = Files().Setup();
  TNullView View;
  TPlainMainThreadQueue Queue;
  for (auto _ : State) {
    TWatchdog Watchdog(View, Queue, Setup);
    Watchdog.LoadSettings();
    if (Watchdog.FileCount() != EntryCount * FilesPerEntry)
      State.SkipWithError("not every pending file was loaded");
    benchmark::DoNotOptimize(Watchdog.FileCount());
  }
  State.SetItemsProcessed(State.iterations() * EntryCount * FilesPerEntry);
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMillisecond);

// Includes reading the existing file (a save keeps its other contents) and
// replacing it on disk, flushed.
void BM_SaveSettings(benchmark::State& State) {
  TNullView View;
  TPlainMainThreadQueue Queue;
  TWatchdog Watchdog(View, Queue, Files().Setup());
  Watchdog.LoadSettings();
  for (auto _ : State)
    Watchdog.SaveSettings();
  State.SetItemsProcessed(State.iterations() * EntryCount * FilesPerEntry);
}
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dz

BENCHMARK_MAIN();
