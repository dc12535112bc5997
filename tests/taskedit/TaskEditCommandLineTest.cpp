#include "taskedit/TaskEditCommandLine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "taskedit/TaskEditTestSupport.h"

namespace dz {
namespace {

class TaskEditCommandLineTest : public test::TTaskFolderTest {
protected:
  std::optional<int> Run(const std::vector<std::string>& Args) {
    FOut.str({});
    FErr.str({});
    return RunTaskEditCommandLine(Args, FOut, FErr, FDir.string());
  }
  std::ostringstream FOut;
  std::ostringstream FErr;
};

TEST_F(TaskEditCommandLineTest, ArgumentsWithoutACommandLineFormAreLeftToTheWindow) {
  for (const std::vector<std::string>& Args :
       {std::vector<std::string>{}, {"task.buj", "/edit"}, {"--newer"}, {"--source", "x"}})
    EXPECT_EQ(Run(Args), std::nullopt);
}

TEST_F(TaskEditCommandLineTest, NewWritesATaskTheWatchdogReadsAsAsked) {
  const struct {
    std::vector<std::string> Options;
    std::int32_t Compress;
    std::int32_t DestMode;
    std::vector<std::string> Excluded;
  } Cases[] = {
      {{}, 0, 1, {}},
      {{"--compress", "gz", "--structure", "drives"}, 1, 0, {}},
      {{"--compress=zip", "--exclude", "*.tmp,.bak,iso", "--structure=full"}, 2, 1, {"bak", "iso", "tmp"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(Case.Options));
    // Relative names are taken from the current directory.
    std::vector<std::string> Args{"--new", "task.buj", "--source", "src-a", "--source", B(), "--dest", "backup",
                                  "--replace"};
    Args.insert(Args.end(), Case.Options.begin(), Case.Options.end());
    ASSERT_EQ(Run(Args), teOk) << FErr.str();
    EXPECT_NE(FOut.str().find("Task written: " + Task()), std::string::npos) << FOut.str();

    std::vector<TTaskSource> Sources;
    ASSERT_EQ(CheckTaskFile(Task(), &Sources), tcUsable);
    EXPECT_EQ(Sources, (std::vector<TTaskSource>{{A(), 0}, {B(), 1}}));
    TMonTask MonTask(Task(), B());
    ReadAsWatchdog(MonTask);
    EXPECT_EQ(MonTask.DestDir, Dest() + "/");
    EXPECT_EQ(MonTask.Compress, Case.Compress);
    EXPECT_EQ(MonTask.DestMode, Case.DestMode);
    EXPECT_FALSE(MonTask.MonFilter.IncludeExts);
    EXPECT_EQ(MonTask.MonFilter.ExtList.Items(), Case.Excluded);
  }
}

TEST_F(TaskEditCommandLineTest, NewRefusesBadInputAndLosesNothing) {
  test::WriteFileBytes(PathOf("old.buj"), "keep me");
  const struct {
    std::vector<std::string> Args;
    int Code;
    const char* Message;
  } Cases[] = {
      {{"--new", "t.buj", "--source", "src-a"}, teUsage, "--dest"},
      {{"--new", "t.buj", "--dest", "backup"}, teUsage, "--source"},
      {{"--new", "t.buj", "--source", "src-a", "--dest", "backup", "--compress", "rar"}, teUsage, "rar"},
      {{"--new", "t.buj", "--source", "src-a", "--dest", "backup", "--structure", "flat"}, teUsage, "flat"},
      {{"--new", "t.buj", "--source", "src-a", "--dest"}, teUsage, "needs a value"},
      {{"--new", "t.buj", "--source", "src-a", "--dest", "backup", "--bogus"}, teUsage, "Unknown argument: --bogus"},
      {{"--new", "t.buj", "--check", "t.buj"}, teUsage, "either --new or --check"},
      {{"--new", "t.buj", "--source", "gone", "--dest", "backup"}, teTaskRefused, "does not exist"},
      {{"--new", "t.buj", "--source", "src-a", "--dest", "/b/%U%/"}, teTaskRefused, "placeholders"},
      {{"--new", "old.buj", "--source", "src-a", "--dest", "backup"}, teWriteFailed, "--replace"},
      {{"--new", "no/dir/t.buj", "--source", "src-a", "--dest", "backup"}, teWriteFailed, "Error writing"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(Case.Args));
    EXPECT_EQ(Run(Case.Args), Case.Code);
    EXPECT_NE(FErr.str().find(Case.Message), std::string::npos) << FErr.str();
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("t.buj")));
  EXPECT_EQ(test::ReadFileBytes(PathOf("old.buj")), "keep me");
}

TEST_F(TaskEditCommandLineTest, NewPrintsWarningsAndStillWrites) {
  EXPECT_EQ(Run({"--new", "t.buj", "--source", "src-a", "--dest", "src-a/copies"}), teOk);
  EXPECT_NE(FErr.str().find("Warning: The destination lies inside"), std::string::npos) << FErr.str();
  EXPECT_TRUE(std::filesystem::exists(PathOf("t.buj")));
}

TEST_F(TaskEditCommandLineTest, CheckPrintsTheCodeAndItsReasonsAndExitsWithIt) {
  test::WriteFileBytes(PathOf("good.buj"), "[Global]\nDestination=/b/\nDirCount=2\n[Dir000]\nSource=" + A() +
                                               "\n[Dir001]\nSource=" + PathOf("gone") + "\n");
  test::WriteFileBytes(PathOf("bad.buj"), "[Global]\nFtpBackup=1\nEncrypt=1\nDestination=/b/%X%/\nDirCount=1\n");
  test::WriteFileBytes(PathOf("empty.buj"), "[Global]\nDestination=/b/\n");
  // Tasks the watchdog would take and then fail with at every backup, or
  // back up its own copies with.
  const auto WithDestination = [this](const std::string& Name, const std::string& Line) {
    test::WriteFileBytes(PathOf(Name), "[Global]\n" + Line + "DirCount=1\n[Dir000]\nSource=" + A() + "\n");
  };
  WithDestination("nodest.buj", "");
  WithDestination("emptydest.buj", "Destination=\n");
  WithDestination("relative.buj", "Destination=backup/\n");
  WithDestination("inside.buj", "Destination=" + A() + "/copies/\n");
  WithDestination("same.buj", "Destination=" + A() + "\n");
  const struct {
    std::string Task;
    int Code;
    std::vector<std::string> Lines;
  } Cases[] = {
      {"good.buj", tcUsable, {"0: The task can be used", "Source directory: " + A()}},
      {"bad.buj", tcInvalidSettings, {"1: ", "FTP", "encrypts", "placeholders"}},
      {"empty.buj", tcInvalidSettings, {"1: ", "names no source directory"}},
      {"nodest.buj", tcInvalidSettings, {"1: ", "Error: No destination is given."}},
      {"emptydest.buj", tcInvalidSettings, {"1: ", "Error: No destination is given."}},
      {"relative.buj", tcInvalidSettings, {"1: ", "Error: The destination must be a full path"}},
      {"inside.buj", tcUsable, {"0: ", "Warning: The destination lies inside the source directory"}},
      {"same.buj", tcUsable, {"0: ", "Warning: The destination lies inside the source directory"}},
      {"none.buj", tcNotFound, {"2: "}},
      {"src-a", tcUnreadable, {"3: "}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Task);
    FOut.str("");
    EXPECT_EQ(Run({"--check", Case.Task}), Case.Code);
    for (const std::string& Line : Case.Lines) EXPECT_NE(FOut.str().find(Line), std::string::npos) << FOut.str();
    // A source that is gone is not listed as usable.
    if (Case.Task == "good.buj") {
      EXPECT_EQ(FOut.str().find("gone"), std::string::npos) << FOut.str();
    }
  }
  EXPECT_EQ(Run({"--check", "good.buj", "--dest", "x"}), teUsage);
}

TEST_F(TaskEditCommandLineTest, HelpListsTheForms) {
  EXPECT_EQ(Run({"--help"}), teOk);
  for (const char* Form : {"--new TASK", "--check TASK", "--compress none|gz|zip"})
    EXPECT_NE(FOut.str().find(Form), std::string::npos) << FOut.str();
}

// The program itself, with a home of the test's own (it finds its
// settings folder there) and no display, so the window forms say that they
// cannot open one.
TEST_F(TaskEditCommandLineTest, TheProgramExitsWithTheCodesOfItsForms) {
  const std::string Env = "cd '" + FDir.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME='" +
                          FDir.string() + "' XDG_CONFIG_HOME='" + PathOf("config") + "' LANGUAGE=en '" DZ_ZENTAPP_EXE "'";
  // The shell writes the exit code down, so the test needs no system header.
  const auto ExitCode = [&](const std::string& Args) {
    const std::string Command = Env + " " + Args + " >/dev/null 2>&1; echo $? > '" + PathOf("code") + "'";
    EXPECT_EQ(std::system(Command.c_str()), 0);
    return std::stoi(test::ReadFileBytes(PathOf("code")));
  };
  EXPECT_EQ(ExitCode(""), teNoForm);
  EXPECT_EQ(ExitCode("task.buj /edit"), teNoForm);
  EXPECT_EQ(ExitCode("--new task.buj --source src-a --dest backup"), teOk);
  EXPECT_EQ(ExitCode("--check task.buj"), tcUsable);
  EXPECT_EQ(ExitCode("--check none.buj"), tcNotFound);
  EXPECT_EQ(ExitCode("--new"), teUsage);
}

}  // namespace
}  // namespace dz
