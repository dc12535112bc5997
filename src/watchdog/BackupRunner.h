#pragma once
// The backup workers of the monitored directories: at most one per entry,
// owned here from its start until it is found finished. The files handed to
// a worker stay counted as pending (and in the settings file) until the
// worker has reported them; a file that failed and whose source still
// exists becomes one of its entry's failed files, tried again by the rule
// of TFailedFile, and the log says when it is given up. Main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/MainThreadQueue.h"
#include "base/MatchList.h"
#include "watchdog/BackupThread.h"
#include "watchdog/MonTask.h"

namespace dz {

class TBackupRunner {
public:
  // Lines of the workers go to Log; TimeText stamps them (on the main
  // thread, as they arrive).
  TBackupRunner(TMainThreadQueue& Queue, TGetStrProc Log, TTimeTextFunc TimeText);
  // Asks running workers to stop after their current file and waits for
  // them, processing the queue.
  ~TBackupRunner();
  TBackupRunner(const TBackupRunner&) = delete;
  TBackupRunner& operator=(const TBackupRunner&) = delete;

  // Hands Task's pending files to a new worker: Position is the entry's
  // place in the list from 1, Dest its resolved destination. The files
  // leave Task.FileList and count as in flight until reported. Refused
  // (false, nothing changes) while the entry's previous worker still runs.
  bool Start(TMonTask& Task, std::int32_t Position, const std::string& Dest);

  // Releases every worker that has finished. Files it
  // did not reach return to their entry's pending files. True when a
  // worker still runs.
  bool ReleaseFinished();
  bool AnyRunning() const;
  // Waits until no worker runs, processing the queue, and releases them:
  // a nested wait, for the last backup and the end only.
  void WaitAll();
  // Asks every worker to stop after its current file.
  void RequestStop();

  // Task's worker, from its start until it is released (finished or not),
  // or null.
  const TBackupThread* Worker(const TMonTask& Task) const;
  bool Running(const TMonTask& Task) const { return Worker(Task) != nullptr; }
  // The files of Task that a worker holds and has not reported yet.
  const TMatchList* InFlight(const TMonTask& Task) const;
  // The entry goes away: forget it. Its worker, if any, is asked to stop
  // and released when it has finished, without waiting; its reports no
  // longer reach the entry.
  void Forget(const TMonTask& Task);

  // Called whenever a worker's report or its release has changed an
  // entry's pending or failed files or its run status.
  std::function<void()> OnFilesChanged;

private:
  struct TRun;
  void FileDone(TRun& Run, const TBackupFileResult& Result);
  void Release(std::size_t Index);
  void FilesChanged() const;

  TMainThreadQueue& FQueue;
  TGetStrProc FLog;
  TTimeTextFunc FTimeText;
  std::vector<std::unique_ptr<TRun>> FRuns;
};

}  // namespace dz
