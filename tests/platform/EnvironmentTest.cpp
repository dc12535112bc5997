#include "platform/Environment.h"
#include "platform/FileOps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/SysError.h"
#include "support/AsUser.h"
#include "support/ScopedEnvironment.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class EnvironmentTest : public test::TTempUserTest {
protected:
  void TearDown() override {
    if (!FOldCwd.empty()) fs::current_path(FOldCwd);
    TTempUserTest::TearDown();
  }
  void EnterDirectory(const fs::path& Dir) {
    if (FOldCwd.empty()) FOldCwd = fs::current_path();
    fs::current_path(Dir);
  }
  void MakeFile(const std::string& Name, fs::perms Perms) {
    test::WriteFileBytes(FDir / Name, "#!/bin/sh\n");
    fs::permissions(FDir / Name, Perms);
  }

  fs::path FOldCwd;
};

TEST_F(EnvironmentTest, VariablesAreReadSetAndRemoved) {
  EXPECT_EQ(EnvVar("HOME"), PathOf("home"));
  EXPECT_EQ(EnvVar("LANG"), "");

  FEnv.Set("DZ_ENV_TEST", "a=b \xC3\xA4");
  EXPECT_EQ(EnvVar("DZ_ENV_TEST"), "a=b \xC3\xA4");
  ASSERT_EQ(UnsetEnvVar("DZ_ENV_TEST"), 0);
  EXPECT_EQ(std::getenv("DZ_ENV_TEST"), nullptr);
  EXPECT_EQ(EnvVar("DZ_ENV_TEST"), "");

  // A name with "=" cannot be set; the call says so instead of corrupting
  // the environment.
  EXPECT_NE(SetEnvVar("DZ=BAD", "x"), 0);
}

TEST_F(EnvironmentTest, HomeComesFromHomeVariableElseFromPasswordDatabase) {
  EXPECT_EQ(HomeDirectory(), PathOf("home"));

  FEnv.Set("HOME", "");
  const std::string FromDatabase = HomeDirectory();
  EXPECT_NE(FromDatabase, PathOf("home"));
  FEnv.Unset("HOME");
  EXPECT_EQ(HomeDirectory(), FromDatabase);
  if (FromDatabase.empty()) GTEST_SKIP() << "the user running the test has no entry in the password database";
  EXPECT_EQ(FromDatabase.front(), '/') << FromDatabase;
}

TEST_F(EnvironmentTest, ExecutableIsThisTestProgram) {
  const std::string Exe = ExecutableFileName();
  ASSERT_FALSE(Exe.empty());
  EXPECT_EQ(Exe.front(), '/');
  EXPECT_EQ(fs::path(Exe).filename(), "platform_tests");
  EXPECT_TRUE(IsExecutableFile(Exe));
}

TEST_F(EnvironmentTest, CurrentDirectoryFollowsChanges) {
  EXPECT_EQ(CurrentDirectory(), fs::current_path().string());
  // A long path makes the first buffer too small.
  fs::path Deep = FDir;
  for (int I = 0; I < 12; ++I) Deep /= std::string(40, static_cast<char>('a' + I));
  fs::create_directories(Deep);
  EnterDirectory(Deep);
  EXPECT_EQ(CurrentDirectory(), Deep.string());
}

TEST_F(EnvironmentTest, ForceDirectoriesCreatesMissingParents) {
  test::WriteFileBytes(FDir / "file", "x");
  fs::create_directories(FDir / "exists");
  const struct {
    const char* Name;
    int Code;
  } Cases[] = {
      {"a/b/c", ErrSuccess},
      {"a/b/c", ErrSuccess},         // again: existing is fine
      {"d//e/", ErrSuccess},         // doubled and trailing delimiters
      {"exists", ErrSuccess},
      {"file", ErrAlreadyExists},    // a file is in the way
      {"file/", ErrAlreadyExists},
      {"file/sub", ErrPathNotFound}, // a file as a parent
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(ForceDirectories(PathOf(Case.Name)), Case.Code);
    if (Case.Code == ErrSuccess) {
      EXPECT_TRUE(fs::is_directory(PathOf(Case.Name)));
    }
  }
  EXPECT_TRUE(fs::is_regular_file(FDir / "file"));
  EXPECT_EQ(ForceDirectories(""), ErrPathNotFound);
  // A failure in the middle stops there and leaves what was made before.
  EXPECT_EQ(ForceDirectories(PathOf("made/" + std::string(300, 'x') + "/below")), ErrFilenameExcedRange);
  EXPECT_TRUE(fs::is_directory(FDir / "made"));

  // Relative paths are taken from the current directory.
  EnterDirectory(FDir);
  EXPECT_EQ(ForceDirectories("rel/x"), ErrSuccess);
  EXPECT_TRUE(fs::is_directory(FDir / "rel" / "x"));
}

// Root may create anything, so the attempt is made as an unprivileged user.
TEST_F(EnvironmentTest, ForceDirectoriesReportsDeniedAccess) {
  fs::create_directories(FDir / "locked");
  fs::permissions(FDir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const auto Run = test::RunUnprivileged([&] { return std::to_string(ForceDirectories(PathOf("locked/sub/deeper"))); });
  fs::permissions(FDir / "locked", fs::perms::owner_all);
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, std::to_string(ErrAccessDenied));
  EXPECT_FALSE(fs::exists(FDir / "locked" / "sub"));
}

TEST_F(EnvironmentTest, ExecutableFilesAreRegularAndExecutable) {
  MakeFile("exe", fs::perms::owner_all);
  MakeFile("plain", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(FDir / "dir");
  fs::create_symlink(FDir / "exe", FDir / "link");
  const struct {
    const char* Name;
    bool Executable;
  } Cases[] = {{"exe", true}, {"plain", false}, {"dir", false}, {"link", true}, {"missing", false}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(IsExecutableFile(PathOf(Case.Name)), Case.Executable);
  }
}

TEST_F(EnvironmentTest, SameFileSeesThroughSpellings) {
  fs::create_directories(FDir / "a" / "b");
  test::WriteFileBytes(FDir / "a" / "f", "x");
  test::WriteFileBytes(FDir / "a" / "g", "x");
  fs::create_directory_symlink(FDir / "a", FDir / "alias");
  const struct {
    const char* A;
    const char* B;
    bool Same;
  } Cases[] = {
      {"a", "a/", true},
      {"a", "a/b/..", true},
      {"a", "alias", true},
      {"a/f", "alias//f", true},
      {"a/f", "a/g", false},      // same content, two files
      {"a", "a/b", false},
      {"a/missing", "a/missing", false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.A) + " | " + Case.B);
    EXPECT_EQ(SameFile(PathOf(Case.A), PathOf(Case.B)), Case.Same);
  }
}

TEST_F(EnvironmentTest, ModificationTimeAndItsLocalDate) {
  test::WriteFileBytes(FDir / "f", "x");
  // 2021-03-04 12:06:07.5 UTC: the same day in every zone within 11 hours
  // of UTC.
  const auto Stamp = std::chrono::sys_days{std::chrono::year{2021} / 3 / 4} + std::chrono::hours(12) +
                     std::chrono::minutes(6) + std::chrono::seconds(7) + std::chrono::milliseconds(500);
  fs::last_write_time(FDir / "f", std::chrono::file_clock::from_sys(Stamp));

  std::chrono::system_clock::time_point Time;
  ASSERT_TRUE(FileModificationTime(PathOf("f"), Time));
  EXPECT_EQ(std::chrono::time_point_cast<std::chrono::milliseconds>(Time), Stamp);
  EXPECT_FALSE(FileModificationTime(PathOf("missing"), Time));

  TLocalTime Local;
  ASSERT_TRUE(LocalTimeOf(Time, Local));
  const std::time_t Seconds = std::chrono::system_clock::to_time_t(Time);
  const std::tm Expected = *std::localtime(&Seconds);  // single-threaded here
  EXPECT_EQ(Local.Year, Expected.tm_year + 1900);
  EXPECT_EQ(Local.Month, Expected.tm_mon + 1);
  EXPECT_EQ(Local.Day, Expected.tm_mday);
  EXPECT_EQ(Local.Hour, Expected.tm_hour);
  EXPECT_EQ(Local.Minute, Expected.tm_min);
  EXPECT_EQ(Local.Second, 7);
  EXPECT_EQ(Local.Month, 3);
  EXPECT_EQ(Local.Day, 4);
}

// Backup workers stamp their lines and zip entries with local times at the
// same moment; the time zone the C library keeps must not be raced on (the
// thread checker build shows it).
TEST(LocalTime, ConversionsFromSeveralThreadsAtOnce) {
  const auto Now = std::chrono::system_clock::now();
  const std::int64_t Seconds = std::chrono::duration_cast<std::chrono::seconds>(Now.time_since_epoch()).count();
  std::int64_t Expected = 0;
  ASSERT_TRUE(UtcOffsetAt(Seconds, Expected));
  std::vector<std::thread> Threads;
  std::vector<int> Wrong(4, 0);
  for (int T = 0; T < 4; ++T)
    Threads.emplace_back([&, T] {
      for (int I = 0; I < 200; ++I) {
        std::int64_t Offset = 0;
        TLocalTime Local;
        if (!UtcOffsetAt(Seconds, Offset) || Offset != Expected || !LocalTimeOf(Now, Local)) ++Wrong[T];
      }
    });
  for (std::thread& Thread : Threads) Thread.join();
  EXPECT_EQ(Wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace dz
