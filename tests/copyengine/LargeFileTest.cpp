// Sources around and beyond 4 GiB: the Zip64 decision, the Zip64 records and
// gzip's 64-bit sizes. The sources are sparse files of zeros, which read and
// deflate quickly; only the stored zip beyond 4 GiB writes its full size.

#include <gtest/gtest.h>

#include <fstream>

#include "CopyTestUtil.h"
#include "copyengine/CopyThread.h"
#include "copyengine/ZipFormat.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::Le16;
using test::Le32;
using test::Le64;

constexpr std::uint64_t FourGiB = 0x100000000;

std::string ReadRange(const fs::path& Path, std::uint64_t Offset, std::size_t Size) {
  std::ifstream In(Path, std::ios::binary);
  In.seekg(static_cast<std::streamoff>(Offset));
  std::string Out(Size, '\0');
  In.read(Out.data(), static_cast<std::streamsize>(Size));
  Out.resize(static_cast<std::size_t>(In.gcount()));
  return Out;
}

// The CRC-32 of Count zero bytes, by doubling a run of zeros with
// crc32_combine instead of running over gigabytes.
std::uint32_t CrcOfZeros(std::uint64_t Count) {
  const char Zero = 0;
  uLong Run = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(&Zero), 1);  // a run of RunLength zeros
  std::uint64_t RunLength = 1;
  uLong Crc = crc32(0, nullptr, 0);
  for (; Count > 0; Count >>= 1) {
    if (Count & 1) Crc = crc32_combine(Crc, Run, static_cast<z_off_t>(RunLength));
    Run = crc32_combine(Run, Run, static_cast<z_off_t>(RunLength));
    RunLength *= 2;
  }
  return static_cast<std::uint32_t>(Crc);
}

// Inflates a raw deflate stream that must hold exactly Count zero bytes.
void ExpectDeflatedZeros(std::string_view Data, std::uint64_t Count) {
  z_stream Z{};
  ASSERT_EQ(inflateInit2(&Z, -15), Z_OK);
  Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  Z.avail_in = static_cast<uInt>(Data.size());
  std::string Out(1 << 20, '\0');
  const std::string Zeros(Out.size(), '\0');
  std::uint64_t Total = 0;
  bool AllZero = true;
  int Result = Z_OK;
  while (Result == Z_OK) {
    Z.next_out = reinterpret_cast<Bytef*>(Out.data());
    Z.avail_out = static_cast<uInt>(Out.size());
    Result = inflate(&Z, Z_NO_FLUSH);
    const std::size_t Got = Out.size() - Z.avail_out;
    AllZero = AllZero && Out.compare(0, Got, Zeros, 0, Got) == 0;
    Total += Got;
  }
  inflateEnd(&Z);
  EXPECT_EQ(Result, Z_STREAM_END);
  EXPECT_EQ(Z.avail_in, 0u);
  EXPECT_EQ(Total, Count);
  EXPECT_TRUE(AllZero);
}

TEST(CrcOfZerosTest, AgreesWithTheDirectSum) {
  for (const std::size_t Count : {0u, 1u, 2u, 3u, 1000u, 65537u}) {
    SCOPED_TRACE(Count);
    EXPECT_EQ(CrcOfZeros(Count), test::Crc32Of(std::string(Count, '\0')));
  }
}

class LargeFileTest : public test::TTempDirTest {
protected:
  std::string SparseSource(std::uint64_t Size) {
    { std::ofstream(FDir / "big", std::ios::binary); }
    fs::resize_file(FDir / "big", Size);
    return PathOf("big");
  }
};

// A deflated zip of a large source, small enough to be read whole.
struct TBigZip {
  std::string Bytes;
  std::size_t CdStart = 0;
};

TBigZip ZipOfZeros(const std::string& Source, const std::string& Dest, std::uint64_t Size) {
  const auto Result = test::RunCopyJob(Source, Dest, CopyOptionsZipDeflated);
  EXPECT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  EXPECT_EQ(Result.Crc, CrcOfZeros(Size));
  TBigZip Zip;
  Zip.Bytes = test::ReadFileBytes(Dest);
  EXPECT_GT(Zip.Bytes.size(), 22u);
  if (Zip.Bytes.size() > 22) {
    const std::size_t End = Zip.Bytes.size() - 22;
    EXPECT_EQ(Le32(Zip.Bytes, End), 0x06054B50u) << "the archive is small: a plain end record";
    Zip.CdStart = Le32(Zip.Bytes, End + 16);
    EXPECT_EQ(Zip.CdStart + Le32(Zip.Bytes, End + 12), End);
  }
  return Zip;
}

TEST_F(LargeFileTest, ZipAtTheThresholdHasNoZip64Fields) {
  const std::uint64_t Size = Zip64Threshold;
  const TBigZip Zip = ZipOfZeros(SparseSource(Size), PathOf("big.zip"), Size);
  const std::string& B = Zip.Bytes;
  EXPECT_EQ(Le16(B, 4), 20);
  EXPECT_EQ(Le16(B, 8), 8);
  EXPECT_EQ(Le32(B, 22), Size);
  EXPECT_EQ(Le16(B, 28), 0) << "no extra field";
  const std::size_t DataStart = 30 + 3;
  EXPECT_EQ(Le32(B, 18), Zip.CdStart - DataStart);
  EXPECT_EQ(Le16(B, Zip.CdStart + 6), 20);
  EXPECT_EQ(Le32(B, Zip.CdStart + 24), Size);
  EXPECT_EQ(Le16(B, Zip.CdStart + 30), 0);
}

TEST_F(LargeFileTest, ZipOneByteAboveTheThresholdUsesZip64) {
  const std::uint64_t Size = Zip64Threshold + 1;
  const TBigZip Zip = ZipOfZeros(SparseSource(Size), PathOf("big.zip"), Size);
  const std::string& B = Zip.Bytes;
  EXPECT_EQ(Le16(B, 4), 45);
  EXPECT_EQ(Le32(B, 14), CrcOfZeros(Size));
  EXPECT_EQ(Le32(B, 18), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(B, 22), 0xFFFFFFFFu);
  EXPECT_EQ(Le16(B, 28), 20);
  EXPECT_EQ(Le16(B, 33), 1);
  EXPECT_EQ(Le16(B, 35), 16);
  const std::size_t DataStart = 30 + 3 + 20;
  EXPECT_EQ(Le64(B, 37), Size);
  EXPECT_EQ(Le64(B, 45), Zip.CdStart - DataStart);
  // Both sizes fit in 32 bits: the central directory holds them there, and
  // its Zip64 extra field is empty.
  const std::size_t C = Zip.CdStart;
  EXPECT_EQ(Le16(B, C + 4), 45);
  EXPECT_EQ(Le16(B, C + 6), 45);
  EXPECT_EQ(Le32(B, C + 20), Zip.CdStart - DataStart);
  EXPECT_EQ(Le32(B, C + 24), Size);
  EXPECT_EQ(Le16(B, C + 30), 4);
  EXPECT_EQ(B.substr(C + 46 + 3), std::string("\x01\x00\x00\x00", 4) + B.substr(B.size() - 22));
}

TEST_F(LargeFileTest, ZipBeyondFourGiBWithSmallDataHoldsOneSize) {
  const std::uint64_t Size = FourGiB + 1;
  const TBigZip Zip = ZipOfZeros(SparseSource(Size), PathOf("big.zip"), Size);
  const std::string& B = Zip.Bytes;
  const std::size_t DataStart = 30 + 3 + 20;
  const std::uint64_t Compressed = Zip.CdStart - DataStart;
  EXPECT_EQ(Le64(B, 37), Size);
  EXPECT_EQ(Le64(B, 45), Compressed);
  const std::size_t C = Zip.CdStart;
  EXPECT_EQ(Le32(B, C + 20), Compressed);
  EXPECT_EQ(Le32(B, C + 24), 0xFFFFFFFFu);
  EXPECT_EQ(Le16(B, C + 30), 12);
  EXPECT_EQ(Le16(B, C + 46 + 3), 1);
  EXPECT_EQ(Le16(B, C + 46 + 5), 8);
  EXPECT_EQ(Le64(B, C + 46 + 7), Size);
  EXPECT_EQ(C + 46 + 3 + 12, B.size() - 22);
  ExpectDeflatedZeros(std::string_view(B).substr(DataStart, Compressed), Size);
}

TEST_F(LargeFileTest, GzipBeyondFourGiBKeepsTheFullSizeInItsSubfield) {
  const std::uint64_t Size = FourGiB + 12345;
  const auto Result = test::RunCopyJob(SparseSource(Size), PathOf("big.gz"), CopyOptionsGzip);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  const std::string B = test::ReadFileBytes(FDir / "big.gz");
  const std::size_t DataStart = 32 + 4;
  ASSERT_GT(B.size(), DataStart + 8);
  EXPECT_EQ(Le64(B, 16), B.size() - DataStart - 8);
  EXPECT_EQ(Le64(B, 24), Size);
  EXPECT_EQ(Le32(B, B.size() - 8), CrcOfZeros(Size));
  EXPECT_EQ(Le32(B, B.size() - 4), 12345u) << "ISIZE is the size modulo 2^32";
}

// A stored entry beyond 4 GiB: both sizes in the extra fields, and the
// central directory beyond 4 GiB needs the Zip64 end record and locator.
TEST_F(LargeFileTest, StoredZipBeyondFourGiBGetsZip64EndRecords) {
  const std::uint64_t Size = FourGiB + 7;
  const fs::path Dest = FDir / "big.zip";
  const auto Result = test::RunCopyJob(SparseSource(Size), Dest.string(), CopyOptionsZipStored);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  EXPECT_EQ(Result.Crc, CrcOfZeros(Size));
  const std::uint64_t DataStart = 30 + 3 + 20;
  const std::uint64_t CdStart = DataStart + Size;
  const std::uint64_t CdSize = 46 + 3 + 20;
  const std::uint64_t FileSize = CdStart + CdSize + 56 + 20 + 22;
  ASSERT_EQ(fs::file_size(Dest), FileSize);

  const std::string Head = ReadRange(Dest, 0, DataStart);
  EXPECT_EQ(Le16(Head, 4), 45);
  EXPECT_EQ(Le16(Head, 8), 0);
  EXPECT_EQ(Le32(Head, 14), CrcOfZeros(Size));
  EXPECT_EQ(Le64(Head, 37), Size);
  EXPECT_EQ(Le64(Head, 45), Size);

  const std::string Tail = ReadRange(Dest, CdStart, static_cast<std::size_t>(FileSize - CdStart));
  EXPECT_EQ(Le32(Tail, 0), 0x02014B50u);
  EXPECT_EQ(Le32(Tail, 20), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(Tail, 24), 0xFFFFFFFFu);
  EXPECT_EQ(Le16(Tail, 30), 20);
  EXPECT_EQ(Le16(Tail, 49), 1);
  EXPECT_EQ(Le16(Tail, 51), 16);
  EXPECT_EQ(Le64(Tail, 53), Size) << "uncompressed first";
  EXPECT_EQ(Le64(Tail, 61), Size);
  const std::size_t Z64 = CdSize;
  EXPECT_EQ(Le32(Tail, Z64), 0x06064B50u);
  EXPECT_EQ(Le64(Tail, Z64 + 40), CdSize);
  EXPECT_EQ(Le64(Tail, Z64 + 48), CdStart);
  EXPECT_EQ(Le32(Tail, Z64 + 56), 0x07064B50u);
  EXPECT_EQ(Le64(Tail, Z64 + 64), CdStart + CdSize) << "the locator points to the Zip64 end record";
  const std::size_t End = Z64 + 76;
  EXPECT_EQ(Le32(Tail, End), 0x06054B50u);
  EXPECT_EQ(Le32(Tail, End + 12), CdSize);
  EXPECT_EQ(Le32(Tail, End + 16), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace dz
