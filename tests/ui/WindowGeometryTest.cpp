// Where the window and the status dialog go, as pure functions of the
// screens' rectangles.

#include <QTest>

#include "ui/window/WindowGeometry.h"

using dz::ui::FitOntoScreens;
using dz::ui::StatusDialogPosition;

class WindowGeometryTest : public QObject {
  Q_OBJECT
private slots:
  void aWindowOnNoScreenMovesOntoThePrimaryOne_data() {
    QTest::addColumn<QRect>("Frame");
    QTest::addColumn<QRect>("Expected");
    // Two screens side by side; the primary one is the left.
    QTest::newRow("on the primary screen") << QRect(100, 100, 736, 590) << QRect(100, 100, 736, 590);
    QTest::newRow("on the second screen") << QRect(2000, 50, 736, 590) << QRect(2000, 50, 736, 590);
    QTest::newRow("across both") << QRect(1700, 200, 736, 590) << QRect(1700, 200, 736, 590);
    QTest::newRow("title bar just reachable at the right") << QRect(3780, 10, 736, 590) << QRect(3780, 10, 736, 590);
    QTest::newRow("on a third screen that is gone") << QRect(4200, 100, 736, 590) << QRect(592, 245, 736, 590);
    QTest::newRow("above every screen") << QRect(100, -2000, 736, 590) << QRect(592, 245, 736, 590);
    QTest::newRow("title bar above the top, body visible") << QRect(100, -300, 736, 590) << QRect(592, 245, 736, 590);
    QTest::newRow("larger than the primary screen") << QRect(-5000, -5000, 3000, 2000) << QRect(0, 0, 1920, 1080);
  }
  void aWindowOnNoScreenMovesOntoThePrimaryOne() {
    QFETCH(QRect, Frame);
    QFETCH(QRect, Expected);
    const QRect Primary(0, 0, 1920, 1080);
    const QList<QRect> Screens{Primary, QRect(1920, 0, 1920, 1200)};
    QCOMPARE(FitOntoScreens(Frame, Screens, Primary), Expected);
  }

  void theStatusDialogSitsNearTheTaskbar_data() {
    QTest::addColumn<QRect>("Available");
    QTest::addColumn<QPoint>("TopLeft");
    const QSize Dialog(300, 200);
    // Screen 1920 x 1080; a taskbar 40 pixels thick.
    QTest::newRow("at the bottom") << QRect(0, 0, 1920, 1040) << QPoint(1920 - 50 - 300, 1040 - 50 - 200);
    QTest::newRow("at the left") << QRect(40, 0, 1880, 1080) << QPoint(40 + 50, 1080 - 50 - 200);
    QTest::newRow("at the top") << QRect(0, 40, 1920, 1040) << QPoint(1920 - 50 - 300, 40 + 50);
    QTest::newRow("at the right") << QRect(0, 0, 1880, 1080) << QPoint(1880 - 50 - 300, 1080 - 50 - 200);
    QTest::newRow("none") << QRect(0, 0, 1920, 1080) << QPoint(1920 - 50 - 300, 1080 - 50 - 200);
  }
  void theStatusDialogSitsNearTheTaskbar() {
    QFETCH(QRect, Available);
    QFETCH(QPoint, TopLeft);
    const QRect Screen(0, 0, 1920, 1080);
    const QPoint At = StatusDialogPosition(Screen, Available, QSize(300, 200));
    QCOMPARE(At, TopLeft);
    QVERIFY(Available.contains(QRect(At, QSize(300, 200))));
  }
};

QTEST_GUILESS_MAIN(WindowGeometryTest)
#include "WindowGeometryTest.moc"
