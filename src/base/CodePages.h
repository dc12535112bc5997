#pragma once
// The code pages a text file can be read in for display: UTF-8, in which the
// program writes its logs, and the 8-bit code pages that older files of
// Western European users are written in. Decoding never fails: a byte
// sequence that is not valid UTF-8 becomes U+FFFD, and every byte of an
// 8-bit code page stands for a character.

#include <span>
#include <string>
#include <string_view>

namespace dz {

// Windows code page numbers; 0 stands for the default, UTF-8.
enum TCodePage : int {
  cpDefault = 0,
  cpIbm850 = 850,          // DOS Latin 1
  cpWindows1252 = 1252,
  cpIso8859_1 = 28591,
  cpIso8859_15 = 28605,    // Latin 9: Latin 1 with the euro sign
  cpUtf8 = 65001,
};

struct TCodePageInfo {
  TCodePage CodePage;
  const char* Name;   // how users know it; not translated
};

// The code pages offered, UTF-8 first.
std::span<const TCodePageInfo> SupportedCodePages();
bool IsSupportedCodePage(int CodePage);

// Bytes in CodePage as UTF-8. A UTF-8 byte-order mark at the start is
// dropped when decoding as UTF-8. A code page that is not supported is read
// as UTF-8.
std::string DecodeCodePage(std::string_view Bytes, int CodePage);

}  // namespace dz
