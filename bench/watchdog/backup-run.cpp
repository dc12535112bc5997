// dz-backup-run runs backup workers (TBackupThread) over source trees into
// destinations, as the scheduler starts them: every regular file below a
// SOURCE_DIR is pending, the log lines are taken on this (the main) thread
// from one TPlainMainThreadQueue until every worker has finished. It lets
// the backup benchmark time a whole run as one process against rsync, cp,
// gzip and zip, and measure what the workers add to the process's memory.
//
//   dz-backup-run [--compress none|gz|zip] [--retain N] [--no-flush]
//                 SOURCE_DIR DEST_DIR [SOURCE_DIR DEST_DIR ...]
//
// One worker per pair, all started at once. --no-flush leaves out the
// flushes, to show what they cost; a real backup always flushes.
// Prints a summary line and a memory line: the resident size when the
// workers start (the program, its libraries and the file lists) and the
// peak while they run. Exit status 0 when every file was backed up, 1 when a
// file failed or was left pending, 2 for a usage error.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/MainThreadQueue.h"
#include "base/MatchList.h"
#include "watchdog/BackupThread.h"

namespace {

namespace fs = std::filesystem;

constexpr int ExitSuccess = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

void PrintUsage(std::FILE* Out) {
  std::fprintf(Out,
               "Usage: dz-backup-run [--compress none|gz|zip] [--retain N] [--no-flush]\n"
               "                     SOURCE_DIR DEST_DIR [SOURCE_DIR DEST_DIR ...]\n"
               "Backs up every regular file below each SOURCE_DIR into its DEST_DIR, one backup\n"
               "worker per pair, all at once, and prints a summary and a memory line.\n"
               "--no-flush leaves out the flushes (for measuring only).\n");
}

// A "Vm...:" value of /proc/self/status in KiB, or -1.
long StatusKiB(const std::string& Field) {
  std::ifstream Status("/proc/self/status");
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.starts_with(Field + ":")) return std::stol(Line.substr(Field.size() + 1));
  return -1;
}

// Makes the peak resident size (VmHWM) the current one, so that the peak
// read later is that of what ran since; false where the kernel refuses.
bool ResetPeakResident() {
  std::ofstream ClearRefs("/proc/self/clear_refs");
  ClearRefs << "5";
  ClearRefs.flush();
  return ClearRefs.good();
}

int UsageError(const std::string& Problem) {
  std::fprintf(stderr, "dz-backup-run: %s\n", Problem.c_str());
  PrintUsage(stderr);
  return ExitUsage;
}

int Run(int argc, char** argv) {
  std::int32_t Compress = 0;
  std::int32_t Retain = 0;
  bool Flush = true;
  std::vector<std::string> Paths;
  for (int I = 1; I < argc; ++I) {
    const std::string_view A = argv[I];
    if (A == "--help" || A == "-h") {
      PrintUsage(stdout);
      return ExitSuccess;
    }
    if (A == "--no-flush") {
      Flush = false;
    } else if (A == "--compress" || A == "--retain") {
      if (++I == argc) return UsageError(std::string(A) + " needs a value");
      const std::string_view V = argv[I];
      if (A == "--retain") {
        if (V.size() != 1 || V[0] < '0' || V[0] > '3') return UsageError("--retain takes 0 to 3");
        Retain = V[0] - '0';
      } else if (V == "none") {
        Compress = 0;
      } else if (V == "gz") {
        Compress = 1;
      } else if (V == "zip") {
        Compress = 2;
      } else {
        return UsageError("--compress takes none, gz or zip");
      }
    } else if (A.starts_with("--")) {
      return UsageError("unknown option " + std::string(A));
    } else {
      Paths.emplace_back(A);
    }
  }
  if (Paths.size() < 2 || Paths.size() % 2 != 0) return UsageError("pairs of SOURCE_DIR and DEST_DIR are needed");

  struct TRun {
    std::string Source, Dest;
    dz::TMatchList FileList;
    std::unique_ptr<dz::TBackupThread> Worker;
  };
  std::vector<TRun> Runs(Paths.size() / 2);
  std::size_t Files = 0;
  for (std::size_t I = 0; I < Runs.size(); ++I) {
    const fs::path Source = fs::absolute(Paths[2 * I]).lexically_normal();
    const fs::path Dest = fs::absolute(Paths[2 * I + 1]).lexically_normal();
    if (!fs::is_directory(Source)) return UsageError("not a directory: " + Source.string());
    fs::create_directories(Dest);
    // The worker sorts its list itself; handing it over sorted saves the work.
    std::vector<std::string> Names;
    for (const auto& Entry : fs::recursive_directory_iterator(Source))
      if (Entry.symlink_status().type() == fs::file_type::regular)
        Names.push_back(Entry.path().lexically_relative(Source).string());
    Runs[I].Source = Source.string();
    Runs[I].Dest = Dest.string();
    Runs[I].FileList.Assign(std::move(Names));
    Files += Runs[I].FileList.Count();
  }

  std::size_t Lines = 0;
  dz::TPlainMainThreadQueue Queue;
  const long Before = StatusKiB("VmRSS");
  const bool PeakReset = ResetPeakResident();
  const auto Start = std::chrono::steady_clock::now();
  for (TRun& R : Runs)
    R.Worker = std::make_unique<dz::TBackupThread>(
        1, R.Dest, R.Source, "", "", R.FileList, Compress, Retain, [&Lines](const std::string&) { ++Lines; },
        dz::TFileDoneProc(), Queue, [] { return std::string("-"); }, dz::TBackupThread::TStepHook(), Flush);
  const auto AllFinished = [&Runs] {
    for (const TRun& R : Runs)
      if (!R.Worker->Finished()) return false;
    return true;
  };
  while (!Queue.WaitWhileProcessing(AllFinished, std::chrono::hours(1))) {
  }
  for (TRun& R : Runs) R.Worker->Wait();
  Queue.ProcessPending();
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  const long Peak = StatusKiB("VmHWM");

  std::size_t Failed = 0, NotDone = 0, Synced = 0;
  for (const TRun& R : Runs) {
    for (const dz::TBackupFileResult& Result : R.Worker->Results())
      if (Result.ErrorCode != 0) ++Failed;
    NotDone += R.Worker->NotDone().size();
    Synced += R.Worker->SyncedDirectories().size();
  }
  std::printf("%zu files, %zu log lines, %zu failed, %zu not done, %zu directories flushed, %.3f s\n", Files, Lines,
              Failed, NotDone, Synced, Seconds);
  std::printf("resident: %ld KiB when %zu worker%s started, peak %ld KiB, %ld KiB more%s\n", Before, Runs.size(),
              Runs.size() == 1 ? "" : "s", Peak, Peak - Before,
              PeakReset ? "" : " (the peak could not be reset: it may be older)");
  return Failed == 0 && NotDone == 0 && Lines == Files ? ExitSuccess : ExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "dz-backup-run: %s\n", E.what());
    return ExitFailed;
  }
}
