// File metadata, file times, the extended file stream and the single-file
// copy, on real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/SafeFormat.h"
#include "filesys/FileUtils.h"
#include "filesys/XlFileUtils.h"
#include "platform/Environment.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "platform/posix/PosixFileOps.h"
#include "support/AsUser.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::ModeOf;
using test::SetMode;
using namespace std::chrono;
using namespace std::chrono_literals;

constexpr TFileTime OneDay = 86400 * FileTimeTicksPerSecond;
constexpr TFileTime OneHour = 3600 * FileTimeTicksPerSecond;

TFileTime FileTimeOf(sys_time<nanoseconds> Time) {
  return FileTimeOfUnixEpoch + Time.time_since_epoch().count() / 100;
}

// 2020-09-13 12:26:40 UTC, Unix time 1,600,000,000.
const TFileTime Sep2020 = FileTimeOf(sys_days{year{2020} / 9 / 13} + 12h + 26min + 40s);

TFileTime NowFileTime() {
  return FileTimeOf(system_clock::now());
}

TFileStatus StatusOf(const std::string& Path, bool FollowLink = true) {
  TFileStatus S;
  EXPECT_EQ(PathStatus(Path, FollowLink, S), 0) << Path;
  return S;
}

// Sets TZ for the life of the object; the tests that convert to local time
// must not depend on the machine's zone.
class TTimeZone {
public:
  explicit TTimeZone(const std::string& Zone) : FOld(EnvVar("TZ")) { SetEnvVar("TZ", Zone); }
  ~TTimeZone() {
    if (FOld.empty())
      UnsetEnvVar("TZ");
    else
      SetEnvVar("TZ", FOld);
  }
  TTimeZone(const TTimeZone&) = delete;
  TTimeZone& operator=(const TTimeZone&) = delete;

private:
  std::string FOld;
};

// Fourteen hours east of UTC, where a local clock reading taken for UTC is
// far off.
constexpr const char* FarEast = "XYZ-14";

class FileUtilsTest : public test::TTempDirTest {
protected:
  static void SetTimes(const std::string& Path, TFileTime Access, TFileTime Write) {
    ASSERT_EQ(SetPathTimes(Path, Access, Write, true), 0);
  }
};

TEST_F(FileUtilsTest, FileDataOfAMissingFileStaysReset) {
  TFileData Data;
  Data.FileSize = 99;
  Data.FileAttr = faReadOnly;
  Data.FullPath = "left over";
  EXPECT_FALSE(GetFileData(PathOf("missing.txt"), Data));
  EXPECT_EQ(Data.FileName, "missing.txt");
  EXPECT_EQ(Data.FullPath, "");
  EXPECT_EQ(Data.FileSize, 0);
  EXPECT_EQ(Data.FileAttr, static_cast<std::uint32_t>(faArchive));
  EXPECT_FALSE(Data.TimeStamps.Valid);
  EXPECT_EQ(Data.TimeStamps.CreationTime, 0);
  EXPECT_EQ(Data.TimeStamps.LastAccessTime, 0);
  EXPECT_EQ(Data.TimeStamps.LastWriteTime, 0);
}

TEST_F(FileUtilsTest, FileDataOfAFileAndOfALinkToIt) {
  const std::string Path = MakeFile("report.txt", "0123456789", 0640);
  SetTimes(Path, Sep2020 - OneDay + 7, Sep2020 + 1234567);
  fs::create_symlink("report.txt", FDir / "link.txt");
  fs::create_symlink("missing", FDir / "dangling");

  for (const char* Name : {"report.txt", "link.txt"}) {
    SCOPED_TRACE(Name);
    TFileData Data;
    ASSERT_TRUE(GetFileData(PathOf(Name), Data));
    EXPECT_EQ(Data.FileName, Name);
    EXPECT_EQ(Data.FullPath, "");
    EXPECT_EQ(Data.FileSize, 10);
    // A copy reads the target, so the data describe the target.
    EXPECT_EQ(Data.FileAttr, static_cast<std::uint32_t>(AttrWithMode(faArchive, 0640)));
    EXPECT_TRUE(Data.TimeStamps.Valid);
    EXPECT_EQ(Data.TimeStamps.LastWriteTime, Sep2020 + 1234567);
    EXPECT_EQ(Data.TimeStamps.LastAccessTime, Sep2020 - OneDay + 7);
    if (Data.TimeStamps.CreationTime != 0) {
      // Where the file system records it, the birth time is this test's.
      EXPECT_NEAR(static_cast<double>(Data.TimeStamps.CreationTime), static_cast<double>(NowFileTime()),
                  600.0 * FileTimeTicksPerSecond);
    }
  }
  TFileData Data;
  EXPECT_FALSE(GetFileData(PathOf("dangling"), Data));
  EXPECT_FALSE(Data.TimeStamps.Valid);
}

TEST_F(FileUtilsTest, TimestampsWithoutAllTimesChangeOnlyTheLastWriteTime) {
  const std::string Path = MakeFile("dest");
  const TFileTime OldAccess = Sep2020 - 10 * OneDay;
  SetTimes(Path, OldAccess, Sep2020 - 20 * OneDay);
  const TFileTime Created = StatusOf(Path).CreationTime;

  TFileTimestamps Stamps;
  Stamps.Valid = true;
  Stamps.CreationTime = Sep2020 - 100 * OneDay;
  Stamps.LastAccessTime = Sep2020 - OneDay;
  Stamps.LastWriteTime = Sep2020 + 1234567;  // 100-ns precision is kept
  EXPECT_EQ(SetFileTimestamps(Path, Stamps, false, false, false), 0);
  TFileStatus S = StatusOf(Path);
  EXPECT_EQ(S.LastWriteTime, Sep2020 + 1234567);
  EXPECT_EQ(S.LastAccessTime, OldAccess);
  EXPECT_EQ(S.CreationTime, Created);

  EXPECT_EQ(SetFileTimestamps(Path, Stamps, false, true, false), 0);
  S = StatusOf(Path);
  EXPECT_EQ(S.LastWriteTime, Sep2020 + 1234567);
  EXPECT_EQ(S.LastAccessTime, Sep2020 - OneDay);
  EXPECT_EQ(S.CreationTime, Created) << "Linux cannot set a creation time";

  EXPECT_EQ(SetFileTimestamps(PathOf("missing"), Stamps, false, false, false), ErrFileNotFound);
}

TEST_F(FileUtilsTest, CheckTimeReplacesImplausibleTimesWithNow) {
  // Under a zone far from UTC, "now" must still be the UTC time.
  const TTimeZone Zone(FarEast);
  const std::string Path = MakeFile("dest");
  const TFileTime Earlier = Sep2020;
  const struct {
    const char* Name;
    TFileTime Offset;  // from now; or an absolute time when Absolute
    bool Absolute;
    bool CheckTime;
    bool Valid;
    bool BecomesNow;
  } Cases[] = {
      {"two days ahead, checked", 2 * OneDay, false, true, true, true},
      {"one hour ahead, checked", OneHour, false, true, true, false},
      {"two days ahead, unchecked", 2 * OneDay, false, false, true, false},
      {"in the past, checked", Earlier, true, true, true, false},
      {"negative, checked", -5, true, true, true, true},
      {"not valid", Earlier, true, false, false, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    SetTimes(Path, Earlier - OneDay, Earlier - OneDay);
    const TFileTime Before = NowFileTime();
    TFileTimestamps Stamps;
    Stamps.Valid = C.Valid;
    Stamps.LastWriteTime = C.Absolute ? C.Offset : Before + C.Offset;
    EXPECT_EQ(SetFileTimestamps(Path, Stamps, C.CheckTime, false, false), 0);
    const TFileTime After = NowFileTime();
    const TFileTime Written = StatusOf(Path).LastWriteTime;
    if (C.BecomesNow) {
      EXPECT_GE(Written, Before);
      EXPECT_LE(Written, After);
    } else {
      EXPECT_EQ(Written, Stamps.LastWriteTime);
    }
  }
}

TEST_F(FileUtilsTest, TimestampsOfALinkOrItsTarget) {
  const std::string Target = MakeFile("target");
  fs::create_symlink("target", FDir / "link");
  const std::string Link = PathOf("link");
  SetTimes(Target, Sep2020, Sep2020);
  const TFileTime LinkOwn = StatusOf(Link, false).LastWriteTime;

  TFileTimestamps Stamps;
  Stamps.Valid = true;
  Stamps.LastWriteTime = Sep2020 + OneHour;
  EXPECT_EQ(SetFileTimestamps(Link, Stamps, false, false, true), 0);
  EXPECT_EQ(StatusOf(Target).LastWriteTime, Sep2020 + OneHour);
  EXPECT_EQ(StatusOf(Link, false).LastWriteTime, LinkOwn);

  Stamps.LastWriteTime = Sep2020 + 2 * OneHour;
  EXPECT_EQ(SetFileTimestamps(Link, Stamps, false, false, false), 0);
  EXPECT_EQ(StatusOf(Link, false).LastWriteTime, Sep2020 + 2 * OneHour);
  EXPECT_EQ(StatusOf(Target).LastWriteTime, Sep2020 + OneHour);
}

TEST_F(FileUtilsTest, LastWriteFileTime) {
  const std::string Path = MakeFile("file");
  SetTimes(Path, Sep2020 - OneDay, Sep2020 + 7);
  fs::create_symlink("file", FDir / "link");
  fs::create_symlink("missing", FDir / "dangling");
  EXPECT_EQ(GetLastWriteFileTime(Path), Sep2020 + 7);
  EXPECT_EQ(GetLastWriteFileTime(PathOf("link")), Sep2020 + 7);
  EXPECT_EQ(GetLastWriteFileTime(PathOf("dangling")), StatusOf(PathOf("dangling"), false).LastWriteTime);
  EXPECT_EQ(GetLastWriteFileTime(PathOf("missing")), 0);

  // Only the last-write time changes, through the link.
  EXPECT_EQ(SetLastWriteFileTime(PathOf("link"), Sep2020 + OneHour, true), 0);
  EXPECT_EQ(StatusOf(Path).LastWriteTime, Sep2020 + OneHour);
  EXPECT_EQ(StatusOf(Path).LastAccessTime, Sep2020 - OneDay);
  // 0 leaves the time as it is.
  EXPECT_EQ(SetLastWriteFileTime(Path, 0, true), 0);
  EXPECT_EQ(StatusOf(Path).LastWriteTime, Sep2020 + OneHour);
  // A time two days ahead becomes now when checked.
  const TFileTime Before = NowFileTime();
  EXPECT_EQ(SetLastWriteFileTime(Path, Before + 2 * OneDay, true), 0);
  EXPECT_LE(StatusOf(Path).LastWriteTime, NowFileTime());
  EXPECT_GE(StatusOf(Path).LastWriteTime, Before);
  EXPECT_EQ(SetLastWriteFileTime(Path, Before + 2 * OneDay, false), 0);
  EXPECT_EQ(StatusOf(Path).LastWriteTime, Before + 2 * OneDay);

  EXPECT_EQ(SetLastWriteFileTime(PathOf("missing"), Sep2020, true), ErrFileNotFound);
  EXPECT_EQ(SetLastWriteFileTime(PathOf("missing"), 0, true), ErrFileNotFound);
}

TEST(FileTimeConversionTest, UnixTime) {
  const struct {
    const char* Name;
    TFileTime Time;
    std::int64_t Expected;
  } Cases[] = {
      {"1970", FileTimeOfUnixEpoch, 0},
      {"2020-09-13 12:26:40", Sep2020, 1600000000},
      {"half a second rounds to even (down)", Sep2020 + 5000000, 1600000000},
      {"half a second rounds to even (up)", Sep2020 + FileTimeTicksPerSecond + 5000000, 1600000002},
      {"0.5009999 s is cut to 0.500 s first", Sep2020 + 5009999, 1600000000},
      {"0.501 s", Sep2020 + 5010000, 1600000001},
      {"0.4999999 s", Sep2020 + 4999999, 1600000000},
      {"before 1970", FileTimeOfUnixEpoch - FileTimeTicksPerSecond, -1},
      {"1601", 0, -11644473600},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(FileTimeToUnixTime(C.Time), C.Expected);
  }
  // A time that cannot be converted gives the current time.
  const TTimeZone Zone(FarEast);
  const std::int64_t Now = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(static_cast<double>(FileTimeToUnixTime(-1)), static_cast<double>(Now), 5.0);
}

TEST(FileTimeConversionTest, DosTimeInLocalTime) {
  auto Dos = [](int Year, unsigned Month, unsigned Day, unsigned Hour, unsigned Minute, unsigned Second) {
    const std::uint32_t Date = (static_cast<std::uint32_t>(Year - 1980) << 9) | (Month << 5) | Day;
    return static_cast<std::int32_t>((Date << 16) | (Hour << 11) | (Minute << 5) | (Second / 2));
  };
  auto Utc = [](int Year, unsigned Month, unsigned Day, hours H, minutes M = 0min, seconds S = 0s) {
    return FileTimeOf(sys_days{year{Year} / Month / Day} + H + M + S);
  };
  const struct {
    const char* Zone;
    TFileTime Time;
    std::int32_t Expected;
  } Cases[] = {
      {"UTC", Utc(1979, 7, 1, 12h), -1},
      {"UTC", Utc(1979, 12, 31, 23h, 59min, 59s), -1},
      {"UTC", Utc(1980, 1, 1, 0h), 0x00210000},
      {"UTC", Utc(2020, 9, 13, 12h, 26min, 40s), Dos(2020, 9, 13, 12, 26, 40)},
      {"UTC", Utc(2020, 9, 13, 12h, 26min, 41s), Dos(2020, 9, 13, 12, 26, 40)},  // two-second steps
      {"UTC", Utc(2107, 12, 31, 23h, 59min, 58s), Dos(2107, 12, 31, 23, 59, 58)},
      {"UTC", Utc(2108, 1, 1, 0h), -1},
      {"UTC", -1, -1},
      // Converted to local time before the range is checked.
      {"XYZ-2", Utc(2020, 9, 13, 12h, 26min, 40s), Dos(2020, 9, 13, 14, 26, 40)},
      {"XYZ-2", Utc(1979, 12, 31, 23h), Dos(1980, 1, 1, 1, 0, 0)},
      {"XYZ+5", Utc(1980, 1, 1, 3h), -1},
      // The offset of the moment itself: summer time in summer only.
      {"CET-1CEST,M3.5.0,M10.5.0/3", Utc(2021, 7, 1, 12h), Dos(2021, 7, 1, 14, 0, 0)},
      {"CET-1CEST,M3.5.0,M10.5.0/3", Utc(2021, 1, 1, 12h), Dos(2021, 1, 1, 13, 0, 0)},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Zone << " " << C.Time);
    const TTimeZone Zone(C.Zone);
    EXPECT_EQ(FileTimeToDosTime(C.Time), C.Expected);
  }
}

TEST(FileTimeConversionTest, DateTimeWithoutTimeZone) {
  const TTimeZone Zone(FarEast);
  const TDateTime Reading = local_days{year{2020} / 9 / 13} + 12h + 26min + 40s + 123ms;
  EXPECT_EQ(MakeFileTime(Reading), Sep2020 + 1230000);
  TDateTime Converted;
  ASSERT_TRUE(ConvertFileTime(Sep2020 + 1239999, Converted));
  EXPECT_EQ(Converted, Reading) << "no zone offset, milliseconds kept, the rest cut off";

  ASSERT_TRUE(ConvertFileTime(0, Converted));
  EXPECT_EQ(Converted, TDateTime{local_days{year{1601} / 1 / 1}});
  const TDateTime Last = local_days{year{9999} / 12 / 31} + 23h + 59min + 59s + 999ms;
  ASSERT_TRUE(ConvertFileTime(MakeFileTime(Last) + 9999, Converted));
  EXPECT_EQ(Converted, Last);
  EXPECT_LT(MakeFileTime(local_days{year{1600} / 12 / 31}), 0);

  // Out of range: false, and the current local date and time.
  const TDateTime LocalNow = TDateTime{floor<milliseconds>(system_clock::now()).time_since_epoch() + 14h};
  for (const TFileTime Bad : {TFileTime{-1}, MakeFileTime(Last) + 10000}) {
    SCOPED_TRACE(Bad);
    EXPECT_FALSE(ConvertFileTime(Bad, Converted));
    EXPECT_LT(std::chrono::abs(Converted - LocalNow), 1min);
  }
}

TEST_F(FileUtilsTest, StreamCreateOnAFolderRaisesWithTheCreateMessage) {
  fs::create_directory(FDir / "folder");
  const std::string Folder = PathOf("folder");
  try {
    TExtFileStream Stream(Folder, fmCreate);
    ADD_FAILURE() << "creating a file over a folder must raise";
  } catch (const EExtFileStreamError& Error) {
    EXPECT_EQ(Error.ErrorCode, ErrErrnoFlag | EISDIR);
    EXPECT_EQ(std::string(Error.what()),
              SafeFormat("Cannot create file \"%s\". %s", Folder, PlatformErrorText(Error.ErrorCode)));
    EXPECT_NE(PlatformErrorText(Error.ErrorCode), "");
  }
  // Opening a folder as a source is refused too, at once rather than at the
  // first read.
  try {
    TExtFileStream Stream(Folder, fmOpenRead | fmShareDenyNone);
    ADD_FAILURE() << "opening a folder must raise";
  } catch (const EExtFileStreamError& Error) {
    EXPECT_EQ(Error.ErrorCode, ErrErrnoFlag | EISDIR);
  }
}

TEST_F(FileUtilsTest, StreamOpenFailures) {
  MakeFile("existing", "old");
  const struct {
    const char* Name;
    std::uint16_t Mode;
    int Code;
    const char* Message;
  } Cases[] = {
      {"missing", fmOpenRead | fmShareDenyNone, ErrFileNotFound, "Cannot open file \"%s\". %s"},
      {"missing-dir/x", fmCreate, ErrFileNotFound, "Cannot create file \"%s\". %s"},
      {"existing", 0x0003, ErrInvalidParameter, "Cannot open file \"%s\". %s"},   // access bits 3
      {"existing", 0x0050, ErrInvalidParameter, "Cannot open file \"%s\". %s"},   // sharing beyond deny-none
      {"existing", fmCreate | fmExclusive, ErrAlreadyExists, "Cannot create file \"%s\". %s"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name + testing::PrintToString(C.Mode));
    const std::string Path = PathOf(C.Name);
    try {
      TExtFileStream Stream(Path, C.Mode);
      ADD_FAILURE() << "must raise";
    } catch (const EExtFileStreamError& Error) {
      EXPECT_EQ(Error.ErrorCode, C.Code);
      EXPECT_EQ(std::string(Error.what()), SafeFormat(C.Message, Path, PlatformErrorText(C.Code)));
    }
  }
  EXPECT_EQ(test::ReadFileBytes(FDir / "existing"), "old");
}

TEST_F(FileUtilsTest, StreamModesAndTransfers) {
  const std::string Path = MakeFile("file", "0123456789");
  char Buffer[16];
  std::int64_t Count = 0;
  {
    TExtFileStream Stream(Path, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(Stream.FileName(), Path);
    EXPECT_EQ(Stream.Size(), 10);
    // Fewer bytes than asked only at the end.
    const std::int64_t Expected[] = {4, 4, 2, 0};
    for (const std::int64_t Want : Expected) {
      EXPECT_EQ(Stream.Read(Buffer, 4, Count), 0);
      EXPECT_EQ(Count, Want);
    }
    EXPECT_EQ(Stream.Seek(-3, TSeekOrigin::soEnd), 7);
    EXPECT_EQ(Stream.Read(Buffer, sizeof Buffer, Count), 0);
    EXPECT_EQ(std::string(Buffer, static_cast<std::size_t>(Count)), "789");
    // A stream opened for reading cannot write.
    EXPECT_NE(Stream.Write("x", 1, Count), 0);
    EXPECT_EQ(Count, -1);
  }
  {
    TExtFileStream Stream(Path, fmOpenWrite | fmShareExclusive);
    EXPECT_EQ(Stream.Write("ab", 2, Count), 0);
    EXPECT_EQ(Count, 2);
    EXPECT_NE(Stream.Read(Buffer, 1, Count), 0);
    EXPECT_EQ(Count, -1);
  }
  EXPECT_EQ(test::ReadFileBytes(Path), "ab23456789");
  {
    TExtFileStream Stream(Path, fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_EQ(Stream.SetSize(4), 0);
    EXPECT_EQ(Stream.Read(Buffer, sizeof Buffer, Count), 0);
    EXPECT_EQ(std::string(Buffer, static_cast<std::size_t>(Count)), "ab23");
    EXPECT_EQ(Stream.Flush(), 0);
  }
  // Create replaces the content; a low byte of 0xFF is not "new only".
  for (const std::uint16_t Mode : {fmCreate, std::uint16_t{0xFFFF}}) {
    TExtFileStream Stream(Path, Mode);
    EXPECT_EQ(Stream.Size(), 0);
    EXPECT_EQ(Stream.Write("new", 3, Count), 0);
  }
  EXPECT_EQ(test::ReadFileBytes(Path), "new");
  {
    TExtFileStream Stream(PathOf("private"), fmCreate | fmExclusive, 0600);
    TExtFileStream Default(PathOf("default"), fmCreate);
  }
  EXPECT_EQ(ModeOf(FDir / "private"), 0600u);
  const unsigned Umask = 0777 & ~ModeOf(FDir / "default");
  EXPECT_EQ(ModeOf(FDir / "default"), 0666u & ~Umask);
}

TEST_F(FileUtilsTest, CopySingleFileCopiesContentTimeAndAttributes) {
  const std::string Content(100, 'c');
  const struct {
    const char* Name;
    std::string Content;
    int BufSize;
  } Cases[] = {
      {"several blocks", Content, 7},
      {"an exact multiple of the buffer", Content, 25},
      {"one block", Content, 262144},
      {"an empty file", "", 16},
      {"default buffer", Content, 0},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Source = MakeFile("source", C.Content, 0640);
    SetTimes(Source, Sep2020 - OneDay, Sep2020 + 1234567);
    const std::string Dest = PathOf("dest");
    CopySingleFile(Source, Dest, -1, C.BufSize);
    EXPECT_EQ(test::ReadFileBytes(Dest), C.Content);
    EXPECT_EQ(StatusOf(Dest).LastWriteTime, Sep2020 + 1234567);
    EXPECT_EQ(ModeOf(Dest), 0640u);
    fs::remove(Dest);
  }
}

TEST_F(FileUtilsTest, CopySingleFileReplacesAReadOnlyDestination) {
  const std::string Source = MakeFile("source", "new content", 0640);
  SetTimes(Source, Sep2020, Sep2020);
  const std::string Dest = MakeFile("dest", "old, longer content", 0444);
  CopySingleFile(Source, Dest, -1, 4);
  EXPECT_EQ(test::ReadFileBytes(Dest), "new content");
  EXPECT_EQ(ModeOf(Dest), 0640u);
  EXPECT_EQ(StatusOf(Dest).LastWriteTime, Sep2020);
  EXPECT_EQ(XlFileGetAttr(Dest), XlFileGetAttr(Source));
}

TEST_F(FileUtilsTest, CopySingleFileAppliesTheAttributesGiven) {
  const std::string Source = MakeFile("source", "x", 0640);
  // What a created file gets here (0666 less the umask).
  { TExtFileStream Probe(PathOf("probe"), fmCreate); }
  const unsigned Created = ModeOf(FDir / "probe");
  ASSERT_NE(Created & 0200, 0u);
  const struct {
    int Attr;
    unsigned Mode;
  } Cases[] = {
      // Windows bits only: the created file's permissions, made read-only or not.
      {faArchive | faReadOnly, Created & ~0222u},
      {faArchive, Created},
      {AttrWithMode(faArchive, 0600), 0600},
      {AttrWithMode(faArchive, 0755) | 0x60000000, 0755},  // bits that mean nothing are ignored
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << C.Attr);
    const std::string Dest = PathOf("dest");
    CopySingleFile(Source, Dest, C.Attr, 16);
    EXPECT_EQ(ModeOf(Dest), C.Mode);
    fs::remove(Dest);
  }
}

// Attributes without permission bits on a file that is replaced: the file
// keeps its own, read-only or not as the attributes say, although it was
// its owner's alone while the copy was written.
TEST_F(FileUtilsTest, CopySingleFileKeepsTheReplacedFilesPermissions) {
  const std::string Source = MakeFile("source", "new", 0600);
  const struct {
    unsigned Old;
    int Attr;
    unsigned Mode;
  } Cases[] = {
      {0640, faArchive, 0640},
      {0444, faArchive, 0644},
      {0664, faArchive | faReadOnly, 0444},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << std::oct << C.Old << " " << std::hex << C.Attr);
    const std::string Dest = MakeFile("dest", "old content", C.Old);
    CopySingleFile(Source, Dest, C.Attr, 2);
    EXPECT_EQ(test::ReadFileBytes(Dest), "new");
    EXPECT_EQ(ModeOf(Dest), C.Mode);
    fs::remove(Dest);
  }
}

TEST_F(FileUtilsTest, CopySingleFileOntoItselfDoesNothing) {
  const std::string Source = MakeFile("source", "must survive", 0640);
  fs::create_directory(FDir / "sub");
  fs::create_symlink("source", FDir / "link");
  fs::create_hard_link(FDir / "source", FDir / "hard");
  // The same name, and other names of the same file: creating the
  // destination would truncate the source.
  for (const std::string& Dest : {Source, PathOf("sub/../source"), PathOf("./source"), PathOf("link"), PathOf("hard")}) {
    SCOPED_TRACE(Dest);
    EXPECT_NO_THROW(CopySingleFile(Source, Dest, faReadOnly, 4));
    EXPECT_EQ(test::ReadFileBytes(Source), "must survive");
    EXPECT_EQ(ModeOf(Source), 0640u);
  }
  // Linux names that differ only in case are two files.
  CopySingleFile(Source, PathOf("SOURCE"), -1, 4);
  EXPECT_EQ(test::ReadFileBytes(FDir / "SOURCE"), "must survive");
}

TEST_F(FileUtilsTest, CopySingleFileFailures) {
  const std::string Source = MakeFile("source", "content");
  fs::create_symlink("missing", FDir / "dangling");
  fs::create_directory(FDir / "folder");
  const struct {
    const char* Name;
    std::string Src;
    std::string Dest;
    const char* Format;
    std::string Named;
    int Code;
  } Cases[] = {
      {"missing source", PathOf("missing"), PathOf("dest"), "File not found: \"%s\"", PathOf("missing"), 2},
      {"dangling link", PathOf("dangling"), PathOf("dest"), "File not found: \"%s\"", PathOf("dangling"), 2},
      {"a folder as source", PathOf("folder"), PathOf("dest"), "File not found: \"%s\"", PathOf("folder"), 2},
      {"no destination", Source, "", "File not found: \"%s\"", Source, 2},
      {"missing folder", Source, PathOf("none/dest"), "Error creating \"%s\"", PathOf("none/dest"), 2},
      {"a folder as destination", Source, PathOf("folder"), "Error creating \"%s\"", PathOf("folder"),
       ErrErrnoFlag | EISDIR},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    try {
      CopySingleFile(C.Src, C.Dest, -1, 16);
      ADD_FAILURE() << "must raise";
    } catch (const ECopyError& Error) {
      EXPECT_EQ(Error.ErrorCode, C.Code);
      EXPECT_EQ(std::string(Error.what()), SafeFormat(C.Format, C.Named));
    }
  }
  EXPECT_EQ(test::Listing(FDir), (std::vector<std::string>{"dangling", "folder", "source"}));
}

TEST_F(FileUtilsTest, CopySingleFileOfAnUnreadableSource) {
  const std::string Source = MakeFile("secret", "s", 0600);
  SetMode(FDir, 0777);
  if (test::RunningAsRoot()) {
    // The source stays root's; the destination folder is open to everyone.
  } else {
    SetMode(Source, 0200);
  }
  const std::string Dest = PathOf("copy");
  const auto Run = test::RunUnprivileged([&] {
    try {
      CopySingleFile(Source, Dest, -1, 16);
      return std::string("copied");
    } catch (const ECopyError& Error) {
      return std::to_string(Error.ErrorCode) + " " + Error.what();
    }
  });
  SetMode(Source, 0600);
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, "5 " + SafeFormat("Error opening \"%s\"", Source));
  EXPECT_FALSE(fs::exists(Dest));
}

using CopyFullDiskTest = test::TTmpfsTest<64>;

TEST_F(CopyFullDiskTest, FullDiskRaisesTheWritingError) {
  const std::string Source = PathOf("source");
  test::WriteFileBytes(Source, std::string(40 * 1024, 's'));
  const std::string Dest = PathOf("dest");
  try {
    CopySingleFile(Source, Dest, -1, 8192);
    ADD_FAILURE() << "40 KiB cannot be copied into 24 KiB";
  } catch (const ECopyError& Error) {
    EXPECT_EQ(Error.ErrorCode, ErrDiskFull);
    EXPECT_EQ(std::string(Error.what()), SafeFormat("Error writing to \"%s\"", Dest));
  }
  // The partly written destination stays, the source is untouched.
  EXPECT_TRUE(fs::exists(Dest));
  EXPECT_LT(fs::file_size(Dest), 40u * 1024);
  EXPECT_EQ(fs::file_size(Source), 40u * 1024);
}

// A private file copied onto a disk that fills up: the half-made copy that
// the failure leaves is as private as the copy would have become, whether it
// was created or an existing file readable by everyone was replaced.
TEST_F(CopyFullDiskTest, HalfMadeCopyIsOwnerOnly) {
  {
    TExtFileStream Probe(PathOf("probe"), fmCreate);
  }
  const unsigned Created = ModeOf(FDir / "probe");
  fs::remove(FDir / "probe");
  if ((Created & 077) == 0) GTEST_SKIP() << "the umask gives new files to their owner only; nothing to show";
  const std::string Source = MakeFile("source", std::string(40 * 1024, 's'), 0600);
  const struct {
    const char* Name;
    bool Exists;
  } Cases[] = {{"a new destination", false}, {"an existing destination readable by all", true}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Dest = PathOf("dest");
    if (C.Exists) MakeFile("dest", "old", 0644);
    try {
      CopySingleFile(Source, Dest, -1, 8192);
      ADD_FAILURE() << "40 KiB cannot be copied into 24 KiB";
    } catch (const ECopyError& Error) {
      EXPECT_EQ(Error.ErrorCode, ErrDiskFull);
    }
    ASSERT_TRUE(fs::exists(Dest));
    EXPECT_GT(fs::file_size(Dest), 0u) << "no data reached the destination";
    EXPECT_EQ(ModeOf(Dest), 0600u);
    fs::remove(Dest);
  }
}

TEST_F(FileUtilsTest, CopyFileSecurityCopiesModeAndOwner) {
  const std::string Source = MakeFile("source", "s", 0640);
  const std::string Dest = MakeFile("dest", "d", 0666);
  if (test::RunningAsRoot()) {
    ASSERT_EQ(ChangeOwner(Source, test::NobodyId, test::NobodyId, true), 0);
  }
  EXPECT_EQ(CopyFileSecurity(Source, Dest), 0);
  EXPECT_EQ(ModeOf(Dest), 0640u);
  const TFileStatus S = StatusOf(Source);
  const TFileStatus D = StatusOf(Dest);
  EXPECT_EQ(D.Posix.value().Uid, S.Posix.value().Uid);
  EXPECT_EQ(D.Posix.value().Gid, S.Posix.value().Gid);
  EXPECT_EQ(CopyFileSecurity(PathOf("missing"), Dest), ErrFileNotFound);
}

TEST_F(FileUtilsTest, CopyFileSecurityAsUserKeepsTheOwner) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to make a file that belongs to someone else";
  const std::string Source = MakeFile("source", "s", 0604);  // root's
  SetMode(FDir, 0777);
  const std::string Dest = PathOf("dest");
  const auto Run = test::RunUnprivileged([&] {
    test::WriteFileBytes(Dest, "d");
    return std::to_string(CopyFileSecurity(Source, Dest));
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, "0");
  EXPECT_EQ(ModeOf(Dest), 0604u);
  EXPECT_EQ(StatusOf(Dest).Posix.value().Uid, test::NobodyId);
}

TEST_F(FileUtilsTest, CopyAlternateStreamsCopiesUserAttributes) {
  const std::string Source = MakeFile("source");
  const std::string Dest = MakeFile("dest");
  const std::string Binary("a\0b\xFF", 4);
  const int E = SetXattr(Source, "user.dz.first", "one");
  if (E == ErrNotSupported) GTEST_SKIP() << "the temporary folder's file system has no extended attributes";
  ASSERT_EQ(E, 0);
  ASSERT_EQ(SetXattr(Source, "user.dz.binary", Binary), 0);
  ASSERT_EQ(SetXattr(Source, "user.dz.empty", ""), 0);

  EXPECT_EQ(CopyAlternateStreams(Source, Dest), 0);
  std::vector<std::string> Names;
  ASSERT_EQ(ListUserXattrs(Dest, Names), 0);
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ(Names, (std::vector<std::string>{"user.dz.binary", "user.dz.empty", "user.dz.first"}));
  std::string Value;
  EXPECT_EQ(GetXattr(Dest, "user.dz.first", Value), 0);
  EXPECT_EQ(Value, "one");
  EXPECT_EQ(GetXattr(Dest, "user.dz.binary", Value), 0);
  EXPECT_EQ(Value, Binary);

  const std::string Plain = MakeFile("plain");
  const std::string PlainDest = MakeFile("plain-dest");
  EXPECT_EQ(CopyAlternateStreams(Plain, PlainDest), 0);
  EXPECT_EQ(ListUserXattrs(PlainDest, Names), 0);
  EXPECT_TRUE(Names.empty());
  EXPECT_EQ(CopyAlternateStreams(PathOf("missing"), Dest), ErrFileNotFound);
  EXPECT_EQ(CopyAlternateStreams(Source, PathOf("missing")), ErrFileNotFound);
}

TEST_F(FileUtilsTest, DocumentSummaryIsNotSupported) {
  const std::string Path = MakeFile("doc");
  TFileSummary Summary{TSummaryPropertySet{"fmtid", {TSummaryProperty{2, std::string("Title")}}}};
  EXPECT_EQ(WriteFileSummary(Path, Summary), ErrCallNotImplemented);
  EXPECT_EQ(ReadFileSummary(Path, Summary), 120);
  EXPECT_TRUE(Summary.empty());
}

}  // namespace
}  // namespace dz
