// The pictures of the README and docs/screenshots: the real window with the
// real controller on a fixture of three monitored directories (the first
// one monitoring, with log lines of a real backup and a file pending), the
// status dialog, the settings menu, the filter display and the log viewer,
// in the light and the dark look, in English and German; and ZentApp's task
// list, editor and preview on a task folder of the same user (the editor
// also dark in German). tools/make-screenshots.sh runs it.
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
#include <QLineEdit>
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
#include "taskedit/TaskDocument.h"
#include "ui/dialogs/ShowTextDialog.h"
#include "ui/taskedit/TaskEditDialogs.h"
#include "ui/taskedit/TaskEditorDialog.h"
#include "ui/taskedit/TaskListWindow.h"
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
  Filter.ShowFilter(*W.FilterDisplayOf(0));
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

// ZentApp on three tasks of the user, one of which the watchdog cannot use.
// All: the list, the editor and its preview; else the editor only, with a
// finding shown.
bool ShootTaskEditor(const QString& OutDir, const std::string& Home, const QString& Suffix, bool All) {
  const std::string JobDir = Home + "/Documents/ZentApp/";
  const std::string Letters = Home + "/Documents/Letters";
  std::filesystem::create_directories(JobDir);
  for (const char* File : {"offer-2025.odt", "tax/receipts.pdf", "tax/receipts.pdf.part", "~lock.offer-2025.odt",
                           "notes.txt", "drafts/reply.odt", "drafts/old.bak", ".cache/thumb.png"}) {
    std::filesystem::create_directories(std::filesystem::path(Letters + "/" + File).parent_path());
    std::ofstream(Letters + "/" + File) << File;
  }
  std::filesystem::create_directories(Home + "/Pictures/Holidays 2024");
  TTaskDocument Doc = NewTaskDocument({Letters}, Home + "/Backups");
  Doc.Compression = cmZip;
  Doc.Sources[0].FilterMode = fmExclude;
  Doc.Sources[0].Filter = "~*|*.part";
  Doc.Sources[0].Exclude = {"bak", "tmp"};
  Doc.Sources[0].SubDirs = {".cache"};
  WriteTaskDocument(Doc, JobDir + "letters.buj");
  WriteTaskDocument(NewTaskDocument({Home + "/Pictures/Holidays 2024"}, ":USB-DISK:/Pictures"), JobDir + "holidays.buj");
  std::ofstream(JobDir + "old server.buj") << "[Global]\nDestination=ftp://backup.example/anna/\nFtpBackup=1\n"
                                           << "DirCount=1\n[Dir000]\nSource=" << Home << "/Projects\n";

  TTaskEditSetup Setup;
  Setup.JobDir = JobDir;
  TQtTaskEditDialogs Dialogs(Setup);
  bool Ok = true;
  if (All) {
    TTaskListWindow List(Dialogs, JobDir);
    List.SelectTask(JobDir + "letters.buj");
    List.show();
    QCoreApplication::processEvents();
    Ok = Save(List.grab(), OutDir + "/zentapp-list.png") && Ok;
    List.hide();
  }
  TTaskEditorDialog Editor(Dialogs, JobDir + "letters.buj", ReadTaskDocument(JobDir + "letters.buj"));
  Editor.show();
  if (!WaitUntil([&] { return !Editor.Preview()->Running(); })) return false;
  QCoreApplication::processEvents();
  if (All) {
    Ok = Save(Editor.findChild<QWidget*>(QStringLiteral("gbPreview"))->grab(), OutDir + "/zentapp-preview.png") && Ok;
  }
  // A mistake as a user makes it: the finding shows below the field.
  Editor.findChild<QLineEdit*>(QStringLiteral("edDirFilter"))->setText(QStringLiteral("temp["));
  QCoreApplication::processEvents();
  Ok = Save(Editor.grab(), OutDir + (All ? QStringLiteral("/zentapp-editor.png")
                                         : QStringLiteral("/zentapp-editor-") + Suffix + QStringLiteral(".png"))) &&
       Ok;
  Editor.hide();
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
    SelectMessageLanguage(Language);
    InitTranslation(Locale);
    for (const bool Dark : {false, true}) {
      ApplyStyle(App, Dark);
      const QString Suffix = QStringLiteral("%1-%2").arg(Dark ? "dark" : "light", Language);
      Ok = Shoot(OutDir, Home, Suffix) && Ok;
      std::filesystem::remove_all(Home);
      const bool English = std::string(Language) == "en";
      if (English != Dark) {  // light English: all three; dark German: the editor
        Ok = ShootTaskEditor(OutDir, Home, Suffix, English) && Ok;
        std::filesystem::remove_all(Home);
      }
    }
  }
  std::error_code NotEmpty;  // then it was there before, and stays
  std::filesystem::remove(Parent, NotEmpty);
  return Ok ? 0 : 1;
}
