#include "console/ConsoleApp.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "base/CaseFold.h"
#include "base/SafeFormat.h"
#include "base/Utf.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/SettingsGuard.h"
#include "watchdog/Watchdog.h"

namespace dz {

namespace {

using TSteadyClock = std::chrono::steady_clock;

std::string CommandsText() { return Tr("Commands: b = backup now, s = status, q = quit"); }

// A whole number from 1 to Max, or nothing.
std::optional<std::size_t> ChoiceNumber(std::string_view Text, std::size_t Max) {
  if (Text.empty() || Text.size() > 9) return std::nullopt;
  std::size_t Value = 0;
  for (const char C : Text) {
    if (C < '0' || C > '9') return std::nullopt;
    Value = Value * 10 + static_cast<std::size_t>(C - '0');
  }
  if (Value < 1 || Value > Max) return std::nullopt;
  return Value;
}

}  // namespace

TConsoleCommand ParseConsoleCommand(std::string_view Line) {
  const std::string Command = AsciiLower(TrimBlanks(Line));
  if (Command.empty()) return ccNone;
  if (Command == "b") return ccBackup;
  if (Command == "s") return ccStatus;
  if (Command == "q") return ccQuit;
  return ccUnknown;
}

std::string MonStateWord(TMonTaskStatus Status, TRunStatus RunStatus) {
  if (Status == mtInvalid) return Tr("invalid");
  if (Status == mtDisabled) return Tr("disabled");
  if (RunStatus == rsBackup) return Tr("backup running");
  if (RunStatus == rsWatch) return Tr("watched");
  return Tr("not watched");
}

std::vector<std::string> StatusLines(const std::vector<TStatusEntry>& Entries, const std::string& CountdownText) {
  std::vector<std::string> Lines;
  if (Entries.empty()) Lines.push_back(Tr("No directory is in the list."));
  for (std::size_t I = 0; I < Entries.size(); ++I) {
    const TStatusEntry& E = Entries[I];
    std::string Line = EntryLine(I, EscapeControls(E.Dir) + " - " + MonStateWord(E.Status, E.RunStatus) + ", " +
                                        FileCountText(static_cast<std::int64_t>(E.Pending)));
    if (E.GivenUp > 0)
      Line += ", " + SafeFormat(Tr("%u given up"), static_cast<std::uint64_t>(E.GivenUp));
    if (E.DestinationInside)
      Line += ", " + Tr("the backup destination lies in the directory");
    if (!E.Unavailable.empty())
      Line += ", " + E.Unavailable;
    Lines.push_back(std::move(Line));
  }
  Lines.push_back(Tr("Next backup: ") + CountdownText);
  return Lines;
}

TConsoleApp::TConsoleApp(TConsoleStreams Streams, TMainThreadQueue& Queue, TDirWatchBackendFactory WatchBackend)
    : FView(Streams),
      FQueue(Queue),
      FWatchBackend(std::move(WatchBackend)),
      FExitNow([](int Code) { std::_Exit(Code); }) {
  FView.SetLineSource([this] { return NextLine(); });
}

TConsoleApp::~TConsoleApp() = default;

int TConsoleApp::Run(const TProgramLocations& Locations, const TCommandLine& CommandLine) {
  // A watchdog of an earlier run waits for its workers when it goes, and
  // runs the queue meanwhile: what arrives then belongs to this run.
  FInput.clear();
  FInputEnded = FQuitRequested = FSaveRequested = FStopping = false;
  FWatchdog.reset();
  int Code = 0;
  if (const std::optional<int> Early = Start(Locations, CommandLine)) {
    Code = *Early;
  } else {
    RunLoop();
    Code = Quit();
  }
  // The settings are saved: another watchdog may take them now.
  FSettingsLock.Release();
  return Code;
}

void TConsoleApp::InputLine(const std::string& Line) { FInput.push_back(Line); }

void TConsoleApp::InputEnded() { FInputEnded = true; }

void TConsoleApp::Request(TConsoleRequest Request) {
  if (Request == crSave) {
    // Saved by the loop, never in the middle of an operation of the
    // watchdog that waits and lets queued calls run; a quit saves anyway.
    FSaveRequested = true;
    return;
  }
  if (!FStopping) {
    FQuitRequested = true;
    return;
  }
  FView.PrintError(
      Tr("Second quit request: the settings are saved and the program ends now; the files not copied yet stay pending."));
  FExitNow(Save());
}

std::optional<int> TConsoleApp::Start(const TProgramLocations& Locations, const TCommandLine& CommandLine) {
  FView.PrintLines(ProgVersName() + " - " + Tr("Settings file") + ": " + Locations.IniName);

  TWatchdogSetup Setup = StartupWatchdogSetup(Locations);
  // Two watchdogs on one settings file would copy every change twice and
  // write over each other's settings.
  if (const std::optional<std::string> Held = LockSettingsFile(Locations.IniName, Setup.ProgramName, FSettingsLock)) {
    FView.PrintError(*Held);
    return ceAlreadyRunning;
  }
  // Every line is printed as it comes; kept, they would grow for as long
  // as the program runs.
  Setup.KeepLogLines = false;
  FWatchdog = std::make_unique<TWatchdog>(FView, FQueue, std::move(Setup), FWatchBackend);
  try {
    FWatchdog->LoadSettings();
  } catch (const EFOpenError& E) {
    // Going on with an empty list would write over the unreadable file.
    FView.PrintError(E.what());
    FView.PrintError(Tr("The settings file cannot be read; nothing was started or changed."));
    return ceSettingsUnreadable;
  }

  if (!CommandLine.AddTasks.empty()) {
    if (const std::optional<int> Code = AddTasks(CommandLine.AddTasks)) return Code;
  }
  if (FQuitRequested) return Save();

  // Every entry is checked against its task file and its directory again,
  // as each showing of the window does; what is wrong goes to the log.
  FWatchdog->ValidateMonTasks();
  if (!FWatchdog->StartMonitoring()) {
    // The watchdog has said that there is nothing to monitor. Waiting for
    // changes that cannot come would look like a working backup.
    // Why, entry by entry; the log has said what is wrong with each.
    if (!FWatchdog->State().DirItems.empty()) {
      std::vector<std::string> Lines = StatusLines(StatusEntries(), FWatchdog->State().CountdownText);
      Lines.pop_back();  // no backup is coming
      for (const std::string& Line : Lines) FView.PrintError(Line);
    }
    FView.PrintError(SafeFormat(Tr("To monitor a directory, add it with its backup task: %s"),
                                "dezedodiru /console /add:TASKFILE"));
    const int Saved = Save();
    return Saved == ceQuit ? ceNothingToMonitor : Saved;
  }
  // No window to keep responsive here: "Monitoring started." means the
  // watchers are in place, so that a change made after it is seen.
  while (FWatchdog->WatchersStarting() && !FQuitRequested)
    FQueue.WaitWhileProcessing([this] { return !FWatchdog->WatchersStarting() || FQuitRequested; },
                               std::chrono::hours(1));
  if (FQuitRequested) return std::nullopt;
  FView.PrintLines(Tr("Monitoring started.") + " " + CommandsText());
  return std::nullopt;
}

std::optional<int> TConsoleApp::AddTasks(const std::vector<std::string>& TaskFiles) {
  bool Added = false;
  bool Failed = false;
  for (const std::string& Name : TaskFiles) {
    if (FQuitRequested) break;
    // The settings file keeps the name for later starts from anywhere.
    const std::string TaskFile = Name.empty() ? Name : AbsolutePath(Name);
    const std::size_t Before = FWatchdog->State().DirItems.size();
    if (!AddTask(TaskFile)) {
      Failed = true;
      break;
    }
    Added = Added || FWatchdog->State().DirItems.size() > Before;
  }
  // Saved on this way out too, as on every other but an unreadable file.
  if ((Added || Failed) && Save() != ceQuit) return ceSettingsUnwritable;
  if (Failed) return ceAddFailed;
  return std::nullopt;
}

bool TConsoleApp::AddTask(const std::string& TaskFile) {
  const TTaskSources Found = FWatchdog->TaskSourcesForAdding(TaskFile);
  if (Found.Result != tcUsable) {
    FView.PrintError(Found.Message);
    return false;
  }
  if (Found.Sources.empty()) {
    FView.PrintError(SafeFormat(Tr("The backup task \"%s\" names no existing source directory."), TaskFile));
    return false;
  }
  const std::optional<std::string> Dir =
      Found.Sources.size() == 1 ? std::optional<std::string>(Found.Sources.front().Dir) : ChooseSource(TaskFile, Found.Sources);
  if (!Dir) {
    FView.PrintLines(Tr("No directory was added."));
    return true;
  }
  const std::size_t Before = FWatchdog->State().DirItems.size();
  if (!FWatchdog->AddDirectory(TaskFile, *Dir)) return false;
  // Already in the list: the watchdog has said so.
  if (FWatchdog->State().DirItems.size() > Before) FView.PrintLines(Tr("Directory added") + ": " + *Dir);
  return true;
}

std::optional<std::string> TConsoleApp::ChooseSource(const std::string& TaskFile,
                                                     const std::vector<TTaskSource>& Sources) {
  FView.PrintLines(SafeFormat(Tr("Source directories found in the backup task \"%s\""), ExtractFileName(TaskFile)) + ":");
  for (std::size_t I = 0; I < Sources.size(); ++I)
    FView.PrintLines(SafeFormat("%u: %s", static_cast<unsigned>(I + 1), Sources[I].Dir));
  for (;;) {
    FView.PrintLines(SafeFormat(Tr("Select directory to be monitored (1 to %u, nothing for none):"),
                                static_cast<unsigned>(Sources.size())));
    const std::optional<std::string> Answer = NextLine();
    if (!Answer || TrimBlanks(*Answer).empty()) return std::nullopt;
    if (const std::optional<std::size_t> Number = ChoiceNumber(TrimBlanks(*Answer), Sources.size()))
      return Sources[*Number - 1].Dir;
  }
}

std::optional<std::string> TConsoleApp::NextLine() {
  while (!FQueue.WaitWhileProcessing([this] { return !FInput.empty() || FInputEnded || FQuitRequested; },
                                     std::chrono::hours(1))) {
  }
  if (FInput.empty() || FQuitRequested) return std::nullopt;
  std::string Line = std::move(FInput.front());
  FInput.pop_front();
  return Line;
}

void TConsoleApp::RunLoop() {
  auto NextTick = TSteadyClock::now() + std::chrono::seconds(1);
  while (!FQuitRequested) {
    FQueue.WaitWhileProcessing(
        [&] { return FQuitRequested || FSaveRequested || !FInput.empty() || TSteadyClock::now() >= NextTick; },
        std::chrono::ceil<std::chrono::milliseconds>(NextTick - TSteadyClock::now()));
    while (!FInput.empty() && !FQuitRequested) {
      const std::string Line = std::move(FInput.front());
      FInput.pop_front();
      Command(Line);
    }
    if (FSaveRequested) {
      FSaveRequested = false;
      if (FWatchdog->SaveSettings()) FView.PrintLines(Tr("Settings saved."));
    }
    const auto Now = TSteadyClock::now();
    if (!FQuitRequested && Now >= NextTick) {
      if (FWatchdog->State().BackupTimerEnabled) FWatchdog->Tick();
      NextTick += std::chrono::seconds(1);
      // After a long stall (a suspended machine) the ticks go on from now
      // instead of catching up in a burst.
      if (Now - NextTick > std::chrono::seconds(1)) NextTick = Now + std::chrono::seconds(1);
    }
  }
}

void TConsoleApp::Command(const std::string& Line) {
  switch (ParseConsoleCommand(Line)) {
    case ccNone: break;
    case ccBackup:
      FWatchdog->RequestInstantBackup();
      FView.PrintLines(Tr("A backup is requested; it starts within a second."));
      break;
    case ccStatus: PrintStatus(); break;
    case ccQuit: FQuitRequested = true; break;
    case ccUnknown: FView.PrintLines(CommandsText()); break;
  }
}

std::vector<TStatusEntry> TConsoleApp::StatusEntries() const {
  std::vector<TStatusEntry> Entries;
  for (const TDirItem& Item : FWatchdog->State().DirItems)
    Entries.push_back(
        {Item.Dir, Item.Status, Item.RunStatus, Item.Pending, Item.GivenUp, Item.DestinationInside, Item.Unavailable});
  return Entries;
}

void TConsoleApp::PrintStatus() {
  // The state follows the reports one turn of the queue later: the calls
  // queued before the command, the publish of what they changed among
  // them, run first, so the status counts every change reported before it.
  FQueue.ProcessPending();
  for (const std::string& Line : StatusLines(StatusEntries(), FWatchdog->State().CountdownText))
    FView.PrintLines(Line);
}

int TConsoleApp::Quit() {
  FStopping = true;
  FView.PrintLines(Tr("Quitting: the pending files are backed up first."));
  FWatchdog->StopMonitoring();
  return Save();
}

int TConsoleApp::Save() {
  // SaveSettings shows its own message when it fails.
  return FWatchdog->SaveSettings() ? ceQuit : ceSettingsUnwritable;
}

int RunConsoleProgram(const TProgramLocations& Locations, const TCommandLine& CommandLine) {
  TPlainMainThreadQueue Queue;
  TConsoleApp App({std::cout, std::cerr, IsTerminal(ssOutput)}, Queue);
  // Both post to the queue and are stopped before the application goes.
  std::unique_ptr<TStdinReader> Reader;
  std::unique_ptr<TConsoleSignals> Signals;
  try {
    Reader = std::make_unique<TStdinReader>(
        [&](const std::string& Line) { Queue.Post([&App, Line] { App.InputLine(Line); }); },
        [&] { Queue.Post([&App] { App.InputEnded(); }); });
    Signals = std::make_unique<TConsoleSignals>([&](TConsoleSignal Signal) {
      Queue.Post([&App, Signal] { App.Request(Signal == csSave ? crSave : crQuit); });
    });
  } catch (const std::exception& E) {
    App.View().PrintError(E.what());
  }
  if (!Reader) App.InputEnded();
  return App.Run(Locations, CommandLine);
}

}  // namespace dz
