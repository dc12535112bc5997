#pragma once
// The real window with the real controller and the real dialogs on a folder
// of its own: task files, monitored directories and the settings file live
// there. For the tests that run the window as the program does (on an X
// server, with a large tree) and for the screenshots.

#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/window/MainWindow.h"
#include "ui/window/QtMainThreadQueue.h"
#include "ui/window/WindowDialogs.h"
#include "watchdog/Watchdog.h"

namespace dz::ui::test {

class TWindowRig {
public:
  // A fresh folder below Parent (the system's temporary folder when empty);
  // Tray: whether the desktop shows notification-area icons (Qt is asked
  // when not given); ZvPath: the main application.
  explicit TWindowRig(std::optional<bool> Tray = std::nullopt, const QString& Parent = {},
                      const std::string& ZvPath = {})
      : FDir(Parent.isEmpty() ? std::make_unique<QTemporaryDir>()
                              : std::make_unique<QTemporaryDir>(Parent + QStringLiteral("/dz-rig-XXXXXX"))) {
    if (!FDir->isValid()) throw std::runtime_error("no temporary folder: " + FDir->errorString().toStdString());
    TWindowSetup Setup;
    Setup.ProgVersDate = "2025-01-01";
    if (Tray) Setup.TrayAvailable = [Available = *Tray] { return Available; };
    Setup.ZvPath = ZvPath;
    FWindow = std::make_unique<TMainWindow>(FQueue, Setup, std::make_unique<TQtWindowDialogs>());
    TWatchdogSetup Core;
    Core.IniName = PathOf("dezedodiru.ini");
    Core.UserPath = Root() + "/";
    FWatchdog = std::make_unique<TWatchdog>(*FWindow, FQueue, Core);
    FWindow->SetWatchdog(FWatchdog.get());
  }
  ~TWindowRig() {
    FWindow->SetWatchdog(nullptr);
    FWatchdog.reset();
    FWindow.reset();
  }
  TWindowRig(const TWindowRig&) = delete;
  TWindowRig& operator=(const TWindowRig&) = delete;

  std::string Root() const { return FDir->path().toStdString(); }
  // Relative names are taken from the rig's folder.
  std::string PathOf(const std::string& Name) const {
    return !Name.empty() && Name[0] == '/' ? Name : Root() + "/" + Name;
  }

  // A task file Name backing up the directory Source (created) into the
  // folder Dest; an entry for it at the end of the list.
  std::size_t AddEntry(const std::string& Name, const std::string& Source, const std::string& Dest = "backup") {
    std::filesystem::create_directories(PathOf(Source));
    const std::string Task = PathOf(Name + ".buj");
    std::ofstream(Task, std::ios::binary) << "[Global]\nDestination=" << PathOf(Dest) << "/\nDirCount=1\n"
                                          << "[Dir000]\nSource=" << PathOf(Source) << "\nBackupMode=1\n";
    if (FWatchdog->AddMonTask(std::make_unique<TMonTask>(Task, PathOf(Source))) != atAdded)
      throw std::runtime_error("the list is full");
    return FWatchdog->MonTaskCount() - 1;
  }

  TMainWindow& Window() { return *FWindow; }
  TWatchdog& Watchdog() { return *FWatchdog; }

  template <class T> T* Child(const char* Name) {
    T* Found = FWindow->findChild<T*>(QLatin1String(Name));
    if (Found == nullptr) throw std::runtime_error(std::string("no widget ") + Name);
    return Found;
  }

private:
  std::unique_ptr<QTemporaryDir> FDir;
  TQtMainThreadQueue FQueue;
  std::unique_ptr<TMainWindow> FWindow;
  std::unique_ptr<TWatchdog> FWatchdog;
};

}  // namespace dz::ui::test
