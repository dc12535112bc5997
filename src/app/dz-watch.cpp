// dz-watch DIR: watches DIR and everything below it as the watchdog does and
// writes one line per report to standard output, flushed at once:
//
//   waAdded docs/a.txt
//   waRenamedNew docs/b.txt
//   error 1022 Too many changes at once; the directory must be scanned again
//
// It ends on SIGINT, SIGTERM or the end of standard input.

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "base/MainThreadQueue.h"
#include "dirwatch/DirectoryWatch.h"

namespace {

volatile std::sig_atomic_t StopRequested = 0;

extern "C" void RequestStop(int) { StopRequested = 1; }

const char* ActionName(dz::TWatchAction Action) {
  switch (Action) {
    case dz::waAdded: return "waAdded";
    case dz::waRemoved: return "waRemoved";
    case dz::waModified: return "waModified";
    case dz::waRenamedOld: return "waRenamedOld";
    case dz::waRenamedNew: return "waRenamedNew";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: dz-watch DIR\n";
    return 2;
  }
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  dz::TPlainMainThreadQueue Queue;
  dz::TDirectoryWatch Watch(1, Queue);
  Watch.SetDirectory(argv[1]);
  Watch.SetWatchSubTree(true);
  Watch.SetWatchActions(dz::AllWatchActions);
  Watch.SetWatchOptions({dz::woFileName, dz::woDirName, dz::woSize, dz::woLastWrite, dz::woCreation});
  Watch.OnNotify = [](dz::TDirectoryWatch&, int, dz::TWatchAction Action, const std::string& FileName) {
    std::cout << ActionName(Action) << ' ' << FileName << std::endl;
  };
  Watch.OnError = [](dz::TDirectoryWatch&, int Code, const std::string& Text, dz::TDirWatchClock::time_point) {
    std::cout << "error " << Code << ' ' << Text << std::endl;
  };
  try {
    Watch.Start();
  } catch (const std::exception& E) {
    std::cerr << E.what() << std::endl;
    return 1;
  }

  // The end of standard input is noticed by a thread of its own, which is
  // left blocked in its read when a signal ends the program; it owns what it
  // touches, so it can outlive main.
  auto InputEnded = std::make_shared<std::atomic<bool>>(false);
  std::thread([InputEnded] {
    char Ignored;
    while (std::cin.get(Ignored)) {
    }
    InputEnded->store(true);
  }).detach();

  // A signal handler may do nothing but set the flag, so the wait looks at
  // it every tenth of a second; reports are written as soon as they arrive.
  const auto Done = [&InputEnded] { return StopRequested != 0 || InputEnded->load(); };
  while (!Queue.WaitWhileProcessing(Done, std::chrono::milliseconds(100))) {
  }
  Watch.Stop();
  Queue.ProcessPending();
  std::cout.flush();
  return 0;
}
