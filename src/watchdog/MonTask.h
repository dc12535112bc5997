#pragma once
// One monitored directory: the directory, the backup task file bound to it,
// the settings taken over from that task, its filters, and the changed files
// that still wait for their backup.

#include <cstdint>
#include <memory>
#include <string>

#include "base/MatchList.h"
#include "dirwatch/WatchTypes.h"
#include "filters/TextFilter.h"

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

class TBackupThread;

class TMonTask {
public:
  TMonTask(std::string ATask, std::string ADir);
  ~TMonTask();
  TMonTask(const TMonTask&) = delete;
  TMonTask& operator=(const TMonTask&) = delete;

  TRunStatus GetRunStatus() const;

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
  TWatchOptions Watches{woFileName, woDirName, woSize, woLastWrite, woCreation};
  // Present while monitoring runs, and while the last backup worker has not
  // been released. The watcher and the worker arrive with monitoring and the
  // scheduler; until then both stay empty.
  std::shared_ptr<TDirectoryWatch> DirWatch;
  std::shared_ptr<TBackupThread> BuThread;
};

}  // namespace dz
