#include "filesys/XlFileUtils.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Utf.h"

namespace dz {
namespace {

// "C:\" followed by Count copies of Fill.
std::string LocalPath(std::size_t Count, const std::string& Fill = "a") {
  std::string Path = "C:\\";
  for (std::size_t N = 0; N < Count; ++N)
    Path += Fill;
  return Path;
}

TEST(XlFileUtilsTest, LongFormInWindowsStyle) {
  const std::string Emoji = "\U0001F600";  // two UTF-16 units, four bytes
  ASSERT_EQ(Utf16Length(LocalPath(121, Emoji) + "xy"), 247u);
  ASSERT_EQ(Utf16Length(LocalPath(245, "\u00E4")), 248u);
  const struct {
    std::string Path;
    std::string Expected;
  } Cases[] = {
      // 247 and 248 units.
      {LocalPath(244), LocalPath(244)},
      {LocalPath(245), "\\\\?\\" + LocalPath(245)},
      {LocalPath(400), "\\\\?\\" + LocalPath(400)},
      // The threshold counts UTF-16 units, not bytes.
      {LocalPath(244, "\u00E4"), LocalPath(244, "\u00E4")},
      {LocalPath(245, "\u00E4"), "\\\\?\\" + LocalPath(245, "\u00E4")},
      {LocalPath(121, Emoji) + "xy", LocalPath(121, Emoji) + "xy"},
      {LocalPath(121, Emoji) + "xyz", "\\\\?\\" + LocalPath(121, Emoji) + "xyz"},
      // Network paths at any length.
      {R"(\\server\share\f.txt)", R"(\\?\UNC\server\share\f.txt)"},
      // Never twice.
      {R"(\\?\C:\x)", R"(\\?\C:\x)"},
      {R"(\\?\UNC\s\h\x)", R"(\\?\UNC\s\h\x)"},
      {"\\\\?\\" + LocalPath(300), "\\\\?\\" + LocalPath(300)},
      // Relative paths, a single character and the empty path stay.
      {R"(docs\a.txt)", R"(docs\a.txt)"},
      {std::string(300, 'd'), std::string(300, 'd')},
      {"C", "C"},
      {"", ""},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Path.substr(0, 40) + "... (" + std::to_string(C.Path.size()) + " bytes)");
    EXPECT_EQ(AddLongPathPrefix(C.Path, WindowsPathStyle), C.Expected);
  }
}

TEST(XlFileUtilsTest, PosixPathsNeedNoLongForm) {
  const std::string Cases[] = {"/" + std::string(400, 'a'), "//server/share/f", R"(\\server\share\f)",
                               "C:" + std::string(300, 'a'), ""};
  for (const std::string& Path : Cases) {
    SCOPED_TRACE(Path.substr(0, 40));
    EXPECT_EQ(AddLongPathPrefix(Path, PosixPathStyle), Path);
  }
#ifndef _WIN32
  EXPECT_EQ(AddLongPathPrefix(R"(\\server\share)"), R"(\\server\share)");
#endif
}

}  // namespace
}  // namespace dz
