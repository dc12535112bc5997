#pragma once
// The copy result code and the texts of result and system error codes.
//
// A copy job reports its outcome as one 32-bit code, 0 for success:
//   bits 0-7    number: what went wrong (cn...)
//   bits 8-11   severity (ce...), which selects the text's prefix
//   bits 12-15  action: what the job was doing (ca...)
// A code is composed as action | severity | number, for example
// caCopy | ceError | cnOpenFile = 0x1102. Bits above 15 carry nothing but
// show in the hexadecimal form of a code without message.

#include <string>

namespace dz {

inline constexpr int CopyNumberMask = 0xFF;
inline constexpr int CopySeverityMask = 0xF00;
inline constexpr int CopyActionMask = 0xF000;

// Severities.
inline constexpr int ceError = 0x100;    // the data could not be copied
inline constexpr int ceWarning = 0x200;  // a failure after the data was complete
inline constexpr int ceError2 = 0x300;   // second error class

// Actions.
inline constexpr int caCopy = 0x1000;
inline constexpr int caGzip = 0x2000;
inline constexpr int caGunzip = 0x3000;
inline constexpr int caZip = 0x4000;
inline constexpr int caEncrypt = 0x5000;
inline constexpr int caDecrypt = 0x6000;
inline constexpr int caUnzip = 0x7000;

// Numbers.
inline constexpr int cnCreateFile = 1;
inline constexpr int cnOpenFile = 2;
inline constexpr int cnCloseFile = 3;
inline constexpr int cnReadFile = 4;
inline constexpr int cnWriteFile = 5;
inline constexpr int cnSetAttributes = 6;
inline constexpr int cnLowDiskSpace = 7;
inline constexpr int cnIllegalHeader = 8;
inline constexpr int cnCorruptFile = 9;
inline constexpr int cnEncryption = 10;
inline constexpr int cnDecryption = 11;
inline constexpr int cnVerification = 12;
inline constexpr int cnPathTooLong = 13;
inline constexpr int cnFileNotFound = 14;
inline constexpr int cnSetTimestamp = 15;
inline constexpr int cnDocumentSummary = 16;
inline constexpr int cnTimeout = 17;
inline constexpr int cnUndefinedStream = 18;
inline constexpr int cnPermissions = 19;
inline constexpr int cnFileExists = 20;
inline constexpr int cnSizeMismatch = 21;
inline constexpr int cnOpenForVerification = 22;
inline constexpr int cnCreateDirectory = 23;
inline constexpr int cnFtpRead = 24;
inline constexpr int cnFtpWrite = 25;
inline constexpr int cnFtpConnect = 26;
inline constexpr int cnFtpClosed = 27;
inline constexpr int cnFtpDataConnection = 28;
inline constexpr int cnFtpTimeout = 29;
inline constexpr int cnDifferentContent = 30;
inline constexpr int cnNewZipSegment = 31;
inline constexpr int cnZipSignature = 32;
inline constexpr int cnExtract = 33;
inline constexpr int cnUnsupportedFormat = 34;
inline constexpr int cnRenameTempFile = 35;
inline constexpr int cnNextZipSegment = 36;
inline constexpr int cnAltStreams = 37;
inline constexpr int cnDeleteFile = 38;
inline constexpr int cnRenameFile = 39;
inline constexpr int cnUserBreak = 128;
// Numbers from 64 on are this program's own: the destination refusals of
// the copy engine on Linux, where a name can be another spelling of the
// source or a device, a FIFO or a socket.
inline constexpr int cnDestIsSource = 64;
inline constexpr int cnDestNotAFile = 65;

// The backup worker's own code: the finished temporary file could not be
// given its final name, or the source's attributes could not be set on it.
inline constexpr int BackupRenameErrorCode = ceError | cnRenameTempFile;
static_assert(BackupRenameErrorCode == 0x123);

// The text of a copy result code: the severity's prefix, the number's
// message and " (-> action)" when the action has a text. Number 0 gives the
// platform's success message in place of the prefix; a number without
// message gives "Unknown error code ($XXXXXXXX)" with the whole code.
std::string GetCopyErrorText(int Code);

// The platform's message for a system error code followed by the code in
// hexadecimal, " (0x00000002)"; "Error code = 0x..." when the platform has no
// message for it.
std::string GetSystemErrorText(int Code);

}  // namespace dz
