// The real dialogs' links to the desktop: the main application started and
// awaited with the event loop running, opened without waiting, and the
// start-on-logon entry switched.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "desktop/Process.h"
#include "ui/WindowRig.h"
#include "ui/window/WindowDialogs.h"
#include "watchdog/Watchdog.h"

using namespace dz;
using namespace dz::ui;

namespace {

// A shell script run as a program; $1 names a file it works with.
std::vector<std::string> Shell(const std::string& Script, const QString& File) {
  return {"/bin/sh", "-c", Script, "sh", File.toStdString()};
}

// Waits up to a minute for the file $1, then ends with 0, or with 7 when it
// never came.
constexpr const char* WaitForFileScript =
    "i=0; while [ ! -e \"$1\" ]; do i=$((i+1)); [ $i -gt 1200 ] && exit 7; sleep 0.05; done; exit 0";

// A program at Program that stands for the main application left open:
// it makes the file Started (when given), then waits up to a minute for the
// file Go and ends with 0, or with 7 when Go never came.
bool WriteWaitingProgram(const QString& Program, const QString& Started, const QString& Go) {
  QFile Script(Program);
  if (!Script.open(QIODevice::WriteOnly)) return false;
  QString Text = QStringLiteral("#!/bin/sh\n");
  if (!Started.isEmpty()) Text += QStringLiteral(": > '%1'\n").arg(Started);
  Text += QStringLiteral("i=0; while [ ! -e '%1' ]; do i=$((i+1)); [ $i -gt 1200 ] && exit 7; sleep 0.05; done\n").arg(Go);
  Script.write(Text.toUtf8());
  return Script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void Touch(const QString& File) {
  QFile F(File);
  QVERIFY(F.open(QIODevice::WriteOnly));
}

}  // namespace

class WindowDialogsTest : public QObject {
  Q_OBJECT

private slots:
  // The outcome of a run of the main application, taken from the event
  // loop.
  static std::optional<TProcessOutcome> Run(TQtWindowDialogs& Dialogs, const std::vector<std::string>& Args,
                                            const std::function<void()>& Meanwhile = {}) {
    std::optional<TProcessOutcome> Outcome;
    Dialogs.StartMainApplication(nullptr, Args, [&Outcome](const TProcessOutcome& O) { Outcome = O; });
    if (Meanwhile) Meanwhile();
    if (!QTest::qWaitFor([&] { return Outcome.has_value(); }, 60000)) return std::nullopt;
    return Outcome;
  }

  void theMainApplicationRunsWhileTheEventLoopGoesOn() {
    QTemporaryDir Dir;
    const QString Flag = Dir.filePath("made-after-the-start");
    TQtWindowDialogs Dialogs;
    // The start returns while the program runs: the file it waits for is
    // made only after it.
    bool Returned = false;
    const std::optional<TProcessOutcome> Outcome = Run(Dialogs, Shell(WaitForFileScript, Flag), [&] {
      Returned = true;
      Touch(Flag);
    });
    QVERIFY(Returned);
    QVERIFY(Outcome.has_value());
    QVERIFY(Outcome->Started);
    QCOMPARE(Outcome->ExitCode, 0);
  }

  void theMainApplicationsResult_data() {
    QTest::addColumn<QString>("Script");
    QTest::addColumn<int>("ExitCode");
    QTest::newRow("exit code 0") << "exit 0" << 0;
    QTest::newRow("exit code 3") << "exit 3" << (3 | ExitCodeFlag);
  }
  void theMainApplicationsResult() {
    QFETCH(QString, Script);
    QFETCH(int, ExitCode);
    TQtWindowDialogs Dialogs;
    // Twice: one run after the other.
    for (int Round = 0; Round < 2; ++Round) {
      const std::optional<TProcessOutcome> Outcome = Run(Dialogs, Shell(Script.toStdString(), QString()));
      QVERIFY(Outcome.has_value());
      QVERIFY(Outcome->Started);
      QCOMPARE(Outcome->ExitCode, ExitCode);
    }
  }

  void aMissingMainApplicationIsNotStartedAndSaysWhy() {
    QTemporaryDir Dir;
    TQtWindowDialogs Dialogs;
    const std::optional<TProcessOutcome> Outcome =
        Run(Dialogs, EditTaskCommand(Dir.filePath("ZentApp").toStdString(), "task.buj"));
    QVERIFY(Outcome.has_value());
    QVERIFY(!Outcome->Started);
    QVERIFY(!Outcome->Error.empty());
  }

  // Dialogs that go while the program still runs neither wait for it nor
  // report its end to anybody.
  void theDialogsGoWithoutWaitingForTheProgram() {
    QTemporaryDir Dir;
    const QString Go = Dir.filePath("go");
    const QString Done = Go + ".done";
    bool Reported = false;
    {
      TQtWindowDialogs Dialogs;
      Dialogs.StartMainApplication(nullptr, Shell("while [ ! -e \"$1\" ]; do sleep 0.05; done; : > \"$1.done\"", Go),
                                   [&](const TProcessOutcome&) { Reported = true; });
    }
    Touch(Go);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Done), 60000);  // the program has ended
    QCoreApplication::processEvents();
    QVERIFY(!Reported);
  }

  // "Edit backup task" with the real controller and a program that stands
  // for an editor left open: the one-second timer goes on and backs up a
  // file saved meanwhile; once the editor ends, the task is read again.
  void backupsRunWhileTheEditorIsOpen() {
    QTemporaryDir Bin;
    const QString Release = Bin.filePath("release");
    const QString Program = Bin.filePath("ZentApp");
    QVERIFY(WriteWaitingProgram(Program, QString(), Release));
    test::TWindowRig Rig(false, {}, Program.toStdString());
    TWatchdog& Watchdog = Rig.Watchdog();
    Rig.AddEntry("watched", "src", "backup");
    const std::size_t Edited = Rig.AddEntry("edited", "other", "backup2");
    Watchdog.DirItemChecked(Edited, false);  // not watched: it may be edited while monitoring runs
    QVERIFY(Watchdog.StartMonitoring());
    QTRY_VERIFY_WITH_TIMEOUT(!Watchdog.WatchersStarting(), 60000);
    Watchdog.SelectDirItem(Edited);

    const auto CopyExists = [&Rig] {
      std::error_code Error;
      for (std::filesystem::recursive_directory_iterator It(Rig.PathOf("backup"), Error), End; !Error && It != End;
           It.increment(Error))
        if (It->path().filename() == "while-editing.txt") return true;
      return false;
    };
    bool BackedUpWhileOpen = false;
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [&] {
      if (QFile::exists(Release)) return;
      if (Watchdog.MonTask(0).FileList.Count() > 0) Watchdog.RequestInstantBackup();
      if (CopyExists()) {
        BackedUpWhileOpen = true;
        Touch(Release);
      }
    });
    Poll.start(50);
    // A guard: the editor ends in any case.
    QTimer::singleShot(30000, [&] { Touch(Release); });
    std::ofstream(Rig.PathOf("src/while-editing.txt"), std::ios::binary) << "saved while the editor is open";

    Rig.Window().bbEditClick();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Release), 60000);
    QVERIFY(BackedUpWhileOpen);
    QTRY_COMPARE_WITH_TIMEOUT(Watchdog.MonTask(Edited).MonStatus, mtEnabled, 60000);  // read again: usable
    Watchdog.StopMonitoring();
  }

  void openingTheMainApplicationDoesNotWaitForIt() {
    QTemporaryDir Dir;
    const QString Started = Dir.filePath("started");
    const QString Go = Dir.filePath("go");
    const QString Program = Dir.filePath("ZentApp");
    QVERIFY(WriteWaitingProgram(Program, Started, Go));
    TDesktopSetup Setup;
    Setup.ZvPath = Program.toStdString();
    TQtWindowDialogs Dialogs(Setup);
    Dialogs.OpenMainApplication(nullptr);  // returns while the program waits
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Started), 60000);
    Touch(Go);
  }

  void startOnLogonWritesAndDeletesTheEntry() {
    QTemporaryDir Dir;
    TDesktopSetup Setup;
    Setup.AutostartFile = Dir.filePath("autostart/DeZedodiru.desktop").toStdString();
    Setup.Executable = "/opt/dezedodiru/bin/dezedodiru";
    TQtWindowDialogs Dialogs(Setup);
    QVERIFY(!Dialogs.StartsOnLogon());

    QVERIFY(Dialogs.SetStartOnLogon(nullptr, true));
    QVERIFY(Dialogs.StartsOnLogon());
    QFile Entry(QString::fromStdString(Setup.AutostartFile));
    QVERIFY(Entry.open(QIODevice::ReadOnly));
    const QString Text = QString::fromUtf8(Entry.readAll());
    QVERIFY2(Text.contains("Exec=/opt/dezedodiru/bin/dezedodiru /hide /force\n"), qPrintable(Text));
    Entry.close();

    QVERIFY(Dialogs.SetStartOnLogon(nullptr, false));
    QVERIFY(!Dialogs.StartsOnLogon());
    QVERIFY(!Entry.exists());
  }
};

QTEST_MAIN(WindowDialogsTest)
#include "WindowDialogsTest.moc"
