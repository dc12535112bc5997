// The pictures of the README and docs/screenshots: the real window with the
// real controller on a fixture of three monitored directories (the first
// one monitoring, with log lines of a real backup and a file pending), the
// status dialog, the settings menu, the filter display and the log viewer,
// in the light and the dark look, in English and German. tools/make-screenshots.sh runs it.
//
//   dz-screenshots OUTDIR [LOCALEDIR]
//
// The fixture lives below the system's temporary folder as
// home/anna/..., so the paths shown read like a user's; it is removed again.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QPixmap>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "WindowRig.h"
#include "base/Translate.h"
#include "desktop/Help.h"
#include "filesys/PathUtils.h"
#include "platform/Environment.h"
#include "ui/desktop/Style.h"
#include "ui/dialogs/ShowFilterDialog.h"
#include "ui/dialogs/ShowTextDialog.h"
#include "ui/window/WindowWidgets.h"

using namespace dz;
using namespace dz::ui;
using dz::ui::test::TWindowRig;

namespace {

bool WaitUntil(const std::function<bool()>& Done) {
  QElapsedTimer Clock;
  Clock.start();
  while (!Done()) {
    if (Clock.elapsed() > 60000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

bool Save(const QPixmap& Picture, const QString& File) {
  // Eight colours less would not be seen; the smallest file is wanted.
  const bool Ok = Picture.toImage().save(File, "PNG", 0);
  std::printf("%s %s\n", Ok ? "wrote" : "FAILED", qPrintable(File));
  return Ok;
}

// One language and look: a fresh window (its texts are set when it is made).
bool Shoot(const QString& OutDir, const std::string& Home, const QString& Suffix) {
  TWindowRig Rig(true);
  const std::string Tasks = Home + "/Documents/Backup tasks/";
  std::filesystem::create_directories(Tasks);
  Rig.AddEntry(Tasks + "letters", Home + "/Documents/Letters", Home + "/Backups");
  Rig.AddEntry(Tasks + "holidays", Home + "/Pictures/Holidays 2024", Home + "/Backups");
  Rig.AddEntry(Tasks + "website", Home + "/Projects/website", Home + "/Backups");
  TWatchdog& W = Rig.Watchdog();
  W.DirItemChecked(1, false);
  W.DirItemChecked(2, false);
  W.SelectDirItem(0);
  W.WriteLogClicked(true);  // for the log viewer's picture
  if (!W.StartMonitoring() || !WaitUntil([&] { return !W.WatchersStarting(); })) return false;

  const std::string Letters = Home + "/Documents/Letters/";
  std::filesystem::create_directories(Letters + "tax");
  std::ofstream(Letters + "offer-2025.odt") << std::string(18000, 'o');
  std::ofstream(Letters + "tax/receipts.pdf") << std::string(52000, 'r');
  if (!WaitUntil([&] { return W.MonTask(0).FileList.Count() == 2; })) return false;
  W.RunBackups(true);
  std::ofstream(Letters + "notes.txt") << "call the landlord\n";
  if (!WaitUntil([&] { return W.MonTask(0).FileList.Count() == 1; })) return false;
  W.Tick();  // the countdown and the pending count as the timer shows them

  TMainWindow& Window = Rig.Window();
  Window.show();
  QCoreApplication::processEvents();
  bool Ok = Save(Window.grab(), OutDir + "/main-window-" + Suffix + ".png");

  Window.ShowTrayInfo();
  QCoreApplication::processEvents();
  Ok = Window.StatusDialog() != nullptr &&
       Save(Window.StatusDialog()->grab(), OutDir + "/status-dialog-" + Suffix + ".png") && Ok;

  QMenu* Menu = Window.SettingsMenu();
  Menu->popup(Window.mapToGlobal(QPoint(400, 300)));
  QCoreApplication::processEvents();
  Ok = Save(Menu->grab(), OutDir + "/settings-menu-" + Suffix + ".png") && Ok;
  Menu->hide();

  TShowFilterDialog Filter(&Window);
  Filter.ShowFilter(W.MonTask(0).MonFilter);
  Filter.show();
  QCoreApplication::processEvents();
  Ok = Save(Filter.grab(), OutDir + "/filter-dialog-" + Suffix + ".png") && Ok;
  Filter.hide();

  const QFileInfoList Logs = QDir(QString::fromStdString(W.LogDir()))
                                 .entryInfoList({QStringLiteral("DeZedodiru*.log")}, QDir::Files, QDir::Time);
  TShowTextDialog Viewer(LogViewerOptions({}), &Window);
  Ok = !Logs.isEmpty() && Viewer.LoadFile(Logs.constFirst().absoluteFilePath()) && Ok;
  Viewer.resize(760, 400);
  Viewer.show();
  QCoreApplication::processEvents();
  Ok = Save(Viewer.grab(), OutDir + "/log-viewer-" + Suffix + ".png") && Ok;
  Viewer.hide();

  W.StopMonitoring();
  return Ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dz-screenshots OUTDIR [LOCALEDIR]\n");
    return 2;
  }
  QApplication App(argc, argv);
  const QString OutDir = QString::fromLocal8Bit(argv[1]);
  const std::string Locale = argc > 2 ? argv[2] : LocaleFolder(ExtractFileDir(ExecutableFileName()));
  QDir().mkpath(OutDir);
  const std::string Parent = QDir::tempPath().toStdString() + "/home";
  const std::string Home = Parent + "/anna";
  if (std::filesystem::exists(Home)) {
    std::fprintf(stderr, "%s exists already; it is not touched\n", Home.c_str());
    return 2;
  }

  bool Ok = true;
  for (const char* Language : {"en", "de"}) {
    InitTranslation(Locale, Language);
    for (const bool Dark : {false, true}) {
      ApplyStyle(App, Dark);
      Ok = Shoot(OutDir, Home, QStringLiteral("%1-%2").arg(Dark ? "dark" : "light", Language)) && Ok;
      std::filesystem::remove_all(Home);
    }
  }
  std::error_code NotEmpty;  // then it was there before, and stays
  std::filesystem::remove(Parent, NotEmpty);
  return Ok ? 0 : 1;
}
