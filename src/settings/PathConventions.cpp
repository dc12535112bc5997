#include "settings/PathConventions.h"

#include "base/CaseFold.h"
#include "base/Utf.h"

namespace dz {

std::string DefaultDriveId(std::string_view LanguageCode) {
  return SameText(LanguageCode, "de") ? "Lw?" : "Drv?";
}

std::string DriveFolderName(std::string_view Pattern, std::string_view Drive, const TPathStyle& Style) {
  std::string Result;
  if (Drive.starts_with("\\\\")) {
    Result = Drive.substr(2);
  } else if (Drive.find(':') == std::string_view::npos) {
    Result = Drive;
  } else {
    // The letter is one character, which need not be one byte.
    std::size_t End = 0;
    DecodeUtf8(Drive, End);
    std::string Letter(Drive.substr(0, End));
    if (Letter.size() == 1 && Letter[0] >= 'a' && Letter[0] <= 'z') Letter[0] = static_cast<char>(Letter[0] - 'a' + 'A');

    if (Pattern.find('?') == std::string_view::npos) {
      Result = std::string(Pattern) + Letter;
    } else {
      for (const char C : Pattern) {
        if (C == '?')
          Result += Letter;
        else
          Result += C;
      }
    }
  }
  return DirWithDelimiter(Result, Style);
}

}  // namespace dz
