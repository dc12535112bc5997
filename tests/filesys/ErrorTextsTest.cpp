#include "filesys/ErrorTexts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/SysError.h"

namespace dz {
namespace {

std::string Hex(int Code) {
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "0x%X", static_cast<unsigned>(Code));
  return Buf;
}

TEST(ErrorTextsTest, CopyErrorTextComposesPrefixMessageAndAction) {
  const struct {
    int Code;
    std::string Expected;
  } Cases[] = {
      {0x123, "Error - Could not rename temporary file"},
      {0x1102, "Error - Could not open file (-> Copy)"},
      {0x220F, "Warning - Timestamp could not be set (-> gzip)"},
      {0x4306, "Error(2) - Attributes could not be set (-> Zip)"},
      {0x1127, "Error - Error renaming file (-> Copy)"},
      {0x80, "Terminated by user"},
      {0x1180, "Error - Terminated by user (-> Copy)"},
      {0x4150, "Error - Unknown error code ($00004150) (-> Zip)"},
      // An action without text adds no suffix; a severity without text no prefix.
      {0x9103, "Error - Could not close file"},
      {0x0401, "Could not create file"},
      {0x3001, "Could not create file (-> gunzip)"},
      {0x510A, "Error - Encryption failed (-> Encrypt)"},
      {0x610B, "Error - Decryption failed (-> Decrypt)"},
      {0x7121, "Error - Could not extract file (-> Unzip)"},
      // Bits above the fields show only in the unknown-number form.
      {0x12345, "Error(2) - Unknown error code ($00012345) (-> gzip)"},
      {0x10107, "Error - Low disk space"},
      {-1, "Unknown error code ($FFFFFFFF)"},
      // Number 0 puts the success message in place of the prefix.
      {0, PlatformErrorText(0)},
      {0x1100, PlatformErrorText(0) + " (-> Copy)"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(Hex(C.Code));
    EXPECT_EQ(GetCopyErrorText(C.Code), C.Expected);
  }
  EXPECT_FALSE(PlatformErrorText(0).empty());
}

TEST(ErrorTextsTest, EveryNumberHasItsMessage) {
  const struct {
    int Number;
    const char* Message;
  } Cases[] = {
      {cnCreateFile, "Could not create file"},
      {cnOpenFile, "Could not open file"},
      {cnCloseFile, "Could not close file"},
      {cnReadFile, "Could not read from file"},
      {cnWriteFile, "Could not write to file"},
      {cnSetAttributes, "Attributes could not be set"},
      {cnLowDiskSpace, "Low disk space"},
      {cnIllegalHeader, "Illegal file header"},
      {cnCorruptFile, "Corrupt file"},
      {cnEncryption, "Encryption failed"},
      {cnDecryption, "Decryption failed"},
      {cnVerification, "Verification failed"},
      {cnPathTooLong, "Path too long"},
      {cnFileNotFound, "File not found"},
      {cnSetTimestamp, "Timestamp could not be set"},
      {cnDocumentSummary, "Error copying document summary"},
      {cnTimeout, "Timeout error on copying file"},
      {cnUndefinedStream, "Undefined stream"},
      {cnPermissions, "Permissions could not be copied"},
      {cnFileExists, "File already exists"},
      {cnSizeMismatch, "Size mismatch"},
      {cnOpenForVerification, "Could not open destination file for verification"},
      {cnCreateDirectory, "Could not create directory"},
      {cnFtpRead, "Could not read from FTP"},
      {cnFtpWrite, "Could not write to FTP"},
      {cnFtpConnect, "Could not connect to FTP server"},
      {cnFtpClosed, "FTP connection was closed by server"},
      {cnFtpDataConnection, "Could not open FTP data connection"},
      {cnFtpTimeout, "Timeout error on copying file via FTP"},
      {cnDifferentContent, "Different content"},
      {cnNewZipSegment, "Error creating new zip segment"},
      {cnZipSignature, "Illegal zip signature"},
      {cnExtract, "Could not extract file"},
      {cnUnsupportedFormat, "Unsupported file format"},
      {cnRenameTempFile, "Could not rename temporary file"},
      {cnNextZipSegment, "Error reading next zip segment"},
      {cnAltStreams, "Error copying alternate data streams"},
      {cnDeleteFile, "Error deleting file"},
      {cnRenameFile, "Error renaming file"},
      {cnUserBreak, "Terminated by user"},
  };
  for (int Expected = 1; const auto& C : Cases) {
    SCOPED_TRACE(C.Number);
    // The table covers 1 to 39 and 128 without a gap.
    EXPECT_EQ(C.Number, Expected == 40 ? cnUserBreak : Expected);
    ++Expected;
    EXPECT_EQ(GetCopyErrorText(C.Number), C.Message);
  }
  for (const int Unknown : {40, 41, 100, 127, 129, 255}) {
    SCOPED_TRACE(Unknown);
    EXPECT_EQ(GetCopyErrorText(Unknown).rfind("Unknown error code ($000000", 0), 0u);
  }
}

TEST(ErrorTextsTest, NamedPartsComposeTheCodes) {
  EXPECT_EQ(caCopy | ceError | cnOpenFile, 0x1102);
  EXPECT_EQ(caGzip | ceWarning | cnSetTimestamp, 0x220F);
  EXPECT_EQ(caZip | ceError2 | cnSetAttributes, 0x4306);
  EXPECT_EQ(GetCopyErrorText(BackupRenameErrorCode), "Error - Could not rename temporary file");
}

TEST(ErrorTextsTest, SystemErrorTextWithMessage) {
  const std::string Message = PlatformErrorText(ErrFileNotFound);
  ASSERT_FALSE(Message.empty());
  EXPECT_EQ(GetSystemErrorText(ErrFileNotFound), Message + " (0x00000002)");
  EXPECT_EQ(GetSystemErrorText(0), PlatformErrorText(0) + " (0x00000000)");
}

TEST(ErrorTextsTest, SystemErrorTextWithoutMessage) {
  constexpr int NoMessageCode = 0x0BADC0DE;
  ASSERT_TRUE(PlatformErrorText(NoMessageCode).empty());
  EXPECT_EQ(GetSystemErrorText(NoMessageCode), "Error code = 0x0BADC0DE");
}

}  // namespace
}  // namespace dz
