// dz-backup-run runs one backup worker (TBackupThread) over a source tree into
// a destination, as the scheduler starts it: every regular file below
// SOURCE_DIR is pending, the log lines are taken on this (the main) thread
// from a TPlainMainThreadQueue until the worker has finished. It lets the
// backup benchmark time a whole run as one process against rsync, cp, gzip
// and zip, and measure a worker's memory.
//
//   dz-backup-run [--compress none|gz|zip] [--retain N] [--no-flush]
//                 SOURCE_DIR DEST_DIR
//
// --no-flush leaves out the flush of every copy and of the directories, to
// show what they cost; a real backup always flushes.
// Prints one summary line; exit status 0 when every file was backed up, 1
// when a file failed or was left pending, 2 for a usage error.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
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
               "Usage: dz-backup-run [--compress none|gz|zip] [--retain N] [--no-flush] SOURCE_DIR DEST_DIR\n"
               "Backs up every regular file below SOURCE_DIR into DEST_DIR with one backup worker\n"
               "and prints a summary line. --no-flush leaves out the flushes (for measuring only).\n");
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
  if (Paths.size() != 2) return UsageError("SOURCE_DIR and DEST_DIR are needed");

  const fs::path Source = fs::absolute(Paths[0]).lexically_normal();
  const fs::path Dest = fs::absolute(Paths[1]).lexically_normal();
  if (!fs::is_directory(Source)) return UsageError("not a directory: " + Source.string());
  fs::create_directories(Dest);

  // The worker sorts its list itself; handing it over sorted saves the work.
  std::vector<std::string> Names;
  for (const auto& Entry : fs::recursive_directory_iterator(Source))
    if (Entry.symlink_status().type() == fs::file_type::regular)
      Names.push_back(Entry.path().lexically_relative(Source).string());
  dz::TMatchList FileList;
  FileList.Assign(std::move(Names));

  std::size_t Lines = 0;
  dz::TPlainMainThreadQueue Queue;
  const auto Start = std::chrono::steady_clock::now();
  dz::TBackupThread Worker(
      1, Dest.string(), Source.string(), "", "", FileList, Compress, Retain,
      [&Lines](const std::string&) { ++Lines; }, {}, Queue, [] { return std::string("-"); }, {}, Flush);
  while (!Queue.WaitWhileProcessing([&Worker] { return Worker.Finished(); }, std::chrono::hours(1))) {
  }
  Worker.Wait();
  Queue.ProcessPending();
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();

  std::size_t Failed = 0;
  for (const dz::TBackupFileResult& R : Worker.Results())
    if (R.ErrorCode != 0) ++Failed;
  const std::size_t NotDone = Worker.NotDone().size();
  std::printf("%zu files, %zu log lines, %zu failed, %zu not done, %zu directories flushed, %.3f s\n",
              FileList.Count(), Lines, Failed, NotDone, Worker.SyncedDirectories().size(), Seconds);
  return Failed == 0 && NotDone == 0 && Lines == FileList.Count() ? ExitSuccess : ExitFailed;
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
