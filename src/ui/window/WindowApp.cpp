#include "ui/window/WindowApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>

#include "base/Translate.h"
#include "desktop/Autostart.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "settings/MainAppSettings.h"
#include "settings/UnicodeIniFile.h"
#include "ui/desktop/Style.h"
#include "ui/window/MainWindow.h"
#include "ui/window/QtMainThreadQueue.h"
#include "ui/window/WindowDialogs.h"
#include "watchdog/SettingsGuard.h"
#include "watchdog/Watchdog.h"

namespace dz::ui {

int RunWindowProgram(int& Argc, char** Argv, const TProgramLocations& Locations, const TCommandLine& CommandLine) {
  QApplication App(Argc, Argv);
  // The program lives on in the notification area with no window shown;
  // it ends when the window's close says so.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("DeZedodiru"));
  TQtMainThreadQueue Queue;

  ApplyStartStyle(App, CommandLine.Dark, Locations.ConfigFile, Locations.AppDataDir);

  TWindowSetup WindowSetup;
  WindowSetup.ZvPath = Locations.ZvPath;
  WindowSetup.ProgVersDate = Locations.ProgVersDate;
  TDesktopSetup Desktop;
  Desktop.Margins = ReadMainAppSettings(Locations.SettingsDir, Locations.LanguageCode).Margins;
  Desktop.ZvPath = Locations.ZvPath;
  Desktop.AutostartFile = AutostartFileName(Locations.StartupDir);
  Desktop.Executable = ExecutableFileName();
  Desktop.LanguageCode = Locations.LanguageCode;
  // An entry of an earlier copy of the program is pointed at this one.
  Desktop.StartsOnLogon = RefreshStartOnLogon(Desktop.AutostartFile, Desktop.Executable, ProgVersName());
  TMainWindow Window(Queue, WindowSetup, std::make_unique<TQtWindowDialogs>(std::move(Desktop)));

  TWatchdogSetup Setup = StartupWatchdogSetup(Locations);
  // Two watchdogs on one settings file would copy every change twice and
  // write over each other's settings.
  TInstanceLock SettingsLock;
  if (const std::optional<std::string> Held = LockSettingsFile(Locations.IniName, Setup.ProgramName, SettingsLock)) {
    QMessageBox::warning(nullptr, Q(ProgVersName()), Q(*Held));
    return 5;
  }
  auto Watchdog = std::make_unique<TWatchdog>(Window, Queue, std::move(Setup));
  try {
    Watchdog->LoadSettings();
  } catch (const EFOpenError& E) {
    // Going on with an empty list would write over the unreadable file.
    QMessageBox::critical(nullptr, Q(ProgVersName()),
                          Q(std::string(E.what()) + "\r\n" +
                            Tr("The settings file cannot be read; nothing was started or changed.")));
    return 2;
  }
  Window.SetWatchdog(Watchdog.get());
  if (!CommandLine.AddTasks.empty()) {
    // The settings file keeps the names for later starts from anywhere.
    for (const std::string& Name : CommandLine.AddTasks) Window.AddTaskFile(Name.empty() ? Name : AbsolutePath(Name));
    Watchdog->SaveSettings();
  }
  if (CommandLine.Hide) Watchdog->SysTrayClicked(true);

  // Logging off saves, as the console's SIGHUP does; SIGINT and SIGTERM
  // quit as "Quit monitoring" does (the last backup, then a save).
  QObject::connect(&App, &QGuiApplication::commitDataRequest, &Window,
                   [&Watchdog](QSessionManager&) { Watchdog->SaveSettings(); });
  // A request that comes while an operation waits (the last backup) is
  // taken once it has ended.
  std::function<void(TConsoleSignal)> Handle = [&](TConsoleSignal Signal) {
    if (!Watchdog) return;  // the end has come already
    if (Window.Busy()) {
      QTimer::singleShot(200, &Window, [&Handle, Signal] { Handle(Signal); });
      return;
    }
    if (Signal == csSave)
      Watchdog->SaveSettings();
    else
      Window.pmiQuitClick();
  };
  std::unique_ptr<TConsoleSignals> Signals;
  try {
    Signals = std::make_unique<TConsoleSignals>([&Queue, &Handle](TConsoleSignal Signal) {
      Queue.Post([&Handle, Signal] { Handle(Signal); });
    });
  } catch (const std::exception& E) {
    Watchdog->AddLogLine(E.what());
  }

  Window.CheckForce(CommandLine.Force);
  const int Code = Window.Ended() ? 0 : QApplication::exec();
  Signals.reset();
  Window.SetWatchdog(nullptr);
  Watchdog.reset();
  Queue.Close();
  return Code;
}

}  // namespace dz::ui
