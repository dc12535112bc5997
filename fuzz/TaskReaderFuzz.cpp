// Feeds arbitrary bytes to the task reader as a task file. A task file comes
// from another program and may be damaged or hand-edited; whatever it holds,
// the reader must give one of its codes, report a failure as one log line,
// and never loop or allocate by a count the file states.
//
// The file lies in a temporary folder beside a source directory that exists.
// The fuzzer cannot guess that folder's name, so "@S" in the input stands
// for it (in UTF-8, and "@\0S\0" in UTF-16LE): a task that names "@S" or
// "@S/" as a source reaches the reader's settings code.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "filesys/PathUtils.h"
#include "watchdog/TaskReader.h"

namespace {

namespace fs = std::filesystem;

void Check(bool Holds, const char* What) {
  if (!Holds) {
    std::fprintf(stderr, "task reader invariant broken: %s\n", What);
    std::abort();
  }
}

class TCountingLog : public dz::TLogSink {
public:
  void AddLogLine(const std::string& Line) override {
    Check(!Line.empty(), "a log line says something");
    ++Lines;
  }
  int Lines = 0;
};

struct TFolder {
  std::string TaskName;
  std::string SourceDir;
};

// Created once per process; left behind on purpose, as libFuzzer ends the
// process without a hook to clean up (it holds one small file).
const TFolder& Folder() {
  static const TFolder Made = [] {
    std::random_device Random;
    const fs::path Root = fs::temp_directory_path() / ("dz-taskfuzz-" + std::to_string(Random()));
    fs::create_directories(Root / "s");
    return TFolder{(Root / "task.buj").string(), (Root / "s").string()};
  }();
  return Made;
}

void ReplaceAll(std::string& Text, std::string_view From, std::string_view To) {
  for (std::size_t Pos = 0; (Pos = Text.find(From, Pos)) != std::string::npos; Pos += To.size())
    Text.replace(Pos, From.size(), To);
}

// The input with "@S" turned into the source directory.
std::string TaskBytes(std::string Bytes, const std::string& SourceDir) {
  std::string Wide;
  for (const char C : SourceDir) {
    Wide.push_back(C);
    Wide.push_back('\0');
  }
  ReplaceAll(Bytes, std::string_view("@\0S\0", 4), Wide);
  ReplaceAll(Bytes, "@S", SourceDir);
  return Bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const auto& [TaskName, SourceDir] = Folder();
  {
    const std::string Bytes = TaskBytes(std::string(reinterpret_cast<const char*>(Data), Size), SourceDir);
    std::ofstream Out(TaskName, std::ios::binary | std::ios::trunc);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    Check(Out.good(), "the task file is written");
  }

  const dz::TTaskCheck Plain = dz::CheckTaskFile(TaskName);
  Check(Plain == dz::tcUsable || Plain == dz::tcInvalidSettings, "an existing small file is read");
  std::vector<dz::TTaskSource> List;
  const dz::TTaskCheck WithList = dz::CheckTaskFile(TaskName, &List);
  Check(WithList == Plain || (Plain == dz::tcUsable && WithList == dz::tcInvalidSettings),
        "asking for the sources can only make a task unusable");
  Check(WithList == dz::tcUsable || List.empty(), "sources only of a usable task");
  for (std::size_t I = 0; I < List.size(); ++I) {
    Check(!List[I].Dir.empty() && List[I].Index >= 0, "a source is a directory with its index");
    Check(I == 0 || List[I - 1].Index < List[I].Index, "sources in index order, each once");
  }

  for (const std::string& Dir : {SourceDir, SourceDir + "/"}) {
    dz::TMonTask Task(TaskName, Dir);
    Task.MonStatus = dz::mtDisabled;
    TCountingLog Log;
    const int Result = dz::ReadTaskSettings(Task, dz::TTaskDefaults{"Drv?", "zip"}, Log);
    if (Result == 0) {
      Check(Log.Lines == 0, "a success logs nothing");
      Check(Task.MonStatus == dz::mtDisabled, "a success keeps the status");
      Check(Task.DestDir.empty() || Task.DestDir.back() == dz::PathDelimiter, "the destination ends in a delimiter");
      Check(Task.Compress >= 0 && Task.Compress <= 2, "a known compression");
      for (const std::string& Sub : Task.MonFilter.SubDirList)
        Check(!Sub.empty() && !dz::IsAbsolutePath(Sub), "sub-directories are relative");
      for (const std::string& Ext : Task.MonFilter.ExtList)
        Check(!Ext.empty() && Ext.front() != '.', "extensions without their dot");
      // The filters must answer for any name without raising.
      (void)Task.MonFilter.FileFilter.MatchesFilter("a.txt");
      (void)Task.MonFilter.SubDirFilter.MatchesFilter("dir");
    } else {
      Check(Result == 2, "0 or 2");
      Check(Log.Lines == 1, "a failure is one log line");
      Check(Task.MonStatus == dz::mtInvalid, "a failure marks the entry invalid");
    }
  }
  return 0;
}
