#include "taskedit/TaskDocument.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "settings/UnicodeIniFile.h"
#include "taskedit/TaskEditTestSupport.h"

namespace dz {
namespace {

class TaskDocumentTest : public test::TTaskFolderTest {};

// What the watchdog takes over from the task for source A.
struct TWatchdogView {
  std::string DrvId;
  std::int32_t DestMode;
  std::int32_t Compress;
  std::string NoComp;
  TFilterMode FileMode;
  bool FileRegular;
  std::string FileFilter;
  bool IncludeExts;
  std::vector<std::string> Exts;
  bool IncludeSubDirs;
  std::vector<std::string> SubDirs;
  TFilterMode DirMode;
  bool DirRegular;
  std::string DirFilter;
};

TEST_F(TaskDocumentTest, EveryFieldReadsBackThroughTheWatchdogsReader) {
  const struct {
    const char* Name;
    std::function<void(TTaskDocument&, TTaskSourceEntry&)> Edit;
    TWatchdogView Expected;
  } Cases[] = {
      {"new task: every file, plain copies, full structure", [](TTaskDocument&, TTaskSourceEntry&) {},
       {"", 1, 0, "7z,gz,zip", fmOff, false, "*", false, {}, false, {}, fmOff, false, "*"}},
      {"gzip into drive folders of its own pattern, its own never-compressed list",
       [](TTaskDocument& D, TTaskSourceEntry&) {
         D.Compression = cmGzip;
         D.DestMode = dsDriveFolders;
         D.DriveId = "Disk?";
         D.NoCompTypes = {"jpg", "png"};
       },
       {"Disk?", 0, 1, "jpg,png", fmOff, false, "*", false, {}, false, {}, fmOff, false, "*"}},
      {"zip, everything compressed, drive folders with the default pattern",
       [](TTaskDocument& D, TTaskSourceEntry&) {
         D.Compression = cmZip;
         D.CompressEverything = true;
         D.DestMode = dsDriveFolders;
       },
       {"Drv?", 0, 2, "", fmOff, false, "*", false, {}, false, {}, fmOff, false, "*"}},
      {"included masks and included extensions",
       [](TTaskDocument&, TTaskSourceEntry& S) {
         S.FilterMode = fmInclude;
         S.Filter = "*.txt|abc";
         S.IncludeExts = true;
         S.Include = {"txt", "doc"};
       },
       {"", 1, 0, "7z,gz,zip", fmInclude, false, "*.txt|abc.*", true, {"doc", "txt"}, false, {}, fmOff, false, "*"}},
      {"excluded expression, excluded extensions with names without one",
       [](TTaskDocument&, TTaskSourceEntry& S) {
         S.FilterMode = fmExclude;
         S.Regular = true;
         S.Filter = "\\.log$";
         S.Exclude = {"tmp", ""};
       },
       {"", 1, 0, "7z,gz,zip", fmExclude, true, "\\.log$", false, {"", "tmp"}, false, {}, fmOff, false, "*"}},
      {"only names without an extension",
       [](TTaskDocument&, TTaskSourceEntry& S) {
         S.IncludeExts = true;
         S.Include = {""};
       },
       {"", 1, 0, "7z,gz,zip", fmOff, false, "*", true, {""}, false, {}, fmOff, false, "*"}},
      {"excluded sub-directories, mask directory filter with commas",
       [](TTaskDocument&, TTaskSourceEntry& S) {
         S.SubDirs = {"cache", "build/out", " spaced "};
         S.DirFilter = "temp,cache";
       },
       {"", 1, 0, "7z,gz,zip", fmOff, false, "*", false, {}, false, {" spaced ", "build/out", "cache"}, fmInclude,
        false, "temp|cache"}},
      {"included sub-directories, expression directory filter",
       [](TTaskDocument&, TTaskSourceEntry& S) {
         S.IncludeDirs = true;
         S.SubDirs = {"docs"};
         S.DirFilterRegular = true;
         S.DirFilter = "\\d{2,4}";
       },
       {"", 1, 0, "7z,gz,zip", fmOff, false, "*", false, {}, true, {"docs"}, fmInclude, true, "\\d{2,4}"}},
      {"mask directory filter beginning with #",
       [](TTaskDocument&, TTaskSourceEntry& S) { S.DirFilter = "#tmp"; },
       {"", 1, 0, "7z,gz,zip", fmOff, false, "*", false, {}, false, {}, fmInclude, false, "#tmp"}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTaskDocument Doc = NewTaskDocument({A(), B()}, Dest() + "/");
    Case.Edit(Doc, Doc.Sources[0]);
    WriteTaskDocument(Doc, Task());

    std::vector<TTaskSource> Sources;
    ASSERT_EQ(CheckTaskFile(Task(), &Sources), tcUsable);
    EXPECT_EQ(Sources, (std::vector<TTaskSource>{{A(), 0}, {B(), 1}}));

    TMonTask MonTask(Task(), A());
    ReadAsWatchdog(MonTask);
    const TWatchdogView& E = Case.Expected;
    EXPECT_EQ(MonTask.DestDir, Dest() + "/");
    EXPECT_EQ(MonTask.DrvId, E.DrvId);
    EXPECT_EQ(MonTask.DestMode, E.DestMode);
    EXPECT_EQ(MonTask.Compress, E.Compress);
    EXPECT_EQ(MonTask.NoCompCommaText, E.NoComp);
    const TMonFilter& F = MonTask.MonFilter;
    EXPECT_EQ(F.FileFilter.Mode(), E.FileMode);
    EXPECT_EQ(F.FileFilter.Regular(), E.FileRegular);
    EXPECT_EQ(F.FileFilter.Filter(), E.FileFilter);
    EXPECT_EQ(F.IncludeExts, E.IncludeExts);
    EXPECT_EQ(F.ExtList.Items(), E.Exts);
    EXPECT_EQ(F.IncludeSubDirs, E.IncludeSubDirs);
    EXPECT_EQ(F.SubDirList.Items(), E.SubDirs);
    EXPECT_EQ(F.SubDirFilter.Mode(), E.DirMode);
    EXPECT_EQ(F.SubDirFilter.Regular(), E.DirRegular);
    EXPECT_EQ(F.SubDirFilter.Filter(), E.DirFilter);

    // The editor reads its own task back as it was.
    TTaskDocument Back = ReadTaskDocument(Task());
    EXPECT_TRUE(Back.Notes.empty());
    Back.KeptText.clear();
    Doc.KeptText.clear();
    EXPECT_EQ(Back, Doc);
  }
}

TEST_F(TaskDocumentTest, TheFileIsUtf16WithByteOrderMark) {
  WriteTaskDocument(NewTaskDocument({A()}, Dest()), Task());
  const std::string Bytes = test::ReadFileBytes(Task());
  ASSERT_GE(Bytes.size(), 4u);
  EXPECT_EQ(Bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Bytes.substr(2, 2), std::string("[\0", 2));
  EXPECT_EQ(test::Listing(FDir), (std::vector<std::string>{"src-a", "src-b", "task.buj"}));
}

TEST_F(TaskDocumentTest, ANewTaskBacksUpEveryFile) {
  WriteTaskDocument(NewTaskDocument({A()}, Dest()), Task());
  TMonTask MonTask(Task(), A());
  ReadAsWatchdog(MonTask);
  for (const char* Name : {"a.txt", "Makefile", "deep/dir/x.tmp", ".hidden", "photo.JPG"})
    EXPECT_TRUE(PassesMonFilter(MonTask.MonFilter, Name)) << Name;
}

TEST_F(TaskDocumentTest, AnExpressionForDirectoriesBeginningWithHashStillMatchesIt) {
  TTaskDocument Doc = NewTaskDocument({A()}, Dest());
  Doc.Sources[0].DirFilterRegular = true;
  Doc.Sources[0].DirFilter = "#old";
  WriteTaskDocument(Doc, Task());
  TMonTask MonTask(Task(), A());
  ReadAsWatchdog(MonTask);
  const TTextFilter& Filter = MonTask.MonFilter.SubDirFilter;
  EXPECT_TRUE(Filter.Regular());
  EXPECT_EQ(Filter.Mode(), fmInclude);
  EXPECT_TRUE(Filter.MatchesFilter("a#old"));
  EXPECT_FALSE(Filter.MatchesFilter("old"));
}

TEST_F(TaskDocumentTest, WhatTheEditorDoesNotModelIsKeptAndFollowsItsSource) {
  test::WriteFileBytes(Task(), "[Global]\nDestination=" + Dest() +
                                   "/\nFtpBackup=1\nEncrypt=3\nComment=made by hand\nDirCount=2\n"
                                   "[Dir000]\nSource=" + A() + "\nSchedule=weekly\nSubCount=1\nSubDir000=x\nSubDir005=stale\n"
                                   "[Dir001]\nSource=" + B() + "\nNote=second\n"
                                   "[Dir007]\nSource=/elsewhere\n"
                                   "[Extra]\nKey=Value\n");
  TTaskDocument Doc = ReadTaskDocument(Task());
  EXPECT_EQ(Doc.Notes.size(), 2u);  // FTP and encryption switched off
  ASSERT_EQ(Doc.Sources.size(), 2u);
  EXPECT_EQ(Doc.Sources[0].SubDirs, std::vector<std::string>{"x"});
  EXPECT_EQ(Doc.Sources[0].OtherKeys, (std::vector<std::pair<std::string, std::string>>{{"Schedule", "weekly"}}));
  EXPECT_EQ(Doc.Sources[1].OtherKeys, (std::vector<std::pair<std::string, std::string>>{{"Note", "second"}}));

  Doc.Sources.erase(Doc.Sources.begin());
  WriteTaskDocument(Doc, Task());

  const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(Task());
  EXPECT_EQ(Ini.ReadString("Global", "Comment", ""), "made by hand");
  EXPECT_EQ(Ini.ReadString("Global", "FtpBackup", ""), "0");
  EXPECT_EQ(Ini.ReadString("Global", "Encrypt", ""), "0");
  EXPECT_EQ(Ini.ReadString("Global", "DirCount", ""), "1");
  EXPECT_EQ(Ini.ReadString("Extra", "Key", ""), "Value");
  EXPECT_EQ(Ini.ReadString("Dir000", "Source", ""), B());
  EXPECT_EQ(Ini.ReadString("Dir000", "Note", ""), "second");
  EXPECT_FALSE(Ini.ValueExists("Dir000", "Schedule"));
  EXPECT_FALSE(Ini.SectionExists("Dir001"));
  EXPECT_EQ(Ini.ReadString("Dir007", "Source", ""), "/elsewhere");  // never a source: left alone
  EXPECT_EQ(CheckTaskFile(Task()), tcUsable);
}

TEST_F(TaskDocumentTest, AFileThatCannotBeReadRaisesAndAMissingOneIsEmpty) {
  EXPECT_TRUE(ReadTaskDocument(PathOf("none.buj")).Sources.empty());
  EXPECT_THROW(ReadTaskDocument(A()), EFOpenError);  // a directory
  EXPECT_THROW(WriteTaskDocument(NewTaskDocument({A()}, Dest()), PathOf("no/such/dir/t.buj")), EStreamError);
}

}  // namespace
}  // namespace dz
