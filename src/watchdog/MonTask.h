#pragma once
// One monitored directory: the directory, the backup task file bound to it,
// the settings taken over from that task, its filters, its watcher while
// monitoring runs, and the changed files that still wait for their backup,
// which it collects from its watcher's reports itself.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/MatchList.h"
#include "dirwatch/WatchTypes.h"
#include "filesys/PathUtils.h"
#include "filters/TextFilter.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"

namespace dz {

enum TMonTaskStatus : int { mtEnabled = 0, mtDisabled = 1, mtInvalid = 2 };

enum TRunStatus : int { rsOff = 0, rsWatch = 1, rsBackup = 2, rsNone = 3 };

// The filter settings of one entry, filled from its task file.
struct TMonFilter {
  bool IncludeSubDirs = false;
  bool IncludeExts = false;
  TMatchList SubDirList{TListCompare::lcFileNames};  // relative to the monitored directory
  TMatchList ExtList{TListCompare::lcIgnoreCase};    // extensions without the dot
  TTextFilter SubDirFilter{false, true};
  TTextFilter FileFilter{true, true};
};

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
// that the filters exclude are not entered. Any thread: Filter is only
// read. Returns the system error code of a tree that cannot be read at all.
int ScanChangedFiles(const std::string& Dir, const TMonFilter& Filter, TFileTime Since,
                     std::vector<std::string>& Files);

class TBackupThread;
class TDirectoryWatch;

class TMonTask {
public:
  TMonTask(std::string ATask, std::string ADir);
  ~TMonTask();
  TMonTask(const TMonTask&) = delete;
  TMonTask& operator=(const TMonTask&) = delete;

  TRunStatus GetRunStatus() const;

  // A report of this entry's watcher, FileName relative to Dir.
  // Directories are not collected; a removed file, or the old name of a
  // renamed one, leaves the pending files; any other file joins them when
  // it passes the filters. The pending files below a renamed directory move
  // to its new name, those below a removed one leave the list.
  void DirectoryChanged(TWatchAction Action, const std::string& FileName);
  // Adds the files of Files that pass the filters; returns how many joined.
  std::size_t AddPending(const std::vector<std::string>& Files);
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
  // The mount point that held DestDir (DestMountFor) when a backup last
  // started: a destination found on a shallower mount later has lost its
  // file system, even where nothing declares it.
  std::string DestMountPoint;
  std::string DestMountFor;
  TWatchOptions Watches{woFileName, woDirName, woSize, woLastWrite, woCreation};
  // Present while monitoring runs.
  std::shared_ptr<TDirectoryWatch> DirWatch;
  // The running backup worker, owned by the backup runner, which clears
  // this when it releases the worker.
  TBackupThread* BuThread = nullptr;

private:
  // The pending files below OldDir are renamed to lie below NewDir (those
  // that pass the filters there), or dropped when NewDir is empty.
  void MovePendingBelow(const std::string& OldDir, const std::string& NewDir);

  // The old name of the last report when it was the first half of a
  // rename: if the new name is a directory, the pending files below the old
  // one move along.
  std::string FRenamedOld;
  bool FLimitReported = false;
};

}  // namespace dz
