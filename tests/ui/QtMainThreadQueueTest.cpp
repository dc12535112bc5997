// The main-thread queue on Qt's event loop: calls posted from other threads
// run on the GUI thread in order, a wait keeps them running, Close drops
// what is left and lets every sender go.

#include <QApplication>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ui/window/QtMainThreadQueue.h"

using namespace std::chrono_literals;
using dz::ui::TQtMainThreadQueue;

class QtMainThreadQueueTest : public QObject {
  Q_OBJECT
private slots:
  void postFromAWorkerRunsOnTheGuiThreadInOrder() {
    TQtMainThreadQueue Queue;
    std::vector<int> Order;
    std::vector<bool> OnGuiThread;
    std::thread Worker([&] {
      for (int I = 0; I < 50; ++I)
        Queue.Post([&, I] {
          Order.push_back(I);
          OnGuiThread.push_back(QThread::currentThread() == qApp->thread());
        });
    });
    Worker.join();
    QVERIFY(Order.empty());  // nothing runs on the worker
    QTRY_COMPARE_WITH_TIMEOUT(Order.size(), std::size_t{50}, 10000);  // the event loop delivers them
    for (int I = 0; I < 50; ++I) QCOMPARE(Order[static_cast<std::size_t>(I)], I);
    QVERIFY(std::all_of(OnGuiThread.begin(), OnGuiThread.end(), [](bool B) { return B; }));
  }

  void sendWaitsUntilTheCallHasRunWhileTheGuiThreadWaits() {
    TQtMainThreadQueue Queue;
    std::atomic<int> Sent{0};
    bool WaitingSeen = false;
    std::thread Worker([&] {
      for (int I = 0; I < 5; ++I) {
        if (Queue.Send([&] { WaitingSeen = WaitingSeen || Queue.Waiting(); })) ++Sent;
      }
    });
    // The worker blocks in Send until the GUI thread runs its call; the
    // wait must keep running them or this would never end.
    QVERIFY(Queue.WaitWhileProcessing([&] { return Sent == 5; }, 30s));
    Worker.join();
    QVERIFY(WaitingSeen);
    QVERIFY(!Queue.Waiting());
  }

  void aWaitEndsAtItsTimeoutAndOnWake() {
    TQtMainThreadQueue Queue;
    const auto Start = std::chrono::steady_clock::now();
    QVERIFY(!Queue.WaitWhileProcessing([] { return false; }, 150ms));
    QVERIFY(std::chrono::steady_clock::now() - Start >= 150ms);

    // Done that changes without a posted call is still seen, with or
    // without a Wake.
    for (const bool WithWake : {true, false}) {
      std::atomic<bool> Flag{false};
      std::thread Worker([&] {
        Flag = true;
        if (WithWake) Queue.Wake();
      });
      const auto Begin = std::chrono::steady_clock::now();
      QVERIFY(Queue.WaitWhileProcessing([&] { return Flag.load(); }, 60s));
      QVERIFY(std::chrono::steady_clock::now() - Begin < 30s);
      Worker.join();
    }
  }

  void aWaitPaintsButTakesNoUserInput() {
    TQtMainThreadQueue Queue;
    bool TimerRan = false;
    QTimer::singleShot(0, [&] { TimerRan = true; });
    // Timers and other events go on while the GUI thread waits.
    QVERIFY(Queue.WaitWhileProcessing([&] { return TimerRan; }, 30s));
  }

  void closeDropsPendingCallsAndReleasesSenders() {
    auto Queue = std::make_unique<TQtMainThreadQueue>();
    bool Ran = false;
    QVERIFY(Queue->Post([&] { Ran = true; }));
    std::atomic<int> SendResult{-1};
    std::thread Worker([&] { SendResult = Queue->Send([&] { Ran = true; }) ? 1 : 0; });
    // Whether the Send was queued before the Close or refused after it,
    // it must not run and its sender must not wait for ever.
    Queue->Close();
    Worker.join();
    QVERIFY(!Ran);
    QCOMPARE(SendResult.load(), 0);
    QVERIFY(!Queue->Post([] {}));
    QCOMPARE(Queue->ProcessPending(), std::size_t{0});
    Queue.reset();
    QCoreApplication::processEvents();  // a delivery still queued finds nothing
    QVERIFY(!Ran);
  }
};

QTEST_MAIN(QtMainThreadQueueTest)
#include "QtMainThreadQueueTest.moc"
