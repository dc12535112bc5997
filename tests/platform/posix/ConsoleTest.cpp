// Standard input and signals as the console front-end receives them. The
// tests put a pipe, /dev/null or a pseudo-terminal in place of descriptor 0
// and raise real signals, so this file uses the system's headers like the
// backend it tests.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Console.h"

namespace dz {
namespace {

// What a handler thread delivered, and a wait for it. The wait is for the
// event; the time-out only turns a hang into a failure.
class TRecorder {
public:
  void Line(const std::string& L) { Add([&] { Lines.push_back(L); }); }
  void End() { Add([&] { ++Ends; }); }
  void Signal(TConsoleSignal S) { Add([&] { Signals.push_back(S); }); }

  bool WaitUntil(const std::function<bool()>& Done) {
    std::unique_lock Lock(FLock);
    return FChanged.wait_for(Lock, std::chrono::seconds(60), Done);
  }
  // Reads under the lock, so that a handler still running is not raced.
  template <class T>
  T Get(const T& Field) {
    std::lock_guard Lock(FLock);
    return Field;
  }

  std::vector<std::string> Lines;
  int Ends = 0;
  std::vector<TConsoleSignal> Signals;

private:
  void Add(const std::function<void()>& Change) {
    {
      std::lock_guard Lock(FLock);
      Change();
    }
    FChanged.notify_all();
  }
  std::mutex FLock;
  std::condition_variable FChanged;
};

// Descriptor 0 replaced for one test and given back afterwards.
class StdinTest : public ::testing::Test {
protected:
  void SetUp() override {
    FSaved = ::dup(STDIN_FILENO);
    ASSERT_GE(FSaved, 0);
  }
  void TearDown() override {
    ASSERT_EQ(::dup2(FSaved, STDIN_FILENO), STDIN_FILENO);
    ::close(FSaved);
    if (FWrite >= 0) ::close(FWrite);
  }
  // Descriptor 0 becomes the read end of a pipe; FWrite is its write end.
  void UsePipe() {
    int Fds[2];
    ASSERT_EQ(::pipe(Fds), 0);
    ASSERT_EQ(::dup2(Fds[0], STDIN_FILENO), STDIN_FILENO);
    ::close(Fds[0]);
    FWrite = Fds[1];
  }
  void Write(const std::string& Bytes) {
    ASSERT_EQ(::write(FWrite, Bytes.data(), Bytes.size()), static_cast<ssize_t>(Bytes.size()));
  }
  void CloseWrite() {
    ::close(FWrite);
    FWrite = -1;
  }

  int FSaved = -1;
  int FWrite = -1;
  TRecorder FRec;
};

TEST_F(StdinTest, LinesWithoutTheirEndsThenTheEndOnce) {
  UsePipe();
  TStdinReader Reader([this](const std::string& L) { FRec.Line(L); }, [this] { FRec.End(); });
  Write("b\r\n");
  ASSERT_TRUE(FRec.WaitUntil([&] { return FRec.Lines.size() == 1; }));
  EXPECT_EQ(FRec.Get(FRec.Ends), 0);  // a line is handed over before the input ends
  Write("s\n\npart");
  Write("ly\r\nq");  // the last line has no line end
  CloseWrite();
  ASSERT_TRUE(FRec.WaitUntil([&] { return FRec.Ends > 0; }));
  EXPECT_EQ(FRec.Get(FRec.Lines), (std::vector<std::string>{"b", "s", "", "partly", "q"}));
  EXPECT_EQ(FRec.Get(FRec.Ends), 1);
}

TEST_F(StdinTest, LongLinesComeInPieces) {
  UsePipe();
  TStdinReader Reader([this](const std::string& L) { FRec.Line(L); }, [this] { FRec.End(); });
  const std::size_t Max = TStdinReader::MaxLineLength;
  // Written from a thread: the pipe holds less than the line.
  std::thread Writer([&] {
    Write(std::string(Max + 10, 'x') + "\n" + std::string(Max, 'y') + "\nz\n");
    CloseWrite();
  });
  ASSERT_TRUE(FRec.WaitUntil([&] { return FRec.Ends > 0; }));
  Writer.join();
  const std::vector<std::string> Lines = FRec.Get(FRec.Lines);
  ASSERT_EQ(Lines.size(), 4u);
  EXPECT_EQ(Lines[0], std::string(Max, 'x'));
  EXPECT_EQ(Lines[1], std::string(10, 'x'));
  EXPECT_EQ(Lines[2], std::string(Max, 'y'));  // exactly full: no empty piece after it
  EXPECT_EQ(Lines[3], "z");
}

TEST_F(StdinTest, StoppingWhileWaitingForInput) {
  UsePipe();
  {
    TStdinReader Reader([this](const std::string& L) { FRec.Line(L); }, [this] { FRec.End(); });
    Write("b\n");
    ASSERT_TRUE(FRec.WaitUntil([&] { return FRec.Lines.size() == 1; }));
    // The reader now waits for more; destroying it must not wait for input.
  }
  Write("s\n");
  EXPECT_EQ(FRec.Get(FRec.Lines), std::vector<std::string>{"b"});
  EXPECT_EQ(FRec.Get(FRec.Ends), 0);
}

TEST_F(StdinTest, ClosedOrEmptyInputEndsAtOnce) {
  for (const bool Closed : {true, false}) {
    SCOPED_TRACE(Closed ? "descriptor 0 closed" : "/dev/null");
    TRecorder Rec;
    if (Closed) {
      // As a service may be started; the stream gets the null device before
      // anything else can take its number.
      ::close(STDIN_FILENO);
      OpenMissingStandardStreams();
      ASSERT_GE(::fcntl(STDIN_FILENO, F_GETFD), 0);
    } else {
      const int Null = ::open("/dev/null", O_RDONLY);
      ASSERT_GE(Null, 0);
      ASSERT_EQ(::dup2(Null, STDIN_FILENO), STDIN_FILENO);
      ::close(Null);
    }
    TStdinReader Reader([&Rec](const std::string& L) { Rec.Line(L); }, [&Rec] { Rec.End(); });
    ASSERT_TRUE(Rec.WaitUntil([&] { return Rec.Ends > 0; }));
    EXPECT_TRUE(Rec.Get(Rec.Lines).empty());
  }
}

TEST_F(StdinTest, TerminalOrNot) {
  UsePipe();
  EXPECT_FALSE(IsTerminal(ssInput));

  const int Master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (Master < 0) GTEST_SKIP() << "no pseudo-terminal here; only the pipe case is tested";
  ASSERT_EQ(::grantpt(Master), 0);
  ASSERT_EQ(::unlockpt(Master), 0);
  const int Slave = ::open(::ptsname(Master), O_RDWR | O_NOCTTY);
  ASSERT_GE(Slave, 0);
  ASSERT_EQ(::dup2(Slave, STDIN_FILENO), STDIN_FILENO);
  EXPECT_TRUE(IsTerminal(ssInput));
  ::close(Slave);
  ::close(Master);
}

// ---- Signals ------------------------------------------------------------------

TEST(ConsoleSignalsTest, QuitAndSaveRequestsInTheirOrder) {
  TRecorder Rec;
  TConsoleSignals Signals([&Rec](TConsoleSignal S) { Rec.Signal(S); });
  const struct {
    int Number;
    TConsoleSignal Expected;
  } Cases[] = {{SIGHUP, csSave}, {SIGINT, csQuit}, {SIGTERM, csQuit}, {SIGHUP, csSave}};
  std::vector<TConsoleSignal> Expected;
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Number);
    ASSERT_EQ(::kill(::getpid(), Case.Number), 0);
    Expected.push_back(Case.Expected);
    // Each one is awaited: two equal signals pending at once merge into one.
    ASSERT_TRUE(Rec.WaitUntil([&] { return Rec.Signals.size() == Expected.size(); }));
  }
  EXPECT_EQ(Rec.Get(Rec.Signals), Expected);
}

void CountHangUps(int) {}

TEST(ConsoleSignalsTest, PreviousHandlingComesBack) {
  struct sigaction Own = {};
  Own.sa_handler = CountHangUps;
  sigemptyset(&Own.sa_mask);
  struct sigaction SavedHup, SavedPipe, Now;
  ASSERT_EQ(::sigaction(SIGHUP, &Own, &SavedHup), 0);
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &SavedPipe), 0);
  ASSERT_NE(SavedPipe.sa_handler, SIG_IGN) << "the test runner ignores SIGPIPE already";
  {
    TConsoleSignals Signals([](TConsoleSignal) {});
    ASSERT_EQ(::sigaction(SIGHUP, nullptr, &Now), 0);
    EXPECT_NE(Now.sa_handler, CountHangUps);
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &Now), 0);
    EXPECT_EQ(Now.sa_handler, SIG_IGN);
    EXPECT_THROW(TConsoleSignals([](TConsoleSignal) {}), std::logic_error);
  }
  ASSERT_EQ(::sigaction(SIGHUP, nullptr, &Now), 0);
  EXPECT_EQ(Now.sa_handler, CountHangUps);
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &Now), 0);
  EXPECT_EQ(Now.sa_handler, SavedPipe.sa_handler);
  ::sigaction(SIGHUP, &SavedHup, nullptr);

  // A later instance works again.
  TRecorder Rec;
  TConsoleSignals Again([&Rec](TConsoleSignal S) { Rec.Signal(S); });
  ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
  ASSERT_TRUE(Rec.WaitUntil([&] { return !Rec.Signals.empty(); }));
  EXPECT_EQ(Rec.Get(Rec.Signals), std::vector<TConsoleSignal>{csQuit});
}

}  // namespace
}  // namespace dz
