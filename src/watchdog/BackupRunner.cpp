#include "watchdog/BackupRunner.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "watchdog/LogLines.h"

namespace dz {

struct TBackupRunner::TRun {
  TMonTask* Task = nullptr;
  std::int32_t Position = 0;
  TMatchList InFlight{TListCompare::lcFileNames};
  std::unique_ptr<TBackupThread> Worker;
};

TBackupRunner::TBackupRunner(TMainThreadQueue& Queue, TGetStrProc Log, TTimeTextFunc TimeText)
    : FQueue(Queue), FLog(std::move(Log)), FTimeText(std::move(TimeText)) {}

TBackupRunner::~TBackupRunner() {
  RequestStop();
  WaitAll();
}

bool TBackupRunner::Start(TMonTask& Task, std::int32_t Position, const std::string& Dest) {
  // Two workers on one destination tree would rotate each other's versions.
  if (Running(Task))
    return false;
  auto Run = std::make_unique<TRun>();
  TRun* R = Run.get();
  R->Task = &Task;
  R->Position = Position;
  R->InFlight.Assign(Task.FileList.Items());
  R->Worker = std::make_unique<TBackupThread>(
      Position, Dest, Task.Dir, Task.DrvId, Task.NoCompCommaText, Task.FileList, Task.Compress, Task.RetainBak,
      FLog, [this, R](const TBackupFileResult& Result) { FileDone(*R, Result); }, FQueue, FTimeText);
  Task.FileList.Clear();
  FRuns.push_back(std::move(Run));
  return true;
}

void TBackupRunner::FileDone(TRun& Run, const TBackupFileResult& Result) {
  Run.InFlight.Remove(Result.FileName);
  if (Run.Task == nullptr)
    return;  // its entry is gone
  TMonTask& Task = *Run.Task;
  if (Result.ErrorCode == 0 || !Result.SourceExists) {
    // Saved, or gone since: nothing is left to back up.
    Task.Failed.Forget(Result.FileName);
    FilesChanged();
    return;
  }
  // The change that failed is still unsaved: it waits for its next try.
  const TFailedFile* Failed = Task.FileFailed(Result.FileName, Result.ErrorCode);
  if (Failed != nullptr && Failed->GivenUp())
    FLog(ErrorLine(TimedEntryLine(
        FTimeText(), EntryIndex(Run.Position),
        SafeFormat(Tr("\"%s\" is given up after %u failed copies (%s); it is tried again when it changes."),
                   EscapeControls(JoinPath(Task.Dir, Result.FileName)), static_cast<std::uint64_t>(Failed->Failures),
                   GetCopyErrorText(Result.ErrorCode)))));
  FilesChanged();
}

void TBackupRunner::Release(std::size_t Index) {
  TRun& Run = *FRuns[Index];
  Run.Worker->Wait();
  // What the worker never reported (a stopped run, a destination that went
  // away, lines dropped at the end of the program) is still to be done.
  if (Run.Task != nullptr)
    for (const std::string& File : Run.InFlight) Run.Task->FileList.Add(File);
  FRuns.erase(FRuns.begin() + static_cast<std::ptrdiff_t>(Index));
  FilesChanged();
}

void TBackupRunner::FilesChanged() const {
  if (OnFilesChanged)
    OnFilesChanged();
}

bool TBackupRunner::ReleaseFinished() {
  for (std::size_t I = FRuns.size(); I-- > 0;)
    if (FRuns[I]->Worker->Finished())
      Release(I);
  return !FRuns.empty();
}

bool TBackupRunner::AnyRunning() const { return !FRuns.empty(); }

void TBackupRunner::WaitAll() {
  auto AllFinished = [this] {
    return std::all_of(FRuns.begin(), FRuns.end(), [](const auto& Run) { return Run->Worker->Finished(); });
  };
  while (!FQueue.WaitWhileProcessing(AllFinished, std::chrono::hours(1))) {
  }
  // The last lines may have been queued after the flag was seen.
  FQueue.ProcessPending();
  ReleaseFinished();
}

void TBackupRunner::RequestStop() {
  for (const auto& Run : FRuns) Run->Worker->RequestStop();
}

const TMatchList* TBackupRunner::InFlight(const TMonTask& Task) const {
  for (const auto& Run : FRuns)
    if (Run->Task == &Task)
      return &Run->InFlight;
  return nullptr;
}

const TBackupThread* TBackupRunner::Worker(const TMonTask& Task) const {
  for (const auto& Run : FRuns)
    if (Run->Task == &Task)
      return Run->Worker.get();
  return nullptr;
}

void TBackupRunner::Forget(const TMonTask& Task) {
  // The controller removes an entry only while monitoring is stopped, and a
  // stop waits for every worker, so a worker is rarely found here; one that
  // is (a finished worker not released yet) is not waited for: it is asked
  // to stop, no longer reaches the entry, and is released as any other once
  // it has finished.
  for (const auto& Run : FRuns) {
    if (Run->Task != &Task)
      continue;
    Run->Task = nullptr;
    Run->Worker->RequestStop();
  }
}

}  // namespace dz
