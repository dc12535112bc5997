#include "watchdog/Scheduler.h"

#include "base/Translate.h"

namespace dz {

void TBackupScheduler::Start(std::int32_t Interval) {
  FBuInterval = Interval > 0 ? Interval : -1;
  FTimeCount = FBuInterval;
  FInstantBackup = false;
}

void TBackupScheduler::Stop() { FInstantBackup = false; }

TTickAction TBackupScheduler::Tick() {
  if (FTimeCount > 0)
    --FTimeCount;
  if (FTimeCount == 0) {
    FTimeCount = FBuInterval;
    FInstantBackup = false;
    return TTickAction::taPeriodicBackup;
  }
  if (FInstantBackup) {
    FInstantBackup = false;
    return TTickAction::taInstantBackup;
  }
  return TTickAction::taNone;
}

std::string TBackupScheduler::CountdownText() const {
  return FBuInterval > 0 ? CountdownTextFor(FTimeCount) : Tr("on demand");
}

TClockProgress TBackupScheduler::ClockProgress(bool Running, bool FilesPending) const {
  TClockProgress Progress;
  Progress.Period = FBuInterval;
  Progress.Position = Running && FBuInterval > 0 ? FBuInterval - FTimeCount : 0;
  Progress.Running = Running;
  Progress.Visible = Running && FBuInterval > 0;
  Progress.FilesPending = FilesPending;
  return Progress;
}

std::string CountdownTextFor(std::int32_t T) {
  if (T < 0)
    return Tr("on demand");
  if (T >= 3600)
    return std::to_string(T / 3600) + " h " + std::to_string(T % 3600 / 60) + " m";
  if (T >= 600)
    return std::to_string(T / 60) + " m";
  if (T >= 60)
    return std::to_string(T / 60) + " m " + std::to_string(T % 60) + " s";
  return std::to_string(T) + " s";
}

}  // namespace dz
