#pragma once
// The watchdog without a window: it finds its files, reads the settings,
// adds the directories of "add:" options, validates every entry, starts
// monitoring and then runs until the user quits, calling the watchdog's
// tick once a second. Commands come from standard input, a line each:
//   b  a backup at once
//   s  the status: every directory with its state and pending files, and
//      the time to the next backup
//   q  quit: a last backup of the pending files, waited for, then save
// The end of standard input is not a quit, so that the program can run as a
// service with its input closed. A quit request (SIGINT, SIGTERM) quits as
// "q" does; a second one while the last backup runs saves the settings (the
// files not copied yet stay pending) and ends at once. A save request
// (SIGHUP) saves the settings.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/MainThreadQueue.h"
#include "console/ConsoleView.h"
#include "platform/DirWatchBackend.h"
#include "platform/InstanceLock.h"
#include "settings/ProgramLocations.h"
#include "watchdog/CommandLine.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskReader.h"
#include "watchdog/WatchdogView.h"

namespace dz {

class TWatchdog;

// How the program ends.
enum TConsoleExit : int {
  ceQuit = 0,              // the user quit, the settings were saved
  ceNothingToMonitor = 1,  // no usable directory: there is nothing to do
  ceSettingsUnreadable = 2,
  ceSettingsUnwritable = 3,
  ceAddFailed = 4,         // a task of an "add:" option cannot be used
  ceAlreadyRunning = 5,    // another watchdog runs with the same settings file
};

// What the signals ask for, handed in on the main thread (the signal
// watcher posts these to the queue).
enum TConsoleRequest : int { crQuit, crSave };

enum TConsoleCommand : int { ccNone, ccBackup, ccStatus, ccQuit, ccUnknown };

// A line of standard input as a command: "b", "s" or "q" in either case,
// blanks around it ignored; an empty line is no command.
TConsoleCommand ParseConsoleCommand(std::string_view Line);

// The word for an entry's state in the status: "watched", "backup running",
// "not watched", "invalid" or "disabled".
std::string MonStateWord(TMonTaskStatus Status, TRunStatus RunStatus);

// One entry of the directory list as the status shows it.
struct TStatusEntry {
  std::string Dir;
  TMonTaskStatus Status = mtEnabled;
  TRunStatus RunStatus = rsOff;
  std::size_t Pending = 0;
  std::size_t GivenUp = 0;         // failed files no longer retried
  bool DestinationInside = false;  // a backup destination lies in Dir
  std::string Unavailable;         // why it is not watched now: its task or directory is missing
};

// The status: one line per entry, "NN: <dir> - <state>, <count text>"
// (and the files given up, and a destination in the directory), then
// "Next backup: " and the countdown.
std::vector<std::string> StatusLines(const std::vector<TStatusEntry>& Entries, const std::string& CountdownText);

class TConsoleApp {
public:
  TConsoleApp(TConsoleStreams Streams, TMainThreadQueue& Queue,
              TDirWatchBackendFactory WatchBackend = CreateSystemDirWatchBackend);
  ~TConsoleApp();
  TConsoleApp(const TConsoleApp&) = delete;
  TConsoleApp& operator=(const TConsoleApp&) = delete;

  // Runs the program until it ends; the result is its exit code. The
  // caller has switched the translation to Locations.LanguageCode. Run may
  // be called again after it has returned.
  int Run(const TProgramLocations& Locations, const TCommandLine& CommandLine);

  // How the program ends at once, after a second quit request while the
  // last backup runs: std::_Exit by default, so that no destructor waits
  // for the backup workers.
  void SetExitNow(std::function<void(int Code)> ExitNow) { FExitNow = std::move(ExitNow); }

  // Main thread.
  void InputLine(const std::string& Line);
  void InputEnded();
  void Request(TConsoleRequest Request);

  TConsoleView& View() { return FView; }

private:
  // The exit code when the program ends before monitoring runs.
  std::optional<int> Start(const TProgramLocations& Locations, const TCommandLine& CommandLine);
  std::optional<int> AddTasks(const std::vector<std::string>& TaskFiles);
  // False when the task's directory was not added because the task cannot
  // be used or the list is full; no choice is no failure.
  bool AddTask(const std::string& TaskFile);
  std::optional<std::string> ChooseSource(const std::string& TaskFile, const std::vector<TTaskSource>& Sources);
  void RunLoop();
  void Command(const std::string& Line);
  std::vector<TStatusEntry> StatusEntries() const;
  void PrintStatus();
  int Quit();
  // ceQuit when the settings were written, else ceSettingsUnwritable.
  int Save();
  std::optional<std::string> NextLine();

  TConsoleView FView;
  TMainThreadQueue& FQueue;
  TDirWatchBackendFactory FWatchBackend;
  std::function<void(int)> FExitNow;
  std::deque<std::string> FInput;
  bool FInputEnded = false;
  bool FQuitRequested = false;
  bool FSaveRequested = false;
  bool FStopping = false;
  // Last: it is destroyed first, and while it stops it may still run calls
  // of the queue that reach the members above.
  // Held from the start to the end, before the settings are read.
  TInstanceLock FSettingsLock;
  std::unique_ptr<TWatchdog> FWatchdog;
};

// The whole console program on the process's standard streams and signals.
int RunConsoleProgram(const TProgramLocations& Locations, const TCommandLine& CommandLine);

}  // namespace dz
