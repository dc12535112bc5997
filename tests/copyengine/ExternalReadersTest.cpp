// Readers that no one here wrote decide whether the copy worker's output is
// valid: gzip, gunzip, Python's gzip and zipfile modules, unzip, 7z and
// bsdtar. Each one extracts every form of output (plain copy, gzip, zip
// stored and deflated, Zip64, names in code page 437 and in UTF-8, names
// that are not UTF-8 or hold a "\", an empty file) into a fresh folder, and
// what it extracted must be the source's bytes under the name the form
// promises (the source's own where the format can hold it) with the
// source's modification time, to the resolution of the format.
//
// The readers are declared dependencies (tools/install-deps.sh): a missing
// one fails the test rather than skipping it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "copyengine/CopyThread.h"
#include "filesys/ErrorTexts.h"
#include "filesys/FileUtils.h"
#include "support/ScopedEnvironment.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A zone with a fixed offset that is not a whole hour: a zip writer that
// forgot local time, or converted with a whole-hour offset, is caught. With
// no daylight saving, readers that convert an MS-DOS time with today's
// offset rather than the offset of that date (7z does) agree with the rest.
constexpr const char* TestTimeZone = "XST-5:30";

// 2021-03-14 15:09:27.65 UTC. The fraction tells rounding (gzip keeps the
// nearest second, 28) from truncation (the MS-DOS time keeps 26: whole
// seconds, halved).
constexpr TFileTime SourceTime = FileTimeOfUnixEpoch + 1615734567LL * FileTimeTicksPerSecond + 6500000;
constexpr std::int64_t SourceGzipSeconds = 1615734568;
constexpr std::int64_t SourceDosSeconds = 1615734566;

TFileTime FileTimeOfUnixSeconds(std::int64_t Seconds) {
  return FileTimeOfUnixEpoch + Seconds * FileTimeTicksPerSecond;
}

std::string SecondsText(TFileTime Time) {
  const TFileTime Ticks = Time - FileTimeOfUnixEpoch;
  std::string Fraction = std::to_string(Ticks % FileTimeTicksPerSecond);
  Fraction.insert(0, 7 - Fraction.size(), '0');
  return std::to_string(Ticks / FileTimeTicksPerSecond) + "." + Fraction;
}

// Text and pseudo-random bytes in turns of 16 KiB, so that deflate both
// compresses and stores blocks; the same bytes for the same seed.
std::string MixedContent(std::size_t Size, unsigned Seed) {
  std::mt19937 Random(Seed);
  std::string Out;
  Out.reserve(Size);
  int Line = 0;
  while (Out.size() < Size) {
    const std::size_t End = std::min(Size, (Out.size() / 16384 + 1) * 16384);
    if (Out.size() / 16384 % 2 == 0) {
      while (Out.size() < End) Out.push_back(static_cast<char>(Random() & 0xFF));
    } else {
      while (Out.size() < End) {
        const std::string Text = "line " + std::to_string(++Line) + ": backup of the changed files\n";
        Out.append(Text, 0, End - Out.size());
      }
    }
  }
  return Out;
}

// Compares two files in blocks, so that sources of 4 GiB need no memory.
::testing::AssertionResult SameContent(const fs::path& Expected, const fs::path& Actual) {
  std::ifstream A(Expected, std::ios::binary), B(Actual, std::ios::binary);
  if (!A || !B) return ::testing::AssertionFailure() << "cannot open " << (A ? Actual : Expected);
  std::vector<char> BufA(1 << 20), BufB(1 << 20);
  std::uint64_t Offset = 0;
  for (;;) {
    A.read(BufA.data(), static_cast<std::streamsize>(BufA.size()));
    B.read(BufB.data(), static_cast<std::streamsize>(BufB.size()));
    const auto NA = static_cast<std::size_t>(A.gcount()), NB = static_cast<std::size_t>(B.gcount());
    const std::size_t N = std::min(NA, NB);
    if (std::memcmp(BufA.data(), BufB.data(), N) != 0) {
      const auto Diff = std::mismatch(BufA.begin(), BufA.begin() + static_cast<std::ptrdiff_t>(N), BufB.begin());
      return ::testing::AssertionFailure() << "the bytes differ at offset " << Offset + (Diff.first - BufA.begin());
    }
    if (NA != NB)
      return ::testing::AssertionFailure() << "the extracted file has " << (NA < NB ? "more" : "fewer")
                                           << " bytes; the first difference is at offset " << Offset + std::min(NA, NB);
    if (NA == 0) return ::testing::AssertionSuccess();
    Offset += NA;
  }
}

std::string ShellQuote(std::string_view Text) {
  std::string Quoted = "'";
  for (const char C : Text) {
    if (C == '\'')
      Quoted += "'\\''";
    else
      Quoted += C;
  }
  return Quoted + "'";
}

void ReplaceAll(std::string& Text, std::string_view From, std::string_view To) {
  for (std::size_t At = Text.find(From); At != std::string::npos; At = Text.find(From, At + To.size()))
    Text.replace(At, From.size(), To);
}

// Python's modules as a reader: argv[1] the archive, argv[2] the folder.
// The gzip module does not give the stored name, so the content goes under
// a name of the test's choosing, with the member's MTIME.
constexpr const char* PythonGzipReader = R"(
import gzip, os, shutil, sys
with gzip.open(sys.argv[1]) as member, open(os.path.join(sys.argv[2], 'content'), 'wb') as out:
    shutil.copyfileobj(member, out, 1 << 20)
    mtime = member.mtime
os.utime(os.path.join(sys.argv[2], 'content'), (mtime, mtime))
)";

// zipfile decodes the name (code page 437, or UTF-8 with bit 11) and the
// MS-DOS time; the time is local time, as the zone of the process reads it.
constexpr const char* PythonZipReader = R"(
import os, shutil, sys, time, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    broken = archive.testzip()
    if broken is not None:
        sys.exit('CRC error in ' + broken)
    for entry in archive.infolist():
        path = os.path.join(sys.argv[2], entry.filename)
        with archive.open(entry) as data, open(path, 'wb') as out:
            shutil.copyfileobj(data, out, 1 << 20)
        t = time.mktime(entry.date_time + (0, 0, -1))
        os.utime(path, (t, t))
)";

enum class TFormat { fmPlain, fmGzip, fmZip };

// How a reader names what it extracts.
enum class TNameRule {
  nrNone,     // it restores no name (the content goes under a name of ours)
  nrStored,   // the stored bytes as they are: gzip's FNAME is ISO 8859-1 or,
              // with OS 11, UTF-8; a zip name is code page 437 or, with
              // bit 11, UTF-8
  nrUtf8,     // the name decoded and written as UTF-8
  nrLatin1,   // a code page 437 name converted to ISO 8859-1, a UTF-8 name
              // (bit 11, made on NTFS) kept (Info-ZIP's unzip on Unix)
};

struct TReader {
  const char* Label;
  TFormat Format;
  const char* Tool;  // must be on PATH
  // Shell commands; {archive} is the output, {source} the source, {dir} the
  // fresh folder, {gzip-reader} and {zip-reader} the Python programs above.
  const char* Test;  // nullptr: the extraction is the test
  const char* Extract;
  TNameRule Name;
  bool RestoresTime;
};

const TReader Readers[] = {
    {"cmp, cp -p", TFormat::fmPlain, "cmp", "cmp {source} {archive}", "cp -p {archive} {dir}/", TNameRule::nrStored,
     true},
    {"gzip -t, gunzip -c", TFormat::fmGzip, "gzip", "gzip -t {archive}", "gunzip -c {archive} > {dir}/content",
     TNameRule::nrNone, false},
    {"gunzip -N", TFormat::fmGzip, "gunzip", nullptr, "cp {archive} {dir}/x.gz && cd {dir} && gunzip -N x.gz",
     TNameRule::nrStored, true},
    {"python3 gzip", TFormat::fmGzip, "python3", nullptr, "python3 -c {gzip-reader} {archive} {dir}",
     TNameRule::nrNone, true},
    {"7z (gzip)", TFormat::fmGzip, "7z", "7z t {archive}", "7z x -bd -o{dir} {archive}", TNameRule::nrStored, true},
    {"unzip", TFormat::fmZip, "unzip", "unzip -t {archive}", "unzip -q {archive} -d {dir}", TNameRule::nrLatin1,
     true},
    {"python3 zipfile", TFormat::fmZip, "python3", nullptr, "python3 -c {zip-reader} {archive} {dir}",
     TNameRule::nrUtf8, true},
    {"7z (zip)", TFormat::fmZip, "7z", "7z t {archive}", "7z x -bd -o{dir} {archive}", TNameRule::nrStored, true},
    // libarchive takes names without bit 11 as raw bytes unless told that
    // the format's default is code page 437.
    {"bsdtar", TFormat::fmZip, "bsdtar", "bsdtar -tvf {archive}",
     "bsdtar --options hdrcharset=CP437 -xf {archive} -C {dir}", TNameRule::nrUtf8, true},
};

struct TForm {
  const char* Label;
  TCopyOptions Mask;
  const char* Name;  // UTF-8, or the bytes of a Linux name that is not
  // The name in ISO 8859-1 and in code page 437 when every character has a
  // byte there (for code page 437: one of the zip writer's 50 mappings);
  // nullptr when it is stored as UTF-8. ASCII names are the same in all.
  const char* Latin1Name;
  const char* Cp437Name;
  // The name every zip reader restores when it is not Name: a zip name is
  // always decoded, so bytes that are not UTF-8 come back as U+FFFD, and a
  // "\" (a folder separator to some readers) as U+FF3C.
  const char* ZipName;
  std::size_t Size;
};

// "Müller café.txt": ü and é are in ISO 8859-1 (FC, E9) and in code page 437
// (81, 82). The Greek and CJK name has no single-byte form at all.
constexpr const char* CafeName = "M\xC3\xBCller caf\xC3\xA9.txt";
constexpr const char* CafeLatin1 = "M\xFCller caf\xE9.txt";
constexpr const char* CafeCp437 = "M\x81ller caf\x82.txt";
constexpr const char* GreekCjkName = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC \xE6\xBC\xA2\xE5\xAD\x97.txt";
// A Linux name in a legacy encoding: é in ISO 8859-1 and a lone 0xFF. gzip
// keeps its bytes, and gunzip -N gives them back.
constexpr const char* RawName = "caf\xE9 \xFF.txt";
constexpr const char* RawZipName = "caf\xEF\xBF\xBD \xEF\xBF\xBD.txt";
constexpr const char* BackslashName = "2021\\03 report.txt";
constexpr const char* BackslashZipName = "2021\xEF\xBC\xBC" "03 report.txt";

constexpr std::size_t SourceSize = 300001;  // several blocks of the test's buffer, the last one short

const TForm Forms[] = {
    {"plain copy", CopyOptionsPlain, "report 2021.odt", "report 2021.odt", "report 2021.odt", nullptr, SourceSize},
    {"plain copy, empty file", CopyOptionsPlain, "empty.txt", "empty.txt", "empty.txt", nullptr, 0},
    {"gzip", CopyOptionsGzip, "report 2021.odt", "report 2021.odt", "report 2021.odt", nullptr, SourceSize},
    {"gzip, Latin-1 name", CopyOptionsGzip, CafeName, CafeLatin1, CafeCp437, nullptr, SourceSize},
    {"gzip, UTF-8 name", CopyOptionsGzip, GreekCjkName, nullptr, nullptr, nullptr, SourceSize},
    {"gzip, empty file", CopyOptionsGzip, "empty.txt", "empty.txt", "empty.txt", nullptr, 0},
    {"zip stored", CopyOptionsZipStored, "photo 0815.jpg", "photo 0815.jpg", "photo 0815.jpg", nullptr, SourceSize},
    {"zip deflated", CopyOptionsZipDeflated, "report 2021.odt", "report 2021.odt", "report 2021.odt", nullptr, SourceSize},
    {"zip, code page 437 name", CopyOptionsZipDeflated, CafeName, CafeLatin1, CafeCp437, nullptr, SourceSize},
    {"zip, UTF-8 name", CopyOptionsZipDeflated, GreekCjkName, nullptr, nullptr, nullptr, SourceSize},
    {"zip, empty file", CopyOptionsZipDeflated, "empty.txt", "empty.txt", "empty.txt", nullptr, 0},
    {"gzip, name not UTF-8", CopyOptionsGzip, RawName, RawName, nullptr, nullptr, SourceSize},
    {"gzip, name with a backslash", CopyOptionsGzip, BackslashName, BackslashName, BackslashName, nullptr, SourceSize},
    {"zip, name not UTF-8", CopyOptionsZipDeflated, RawName, nullptr, nullptr, RawZipName, SourceSize},
    {"zip, name with a backslash", CopyOptionsZipStored, BackslashName, BackslashName, BackslashName, BackslashZipName,
     SourceSize},
};

TFormat FormatOf(TCopyOptions Mask) {
  if (Mask & coZipCompress) return TFormat::fmZip;
  return (Mask & coCompress) ? TFormat::fmGzip : TFormat::fmPlain;
}

const char* ExtensionOf(TFormat Format) {
  switch (Format) {
    case TFormat::fmGzip: return ".gz";
    case TFormat::fmZip: return ".zip";
    default: return "";
  }
}

// The name the reader must give the extracted file; empty when the rule
// leaves nothing to check.
std::string ExpectedName(const TReader& Reader, const TForm& Form) {
  const TFormat Format = FormatOf(Form.Mask);
  if (Format == TFormat::fmZip && Form.ZipName && Reader.Name != TNameRule::nrNone) return Form.ZipName;
  switch (Reader.Name) {
    case TNameRule::nrNone: return "content";
    case TNameRule::nrUtf8: return Form.Name;
    case TNameRule::nrStored:
      if (Format == TFormat::fmGzip) return Form.Latin1Name ? Form.Latin1Name : Form.Name;
      if (Format == TFormat::fmZip) return Form.Cp437Name ? Form.Cp437Name : Form.Name;
      return Form.Name;
    case TNameRule::nrLatin1: return Form.Cp437Name ? Form.Latin1Name : Form.Name;
  }
  return "";
}

// The modification time the format keeps of SourceTime.
TFileTime ExpectedTime(TFormat Format) {
  switch (Format) {
    case TFormat::fmGzip: return FileTimeOfUnixSeconds(SourceGzipSeconds);
    case TFormat::fmZip: return FileTimeOfUnixSeconds(SourceDosSeconds);
    default: return SourceTime;
  }
}

class ExternalReadersTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FEnv.Set("TZ", TestTimeZone);
    // The readers write names in the locale's character set.
    FEnv.Set("LC_ALL", "C.UTF-8");
    fs::create_directories(FDir / "source");
    fs::create_directories(FDir / "output");
  }

  static void RequireTool(const char* Tool) {
    const std::string Command = std::string("command -v ") + Tool + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(Command.c_str()), 0)
        << Tool << " is not installed; it is one of the readers that judge the output (tools/install-deps.sh "
        << "installs gzip, unzip, p7zip-full, libarchive-tools and python3)";
  }

  // Runs a shell command with its output going to a log; on failure the log
  // is the message.
  ::testing::AssertionResult Run(const std::string& Command) {
    const fs::path Log = FDir / "command.log";
    const std::string Full = "( " + Command + " ) > " + ShellQuote(Log.string()) + " 2>&1";
    if (std::system(Full.c_str()) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Command << "\nfailed:\n" << ReadFileBytes(Log);
  }

  // Runs one copy worker as the backup worker does, with a small buffer so
  // that a source of a few hundred KiB takes several blocks.
  void Copy(const fs::path& Source, const fs::path& Dest, TCopyOptions Mask, int BufSize = 65536) {
    TWinCopyThread Worker(Source.string(), Dest.string(), Mask, false, BufSize);
    Worker.Wait();
    ASSERT_EQ(Worker.ErrorCode(), 0) << GetCopyErrorText(Worker.ErrorCode()) << "; " << Worker.SysErrorMsg();
  }

  fs::path MakeSource(const TForm& Form) {
    const fs::path Source = FDir / "source" / Form.Name;
    WriteFileBytes(Source, MixedContent(Form.Size, 1234));
    EXPECT_EQ(SetLastWriteFileTime(Source.string(), SourceTime, false), 0);
    return Source;
  }

  // Lets the reader test and extract Output into a fresh folder, then checks
  // the one file it extracted.
  // A reader's extraction checks the CRC as its test does, so WithTest
  // false only saves a second pass over a large entry.
  void CheckWithReader(const TReader& Reader, const fs::path& Source, const fs::path& Output,
                       const std::string& ExpectedFileName, bool WithTest = true) {
    SCOPED_TRACE(std::string("reader: ") + Reader.Label);
    RequireTool(Reader.Tool);
    if (HasFatalFailure()) return;
    const fs::path Dir = FDir / ("extracted-" + std::to_string(++FExtractions));
    fs::create_directories(Dir);
    const auto Expand = [&](std::string Command) {
      ReplaceAll(Command, "{archive}", ShellQuote(Output.string()));
      ReplaceAll(Command, "{source}", ShellQuote(Source.string()));
      ReplaceAll(Command, "{dir}", ShellQuote(Dir.string()));
      ReplaceAll(Command, "{gzip-reader}", ShellQuote(PythonGzipReader));
      ReplaceAll(Command, "{zip-reader}", ShellQuote(PythonZipReader));
      return Command;
    };
    if (Reader.Test && WithTest) {
      ASSERT_TRUE(Run(Expand(Reader.Test)));
    }
    ASSERT_TRUE(Run(Expand(Reader.Extract)));

    const std::vector<std::string> Extracted = test::Listing(Dir);
    ASSERT_EQ(Extracted.size(), 1u) << "the reader should extract exactly one file";
    if (!ExpectedFileName.empty()) {
      EXPECT_EQ(Extracted[0], ExpectedFileName);
    }
    const fs::path File = Dir / Extracted[0];
    EXPECT_TRUE(SameContent(Source, File));
    if (Reader.RestoresTime) {
      const TFileTime Time = GetLastWriteFileTime(File.string());
      EXPECT_EQ(Time, ExpectedTime(Reader.Format))
          << "seconds since 1970: extracted " << SecondsText(Time) << ", expected "
          << SecondsText(ExpectedTime(Reader.Format));
    }
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);  // a Zip64 extraction takes 4 GiB
  }

  test::TScopedEnvironment FEnv;
  int FExtractions = 0;
};

TEST_F(ExternalReadersTest, EveryFormExtractsToTheSourceWithEveryReader) {
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(std::string("form: ") + Form.Label);
    const fs::path Source = MakeSource(Form);
    const TFormat Format = FormatOf(Form.Mask);
    const fs::path Output = FDir / "output" / (std::string(Form.Name) + ExtensionOf(Format));
    Copy(Source, Output, Form.Mask);
    if (HasFatalFailure()) return;
    int Checked = 0;
    for (const TReader& Reader : Readers) {
      if (Reader.Format != Format) continue;
      CheckWithReader(Reader, Source, Output, ExpectedName(Reader, Form));
      ++Checked;
    }
    EXPECT_GE(Checked, Format == TFormat::fmPlain ? 1 : 4) << "readers for this form";
  }
}

// A source deflated in pieces on several threads (pieces of 64 KiB here,
// the last one short) is one ordinary member or entry to every reader.
TEST_F(ExternalReadersTest, OutputDeflatedInPiecesExtractsWithEveryReader) {
  TParallelDeflateSettings Settings;
  Settings.MinSize = 0;
  Settings.PieceSize = 65536;
  const TForm PieceForms[] = {
      {"gzip in pieces", CopyOptionsGzip, "report 2021.odt", "report 2021.odt", "report 2021.odt", nullptr,
       5 * Settings.PieceSize + 123},
      {"zip in pieces", CopyOptionsZipDeflated, "report 2021.odt", "report 2021.odt", "report 2021.odt", nullptr,
       5 * Settings.PieceSize + 123},
  };
  for (const TForm& Form : PieceForms) {
    SCOPED_TRACE(std::string("form: ") + Form.Label);
    const fs::path Source = MakeSource(Form);
    const TFormat Format = FormatOf(Form.Mask);
    const fs::path Output = FDir / "output" / (std::string(Form.Name) + ExtensionOf(Format));
    TCopyJob Job;
    Job.SetParallelDeflate(Settings);
    const TCopyResult Result = Job.Run({Source.string(), Output.string(), Form.Mask});
    ASSERT_EQ(Result.ErrorCode, 0) << GetCopyErrorText(Result.ErrorCode) << "; " << Result.SysErrorMsg;
    ASSERT_EQ(Result.DeflatePieces, 6);
    for (const TReader& Reader : Readers) {
      if (Reader.Format == Format) CheckWithReader(Reader, Source, Output, ExpectedName(Reader, Form));
    }
  }
}

// The smallest source that makes the zip writer use Zip64 fields: one byte
// above 0xFF000000, below 4 GiB, so the local header carries 0xFFFFFFFF
// sizes with the 20-byte extra field while the central directory keeps its
// 32-bit sizes and a Zip64 extra field without sizes. Sparse, and deflated,
// so that the source and the archive take little room; only the readers'
// extractions are real 4 GiB files, each removed after its check. Every
// reader inflates and writes 4 GiB, which takes minutes: a suite of its own,
// so that it runs with the large tests.
class ExternalReadersLargeTest : public ExternalReadersTest {};

TEST_F(ExternalReadersLargeTest, Zip64EntryExtractsWithEveryZipReader) {
  constexpr std::int64_t Size = 0xFF000001LL;
  const fs::path Source = FDir / "source" / "disk image.img";
  {
    std::ofstream Out(Source, std::ios::binary);
    const std::string Head = MixedContent(200000, 99);
    Out.write(Head.data(), static_cast<std::streamsize>(Head.size()));
    Out.seekp(Size - 24);
    Out.write("end of the large source\n", 24);
    ASSERT_TRUE(Out.good());
  }
  ASSERT_EQ(static_cast<std::int64_t>(fs::file_size(Source)), Size);
  ASSERT_EQ(SetLastWriteFileTime(Source.string(), SourceTime, false), 0);
  const fs::path Output = FDir / "output" / "disk image.img.zip";
  Copy(Source, Output, CopyOptionsZipDeflated, CopyThreadBufferSize);
  if (HasFatalFailure()) return;
  // Version needed 45 and both sizes 0xFFFFFFFF in the local header: the
  // readers below really meet the Zip64 fields.
  const std::string Header = ReadFileBytes(Output).substr(0, 30);
  ASSERT_EQ(Header.size(), 30u);
  EXPECT_EQ(Header.substr(4, 2), std::string("\x2D\x00", 2));
  EXPECT_EQ(Header.substr(18, 8), std::string(8, '\xFF'));

  for (const TReader& Reader : Readers) {
    if (Reader.Format != TFormat::fmZip) continue;
    CheckWithReader(Reader, Source, Output, "disk image.img", false);
  }
}

}  // namespace
}  // namespace dz
