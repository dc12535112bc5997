#include "filesys/ErrorTexts.h"

#include <cstdint>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "platform/SysError.h"

namespace dz {

namespace {

// Codes are shown as their 32 bits, so a negative one reads FFFFFFFF
// rather than with a sign.
std::uint32_t CodeBits(int Code) { return static_cast<std::uint32_t>(Code); }

std::string SeverityPrefix(int Code) {
  switch (Code & CopySeverityMask) {
    case ceError: return Tr("Error - ");
    case ceWarning: return Tr("Warning - ");
    case ceError2: return Tr("Error(2) - ");
    default: return {};
  }
}

std::string ActionText(int Code) {
  switch (Code & CopyActionMask) {
    case caCopy: return Tr("Copy");
    case caGzip: return Tr("gzip");
    case caGunzip: return Tr("gunzip");
    case caZip: return Tr("Zip");
    case caEncrypt: return Tr("Encrypt");
    case caDecrypt: return Tr("Decrypt");
    case caUnzip: return Tr("Unzip");
    default: return {};
  }
}

// Empty for a number without message.
std::string NumberMessage(int Number) {
  switch (Number) {
    case cnCreateFile: return Tr("Could not create file");
    case cnOpenFile: return Tr("Could not open file");
    case cnCloseFile: return Tr("Could not close file");
    case cnReadFile: return Tr("Could not read from file");
    case cnWriteFile: return Tr("Could not write to file");
    case cnSetAttributes: return Tr("Attributes could not be set");
    case cnLowDiskSpace: return Tr("Low disk space");
    case cnIllegalHeader: return Tr("Illegal file header");
    case cnCorruptFile: return Tr("Corrupt file");
    case cnEncryption: return Tr("Encryption failed");
    case cnDecryption: return Tr("Decryption failed");
    case cnVerification: return Tr("Verification failed");
    case cnPathTooLong: return Tr("Path too long");
    case cnFileNotFound: return Tr("File not found");
    case cnSetTimestamp: return Tr("Timestamp could not be set");
    case cnDocumentSummary: return Tr("Error copying document summary");
    case cnTimeout: return Tr("Timeout error on copying file");
    case cnUndefinedStream: return Tr("Undefined stream");
    case cnPermissions: return Tr("Permissions could not be copied");
    case cnFileExists: return Tr("File already exists");
    case cnSizeMismatch: return Tr("Size mismatch");
    case cnOpenForVerification: return Tr("Could not open destination file for verification");
    case cnCreateDirectory: return Tr("Could not create directory");
    case cnFtpRead: return Tr("Could not read from FTP");
    case cnFtpWrite: return Tr("Could not write to FTP");
    case cnFtpConnect: return Tr("Could not connect to FTP server");
    case cnFtpClosed: return Tr("FTP connection was closed by server");
    case cnFtpDataConnection: return Tr("Could not open FTP data connection");
    case cnFtpTimeout: return Tr("Timeout error on copying file via FTP");
    case cnDifferentContent: return Tr("Different content");
    case cnNewZipSegment: return Tr("Error creating new zip segment");
    case cnZipSignature: return Tr("Illegal zip signature");
    case cnExtract: return Tr("Could not extract file");
    case cnUnsupportedFormat: return Tr("Unsupported file format");
    case cnRenameTempFile: return Tr("Could not rename temporary file");
    case cnNextZipSegment: return Tr("Error reading next zip segment");
    case cnAltStreams: return Tr("Error copying alternate data streams");
    case cnDeleteFile: return Tr("Error deleting file");
    case cnRenameFile: return Tr("Error renaming file");
    case cnUserBreak: return Tr("Terminated by user");
    case cnDestIsSource: return Tr("Destination is the source file");
    case cnDestNotAFile: return Tr("Destination is not a regular file");
    default: return {};
  }
}

}  // namespace

std::string GetCopyErrorText(int Code) {
  std::string Text = SeverityPrefix(Code);
  const int Number = Code & CopyNumberMask;
  if (Number == 0) {
    Text = PlatformErrorText(0);
  } else if (std::string Message = NumberMessage(Number); !Message.empty()) {
    Text += Message;
  } else {
    Text += SafeFormat(Tr("Unknown error code ($%.8x)"), CodeBits(Code));
  }
  const std::string Action = ActionText(Code);
  if (!Action.empty())
    Text += " (-> " + Action + ")";
  return Text;
}

std::string GetSystemErrorText(int Code) {
  const std::string Text = PlatformErrorText(Code);
  if (!Text.empty())
    return Text + SafeFormat(" (0x%.8x)", CodeBits(Code));
  return Tr("Error code") + SafeFormat(" = 0x%.8x", CodeBits(Code));
}

}  // namespace dz
