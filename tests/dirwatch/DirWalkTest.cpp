// The directory-tree walker the inotify backend and the rescan after lost
// reports stand on: what it visits, how it names and classifies entries,
// their time stamps, and how a visitor steers it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/DirWalk.h"
#include "platform/SysError.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::WriteFileBytes;

constexpr std::int64_t TicksPerSecond = 10000000;
constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;

class DirWalkTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    fs::create_directories(FDir / "sub" / "deep");
    fs::create_directories(FDir / "elsewhere");
    WriteFileBytes(FDir / "a.txt", "a");
    WriteFileBytes(FDir / "sub" / "b.txt", "b");
    WriteFileBytes(FDir / "sub" / "deep" / "c.txt", "c");
    WriteFileBytes(FDir / "elsewhere" / "outside.txt", "o");
    fs::create_directory_symlink(FDir / "elsewhere", FDir / "sub" / "link");
  }

  std::map<std::string, TDirWalkEntry> Walk(const TDirWalkOptions& Options = {},
                                            TDirWalkVerdict (*Steer)(const TDirWalkEntry&) = nullptr) {
    std::map<std::string, TDirWalkEntry> Seen;
    const int Result = WalkDirectoryTree(
        (FDir / "sub").string(),
        [&](const TDirWalkEntry& Entry) {
          EXPECT_TRUE(Seen.emplace(Entry.RelPath, Entry).second) << Entry.RelPath << " visited twice";
          return Steer ? Steer(Entry) : dwvContinue;
        },
        Options);
    EXPECT_EQ(Result, 0);
    return Seen;
  }
};

TEST_F(DirWalkTest, VisitsEveryEntryBelowTheRootWithItsKindAndNeverFollowsLinks) {
  const auto Seen = Walk();
  std::map<std::string, TDirEntryKind> Kinds;
  for (const auto& [Path, Entry] : Seen) Kinds[Path] = Entry.Kind;
  const std::map<std::string, TDirEntryKind> Expected = {
      {"b.txt", dekFile}, {"deep", dekDirectory}, {"deep/c.txt", dekFile}, {"link", dekLink}};
  EXPECT_EQ(Kinds, Expected);
}

TEST_F(DirWalkTest, SpecialFilesAreOther) {
  if (std::system(("mkfifo '" + (FDir / "sub" / "pipe").string() + "'").c_str()) != 0)
    GTEST_SKIP() << "mkfifo is not available";
  EXPECT_EQ(Walk().at("pipe").Kind, dekOther);
}

TEST_F(DirWalkTest, TimesAreFileTimesSince1601) {
  ASSERT_EQ(std::system(("touch -m -d '2020-01-02 03:04:05.5 UTC' '" + (FDir / "sub" / "b.txt").string() + "'").c_str()), 0);
  const auto Seen = Walk();
  const TDirWalkEntry& B = Seen.at("b.txt");
  EXPECT_EQ(B.ModifyTime, (1577934245 + SecondsFrom1601To1970) * TicksPerSecond + TicksPerSecond / 2);
  // touch changed the inode just now; the status-change time says so.
  const std::int64_t Now =
      (std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() +
       SecondsFrom1601To1970) * TicksPerSecond;
  EXPECT_GT(B.ChangeTime, Now - 600 * TicksPerSecond);
  EXPECT_LT(B.ChangeTime, Now + 600 * TicksPerSecond);

  const auto WithoutTimes = Walk(TDirWalkOptions{false, true});
  EXPECT_EQ(WithoutTimes.at("b.txt").ModifyTime, 0);
  EXPECT_EQ(WithoutTimes.at("b.txt").ChangeTime, 0);
  EXPECT_EQ(WithoutTimes.at("deep").Kind, dekDirectory);
}

TEST_F(DirWalkTest, TheVisitorSteersTheWalk) {
  EXPECT_FALSE(Walk({}, [](const TDirWalkEntry& E) { return E.RelPath == "deep" ? dwvSkip : dwvContinue; })
                   .count("deep/c.txt"));
  EXPECT_EQ(Walk({}, [](const TDirWalkEntry&) { return dwvStop; }).size(), 1u);
  EXPECT_FALSE(Walk(TDirWalkOptions{true, false}).count("deep/c.txt")) << "not recursive, yet descended";
}

TEST_F(DirWalkTest, ARootThatCannotBeReadGivesItsCode) {
  struct TCase {
    fs::path Root;
    int Code;
  };
  const TCase Cases[] = {
      {FDir / "missing", ErrFileNotFound},
      {FDir / "missing" / "deeper", ErrPathNotFound},
      {FDir / "a.txt", ErrDirectory},
      {FDir / "a.txt" / "below-a-file", ErrPathNotFound},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Root.string());
    int Visits = 0;
    EXPECT_EQ(WalkDirectoryTree(Case.Root.string(), [&](const TDirWalkEntry&) { ++Visits; return dwvContinue; }),
              Case.Code);
    EXPECT_EQ(CheckDirectory(Case.Root.string()), Case.Code);
    EXPECT_EQ(Visits, 0);
  }
  EXPECT_EQ(CheckDirectory((FDir / "sub" / "link").string()), 0) << "the root may be reached through a link";
}

}  // namespace
}  // namespace dz
