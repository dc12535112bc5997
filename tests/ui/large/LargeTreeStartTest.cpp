// The window stays responsive while monitoring starts on 100,000
// directories: the watchers' walk runs off the main thread, so a timer on
// the GUI thread keeps ticking from the start button's click until every
// watcher is up. Afterwards a file in the last directory made is seen, so
// the whole tree is watched.

#include <QDir>
#include <QPlainTextEdit>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "StartResponsiveness.h"

using namespace dz;
using namespace dz::ui;
using namespace dz::ui::test;

namespace {

constexpr int Directories = 100000;
// Each directory takes a watch; others may be in use by tests beside this one.
constexpr long WatchesNeeded = Directories + 20000;
constexpr std::chrono::minutes Guard{10};

}  // namespace

class LargeTreeStartTest : public QObject {
  Q_OBJECT

private slots:
  void theEventLoopTurnsWhileTheWatchersStart() {
    TWatchLimit Limit(WatchesNeeded);
    if (!Limit.Enough())
      QSKIP(qPrintable(QStringLiteral("fs.inotify.max_user_watches is %1, below the %2 this tree needs, and "
                                      "cannot be raised here (needs root)")
                           .arg(Limit.Limit())
                           .arg(WatchesNeeded)));
    // On the build's file system, not a small tmpfs.
    TWindowRig Rig(false, QDir::currentPath());
    const std::filesystem::path Tree = Rig.PathOf("tree");
    const int Made = MakeDirectoryTree(Tree, Directories);
    QVERIFY(Made >= Directories);
    Rig.AddEntry("tree", "tree");
    Rig.Window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&Rig.Window()));

    const TStartMeasure M = MeasureStart(Rig, Guard);

    qInfo("%d directories: the watchers started in %.2f s; %d timer ticks meanwhile, the longest gap %.1f ms", Made,
          M.Seconds, M.Ticks, M.LongestGapMs);
    QVERIFY2(M.Started, "the watchers did not start within the guard time");
    QVERIFY(Rig.Watchdog().Monitoring());
    QVERIFY2(M.Ticks >= 10, qPrintable(QStringLiteral("only %1 ticks: the main thread was blocked").arg(M.Ticks)));
    QVERIFY2(!Rig.Child<QPlainTextEdit>("meLog")->toPlainText().contains(QStringLiteral(" *** ")),
             qPrintable(Rig.Child<QPlainTextEdit>("meLog")->toPlainText()));

    // The deepest corner of the tree is watched.
    std::ofstream(Tree / "d099" / "e0999" / "late.txt") << "x";
    QTRY_COMPARE_WITH_TIMEOUT(Rig.Watchdog().MonTask(0).FileList.Count(), std::size_t{1}, 60000);
  }
};

QTEST_MAIN(LargeTreeStartTest)
#include "LargeTreeStartTest.moc"
