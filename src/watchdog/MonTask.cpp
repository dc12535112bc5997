#include "watchdog/MonTask.h"

#include <utility>

namespace dz {

TMonTask::TMonTask(std::string ATask, std::string ADir) : BuTask(std::move(ATask)), Dir(std::move(ADir)) {}

// Releasing the watcher stops it; the backup worker is not ours to release:
// the scheduler releases it once it has finished.
TMonTask::~TMonTask() = default;

TRunStatus TMonTask::GetRunStatus() const {
  if (!DirWatch) return rsOff;
  return BuThread ? rsBackup : rsWatch;
}

}  // namespace dz
