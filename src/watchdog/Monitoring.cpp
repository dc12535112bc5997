// Monitoring: starting and stopping the directory watchers, and turning
// their reports into the pending files of each monitored directory.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "filters/TextFilter.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "settings/ProgramLocations.h"
#include "watchdog/Watchdog.h"

namespace dz {

namespace {

// File systems keep their times coarser than the clock, and a little behind
// it: files stamped up to this long before the moment from which changes
// were lost still count as possibly unreported.
constexpr std::chrono::seconds RescanSlack{1};

// The inotify backend names this limit when it runs out of watches.
constexpr std::string_view WatchLimitName = "max_user_watches";

// The "  *** " in front of an error line lets the log viewer step to it.
constexpr std::string_view ErrorMarker = "  *** ";

TFileTime FileTimeOf(std::chrono::system_clock::time_point Time) {
  const auto Ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(Time.time_since_epoch()).count() / 100;
  return FileTimeOfUnixEpoch + Ticks;
}

std::string Position(std::size_t Index) { return ZeroPadInt(static_cast<std::int64_t>(Index + 1), 2); }

// Whether RelPath lies below the directory Dir (both relative to the
// monitored directory), the names compared as List compares them.
bool IsBelow(std::string_view RelPath, std::string_view Dir, const TMatchList& List) {
  return RelPath.size() > Dir.size() + 1 && RelPath[Dir.size()] == PathDelimiter &&
         List.CompareStrings(RelPath.substr(0, Dir.size()), Dir) == 0;
}

}  // namespace

// --- change collection ----------------------------------------------------------

std::string FileCountText(std::int64_t Count) {
  if (Count == 0)
    return Tr("No files");
  if (Count == 1)
    return Tr("1 file");
  std::string Format = Tr("%u files");
  if (Count > 9999) {
    // The translation decides where the number stands; the grouped digits
    // take the place of its placeholder.
    if (const std::size_t At = Format.find("%u"); At != std::string::npos)
      return SafeFormat(Format.replace(At, 2, "%s"), FormatGrouped(Count, 3));
  }
  return SafeFormat(Format, static_cast<std::uint64_t>(Count));
}

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

bool PassesMonFilter(const TMonFilter& Filter, std::string_view FileName, const TPathStyle& Style) {
  const std::size_t NameStart = FileName.rfind(Style.Delimiter) + 1;  // 0 without a delimiter
  const std::string_view P = FileName.substr(0, NameStart);
  const std::string_view N = FileName.substr(NameStart);
  bool Pass = Filter.ExtList.Contains(GetExtension(FileName, Style)) == Filter.IncludeExts &&
              Filter.FileFilter.MatchesFilter(N);
  if (Pass && !Filter.SubDirList.Empty())
    Pass = PathInSubDirList(P, Filter.SubDirList) == Filter.IncludeSubDirs;
  if (Pass && Filter.SubDirFilter.Mode() != fmOff)
    Pass = PathMatchesDirFilter(P, Filter.SubDirFilter, Style.Delimiter, Filter.IncludeSubDirs) ==
           Filter.IncludeSubDirs;
  return Pass;
}

// --- starting and stopping ------------------------------------------------------

bool TWatchdog::StartMonitoring() {
  if (FMonitoring)
    return true;
  for (const auto& Task : FMonTasks) {
    if (Task->MonStatus != mtEnabled)
      continue;
    if (CheckTaskFile(Task->BuTask) != tcUsable) {
      Task->MonStatus = mtInvalid;
      FLog.AddLogLine(SafeFormat(Tr("The backup task \"%s\" has invalid settings!"), Task->BuTask));
    } else {
      Task->MonStatus = ReadTaskSettings(*Task, FSetup.TaskDefaults, FLog) == 0 ? mtEnabled : mtInvalid;
    }
  }
  RenumberDirList();
  if (std::none_of(FMonTasks.begin(), FMonTasks.end(), [](const auto& T) { return T->MonStatus == mtEnabled; })) {
    FView.ShowMessage(Tr("Please specify at least one directory to be monitored!"));
    return false;
  }

  FFileCount = 0;
  FView.SetFileCountText(FileCountText(0));
  FView.SetNotScheduledVisible(false);
  FView.SetShowFilesVisible(false);
  FBuInterval = GetIntervalSeconds();
  FTimeCount = FBuInterval;
  FView.SetRemoveEnabled(false);
  FView.SetPeriodicEnabled(false);
  FView.SetStopEnabled(true);
  FView.SetStartHint(Tr("Start immediate backup"));
  FView.SetTrayStartStopCaption(Tr("Stop monitoring"));

  FMonitoring = true;
  FWatchStates.assign(FMonTasks.size(), TWatchState{});
  for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
    TMonTask& Task = *FMonTasks[I];
    if (Task.MonStatus != mtEnabled || !XlDirectoryExists(Task.Dir))
      continue;
    FFileCount += static_cast<std::int32_t>(Task.FileList.Count());
    StartWatcher(I);
  }

  FView.SetBackupTimerEnabled(true);
  FView.ShowClockProgress({FBuInterval, 0, true, FBuInterval > 0});
  FView.RepaintDirList();
  return true;
}

void TWatchdog::StartWatcher(std::size_t Index) {
  TMonTask& Task = *FMonTasks[Index];
  auto Watch = std::make_shared<TDirectoryWatch>(static_cast<int>(Index + 1), FQueue, FWatchBackend);
  Watch->SetDirectory(Task.Dir);
  Watch->SetWatchSubTree(true);
  Watch->SetWatchActions(AllWatchActions);
  Watch->SetWatchOptions(Task.Watches);
  Watch->OnNotify = [this](TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action, const std::string& FileName) {
    DirectoryChanged(Sender, ChgNotId, Action, FileName);
  };
  // Without this a lost burst of changes would simply never be backed up.
  Watch->OnError = [this](TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage) {
    DirWatchError(Sender, ErrorCode, ErrorMessage);
  };
  try {
    Watch->Start();
  } catch (const std::exception& E) {
    // The directory was there a moment ago. Its pending files still count
    // and still get their backup; only new changes go unseen, so the user
    // has to learn of it, and the other directories are watched all the
    // same.
    FLog.AddLogLine(std::string(ErrorMarker) + Position(Index) + ": " +
                    SafeFormat(Tr("Directory \"%s\" cannot be monitored: %s"), Task.Dir, E.what()));
    return;
  }
  Task.DirWatch = std::move(Watch);
}

void TWatchdog::StopMonitoring() {
  bool Watched = false;
  for (const auto& Task : FMonTasks) {
    if (Task->DirWatch) {
      Task->DirWatch->Stop();
      Watched = true;
    }
  }
  // What the watchers read before they stopped still waits in the queue: it
  // belongs to the pending files, and releasing the watchers would drop it.
  if (Watched)
    FQueue.ProcessPending();
  if (FFileCount > 0)
    RunLastBackup();
  for (const auto& Task : FMonTasks) Task->DirWatch.reset();
  FWatchStates.clear();
  FMonitoring = false;

  FView.SetBackupTimerEnabled(false);
  FView.SetFileCountText("");
  FView.SetCountdownText("");
  FView.SetStartEnabled(true);
  FView.SetStopEnabled(false);
  FTbStatus = tbsOff;
  FView.SetRemoveEnabled(true);
  FView.SetPeriodicEnabled(true);
  FView.ShowTrayStatus(FTbStatus);
  FView.SetTrayTip(ProgVersName());
  FView.SetNotScheduledVisible(true);
  FView.SetShowFilesVisible(false);
  FView.ShowClockProgress({FBuInterval, 0, false, false});
  FView.SetTrayStartStopCaption(Tr("Start monitoring"));
  FView.SetStartHint(Tr("Start monitoring the selected directories"));

  if (!FMonTasks.empty()) {
    const int Selected = FView.SelectedDirItem();
    std::size_t Index = 0;
    if (Selected >= 0 && static_cast<std::size_t>(Selected) < FMonTasks.size())
      Index = static_cast<std::size_t>(Selected);
    else
      FView.SelectDirItem(0);
    ShowTaskInfo(Index);
    FView.RepaintDirList();
  }
}

void TWatchdog::RunLastBackup() { SaveSettings(); }

// --- the watchers' reports --------------------------------------------------------

TMonTask* TWatchdog::WatchedTask(const TDirectoryWatch& Sender, int ChgNotId) {
  if (ChgNotId <= 0 || static_cast<std::size_t>(ChgNotId) > FMonTasks.size() ||
      static_cast<std::size_t>(ChgNotId) > FWatchStates.size())
    return nullptr;
  TMonTask& Task = *FMonTasks[static_cast<std::size_t>(ChgNotId) - 1];
  // A report of a watcher that is no longer the entry's own is stale: the
  // entry's files are no longer counted for it.
  return Task.DirWatch.get() == &Sender ? &Task : nullptr;
}

void TWatchdog::AddPending(TMonTask& Task, const std::string& FileName) {
  const std::size_t Before = Task.FileList.Count();
  Task.FileList.Add(FileName);
  if (Task.FileList.Count() != Before)
    ++FFileCount;
}

void TWatchdog::RemovePending(TMonTask& Task, const std::string& FileName) {
  if (Task.FileList.Remove(FileName))
    --FFileCount;
}

void TWatchdog::DirectoryChanged(TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action,
                                 const std::string& FileName) {
  TMonTask* Task = WatchedTask(Sender, ChgNotId);
  if (Task == nullptr)
    return;
  const std::size_t Index = static_cast<std::size_t>(ChgNotId) - 1;
  TWatchState& State = FWatchStates[Index];
  std::string RenamedFrom = std::exchange(State.RenamedOld, std::string());

  if (IsDirectory(JoinPath(Task->Dir, FileName))) {
    // Directories themselves are not backed up. But the pending files below
    // one that was renamed now live under its new name, and the backup has
    // to look for them there.
    if (Action == waRenamedNew && !RenamedFrom.empty())
      MovePendingBelow(Index, RenamedFrom, FileName);
    return;
  }
  switch (Action) {
    case waRemoved:
      RemovePending(*Task, FileName);
      // A directory moved out of the tree takes its files along; only the
      // directory itself is reported.
      MovePendingBelow(Index, FileName, {});
      return;
    case waRenamedOld:
      RemovePending(*Task, FileName);
      State.RenamedOld = FileName;
      return;
    case waAdded:
    case waModified:
    case waRenamedNew:
      break;
  }
  if (!Task->FileList.Contains(FileName) && PassesMonFilter(Task->MonFilter, FileName))
    AddPending(*Task, FileName);
}

void TWatchdog::MovePendingBelow(std::size_t Index, const std::string& OldDir, const std::string& NewDir) {
  TMonTask& Task = *FMonTasks[Index];
  std::vector<std::string> Moved;
  for (const std::string& File : Task.FileList)
    if (IsBelow(File, OldDir, Task.FileList))
      Moved.push_back(File);
  for (const std::string& File : Moved) {
    RemovePending(Task, File);
    if (NewDir.empty())
      continue;
    std::string NewName = NewDir + File.substr(OldDir.size());
    if (PassesMonFilter(Task.MonFilter, NewName))
      AddPending(Task, NewName);
  }
}

void TWatchdog::DirWatchError(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage) {
  TMonTask* Task = WatchedTask(Sender, Sender.Id());
  if (Task == nullptr)
    return;
  const std::size_t Index = static_cast<std::size_t>(Sender.Id()) - 1;
  if (ErrorCode == ErrNotifyEnumDir) {
    // The report may have waited in the queue for long (a busy or modal
    // window): the time it carries, not the time it is handled, says from
    // when changes went unreported.
    RescanAfterLostChanges(Index, Sender.ReportTime());
    return;
  }
  if (ErrorMessage.find(WatchLimitName) != std::string::npos) {
    // Reported again for every directory that cannot be watched; one line
    // tells the user what to do.
    if (std::exchange(FWatchStates[Index].LimitReported, true))
      return;
    std::string Line = std::string(ErrorMarker) + Position(Index) + ": " +
                       SafeFormat(Tr("Directory \"%s\" is watched only in part: %s"), Task->Dir, ErrorMessage);
    if (ErrorMessage.find("sysctl") == std::string::npos) {
      Line += ' ';
      Line += Tr("Raise the limit as root, for example with \"sysctl fs.inotify.max_user_watches=524288\".");
    }
    Line += ' ';
    Line += Tr("To keep a raised limit after a restart, add the setting to /etc/sysctl.conf; then start monitoring "
               "again.");
    FLog.AddLogLine(Line);
    return;
  }
  FLog.AddLogLine(std::string(ErrorMarker) + Position(Index) + ": " +
                  SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"), Task->Dir, ErrorMessage, ErrorCode));
}

void TWatchdog::RescanAfterLostChanges(std::size_t Index, std::chrono::system_clock::time_point LostSince) {
  TMonTask& Task = *FMonTasks[Index];
  const TFileTime Since = FileTimeOf(LostSince - RescanSlack);
  const TMonFilter& Filter = Task.MonFilter;
  std::size_t Added = 0;
  const int WalkResult = WalkDirectoryTree(Task.Dir, [&](const TDirWalkEntry& Entry) {
    if (Entry.Kind == dekDirectory) {
      // Nothing below a directory that the filters exclude can pass them;
      // with included sub-directories a deeper name may still match. A name
      // the directory filter cannot decide on excludes nothing: the files
      // below it pass, as they do when reported.
      const std::string Dir = Entry.RelPath + PathDelimiter;
      const bool Excluded =
          !Filter.IncludeSubDirs &&
          ((!Filter.SubDirList.Empty() && PathInSubDirList(Dir, Filter.SubDirList)) ||
           (Filter.SubDirFilter.Mode() != fmOff &&
            PathMatchesDirFilter(Dir, Filter.SubDirFilter, PathDelimiter, /*UndecidedIsHit=*/false)));
      return Excluded ? dwvSkip : dwvContinue;
    }
    // A link counts as the watcher reports it: as a file unless it points to
    // a directory.
    const bool IsFile = Entry.Kind == dekFile ||
                        (Entry.Kind == dekLink && !IsDirectory(JoinPath(Task.Dir, Entry.RelPath)));
    if (IsFile && std::max(Entry.ModifyTime, Entry.ChangeTime) >= Since && !Task.FileList.Contains(Entry.RelPath) &&
        PassesMonFilter(Filter, Entry.RelPath)) {
      AddPending(Task, Entry.RelPath);
      ++Added;
    }
    return dwvContinue;
  });
  if (WalkResult != 0) {
    // The directory itself is gone or closed to us: nothing was scanned.
    FLog.AddLogLine(std::string(ErrorMarker) + Position(Index) + ": " +
                    SafeFormat(Tr("Error monitoring directory \"%s\": %s (%d)"), Task.Dir,
                               PlatformErrorText(WalkResult), WalkResult));
    return;
  }
  FLog.AddLogLine(Position(Index) + ": " +
                  SafeFormat(Tr("More changes in \"%s\" than the system could report at once: the directory was "
                                "scanned again, %u changed files were added."),
                             Task.Dir, static_cast<std::uint64_t>(Added)));
}

// --- views of the pending files ------------------------------------------------

void TWatchdog::sbViewFilesClick() {
  std::vector<std::string> Lines;
  if (FFileCount != 0) {
    for (std::size_t I = 0; I < FMonTasks.size(); ++I) {
      if (FMonTasks[I]->MonStatus != mtEnabled)
        continue;
      for (const std::string& File : FMonTasks[I]->FileList) Lines.push_back(Position(I) + ": " + File);
    }
  } else {
    Lines.push_back(Tr("No files"));
  }
  FView.ShowChangedFiles(Lines);
}

void TWatchdog::GetChangedFileList(std::vector<std::string>& List) const {
  List.clear();
  if (FFileCount == 0) {
    List.push_back(Tr("No files"));
    return;
  }
  for (std::size_t I = 0; I < FMonTasks.size(); ++I)
    for (const std::string& File : FMonTasks[I]->FileList) List.push_back(Position(I) + ": " + File);
}

void TWatchdog::ShowTaskInfo(std::size_t Index) {
  const TMonTask& Task = *FMonTasks.at(Index);
  TTaskInfo Info;
  Info.Task = Task.BuTask;
  Info.EditEnabled = Task.GetRunStatus() == rsOff;
  Info.Destination = Task.DestDir;
  Info.MethodText = Tr("Method: ") + " " + DestModeText(Task.DestMode);
  if (Task.Compress == 0)
    Info.CompressionText = Tr("No compression");
  else
    Info.CompressionText = Tr("Compress files") + " " + (Task.Compress == 1 ? Tr("as gz") : Tr("as zip"));
  Info.RetainBak = Task.RetainBak;
  FView.ShowTaskInfo(Info);
}

}  // namespace dz
