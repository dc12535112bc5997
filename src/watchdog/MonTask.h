#pragma once
// One monitored directory: the directory, the backup task file bound to it,
// the settings taken over from that task, its filters, and the changed
// files that still wait for their backup, which it collects from its
// watcher's reports itself (the watcher is the entry monitor's).

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/MatchList.h"
#include "dirwatch/WatchTypes.h"
#include "filesys/PathUtils.h"
#include "filters/FilterDisplay.h"
#include "filters/TextFilter.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"
#include "watchdog/WatchdogSettings.h"

namespace dz {

enum TMonTaskStatus : int { mtEnabled = 0, mtDisabled = 1, mtInvalid = 2 };

enum TRunStatus : int { rsOff = 0, rsWatch = 1, rsBackup = 2, rsNone = 3 };

// What an entry does: nothing while it is not watched (a worker that
// outlives monitoring does not count), else a backup while its worker runs.
TRunStatus RunStatusOf(bool Watched, bool WorkerRuns);

// The filter settings of one entry, filled from its task file.
struct TMonFilter {
  bool IncludeSubDirs = false;
  bool IncludeExts = false;
  TMatchList SubDirList{TListCompare::lcFileNames};  // relative to the monitored directory
  TMatchList ExtList{TListCompare::lcIgnoreCase};    // extensions without the dot
  TTextFilter SubDirFilter{false, true};
  TTextFilter FileFilter{true, true};
  // Not from the task: the entry's backup destinations that lie in the
  // monitored directory, relative to it ("" for the directory itself). The
  // worker writes there; nothing at or below them is collected, or every
  // backup would be backed up again, one level deeper each time.
  TMatchList DestDirs{TListCompare::lcFileNames};
};

// What the filter display dialog shows of Filter.
TFilterDisplay MonFilterDisplay(const TMonFilter& Filter);

// Whether the file or directory RelPath (relative to the monitored
// directory) lies at or below one of Filter.DestDirs.
bool InDestination(const TMonFilter& Filter, std::string_view RelPath);

// Whether the directory part P of a reported file (with its trailing
// delimiter; empty for a file directly in the monitored directory) lies in
// one of the listed sub-directories: P matches an entry followed by "*" as a
// wildcard mask, so an entry Doc also covers Documents/.
bool PathInSubDirList(std::string_view P, const TMatchList& SubDirList);

// Whether the sub-directory filter lets at least one directory name of the
// directory part P through; P is split at Delimiter and empty names are
// skipped. A name the filter cannot decide on (a regular expression that
// gives up, a name that is not UTF-8) counts as a hit exactly when
// UndecidedIsHit is set. There is no default: the caller chooses the value
// that keeps the files below such a name whichever sense the filter has.
bool PathMatchesDirFilter(std::string_view P, const TTextFilter& SubDirFilter, char Delimiter, bool UndecidedIsHit);

// Which rule of its task's filters a file, named relative to the monitored
// directory, fails first, in the order they are tried: its extension, its
// name (the file filter), the sub-directory list and the sub-directory
// filter (both the sub-directory rule).
enum TFilterVerdict : int { fvPasses = 0, fvExtension, fvFileFilter, fvSubDirRule };
TFilterVerdict MonFilterVerdict(const TMonFilter& Filter, std::string_view FileName,
                                const TPathStyle& Style = NativePathStyle);

// Whether a file passes the filters of its task: MonFilterVerdict gives
// fvPasses.
bool PassesMonFilter(const TMonFilter& Filter, std::string_view FileName, const TPathStyle& Style = NativePathStyle);

// Whether an entry of a walk below Dir is backed up as a file: a regular
// file, or a link that does not lead to a directory (the watcher reports
// such a link as a file).
bool WalkEntryIsFile(const std::string& Dir, const TDirWalkEntry& Entry);

// The files below Dir (relative to it) that pass Filter and whose content or
// status changed at Since or later, in no particular order. Directories
// that the filters exclude, and the destinations in it (Filter.DestDirs),
// are not entered. Any thread: Filter is only
// read. Returns the system error code of a tree that cannot be read at all.
int ScanChangedFiles(const std::string& Dir, const TMonFilter& Filter, TFileTime Since,
                     std::vector<std::string>& Files);

// Whether a copy that ended with Code failed for its source (it could not
// be opened or read), rather than for its destination.
bool FailedForItsSource(int Code);

// The files of an entry whose copy failed, each with its retry record
// (TFailedFile: tried again at the next start, after 2, after 4, then given
// up), sorted as the platform compares file names.
class TFailedFiles {
public:
  // Name failed (again) with Code: its record, given up once it has failed
  // MaxRetries + 1 times in a row for its source. A failure of the
  // destination is tried again at the next start, however often.
  const TFailedFile& Failed(const std::string& Name, int Code);
  // Name changed again, went away or was backed up: its record goes.
  bool Forget(std::string_view Name);
  // The records of the files at or below Dir (relative, without a final
  // delimiter) leave; their names are returned.
  std::vector<std::string> TakeBelow(std::string_view Dir);
  // A backup start: every wait runs down by one; the names whose wait is
  // over are returned, to be pending again.
  std::vector<std::string> StartCounted();
  const TFailedFile* Find(std::string_view Name) const;
  // Files that wait for their next try, and files given up.
  std::size_t WaitingCount() const;
  std::size_t GivenUpCount() const;
  const std::vector<TFailedFile>& Items() const { return FItems; }
  void Assign(std::vector<TFailedFile> Items);
  void Clear();

private:
  TMatchList FNames{TListCompare::lcFileNames};
  std::vector<TFailedFile> FItems;  // in the order of FNames
};

class TMonTask {
public:
  TMonTask(std::string ATask, std::string ADir);
  ~TMonTask();
  TMonTask(const TMonTask&) = delete;
  TMonTask& operator=(const TMonTask&) = delete;

  // Whether the entry takes part in monitoring and backups now: checked,
  // and its task and directory there.
  bool Usable() const { return MonStatus == mtEnabled && Unavailable.empty(); }

  // A report of this entry's watcher, FileName relative to Dir, with its
  // kind as the watcher knows it: only a change of unknown kind makes the
  // entry look whether a directory is there now.
  // Directories are not collected; a removed file, or the old name of a
  // renamed one, leaves the pending files; any other file joins them when
  // it passes the filters. The pending files below a renamed directory move
  // to its new name, those below a removed one leave the list.
  void DirectoryChanged(TWatchAction Action, const std::string& FileName, TChangeKind Kind = ckUnknown);
  // One batch of its watcher, in order.
  void ApplyChanges(const std::vector<TWatchChange>& Batch);
  // Adds the files of Files that pass the filters; returns how many joined.
  // A failed file among them has changed again: it starts afresh.
  std::size_t AddPending(const std::vector<std::string>& Files);
  // Dest (absolute, with links resolved or as written) is a destination of
  // this entry: when it lies in Dir or ResolvedDir, what is below it is no
  // longer collected and the pending files there are dropped. True when it
  // lies there and was not known to.
  bool NoteDestination(const std::string& Dest);
  // The line about a destination in the directory is logged once per
  // start of monitoring: true the first time.
  bool FirstDestinationReport() { return !std::exchange(FDestinationReported, true); }
  // A file's copy failed (its source still exists): unless it was reported
  // changed again meanwhile (it is pending once more), it waits for its
  // next try. The record, or null when it starts afresh.
  const TFailedFile* FileFailed(const std::string& Name, int Code);
  // A backup start counts for the failed files: those whose wait is over
  // are pending again.
  void RetryStartCounted();
  // Pending files as the user sees them: FileList and the failed files that
  // wait for their next try (not those given up).
  std::size_t PendingCount() const { return FileList.Count() + Failed.WaitingCount(); }
  // Monitoring starts or stops: the state kept between reports is reset.
  void ResetCollection();
  // The watch-limit line is logged once per start of monitoring: true the
  // first time.
  bool FirstLimitReport() { return !std::exchange(FLimitReported, true); }

  TMonTaskStatus MonStatus = mtEnabled;
  std::string BuTask;           // full path of the task file
  std::string Dir;              // the monitored directory
  std::string DestDir;          // destination from the task, with trailing delimiter
  std::string DrvId;            // drive-folder pattern; empty: no drive folder
  std::string NoCompCommaText;  // extensions never compressed, comma list
  std::int32_t ErrCount = 0;    // consecutive backups whose destination was missing
  std::int32_t DestMode = 0;
  std::int32_t Compress = 0;    // 0 none, 1 gzip, 2 zip
  std::int32_t RetainBak = 0;   // previous versions to keep
  TMonFilter MonFilter;
  TMatchList FileList{TListCompare::lcFileNames};  // pending files, relative to Dir
  // Files whose copy failed and that wait for their next try, or were given
  // up; a file in FileList may have a record too (its try is due).
  TFailedFiles Failed;
  // A backup start found the entry's previous worker still running: its
  // files start as soon as that worker has ended, not a whole interval
  // later (the start was asked for, and may have been an instant one).
  bool StartDeferred = false;
  // The mount point that held DestDir (DestMountFor) when a backup last
  // started: a destination found on a shallower mount later has lost its
  // file system, even where nothing declares it.
  std::string DestMountPoint;
  std::string DestMountFor;
  // Why the entry cannot be watched now, empty while it can: its task file
  // or its directory is missing (a disk or share not mounted yet, a folder
  // renamed or deleted). The entry, its check mark and its pending files
  // are kept, and it is taken up again when both are back.
  std::string Unavailable;
  // When its directory went away while it was watched: the changes from
  // then on are looked for when it is back. Empty: from the last save.
  std::optional<std::chrono::system_clock::time_point> MissingSince;
  // A look for its task and directory runs.
  bool ReturnLookOut = false;
  // Dir with its links resolved, found when monitoring starts: a
  // destination may name the directory through another path.
  std::string ResolvedDir;
  TWatchOptions Watches{woFileName, woDirName, woSize, woLastWrite, woCreation};

private:
  // The pending files below OldDir are renamed to lie below NewDir (those
  // that pass the filters there), or dropped when NewDir is empty.
  void MovePendingBelow(const std::string& OldDir, const std::string& NewDir);

  // The old name of the last report when it was the first half of a
  // rename: if the new name is a directory, the pending files below the old
  // one move along.
  std::string FRenamedOld;
  bool FLimitReported = false;
  bool FDestinationReported = false;
};

}  // namespace dz
