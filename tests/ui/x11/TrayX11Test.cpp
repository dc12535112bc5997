// The notification-area icon on a real X server (run by run_x11.py: Xvfb,
// with trayer as the tray host for the tray cases). The clicks are the X
// server's own, sent with xdotool to where the icon sits, so the whole way
// from the tray host's window to the window's handlers is taken.

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

#include <memory>

#include "WindowRig.h"
#include "ui/window/WindowWidgets.h"

using namespace dz;
using namespace dz::ui;
using dz::ui::test::TWindowRig;

namespace {

// Generous: a loaded machine may take seconds to embed an icon.
constexpr int Guard = 30000;

QWidget* VisibleTopLevel(const QString& Name) {
  for (QWidget* Top : QApplication::topLevelWidgets())
    if (Top->objectName() == Name && Top->isVisible()) return Top;
  return nullptr;
}

bool RunTool(const QString& Program, const QStringList& Args) {
  QProcess Process;
  Process.start(Program, Args);
  if (!Process.waitForFinished(Guard) || Process.exitStatus() != QProcess::NormalExit || Process.exitCode() != 0) {
    qWarning("%s %s: %s", qPrintable(Program), qPrintable(Args.join(' ')),
             Process.readAllStandardError().constData());
    return false;
  }
  return true;
}

// A click of the X server's pointer at a point of the screen. The server
// takes xdotool's move and click in order; "--sync" would wait in vain
// when the pointer is there already.
bool ClickAt(QPoint At, int Button) {
  return RunTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(At.x()),
                                             QString::number(At.y()), QStringLiteral("click"),
                                             QString::number(Button)});
}

// The desktop's work area as a window manager publishes it; none: the
// whole screen is available.
bool SetWorkArea(const QRect& Area) {
  if (Area.isNull())
    return RunTool(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("-remove"),
                                             QStringLiteral("_NET_WORKAREA")});
  return RunTool(QStringLiteral("xprop"),
                 {QStringLiteral("-root"), QStringLiteral("-f"), QStringLiteral("_NET_WORKAREA"),
                  QStringLiteral("32c"), QStringLiteral("-set"), QStringLiteral("_NET_WORKAREA"),
                  QStringLiteral("%1, %2, %3, %4").arg(Area.x()).arg(Area.y()).arg(Area.width()).arg(Area.height())});
}

}  // namespace

class TrayX11Test : public QObject {
  Q_OBJECT

  std::unique_ptr<TWindowRig> FRig;

  // Monitoring one directory, sent to the background by the start button.
  void StartToTheBackground() {
    FRig->AddEntry("letters", "Letters");
    FRig->Window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&FRig->Window()));
    FRig->Child<QCheckBox>("cbSysTray")->click();
    FRig->Child<QPushButton>("bbStart")->click();
    QVERIFY(FRig->Watchdog().Monitoring());
  }

  // Where the embedded icon is, once the tray host has taken it. Qt's own
  // idea of the position (QSystemTrayIcon::geometry) is relative to the
  // tray host's window it was reparented into; the X server knows better.
  QPoint IconCentre() {
    QSystemTrayIcon* Tray = FRig->Window().TrayIcon();
    QWidget* Icon = nullptr;
    [&] {
      QTRY_VERIFY_WITH_TIMEOUT(Tray->isVisible() && !Tray->geometry().isEmpty(), Guard);
      for (QWidget* Top : QApplication::topLevelWidgets())
        if (qstrcmp(Top->metaObject()->className(), "QSystemTrayIconSys") == 0) Icon = Top;
      QVERIFY(Icon != nullptr);
    }();
    if (Icon == nullptr) return {};
    // Qt shows the icon's window before the host has reparented it into its
    // panel; until then the X server has it at its own spot on the root.
    const auto Embedded = [Icon] {
      QProcess Xwininfo;
      Xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"),
                                                 QString::number(Icon->winId())});
      if (!Xwininfo.waitForFinished(Guard)) return false;
      for (const QByteArray& Line : Xwininfo.readAllStandardOutput().split('\n'))
        if (Line.trimmed().startsWith("Parent window id:")) return !Line.contains("(the root window)");
      return false;
    };
    [&] { QTRY_VERIFY_WITH_TIMEOUT(Embedded(), Guard); }();
    QProcess Xdotool;
    Xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(Icon->winId())});
    if (!Xdotool.waitForFinished(Guard)) return {};
    QRect Geometry;
    for (const QByteArray& Line : Xdotool.readAllStandardOutput().split('\n')) {
      const QList<QByteArray> KeyValue = Line.split('=');
      if (KeyValue.size() != 2) continue;
      const int Value = KeyValue[1].toInt();
      if (KeyValue[0] == "X") Geometry.moveLeft(Value);
      if (KeyValue[0] == "Y") Geometry.moveTop(Value);
      if (KeyValue[0] == "WIDTH") Geometry.setWidth(Value);
      if (KeyValue[0] == "HEIGHT") Geometry.setHeight(Value);
    }
    return Geometry.center();
  }

  // Balloons sit beside the icon; one still open would take a click meant
  // for something under it.
  static void CloseBalloons() {
    for (QWidget* Top : QApplication::topLevelWidgets())
      if (qstrcmp(Top->metaObject()->className(), "QBalloonTip") == 0) Top->close();
  }

private slots:
  void init() { FRig = std::make_unique<TWindowRig>(); }
  void cleanup() {
    FRig.reset();
    QVERIFY(SetWorkArea({}));
  }

  // --- with trayer as the notification-area host ---

  void theIconIsEmbeddedInTheTrayHost() {
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), Guard);
    StartToTheBackground();
    QVERIFY(FRig->Window().isHidden());
    const QPoint Centre = IconCentre();
    // trayer's panel: 120 x 32 at the bottom right of the 1024 x 768 screen.
    const QRect Panel(1024 - 120, 768 - 32, 120, 32);
    QVERIFY2(Panel.contains(Centre), qPrintable(QStringLiteral("icon at %1,%2").arg(Centre.x()).arg(Centre.y())));
    // The move to the background says so in a balloon.
    bool Balloon = false;
    for (QWidget* Top : QApplication::topLevelWidgets())
      Balloon = Balloon || (qstrcmp(Top->metaObject()->className(), "QBalloonTip") == 0 && Top->isVisible());
    QVERIFY(Balloon);
  }

  void aLeftClickOpensTheStatusDialogAtTheTaskbarsEdge_data() {
    QTest::addColumn<QRect>("WorkArea");  // null: none published
    QTest::addColumn<bool>("AtTop");
    QTest::newRow("no work area: the bottom right corner") << QRect() << false;
    QTest::newRow("a taskbar at the bottom") << QRect(0, 0, 1024, 736) << false;
    QTest::newRow("a taskbar at the top: the top right corner") << QRect(0, 40, 1024, 728) << true;
  }
  void aLeftClickOpensTheStatusDialogAtTheTaskbarsEdge() {
    QFETCH(QRect, WorkArea);
    QFETCH(bool, AtTop);
    QScreen* Screen = QGuiApplication::primaryScreen();
    QVERIFY(SetWorkArea(WorkArea));
    const QRect Expected = WorkArea.isNull() ? Screen->geometry() : WorkArea;
    QTRY_COMPARE_WITH_TIMEOUT(Screen->availableGeometry(), Expected, Guard);
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), Guard);
    StartToTheBackground();
    const QPoint Centre = IconCentre();
    CloseBalloons();

    QVERIFY(ClickAt(Centre, 1));

    QWidget* Dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((Dialog = VisibleTopLevel(QStringLiteral("TShowInfoDialog"))) != nullptr, Guard);
    QCOMPARE(Dialog, static_cast<QWidget*>(FRig->Window().StatusDialog()));
    QVERIFY(FRig->Window().isHidden());  // only the dialog comes up
    const QRect Frame = Dialog->frameGeometry();
    QVERIFY2(Expected.contains(Frame), qPrintable(QStringLiteral("dialog at %1,%2 %3x%4")
                                                      .arg(Frame.x()).arg(Frame.y())
                                                      .arg(Frame.width()).arg(Frame.height())));
    // 50 pixels in from the corner at the taskbar's edge.
    QVERIFY(qAbs(Expected.right() - Frame.right() - 50) <= 2);
    if (AtTop)
      QVERIFY(qAbs(Frame.top() - Expected.top() - 50) <= 2);
    else
      QVERIFY(qAbs(Expected.bottom() - Frame.bottom() - 50) <= 2);

    // A second click brings the same dialog to the front.
    QSignalSpy Activated(FRig->Window().TrayIcon(), &QSystemTrayIcon::activated);
    QVERIFY(ClickAt(Centre, 1));
    QTRY_COMPARE_WITH_TIMEOUT(Activated.count(), 1, Guard);
    int Dialogs = 0;
    for (QWidget* Top : QApplication::topLevelWidgets())
      Dialogs += Top->objectName() == QStringLiteral("TShowInfoDialog") && Top->isVisible() ? 1 : 0;
    QCOMPARE(Dialogs, 1);
    QCOMPARE(static_cast<QWidget*>(FRig->Window().StatusDialog()), Dialog);
  }

  void aRightClickOpensTheMenuWhoseItemsWork() {
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), Guard);
    StartToTheBackground();
    const QPoint Centre = IconCentre();
    CloseBalloons();

    QVERIFY(ClickAt(Centre, 3));

    QMenu* Menu = FRig->Window().TaskbarMenu();
    QTRY_VERIFY_WITH_TIMEOUT(Menu->isVisible(), Guard);
    QCOMPARE(Menu->objectName(), QStringLiteral("pmTaskbar"));
    QVERIFY(VisibleTopLevel(QStringLiteral("TShowInfoDialog")) == nullptr);
    // It opens at the pointer, moved only as far as the screen's edge asks.
    QVERIFY(Menu->geometry().adjusted(-8, -8, 8, 8).contains(Centre));
    const auto Item = [Menu](const char* Name) {
      QAction* A = Menu->findChild<QAction*>(QLatin1String(Name));
      if (A == nullptr) qFatal("no menu item %s", Name);
      return A;
    };
    QCOMPARE(Item("pmiStartImm")->text(), QStringLiteral("Start immediate backup"));
    QVERIFY(!Item("pmiStartImm")->isEnabled());  // nothing pending
    QCOMPARE(Item("pmiStartStop")->text(), QStringLiteral("Stop monitoring"));
    QCOMPARE(Item("pmiProg")->text(), QStringLiteral("Edit monitoring"));
    QCOMPARE(Item("pmiQuit")->text(), QStringLiteral("Quit monitoring"));

    // "Edit monitoring", clicked where the menu shows it, brings the window back.
    QVERIFY(ClickAt(Menu->mapToGlobal(Menu->actionGeometry(Item("pmiProg")).center()), 1));
    QTRY_VERIFY_WITH_TIMEOUT(FRig->Window().isVisible(), Guard);
    QTRY_VERIFY(!Menu->isVisible());
    QVERIFY(FRig->Watchdog().Monitoring());
  }

  // --- without a notification-area host ---

  void withoutATrayHostTheWindowIsMinimisedAndTheLogSaysSoOnce() {
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    StartToTheBackground();
    QTRY_VERIFY_WITH_TIMEOUT(FRig->Window().isMinimized(), Guard);
    QVERIFY(FRig->Window().isVisible());  // still there to come back to
    QVERIFY(!FRig->Window().TrayIcon()->isVisible());
    FRig->Window().showNormal();
    QTRY_VERIFY_WITH_TIMEOUT(!FRig->Window().isMinimized(), Guard);
    FRig->Child<QPushButton>("bbQuit")->click();  // to the background once more
    QTRY_VERIFY_WITH_TIMEOUT(FRig->Window().isMinimized(), Guard);
    const QString Log = FRig->Child<QPlainTextEdit>("meLog")->toPlainText();
    QCOMPARE(Log.count(QStringLiteral("The desktop shows no notification area")), 1);
  }

  // At logon the panel may come up after the program: the tray host that
  // starts later gets the icon, and the minimised window goes.
  void aTrayHostStartedLaterGetsTheIcon() {
    const QString Trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (Trayer.isEmpty()) QSKIP("trayer is not installed (tools/install-deps.sh installs it)");
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    StartToTheBackground();
    QTRY_VERIFY_WITH_TIMEOUT(FRig->Window().isMinimized(), Guard);
    QVERIFY(!FRig->Window().TrayIcon()->isVisible());

    // The same panel as the tray cases': 120 x 32 at the bottom right.
    QProcess Host;
    Host.start(Trayer, {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                        QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                        QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--heighttype"),
                        QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("32")});
    QVERIFY(Host.waitForStarted(Guard));
    struct TEnd {
      QProcess& P;
      ~TEnd() {
        P.terminate();
        if (!P.waitForFinished(Guard)) P.kill();
      }
    } End{Host};

    QTRY_VERIFY_WITH_TIMEOUT(FRig->Window().isHidden(), Guard);
    QVERIFY(FRig->Watchdog().Monitoring());
    const QPoint Centre = IconCentre();
    const QRect Panel(1024 - 120, 768 - 32, 120, 32);
    QVERIFY2(Panel.contains(Centre), qPrintable(QStringLiteral("icon at %1,%2").arg(Centre.x()).arg(Centre.y())));
  }
};

QTEST_MAIN(TrayX11Test)
#include "TrayX11Test.moc"
