#include "filesys/XlFileUtils.h"

#include "base/Utf.h"

namespace dz {

namespace {

constexpr std::string_view LongPrefix = "\\\\?\\";
constexpr std::string_view LongUncPrefix = "\\\\?\\UNC\\";

// True when the second character of Path (not the second byte) is ":".
bool HasDriveLetter(std::string_view Path) {
  if (Path.empty())
    return false;
  std::size_t AfterFirst = 0;
  DecodeUtf8(Path, AfterFirst);
  return AfterFirst < Path.size() && Path[AfterFirst] == ':';
}

}  // namespace

std::string AddLongPathPrefix(std::string_view Path, const TPathStyle& Style) {
  if (!Style.HasDrives || Path.starts_with(LongPrefix))
    return std::string(Path);
  if (Path.starts_with("\\\\"))
    return std::string(LongUncPrefix) + std::string(Path.substr(2));
  if (HasDriveLetter(Path) && Utf16Length(Path) >= LongPathThreshold)
    return std::string(LongPrefix) + std::string(Path);
  return std::string(Path);
}

}  // namespace dz
