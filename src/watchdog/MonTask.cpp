// One monitored directory and the collection of its changed files.

#include "watchdog/MonTask.h"

#include <algorithm>
#include <utility>

#include "dirwatch/DirectoryWatch.h"
#include "filesys/XlFileUtils.h"
#include "platform/DirWalk.h"
#include "watchdog/BackupThread.h"

namespace dz {

namespace {

// Whether RelPath lies below the directory Dir (both relative to the
// monitored directory), the names compared as List compares them.
bool IsBelow(std::string_view RelPath, std::string_view Dir, const TMatchList& List) {
  return RelPath.size() > Dir.size() + 1 && RelPath[Dir.size()] == PathDelimiter &&
         List.CompareStrings(RelPath.substr(0, Dir.size()), Dir) == 0;
}

}  // namespace

bool PathInSubDirList(std::string_view P, const TMatchList& SubDirList) {
  return std::any_of(SubDirList.begin(), SubDirList.end(),
                     [P](const std::string& Entry) { return MatchesMask(P, Entry + "*"); });
}

bool PathMatchesDirFilter(std::string_view P, const TTextFilter& SubDirFilter, char Delimiter, bool UndecidedIsHit) {
  while (!P.empty()) {
    const std::size_t End = std::min(P.find(Delimiter), P.size());
    const std::string_view Name = P.substr(0, End);
    if (!Name.empty() && SubDirFilter.DecideFilter(Name).value_or(UndecidedIsHit))
      return true;
    P.remove_prefix(std::min(End + 1, P.size()));
  }
  return false;
}

TFilterVerdict MonFilterVerdict(const TMonFilter& Filter, std::string_view FileName, const TPathStyle& Style) {
  const std::size_t NameStart = FileName.rfind(Style.Delimiter) + 1;  // 0 without a delimiter
  const std::string_view P = FileName.substr(0, NameStart);
  const std::string_view N = FileName.substr(NameStart);
  if (Filter.ExtList.Contains(GetExtension(FileName, Style)) != Filter.IncludeExts) return fvExtension;
  if (!Filter.FileFilter.MatchesFilter(N)) return fvFileFilter;
  if (!Filter.SubDirList.Empty() && PathInSubDirList(P, Filter.SubDirList) != Filter.IncludeSubDirs)
    return fvSubDirRule;
  if (Filter.SubDirFilter.Mode() != fmOff &&
      PathMatchesDirFilter(P, Filter.SubDirFilter, Style.Delimiter, Filter.IncludeSubDirs) != Filter.IncludeSubDirs)
    return fvSubDirRule;
  return fvPasses;
}

bool PassesMonFilter(const TMonFilter& Filter, std::string_view FileName, const TPathStyle& Style) {
  return MonFilterVerdict(Filter, FileName, Style) == fvPasses;
}

bool WalkEntryIsFile(const std::string& Dir, const TDirWalkEntry& Entry) {
  return Entry.Kind == dekFile || (Entry.Kind == dekLink && !XlDirectoryExists(JoinPath(Dir, Entry.RelPath)));
}

int ScanChangedFiles(const std::string& Dir, const TMonFilter& Filter, TFileTime Since,
                     std::vector<std::string>& Files) {
  return WalkDirectoryTree(Dir, [&](const TDirWalkEntry& Entry) {
    if (Entry.Kind == dekDirectory) {
      // Nothing below a directory that the filters exclude can pass them;
      // with included sub-directories a deeper name may still match. A name
      // the directory filter cannot decide on excludes nothing: the files
      // below it pass, as they do when reported.
      const std::string Sub = Entry.RelPath + PathDelimiter;
      const bool Excluded =
          !Filter.IncludeSubDirs &&
          ((!Filter.SubDirList.Empty() && PathInSubDirList(Sub, Filter.SubDirList)) ||
           (Filter.SubDirFilter.Mode() != fmOff &&
            PathMatchesDirFilter(Sub, Filter.SubDirFilter, PathDelimiter, /*UndecidedIsHit=*/false)));
      return Excluded ? dwvSkip : dwvContinue;
    }
    if (WalkEntryIsFile(Dir, Entry) && std::max(Entry.ModifyTime, Entry.ChangeTime) >= Since && PassesMonFilter(Filter, Entry.RelPath))
      Files.push_back(Entry.RelPath);
    return dwvContinue;
  });
}

TMonTask::TMonTask(std::string ATask, std::string ADir) : BuTask(std::move(ATask)), Dir(std::move(ADir)) {}

// Releasing the watcher stops it; the backup worker is not ours to release:
// the backup runner releases it once it has finished.
TMonTask::~TMonTask() = default;

TRunStatus TMonTask::GetRunStatus() const {
  if (!DirWatch) return rsOff;
  return BuThread != nullptr ? rsBackup : rsWatch;
}

void TMonTask::ResetCollection() {
  FRenamedOld.clear();
  FLimitReported = false;
}

std::size_t TMonTask::AddPending(const std::vector<std::string>& Files) {
  const std::size_t Before = FileList.Count();
  for (const std::string& File : Files)
    if (!FileList.Contains(File) && PassesMonFilter(MonFilter, File)) FileList.Add(File);
  return FileList.Count() - Before;
}

void TMonTask::DirectoryChanged(TWatchAction Action, const std::string& FileName) {
  std::string RenamedFrom = std::exchange(FRenamedOld, std::string());

  if (XlDirectoryExists(JoinPath(Dir, FileName))) {
    // Directories themselves are not backed up. But the pending files below
    // one that was renamed now live under its new name, and the backup has
    // to look for them there.
    if (Action == waRenamedNew && !RenamedFrom.empty()) MovePendingBelow(RenamedFrom, FileName);
    return;
  }
  switch (Action) {
    case waRemoved:
      FileList.Remove(FileName);
      // A directory moved out of the tree takes its files along; only the
      // directory itself is reported.
      MovePendingBelow(FileName, {});
      return;
    case waRenamedOld:
      FileList.Remove(FileName);
      FRenamedOld = FileName;
      return;
    case waAdded:
    case waModified:
    case waRenamedNew:
      break;
  }
  if (!FileList.Contains(FileName) && PassesMonFilter(MonFilter, FileName)) FileList.Add(FileName);
}

void TMonTask::MovePendingBelow(const std::string& OldDir, const std::string& NewDir) {
  std::vector<std::string> Moved;
  for (const std::string& File : FileList)
    if (IsBelow(File, OldDir, FileList)) Moved.push_back(File);
  for (const std::string& File : Moved) {
    FileList.Remove(File);
    if (NewDir.empty()) continue;
    std::string NewName = NewDir + File.substr(OldDir.size());
    if (PassesMonFilter(MonFilter, NewName)) FileList.Add(NewName);
  }
}

}  // namespace dz
