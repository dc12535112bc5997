// The looks at backup destinations on their own: one look per destination
// at a time, answers only through the queue, a look that hangs given up on
// after its time without holding up anything else, and an owner that goes
// while a look hangs. Looks are held at gates of the test.

#include "watchdog/DestinationProbes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/Gate.h"

namespace dz {
namespace {

using TVerdicts = TDestinationProbes::TVerdicts;
constexpr auto LongWait = std::chrono::minutes(2);

// A probe whose looks at the destinations named in Held wait at a gate;
// every look is counted per destination.
class TProbeStandIn {
public:
  std::map<std::string, std::shared_ptr<test::TGate>> Held;
  // Held by every copy of the probe: a look's thread lets go of it when it
  // ends.
  std::shared_ptr<int> Token = std::make_shared<int>(0);

  // After the owner has gone: waits until every look's thread has ended.
  bool WaitForLooksToEnd() {
    const auto Deadline = std::chrono::steady_clock::now() + LongWait;
    while (Token.use_count() > 1 && std::chrono::steady_clock::now() < Deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Token.use_count() == 1;
  }

  TDestinationProbe Probe() {
    return [this, Token = Token](const std::string& Dest, const TVolumes&) {
      {
        std::lock_guard<std::mutex> Lock(FMutex);
        ++FLooks[Dest];
      }
      if (const auto It = Held.find(Dest); It != Held.end())
        It->second->Pass();
      return TDestinationVerdict{true, Dest, "/", Dest};
    };
  }
  int Looks(const std::string& Dest) {
    std::lock_guard<std::mutex> Lock(FMutex);
    return FLooks[Dest];
  }

private:
  std::mutex FMutex;
  std::map<std::string, int> FLooks;
};

class DestinationProbesTest : public ::testing::Test {
protected:
  void TearDown() override {
    FProbes.reset();
    // The held looks end before the stand-in they call goes.
    for (auto& [Dest, Gate] : FStandIn.Held) Gate->Open();
    EXPECT_TRUE(FStandIn.WaitForLooksToEnd());
  }

  void Make(std::chrono::milliseconds Timeout) {
    FProbes = std::make_unique<TDestinationProbes>(FQueue, FStandIn.Probe(), SystemVolumes(), Timeout);
  }
  std::shared_ptr<test::TGate> Hold(const std::string& Dest) {
    auto Gate = std::make_shared<test::TGate>();
    FStandIn.Held[Dest] = Gate;
    return Gate;
  }
  // A round whose answer lands in Into.
  void Look(const std::vector<std::string>& Dests, std::optional<TVerdicts>& Into) {
    FProbes->Look(Dests, [&Into](const TVerdicts& Verdicts) { Into = Verdicts; });
  }
  bool WaitFor(const std::optional<TVerdicts>& Answer) {
    return FQueue.WaitWhileProcessing([&Answer] { return Answer.has_value(); }, LongWait);
  }

  TPlainMainThreadQueue FQueue;
  TProbeStandIn FStandIn;
  std::unique_ptr<TDestinationProbes> FProbes;
};

TEST_F(DestinationProbesTest, OneLookPerDestinationServesEveryRoundThatAsksWhileItRuns) {
  const auto Gate = Hold("/a");
  Make(LongWait);
  std::optional<TVerdicts> First, Second;
  Look({"/a", "/b", "/a"}, First);
  ASSERT_TRUE(Gate->WaitForArrivals(1));
  Look({"/a"}, Second);
  EXPECT_EQ(FProbes->Running(), 2u) << "the queue has not been processed: no look counts as answered";
  EXPECT_TRUE(FProbes->Waiting());

  // The look at /b answers; the rounds still wait for /a.
  ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return FProbes->Running() == 1; }, LongWait));
  EXPECT_FALSE(First.has_value());
  EXPECT_FALSE(Second.has_value());

  Gate->Open();
  ASSERT_TRUE(WaitFor(First));
  ASSERT_TRUE(WaitFor(Second));
  EXPECT_EQ(FStandIn.Looks("/a"), 1) << "the second round shares the look that runs";
  EXPECT_EQ(FStandIn.Looks("/b"), 1);
  ASSERT_EQ(First->size(), 2u);
  ASSERT_TRUE(First->at("/a").has_value());
  EXPECT_EQ(First->at("/a")->Dest, "/a");
  EXPECT_TRUE(First->at("/b").has_value());
  ASSERT_EQ(Second->size(), 1u);
  EXPECT_TRUE(Second->at("/a").has_value());
  EXPECT_EQ(FProbes->Running(), 0u);
  EXPECT_FALSE(FProbes->Waiting());

  // Answered: the next round looks anew.
  std::optional<TVerdicts> Third;
  Look({"/a"}, Third);
  ASSERT_TRUE(WaitFor(Third));
  EXPECT_EQ(FStandIn.Looks("/a"), 2);
}

TEST_F(DestinationProbesTest, AnswersComeThroughTheQueueNeverInsideTheCall) {
  Make(LongWait);
  std::optional<TVerdicts> Answer;
  Look({"/a"}, Answer);
  ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return FStandIn.Looks("/a") == 1; }, LongWait));
  // Even a round with nothing to wait for (an empty one) is answered by the
  // queue, after the call has returned.
  std::optional<TVerdicts> Empty;
  Look({}, Empty);
  EXPECT_FALSE(Empty.has_value());
  ASSERT_TRUE(WaitFor(Empty));
  EXPECT_TRUE(Empty->empty());
  ASSERT_TRUE(WaitFor(Answer));
  ASSERT_TRUE(Answer->at("/a").has_value());
  EXPECT_TRUE(Answer->at("/a")->Available);
}

// A dead mount holds its look: the round goes on without its verdict when
// its time is up, the other destination's verdict in it; a later round gets
// none for it at once, without a second look, until the first has answered.
TEST_F(DestinationProbesTest, ALookThatHangsIsGivenUpOnAndNotStartedAgainWhileItRuns) {
  const auto Gate = Hold("/dead");
  Make(std::chrono::milliseconds(200));
  std::optional<TVerdicts> First;
  Look({"/dead", "/live"}, First);
  ASSERT_TRUE(WaitFor(First));
  EXPECT_FALSE(First->at("/dead").has_value());
  EXPECT_TRUE(First->at("/live").has_value());
  EXPECT_EQ(FProbes->Running(), 1u) << "the look that hangs is still out";

  std::optional<TVerdicts> Second;
  Look({"/dead", "/live"}, Second);
  ASSERT_TRUE(WaitFor(Second));
  EXPECT_FALSE(Second->at("/dead").has_value()) << "not waited for again";
  EXPECT_TRUE(Second->at("/live").has_value());
  EXPECT_EQ(FStandIn.Looks("/dead"), 1) << "no second look at the dead mount";
  EXPECT_EQ(FStandIn.Looks("/live"), 2);

  Gate->Open();
  ASSERT_TRUE(FQueue.WaitWhileProcessing([this] { return FProbes->Running() == 0; }, LongWait));
  std::optional<TVerdicts> Third;
  Look({"/dead"}, Third);
  ASSERT_TRUE(WaitFor(Third));
  EXPECT_TRUE(Third->at("/dead").has_value()) << "answered: the next round looks anew";
  EXPECT_EQ(FStandIn.Looks("/dead"), 2);
}

TEST_F(DestinationProbesTest, TheOwnerGoesWhileALookHangs) {
  const auto Gate = Hold("/dead");
  Make(LongWait);
  bool Answered = false;
  FProbes->Look({"/dead"}, [&Answered](const TVerdicts&) { Answered = true; });
  ASSERT_TRUE(Gate->WaitForArrivals(1));
  FQueue.ProcessPending();

  FProbes.reset();  // returns with the look held, its timer stopped
  Gate->Open();
  ASSERT_TRUE(FStandIn.WaitForLooksToEnd());
  EXPECT_EQ(FQueue.ProcessPending(), 0u) << "nothing posted for the owner that is gone";
  EXPECT_FALSE(Answered);
}

TEST(DetachedLooks, ACallPostedBeforeTheOwnerWentDoesNotRunAfterIt) {
  TPlainMainThreadQueue Queue;
  bool Ran = false;
  {
    TDetachedLooks Looks(Queue);
    std::atomic<bool> Done = false;
    Looks.Start([&Ran, &Done]() -> TMainThreadQueue::TCall {
      Done = true;
      return [&Ran] { Ran = true; };
    });
    while (!Done) std::this_thread::yield();
    Looks.Post([&Ran] { Ran = true; });
  }
  // The thread may have posted its call or not; neither runs now.
  Queue.ProcessPending();
  EXPECT_FALSE(Ran);
}

}  // namespace
}  // namespace dz
