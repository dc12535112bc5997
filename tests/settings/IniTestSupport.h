#pragma once
// Helpers shared by the INI tests: turning expected text into file bytes and
// saved bytes back into text. Temporary folders: support/TestFiles.h.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/Utf.h"
#include "settings/UnicodeIniFile.h"
#include "support/TestFiles.h"

namespace dz::test {

// FF FE followed by Text in UTF-16LE, built byte by byte for ASCII text so
// that the expectation does not rest on the converter under test.
inline std::string AsciiUtf16LeFile(std::string_view Text) {
  std::string Bytes = "\xFF\xFE";
  for (char C : Text) {
    EXPECT_LT(static_cast<unsigned char>(C), 0x80) << "helper is for ASCII text only";
    Bytes.push_back(C);
    Bytes.push_back('\0');
  }
  return Bytes;
}

// Text (UTF-8) as UTF-16 bytes in the given byte order, without a mark.
inline std::string Utf16Bytes(std::string_view Text, bool BigEndian) {
  std::string Bytes;
  for (char16_t U : Utf8ToUtf16(Text)) {
    const char Lo = static_cast<char>(U & 0xFF);
    const char Hi = static_cast<char>(U >> 8);
    Bytes.push_back(BigEndian ? Hi : Lo);
    Bytes.push_back(BigEndian ? Lo : Hi);
  }
  return Bytes;
}

// The text a document saves, back in UTF-8; fails the test when the bytes do
// not start with the UTF-16LE mark or hold half a code unit.
inline std::string SavedText(const TUnicodeIniFile& Ini) {
  const std::string Bytes = Ini.SaveToBytes();
  EXPECT_TRUE(Bytes.size() >= 2 && Bytes[0] == '\xFF' && Bytes[1] == '\xFE') << "no UTF-16LE mark";
  EXPECT_EQ(Bytes.size() % 2, 0u);
  std::u16string Units;
  for (std::size_t I = 2; I + 1 < Bytes.size(); I += 2)
    Units.push_back(static_cast<char16_t>(static_cast<unsigned char>(Bytes[I]) |
                                          (static_cast<unsigned char>(Bytes[I + 1]) << 8)));
  return Utf16ToUtf8(Units);
}

inline TUnicodeIniFile FromBytes(std::string_view Bytes) {
  TUnicodeIniFile Ini;
  Ini.LoadFromBytes(Bytes);
  return Ini;
}

}  // namespace dz::test
