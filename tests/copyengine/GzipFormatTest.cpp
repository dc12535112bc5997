// Gzip output: the member's bytes, its name encodings and its sizes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "copyengine/CopyThread.h"
#include "copyengine/GzipFormat.h"
#include "CopyTestUtil.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

using test::Le16;
using test::Le32;
using test::Le64;

std::string Hex(std::string_view Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Out;
  for (unsigned char C : Bytes) {
    if (!Out.empty()) Out += ' ';
    Out += Digits[C >> 4];
    Out += Digits[C & 15];
  }
  return Out;
}

class GzipOutputTest : public test::TTempDirTest {};

TEST_F(GzipOutputTest, ThreeLettersGiveTheFortyNineByteMember) {
  test::WriteFileBytes(FDir / "abc", "abc");
  test::SetMTime(FDir / "abc", 1600000000);
  const auto Result = test::RunCopyJob(PathOf("abc"), PathOf("abc.gz"), CopyOptionsGzip);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  EXPECT_EQ(Hex(test::ReadFileBytes(FDir / "abc.gz")),
            "1F 8B 08 0C 00 10 5E 5F 00 00 14 00 01 00 10 00 05 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 "
            "61 62 63 00 4B 4C 4A 06 00 C2 41 24 35 03 00 00 00");
  EXPECT_EQ(Result.Crc, 0x352441C2u);
  EXPECT_EQ(Result.Ratio, 1667);  // 5 bytes of deflate data for 3 source bytes
}

TEST_F(GzipOutputTest, EmptySourceGivesTheFortySixByteMember) {
  test::WriteFileBytes(FDir / "abc", "");
  test::SetMTime(FDir / "abc", 1600000000);
  const auto Result = test::RunCopyJob(PathOf("abc"), PathOf("abc.gz"), CopyOptionsGzip);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  EXPECT_EQ(Hex(test::ReadFileBytes(FDir / "abc.gz")),
            "1F 8B 08 0C 00 10 5E 5F 00 00 14 00 01 00 10 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "61 62 63 00 03 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(Result.Crc, 0u);
  EXPECT_EQ(Result.Ratio, -1);
}

// Several transfer buffers and several deflate output buffers: the member
// restores the source, and every size and check field agrees with it.
TEST_F(GzipOutputTest, LargeSourceRoundTripsWithConsistentSizes) {
  const std::string Data = test::MixedBytes(3 * 1024 * 1024 + 12345);
  test::WriteFileBytes(FDir / "data.bin", Data);
  test::SetMTime(FDir / "data.bin", 1234567890);
  const auto Result = test::RunCopyJob(PathOf("data.bin"), PathOf("data.bin.gz"), CopyOptionsGzip);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;

  const std::string Gz = test::ReadFileBytes(FDir / "data.bin.gz");
  const std::size_t DataStart = 32 + std::string("data.bin").size() + 1;
  ASSERT_GT(Gz.size(), DataStart + 8);
  EXPECT_EQ(Le32(Gz, 4), 1234567890u);
  EXPECT_EQ(static_cast<unsigned char>(Gz[9]), GzipOsSingleByte);
  EXPECT_EQ(Gz.substr(32, DataStart - 32), std::string("data.bin") + '\0');
  const std::string Deflated = Gz.substr(DataStart, Gz.size() - DataStart - 8);
  EXPECT_EQ(Le64(Gz, 16), Deflated.size());
  EXPECT_EQ(Le64(Gz, 24), Data.size());
  EXPECT_EQ(Le32(Gz, Gz.size() - 8), test::Crc32Of(Data));
  EXPECT_EQ(Le32(Gz, Gz.size() - 4), static_cast<std::uint32_t>(Data.size()));
  EXPECT_TRUE(test::InflateRaw(Deflated) == Data) << "the deflate data does not restore the source";
  EXPECT_EQ(Result.Crc, test::Crc32Of(Data));
  const long long Expected = (static_cast<long long>(Deflated.size()) * 1000 * 2 + static_cast<long long>(Data.size())) /
                             (2 * static_cast<long long>(Data.size()));
  EXPECT_EQ(Result.Ratio, Expected);
}

TEST_F(GzipOutputTest, NameBeyondLatin1IsStoredAsUtf8WithOs11) {
  const std::string Name = "\xCE\x94\xCE\xB5\xCE\xBB\xCF\x84\xCE\xAF\xCE\xBF.txt";  // Δελτίο.txt
  test::WriteFileBytes(FDir / Name, "x");
  const auto Result = test::RunCopyJob(PathOf(Name), PathOf("out.gz"), CopyOptionsGzip);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  const std::string Gz = test::ReadFileBytes(FDir / "out.gz");
  EXPECT_EQ(static_cast<unsigned char>(Gz[3]), 0x0C);
  EXPECT_EQ(static_cast<unsigned char>(Gz[9]), GzipOsUtf8);
  EXPECT_EQ(Gz.substr(32, Name.size() + 1), Name + '\0');
}

TEST(GzipNameTest, EncodingFollowsTheHighestCharacter) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    bool Utf8;
  } const Cases[] = {
      {"report.docx", "report.docx", false},
      {"M\xC3\xBCller.txt", "M\xFCller.txt", false},  // Müller: Latin-1 single bytes
      {"\xC3\xBF", "\xFF", false},                    // ÿ, the last Latin-1 character
      {"\xC4\x80", "\xC4\x80", true},                 // Ā, the first beyond it
      {"a\xCE\xB1.txt", "a\xCE\xB1.txt", true},       // a Greek letter
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", true},  // beyond the BMP
      // Not UTF-8 (a Linux name in a legacy encoding): kept byte for byte.
      {"caf\xE9", "caf\xE9", false},
      {"", "", false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Hex(Case.Name));
    const TStoredName Stored = EncodeGzipName(Case.Name);
    EXPECT_EQ(Hex(Stored.Bytes), Hex(Case.Bytes));
    EXPECT_EQ(Stored.Utf8, Case.Utf8);
  }
}

TEST(GzipHeaderTest, WithoutNameHasNoFnameFlagAndNoTerminator) {
  const std::string Header = BuildGzipHeader(TStoredName{}, 0x01020304);
  EXPECT_EQ(Hex(Header),
            "1F 8B 08 04 04 03 02 01 00 00 14 00 01 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
}

// MTIME holds the source's last-write time in Unix seconds (UTC, whatever
// the local zone).
TEST_F(GzipOutputTest, MtimeIsTheSourcesLastWriteTime) {
  const struct {
    std::int64_t Seconds;
    std::uint32_t Mtime;
  } Cases[] = {{0, 0}, {1, 1}, {2147483647, 0x7FFFFFFF}, {4102444800, 0xF4865700}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Seconds);
    test::WriteFileBytes(FDir / "t", "t");
    test::SetMTime(FDir / "t", Case.Seconds);
    const auto Result = test::RunCopyJob(PathOf("t"), PathOf("t.gz"), CopyOptionsGzip);
    ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    EXPECT_EQ(Le32(test::ReadFileBytes(FDir / "t.gz"), 4), Case.Mtime);
    std::filesystem::remove(FDir / "t.gz");
  }
}

// The deflate writer on its own: many small writes and one that spans many
// output buffers give one stream that restores the input.
TEST_F(GzipOutputTest, DeflateWriterRestoresInputAcrossOutputBuffers) {
  const std::string Data = test::RandomBytes(5 * TDeflateWriter::OutputBufferSize + 7) + test::MixedBytes(100000);
  {
    TExtFileStream Out(PathOf("raw"), fmCreate);
    TDeflateWriter Writer(Out, 6);
    std::size_t Pos = 0;
    for (std::size_t Step = 1; Pos < 1000; Pos += Step, ++Step) ASSERT_EQ(Writer.Write(Data.data() + Pos, Step), 0);
    ASSERT_EQ(Writer.Write(Data.data() + Pos, Data.size() - Pos), 0);
    ASSERT_EQ(Writer.Close(), 0);
    ASSERT_EQ(Writer.Close(), 0) << "a second close changes nothing";
  }
  EXPECT_TRUE(test::InflateRaw(test::ReadFileBytes(FDir / "raw")) == Data);
}

}  // namespace
}  // namespace dz
