// One monitored directory and the collection of its changed files.

#include "watchdog/MonTask.h"

#include <algorithm>
#include <utility>

#include "filesys/ErrorTexts.h"
#include "filesys/XlFileUtils.h"
#include "platform/DirWalk.h"

namespace dz {

namespace {

// Whether RelPath lies below the directory Dir (both relative to the
// monitored directory), the names compared as List compares them.
bool IsBelow(std::string_view RelPath, std::string_view Dir, const TMatchList& List) {
  return RelPath.size() > Dir.size() + 1 && RelPath[Dir.size()] == PathDelimiter &&
         List.CompareStrings(RelPath.substr(0, Dir.size()), Dir) == 0;
}

std::string ExcludeTrailingDelimiters(std::string_view Path) {
  while (Path.size() > 1 && Path.back() == PathDelimiter) Path.remove_suffix(1);
  return std::string(Path);
}

}  // namespace

TFilterDisplay MonFilterDisplay(const TMonFilter& Filter) {
  return ComputeFilterDisplay(Filter.IncludeSubDirs, Filter.SubDirList, Filter.SubDirFilter, Filter.IncludeExts,
                              Filter.ExtList, Filter.FileFilter);
}

bool InDestination(const TMonFilter& Filter, std::string_view RelPath) {
  return std::any_of(Filter.DestDirs.begin(), Filter.DestDirs.end(), [&](const std::string& Dest) {
    return Dest.empty() || Filter.DestDirs.CompareStrings(RelPath, Dest) == 0 ||
           IsBelow(RelPath, Dest, Filter.DestDirs);
  });
}

// --- failed files -----------------------------------------------------------------

bool FailedForItsSource(int Code) {
  // The copy job's codes carry their severity; a bare system error code (a
  // version that could not be moved) is the destination's.
  if ((Code & 0xF00) != ceError) return false;
  const int Number = Code & 0xFF;
  return Number == cnOpenFile || Number == cnReadFile || Number == cnFileNotFound;
}

const TFailedFile& TFailedFiles::Failed(const std::string& Name, int Code) {
  std::size_t Index = 0;
  if (!FNames.Find(Name, Index)) {
    FNames.Add(Name);
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(Index), TFailedFile{Name});
  }
  TFailedFile& File = FItems[Index];
  File.ErrorCode = Code;
  if (!FailedForItsSource(Code)) {
    // The destination refused it (full, gone, something in the way): the
    // file is as good as ever and waits for the destination at every start;
    // nothing would change it when space returns, so it is never given up.
    if (!File.GivenUp()) File.Wait = 1;
    return File;
  }
  if (!File.GivenUp())
    ++File.Failures;
  // The next try after 1, 2, 4 starts: a file that cannot be read now may
  // be readable once its program has closed it, but one that stays
  // unreadable must not fill the log every interval.
  File.Wait = File.Failures > MaxRetries ? -1 : std::int32_t{1} << (File.Failures - 1);
  return File;
}

bool TFailedFiles::Forget(std::string_view Name) {
  std::size_t Index = 0;
  if (!FNames.Find(Name, Index))
    return false;
  FNames.Delete(Index);
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Index));
  return true;
}

std::vector<std::string> TFailedFiles::TakeBelow(std::string_view Dir) {
  std::vector<std::string> Taken;
  for (const TFailedFile& File : FItems)
    if (IsBelow(File.Name, Dir, FNames)) Taken.push_back(File.Name);
  for (const std::string& Name : Taken) Forget(Name);
  return Taken;
}

std::vector<std::string> TFailedFiles::StartCounted() {
  std::vector<std::string> Due;
  for (TFailedFile& File : FItems)
    if (File.Wait > 0 && --File.Wait == 0) Due.push_back(File.Name);
  return Due;
}

const TFailedFile* TFailedFiles::Find(std::string_view Name) const {
  std::size_t Index = 0;
  return FNames.Find(Name, Index) ? &FItems[Index] : nullptr;
}

std::size_t TFailedFiles::WaitingCount() const {
  return static_cast<std::size_t>(
      std::count_if(FItems.begin(), FItems.end(), [](const TFailedFile& File) { return File.Wait > 0; }));
}

std::size_t TFailedFiles::GivenUpCount() const {
  return static_cast<std::size_t>(
      std::count_if(FItems.begin(), FItems.end(), [](const TFailedFile& File) { return File.GivenUp(); }));
}

void TFailedFiles::Assign(std::vector<TFailedFile> Items) {
  Clear();
  for (TFailedFile& File : Items) {
    std::size_t Index = 0;
    if (FNames.Find(File.Name, Index)) continue;
    FNames.Add(File.Name);
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(Index), std::move(File));
  }
}

void TFailedFiles::Clear() {
  FNames.Clear();
  FItems.clear();
}

// --- the filters --------------------------------------------------------------------

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
    if (InDestination(Filter, Entry.RelPath)) return Entry.Kind == dekDirectory ? dwvSkip : dwvContinue;
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

TMonTask::~TMonTask() = default;

TRunStatus RunStatusOf(bool Watched, bool WorkerRuns) {
  if (!Watched) return rsOff;
  return WorkerRuns ? rsBackup : rsWatch;
}

void TMonTask::ResetCollection() {
  FRenamedOld.clear();
  FLimitReported = false;
  FDestinationReported = false;
  StartDeferred = false;
}

std::size_t TMonTask::AddPending(const std::vector<std::string>& Files) {
  const std::size_t Before = PendingCount();
  for (const std::string& File : Files) {
    if (InDestination(MonFilter, File) || !PassesMonFilter(MonFilter, File)) continue;
    Failed.Forget(File);
    FileList.Add(File);
  }
  return PendingCount() > Before ? PendingCount() - Before : 0;
}

bool TMonTask::NoteDestination(const std::string& Dest) {
  for (const std::string* Base : {&std::as_const(Dir), &std::as_const(ResolvedDir)}) {
    if (Base->empty() || Dest.empty() || !IsSubPath(*Base, Dest)) continue;
    std::string Rel = RelativePath(ExcludeTrailingDelimiters(*Base), ExcludeTrailingDelimiters(Dest));
    if (MonFilter.DestDirs.Contains(Rel)) return false;
    MonFilter.DestDirs.Add(Rel);
    // Copies collected before the destination was known (a catch-up of the
    // last run's backups) are dropped with everything else below it.
    std::vector<std::string> Dropped;
    for (const std::string& File : FileList)
      if (InDestination(MonFilter, File)) Dropped.push_back(File);
    for (const TFailedFile& File : Failed.Items())
      if (InDestination(MonFilter, File.Name)) Dropped.push_back(File.Name);
    for (const std::string& File : Dropped) {
      FileList.Remove(File);
      Failed.Forget(File);
    }
    return true;
  }
  return false;
}

const TFailedFile* TMonTask::FileFailed(const std::string& Name, int Code) {
  if (FileList.Contains(Name)) {
    Failed.Forget(Name);
    return nullptr;
  }
  return &Failed.Failed(Name, Code);
}

void TMonTask::RetryStartCounted() {
  for (const std::string& Name : Failed.StartCounted()) FileList.Add(Name);
}

void TMonTask::ApplyChanges(const std::vector<TWatchChange>& Batch) {
  for (const TWatchChange& Change : Batch) DirectoryChanged(Change.Action, Change.FileName, Change.Kind);
}

void TMonTask::DirectoryChanged(TWatchAction Action, const std::string& FileName, TChangeKind Kind) {
  std::string RenamedFrom = std::exchange(FRenamedOld, std::string());
  // The worker's own writes into a destination inside the directory.
  if (InDestination(MonFilter, FileName)) return;

  // A name that went away takes its pending files along, whatever it was.
  const bool Gone = Action == waRemoved || Action == waRenamedOld;
  const bool IsDir =
      Kind == ckUnknown ? XlDirectoryExists(JoinPath(Dir, FileName)) : Kind == ckDirectory && !Gone;
  if (IsDir) {
    // Directories themselves are not backed up. But the pending files below
    // one that was renamed now live under its new name, and the backup has
    // to look for them there.
    if (Action == waRenamedNew && !RenamedFrom.empty()) MovePendingBelow(RenamedFrom, FileName);
    return;
  }
  switch (Action) {
    case waRemoved:
      FileList.Remove(FileName);
      Failed.Forget(FileName);
      // A directory moved out of the tree takes its files along; only the
      // directory itself is reported.
      MovePendingBelow(FileName, {});
      return;
    case waRenamedOld:
      FileList.Remove(FileName);
      Failed.Forget(FileName);
      FRenamedOld = FileName;
      return;
    case waAdded:
    case waModified:
    case waRenamedNew:
      break;
  }
  if (!PassesMonFilter(MonFilter, FileName)) return;
  // A failed file that changes again is a new change: its tries start afresh.
  Failed.Forget(FileName);
  FileList.Add(FileName);
}

void TMonTask::MovePendingBelow(const std::string& OldDir, const std::string& NewDir) {
  std::vector<std::string> Moved = Failed.TakeBelow(OldDir);
  for (const std::string& File : FileList)
    if (IsBelow(File, OldDir, FileList)) Moved.push_back(File);
  for (const std::string& File : Moved) {
    FileList.Remove(File);
    if (NewDir.empty()) continue;
    std::string NewName = NewDir + File.substr(OldDir.size());
    if (!InDestination(MonFilter, NewName) && PassesMonFilter(MonFilter, NewName)) FileList.Add(NewName);
  }
}

}  // namespace dz
