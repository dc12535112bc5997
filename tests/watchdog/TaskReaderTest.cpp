#include "watchdog/TaskReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Utf.h"
#include "support/AsUser.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

class TRecordingLog : public TLogSink {
public:
  void AddLogLine(const std::string& Line) override { Lines.push_back(Line); }
  std::vector<std::string> Lines;
};

const TTaskDefaults Defaults{"Drv?", "7z,gz,zip"};

// A fresh folder with two existing source directories A and B; task texts
// name them as {A}, {B}, a directory that does not exist as {MISSING} and
// the folder itself as {ROOT}.
class TaskReaderTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    fs::create_directory(A());
    fs::create_directory(B());
  }

  std::string Root() const { return FDir.string(); }
  std::string A() const { return PathOf("src-a"); }
  std::string B() const { return PathOf("src-b"); }
  std::string Missing() const { return PathOf("gone"); }

  std::string Expand(std::string_view Text) const {
    std::string Out(Text);
    const std::pair<std::string, std::string> Tokens[] = {
        {"{A}", A()}, {"{B}", B()}, {"{MISSING}", Missing()}, {"{ROOT}", Root()}};
    for (const auto& [Token, Value] : Tokens)
      for (std::size_t Pos; (Pos = Out.find(Token)) != std::string::npos;) Out.replace(Pos, Token.size(), Value);
    return Out;
  }

  // Writes the bytes as they are; returns the file's path.
  std::string WriteBytes(std::string_view Bytes, const std::string& Name = "task.buj") const {
    test::WriteFileBytes(FDir / Name, Bytes);
    return PathOf(Name);
  }

  // Writes the task text (UTF-8) with its tokens expanded.
  std::string WriteTask(std::string_view Text, const std::string& Name = "task.buj") const {
    return WriteBytes(Expand(Text), Name);
  }
};

// ---------------------------------------------------------------------------
// CheckTaskFile

TEST_F(TaskReaderTest, CheckTaskFileJudgesTheSettings) {
  struct TExpectedSource {
    const char* Dir;  // a token of Expand
    int Index;
  };
  const struct {
    const char* Name;
    const char* Text;
    bool WithList;
    TTaskCheck Code;
    std::vector<TExpectedSource> Sources;
  } Cases[] = {
      {"plain task", "[Global]\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcUsable, {{"{A}", 0}}},
      {"mode 1", "[Global]\nDestMode=1\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcUsable, {{"{A}", 0}}},
      {"mode 2", "[Global]\nDestMode=2\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcInvalidSettings, {}},
      {"mode -1 passes", "[Global]\nDestMode=-1\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcUsable, {{"{A}", 0}}},
      {"mode not a number", "[Global]\nDestMode=two\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcUsable,
       {{"{A}", 0}}},
      {"FTP", "[Global]\nFtpBackup=1\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcInvalidSettings, {}},
      {"FTP off", "[Global]\nFtpBackup=0\nDirCount=1\n[Dir000]\nSource={A}\n", true, tcUsable, {{"{A}", 0}}},
      {"encrypted", "[Global]\nEncrypt=3\n", false, tcInvalidSettings, {}},
      {"placeholder", "[Global]\nDestination=/backup/%USER%\n", false, tcInvalidSettings, {}},
      {"Windows placeholder", "[Global]\nDestination=D:\\Backup\\%USERNAME%\n", false, tcInvalidSettings, {}},
      {"single percent", "[Global]\nDestination=/backup/100%\nDirCount=1\n[Dir000]\nSource={A}\n", true,
       tcUsable, {{"{A}", 0}}},
      {"no sources, list wanted", "[Global]\nDirCount=0\n[Dir000]\nSource={A}\n", true, tcInvalidSettings, {}},
      {"no sources, no list", "[Global]\nDirCount=0\n", false, tcUsable, {}},
      {"DirCount missing", "[Global]\nDestination=/b\n[Dir000]\nSource={A}\n", true, tcInvalidSettings, {}},
      // Only a count of 0 makes the task unusable; a negative one lists no
      // sources, as a task whose sources are all gone.
      {"DirCount -1", "[Global]\nDirCount=-1\n[Dir000]\nSource={A}\n", true, tcUsable, {}},
      {"DirCount -1, no list", "[Global]\nDirCount=-1\n", false, tcUsable, {}},
      {"DirCount most negative", "[Global]\nDirCount=-2147483648\n[Dir000]\nSource={A}\n", true, tcUsable, {}},
      {"all sources missing", "[Global]\nDirCount=2\n[Dir000]\nSource={MISSING}\n[Dir001]\nSource={MISSING}/x\n",
       true, tcUsable, {}},
      {"DirCount two billion",
       "[Global]\nDirCount=2000000000\n[Dir000]\nSource={A}\n[Dir002]\nSource={B}\n", true, tcUsable,
       {{"{A}", 0}, {"{B}", 2}}},
      {"sections beyond the count",
       "[Global]\nDirCount=2\n[Dir001]\nSource={B}\n[Dir002]\nSource={A}\n", true, tcUsable, {{"{B}", 1}}},
      {"index names as written",
       "[Global]\nDirCount=2000\n[Dir0001]\nSource={A}\n[dIR1000]\nSource={B}\n[Dir01000]\nSource={A}\n"
       "[Dir-001]\nSource={A}\n[Dir1]\nSource={A}\n",
       true, tcUsable, {{"{B}", 1000}}},
      {"sections listed in index order",
       "[Global]\nDirCount=5\n[Dir004]\nSource={A}\n[Dir003]\nSource={B}\n", true, tcUsable,
       {{"{B}", 3}, {"{A}", 4}}},
      {"empty and keyless sections",
       "[Global]\nDirCount=3\n[Dir000]\n[Dir001]\nRegular=0\n[Dir002]\nSource=\n", true, tcUsable, {}},
      {"source that is a file", "[Global]\nDirCount=1\n[Dir000]\nSource={ROOT}/task.buj\n", true, tcUsable, {}},
      {"empty file, no list", "", false, tcUsable, {}},
      {"empty file, list wanted", "", true, tcInvalidSettings, {}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Task = WriteTask(C.Text);
    std::vector<TTaskSource> List{{"kept", 99}};
    EXPECT_EQ(CheckTaskFile(Task, C.WithList ? &List : nullptr), C.Code);
    std::vector<TTaskSource> Expected{{"kept", 99}};
    for (const TExpectedSource& S : C.Sources) Expected.push_back({Expand(S.Dir), S.Index});
    EXPECT_EQ(List, Expected);
  }
}

TEST_F(TaskReaderTest, CheckTaskFileTellsMissingFromUnreadable) {
  EXPECT_EQ(CheckTaskFile(Missing() + "/task.buj"), tcNotFound);
  EXPECT_EQ(CheckTaskFile(PathOf("none.buj")), tcNotFound);
  EXPECT_EQ(CheckTaskFile(""), tcNotFound);
  std::error_code Ec;
  fs::create_symlink(FDir / "nowhere.buj", FDir / "dangling.buj", Ec);
  ASSERT_FALSE(Ec);
  EXPECT_EQ(CheckTaskFile(PathOf("dangling.buj")), tcNotFound);

  // A directory of the task's name exists, but is no task.
  fs::create_directory(FDir / "dir.buj");
  std::vector<TTaskSource> List;
  EXPECT_EQ(CheckTaskFile(PathOf("dir.buj"), &List), tcUnreadable);
  EXPECT_TRUE(List.empty());
}

TEST_F(TaskReaderTest, CheckTaskFileRefusesWhatCannotBeATask) {
  // Larger than any task: refused before it is read. The file is sparse, so
  // writing it costs nothing.
  const std::string Huge = WriteTask("[Global]\nDirCount=1\n[Dir000]\nSource={A}\n", "huge.buj");
  fs::resize_file(Huge, MaxTaskFileSize + 1);
  EXPECT_EQ(CheckTaskFile(Huge), tcUnreadable);
  fs::resize_file(Huge, MaxTaskFileSize);
  EXPECT_EQ(CheckTaskFile(Huge), tcUsable);

  // A link to a device that never ends must not be read until memory runs out.
  if (fs::exists("/dev/zero")) {
    fs::create_symlink("/dev/zero", FDir / "zero.buj");
    EXPECT_EQ(CheckTaskFile(PathOf("zero.buj")), tcUnreadable);
  }
}

// Root reads any file, so the unreadable task is read by an unprivileged user.
TEST_F(TaskReaderTest, CheckTaskFileWithoutReadPermission) {
  const std::string Task = WriteTask("[Global]\nDirCount=1\n[Dir000]\nSource={A}\n");
  fs::permissions(Task, fs::perms::none);
  const auto Run = test::RunUnprivileged([&] {
    const int Check = CheckTaskFile(Task);
    TRecordingLog Log;
    TMonTask Entry(Task, A());
    const int Read = ReadTaskSettings(Entry, Defaults, Log);
    const bool Logged = Log.Lines.size() == 1 && Log.Lines[0].starts_with(Task + ": ");
    return std::to_string(Check) + " " + std::to_string(Read) + " " + std::to_string(Entry.MonStatus) +
           (Logged ? " logged" : " not logged");
  });
  if (!Run.Ran) GTEST_SKIP() << Run.WhyNot;
  EXPECT_EQ(Run.Output, std::to_string(tcUnreadable) + " 2 " + std::to_string(mtInvalid) + " logged");
}

TEST_F(TaskReaderTest, CheckTaskFileSurvivesDamagedFiles) {
  std::mt19937 Random(7);
  std::string Binary(4096, '\0');
  for (char& C : Binary) C = static_cast<char>(Random());
  const std::string Damaged[] = {
      Binary,
      std::string("\xFF\xFE[\0G\0l\0", 8),              // UTF-16 cut in the middle of a unit
      "[Global]\nDirCount=99999999999999999999\n",      // out of range: the default
      "[Global\nDirCount=1\n[Dir000\nSource=/\n",       // broken headers
      std::string(100000, '['),
  };
  for (const std::string& Bytes : Damaged) {
    SCOPED_TRACE(Bytes.substr(0, 20));
    const std::string Task = WriteBytes(Bytes);
    std::vector<TTaskSource> List;
    EXPECT_EQ(CheckTaskFile(Task, &List), tcInvalidSettings);
    EXPECT_TRUE(List.empty());
    TRecordingLog Log;
    TMonTask Entry(Task, A());
    EXPECT_EQ(ReadTaskSettings(Entry, Defaults, Log), 2);
    EXPECT_EQ(Log.Lines.size(), 1u);
  }
}

TEST(HasPlaceholders, NeedsTwoPercentSigns) {
  const struct {
    const char* Destination;
    bool Expected;
  } Cases[] = {
      {"", false},
      {"/backup", false},
      {"/backup/50%", false},
      {"%HOME%", true},
      {"/backup/%Y%m%d", true},
      {"D:\\Backup\\%USERNAME%", true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Destination);
    TUnicodeIniFile Ini;
    Ini.LoadFromBytes(std::string("[Global]\nDestination=") + C.Destination + "\n");
    EXPECT_EQ(HasPlaceholders(Ini), C.Expected);
  }
}

// ---------------------------------------------------------------------------
// Texts

TEST(TaskTexts, DestModeText) {
  EXPECT_EQ(DestModeText(0), "Separate directories for drives");
  EXPECT_EQ(DestModeText(1), "Full original directory structure");
  EXPECT_EQ(DestModeText(2), "Invalid task configuration");
  EXPECT_EQ(DestModeText(-1), "Invalid task configuration");
}

TEST(TaskTexts, InvalidTaskMessageHasFourLines) {
  EXPECT_EQ(InvalidTaskMessage("/home/u/Job.buj"),
            "The backup task \"/home/u/Job.buj\" has invalid settings!\r\n"
            "The following conditions must be met for DeZedodiru:\r\n"
            "Backup method: Separate files - Separate directories for drives\r\n"
            "or Original full directory structure, no FTP, no encryption, no placeholders");
  // A "%" in the name is text, not a placeholder of the format.
  EXPECT_TRUE(InvalidTaskMessage("/a/100%d.buj").starts_with("The backup task \"/a/100%d.buj\" has"));
}

// ---------------------------------------------------------------------------
// ReadTaskSettings

TEST_F(TaskReaderTest, ReadTaskSettingsTakesTheGlobalValues) {
  const struct {
    const char* Name;
    const char* Global;
    const char* DestDir;
    const char* DrvId;
    int DestMode;
    int Compress;
    const char* NoComp;
  } Cases[] = {
      {"defaults", "", "", "Drv?", 0, 0, "7z,gz,zip"},
      {"destination gets its delimiter", "Destination=/backup", "/backup/", "Drv?", 0, 0, "7z,gz,zip"},
      {"delimiter kept", "Destination=/backup/", "/backup/", "Drv?", 0, 0, "7z,gz,zip"},
      {"own drive pattern", "DriveId=Disk-?", "", "Disk-?", 0, 0, "7z,gz,zip"},
      {"empty drive pattern", "DriveId=", "", "", 0, 0, "7z,gz,zip"},
      {"no drive folder in mode 1", "DestMode=1\nDriveId=Disk-?", "", "", 1, 0, "7z,gz,zip"},
      {"no drive folder in mode -1", "DestMode=-1", "", "", -1, 0, "7z,gz,zip"},
      {"zip alone is no compression", "CompressAsZip=1", "", "Drv?", 0, 0, "7z,gz,zip"},
      {"gzip", "Compress=1", "", "Drv?", 0, 1, "7z,gz,zip"},
      {"zip", "Compress=1\nCompressAsZip=1", "", "Drv?", 0, 2, "7z,gz,zip"},
      {"compress everything", "NoCompTypes=#", "", "Drv?", 0, 0, ""},
      {"own list", "NoCompTypes=doc,\"a b\"", "", "Drv?", 0, 0, "doc,\"a b\""},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Task =
        WriteTask(std::string("[Global]\n") + C.Global + "\nDirCount=1\n[Dir000]\nSource={A}\n");
    TMonTask Entry(Task, A());
    Entry.DrvId = "old";
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
    EXPECT_TRUE(Log.Lines.empty());
    EXPECT_EQ(Entry.MonStatus, mtEnabled);
    EXPECT_EQ(Entry.DestDir, C.DestDir);
    EXPECT_EQ(Entry.DrvId, C.DrvId);
    EXPECT_EQ(Entry.DestMode, C.DestMode);
    EXPECT_EQ(Entry.Compress, C.Compress);
    EXPECT_EQ(Entry.NoCompCommaText, C.NoComp);
  }
}

TEST_F(TaskReaderTest, ReadTaskSettingsSetsTheFileFilter) {
  const struct {
    const char* Name;
    const char* Section;
    bool Regular;
    TFilterMode Mode;
    const char* Filter;
    std::vector<const char*> Pass;
    std::vector<const char*> Fail;
  } Cases[] = {
      // "*.*" means every file, README and Makefile included.
      {"all files", "Filter=*.*\nFilterMode=1", false, fmOff, "*.*", {"README", "a.txt"}, {}},
      {"no filter given", "FilterMode=1", false, fmOff, "*.*", {"README"}, {}},
      {"empty filter", "Filter=\nFilterMode=1", false, fmOff, "*", {"README"}, {}},
      {"masks", "Filter=*.txt|*.doc\nFilterMode=1", false, fmInclude, "*.txt|*.doc", {"a.TXT", "b.doc"},
       {"README", "c.pdf"}},
      {"mask without extension", "Filter=abc\nFilterMode=2", false, fmExclude, "abc.*", {"abd.x"}, {"abc.x"}},
      {"illegal mask", "Filter=[abc\nFilterMode=1", false, fmOff, "*", {"x"}, {}},
      {"expression", "Regular=1\nFilter=\\.log$\nFilterMode=2", true, fmExclude, "\\.log$", {"a.txt"},
       {"b.log", "C.LOG"}},
      {"expression missing", "Regular=1\nFilterMode=1", true, fmInclude, ".", {"a"}, {}},
      {"illegal expression", "Regular=1\nFilter=(abc\nFilterMode=1", true, fmInclude, ".", {"x"}, {}},
      {"mode off", "Filter=*.txt\nFilterMode=0", false, fmOff, "*.txt", {"a.pdf"}, {}},
      {"unknown mode 7", "Filter=*.txt\nFilterMode=7", false, fmOff, "*.txt", {"a.pdf"}, {}},
      {"unknown mode -1", "Filter=*.txt\nFilterMode=-1", false, fmOff, "*.txt", {"a.pdf"}, {}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Task =
        WriteTask(std::string("[Global]\nDirCount=1\n[Dir000]\nSource={A}\n") + C.Section + "\n");
    TMonTask Entry(Task, A());
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
    const TTextFilter& Filter = Entry.MonFilter.FileFilter;
    EXPECT_EQ(Filter.Regular(), C.Regular);
    EXPECT_EQ(Filter.Mode(), C.Mode);
    EXPECT_EQ(Filter.Filter(), C.Filter);
    for (const char* Name : C.Pass) EXPECT_TRUE(Filter.MatchesFilter(Name)) << Name;
    for (const char* Name : C.Fail) EXPECT_FALSE(Filter.MatchesFilter(Name)) << Name;
  }
}

TEST_F(TaskReaderTest, ReadTaskSettingsSetsTheSubDirectoryFilter) {
  const struct {
    const char* DirFilter;  // nullptr: no key
    bool Regular;
    TFilterMode Mode;
    const char* Filter;
    std::vector<const char*> Matching;
    std::vector<const char*> NotMatching;
  } Cases[] = {
      {nullptr, false, fmOff, "*", {}, {}},
      {"", false, fmOff, "*", {}, {}},
      {"#\\d{4}", true, fmInclude, "\\d{4}", {"2024", "x1999"}, {"abc"}},
      // A comma inside an expression is part of it.
      {"#^\\d{2,4}$", true, fmInclude, "^\\d{2,4}$", {"12", "2024"}, {"1", "12345"}},
      {"##tmp", false, fmInclude, "#tmp", {"#TMP"}, {"tmp"}},
      {"temp,cache", false, fmInclude, "temp|cache", {"cache", "Temp"}, {"src"}},
      {"#", false, fmOff, "*", {}, {}},
      {"#(abc", true, fmInclude, ".", {"anything"}, {}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.DirFilter ? C.DirFilter : "(none)");
    std::string Text = "[Global]\nDirCount=1\n[Dir000]\nSource={A}\n";
    if (C.DirFilter) Text += std::string("DirFilter=") + C.DirFilter + "\n";
    TMonTask Entry(WriteTask(Text), A());
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
    const TTextFilter& Filter = Entry.MonFilter.SubDirFilter;
    EXPECT_EQ(Filter.Regular(), C.Regular);
    EXPECT_EQ(Filter.Mode(), C.Mode);
    EXPECT_EQ(Filter.Filter(), C.Filter);
    for (const char* Name : C.Matching) EXPECT_TRUE(Filter.MatchesFilter(Name)) << Name;
    for (const char* Name : C.NotMatching) EXPECT_FALSE(Filter.MatchesFilter(Name)) << Name;
  }
}

TEST_F(TaskReaderTest, ReadTaskSettingsTakesTheExtensionsOfTheBackupMode) {
  const struct {
    const char* Section;
    bool IncludeExts;
    std::vector<std::string> Exts;
  } Cases[] = {
      {"Include=doc,txt\nExclude=exe", true, {"doc", "txt"}},
      {"BackupMode=0\nInclude=doc\nExclude=exe", true, {"doc"}},
      {"BackupMode=1\nInclude=doc\nExclude=exe,tmp", false, {"exe", "tmp"}},
      {"BackupMode=5\nInclude=doc\nExclude=exe", false, {"exe"}},
      {"BackupMode=1\nInclude=doc", false, {}},
      // An empty item stands for files without an extension (Makefile).
      {"Include=txt,", true, {"", "txt"}},
      {"Include=,txt", true, {"", "txt"}},
      {"Include=txt,,doc", true, {"", "doc", "txt"}},
      {"Include=\"\"", true, {""}},
      {"BackupMode=1\nExclude=tmp,", false, {"", "tmp"}},
      // A list without any item is empty: it includes, or excludes, nothing.
      {"Include=", true, {}},
      {"BackupMode=1\nExclude=", false, {}},
      // Written by hand: dots, stars, blanks, empty items and duplicates; "*."
      // is the mask of names without an extension.
      {"Include= .txt ,*.PDF,,doc,doc,*.,..md,\"a,b\"", true, {"", "a,b", "doc", "md", "PDF", "txt"}},
      {"Include=*.", true, {""}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Section);
    const std::string Task =
        WriteTask(std::string("[Global]\nDirCount=1\n[Dir000]\nSource={A}\n") + C.Section + "\n");
    TMonTask Entry(Task, A());
    Entry.MonFilter.ExtList.Add("old");
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
    EXPECT_EQ(Entry.MonFilter.IncludeExts, C.IncludeExts);
    EXPECT_EQ(Entry.MonFilter.ExtList.Items(), C.Exts);
  }
}

TEST_F(TaskReaderTest, ReadTaskSettingsReadsTheSubDirectories) {
  const std::string Absolute = NativePathStyle.HasDrives ? "C:\\Data" : "/data";
  const struct {
    std::string Section;
    bool IncludeSubDirs;
    std::vector<std::string> Dirs;
  } Cases[] = {
      {"IncludeDirs=1\nSubCount=5\nSubDir000=\"Work Files\"\nSubDir001=" + Absolute +
           "\nSubDir002=Docs\nSubDir003=\"\"\nSubDir004=\"" + Absolute + "\"\nSubDir005=Beyond",
       true, {"Docs", "Work Files"}},
      {"SubCount=2\nSubDir000=\"half\nSubDir001=x\"", false, {"\"half", "x\""}},
      {"SubCount=-5\nSubDir000=a", false, {}},
      {"SubCount=2000000000\nSubDir000=a\nSubDir0001=b\nsubdir1999=c", false, {"a", "c"}},
      // A missing entry names no directory; it must not become "*".
      {"SubCount=3\nSubDir002=z", false, {"z"}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Section);
    TMonTask Entry(WriteTask("[Global]\nDirCount=1\n[Dir000]\nSource={A}\n" + C.Section + "\n"), A());
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
    EXPECT_EQ(Entry.MonFilter.IncludeSubDirs, C.IncludeSubDirs);
    EXPECT_EQ(Entry.MonFilter.SubDirList.Items(), C.Dirs);
  }
}

TEST_F(TaskReaderTest, ReadingAgainReplacesEverything) {
  const std::string Task = WriteTask(
      "[Global]\nCompress=1\nDirCount=1\n[Dir000]\nSource={A}\nIncludeDirs=1\nSubCount=1\nSubDir000=Work\n"
      "Include=doc\nFilter=*.txt\nFilterMode=1\nDirFilter=temp\n");
  TMonTask Entry(Task, A());
  TRecordingLog Log;
  ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
  ASSERT_EQ(Entry.MonFilter.SubDirList.Count(), 1u);

  WriteTask("[Global]\nDirCount=1\n[Dir000]\nSource={A}\nSubCount=0\nSubDir000=Work\nBackupMode=1\n");
  ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
  EXPECT_TRUE(Log.Lines.empty());
  EXPECT_EQ(Entry.Compress, 0);
  EXPECT_FALSE(Entry.MonFilter.IncludeSubDirs);
  EXPECT_TRUE(Entry.MonFilter.SubDirList.Empty());
  EXPECT_FALSE(Entry.MonFilter.IncludeExts);
  EXPECT_TRUE(Entry.MonFilter.ExtList.Empty());
  EXPECT_EQ(Entry.MonFilter.FileFilter.Mode(), fmOff);
  EXPECT_EQ(Entry.MonFilter.SubDirFilter.Mode(), fmOff);
}

TEST_F(TaskReaderTest, ReadTaskSettingsFindsTheDirectorysOwnSection) {
  // Each source has its own filter; the entry must get the one of its section.
  const std::string Task = WriteTask(
      "[Global]\nDirCount=4\n[Dir000]\nSource={B}\nFilter=*.b\nFilterMode=1\n"
      "[Dir002]\nSource={A}/\nFilter=*.a\nFilterMode=1\n"
      "[Dir003]\nSource={A}\nFilter=*.second\nFilterMode=1\n");
  const struct {
    std::string Dir;
    const char* Filter;
  } Cases[] = {
      {A(), "*.a"},         // "/x/" and "/x" name one directory
      {A() + "/", "*.a"},
      {A() + "//", "*.a"},
      {B() + "/", "*.b"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Dir);
    TMonTask Entry(Task, C.Dir);
    Entry.MonStatus = mtDisabled;
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
    EXPECT_EQ(Entry.MonFilter.FileFilter.Filter(), C.Filter);
    EXPECT_EQ(Entry.MonStatus, mtDisabled) << "a success leaves the status alone";
  }
}

TEST_F(TaskReaderTest, ReadTaskSettingsReportsWhatIsWrong) {
  fs::create_directory(FDir / "Docs");
  const std::string Docs = PathOf("Docs");
  const std::string Lower = PathOf("docs");
  const struct {
    const char* Name;
    std::string Text;
    std::string Dir;
    std::string Line;  // {TASK} stands for the task file
  } Cases[] = {
      {"not in the task", "[Global]\nDirCount=1\n[Dir000]\nSource={B}\n", A(),
       "Directory \"" + A() + "\" not specified in {TASK}!"},
      {"beyond the count", "[Global]\nDirCount=1\n[Dir001]\nSource={A}\n", A(),
       "Directory \"" + A() + "\" not specified in {TASK}!"},
      {"no sources", "[Global]\nDirCount=0\n[Dir000]\nSource={A}\n", A(),
       "Directory \"" + A() + "\" not specified in {TASK}!"},
      {"negative count", "[Global]\nDirCount=-1\n[Dir000]\nSource={A}\n", A(),
       "Directory \"" + A() + "\" not specified in {TASK}!"},
      {"empty directory", "[Global]\nDirCount=2\n[Dir000]\nSource=\n", "",
       "Directory \"\" not specified in {TASK}!"},
      {"directory gone", "[Global]\nDirCount=1\n[Dir000]\nSource={MISSING}\n", Missing(),
       "Directory \"" + Missing() + "\" not found!"},
      // Linux file names are case-sensitive: docs is another directory.
      {"other letter case", "[Global]\nDirCount=1\n[Dir000]\nSource=" + Docs + "\n", Lower,
       "Directory \"" + Lower + "\" not specified in {TASK}!"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (NativePathStyle.IgnoreCase && C.Dir == Lower) continue;
    const std::string Task = WriteTask(C.Text);
    TMonTask Entry(Task, C.Dir);
    Entry.DestDir = "unchanged";
    TRecordingLog Log;
    EXPECT_EQ(ReadTaskSettings(Entry, Defaults, Log), 2);
    // A missing directory is no fault of the entry: it waits for it.
    const bool Gone = C.Dir == Missing();
    EXPECT_EQ(Entry.MonStatus, Gone ? mtEnabled : mtInvalid);
    EXPECT_EQ(Entry.DestDir, "unchanged");
    std::string Line = C.Line;
    if (const std::size_t Pos = Line.find("{TASK}"); Pos != std::string::npos) Line.replace(Pos, 6, Task);
    EXPECT_EQ(Log.Lines, std::vector<std::string>{Line});
    EXPECT_EQ(Entry.Unavailable, Gone ? Line : "");
  }
}

TEST_F(TaskReaderTest, ReadTaskSettingsLogsAnUnreadableFile) {
  fs::create_directory(FDir / "dir.buj");
  const std::string Huge = WriteTask("[Global]\nDirCount=1\n[Dir000]\nSource={A}\n", "huge.buj");
  fs::resize_file(Huge, MaxTaskFileSize + 1);
  for (const std::string& Task : {PathOf("dir.buj"), Huge}) {
    SCOPED_TRACE(Task);
    TMonTask Entry(Task, A());
    TRecordingLog Log;
    EXPECT_EQ(ReadTaskSettings(Entry, Defaults, Log), 2);
    EXPECT_EQ(Entry.MonStatus, mtInvalid);
    ASSERT_EQ(Log.Lines.size(), 1u);
    EXPECT_TRUE(Log.Lines[0].starts_with(Task + ": Cannot open file \"" + Task + "\"")) << Log.Lines[0];
  }
}

TEST_F(TaskReaderTest, ReadsATaskWrittenAsUtf16) {
  // As the main application saves it: UTF-16LE with a byte-order mark and
  // CR LF, the marker section first.
  fs::create_directory(FDir / "Bücher");
  const std::string Books = PathOf("Bücher");
  const std::string Text = "[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n[Global]\r\nDestination=/Sicherung/Ölfässer\r\n"
                           "DirCount=1\r\nNoCompTypes=jpg,ü\r\n\r\n[Dir000]\r\nSource=" +
                           Books + "\r\nInclude=tüt\r\nSubCount=1\r\nSubDir000=\"Über uns\"\r\n\r\n";
  std::string Bytes = "\xFF\xFE";
  for (const char16_t Unit : Utf8ToUtf16(Text)) {
    Bytes.push_back(static_cast<char>(Unit & 0xFF));
    Bytes.push_back(static_cast<char>(Unit >> 8));
  }
  const std::string Task = WriteBytes(Bytes);

  std::vector<TTaskSource> List;
  EXPECT_EQ(CheckTaskFile(Task, &List), tcUsable);
  EXPECT_EQ(List, (std::vector<TTaskSource>{{Books, 0}}));

  TMonTask Entry(Task, Books);
  TRecordingLog Log;
  ASSERT_EQ(ReadTaskSettings(Entry, Defaults, Log), 0);
  EXPECT_EQ(Entry.DestDir, "/Sicherung/Ölfässer/");
  EXPECT_EQ(Entry.NoCompCommaText, "jpg,ü");
  EXPECT_EQ(Entry.MonFilter.ExtList.Items(), std::vector<std::string>{"tüt"});
  EXPECT_EQ(Entry.MonFilter.SubDirList.Items(), std::vector<std::string>{"Über uns"});
}

TEST(SameSourceDir, ComparesAsTheStyleComparesNames) {
  const struct {
    const char* A;
    const char* B;
    bool Windows;
    bool Same;
  } Cases[] = {
      {"/home/a/Docs", "/home/a/Docs", false, true},
      {"/home/a/Docs", "/home/a/docs", false, false},
      {"/data", "/data/", false, true},
      {"/data//", "/data", false, true},
      {"/data", "/dat", false, false},
      {"/", "/", false, true},
      {"/", "//", false, true},
      {"/", "", false, false},
      {"", "", false, false},
      {"C:\\Users\\Ann\\Docs", "c:\\users\\ann\\DOCS", true, true},
      {"C:\\Data\\", "C:\\Data", true, true},
      {"C:\\Data", "C:/Data", true, false},
      {"\\\\srv\\Share\\Ä", "\\\\SRV\\share\\ä", true, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.A) + " vs " + C.B);
    const TPathStyle& Style = C.Windows ? WindowsPathStyle : PosixPathStyle;
    EXPECT_EQ(SameSourceDir(C.A, C.B, Style), C.Same);
    EXPECT_EQ(SameSourceDir(C.B, C.A, Style), C.Same);
  }
}

}  // namespace
}  // namespace dz
