// One-file zip output: header fields, name encodings, Zip64 records.

#include <gtest/gtest.h>

#include <string>

#include "CopyTestUtil.h"
#include "copyengine/CopyThread.h"
#include "copyengine/ZipFormat.h"
#include "filesys/FileUtils.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

using test::Le16;
using test::Le32;
using test::Le64;

// The fields of an archive holding one entry, read from its end record, so
// that every offset the writer put into it is followed and checked.
struct TParsedZip {
  std::uint16_t LocalVersion, LocalFlags, LocalMethod, NameLength, LocalExtraLength;
  std::uint32_t LocalDosTime, LocalCrc, LocalCompressed, LocalUncompressed;
  std::string LocalName, Data;
  std::uint64_t CdStart;
  std::string Central;  // the central directory header with name and extra field
};

TParsedZip ParseSmallZip(const std::string& Zip) {
  TParsedZip P{};
  EXPECT_GE(Zip.size(), 30u + 46u + 22u);
  if (Zip.size() < 30 + 46 + 22) return P;
  const std::size_t End = Zip.size() - 22;
  EXPECT_EQ(Le32(Zip, End), 0x06054B50u) << "no end record in the last 22 bytes";
  EXPECT_EQ(Le16(Zip, End + 4), 0);
  EXPECT_EQ(Le16(Zip, End + 6), 0);
  EXPECT_EQ(Le16(Zip, End + 8), 1);
  EXPECT_EQ(Le16(Zip, End + 10), 1);
  EXPECT_EQ(Le16(Zip, End + 20), 0);
  P.CdStart = Le32(Zip, End + 16);
  EXPECT_EQ(P.CdStart + Le32(Zip, End + 12), End) << "the central directory does not reach the end record";
  EXPECT_EQ(Le32(Zip, 0), 0x04034B50u);
  P.LocalVersion = Le16(Zip, 4);
  P.LocalFlags = Le16(Zip, 6);
  P.LocalMethod = Le16(Zip, 8);
  P.LocalDosTime = Le32(Zip, 10);
  P.LocalCrc = Le32(Zip, 14);
  P.LocalCompressed = Le32(Zip, 18);
  P.LocalUncompressed = Le32(Zip, 22);
  P.NameLength = Le16(Zip, 26);
  P.LocalExtraLength = Le16(Zip, 28);
  P.LocalName = Zip.substr(30, P.NameLength);
  const std::size_t DataStart = 30u + P.NameLength + P.LocalExtraLength;
  EXPECT_LE(DataStart, P.CdStart);
  if (DataStart <= P.CdStart) P.Data = Zip.substr(DataStart, P.CdStart - DataStart);
  if (P.CdStart <= End) P.Central = Zip.substr(P.CdStart, End - P.CdStart);
  return P;
}

class ZipOutputTest : public test::TTempDirTest {
protected:
  // Writes the source with a fixed time and returns the archive's bytes.
  std::string Zip(const std::string& Name, const std::string& Content, TCopyOptions Options) {
    test::WriteFileBytes(FDir / Name, Content);
    test::SetMTime(FDir / Name, 1600000000);
    const auto Result = test::RunCopyJob(PathOf(Name), PathOf("out.zip"), Options);
    EXPECT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
    FLastResult = Result;
    return test::ReadFileBytes(FDir / "out.zip");
  }
  std::uint32_t SourceDosTime() const {
    return static_cast<std::uint32_t>(FileTimeToDosTime(test::UnixToFileTime(1600000000)));
  }
  test::TJobResult FLastResult;
};

// The central directory header agrees with the local one and with the data.
void ExpectCentralHeader(const TParsedZip& P, std::uint32_t ExternalAttr) {
  const std::string& C = P.Central;
  ASSERT_EQ(C.size(), 46u + P.NameLength) << "one central header, no extra field";
  EXPECT_EQ(Le32(C, 0), 0x02014B50u);
  // made by: the version needed; the host NTFS (11) for a UTF-8 name, else
  // MS-DOS (0), whose names readers take for code page 437
  EXPECT_EQ(Le16(C, 4), (P.LocalFlags & 0x0800) ? 0x0B14 : 20);
  EXPECT_EQ(Le16(C, 6), 20);
  EXPECT_EQ(Le16(C, 8), P.LocalFlags);
  EXPECT_EQ(Le16(C, 10), P.LocalMethod);
  EXPECT_EQ(Le32(C, 12), P.LocalDosTime);
  EXPECT_EQ(Le32(C, 16), P.LocalCrc);
  EXPECT_EQ(Le32(C, 20), P.LocalCompressed);
  EXPECT_EQ(Le32(C, 24), P.LocalUncompressed);
  EXPECT_EQ(Le16(C, 28), P.NameLength);
  EXPECT_EQ(Le16(C, 30), 0);  // extra
  EXPECT_EQ(Le16(C, 32), 0);  // comment
  EXPECT_EQ(Le16(C, 34), 0);  // disk
  EXPECT_EQ(Le16(C, 36), 0);  // internal attributes
  EXPECT_EQ(Le32(C, 38), ExternalAttr);
  EXPECT_EQ(Le32(C, 42), 0u);  // local header offset
  EXPECT_EQ(C.substr(46), P.LocalName);
}

TEST_F(ZipOutputTest, SmallStoredEntry) {
  const std::string Content = "Hello, world\n";
  const TParsedZip P = ParseSmallZip(Zip("hello.txt", Content, CopyOptionsZipStored));
  EXPECT_EQ(P.LocalVersion, 20);
  EXPECT_EQ(P.LocalFlags, 0x0080);
  EXPECT_EQ(P.LocalMethod, 0);
  EXPECT_EQ(P.LocalDosTime, SourceDosTime());
  EXPECT_EQ(P.LocalCrc, test::Crc32Of(Content));
  EXPECT_EQ(P.LocalCompressed, Content.size());
  EXPECT_EQ(P.LocalUncompressed, Content.size());
  EXPECT_EQ(P.LocalExtraLength, 0);
  EXPECT_EQ(P.LocalName, "hello.txt");
  EXPECT_EQ(P.Data, Content);
  ExpectCentralHeader(P, faArchive);
  EXPECT_EQ(FLastResult.Ratio, -1) << "stored data has no ratio";
}

TEST_F(ZipOutputTest, SmallDeflatedEntry) {
  const std::string Content = test::MixedBytes(700000);
  const TParsedZip P = ParseSmallZip(Zip("data.bin", Content, CopyOptionsZipDeflated));
  EXPECT_EQ(P.LocalVersion, 20);
  EXPECT_EQ(P.LocalFlags, 0x0082);
  EXPECT_EQ(P.LocalMethod, 8);
  EXPECT_EQ(P.LocalDosTime, SourceDosTime());
  EXPECT_EQ(P.LocalCrc, test::Crc32Of(Content));
  EXPECT_EQ(P.LocalCompressed, P.Data.size());
  EXPECT_EQ(P.LocalUncompressed, Content.size());
  EXPECT_LT(P.Data.size(), Content.size());
  EXPECT_TRUE(test::InflateRaw(P.Data) == Content) << "the entry's data does not restore the source";
  ExpectCentralHeader(P, faArchive);
  EXPECT_EQ(FLastResult.Crc, test::Crc32Of(Content));
  EXPECT_EQ(FLastResult.Ratio, static_cast<int>((P.Data.size() * 1000 + Content.size() / 2) / Content.size()));
}

TEST_F(ZipOutputTest, EmptySourceIsStoredEvenWhenDeflateIsAsked) {
  const TParsedZip P = ParseSmallZip(Zip("empty", "", CopyOptionsZipDeflated));
  EXPECT_EQ(P.LocalMethod, 0);
  EXPECT_EQ(P.LocalFlags, 0x0080);
  EXPECT_EQ(P.LocalCrc, 0u);
  EXPECT_EQ(P.LocalCompressed, 0u);
  EXPECT_EQ(P.LocalUncompressed, 0u);
  EXPECT_TRUE(P.Data.empty());
  ExpectCentralHeader(P, faArchive);
  EXPECT_EQ(FLastResult.Ratio, -1);
}

TEST_F(ZipOutputTest, NamesInCodePage437AndUtf8) {
  struct TCase {
    const char* Name;
    std::string Stored;
    std::uint16_t Flags;
  } const Cases[] = {
      {"Gr\xC3\xBC\xC3\x9F" "e.txt", "Gr\x81\xE1" "e.txt", 0x0082},    // Grüße: code page 437
      {"\xCE\xB1\xCE\xB2.txt", "\xCE\xB1\xCE\xB2.txt", 0x0882},          // αβ: UTF-8, bit 11
      {"\xC3\xA1.txt", "\xC3\xA1.txt", 0x0882},                          // á is not in the table
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TParsedZip P = ParseSmallZip(Zip(Case.Name, "some text, some text, some text", CopyOptionsZipDeflated));
    EXPECT_EQ(P.LocalName, Case.Stored);
    EXPECT_EQ(P.LocalFlags, Case.Flags);
    ExpectCentralHeader(P, faArchive);
    std::filesystem::remove(FDir / Case.Name);
    std::filesystem::remove(FDir / "out.zip");
  }
}

// External attributes: the low 16 bits only, the permission bits stay out.
TEST_F(ZipOutputTest, ReadOnlySourceGivesReadOnlyExternalAttributes) {
  test::WriteFileBytes(FDir / "ro.txt", "read only");
  std::filesystem::permissions(FDir / "ro.txt", std::filesystem::perms(0444));
  const auto Result = test::RunCopyJob(PathOf("ro.txt"), PathOf("out.zip"), CopyOptionsZipStored);
  ASSERT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
  const TParsedZip P = ParseSmallZip(test::ReadFileBytes(FDir / "out.zip"));
  ExpectCentralHeader(P, faArchive | faReadOnly);
}

TEST(ZipNameTest, EncodeZipName) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    bool Utf8;
  } const Cases[] = {
      {"report.docx", "report.docx", false},
      {"\xC3\xA9t\xC3\xA9", "\x82t\x82", false},       // été
      {"\xC3\x84\xC3\x96\xC3\x9C", "\x8E\x99\x9A", false},  // ÄÖÜ
      {"\xC2\xB1\xC2\xBD\xC3\xBF", "\xF1\xAB\x98", false},  // ±½ÿ
      {"\xC2\xAA", "\xC2\xAA", true},                  // ª: code page 437 has it, the table does not
      {"\xC2\xB7", "\xC2\xB7", true},                  // middle dot
      {"\xC2\xA0", "\xC2\xA0", true},                  // no-break space
      // § and ¶ would become the control codes 0x15 and 0x14.
      {"\xC2\xA7" "1", "\xC2\xA7" "1", true},
      {"\xC2\xB6", "\xC2\xB6", true},
      {"\xE2\x82\xAC", "\xE2\x82\xAC", true},          // €
      {"\xEF\xBF\xBD", "\xEF\xBF\xBD", true},          // a real U+FFFD stays what it is
      // Readers decode every zip name, so bytes that are not UTF-8 become
      // U+FFFD each, and a "\", which some readers take for a folder
      // separator, becomes U+FF3C; the exact name goes into an extra field.
      {"caf\xE9", "caf\xEF\xBF\xBD", true},
      {"x\xE2\x82", "x\xEF\xBF\xBD\xEF\xBF\xBD", true},  // a sequence cut short
      {"a\\b.txt", "a\xEF\xBC\xBC" "b.txt", true},
      {"\xFC\\", "\xEF\xBF\xBD\xEF\xBC\xBC", true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TStoredName Stored = EncodeZipName(Case.Name);
    EXPECT_EQ(Stored.Bytes, Case.Bytes);
    EXPECT_EQ(Stored.Utf8, Case.Utf8);
    // The exact bytes are kept only where the stored name cannot give them.
    const bool Lossy = Stored.Utf8 && Stored.Bytes != Case.Name;
    EXPECT_EQ(Stored.Original, Lossy ? std::string(Case.Name) : std::string());
  }
}

// A name the stored form cannot give back travels with its exact bytes in
// an extra field (tag 0x7A64) of both headers, which readers skip.
TEST_F(ZipOutputTest, ExactNameIsKeptInAnExtraField) {
  const std::string Name = "caf\xE9 a\\b";
  const std::string Archive = Zip(Name, "some text", CopyOptionsZipDeflated);
  const std::string Stored = "caf\xEF\xBF\xBD a\xEF\xBC\xBC" "b";
  const std::string Extra = std::string("\x64\x7A", 2) + static_cast<char>(Name.size()) + '\0' + Name;
  ASSERT_GT(Archive.size(), 30 + Stored.size() + Extra.size());
  EXPECT_EQ(Le16(Archive, 6), 0x0882);
  EXPECT_EQ(Le16(Archive, 26), Stored.size());
  EXPECT_EQ(Le16(Archive, 28), Extra.size());
  EXPECT_EQ(Archive.substr(30, Stored.size() + Extra.size()), Stored + Extra);
  const std::size_t End = Archive.size() - 22;
  const std::size_t Cd = Le32(Archive, End + 16);
  EXPECT_EQ(Le16(Archive, Cd + 28), Stored.size());
  EXPECT_EQ(Le16(Archive, Cd + 30), Extra.size());
  EXPECT_EQ(Archive.substr(Cd + 46, Stored.size() + Extra.size()), Stored + Extra);
  EXPECT_EQ(Cd + 46 + Stored.size() + Extra.size(), End);
}

// Every mapped character takes its own byte: no two share one, and none
// is a control code.
TEST(ZipNameTest, OemBytesAreDistinctPrintableBytes) {
  int Mapped = 0;
  bool Seen[256] = {};
  for (char32_t Ch = 0x80; Ch <= 0xFF; ++Ch) {
    const std::uint8_t Byte = OemNameByte(Ch);
    if (Byte == 0) continue;
    ++Mapped;
    EXPECT_GT(Byte, 0x20) << static_cast<unsigned>(Ch);
    EXPECT_FALSE(Seen[Byte]) << static_cast<unsigned>(Ch);
    Seen[Byte] = true;
  }
  EXPECT_EQ(Mapped, 48);
  EXPECT_EQ(OemNameByte(U'A'), 0) << "ASCII needs no table";
}

// The records the Zip64 sizes produce, without writing 4 GiB.
TEST(ZipRecordTest, LocalHeaderWithZip64) {
  TZipEntry Entry;
  Entry.Name = EncodeZipName("big");
  Entry.Zip64 = true;
  Entry.Method = ZipMethodDeflated;
  Entry.DosTime = 0x11223344;
  const std::string H = BuildZipLocalHeader(Entry);
  ASSERT_EQ(H.size(), 30u + 3u + 20u);
  EXPECT_EQ(Le16(H, 4), 45);
  EXPECT_EQ(Le16(H, 6), 0x0082);
  EXPECT_EQ(Le16(H, 8), 8);
  EXPECT_EQ(Le32(H, 10), 0x11223344u);
  EXPECT_EQ(Le32(H, 14), 0u);
  EXPECT_EQ(Le32(H, 18), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(H, 22), 0xFFFFFFFFu);
  EXPECT_EQ(Le16(H, 26), 3);
  EXPECT_EQ(Le16(H, 28), 20);
  EXPECT_EQ(H.substr(30, 3), "big");
  EXPECT_EQ(Le16(H, 33), 1);
  EXPECT_EQ(Le16(H, 35), 16);
  EXPECT_EQ(Le64(H, 37), 0u);
  EXPECT_EQ(Le64(H, 45), 0u);
  EXPECT_EQ(ZipLocalZip64SizesOffset(Entry), 37u);

  Entry.UncompressedSize = 0x100000001;
  Entry.CompressedSize = 0x4000;
  Entry.Crc = 0xCAFEBABE;
  EXPECT_EQ(BuildZipLocalPatch(Entry), std::string("\xBE\xBA\xFE\xCA", 4)) << "with Zip64 only the CRC";
  const std::string P64 = BuildZipLocal64Patch(Entry);
  ASSERT_EQ(P64.size(), 16u);
  EXPECT_EQ(Le64(P64, 0), 0x100000001u);
  EXPECT_EQ(Le64(P64, 8), 0x4000u);
}

TEST(ZipRecordTest, CentralZip64ExtraHoldsTheSizesAboveFourGiB) {
  struct TCase {
    bool Zip64;
    std::uint64_t Uncompressed, Compressed;
    std::uint32_t Field32Uncompressed, Field32Compressed;
    std::string Extra;  // after the name
  } const Cases[] = {
      {false, 1000, 500, 1000, 500, ""},
      {true, 0xFF000001, 0x1000, 0xFF000001, 0x1000, std::string("\x01\x00\x00\x00", 4)},
      {true, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, std::string("\x01\x00\x00\x00", 4)},
      {true, 0x100000000, 0x2000, 0xFFFFFFFF, 0x2000,
       std::string("\x01\x00\x08\x00\x00\x00\x00\x00\x01\x00\x00\x00", 12)},
      {true, 0x100000002, 0x100000001, 0xFFFFFFFF, 0xFFFFFFFF,
       std::string("\x01\x00\x10\x00\x02\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00", 20)},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Uncompressed);
    TZipEntry Entry;
    Entry.Name = EncodeZipName("f");
    Entry.Zip64 = Case.Zip64;
    Entry.Method = ZipMethodDeflated;
    Entry.UncompressedSize = Case.Uncompressed;
    Entry.CompressedSize = Case.Compressed;
    Entry.ExternalAttr = 0x21;
    const std::string C = BuildZipCentralHeader(Entry);
    ASSERT_EQ(C.size(), 46u + 1u + Case.Extra.size());
    EXPECT_EQ(Le16(C, 4), Case.Zip64 ? 45 : 20);
    EXPECT_EQ(Le16(C, 6), Case.Zip64 ? 45 : 20);
    EXPECT_EQ(Le32(C, 20), Case.Field32Compressed);
    EXPECT_EQ(Le32(C, 24), Case.Field32Uncompressed);
    EXPECT_EQ(Le16(C, 30), Case.Extra.size());
    EXPECT_EQ(Le32(C, 38), 0x21u);
    EXPECT_EQ(C.substr(47), Case.Extra);
  }
}

TEST(ZipRecordTest, EndRecordsGetZip64FormBeyondFourGiB) {
  {
    SCOPED_TRACE("central directory ends at 0xFFFFFFFF: classic end record");
    const std::string E = BuildZipEndRecords(0xFFFFFFFF - 60, 0xFFFFFFFF);
    ASSERT_EQ(E.size(), 22u);
    EXPECT_EQ(Le32(E, 0), 0x06054B50u);
    EXPECT_EQ(Le32(E, 12), 60u);
    EXPECT_EQ(Le32(E, 16), 0xFFFFFFFF - 60);
  }
  {
    SCOPED_TRACE("one byte further: Zip64 end record and locator first");
    const std::uint64_t CdStart = 0xFFFFFFFF - 59, CdEnd = 0x100000000;
    const std::string E = BuildZipEndRecords(CdStart, CdEnd);
    ASSERT_EQ(E.size(), 56u + 20u + 22u);
    EXPECT_EQ(Le32(E, 0), 0x06064B50u);
    EXPECT_EQ(Le64(E, 4), 44u);
    EXPECT_EQ(Le16(E, 12), 45);
    EXPECT_EQ(Le16(E, 14), 45);
    EXPECT_EQ(Le32(E, 16), 0u);
    EXPECT_EQ(Le32(E, 20), 0u);
    EXPECT_EQ(Le64(E, 24), 1u);
    EXPECT_EQ(Le64(E, 32), 1u);
    EXPECT_EQ(Le64(E, 40), 60u);
    EXPECT_EQ(Le64(E, 48), CdStart);
    EXPECT_EQ(Le32(E, 56), 0x07064B50u);
    EXPECT_EQ(Le32(E, 60), 0u);
    EXPECT_EQ(Le64(E, 64), CdEnd) << "the locator points to the Zip64 end record";
    EXPECT_EQ(Le32(E, 72), 1u);
    EXPECT_EQ(Le32(E, 76), 0x06054B50u);
    EXPECT_EQ(Le16(E, 84), 1);
    EXPECT_EQ(Le16(E, 86), 1);
    EXPECT_EQ(Le32(E, 88), 60u);
    EXPECT_EQ(Le32(E, 92), 0xFFFFFFFFu);
    EXPECT_EQ(Le16(E, 96), 0);
  }
}

}  // namespace
}  // namespace dz
