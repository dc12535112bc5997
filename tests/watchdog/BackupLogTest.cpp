#include "watchdog/BackupLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TestFiles.h"

namespace dz {
namespace {

using test::ReadFileBytes;

class TBackupLogTest : public test::TTempDirTest {
protected:
  std::string FDate = "2026-12-09";
  TBackupLogFile FLog{[this] { return FDate; }};
};

TEST_F(TBackupLogTest, DailyFileStartsWithTheMarkAndIsAppendedLineByLine) {
  ASSERT_TRUE(FLog.Open(FDir.string()));
  EXPECT_EQ(FLog.FileName(), PathOf("DeZedodiru 2026-12-09.log"));
  EXPECT_EQ(FLog.Write("09.12.2026 14:03:27 - 01: /data/\xce\xb1\xce\xb2.txt => /backup/"), "");
  EXPECT_EQ(FLog.Write("first\r\n  *** second"), "");
  FLog.Close();
  EXPECT_FALSE(FLog.IsOpen());
  EXPECT_EQ(FLog.Write("not written while closed"), "");

  // A second start the same day appends; the next day has a file of its own.
  ASSERT_TRUE(FLog.Open(FDir.string()));
  EXPECT_EQ(FLog.Write("again"), "");
  FLog.Close();
  FDate = "2026-12-10";
  ASSERT_TRUE(FLog.Open(FDir.string()));
  EXPECT_EQ(FLog.Write("next day"), "");
  FLog.Close();

  EXPECT_EQ(ReadFileBytes(PathOf("DeZedodiru 2026-12-09.log")),
            "\xEF\xBB\xBF"
            "09.12.2026 14:03:27 - 01: /data/\xce\xb1\xce\xb2.txt => /backup/\r\n"
            "first\r\n  *** second\r\nagain\r\n");
  EXPECT_EQ(ReadFileBytes(PathOf("DeZedodiru 2026-12-10.log")), "\xEF\xBB\xBFnext day\r\n");
}

// Two writers on one day's file (a second instance on the same settings):
// each line lands at the end as it is now, none over another's.
TEST_F(TBackupLogTest, TwoWritersOnOneFileKeepEveryLine) {
  TBackupLogFile Other{[this] { return FDate; }};
  ASSERT_TRUE(FLog.Open(FDir.string()));
  ASSERT_TRUE(Other.Open(FDir.string()));
  std::string Expected = "\xEF\xBB\xBF";
  for (int I = 0; I < 3; ++I) {
    for (TBackupLogFile* Writer : {&FLog, &Other}) {
      const std::string Line = (Writer == &FLog ? "first " : "second ") + std::to_string(I);
      ASSERT_EQ(Writer->Write(Line), "");
      Expected += Line + "\r\n";
    }
  }
  FLog.Close();
  Other.Close();
  EXPECT_EQ(ReadFileBytes(PathOf("DeZedodiru 2026-12-09.log")), Expected);
}

TEST_F(TBackupLogTest, FolderThatDoesNotExistLeavesTheFileClosed) {
  EXPECT_FALSE(FLog.Open(PathOf("missing")));
  EXPECT_FALSE(FLog.IsOpen());
  EXPECT_EQ(FLog.Write("line"), "");
}

TEST(LocalDateTextTest, HasTheFormOfADate) {
  const std::string Date = LocalDateText();
  ASSERT_EQ(Date.size(), 10u);
  EXPECT_EQ(Date[4], '-');
  EXPECT_EQ(Date[7], '-');
  EXPECT_GE(Date.substr(0, 4), "2024");
}

class TBackupLogFullTest : public test::TTmpfsTest<64> {
protected:
  TBackupLogFile FLog{[] { return std::string("2026-12-09"); }};
};

TEST_F(TBackupLogFullTest, WriteErrorClosesTheFileAndGivesOneLine) {
  ASSERT_TRUE(FLog.Open(FDir.string()));
  Fill(FDir / "filler");
  const std::string Line = FLog.Write(std::string(16384, 'x'));
  EXPECT_NE(Line.find("could not be written"), std::string::npos) << Line;
  EXPECT_NE(Line.find(PathOf("DeZedodiru 2026-12-09.log")), std::string::npos) << Line;
  EXPECT_FALSE(FLog.IsOpen());
  EXPECT_EQ(FLog.Write("after"), "");
}

}  // namespace
}  // namespace dz
