// Shows what the watchdog's own readers make of the files the end-to-end
// harness writes, so that the harness's task and settings writers are
// checked against the real parsers rather than against a second Python
// parser that could share their mistakes.
//
//   dz-e2e-probe ini FILE            every section and its lines, as the INI layer reads them
//   dz-e2e-probe settings FILE       the watchdog's settings as the program loads them
//   dz-e2e-probe task FILE [DIR [NAME...]]
//                                    the task check with its sources; with DIR the
//                                    settings taken over for that source and, for each
//                                    NAME (relative to DIR), whether it passes the filters
//   dz-e2e-probe names DEST SOURCE COMPRESS NOCOMP
//                                    the current copy and the three version names of
//                                    SOURCE, composed as the backup worker does
//
// Output is one "name=value" line per item; exit code 0, or 2 on wrong use.

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "base/MatchList.h"
#include "base/CommaText.h"
#include "filesys/PathUtils.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/BackupThread.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskReader.h"
#include "watchdog/WatchdogSettings.h"

namespace {

class TPrintingLog : public dz::TLogSink {
public:
  void AddLogLine(const std::string& Line) override { std::printf("log=%s\n", Line.c_str()); }
};

std::string Joined(const std::vector<std::string>& Items) {
  std::string Out;
  for (const std::string& Item : Items) Out += (Out.empty() ? "" : ",") + Item;
  return Out;
}

int ShowIni(const std::string& FileName) {
  const dz::TUnicodeIniFile Ini = dz::TUnicodeIniFile::CreateForRead(FileName);
  for (const std::string& Section : Ini.ReadSections()) {
    std::printf("[%s]\n", Section.c_str());
    for (const std::string& Line : Ini.ReadSectionValues(Section)) std::printf("%s\n", Line.c_str());
  }
  return 0;
}

int ShowSettings(const std::string& FileName) {
  const dz::TWatchdogSettings S = dz::LoadWatchdogSettings(FileName);
  std::printf("Interval=%d\n", S.Interval);
  std::printf("WriteLog=%d\n", S.WriteLog ? 1 : 0);
  if (S.LastSave)
    std::printf("LastSave=%lld\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                       S.LastSave->time_since_epoch()).count()));
  for (const dz::TStoredMonTask& M : S.MonTasks) {
    std::printf("monitor=%s|%s|%d|%d\n", M.BuTask.c_str(), M.Dir.c_str(), M.RetainBak, M.Enabled ? 1 : 0);
    for (const std::string& File : M.Files) std::printf("file=%s\n", File.c_str());
  }
  return 0;
}

int ShowTask(const std::string& FileName, const char* Dir, const std::vector<std::string>& Names) {
  std::vector<dz::TTaskSource> Sources;
  std::printf("check=%d\n", static_cast<int>(dz::CheckTaskFile(FileName, &Sources)));
  for (const dz::TTaskSource& Source : Sources) std::printf("source=%d:%s\n", Source.Index, Source.Dir.c_str());
  if (!Dir) return 0;

  dz::TMonTask Task(FileName, Dir);
  TPrintingLog Log;
  // The values of a program without the main application's settings file:
  // no list of types never to compress besides the task's own.
  const dz::TTaskDefaults Defaults{"Drv?", ""};
  std::printf("read=%d\n", dz::ReadTaskSettings(Task, Defaults, Log));
  std::printf("DestDir=%s\n", Task.DestDir.c_str());
  std::printf("DestMode=%d\n", Task.DestMode);
  std::printf("DrvId=%s\n", Task.DrvId.c_str());
  std::printf("Compress=%d\n", Task.Compress);
  std::printf("NoComp=%s\n", Task.NoCompCommaText.c_str());
  std::printf("IncludeExts=%d\n", Task.MonFilter.IncludeExts ? 1 : 0);
  std::printf("Exts=%s\n", Joined(Task.MonFilter.ExtList.Items()).c_str());
  std::printf("IncludeSubDirs=%d\n", Task.MonFilter.IncludeSubDirs ? 1 : 0);
  std::printf("SubDirs=%s\n", Joined(Task.MonFilter.SubDirList.Items()).c_str());
  for (const std::string& Name : Names)
    std::printf("passes:%s=%d\n", Name.c_str(), dz::PassesMonFilter(Task.MonFilter, Name) ? 1 : 0);
  return 0;
}

int ShowNames(const std::string& Dest, const std::string& Source, int Compress, const std::string& NoComp) {
  dz::TMatchList NoCompList{dz::TListCompare::lcIgnoreCase};
  NoCompList.Assign(dz::SplitCommaText(NoComp));
  const std::string Target = dz::JoinPath(Dest, dz::PathWithoutDrive(Source));
  const std::string Extension = dz::GetExtension(Source);
  const std::string Suffix(dz::BackupCopyKind(Compress, NoCompList.Contains(Extension), Extension).Suffix);
  std::printf("current=%s\n", (Target + Suffix).c_str());
  for (int N = 1; N <= 3; ++N)
    std::printf("version%d=%s\n", N, (dz::InsertBeforeExtension(Target, ".bak-" + std::to_string(N)) + Suffix).c_str());
  return 0;
}

}  // namespace

int main(int Argc, char** Argv) {
  const std::vector<std::string> Args(Argv + 1, Argv + Argc);
  try {
    if (Args.size() == 2 && Args[0] == "ini") return ShowIni(Args[1]);
    if (Args.size() == 5 && Args[0] == "names") return ShowNames(Args[1], Args[2], std::stoi(Args[3]), Args[4]);
    if (Args.size() == 2 && Args[0] == "settings") return ShowSettings(Args[1]);
    if (Args.size() >= 2 && Args[0] == "task")
      return ShowTask(Args[1], Args.size() >= 3 ? Args[2].c_str() : nullptr,
                      std::vector<std::string>(Args.begin() + (Args.size() >= 3 ? 3 : 2), Args.end()));
  } catch (const std::exception& E) {
    std::printf("error=%s\n", E.what());
    return 1;
  }
  std::fprintf(stderr, "usage: dz-e2e-probe ini FILE | settings FILE | task FILE [DIR [NAME...]] | names DEST SOURCE COMPRESS NOCOMP\n");
  return 2;
}
