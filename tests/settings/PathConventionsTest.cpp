#include "settings/PathConventions.h"

#include <gtest/gtest.h>

#include <string>

#include "filesys/PathUtils.h"
#include "support/LoopVolumes.h"

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

TEST(VolumeLabelTest, CutsTheLabelInBothStyles) {
  const struct {
    const TPathStyle* Style;
    const char* Path;
    const char* Label;
    const char* Rest;
  } Cases[] = {
      {&WindowsPathStyle, R"(:BACKUP:\data)", "BACKUP", "data"},
      {&WindowsPathStyle, ":BACKUP:", "BACKUP", ""},
      {&WindowsPathStyle, R"(  :BACKUP :\a\b)", "BACKUP ", R"(a\b)"},
      {&WindowsPathStyle, R"(:A::B:\x)", "A:B", "x"},
      {&WindowsPathStyle, R"(::\x)", "", "x"},  // too short to hold a label
      {&WindowsPathStyle, R"(D:\data)", "", R"(D:\data)"},
      {&PosixPathStyle, ":BACKUP:/data/docs", "BACKUP", "data/docs"},
      {&PosixPathStyle, ":My Disk:/", "My Disk", ""},
      {&PosixPathStyle, ":BACKUP:", "BACKUP", ""},
      {&PosixPathStyle, ":x::y:/z", "x:y", "z"},
      {&PosixPathStyle, "/media/BACKUP/data", "", "/media/BACKUP/data"},
      {&PosixPathStyle, "", "", ""},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Path);
    std::string Rest = "stale";
    EXPECT_EQ(CutVolumeLabel(C.Path, Rest, *C.Style), C.Label);
    EXPECT_EQ(Rest, C.Rest);
  }
}

TEST(VolumeLabelTest, LabelOfAPath) {
  std::string Label;
  EXPECT_TRUE(VolumeLabelOf(":BACKUP:/data", Label));
  EXPECT_EQ(Label, "BACKUP");
  EXPECT_FALSE(VolumeLabelOf("/data", Label));
  EXPECT_FALSE(VolumeLabelOf("", Label));
  EXPECT_FALSE(VolumeLabelOf("::/data", Label));
}

TEST(VolumeLabelTest, PathsWithoutALabelAreNotResolved) {
  std::string Label = "untouched";
  std::string Path = "/data/backup";
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpNoLabel);
  EXPECT_EQ(Path, "/data/backup");
  Path.clear();
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpNotFound);
  Path = ":DZ-NO-SUCH-LABEL-" + test::RandomHex(8) + ":/data";
  const std::string Before = Path;
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpNotFound);
  EXPECT_EQ(Path, Before);
  Path = "::/data";  // an empty label names no volume
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpNotFound);
  EXPECT_EQ(Label, "untouched");
}

using ResolveVolumePathTest = test::TLoopVolumeTest;

TEST_F(ResolveVolumePathTest, FindsTheMountedVolumeWhateverTheCase) {
  DZ_REQUIRE(MakeImage(FDir / "backup.img", "mkfs.ext4 -q -F -L " + FLabel), "mkfs.ext4");
  DZ_REQUIRE(MountImage(FDir / "backup.img", FDir / "media"), "loop mount");
  const std::string Root = Dir("media") + "/";

  std::string Label;
  std::string Path = ":" + FLabel + ":/data/docs";
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpResolved);
  EXPECT_EQ(Path, Root + "data/docs");
  EXPECT_EQ(Label, FLabel);

  std::string Upper = FLabel;
  for (char& C : Upper) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  Path = ":" + Upper + ":";
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpResolved);
  EXPECT_EQ(Path, Root);

  Unmount(FDir / "media");
  Path = ":" + FLabel + ":/data";
  EXPECT_EQ(ResolveVolumePath(Path, Label), vpNotFound);
  EXPECT_EQ(Path, ":" + FLabel + ":/data");
}

}  // namespace
}  // namespace dz
