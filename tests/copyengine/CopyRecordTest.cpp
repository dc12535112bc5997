// Reading back what a gzip or zip copy records of its source: from the copy
// job's own output, from records beyond 4 GiB built with the writer's
// functions, and the copies that have no record.

#include <gtest/gtest.h>

#include <string>

#include "CopyTestUtil.h"
#include "copyengine/ByteWriter.h"
#include "copyengine/CopyRecord.h"
#include "copyengine/GzipFormat.h"
#include "copyengine/ZipFormat.h"
#include "filesys/FileUtils.h"
#include "platform/FileOps.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

class CopyRecordTest : public test::TTempDirTest {
protected:
  bool Read(const std::string& Path, TCopyFormat Format, TCopyRecord& Record) {
    TFileHandle File;
    TFileStatus Status;
    EXPECT_EQ(OpenFileHandle(Path, ofRead, 0, File), 0) << Path;
    EXPECT_EQ(File.Status(Status), 0);
    return ReadCopyRecord(File, static_cast<std::uint64_t>(Status.Size), Format, Record);
  }
};

TEST_F(CopyRecordTest, JobOutputGivesBackSizeCrcTimeAndName) {
  struct TCase {
    const char* Name;
    std::size_t Size;
  };
  const TCase Sources[] = {{"empty.txt", 0}, {"small.txt", 100}, {"Bücher €.dat", 700 * 1024}};
  const TCopyOptions Forms[] = {CopyOptionsGzip, CopyOptionsZipStored, CopyOptionsZipDeflated};
  for (const TCase& C : Sources)
    for (const TCopyOptions Options : Forms) {
      SCOPED_TRACE(std::string(C.Name) + " options " + std::to_string(Options));
      const std::string Data = test::MixedBytes(C.Size, static_cast<unsigned>(C.Size));
      test::WriteFileBytes(FDir / C.Name, Data);
      test::SetMTime(FDir / C.Name, 1700000001);
      const bool Zip = (Options & coZipCompress) != 0;
      const std::string Copy = PathOf(std::string(C.Name) + (Zip ? ".zip" : ".gz"));
      std::filesystem::remove(Copy);
      ASSERT_EQ(test::RunCopyJob(PathOf(C.Name), Copy, Options).ErrorCode, 0);

      TCopyRecord Record;
      ASSERT_TRUE(Read(Copy, Zip ? TCopyFormat::cfZip : TCopyFormat::cfGzip, Record));
      EXPECT_EQ(Record.Size, C.Size);
      EXPECT_EQ(Record.Crc, test::Crc32Of(Data));
      const TFileTime Time = test::UnixToFileTime(1700000001);
      EXPECT_EQ(Record.Time, Zip ? static_cast<std::uint32_t>(FileTimeToDosTime(Time)) : 1700000001u);
      EXPECT_EQ(Record.Name, Zip ? EncodeZipName(C.Name).Bytes : EncodeGzipName(C.Name).Bytes);
      // The other format's reader finds nothing it knows.
      EXPECT_FALSE(Read(Copy, Zip ? TCopyFormat::cfGzip : TCopyFormat::cfZip, Record));
    }
}

// A member of more than 4 GiB: ISIZE has wrapped, the extra field has the
// whole size.
TEST(GzipRecordTest, SizeBeyondFourGiBComesFromTheExtraField) {
  const std::uint64_t Size = (std::uint64_t{5} << 32) + 17;
  const std::uint64_t Compressed = (std::uint64_t{1} << 32) + 3;
  std::string Head = BuildGzipHeader(EncodeGzipName("big.bin"), 1234);
  TByteWriter Sizes;
  Sizes.U64(Compressed).U64(Size);
  Head.replace(GzipSizesOffset, 16, Sizes.Data());
  const std::uint64_t FileSize = Head.size() + Compressed + GzipTrailerSize;
  TByteWriter Tail;
  Tail.U32(0xCAFEF00D).U32(static_cast<std::uint32_t>(Size));
  TCopyRecord Record;
  ASSERT_TRUE(ParseGzipCopy(Head, Tail.Data(), FileSize, Record));
  EXPECT_EQ(Record.Size, Size);
  EXPECT_EQ(Record.Crc, 0xCAFEF00Du);
  EXPECT_EQ(Record.Time, 1234u);
  EXPECT_EQ(Record.Name, "big.bin");

  // The size modulo 2^32 must agree with ISIZE.
  TByteWriter Wrong;
  Wrong.U32(0xCAFEF00D).U32(static_cast<std::uint32_t>(Size) + 1);
  EXPECT_FALSE(ParseGzipCopy(Head, Wrong.Data(), FileSize, Record));
}

TEST(ZipRecordReadTest, Zip64SizesAndEndRecordsBeyondFourGiB) {
  TZipEntry Entry;
  Entry.Name = EncodeZipName("big.bin");
  Entry.Zip64 = true;
  Entry.Method = ZipMethodDeflated;
  Entry.DosTime = 0x5A6B7C8D;
  Entry.Crc = 0x01020304;
  Entry.UncompressedSize = (std::uint64_t{6} << 32) + 5;
  Entry.CompressedSize = (std::uint64_t{4} << 32) + 9;
  Entry.ExternalAttr = 0x20;
  const std::string Central = BuildZipCentralHeader(Entry);
  const std::uint64_t CdStart = ZipLocalHeaderSize + 7 + ZipLocalZip64ExtraSize + Entry.CompressedSize;
  const std::uint64_t CdEnd = CdStart + Central.size();
  const std::string End = BuildZipEndRecords(CdStart, CdEnd);
  ASSERT_EQ(End.size(), ZipRecordTailSize);

  TZipDirectorySpan Span;
  ASSERT_TRUE(ParseZipEnd(End, CdEnd + End.size(), Span));
  EXPECT_EQ(Span.Start, CdStart);
  EXPECT_EQ(Span.Size, Central.size());
  TZipEntry Read;
  ASSERT_TRUE(ParseZipCentralHeader(Central, Read));
  EXPECT_TRUE(Read.Zip64);
  EXPECT_EQ(Read.UncompressedSize, Entry.UncompressedSize);
  EXPECT_EQ(Read.CompressedSize, Entry.CompressedSize);
  EXPECT_EQ(Read.Crc, Entry.Crc);
  EXPECT_EQ(Read.DosTime, Entry.DosTime);
  EXPECT_EQ(Read.Method, Entry.Method);
  EXPECT_EQ(Read.ExternalAttr, Entry.ExternalAttr);
  EXPECT_EQ(Read.Name.Bytes, "big.bin");

  // Only the size above 4 GiB is in the Zip64 field; the other is 32-bit.
  Entry.CompressedSize = 0xFF000123;
  ASSERT_TRUE(ParseZipCentralHeader(BuildZipCentralHeader(Entry), Read));
  EXPECT_EQ(Read.UncompressedSize, Entry.UncompressedSize);
  EXPECT_EQ(Read.CompressedSize, 0xFF000123u);

  // The end records of an archive below 4 GiB, and a directory that does
  // not reach them.
  const std::string Small = BuildZipEndRecords(1000, 1060);
  ASSERT_TRUE(ParseZipEnd(Small, 1060 + Small.size(), Span));
  EXPECT_EQ(Span.Start, 1000u);
  EXPECT_EQ(Span.Size, 60u);
  EXPECT_FALSE(ParseZipEnd(Small, 1061 + Small.size(), Span));
  EXPECT_FALSE(ParseZipEnd(End, CdEnd + End.size() + 1, Span));
}

// Files that are no complete copy made by the job have no record: they are
// never taken for a copy of anything.
TEST_F(CopyRecordTest, IncompleteOrForeignCopiesHaveNoRecord) {
  const std::string Data = test::MixedBytes(5000);
  test::WriteFileBytes(FDir / "s", Data);
  ASSERT_EQ(test::RunCopyJob(PathOf("s"), PathOf("s.gz"), CopyOptionsGzip).ErrorCode, 0);
  ASSERT_EQ(test::RunCopyJob(PathOf("s"), PathOf("s.zip"), CopyOptionsZipDeflated).ErrorCode, 0);
  const std::string Gz = test::ReadFileBytes(FDir / "s.gz");
  const std::string Zip = test::ReadFileBytes(FDir / "s.zip");

  // A gzip member as other programs write it: no extra field with the sizes.
  std::string Foreign = Gz;
  Foreign[3] = 0x08;  // FNAME only
  Foreign.erase(10, 22);

  std::string NoSizes = Gz;  // as a member that was never finished has them
  NoSizes.replace(GzipSizesOffset, 16, std::string(16, '\0'));

  struct TCase {
    const char* Why;
    std::string Bytes;
    TCopyFormat Format;
  };
  const TCase Cases[] = {
      {"gzip cut short", Gz.substr(0, Gz.size() - 1), TCopyFormat::cfGzip},
      {"gzip with a byte more", Gz + "x", TCopyFormat::cfGzip},
      {"gzip without the sizes field", Foreign, TCopyFormat::cfGzip},
      {"gzip whose sizes were not filled in", NoSizes, TCopyFormat::cfGzip},
      {"gzip header alone", Gz.substr(0, 40), TCopyFormat::cfGzip},
      {"zip cut short", Zip.substr(0, Zip.size() - 1), TCopyFormat::cfZip},
      {"zip with a comment", Zip.substr(0, Zip.size() - 2) + std::string("\x02\x00hi", 4), TCopyFormat::cfZip},
      {"zip without its end record", Zip.substr(0, Zip.size() - ZipEndRecordSize), TCopyFormat::cfZip},
      {"empty file", "", TCopyFormat::cfZip},
      {"empty file as gzip", "", TCopyFormat::cfGzip},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Why);
    test::WriteFileBytes(FDir / "copy", C.Bytes);
    TCopyRecord Record;
    EXPECT_FALSE(Read(PathOf("copy"), C.Format, Record));
  }
}

}  // namespace
}  // namespace dz
