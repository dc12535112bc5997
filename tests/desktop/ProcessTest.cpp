#include "desktop/Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "filesys/ErrorTexts.h"
#include "platform/SysError.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;

// The started programs are small shell scripts in the test's folder.
class ProcessTest : public test::TTempDirTest {
protected:
  std::string Script(const std::string& Name, const std::string& Body) {
    return MakeFile(Name, "#!/bin/sh\n" + Body + "\n", 0755);
  }
  // A script that waits until the file Go exists, leaves Go + ".seen" and
  // exits with Code. It gives up after a minute, so that a failed test
  // leaves no process behind.
  std::string WaitingScript(int Code) {
    return Script("waiting.sh", "n=0\nwhile [ ! -e \"$1\" ] && [ $n -lt 3000 ]; do sleep 0.02; n=$((n+1)); done\n"
                                "touch \"$1.seen\"\nexit " + std::to_string(Code));
  }
  // Waits until a WaitingScript let go of has seen Go, before the test's
  // folder goes.
  void AwaitSeen(const std::string& Go) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(Go + ".seen") && std::chrono::steady_clock::now() < Deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(Go + ".seen"));
  }
  // A script that writes its arguments, one a line, into Out, then what it
  // finds on its standard input, and then its current directory.
  std::string EchoScript(const std::string& Name, const std::string& Out) {
    return Script(Name, "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + Out +
                            "'\nif read -r line; then echo \"stdin:$line\"; else echo stdin:eof; fi >> '" + Out +
                            "'\npwd >> '" + Out + "'");
  }
};

TEST_F(ProcessTest, ResultCarriesTheExitCodeWithItsFlag) {
  const struct {
    const char* Body;
    int Expected;
  } Cases[] = {
      {"exit 0", 0},
      {"exit 5", 5 | ExitCodeFlag},
      {"exit 255", 255 | ExitCodeFlag},
      {"kill -TERM $$", (128 + 15) | ExitCodeFlag},  // ended by a signal: as a shell reports it
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Body);
    TChildProcess Child = StartProcess({Script("exit.sh", Case.Body)}, "");
    EXPECT_TRUE(Child.Running());
    EXPECT_EQ(WaitForProcess(Child, 0, false), Case.Expected);
    EXPECT_FALSE(Child.Running());
  }
}

TEST_F(ProcessTest, TimeOutLeavesTheProgramRunningUnlessAlways) {
  const std::string Go = PathOf("go");
  TChildProcess Child = StartProcess({WaitingScript(7), Go}, "");
  EXPECT_EQ(WaitForProcess(Child, 50, false), WaitTimeout);
  ASSERT_TRUE(Child.Running());

  MakeFile("go");
  EXPECT_EQ(WaitForProcess(Child, 0, false), 7 | ExitCodeFlag);
  EXPECT_FALSE(Child.Running());

  // With Always the wait lets go of a program that still runs.
  fs::remove(Go);
  fs::remove(Go + ".seen");
  TChildProcess Other = StartProcess({WaitingScript(0), Go}, "");
  EXPECT_EQ(WaitForProcess(Other, 50, true), WaitTimeout);
  EXPECT_FALSE(Other.Running());
  MakeFile("go");
  AwaitSeen(Go);
}

TEST_F(ProcessTest, TimeOutThatTheProgramBeatsGivesItsResult) {
  TChildProcess Child = StartProcess({Script("quick.sh", "exit 3")}, "");
  // A generous limit: the result must come when the program ends, not when
  // the time runs out.
  EXPECT_EQ(WaitForProcess(Child, 60000, false), 3 | ExitCodeFlag);
}

TEST_F(ProcessTest, WaitingWithoutLimitKeepsTheCallerAlive) {
  const std::string Go = PathOf("go");
  TChildProcess Child = StartProcess({WaitingScript(0), Go}, "");
  int Calls = 0;
  // The program ends only after the caller's loop has run once.
  EXPECT_EQ(WaitForProcess(Child, 0, false,
                           [&] {
                             if (++Calls == 1) MakeFile("go");
                           }),
            0);
  EXPECT_GE(Calls, 1);
}

TEST_F(ProcessTest, ProgramsThatCannotStartRaiseWithTheSystemsText) {
  const struct {
    std::string Program;
    int Code;
  } Cases[] = {
      {PathOf("missing"), ErrFileNotFound},
      {MakeFile("not-executable", "#!/bin/sh\nexit 0\n", 0644), ErrAccessDenied},
      {"", ErrFileNotFound},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Program);
    try {
      StartProcess({Case.Program}, "");
      ADD_FAILURE() << "no EProcessError";
    } catch (const EProcessError& E) {
      EXPECT_EQ(E.ErrorCode(), Case.Code);
      EXPECT_EQ(std::string(E.what()), GetSystemErrorText(Case.Code));
    }
  }
}

TEST_F(ProcessTest, ArgumentsReachTheProgramUnchanged) {
  const std::string Out = PathOf("args.txt");
  const std::vector<std::string> Args = {"a b", "it's \"quoted\"", "$HOME", "", "back\\slash", "*"};
  std::vector<std::string> Command = {EchoScript("echo.sh", Out)};
  Command.insert(Command.end(), Args.begin(), Args.end());
  fs::create_directories(FDir / "work dir");
  TChildProcess Child = StartProcess(Command, PathOf("work dir"));
  ASSERT_EQ(WaitForProcess(Child, 0, false), 0);

  std::string Expected;
  for (const auto& Arg : Args) Expected += Arg + "\n";
  Expected += "stdin:eof\n" + PathOf("work dir") + "\n";
  EXPECT_EQ(ReadFileBytes(Out), Expected);
}

TEST_F(ProcessTest, EditTaskStartsZentivoWithTheTaskAndTheEditOption) {
  fs::create_directories(FDir / "Zentivo dir");
  const std::string Out = PathOf("args.txt");
  const std::string ZvPath = EchoScript("Zentivo dir/ZentApp", Out);
  const std::string Task = PathOf("my tasks/daily backup.buj");
  EXPECT_EQ(EditTaskCommand(ZvPath, Task), (std::vector<std::string>{ZvPath, Task, "/edit"}));

  int Calls = 0;
  EXPECT_EQ(EditTask(ZvPath, Task, [&] { ++Calls; }), 0);
  const std::string Text = ReadFileBytes(Out);
  EXPECT_EQ(Text.substr(0, Text.find("stdin:")), Task + "\n/edit\n");
}

TEST_F(ProcessTest, EditTaskWithoutZentivoRaises) {
  EXPECT_THROW(EditTask("", PathOf("task.buj"), {}), EProcessError);
  EXPECT_THROW(EditTask(PathOf("ZentApp"), PathOf("task.buj"), {}), EProcessError);
}

TEST(ProcessTexts, ExitCodesAndSystemCodesReadDifferently) {
  EXPECT_EQ(ProcessResultText(5 | ExitCodeFlag), "The program ended with exit code 5");
  EXPECT_EQ(ProcessResultText(ErrFileNotFound), GetSystemErrorText(ErrFileNotFound));
  EXPECT_EQ(EditTaskFailureMessage(1 | ExitCodeFlag), "Error on executing Zentivo: The program ended with exit code 1");
}

}  // namespace
}  // namespace dz
