// The INI document and its file: creation for reading or writing, the marker
// section, saving, and what a failed save leaves behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "IniTestSupport.h"
#include "settings/UnicodeIniFile.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::AsciiUtf16LeFile;
using test::ReadFileBytes;
using test::Utf16Bytes;
using test::WriteFileBytes;
using ::testing::ElementsAre;

std::string ExpectedWriteMessage(const std::string& Path) { return "Error writing to \"" + Path + "\""; }

class IniFileTest : public test::TTempDirTest {};

TEST_F(IniFileTest, NewDocumentIsExactlyTheMarkerSection) {
  const std::string Path = PathOf("new.ini");
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);
  EXPECT_FALSE(Ini.ReadOnly());
  EXPECT_EQ(Ini.FileName(), Path);
  EXPECT_FALSE(fs::exists(Path)) << "creating a document must not write the file";

  Ini.UpdateFile();
  const std::string Expected = AsciiUtf16LeFile("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n");
  ASSERT_EQ(Expected.substr(0, 6), std::string("\xFF\xFE[\0U\0", 6));
  EXPECT_EQ(ReadFileBytes(Path), Expected);
  EXPECT_EQ(Ini.SaveToBytes(), Expected);
}

TEST_F(IniFileTest, CreateForWriteMakesSureOfTheMarker) {
  struct TCase {
    const char* Name;
    std::optional<std::string> Existing;  // file content, UTF-8; none: no file
    bool ClearEntries;
    std::string Saved;
  };
  const TCase Cases[] = {
      {"no file", std::nullopt, false, "[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"},
      {"no marker: appended after the other sections", "[Config]\r\nA=1\r\n", false,
       "[Config]\r\nA=1\r\n\r\n[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"},
      {"an existing value is kept, whatever it says", "[Unicode]\nEncoding=UTF-8\n[Config]\nA=1\n", false,
       "[Unicode]\r\nEncoding=UTF-8\r\n\r\n[Config]\r\nA=1\r\n\r\n"},
      {"an empty marker section counts as absent and is filled", "[Unicode]\n[Config]\nA=1\n", false,
       "[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n[Config]\r\nA=1\r\n\r\n"},
      {"a marker section without the key gets it at its end", "[Unicode]\nProgram=X\n", false,
       "[Unicode]\r\nProgram=X\r\nEncoding=UTF-16LE\r\n\r\n"},
      {"the marker's names compare without case", "[UNICODE]\nencoding=utf-8\n", false,
       "[UNICODE]\r\nencoding=utf-8\r\n\r\n"},
      {"ClearEntries starts from nothing", "[Unicode]\nEncoding=UTF-8\n[Config]\nA=1\n", true,
       "[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = PathOf("marker.ini");
    fs::remove(Path);
    if (C.Existing)
      WriteFileBytes(Path, *C.Existing);
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, C.ClearEntries);
    Ini.UpdateFile();
    EXPECT_EQ(ReadFileBytes(Path), "\xFF\xFE" + Utf16Bytes(C.Saved, false));
  }
}

// A settings file from Windows in its ANSI code page, without a mark.
TEST_F(IniFileTest, Windows1252FileIsRewrittenAsUtf16) {
  const std::string Path = PathOf("ansi.ini");
  WriteFileBytes(Path, "; old\r\n[Config]\r\nJobDir=C:\\D\xF6kumente\\\r\nInterval = 60\r\n");
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);
  EXPECT_EQ(Ini.ReadString("Config", "JobDir", ""), "C:\\D\xC3\xB6kumente\\");
  Ini.UpdateFile();
  EXPECT_EQ(ReadFileBytes(Path),
            "\xFF\xFE" + Utf16Bytes("[Config]\r\nJobDir=C:\\D\xC3\xB6kumente\\\r\nInterval=60\r\n\r\n"
                                    "[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n",
                                    false));
}

TEST_F(IniFileTest, SavedFileLoadsBackWithEveryValue) {
  const std::string Path = PathOf("large.ini");
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, true);
    for (int S = 0; S < 25; ++S)
      for (int K = 0; K < 2000; ++K)
        Ini.WriteString("Monitor" + std::to_string(S), "File" + std::to_string(K),
                        "dir \xC3\xA9/" + std::to_string(S * 100000 + K));
    Ini.UpdateFile();
  }
  const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(Path);
  ASSERT_EQ(Ini.ReadSections().size(), 26u);
  for (int S = 0; S < 25; ++S) {
    const std::string Section = "Monitor" + std::to_string(S);
    ASSERT_EQ(Ini.ReadSection(Section).size(), 2000u);
    for (int K = 0; K < 2000; ++K) {
      ASSERT_EQ(Ini.ReadString(Section, "File" + std::to_string(K), ""),
                "dir \xC3\xA9/" + std::to_string(S * 100000 + K));
    }
  }
}

TEST_F(IniFileTest, ReadOnlyDocumentNeverWrites) {
  const std::string Path = PathOf("read.ini");
  const std::string Original = "[S]\r\nK=1\r\n";
  WriteFileBytes(Path, Original);
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(Path);
    EXPECT_TRUE(Ini.ReadOnly());
    Ini.WriteString("S", "K", "2");
    EXPECT_EQ(Ini.ReadString("S", "K", ""), "2");
    Ini.UpdateFile();
  }
  EXPECT_EQ(ReadFileBytes(Path), Original);

  const std::string Missing = PathOf("missing.ini");
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(Missing);
    EXPECT_THAT(Ini.ReadSections(), ::testing::IsEmpty());
    Ini.WriteString("S", "K", "2");
    Ini.UpdateFile();
  }
  EXPECT_FALSE(fs::exists(Missing));
}

// Only UpdateFile() writes: a document dropped without it, for example while
// an exception unwinds, leaves the file alone; so does a moved-from one.
TEST_F(IniFileTest, OnlyUpdateFileWrites) {
  const std::string Path = PathOf("settings.ini");
  const std::string Original = AsciiUtf16LeFile("[S]\r\nK=1\r\n\r\n");
  WriteFileBytes(Path, Original);
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, true);
    Ini.WriteString("S", "K", "2");
  }
  EXPECT_EQ(ReadFileBytes(Path), Original);

  TUnicodeIniFile First = TUnicodeIniFile::CreateForWrite(Path, true);
  TUnicodeIniFile Second = std::move(First);
  EXPECT_TRUE(First.ReadOnly());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  First.UpdateFile();
  EXPECT_EQ(ReadFileBytes(Path), Original);
  Second.UpdateFile();
  EXPECT_EQ(ReadFileBytes(Path), AsciiUtf16LeFile("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"));
}

TEST_F(IniFileTest, SaveKeepsThePermissions) {
  const std::string Path = PathOf("perm.ini");
  WriteFileBytes(Path, "[S]\nK=1\n");
  fs::permissions(Path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);
  Ini.UpdateFile();
  EXPECT_EQ(fs::status(Path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(IniFileTest, SaveIntoMissingFolderRaisesWriteError) {
  const std::string Path = PathOf("gone/settings.ini");
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);  // missing: an empty document
  try {
    Ini.UpdateFile();
    ADD_FAILURE() << "UpdateFile() reported success";
  } catch (const EWriteError& E) {
    EXPECT_EQ(std::string(E.what()), ExpectedWriteMessage(Path));
    EXPECT_NE(E.ErrorCode(), 0);
  }
  EXPECT_FALSE(fs::exists(FDir / "gone"));
}

TEST_F(IniFileTest, WriteErrorIsAStreamError) {
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite("", false);
  EXPECT_THROW(Ini.UpdateFile(), EStreamError);
}

// An existing file that cannot be read is an error, not an empty document:
// saving that empty document would wipe the settings.
TEST_F(IniFileTest, UnreadableFileRaisesOpenError) {
  const std::string Path = PathOf("folder.ini");
  fs::create_directory(Path);
  EXPECT_THROW(TUnicodeIniFile::CreateForRead(Path), EFOpenError);
  EXPECT_THROW(TUnicodeIniFile::CreateForWrite(Path, false), EFOpenError);
  EXPECT_THROW(ReadIniBool(Path, "S", "K", true), EFOpenError);
  try {
    TUnicodeIniFile::CreateForRead(Path);
  } catch (const EFOpenError& E) {
    EXPECT_THAT(E.what(), ::testing::HasSubstr(Path));
    EXPECT_NE(E.ErrorCode(), 0);
  }
}

TEST_F(IniFileTest, ReadIniBoolReadsOneValue) {
  const std::string Path = PathOf("app.cfg");
  WriteFileBytes(Path, "\xFF\xFE" + Utf16Bytes("[Look]\r\nDark=1\r\nOff=0\r\nWord=yes\r\n", false));
  struct TCase {
    std::string File, Section, Ident;
    bool Default, Expected;
  };
  const TCase Cases[] = {
      {Path, "Look", "Dark", false, true},     {Path, "look", "DARK", false, true},
      {Path, "Look", "Off", true, false},      {Path, "Look", "Word", true, true},
      {Path, "Look", "Word", false, false},    {Path, "Look", "Missing", true, true},
      {Path, "Missing", "Dark", false, false}, {PathOf("none.cfg"), "Look", "Dark", true, true},
      {"", "Look", "Dark", true, true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.File + " [" + C.Section + "] " + C.Ident);
    EXPECT_EQ(ReadIniBool(C.File, C.Section, C.Ident, C.Default), C.Expected);
  }
}

// A save on a full disk must leave the old file as it was. The file system is
// a small tmpfs, filled up before the save.
using IniFullDiskTest = test::TTmpfsTest<256>;

TEST_F(IniFullDiskTest, FailedSaveLeavesTheOldFileUnchanged) {
  const std::string Path = PathOf("dezedodiru.ini");
  {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);
    for (int K = 0; K < 20; ++K)
      Ini.WriteString("Monitor00", "File" + std::to_string(K), "old/" + std::to_string(K));
    Ini.UpdateFile();
  }
  const std::string Old = ReadFileBytes(Path);
  ASSERT_GT(Old.size(), 100u);
  Fill(FDir / "filler");

  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(Path, false);
  EXPECT_EQ(Ini.ReadString("Monitor00", "File19", ""), "old/19");
  for (int K = 0; K < 1000; ++K)
    Ini.WriteString("Monitor00", "File" + std::to_string(K), "Documents/new/" + std::to_string(K) + ".txt");
  try {
    Ini.UpdateFile();
    ADD_FAILURE() << "UpdateFile() reported success on a full disk";
  } catch (const EWriteError& E) {
    EXPECT_EQ(std::string(E.what()), ExpectedWriteMessage(Path));
  }
  EXPECT_EQ(ReadFileBytes(Path), Old);
  EXPECT_EQ(test::Listing(FDir), (std::vector<std::string>{"dezedodiru.ini", "filler"})) << "the new file was left behind";

  // The document is intact, and saves once there is room again.
  fs::remove(FDir / "filler");
  ASSERT_NO_THROW(Ini.UpdateFile());
  EXPECT_EQ(TUnicodeIniFile::CreateForRead(Path).ReadString("Monitor00", "File999", ""), "Documents/new/999.txt");
}

}  // namespace
}  // namespace dz
