#pragma once
// The countdown to the next backup. The front-end's one-second timer calls
// the controller's Tick(), which asks Tick() here whether a backup is due;
// nothing here sleeps or reads a clock, so a test steps through an hour of
// ticks at once.

#include <cstdint>
#include <string>

#include "watchdog/WatchdogView.h"

namespace dz {

enum class TTickAction { taNone, taPeriodicBackup, taInstantBackup };

class TBackupScheduler {
public:
  // Monitoring starts: Interval seconds between periodic backups, -1 for
  // backups on demand only.
  void Start(std::int32_t Interval);
  void Stop();

  // A backup at once, performed at the next tick.
  void RequestInstant() { FInstantBackup = true; }
  bool InstantRequested() const { return FInstantBackup; }

  // One second has passed: counts down and says whether a backup starts
  // now. A periodic backup restarts the countdown; either kind clears the
  // request for an instant one.
  TTickAction Tick();

  std::int32_t BuInterval() const { return FBuInterval; }
  std::int32_t TimeCount() const { return FTimeCount; }

  // "on demand", or the time left: "1 h 2 m", "29 m", "2 m 5 s", "7 s".
  std::string CountdownText() const;
  // The clock display: a full turn per interval, visible only with
  // periodic backups.
  TClockProgress ClockProgress(bool Running, bool FilesPending) const;

private:
  std::int32_t FBuInterval = -1;
  std::int32_t FTimeCount = 0;
  bool FInstantBackup = false;
};

// The countdown text of TimeCount seconds (negative: on demand).
std::string CountdownTextFor(std::int32_t TimeCount);

}  // namespace dz
