// The built ZentApp as the watchdog runs it: "TASK /edit" started and
// awaited with the watchdog's own StartProcess/WaitForProcess, a user at its
// editor typing and pressing Save or Cancel (the driver plugin of the tests,
// which Qt loads into the program); and the whole way of a new user: a task
// written by ZentApp, added in the watchdog's window, edited from there,
// and the next backup following the edit.

#include <QCoreApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/BuildInfo.h"
#include "desktop/Process.h"
#include "desktop/ProgramVersion.h"
#include "taskedit/TaskDocument.h"
#include "ui/taskedit/TaskEditApp.h"
#include "ui/window/MainWindow.h"
#include "ui/window/QtMainThreadQueue.h"
#include "ui/window/WindowDialogs.h"
#include "watchdog/MonTask.h"
#include "watchdog/Watchdog.h"

using namespace dz;
using namespace dz::ui;

namespace {

std::string ReadBytes(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

class ZentAppProcessTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> FDir;

  std::string PathOf(const std::string& Name) const { return FDir->path().toStdString() + "/" + Name; }

  // ZentApp with Args, awaited as the watchdog awaits it: 0 for exit code 0.
  int Run(const std::vector<std::string>& Args) {
    std::vector<std::string> Command{DZ_ZENTAPP_EXE};
    Command.insert(Command.end(), Args.begin(), Args.end());
    TChildProcess Child = StartProcess(Command, FDir->path().toStdString());
    return WaitForProcess(Child, 0, false, [] { QCoreApplication::processEvents(); });
  }
  // What the user at the editor of the next ZentApp types (lines
  // "objectName=text") and presses ("save" or "cancel", the answer to
  // every question too).
  static void SetAction(const char* Action, const std::string& Typed) {
    qputenv("QT_PLUGIN_PATH", DZ_EDITOR_DRIVER_DIR);
    qputenv("QT_QPA_GENERIC_PLUGINS", "dzeditordriver");
    qputenv("DZ_DRIVE_EDITOR_ACTION", Action);
    qputenv("DZ_DRIVE_EDITOR_TYPE", QByteArray::fromStdString(Typed));
  }

private slots:
  void init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    std::filesystem::create_directories(PathOf("src"));
    // The program finds its settings and task folders below a home of the
    // test's own, and speaks English.
    qputenv("HOME", FDir->path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(PathOf("config")));
    qputenv("LANGUAGE", "en");
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  void cleanup() {
    for (const char* Name : {"QT_PLUGIN_PATH", "QT_QPA_GENERIC_PLUGINS", "DZ_DRIVE_EDITOR_ACTION", "DZ_DRIVE_EDITOR_TYPE",
                             "DZ_TEST_EDIT_ACTION", "DZ_TEST_EDIT_TYPE"})
      qunsetenv(Name);
    FDir.reset();
  }

  void editExitCodes_data() {
    QTest::addColumn<QString>("Action");
    QTest::addColumn<bool>("Exists");
    QTest::addColumn<int>("Result");
    QTest::newRow("save: 0, the change is in the file") << "save" << true << 0;
    QTest::newRow("cancel: 1, the file unchanged") << "cancel" << true << (ExitCodeFlag | 1);
    QTest::newRow("missing, created and saved") << "save" << false << 0;
    QTest::newRow("missing, not created") << "cancel" << false << (ExitCodeFlag | 1);
  }
  void editExitCodes() {
    QFETCH(QString, Action);
    QFETCH(bool, Exists);
    QFETCH(int, Result);
    const std::string Task = PathOf("task.buj");
    if (Exists) WriteTaskDocument(NewTaskDocument({PathOf("src")}, PathOf("backup")), Task);
    const std::string Before = ReadBytes(Task);
    SetAction(Action == "save" ? "save" : "cancel", "edDestination=" + PathOf("elsewhere") + "\nedSource=" +
                                                        PathOf("src"));
    // The watchdog's own command: the program, the task, "/edit".
    const std::vector<std::string> Command = EditTaskCommand(DZ_ZENTAPP_EXE, Task);
    QCOMPARE(Run({Command.begin() + 1, Command.end()}), Result);
    if (Result == 0) {
      const TTaskDocument Doc = ReadTaskDocument(Task);
      QCOMPARE(Doc.Destination, PathOf("elsewhere") + "/");
      if (!Exists) QCOMPARE(Doc.Sources.size(), std::size_t{0});  // a new task: typed into no source
    } else {
      QCOMPARE(std::filesystem::exists(Task), Exists);
      QCOMPARE(ReadBytes(Task), Before);
    }
  }

  // The watchdog's "Version info" reads the package's name and version
  // from the built program without running it.
  void theProgramCarriesItsVersionMark() {
    const std::optional<TProgramVersion> Version = ReadProgramVersion(DZ_ZENTAPP_EXE);
    QVERIFY(Version.has_value());
    QCOMPARE(Version->InternalName, std::string("Zentivo"));
    QCOMPARE(Version->FileVersion, std::string(BuildFileVersion));
    QCOMPARE(Version->Bits, int(sizeof(void*) * 8));
  }

  // The program a user runs takes no orders from the environment: the
  // variables through which tests once pressed its buttons do nothing, and
  // only the user (here the driver, who cancels) decides.
  void theProgramHasNoTestHooks() {
    const std::string Task = PathOf("task.buj");
    WriteTaskDocument(NewTaskDocument({PathOf("src")}, PathOf("backup")), Task);
    const std::string Before = ReadBytes(Task);
    SetAction("cancel", "");
    qputenv("DZ_TEST_EDIT_ACTION", "save");
    qputenv("DZ_TEST_EDIT_TYPE", QByteArray::fromStdString("edDestination=" + PathOf("elsewhere")));
    QCOMPARE(Run({Task, "/edit"}), ExitCodeFlag | 1);
    QCOMPARE(ReadBytes(Task), Before);
  }

  void windowFormArguments_data() {
    QTest::addColumn<QStringList>("Args");
    QTest::addColumn<bool>("Edit");
    QTest::addColumn<bool>("Dark");
    QTest::addColumn<QString>("Task");
    QTest::newRow("nothing: the list") << QStringList{} << false << false << "";
    QTest::newRow("the watchdog's form") << QStringList{"/home/a/t.buj", "/edit"} << true << false << "/home/a/t.buj";
    QTest::newRow("abbreviated, dash") << QStringList{"-E", "t.buj"} << true << false << "t.buj";
    QTest::newRow("upper case, dark") << QStringList{"/EDIT", "/d", "t.buj"} << true << true << "t.buj";
    QTest::newRow("a task alone is edited") << QStringList{"/srv/t.buj"} << true << false << "/srv/t.buj";
    QTest::newRow("location options pass") << QStringList{"/lang:de", "/ini:/tmp/x/", "/portable"} << false << false
                                           << "";
    QTest::newRow("unknown option, first task wins") << QStringList{"/zzz", "a.buj", "b.buj"} << true << false
                                                     << "a.buj";
  }
  void windowFormArguments() {
    QFETCH(QStringList, Args);
    QFETCH(bool, Edit);
    QFETCH(bool, Dark);
    QFETCH(QString, Task);
    std::vector<std::string> List;
    for (const QString& Arg : Args) List.push_back(Arg.toStdString());
    const TTaskEditWindowArgs Parsed = ParseTaskEditWindowArgs(List);
    QCOMPARE(Parsed.Edit, Edit);
    QCOMPARE(Parsed.Dark, Dark);
    QCOMPARE(QString::fromStdString(Parsed.Task), Task);
  }

  void theOptionIsMatchedAsTheWatchdogMatchesItsOwn() {
    const std::string Task = PathOf("task.buj");
    WriteTaskDocument(NewTaskDocument({PathOf("src")}, PathOf("backup")), Task);
    SetAction("save", "edDestination=" + PathOf("other"));
    QCOMPARE(Run({"-E", "task.buj"}), 0);  // relative to the current folder
    QCOMPARE(ReadTaskDocument(Task).Destination, PathOf("other") + "/");
  }

  // A task written by ZentApp, added in the watchdog's window, edited from
  // there to leave out "*.tmp": the next backup copies the text file and
  // leaves out the newly excluded one.
  void aNewUsersWayFromTheNewTaskToTheBackupAfterAnEdit() {
    const std::string Task = PathOf("task.buj");
    QCOMPARE(Run({"--new", Task, "--source", PathOf("src"), "--dest", PathOf("dest")}), 0);

    TQtMainThreadQueue Queue;
    TWindowSetup Setup;
    Setup.ZvPath = DZ_ZENTAPP_EXE;
    Setup.TrayAvailable = [] { return false; };
    TMainWindow Window(Queue, Setup, std::make_unique<TQtWindowDialogs>());
    TWatchdogSetup Core;
    Core.IniName = PathOf("dezedodiru.ini");
    Core.UserPath = FDir->path().toStdString() + "/";
    TWatchdog Watchdog(Window, Queue, Core);
    Window.SetWatchdog(&Watchdog);
    Window.AddTaskFile(Task);
    QCOMPARE(Watchdog.MonTaskCount(), std::size_t{1});
    QCOMPARE(MonFilterVerdict(Watchdog.MonTask(0).MonFilter, "skip.tmp"), fvPasses);

    SetAction("save", "edExtensions=tmp");
    Window.lbDirsDblClick(0);  // "Edit backup task"; read again once the editor has ended
    QTRY_COMPARE_WITH_TIMEOUT(MonFilterVerdict(Watchdog.MonTask(0).MonFilter, "skip.tmp"), fvExtension, 60000);

    QVERIFY(Watchdog.StartMonitoring());
    QTRY_VERIFY_WITH_TIMEOUT(!Watchdog.WatchersStarting(), 60000);
    std::ofstream(PathOf("src/skip.tmp"), std::ios::binary) << "scratch";
    std::ofstream(PathOf("src/keep.txt"), std::ios::binary) << "kept";
    auto* Start = Window.findChild<QPushButton*>(QStringLiteral("bbStart"));
    QVERIFY(Start != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(Start->isEnabled(), 60000);  // something is pending
    Start->click();
    const auto Copies = [this] {
      std::vector<std::string> Names;
      std::error_code Error;
      for (std::filesystem::recursive_directory_iterator It(PathOf("dest"), Error), End; !Error && It != End;
           It.increment(Error))
        if (It->is_regular_file()) Names.push_back(It->path().filename().string());
      return Names;
    };
    QTRY_VERIFY_WITH_TIMEOUT(Copies() == std::vector<std::string>{"keep.txt"}, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!Watchdog.BackupRunning(), 60000);
    QCOMPARE(Copies(), std::vector<std::string>{"keep.txt"});
    Watchdog.StopMonitoring();
    Window.SetWatchdog(nullptr);
  }
};

}  // namespace

QTEST_MAIN(ZentAppProcessTest)
#include "ZentAppProcessTest.moc"
