#include "filesys/PathUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace dz {
namespace {

// Every table runs the Windows cases and their POSIX counterparts; the row's
// style is named in the trace.
constexpr const TPathStyle* Win = &WindowsPathStyle;
constexpr const TPathStyle* Posix = &PosixPathStyle;

std::string Trace(const TPathStyle* Style, const std::string& Text) {
  return (Style == Win ? "Windows: " : "POSIX: ") + Text;
}

TEST(PathUtilsTest, NativeStyleOnLinuxIsPosix) {
#ifndef _WIN32
  EXPECT_EQ(NativePathStyle.Delimiter, '/');
  EXPECT_EQ(PathDelimiter, '/');
  EXPECT_FALSE(NativePathStyle.IgnoreCase);
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
#else
  EXPECT_EQ(PathDelimiter, '\\');
#endif
}

TEST(PathUtilsTest, DirWithDelimiterAndJoinPath) {
  struct TCase {
    const TPathStyle* Style;
    const char* Path;
    const char* Name;
    const char* Dir;     // DirWithDelimiter(Path)
    const char* Joined;  // JoinPath(Path, Name)
  };
  const TCase Cases[] = {
      {Win, "", "file.txt", "", "file.txt"},
      {Win, R"(C:\dir\)", "", R"(C:\dir\)", R"(C:\dir\)"},
      {Win, R"(C:\dir)", R"(sub\f)", R"(C:\dir\)", R"(C:\dir\sub\f)"},
      {Win, R"(C:\dir\)", "f", R"(C:\dir\)", R"(C:\dir\f)"},
      // The name is appended unchanged, even with a leading delimiter.
      {Win, R"(C:\dir)", R"(\f)", R"(C:\dir\)", R"(C:\dir\\f)"},
      // A forward slash is an ordinary character in Windows style.
      {Win, "C:/dir/", "f", R"(C:/dir/\)", R"(C:/dir/\f)"},
      {Win, "", "", "", ""},
      {Posix, "", "file.txt", "", "file.txt"},
      {Posix, "/home/u/", "", "/home/u/", "/home/u/"},
      {Posix, "/home/u", "sub/f", "/home/u/", "/home/u/sub/f"},
      {Posix, "/", "f", "/", "/f"},
      {Posix, "/home/u", "/f", "/home/u/", "/home/u//f"},
      {Posix, R"(dir\)", "f", R"(dir\/)", R"(dir\/f)"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, std::string(C.Path) + " + " + C.Name));
    EXPECT_EQ(DirWithDelimiter(C.Path, *C.Style), C.Dir);
    EXPECT_EQ(JoinPath(C.Path, C.Name, *C.Style), C.Joined);
  }
}

TEST(PathUtilsTest, ExtensionIsTheTextAfterTheLastDotOfTheLastComponent) {
  struct TCase {
    const TPathStyle* Style;
    const char* FileName;
    const char* Extension;
    const char* WithoutExtension;
  };
  const TCase Cases[] = {
      {Win, R"(C:\a.b\file)", "", R"(C:\a.b\file)"},
      {Win, "archive.tar.gz", "gz", "archive.tar"},
      {Win, R"(C:\x\data.zip)", "zip", R"(C:\x\data)"},
      {Win, R"(D:\B\.profile)", "profile", R"(D:\B\)"},
      // A name ending in "." has no extension, but the dot goes with it.
      {Win, R"(D:\B\x.)", "", R"(D:\B\x)"},
      {Win, R"(C:\dir.d\)", "", R"(C:\dir.d\)"},
      {Win, "noext", "", "noext"},
      {Win, "", "", ""},
      {Win, R"(C:\v1.0/readme)", "0/readme", R"(C:\v1)"},
      {Posix, "/a.b/file", "", "/a.b/file"},
      {Posix, "archive.tar.gz", "gz", "archive.tar"},
      {Posix, "/home/u/.profile", "profile", "/home/u/"},
      {Posix, "/x/y.", "", "/x/y"},
      {Posix, "/dir.d/", "", "/dir.d/"},
      {Posix, R"(/v1.0\readme)", R"(0\readme)", "/v1"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, C.FileName));
    EXPECT_EQ(GetExtension(C.FileName, *C.Style), C.Extension);
    EXPECT_EQ(RemoveExtension(C.FileName, *C.Style), C.WithoutExtension);
  }
}

TEST(PathUtilsTest, ReplaceExtension) {
  struct TCase {
    const TPathStyle* Style;
    const char* FileName;
    const char* Ext;
    const char* Expected;
  };
  const TCase Cases[] = {
      {Win, R"(C:\x\data.zip)", "z01", R"(C:\x\data.z01)"},
      {Win, R"(C:\x\data.zip)", ".z01", R"(C:\x\data.z01)"},
      {Win, R"(C:\x\data.zip)", "", R"(C:\x\data)"},
      {Win, R"(C:\x\data.zip)", ".", R"(C:\x\data)"},
      {Win, R"(C:\x\data.zip)", "..z", R"(C:\x\data..z)"},
      {Win, R"(C:\x.d\data)", "txt", R"(C:\x.d\data.txt)"},
      {Win, "", "txt", ""},
      {Posix, "/x/data.zip", "z01", "/x/data.z01"},
      {Posix, "/x/data.zip", ".z01", "/x/data.z01"},
      {Posix, "/x/data.zip", "", "/x/data"},
      {Posix, "/x.d/data", "gz", "/x.d/data.gz"},
      {Posix, "", ".gz", ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, std::string(C.FileName) + " with " + C.Ext));
    EXPECT_EQ(ReplaceExtension(C.FileName, C.Ext, *C.Style), C.Expected);
  }
}

TEST(PathUtilsTest, InsertBeforeExtensionNamesPreviousVersions) {
  struct TCase {
    const TPathStyle* Style;
    const char* FileName;
    const char* Text;
    const char* Expected;
  };
  const TCase Cases[] = {
      {Win, R"(D:\B\docs\report.txt)", ".bak-2", R"(D:\B\docs\report.bak-2.txt)"},
      {Win, R"(D:\B\Makefile)", ".bak-1", R"(D:\B\Makefile.bak-1)"},
      {Win, R"(D:\B\rel.2\README)", ".bak-1", R"(D:\B\rel.2\README.bak-1)"},
      {Win, R"(D:\B\x.)", ".bak-1", R"(D:\B\x.bak-1)"},
      {Win, R"(D:\B\.profile)", ".bak-1", R"(D:\B\.bak-1.profile)"},
      {Win, R"(D:\B\a.tar.gz)", ".bak-3", R"(D:\B\a.tar.bak-3.gz)"},
      {Posix, "/b/docs/report.txt", ".bak-2", "/b/docs/report.bak-2.txt"},
      {Posix, "/b/Makefile", ".bak-1", "/b/Makefile.bak-1"},
      {Posix, "/b/rel.2/README", ".bak-1", "/b/rel.2/README.bak-1"},
      {Posix, "/b/x.", ".bak-1", "/b/x.bak-1"},
      {Posix, "/b/.profile", ".bak-1", "/b/.bak-1.profile"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, C.FileName));
    EXPECT_EQ(InsertBeforeExtension(C.FileName, C.Text, *C.Style), C.Expected);
  }
}

TEST(PathUtilsTest, ComposeFileName) {
  struct TCase {
    const TPathStyle* Style;
    const char* Dir;
    const char* Name;
    const char* DefExt;
    const char* Expected;
  };
  const TCase Cases[] = {
      {Win, R"(C:\cfg)", "DeZedodiru", "ini", R"(C:\cfg\DeZedodiru.ini)"},
      {Win, R"(C:\cfg\)", "DeZedodiru", ".ini", R"(C:\cfg\DeZedodiru.ini)"},
      {Win, R"(C:\cfg)", R"(D:\other\my.ini)", "ini", R"(D:\other\my.ini)"},
      {Win, "", "DeZedodiru", ".ini", "DeZedodiru.ini"},
      // A dot anywhere in the name, directory part included, keeps the
      // default extension away.
      {Win, R"(C:\cfg)", R"(sub.d\file)", "ini", R"(C:\cfg\sub.d\file)"},
      {Win, R"(C:\cfg)", R"(\root\file)", "ini", R"(\root\file.ini)"},
      {Win, R"(C:\cfg)", "C:name", "lnk", "C:name.lnk"},
      {Win, R"(C:\cfg)", "name", "", R"(C:\cfg\name)"},
      {Posix, "/etc/dz", "dezedodiru", "ini", "/etc/dz/dezedodiru.ini"},
      {Posix, "/etc/dz/", "dezedodiru", ".ini", "/etc/dz/dezedodiru.ini"},
      {Posix, "/etc/dz", "/other/my.ini", "ini", "/other/my.ini"},
      {Posix, "", "dezedodiru", ".ini", "dezedodiru.ini"},
      {Posix, "/etc/dz", "sub.d/file", "ini", "/etc/dz/sub.d/file"},
      // A colon is an ordinary character in a Linux file name.
      {Posix, "/etc/dz", "a:b", "ini", "/etc/dz/a:b.ini"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, std::string(C.Dir) + " + " + C.Name + " + " + C.DefExt));
    EXPECT_EQ(ComposeFileName(C.Dir, C.Name, C.DefExt, *C.Style), C.Expected);
  }
}

TEST(PathUtilsTest, IsAbsolutePathAndMakeAbsolutePath) {
  struct TCase {
    const TPathStyle* Style;
    const char* Dir;
    const char* Name;
    bool Absolute;
    const char* Made;
  };
  const TCase Cases[] = {
      {Win, R"(C:\base)", "C:file", true, "C:file"},
      {Win, R"(C:\base)", R"(\dir)", true, R"(\dir)"},
      {Win, R"(C:\base)", R"(dir\f)", false, R"(C:\base\dir\f)"},
      {Win, R"(C:\base)", "/dir", false, R"(C:\base\/dir)"},
      {Win, R"(C:\base)", "", false, R"(C:\base\)"},
      {Win, "", R"(dir\f)", false, R"(dir\f)"},
      {Posix, "/base", "/dir", true, "/dir"},
      {Posix, "/base", "dir/f", false, "/base/dir/f"},
      {Posix, "/base", "a:b", false, "/base/a:b"},
      {Posix, "/base", R"(\dir)", false, R"(/base/\dir)"},
      {Posix, "/base", "", false, "/base/"},
      {Posix, "", "dir/f", false, "dir/f"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, std::string(C.Dir) + " + " + C.Name));
    EXPECT_EQ(IsAbsolutePath(C.Name, *C.Style), C.Absolute);
    EXPECT_EQ(MakeAbsolutePath(C.Dir, C.Name, *C.Style), C.Made);
  }
}

TEST(PathUtilsTest, IsSubPathAndRelativePath) {
  struct TCase {
    const TPathStyle* Style;
    const char* Base;
    const char* Path;
    bool Sub;
    const char* Relative;
  };
  const TCase Cases[] = {
      {Win, R"(C:\Data)", R"(c:\data\Sub\f.txt)", true, R"(Sub\f.txt)"},
      {Win, R"(C:\Data)", R"(C:\Other\f.txt)", false, R"(C:\Other\f.txt)"},
      // Both are compared with a final delimiter.
      {Win, R"(C:\Data)", R"(C:\DataX\f)", false, R"(C:\DataX\f)"},
      {Win, R"(C:\Data)", R"(C:\Data)", true, ""},
      {Win, R"(C:\Data\)", R"(c:\DATA)", true, ""},
      {Win, R"(C:\Data)", R"(C:\Data\)", true, ""},
      {Win, R"(C:\)", R"(C:\x\y)", true, R"(x\y)"},
      {Win, "", R"(C:\x)", false, R"(C:\x)"},
      {Win, "", "", false, ""},
      // Letters beyond ASCII fold too; a letter and its folded form may
      // differ in length, and the rest must still be cut at the right byte.
      {Win, "C:\\\u00C4rger", "c:\\\u00E4rger\\f", true, "f"},
      {Win, "C:\\\u0414\u0430\u0442\u0430", "C:\\\u0434\u0410\u0442\u0430\\f", true, "f"},
      {Win, "C:\\\u2C65", "C:\\\u023A\\f", true, "f"},
      // Two different invalid bytes are two different names.
      {Win, "C:\\\xC0", "C:\\\xC1\\f", false, "C:\\\xC1\\f"},
      {Win, "C:\\\xC0", "C:\\\xC0\\f", true, "f"},
      {Posix, "/data", "/data/sub/f", true, "sub/f"},
      {Posix, "/data", "/Data/f", false, "/Data/f"},
      {Posix, "/data", "/dataX/f", false, "/dataX/f"},
      {Posix, "/data", "/data", true, ""},
      {Posix, "/data/", "/data", true, ""},
      {Posix, "/", "/home/f", true, "home/f"},
      {Posix, "", "/x", false, "/x"},
      {Posix, "/d\u00E4", "/d\u00C4/f", false, "/d\u00C4/f"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, std::string(C.Base) + " | " + C.Path));
    EXPECT_EQ(IsSubPath(C.Base, C.Path, *C.Style), C.Sub);
    EXPECT_EQ(RelativePath(C.Base, C.Path, *C.Style), C.Relative);
  }
}

TEST(PathUtilsTest, ExtractFileNameAndFileDir) {
  struct TCase {
    const TPathStyle* Style;
    const char* Path;
    const char* Name;
    const char* Dir;
  };
  const TCase Cases[] = {
      {Posix, "/home/u/a.txt", "a.txt", "/home/u"},
      {Posix, "/a.txt", "a.txt", "/"},
      {Posix, "a.txt", "a.txt", ""},
      {Posix, "docs/", "", "docs"},
      {Posix, R"(C:\x)", R"(C:\x)", ""},
      {Win, R"(D:\data\a.txt)", "a.txt", R"(D:\data)"},
      {Win, "D:a.txt", "a.txt", ""},
      {Win, "a/b", "a/b", ""},
      {Posix, "", "", ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, C.Path));
    EXPECT_EQ(ExtractFileName(C.Path, *C.Style), C.Name);
    EXPECT_EQ(ExtractFileDir(C.Path, *C.Style), C.Dir);
  }
}

TEST(PathUtilsTest, DrivePartAndPathWithoutDrive) {
  struct TCase {
    const TPathStyle* Style;
    const char* Path;
    const char* Drive;
    const char* WithoutDrive;
  };
  const TCase Cases[] = {
      {Win, R"(D:\data\docs\a.txt)", "D:", R"(data\docs\a.txt)"},
      {Win, R"(d:\Data)", "d:", "Data"},
      {Win, R"(\\srv\share\docs\a.txt)", R"(\\srv\share)", R"(docs\a.txt)"},
      {Win, R"(docs\a.txt)", "", R"(docs\a.txt)"},
      {Win, R"(\dir\f)", "", R"(\dir\f)"},
      {Win, R"(D:\)", "D:", ""},
      {Win, "D:", "D:", ""},
      {Win, R"(\\?\C:\x\y)", R"(\\?\C:)", R"(x\y)"},
      {Win, R"(\\?\Volume{1234}\dir\f)", R"(\\?\Volume{1234})", R"(dir\f)"},
      // Without a fourth backslash the drive part is the whole path.
      {Win, R"(\\srv\share)", R"(\\srv\share)", ""},
      {Win, R"(\\srv\)", R"(\\srv)", ""},
      {Win, "", "", ""},
      // The POSIX style has no drives; the leading delimiters go so that the
      // path can be placed below a destination.
      {Posix, "/home/u/a.txt", "", "home/u/a.txt"},
      {Posix, "//srv/x", "", "srv/x"},
      {Posix, "/", "", ""},
      {Posix, "docs/a.txt", "", "docs/a.txt"},
      {Posix, R"(C:\x)", "", R"(C:\x)"},
      {Posix, "", "", ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, C.Path));
    EXPECT_EQ(DrivePart(C.Path, *C.Style), C.Drive);
    EXPECT_EQ(PathWithoutDrive(C.Path, *C.Style), C.WithoutDrive);
  }
}

TEST(PathUtilsTest, ShortenPathKeepsBeginningAndLastComponent) {
  struct TCase {
    const TPathStyle* Style;
    const char* Path;
    int MaxLen;
    const char* Expected;
  };
  const TCase Cases[] = {
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", 20, R"(C:\dir1\...\file.txt)"},
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", 15, R"(C:\...\file.txt)"},
      // Nothing fits: the tail form, one longer than MaxLen.
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", 12, R"(...3\file.txt)"},
      // A path of exactly MaxLen is shortened like a longer one.
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", 26, R"(C:\dir1\dir2\...\file.txt)"},
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", 27, R"(C:\dir1\dir2\dir3\file.txt)"},
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", 3, R"(C:\dir1\dir2\dir3\file.txt)"},
      {Win, R"(C:\dir1\dir2\dir3\file.txt)", -5, R"(C:\dir1\dir2\dir3\file.txt)"},
      {Win, R"(C:\averyveryverylongfilenamewithoutdirs.txt)", 20, "...amewithoutdirs.txt"},
      // A trailing delimiter stays part of the last component.
      {Win, R"(C:\dir1\dir2\dir3\)", 12, R"(C:\...\dir3\)"},
      {Win, "abcdefghij", 5, "...hij"},
      // Lengths count UTF-16 units, not bytes: 16 units, 22 bytes.
      {Win, "C:\\\u00E4\u00E4\u00E4\\\u00F6\u00F6\u00F6\\f.txt", 17,
       "C:\\\u00E4\u00E4\u00E4\\\u00F6\u00F6\u00F6\\f.txt"},
      {Win, "C:\\\u00E4\u00E4\u00E4\\\u00F6\u00F6\u00F6\\f.txt", 16, "C:\\\u00E4\u00E4\u00E4\\...\\f.txt"},
      // The tail would begin in the middle of a surrogate pair.
      {Win, "\U0001F600\U0001F600\U0001F600\U0001F600", 5, "...\U0001F600"},
      {Posix, "/dir1/dir2/dir3/file.txt", 20, "/dir1/.../file.txt"},
      {Posix, "/dir1/dir2/dir3/file.txt", 13, "/.../file.txt"},
      {Posix, "/dir1/dir2/dir3/file.txt", 12, "...3/file.txt"},
      {Posix, "/dir1/dir2/dir3/file.txt", 25, "/dir1/dir2/dir3/file.txt"},
      {Posix, R"(abc\def\ghi\jkl)", 10, R"(...\ghi\jkl)"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(Trace(C.Style, std::string(C.Path) + " to " + std::to_string(C.MaxLen)));
    EXPECT_EQ(ShortenPath(C.Path, C.MaxLen, *C.Style), C.Expected);
  }
}

TEST(PathUtilsTest, IsRegularNameSkipsOnlyThePseudoEntries) {
  const struct {
    const char* Name;
    bool Regular;
  } Cases[] = {{".", false}, {"..", false}, {"", true}, {"...", true}, {".a", true}, {"a", true}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(IsRegularName(C.Name), C.Regular);
  }
}

TEST(PathUtilsTest, SlashesToBackslashes) {
  EXPECT_EQ(SlashesToBackslashes("a/b//c/"), R"(a\b\\c\)");
  EXPECT_EQ(SlashesToBackslashes(R"(\\srv/x)"), R"(\\srv\x)");
  EXPECT_EQ(SlashesToBackslashes(""), "");
}

}  // namespace
}  // namespace dz
