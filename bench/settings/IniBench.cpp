// The settings file holds every pending file as a key, so a busy machine
// gives a large document: 25 monitored directories with 20,000 pending files
// each. Loading it, reading it key by key in order, and saving it must each
// take well under a second.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/UnicodeIniFile.h"

namespace dz {
namespace {

constexpr int SectionCount = 25;
constexpr int KeysPerSection = 20000;

// I in at least Width digits, as the settings file numbers its sections and keys.
std::string Padded(int I, std::size_t Width) {
  std::string Digits = std::to_string(I);
  if (Digits.size() < Width)
    Digits.insert(0, Width - Digits.size(), '0');
  return Digits;
}

std::string TwoDigits(int I) { return Padded(I, 2); }
std::string FileKey(int I) { return "File" + Padded(I, 3); }

std::string PendingFile(int Section, int I) {
  return "Projects/Client " + std::to_string(Section) + "/Reports/" + std::to_string(2000 + I % 25) +
         "/Entw\xC3\xBC" "rfe/report-" + std::to_string(I) + ".docx";
}

// Writes the sections as the settings are saved: each monitored directory's
// section is erased and written anew.
void WriteSettings(TUnicodeIniFile& Ini) {
  Ini.WriteProgramInfo("Program", "DeZedodiru");
  Ini.WriteProgramInfo("Version", "1.0.0.1");
  Ini.WriteInteger("Config", "Interval", 1800);
  Ini.WriteInteger("Config", "Count", SectionCount);
  for (int S = 0; S < SectionCount; ++S) {
    const std::string Section = "Monitor" + TwoDigits(S);
    Ini.EraseSection(Section);
    Ini.WriteString(Section, "BackupTask", "/home/user/ZentApp/Task " + std::to_string(S) + ".buj");
    Ini.WriteString(Section, "Directory", "/home/user/Projects/Client " + std::to_string(S));
    Ini.WriteInteger(Section, "RetainBak", 2);
    Ini.WriteBool(Section, "Enabled", true);
    Ini.WriteInteger(Section, "Count", KeysPerSection);
    for (int I = 0; I < KeysPerSection; ++I)
      Ini.WriteString(Section, FileKey(I), PendingFile(S, I));
  }
}

const std::string& SettingsBytes() {
  static const std::string Bytes = [] {
    TUnicodeIniFile Ini;
    WriteSettings(Ini);
    return Ini.SaveToBytes();
  }();
  return Bytes;
}

std::string SettingsPath() { return (std::filesystem::temp_directory_path() / "dz-settings-bench.ini").string(); }

// Reads every monitored directory's keys as the settings loader does.
std::size_t ReadAllInOrder(const TUnicodeIniFile& Ini) {
  std::size_t Total = 0;
  for (int S = 0; S < SectionCount; ++S) {
    const std::string Section = "Monitor" + TwoDigits(S);
    for (const std::string& Key : Ini.ReadSection(Section))
      Total += Ini.ReadString(Section, Key, "").size();
  }
  return Total;
}

void BM_LoadFromBytes(benchmark::State& State) {
  const std::string& Bytes = SettingsBytes();
  for (auto _ : State) {
    TUnicodeIniFile Ini;
    Ini.LoadFromBytes(Bytes);
    benchmark::DoNotOptimize(Ini);
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Bytes.size()));
}
BENCHMARK(BM_LoadFromBytes)->Unit(benchmark::kMillisecond);

void BM_ReadAllInOrder(benchmark::State& State) {
  TUnicodeIniFile Ini;
  Ini.LoadFromBytes(SettingsBytes());
  for (auto _ : State)
    benchmark::DoNotOptimize(ReadAllInOrder(Ini));
  State.SetItemsProcessed(State.iterations() * SectionCount * KeysPerSection);
}
BENCHMARK(BM_ReadAllInOrder)->Unit(benchmark::kMillisecond);

void BM_SaveToBytes(benchmark::State& State) {
  TUnicodeIniFile Ini;
  Ini.LoadFromBytes(SettingsBytes());
  for (auto _ : State)
    benchmark::DoNotOptimize(Ini.SaveToBytes());
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * SettingsBytes().size()));
}
BENCHMARK(BM_SaveToBytes)->Unit(benchmark::kMillisecond);

void BM_WriteAllKeys(benchmark::State& State) {
  for (auto _ : State) {
    TUnicodeIniFile Ini;
    WriteSettings(Ini);
    benchmark::DoNotOptimize(Ini);
  }
  State.SetItemsProcessed(State.iterations() * SectionCount * KeysPerSection);
}
BENCHMARK(BM_WriteAllKeys)->Unit(benchmark::kMillisecond);

// The whole start-up read: the file from disk, every key in order.
void BM_LoadFileAndReadAll(benchmark::State& State) {
  const std::string Path = SettingsPath();
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, true);
    WriteSettings(Ini);
    Ini.UpdateFile();
  }
  for (auto _ : State)
    benchmark::DoNotOptimize(ReadAllInOrder(TUnicodeIniFile::CreateForRead(Path)));
}
BENCHMARK(BM_LoadFileAndReadAll)->Unit(benchmark::kMillisecond);

// The whole save: load the existing file, rewrite every section, and replace
// the file on disk (written beside it, flushed, renamed).
void BM_SaveSettingsToFile(benchmark::State& State) {
  const std::string Path = SettingsPath();
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, true);
    WriteSettings(Ini);
    Ini.UpdateFile();
  }
  for (auto _ : State) {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);
    WriteSettings(Ini);
    Ini.UpdateFile();
  }
}
BENCHMARK(BM_SaveSettingsToFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dz

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code Ignored;
  std::filesystem::remove(dz::SettingsPath(), Ignored);
  return 0;
}
