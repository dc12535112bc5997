// The main window as a user meets it: its handlers against a real
// controller on task files in a temporary folder, with the modal dialogs
// replaced by a recording stand-in, and the snapshot as the window shows it.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/Process.h"
#include "desktop/ProgramVersion.h"
#include "filesys/ErrorTexts.h"
#include "platform/SysError.h"
#include "ui/window/MainWindow.h"
#include "ui/window/QtMainThreadQueue.h"
#include "ui/window/WindowDialogs.h"
#include "ui/window/WindowWidgets.h"
#include "watchdog/Watchdog.h"

using namespace dz;
using namespace dz::ui;

namespace {

// What the window asked of its dialogs, and the answers it gets.
struct TDialogLog {
  std::optional<std::string> TaskFile;  // the file dialog's answer
  std::optional<int> Picked;            // the item picker's answer
  bool Answer = true;                   // to every question
  TProcessOutcome MainAppOutcome{true, 0, {}};
  // The main application stays open until the test ends it with HeldEnd.
  bool HoldMainApp = false;
  std::function<void(const TProcessOutcome&)> HeldEnd;

  std::vector<QString> Messages;
  std::vector<QString> Questions;
  std::vector<QStringList> PickerItems;
  std::vector<std::vector<std::string>> MainAppRuns;
  std::vector<TFilterDisplay> FilterDisplays;
};

class TFakeDialogs : public TWindowDialogs {
public:
  explicit TFakeDialogs(TDialogLog& Log) : FLog(Log) {}
  std::optional<std::string> ChooseTaskFile(QWidget*, const std::string&) override { return FLog.TaskFile; }
  std::optional<int> SelectListItem(QWidget*, QPoint, const QString&, const QString&, const QStringList& Items) override {
    FLog.PickerItems.push_back(Items);
    return FLog.Picked;
  }
  void Message(QWidget*, const QString& Text) override { FLog.Messages.push_back(Text); }
  bool Question(QWidget*, const QString& Text) override {
    FLog.Questions.push_back(Text);
    return FLog.Answer;
  }
  void Information(QWidget*, QPoint, const QString&, const QString& Text) override { FLog.Messages.push_back(Text); }
  void ShowFilterSettings(QWidget*, const TFilterDisplay& Display) override { FLog.FilterDisplays.push_back(Display); }
  void ShowLogFile(QWidget*, const std::string&) override {}
  void OpenHelp(QWidget*) override {}
  bool StartsOnLogon() override { return false; }
  bool SetStartOnLogon(QWidget*, bool) override { return true; }
  void StartMainApplication(QWidget*, const std::vector<std::string>& Args,
                            std::function<void(const TProcessOutcome&)> Ended) override {
    FLog.MainAppRuns.push_back(Args);
    if (FLog.HoldMainApp)
      FLog.HeldEnd = std::move(Ended);
    else
      Ended(FLog.MainAppOutcome);
  }
  void OpenMainApplication(QWidget*) override {}

private:
  TDialogLog& FLog;
};

template <class T> T* Find(QWidget* Window, const char* Name) {
  T* Widget = Window->findChild<T*>(QLatin1String(Name));
  if (Widget == nullptr) qFatal("no widget %s", Name);
  return Widget;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<TQtMainThreadQueue> FQueue;
  TDialogLog FLog;
  std::unique_ptr<TMainWindow> FWindow;
  std::unique_ptr<TWatchdog> FWatchdog;
  bool FTrayAvailable = true;  // whether the desktop shows notification-area icons now

  std::string PathOf(const std::string& Name) const { return FDir->filePath(QString::fromStdString(Name)).toStdString(); }

  // A task file Name whose sources are the directories Sources of the
  // test folder (created), backed up into Dest (the folder "dest").
  std::string WriteTask(const std::string& Name, const std::vector<std::string>& Sources, std::string Dest = {}) {
    if (Dest.empty()) Dest = PathOf("dest");
    std::string Text = "[Global]\nDestination=" + Dest + "\n" +
                       "DirCount=" + std::to_string(Sources.size()) + "\n";
    for (std::size_t I = 0; I < Sources.size(); ++I) {
      std::filesystem::create_directories(PathOf(Sources[I]));
      Text += "[Dir00" + std::to_string(I) + "]\nSource=" + PathOf(Sources[I]) + "\nBackupMode=1\n";
    }
    std::ofstream(PathOf(Name), std::ios::binary) << Text;
    return PathOf(Name);
  }

  // An entry for the directory Name with its own task, with Pending files.
  std::size_t AddEntry(const std::string& Name, const std::vector<std::string>& Pending = {}) {
    auto Task = std::make_unique<TMonTask>(WriteTask(Name + ".buj", {Name}), PathOf(Name));
    for (const std::string& File : Pending) Task->FileList.Add(File);
    if (FWatchdog->AddMonTask(std::move(Task)) != atAdded) qFatal("list full");
    return FWatchdog->MonTaskCount() - 1;
  }

  void Start() {
    QVERIFY(FWatchdog->StartMonitoring());
    QVERIFY(FWatchdog->Monitoring());
  }

  template <class T> T* W(const char* Name) { return Find<T>(FWindow.get(), Name); }

  // A new window and controller on the test folder; Tray: whether the
  // desktop shows notification-area icons.
  void Open(bool Tray, const std::string& ZvPath = "/opt/zentivo/ZentApp") {
    if (FWindow) FWindow->SetWatchdog(nullptr);
    FWatchdog.reset();
    TWindowSetup Setup;
    Setup.ZvPath = ZvPath;
    FTrayAvailable = Tray;
    Setup.TrayAvailable = [this] { return FTrayAvailable; };
    FWindow = std::make_unique<TMainWindow>(*FQueue, Setup, std::make_unique<TFakeDialogs>(FLog));
    TWatchdogSetup Core;
    Core.IniName = PathOf("dezedodiru.ini");
    Core.UserPath = FDir->path().toStdString() + "/";
    FWatchdog = std::make_unique<TWatchdog>(*FWindow, *FQueue, Core);
    FWindow->SetWatchdog(FWatchdog.get());
  }

private slots:
  void init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FLog = TDialogLog();
    FQueue = std::make_unique<TQtMainThreadQueue>();
    Open(true);
  }

  void cleanup() {
    FWindow->SetWatchdog(nullptr);
    FWatchdog.reset();
    FWindow.reset();
    FQueue.reset();
    FDir.reset();
  }

  // --- adding ---

  void addingADirectory_data() {
    QTest::addColumn<QString>("Case");
    QTest::addColumn<int>("Sources");       // of a usable task; -1: see Case
    QTest::addColumn<int>("Picked");        // the picker's answer, -1 cancel
    QTest::addColumn<bool>("PickerShown");
    QTest::addColumn<QString>("Added");     // the directory added, empty: none
    QTest::addColumn<QString>("Message");   // the start of the message shown
    QTest::newRow("three sources, the picker cancelled") << "" << 3 << -1 << true << "" << "";
    QTest::newRow("three sources, the third picked") << "" << 3 << 2 << true << "s2" << "";
    QTest::newRow("one source is taken at once") << "" << 1 << -1 << false << "s0" << "";
    QTest::newRow("an unusable task") << "placeholder" << -1 << -1 << false << ""
                                      << "The backup task \"";
    QTest::newRow("a task that does not exist") << "missing" << -1 << -1 << false << ""
                                                << "Task file not found: ";
    QTest::newRow("no task chosen") << "cancel" << -1 << -1 << false << "" << "";
    // The option "add:" names the task: the same steps without the file dialog.
    QTest::newRow("add: with three sources, the second picked") << "add:" << 3 << 1 << true << "s1" << "";
    QTest::newRow("add: of an unusable task") << "add: placeholder" << -1 << -1 << false << ""
                                              << "The backup task \"";
  }
  void addingADirectory() {
    QFETCH(QString, Case);
    QFETCH(int, Sources);
    QFETCH(int, Picked);
    QFETCH(bool, PickerShown);
    QFETCH(QString, Added);
    QFETCH(QString, Message);
    std::vector<std::string> Dirs;
    for (int I = 0; I < Sources; ++I) Dirs.push_back("s" + std::to_string(I));
    const bool FromCommandLine = Case.startsWith("add:");
    if (FromCommandLine) Case = Case.mid(4).trimmed();
    if (Case == "placeholder")
      FLog.TaskFile = WriteTask("t.buj", {"s0"}, "%TEMP%/x");
    else if (Case == "missing")
      FLog.TaskFile = PathOf("missing.buj");
    else if (Case != "cancel")
      FLog.TaskFile = WriteTask("t.buj", Dirs);
    if (Picked >= 0) FLog.Picked = Picked;

    if (FromCommandLine)
      FWindow->AddTaskFile(*FLog.TaskFile);
    else
      Find<QPushButton>(FWindow.get(), "btnAdd")->click();

    QCOMPARE(FLog.PickerItems.size(), std::size_t(PickerShown ? 1 : 0));
    if (PickerShown) QCOMPARE(FLog.PickerItems[0].size(), qsizetype(Sources));
    auto* List = W<QListWidget>("lbDirs");
    if (Added.isEmpty()) {
      QCOMPARE(FWatchdog->MonTaskCount(), std::size_t{0});
      QCOMPARE(List->count(), 0);
    } else {
      QCOMPARE(FWatchdog->MonTaskCount(), std::size_t{1});
      QCOMPARE(List->count(), 1);
      QCOMPARE(List->item(0)->text(), QStringLiteral("01: ") + QString::fromStdString(PathOf(Added.toStdString())));
      QCOMPARE(List->currentRow(), 0);
      QCOMPARE(W<QLineEdit>("edTask")->text(), QString::fromStdString(*FLog.TaskFile));
      QCOMPARE(W<QLineEdit>("edBuDest")->text(), QString::fromStdString(PathOf("dest/")));
    }
    if (Message.isEmpty()) {
      QVERIFY(FLog.Messages.empty());
    } else {
      QCOMPARE(FLog.Messages.size(), std::size_t{1});
      QVERIFY2(FLog.Messages[0].startsWith(Message), qPrintable(FLog.Messages[0]));
      if (Case == "placeholder") QCOMPARE(FLog.Messages[0].count(QLatin1Char('\n')), 3);  // four lines
    }
  }

  // --- the list ---

  void doubleClickEditsOnlyWhileStopped_data() {
    QTest::addColumn<bool>("Monitoring");
    QTest::newRow("stopped: the task is opened") << false;
    QTest::newRow("monitoring: only shown") << true;
  }
  void doubleClickEditsOnlyWhileStopped() {
    QFETCH(bool, Monitoring);
    AddEntry("a");
    AddEntry("b");
    FWatchdog->SelectDirItem(0);
    if (Monitoring) Start();
    FWindow->lbDirsDblClick(1);
    QCOMPARE(W<QListWidget>("lbDirs")->currentRow(), 1);
    QCOMPARE(W<QLineEdit>("edTask")->text(), QString::fromStdString(PathOf("b.buj")));
    if (Monitoring) {
      QVERIFY(FLog.MainAppRuns.empty());
      QVERIFY(!W<QPushButton>("bbEdit")->isEnabled());
    } else {
      QCOMPARE(FLog.MainAppRuns.size(), std::size_t{1});
      QCOMPARE(FLog.MainAppRuns[0], (std::vector<std::string>{"/opt/zentivo/ZentApp", PathOf("b.buj"), "/edit"}));
      QVERIFY(W<QPushButton>("bbEdit")->isEnabled());  // enabled again after the run
    }
  }

  void anEditThatFailsIsReportedAndTheTaskNotReadAgain_data() {
    QTest::addColumn<bool>("Started");
    QTest::addColumn<int>("Result");
    QTest::addColumn<QString>("Message");
    QTest::newRow("ended with exit code 2") << true << (2 | ExitCodeFlag)
                                            << "Error on executing Zentivo: The program ended with exit code 2";
    QTest::newRow("the wait failed") << true << int{ErrNotEnoughMemory}
                                     << QString::fromStdString("Error on executing Zentivo: " +
                                                               GetSystemErrorText(ErrNotEnoughMemory));
    QTest::newRow("not started") << false << 0 << "Error on executing Zentivo: No such program";
  }
  void anEditThatFailsIsReportedAndTheTaskNotReadAgain() {
    QFETCH(bool, Started);
    QFETCH(int, Result);
    QFETCH(QString, Message);
    AddEntry("a");
    FWatchdog->SelectDirItem(0);
    FWatchdog->DirItemChecked(0, false);
    FLog.MainAppOutcome = {Started, Result, Started ? std::string() : std::string("No such program")};
    W<QPushButton>("bbEdit")->click();
    QCOMPARE(FLog.Messages.size(), std::size_t{1});
    QCOMPARE(FLog.Messages[0], Message);
    QCOMPARE(FWatchdog->MonTask(0).MonStatus, mtDisabled);  // not read again
    FLog.MainAppOutcome = {true, 0, {}};
    W<QPushButton>("bbEdit")->click();
    QCOMPARE(FWatchdog->MonTask(0).MonStatus, mtEnabled);  // read again: usable, so enabled
    QCOMPARE(W<QListWidget>("lbDirs")->item(0)->checkState(), Qt::Checked);
  }

  // The filter display shows the selected entry's filters, as the core
  // describes them.
  void theFilterDisplayShowsTheSelectedEntrysFilters() {
    AddEntry("a");
    AddEntry("b");
    FWatchdog->MonTask(1).MonFilter.IncludeExts = true;
    FWatchdog->MonTask(1).MonFilter.ExtList.Assign({"txt", "doc"});
    FWatchdog->SelectDirItem(1);
    W<QPushButton>("bbFilter")->click();
    QCOMPARE(FLog.FilterDisplays.size(), std::size_t{1});
    QCOMPARE(FLog.FilterDisplays[0], MonFilterDisplay(FWatchdog->MonTask(1).MonFilter));
    QVERIFY(FLog.FilterDisplays[0] != MonFilterDisplay(FWatchdog->MonTask(0).MonFilter));
  }

  // While the editor is open the window goes on: the tick backs up, and
  // only a second edit and removing an entry wait for the editor's end.
  void whileTheEditorIsOpenOnlyTheEditAndRemovingWait() {
    AddEntry("a");
    std::ofstream(PathOf("a/x.txt"), std::ios::binary) << "x";
    AddEntry("b");
    FWatchdog->DirItemChecked(1, false);
    FWatchdog->SelectDirItem(1);
    FLog.HoldMainApp = true;
    W<QPushButton>("bbEdit")->click();
    QCOMPARE(FLog.MainAppRuns.size(), std::size_t{1});
    QVERIFY(FLog.HeldEnd);
    QVERIFY(!W<QPushButton>("bbEdit")->isEnabled());
    QVERIFY(!W<QPushButton>("btnRemove")->isEnabled());
    FWindow->bbEditClick();
    FWindow->lbDirsDblClick(1);
    QCOMPARE(FLog.MainAppRuns.size(), std::size_t{1});  // one editor at a time
    FWindow->btnRemoveClick();
    QVERIFY(FLog.Questions.empty());
    QCOMPARE(FWatchdog->MonTaskCount(), std::size_t{2});

    // Monitoring starts and a backup runs while the editor is open.
    W<QPushButton>("bbStart")->click();
    QVERIFY(FWatchdog->Monitoring());
    FWatchdog->MonTask(0).FileList.Add("x.txt");
    FWatchdog->RequestInstantBackup();
    FWindow->tmBackupTimer();
    // Handed to the worker once the look at the destination has answered.
    QTRY_COMPARE_WITH_TIMEOUT(FWatchdog->MonTask(0).FileList.Count(), std::size_t{0}, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!FWatchdog->BackupRunning(), 60000);

    // The editor saved: the task is read again, the entry enabled.
    QCOMPARE(FWatchdog->MonTask(1).MonStatus, mtDisabled);
    FLog.HeldEnd({true, 0, {}});
    QCOMPARE(FWatchdog->MonTask(1).MonStatus, mtEnabled);
    QVERIFY(W<QPushButton>("bbEdit")->isEnabled());  // not watched yet: it may be edited again
    FWatchdog->StopMonitoring();
    QVERIFY(W<QPushButton>("btnRemove")->isEnabled());
  }

  void checkMarks_data() {
    QTest::addColumn<bool>("Monitoring");
    QTest::newRow("stopped: unchecking drops the pending files") << false;
    QTest::newRow("monitoring: the click is undone") << true;
  }
  void checkMarks() {
    QFETCH(bool, Monitoring);
    AddEntry("a", {"x.txt", "y.txt"});
    if (Monitoring) Start();
    QListWidgetItem* Item = W<QListWidget>("lbDirs")->item(0);
    QCOMPARE(Item->checkState(), Qt::Checked);
    Item->setCheckState(Qt::Unchecked);  // as the delegate does on a click
    if (Monitoring) {
      QCOMPARE(Item->checkState(), Qt::Checked);
      QCOMPARE(FWatchdog->MonTask(0).MonStatus, mtEnabled);
      QCOMPARE(FWatchdog->MonTask(0).FileList.Count(), std::size_t{2});
    } else {
      QCOMPARE(Item->checkState(), Qt::Unchecked);
      QCOMPARE(FWatchdog->MonTask(0).MonStatus, mtDisabled);
      QCOMPARE(FWatchdog->MonTask(0).FileList.Count(), std::size_t{0});
      Item->setCheckState(Qt::Checked);
      QCOMPARE(FWatchdog->MonTask(0).MonStatus, mtEnabled);
      QCOMPARE(FWatchdog->MonTask(0).FileList.Count(), std::size_t{0});  // dropped files stay dropped
    }
  }

  void removingAsksAndTheLastOneResetsTheInterval() {
    AddEntry("a");
    AddEntry("b");
    auto* Unit = W<QComboBox>("cbIntUnit");
    emit Unit->activated(2);  // hours
    QCOMPARE(W<QSpinBox>("reInterval")->maximum(), 12);
    FWatchdog->SelectDirItem(1);

    FLog.Answer = false;
    W<QPushButton>("btnRemove")->click();
    QCOMPARE(FLog.Questions, (std::vector<QString>{"Remove selected directory from list?"}));
    QCOMPARE(FWatchdog->MonTaskCount(), std::size_t{2});

    FLog.Answer = true;
    W<QPushButton>("btnRemove")->click();
    QCOMPARE(W<QListWidget>("lbDirs")->count(), 1);
    QCOMPARE(W<QListWidget>("lbDirs")->currentRow(), 0);
    QCOMPARE(Unit->currentIndex(), 2);  // an entry is left
    W<QPushButton>("btnRemove")->click();
    QCOMPARE(W<QListWidget>("lbDirs")->count(), 0);
    auto* Value = W<QSpinBox>("reInterval");
    QCOMPARE(Value->value(), 30);
    QCOMPARE(Value->minimum(), 5);
    QCOMPARE(Value->maximum(), 295);
    QCOMPARE(Value->singleStep(), 5);
    QCOMPARE(Unit->currentIndex(), 0);
    QVERIFY(W<QLineEdit>("edTask")->text().isEmpty());
    QVERIFY(W<QLineEdit>("edBuDest")->text().isEmpty());
    QCOMPARE(W<QSpinBox>("edBakCount")->value(), 0);
    W<QPushButton>("btnRemove")->click();  // an empty list asks nothing
    QCOMPARE(FLog.Questions.size(), std::size_t{3});
  }

  // --- start, stop, background ---

  void startWithKeepRunningInBackgroundLeavesTheWindow_data() {
    QTest::addColumn<bool>("Usable");
    QTest::addColumn<bool>("Tray");
    QTest::newRow("monitoring starts, to the tray") << true << true;
    QTest::newRow("starting fails, still to the tray") << false << true;
    QTest::newRow("no notification area: minimised") << true << false;
  }
  void startWithKeepRunningInBackgroundLeavesTheWindow() {
    QFETCH(bool, Usable);
    QFETCH(bool, Tray);
    if (!Tray) Open(false);
    if (Usable) AddEntry("a");
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    W<QCheckBox>("cbSysTray")->click();
    QVERIFY(FWatchdog->SysTray());
    QCOMPARE(W<QPushButton>("bbQuit")->toolTip(), QStringLiteral("Move program to background"));

    W<QPushButton>("bbStart")->click();

    QCOMPARE(FWatchdog->Monitoring(), Usable);
    if (!Usable) QCOMPARE(FLog.Messages.size(), std::size_t{1});  // why nothing is monitored
    QVERIFY(FWindow->GoStandby());
    QVERIFY(!FWindow->Ended());
    QVERIFY(std::filesystem::exists(PathOf("dezedodiru.ini")));  // saved on the way
    if (Tray) {
      QVERIFY(FWindow->isHidden());
      QVERIFY(FWindow->TrayIcon()->isVisible());
    } else {
      QTRY_VERIFY(FWindow->isMinimized());
      W<QPushButton>("bbQuit")->click();  // to the background again: said once only
      const QString Log = W<QPlainTextEdit>("meLog")->toPlainText();
      QCOMPARE(Log.count(QStringLiteral("no notification area")), 1);
    }
  }

  // Without a notification area the window waits minimised; a tray host
  // that comes up later (the panel after the program, at logon) gets the
  // icon, and the window goes.
  void aTrayHostThatComesLaterTakesTheIcon() {
    Open(false);
    AddEntry("a");
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    W<QCheckBox>("cbSysTray")->click();
    W<QPushButton>("bbStart")->click();
    QVERIFY(FWatchdog->Monitoring());
    QTRY_VERIFY(FWindow->isMinimized());
    QVERIFY(!FWindow->TrayIcon()->isVisible());
    FTrayAvailable = true;
    QTRY_VERIFY_WITH_TIMEOUT(FWindow->TrayIcon()->isVisible(), 20000);
    QVERIFY(FWindow->isHidden());
    QVERIFY(FWatchdog->Monitoring());
    const QString Log = W<QPlainTextEdit>("meLog")->toPlainText();
    QCOMPARE(Log.count(QStringLiteral("no notification area")), 1);
  }

  void theAutomaticStart_data() {
    QTest::addColumn<bool>("Usable");
    QTest::addColumn<bool>("Background");
    QTest::addColumn<bool>("WindowShown");
    QTest::newRow("to the background behind the start screen") << true << true << false;
    QTest::newRow("nothing to monitor: the window") << false << true << true;
    QTest::newRow("not to the background: the window") << true << false << true;
  }
  void theAutomaticStart() {
    QFETCH(bool, Usable);
    QFETCH(bool, Background);
    QFETCH(bool, WindowShown);
    if (Usable) AddEntry("a");
    FWatchdog->SysTrayClicked(Background);
    FWindow->CheckForce(true);
    QCOMPARE(FWatchdog->Monitoring(), Usable);
    QCOMPARE(FWindow->isVisible(), WindowShown);
    QCOMPARE(FLog.Messages.size(), std::size_t(Usable ? 0 : 1));
    // Only a start that went to the background makes the close box hide
    // the program; otherwise the close box ends it.
    QCOMPARE(FWindow->GoStandby(), !WindowShown);
    if (WindowShown) {
      FWindow->close();
      QVERIFY(FWindow->Ended());
      QVERIFY(FWindow->isHidden());
    }
    QPointer<QWidget> Screen;
    for (QWidget* Top : QApplication::topLevelWidgets())
      if (Top->objectName() == "TStartScreen" && Top->isVisible()) Screen = Top;
    QCOMPARE(!Screen.isNull(), !WindowShown);
    if (Screen) {
      QVERIFY(FWindow->TrayIcon()->isVisible());
      // It closes itself after about 3 seconds, and goes.
      QTRY_VERIFY_WITH_TIMEOUT(Screen.isNull(), 20000);
    }
  }

  void versionInfoNamesTheProgram() {
    FWindow->pmiInfoClick();
    QCOMPARE(FLog.Messages.size(), std::size_t{1});
    QVERIFY2(FLog.Messages[0].startsWith(QStringLiteral("DeZedodiru - ")), qPrintable(FLog.Messages[0]));
    QVERIFY(FLog.Messages[0].contains(QStringLiteral("(Version ")));
    QCOMPARE(FLog.Messages[0].count(QLatin1Char('\n')), 1);  // the main application was not found

    // Found, with its version mark: the package it belongs to below.
    const std::string ZvPath = PathOf("ZentApp");
    const std::string Elf64("\x7f" "ELF\x02\x01\x01", 7);
    std::ofstream(ZvPath, std::ios::binary) << Elf64 << std::string(100, '\0') << VersionMarkTag << "Zentivo\t6.1.2.345"
                                            << '\0';
    Open(true, ZvPath);
    FWindow->pmiInfoClick();
    QCOMPARE(FLog.Messages.size(), std::size_t{2});
    const QStringList Lines = FLog.Messages[1].split('\n');
    QCOMPARE(Lines.size(), 4);
    QCOMPARE(Lines[0], FLog.Messages[0].split('\n')[0]);
    QCOMPARE(Lines[2], QStringLiteral("Part of program package:"));
    QCOMPARE(Lines[3], QStringLiteral("Zentivo - 64-bit (Version 6.1.2)"));
  }

  void quittingWithoutBackgroundEndsAfterTheLastBackup() {
    AddEntry("a", {"gone.txt"});
    Start();
    FWindow->show();
    W<QPushButton>("bbQuit")->click();
    QVERIFY(!FWatchdog->Monitoring());  // stopped: the last backup ran
    QVERIFY(FWindow->Ended());
    QVERIFY(!FWindow->GoStandby());
  }

  void theSnapshotIsRendered() {
    AddEntry("a");
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    const auto Enabled = [this](const char* Name) { return W<QWidget>(Name)->isEnabled(); };
    // stopped
    QVERIFY(Enabled("bbStart"));
    QVERIFY(!Enabled("bbStop"));
    QVERIFY(Enabled("btnRemove"));
    QVERIFY(Enabled("cbPeriodic"));
    QVERIFY(Enabled("bbEdit"));
    QVERIFY(W<QLabel>("laNoSched")->isVisible());
    QVERIFY(!W<QWidget>("sbViewFiles")->isVisible());
    QVERIFY(!W<QWidget>("cpWait")->isVisible());
    QCOMPARE(W<QPushButton>("bbStart")->toolTip(), QStringLiteral("Start monitoring the selected directories"));
    QCOMPARE(W<QPushButton>("bbQuit")->toolTip(), QStringLiteral("Quit program and save settings"));
    QVERIFY(W<QLabel>("laBuMethod")->text().startsWith("Method: "));
    QCOMPARE(FWindow->TaskbarMenu()->findChild<QAction*>("pmiStartStop")->text(), QStringLiteral("Start monitoring"));

    Start();
    QVERIFY(!Enabled("bbStart"));  // nothing pending
    QVERIFY(Enabled("bbStop"));
    QVERIFY(!Enabled("btnRemove"));
    QVERIFY(!Enabled("cbPeriodic"));
    QVERIFY(!Enabled("bbEdit"));
    QVERIFY(!W<QLabel>("laNoSched")->isVisible());
    QVERIFY(W<QWidget>("cpWait")->isVisible());
    QCOMPARE(W<QPushButton>("bbStart")->toolTip(), QStringLiteral("Start immediate backup"));
    QCOMPARE(W<QLabel>("laCount")->text(), QStringLiteral("30 m"));
    QCOMPARE(W<QLabel>("laFiles")->text(), QStringLiteral("No files"));
    QCOMPARE(W<QListWidget>("lbDirs")->item(0)->data(Qt::DecorationRole).toString(), QStringLiteral("arrow-right-blue"));
    QCOMPARE(FWindow->TrayIcon()->toolTip().section('\n', 1), QStringLiteral("Next backup: 30 m\nNo files recognized as changed"));
    QCOMPARE(FWindow->TaskbarMenu()->findChild<QAction*>("pmiStartStop")->text(), QStringLiteral("Stop monitoring"));

    // A pending file: the tick shows it, crimson, and the start button asks
    // for a backup at once.
    FWatchdog->MonTask(0).FileList.Add("x.txt");
    FWindow->tmBackupTimer();
    QCOMPARE(W<QLabel>("laFiles")->text(), QStringLiteral("1 file"));
    QVERIFY(Enabled("bbStart"));
    QVERIFY(W<QWidget>("sbViewFiles")->isVisible());
    QCOMPARE(FWindow->findChild<TClockProgressWidget*>("cpWait")->Foreground(), QColor(220, 20, 60));
    W<QPushButton>("bbStart")->click();
    QVERIFY(!Enabled("bbStart"));  // until the next tick
  }

  // The whole way with the real watcher and worker: a file saved in a
  // watched tree is collected, backed up on "Start immediate backup", and
  // the log panel shows its line.
  void aSavedFileIsBackedUpAndTheLogPanelShowsIt() {
    AddEntry("watched");
    Start();
    QTRY_VERIFY_WITH_TIMEOUT(!FWatchdog->WatchersStarting(), 60000);
    std::ofstream(PathOf("watched/saved.txt"), std::ios::binary) << "saved text";
    QTRY_VERIFY_WITH_TIMEOUT(W<QPushButton>("bbStart")->isEnabled(), 60000);  // pending
    W<QPushButton>("bbStart")->click();
    const auto CopyExists = [this] {
      std::error_code Error;
      for (std::filesystem::recursive_directory_iterator It(PathOf("dest"), Error), End; !Error && It != End;
           It.increment(Error)) {
        if (It->path().filename() != "saved.txt") continue;
        std::ifstream In(It->path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(In), {}) == "saved text";
      }
      return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(CopyExists(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(W<QPlainTextEdit>("meLog")->toPlainText().contains("saved.txt"), 60000);
  }

  void anInvalidEntryShowsTheRedBall() {
    AddEntry("a");
    std::filesystem::remove_all(PathOf("a"));
    FWindow->show();  // every showing checks the entries again
    QCOMPARE(W<QListWidget>("lbDirs")->item(0)->data(Qt::DecorationRole).toString(), QStringLiteral("ball-red"));
    // A missing directory may be a disk not mounted yet: the user's check
    // mark stays, and the hint says why the entry is not watched.
    QCOMPARE(W<QListWidget>("lbDirs")->item(0)->checkState(), Qt::Checked);
    QCOMPARE(W<QListWidget>("lbDirs")->item(0)->toolTip(),
             QString::fromStdString("Directory \"" + PathOf("a") + "\" not found!"));
    QVERIFY(W<QPlainTextEdit>("meLog")->toPlainText().contains("not found!"));
  }

  // Files given up and a destination in the directory are marked in the
  // item's text and named in its hint; an item without either has neither.
  void givenUpFilesAndADestinationInsideAreMarked() {
    TWatchdogState State = FWatchdog->State();
    State.DirItems = {TDirItem{"01: /a", true, rsWatch, 0, false, false, 2, "", "/a", mtEnabled},
                      TDirItem{"02: /b", true, rsWatch, 0, false, true, 0, "", "/b", mtEnabled},
                      TDirItem{"03: /c", true, rsWatch, 1, false, false, 0, "", "/c", mtEnabled}};
    State.Selected = 0;
    FWindow->StateChanged(State);
    auto* List = W<QListWidget>("lbDirs");
    QCOMPARE(List->count(), 3);
    const QString Mark = QStringLiteral(" \u26A0");
    QCOMPARE(List->item(0)->text(), QStringLiteral("01: /a") + Mark);
    QCOMPARE(List->item(0)->toolTip(), QStringLiteral("2 given up"));
    QCOMPARE(List->item(1)->text(), QStringLiteral("02: /b") + Mark);
    QCOMPARE(List->item(1)->toolTip(), QStringLiteral("the backup destination lies in the directory"));
    QCOMPARE(List->item(2)->text(), QStringLiteral("03: /c"));
    QVERIFY(List->item(2)->toolTip().isEmpty());
    FWindow->StateChanged(FWatchdog->State());
  }

  // A destination that stays missing warns at every failing start: one
  // window, not modal, showing the latest text.
  void theDestinationWarningIsOneWindowWithTheLatestText() {
    FWindow->show();
    const auto Warnings = [] {
      QList<QMessageBox*> Found;
      for (QWidget* Top : QApplication::topLevelWidgets())
        if (Top->objectName() == "TfrmShowHint" && Top->isVisible()) Found << qobject_cast<QMessageBox*>(Top);
      return Found;
    };
    FWindow->ShowDestinationWarning("missing, 4 times");
    FWindow->ShowDestinationWarning("missing, 5 times");
    FWindow->ShowDestinationWarning("missing, 6 times");
    QCOMPARE(Warnings().size(), qsizetype{1});
    QMessageBox* Box = Warnings().front();
    QVERIFY(Box != nullptr);
    QVERIFY(!Box->isModal());
    QCOMPARE(Box->text(), QStringLiteral("missing, 6 times"));
    QCOMPARE(Box->windowTitle(), FWindow->windowTitle());
    // Closed by the user, the next warning opens it again.
    QPointer<QMessageBox> Closed = Box;
    Box->close();
    QTRY_VERIFY(Closed.isNull());
    FWindow->ShowDestinationWarning("missing, 7 times");
    QCOMPARE(Warnings().size(), qsizetype{1});
    QCOMPARE(Warnings().front()->text(), QStringLiteral("missing, 7 times"));
  }

  // --- the notification area ---

  void theTrayIconOpensOneStatusDialog() {
    AddEntry("a", {"p.txt"});
    Start();
    QVERIFY(FWindow->isHidden());
    FWindow->TrayActivated(QSystemTrayIcon::Trigger);
    TShowInfoDialog* Dialog = FWindow->StatusDialog();
    QVERIFY(Dialog != nullptr);
    QVERIFY(Dialog->isVisible());
    QVERIFY(Find<QLabel>(Dialog, "laInfo")->text().contains("1st Directory: "));
    FWindow->TrayActivated(QSystemTrayIcon::Trigger);
    QCOMPARE(FWindow->StatusDialog(), Dialog);  // the same dialog, brought to the front

    // The tick keeps its status lines up to date.
    FWindow->tmBackupTimer();
    QCOMPARE(Find<QLabel>(Dialog, "laFiles")->text(), QStringLiteral("1 file"));
    QVERIFY(Find<QLabel>(Dialog, "laStatus")->text().startsWith("Next backup: "));
    Find<QPushButton>(Dialog, "btnShowFiles")->click();
    QCOMPARE(Find<QListWidget>(Dialog, "lbFiles")->item(0)->text(), QStringLiteral("01: p.txt"));

    // Its start button asks for a backup and shows the window.
    Find<QPushButton>(Dialog, "btnStartBackup")->click();
    QVERIFY(!FWindow->isHidden());
    QTRY_VERIFY(FWindow->StatusDialog() == nullptr);
    FWindow->tmBackupTimer();  // the backup starts at the next tick
    QTRY_COMPARE_WITH_TIMEOUT(FWatchdog->MonTask(0).FileList.Count(), std::size_t{0}, 60000);
  }

  // --- placement and the log ---

  void aPlacementOnNoScreenIsMovedOntoThePrimaryScreen() {
    const QRect Primary = QGuiApplication::primaryScreen()->availableGeometry();
    FWindow->SetWindowPlacement({-20000, -20000, 590, 736});
    QVERIFY(Primary.contains(FWindow->frameGeometry().topLeft()));
    QCOMPARE(FWindow->size(), QSize(736, 590));
    const TWindowPlacement Kept{Primary.top() + 10, Primary.left() + 20, 600, 740};
    FWindow->SetWindowPlacement(Kept);
    QCOMPARE(FWindow->GetWindowPlacement(), Kept);
  }

  void logLinesAndTheClipboard() {
    FWatchdog->AddLogLine("first\r\nsecond");
    auto* Log = W<QPlainTextEdit>("meLog");
    QCOMPARE(Log->toPlainText(), QStringLiteral("first\nsecond"));
    W<QPushButton>("bbCopy")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("first\nsecond"));
    QTextCursor Cursor = Log->textCursor();
    Cursor.setPosition(1);
    Cursor.setPosition(4, QTextCursor::KeepAnchor);
    Log->setTextCursor(Cursor);
    W<QPushButton>("bbCopy")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("irs"));
    QVERIFY(!Log->textCursor().hasSelection());
    W<QPushButton>("bbClear")->click();
    QVERIFY(Log->toPlainText().isEmpty());
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
