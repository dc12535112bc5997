#include "settings/PathConventions.h"

#include <gtest/gtest.h>

#include <string>

#include "filesys/PathUtils.h"

namespace dz {
namespace {

TEST(DefaultDriveIdTest, GermanGetsItsOwnPattern) {
  const struct {
    const char* Language;
    const char* Pattern;
  } Cases[] = {
      {"de", "Lw?"}, {"DE", "Lw?"}, {"De", "Lw?"},
      {"en", "Drv?"}, {"", "Drv?"}, {"deu", "Drv?"}, {"d", "Drv?"}, {"fr", "Drv?"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Language);
    EXPECT_EQ(DefaultDriveId(Case.Language), Case.Pattern);
  }
}

// Source paths as task files written on Windows name them; the drive part is
// taken as the backup worker takes it.
TEST(DriveFolderNameTest, WindowsSources) {
  const struct {
    const char* Pattern;
    const char* Source;
    const char* Folder;
  } Cases[] = {
      {"Drv?", "c:\\dir\\file.txt", "DrvC\\"},
      {"Lw?", "C:\\dir\\file.txt", "LwC\\"},
      {"Backup", "c:\\file.txt", "BackupC\\"},      // no "?": the letter is appended
      {"?-?", "c:\\file.txt", "C-C\\"},             // every "?"
      {"Drv?\\", "d:\\file.txt", "DrvD\\"},         // no second delimiter
      {"", "e:\\file.txt", "E\\"},
      {"Drv?", "\\\\server\\share\\dir\\file.txt", "server\\share\\"},  // whatever the pattern
      {"?-?", "\\\\server\\share\\dir\\file.txt", "server\\share\\"},
      {"Drv?", "dir\\file.txt", ""},                // relative: no drive folder
      {"Drv?", "", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Pattern) + " | " + Case.Source);
    EXPECT_EQ(DriveFolderName(Case.Pattern, DrivePart(Case.Source, WindowsPathStyle), WindowsPathStyle),
              Case.Folder);
  }
}

TEST(DriveFolderNameTest, PosixSourcesHaveNoDriveFolder) {
  for (const char* Source : {"/home/user/file.txt", "/", "relative/file.txt"}) {
    SCOPED_TRACE(Source);
    const std::string Drive = DrivePart(Source, PosixPathStyle);
    EXPECT_EQ(DriveFolderName("Drv?", Drive, PosixPathStyle), "");
    EXPECT_EQ(DriveFolderName("Backup", Drive), "");  // the native style on Linux
  }
  // A drive that does come along gets the style's own delimiter.
  EXPECT_EQ(DriveFolderName("Drv?", "c:", PosixPathStyle), "DrvC/");
}

TEST(DriveFolderNameTest, LetterIsOneCharacterNotOneByte) {
  // Only a to z are capitalised; anything else is copied whole.
  EXPECT_EQ(DriveFolderName("Drv?", "\xC3\xA4:", WindowsPathStyle), "Drv\xC3\xA4\\");
  EXPECT_EQ(DriveFolderName("Drv?", "1:", WindowsPathStyle), "Drv1\\");
}

}  // namespace
}  // namespace dz
