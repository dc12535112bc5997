// The real dialogs' links to the desktop: the main application started and
// awaited with the event loop running, opened without waiting, and the
// start-on-logon entry switched.

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "desktop/Process.h"
#include "ui/window/WindowDialogs.h"

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

void Touch(const QString& File) {
  QFile F(File);
  QVERIFY(F.open(QIODevice::WriteOnly));
}

}  // namespace

class WindowDialogsTest : public QObject {
  Q_OBJECT

private slots:
  void theMainApplicationIsAwaitedWhileTheEventLoopRuns() {
    QTemporaryDir Dir;
    const QString Flag = Dir.filePath("made-by-a-timer");
    // Only an event loop that runs during the wait makes the file the
    // program waits for.
    QTimer::singleShot(0, [Flag] { Touch(Flag); });
    TQtWindowDialogs Dialogs;
    const TProcessOutcome Outcome = Dialogs.RunMainApplication(nullptr, Shell(WaitForFileScript, Flag));
    QVERIFY(Outcome.Started);
    QCOMPARE(Outcome.ExitCode, 0);
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
    const TProcessOutcome Outcome = Dialogs.RunMainApplication(nullptr, Shell(Script.toStdString(), QString()));
    QVERIFY(Outcome.Started);
    QCOMPARE(Outcome.ExitCode, ExitCode);
  }

  void aMissingMainApplicationIsNotStartedAndSaysWhy() {
    QTemporaryDir Dir;
    TQtWindowDialogs Dialogs;
    const TProcessOutcome Outcome =
        Dialogs.RunMainApplication(nullptr, EditTaskCommand(Dir.filePath("ZentApp").toStdString(), "task.buj"));
    QVERIFY(!Outcome.Started);
    QVERIFY(!Outcome.Error.empty());
  }

  void openingTheMainApplicationDoesNotWaitForIt() {
    QTemporaryDir Dir;
    const QString Started = Dir.filePath("started");
    const QString Go = Dir.filePath("go");
    const QString Program = Dir.filePath("ZentApp");
    {
      QFile Script(Program);
      QVERIFY(Script.open(QIODevice::WriteOnly));
      // Says it runs, then waits for the test to let it end.
      Script.write(QStringLiteral("#!/bin/sh\n: > '%1'\ni=0; while [ ! -e '%2' ]; do i=$((i+1)); [ $i -gt 1200 ] && exit 7; "
                                  "sleep 0.05; done\n")
                       .arg(Started, Go)
                       .toUtf8());
      Script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
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
