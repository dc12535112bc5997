#include "base/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <chrono>
#include <thread>
#include <vector>

namespace dz {
namespace {

using namespace std::chrono_literals;

// Generous: only reached when something hangs.
constexpr auto LongWait = std::chrono::milliseconds(30000);

TEST(MainThreadQueue, RunsCallsOnProcessInPostingOrder) {
  TPlainMainThreadQueue Queue;
  std::vector<int> Order;
  for (int I = 0; I < 5; ++I) EXPECT_TRUE(Queue.Post([&Order, I] { Order.push_back(I); }));
  EXPECT_TRUE(Order.empty());  // nothing runs before the main thread asks
  EXPECT_EQ(Queue.ProcessPending(), 5u);
  EXPECT_EQ(Order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(Queue.ProcessPending(), 0u);
}

TEST(MainThreadQueue, KeepsTheOrderOfAPostingThread) {
  TPlainMainThreadQueue Queue;
  constexpr int Count = 2000;
  std::vector<int> Order;
  std::thread Poster([&] {
    for (int I = 0; I < Count; ++I) Queue.Post([&Order, I] { Order.push_back(I); });
  });
  EXPECT_TRUE(Queue.WaitWhileProcessing([&] { return Order.size() == Count; }, LongWait));
  Poster.join();
  for (int I = 0; I < Count; ++I) ASSERT_EQ(Order[I], I);
}

// A call that posts another call: it runs outside the queue's lock (else
// this would dead-lock) and the new call waits for the next round.
TEST(MainThreadQueue, CallMayPostAnotherCall) {
  TPlainMainThreadQueue Queue;
  std::vector<int> Order;
  Queue.Post([&] {
    Order.push_back(1);
    Queue.Post([&] { Order.push_back(3); });
  });
  Queue.Post([&] { Order.push_back(2); });
  EXPECT_EQ(Queue.ProcessPending(), 2u);
  EXPECT_EQ(Order, (std::vector<int>{1, 2}));
  EXPECT_EQ(Queue.ProcessPending(), 1u);
  EXPECT_EQ(Order, (std::vector<int>{1, 2, 3}));
}

// Workers hand their log lines over with Send and wait, while the main
// thread waits for the workers: it must keep serving them.
TEST(MainThreadQueue, SendFromSeveralThreadsWhileMainThreadWaits) {
  TPlainMainThreadQueue Queue;
  constexpr int Threads = 4, PerThread = 200;
  int Received = 0;  // main-thread state: only the calls touch it
  std::atomic<int> Finished{0};
  std::atomic<int> Failed{0};
  std::vector<std::thread> Workers;
  for (int T = 0; T < Threads; ++T) {
    Workers.emplace_back([&] {
      for (int I = 0; I < PerThread; ++I) {
        if (!Queue.Send([&] { ++Received; })) ++Failed;
      }
      ++Finished;
      Queue.Wake();
    });
  }
  EXPECT_TRUE(Queue.WaitWhileProcessing([&] { return Finished == Threads; }, LongWait));
  for (std::thread& W : Workers) W.join();
  EXPECT_EQ(Received, Threads * PerThread);
  EXPECT_EQ(Failed, 0);
}

TEST(MainThreadQueue, SendReturnsOnlyAfterTheCallHasRun) {
  TPlainMainThreadQueue Queue;
  int Value = 0;
  std::atomic<bool> Sent{false};
  bool Result = false;
  std::thread Worker([&] {
    Result = Queue.Send([&] { Value = 42; });
    Sent = true;
    Queue.Wake();
  });
  EXPECT_TRUE(Queue.WaitWhileProcessing([&] { return Sent.load(); }, LongWait));
  Worker.join();
  EXPECT_TRUE(Result);
  EXPECT_EQ(Value, 42);
}

TEST(MainThreadQueue, PostAndSendAfterCloseAreRefused) {
  TPlainMainThreadQueue Queue;
  Queue.Close();
  bool Ran = false;
  EXPECT_FALSE(Queue.Post([&] { Ran = true; }));
  bool SendResult = true;
  std::thread Worker([&] { SendResult = Queue.Send([&] { Ran = true; }); });
  Worker.join();  // would hang if Send waited for a call that was dropped
  EXPECT_FALSE(SendResult);
  EXPECT_EQ(Queue.ProcessPending(), 0u);
  EXPECT_FALSE(Ran);
}

// Forwards to a plain queue and tells when something has been posted, so
// that a test can act while a Send is pending without guessing with sleeps.
class TObservedQueue final : public TMainThreadQueue {
public:
  bool Post(TCall Call) override {
    const bool Result = FInner.Post(std::move(Call));
    {
      std::lock_guard Guard(FLock);
      ++FPosted;
    }
    FPostedSignal.notify_all();
    return Result;
  }
  std::size_t ProcessPending() override { return FInner.ProcessPending(); }
  bool WaitWhileProcessing(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) override {
    return FInner.WaitWhileProcessing(Done, Timeout);
  }
  void Wake() override { FInner.Wake(); }
  void Close() override { FInner.Close(); }

  bool WaitForPosts(int Count) {
    std::unique_lock Lock(FLock);
    return FPostedSignal.wait_for(Lock, LongWait, [&] { return FPosted >= Count; });
  }

private:
  TPlainMainThreadQueue FInner;
  std::mutex FLock;
  std::condition_variable FPostedSignal;
  int FPosted = 0;
};

TEST(MainThreadQueue, CloseUnblocksAPendingSend) {
  TObservedQueue Queue;
  std::atomic<bool> Ran{false};
  bool SendResult = true;
  std::thread Worker([&] { SendResult = Queue.Send([&] { Ran = true; }); });
  ASSERT_TRUE(Queue.WaitForPosts(1));
  Queue.Close();
  Worker.join();  // would hang if the dropped call left Send waiting
  EXPECT_FALSE(SendResult);
  EXPECT_FALSE(Ran);
}

// Send must not rely on Close: any implementation that discards a call
// (a window system shutting down its event loop) releases the sender.
class TDiscardingQueue final : public TMainThreadQueue {
public:
  bool Post(TCall Call) override {
    TCall Discarded = std::move(Call);
    return true;
  }
  std::size_t ProcessPending() override { return 0; }
  bool WaitWhileProcessing(const std::function<bool()>& Done, std::chrono::milliseconds) override {
    return Done();
  }
  void Wake() override {}
  void Close() override {}
};

TEST(MainThreadQueue, SendOfADiscardedCallReturnsFalse) {
  TDiscardingQueue Queue;
  bool Ran = false;
  bool SendResult = true;
  std::thread Worker([&] { SendResult = Queue.Send([&] { Ran = true; }); });
  Worker.join();
  EXPECT_FALSE(SendResult);
  EXPECT_FALSE(Ran);
}

TEST(MainThreadQueue, CloseDropsPendingCalls) {
  TPlainMainThreadQueue Queue;
  auto Token = std::make_shared<int>(0);
  bool Ran = false;
  Queue.Post([&Ran, Token] { Ran = true; });
  EXPECT_EQ(Token.use_count(), 2);
  Queue.Close();
  EXPECT_EQ(Token.use_count(), 1);  // the dropped call is destroyed, not kept
  EXPECT_EQ(Queue.ProcessPending(), 0u);
  EXPECT_FALSE(Ran);
}

TEST(MainThreadQueue, WaitEndsAtTheTimeoutWithDoneFalse) {
  TPlainMainThreadQueue Queue;
  int Checks = 0;
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Queue.WaitWhileProcessing([&] { ++Checks; return false; }, 20ms));
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 20ms);
  // Sleeping on the condition, not spinning: Done is asked at the start and
  // at the end, and not thousands of times in between.
  EXPECT_LE(Checks, 3);
}

TEST(MainThreadQueue, WaitReturnsAtOnceWhenAlreadyDone) {
  TPlainMainThreadQueue Queue;
  bool Ran = false;
  Queue.Post([&] { Ran = true; });
  EXPECT_TRUE(Queue.WaitWhileProcessing([] { return true; }, LongWait));
  EXPECT_TRUE(Ran);  // pending calls are processed before Done is asked
}

TEST(MainThreadQueue, WakeMakesTheWaitAskDoneAgain) {
  TPlainMainThreadQueue Queue;
  std::atomic<bool> Flag{false};
  std::thread Other([&] {
    Flag = true;
    Queue.Wake();
  });
  // The longest timeout there is: must not overflow the clock's arithmetic.
  EXPECT_TRUE(Queue.WaitWhileProcessing([&] { return Flag.load(); }, std::chrono::milliseconds::max()));
  Other.join();
}

TEST(MainThreadQueue, ThrowingCallLeavesTheLaterCallsQueued) {
  TPlainMainThreadQueue Queue;
  std::vector<int> Order;
  Queue.Post([&] { Order.push_back(1); });
  Queue.Post([] { throw std::runtime_error("handler failed"); });
  Queue.Post([&] { Order.push_back(3); });
  EXPECT_THROW(Queue.ProcessPending(), std::runtime_error);
  EXPECT_EQ(Order, std::vector<int>{1});
  EXPECT_EQ(Queue.ProcessPending(), 1u);
  EXPECT_EQ(Order, (std::vector<int>{1, 3}));
}

}  // namespace
}  // namespace dz
