#pragma once
// How the event loop fares while monitoring starts on a large tree: a
// timer on the GUI thread counts its ticks and the longest gap between two
// of them from the start button's click until every watcher has started.
// Shared by the large test (tests/ui/large) and its benchmark (bench/ui).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "WindowRig.h"

namespace dz::ui::test {

// Folders of 1,000 sub-folders each below Root, Count directories in all
// (rounded up to whole folders, their parents included).
inline int MakeDirectoryTree(const std::filesystem::path& Root, int Count) {
  constexpr int PerFolder = 1000;
  int Made = 0;
  std::filesystem::create_directories(Root);
  for (int Top = 0; Made < Count; ++Top) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "d%03d", Top);
    const std::filesystem::path Folder = Root / Name;
    std::filesystem::create_directory(Folder);
    ++Made;
    for (int Sub = 0; Sub < PerFolder; ++Sub) {
      std::snprintf(Name, sizeof Name, "e%04d", Sub);
      std::filesystem::create_directory(Folder / Name);
      ++Made;
    }
  }
  return Made;
}

// fs.inotify.max_user_watches raised to at least Needed while this lives,
// where it is lower and the process may write it (root).
class TWatchLimit {
public:
  static constexpr const char* Path = "/proc/sys/fs/inotify/max_user_watches";
  explicit TWatchLimit(long Needed) {
    std::ifstream In(Path);
    if (!(In >> FSaved)) return;
    FEnough = FSaved >= Needed;
    if (FEnough) return;
    std::ofstream Out(Path);
    Out << Needed << "\n";
    Out.close();
    FRaised = FEnough = !Out.fail();
  }
  ~TWatchLimit() {
    if (FRaised) std::ofstream(Path) << FSaved << "\n";
  }
  TWatchLimit(const TWatchLimit&) = delete;
  TWatchLimit& operator=(const TWatchLimit&) = delete;
  bool Enough() const { return FEnough; }
  long Limit() const { return FSaved; }

private:
  long FSaved = 0;
  bool FEnough = false;
  bool FRaised = false;
};

struct TStartMeasure {
  bool Started = false;  // every watcher had started before the deadline
  int Ticks = 0;         // of the timer, between the click and then
  double LongestGapMs = 0;
  double Seconds = 0;    // from the click on
};

// Clicks the start button of Rig's window and turns the event loop until
// no watcher is starting any more, at most Guard; a timer of TickMs
// records its ticks meanwhile.
inline TStartMeasure MeasureStart(TWindowRig& Rig, std::chrono::milliseconds Guard, int TickMs = 10) {
  TStartMeasure Result;
  QElapsedTimer Clock;
  qint64 LastTick = 0;
  QTimer Timer;
  Timer.setInterval(TickMs);
  QObject::connect(&Timer, &QTimer::timeout, [&] {
    const qint64 Now = Clock.nsecsElapsed();
    Result.LongestGapMs = std::max(Result.LongestGapMs, static_cast<double>(Now - LastTick) / 1e6);
    LastTick = Now;
    ++Result.Ticks;
  });
  Clock.start();
  Timer.start();
  Rig.Child<QPushButton>("bbStart")->click();
  while (Rig.Watchdog().WatchersStarting() && Clock.elapsed() < Guard.count())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the timer wakes it
  Timer.stop();
  Result.Started = !Rig.Watchdog().WatchersStarting();
  // The gap until the end counts too: the last tick may lie long before it.
  Result.LongestGapMs = std::max(Result.LongestGapMs, static_cast<double>(Clock.nsecsElapsed() - LastTick) / 1e6);
  Result.Seconds = static_cast<double>(Clock.nsecsElapsed()) / 1e9;
  return Result;
}

}  // namespace dz::ui::test
