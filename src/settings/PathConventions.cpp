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

std::string CutVolumeLabel(std::string_view Path, std::string& Rest, const TPathStyle& Style) {
  Rest.clear();
  while (!Path.empty() && Path.front() == ' ') Path.remove_prefix(1);
  if (Path.empty() || Path.front() != ':') {
    Rest = Path;
    return {};
  }
  // Every ":" after the opening one switches between inside and outside the
  // label, so a doubled ":" stays inside; the first delimiter met outside
  // ends the label part.
  bool Inside = true;
  std::size_t End = 1;
  for (; End < Path.size(); ++End) {
    if (Path[End] == ':')
      Inside = !Inside;
    else if (Path[End] == Style.Delimiter && !Inside)
      break;
  }
  std::string_view Part = Path.substr(0, End);
  Rest = End < Path.size() ? Path.substr(End + 1) : std::string_view();
  if (Part.size() <= 2) return {};
  while (!Part.empty() && Part.back() == ' ') Part.remove_suffix(1);
  if (Part.size() >= 2 && Part.back() == ':') Part.remove_suffix(1);
  Part.remove_prefix(1);
  std::string Label;
  for (std::size_t I = 0; I < Part.size(); ++I) {
    Label += Part[I];
    if (Part[I] == ':' && I + 1 < Part.size() && Part[I + 1] == ':') ++I;
  }
  return Label;
}

TVolumePathResult ResolveVolumePath(std::string& Path, std::string& Label, const TVolumes& Volumes) {
  if (Path.empty()) return vpNotFound;
  if (Path.front() != ':') return vpNoLabel;
  std::string Rest;
  const std::string Found = CutVolumeLabel(Path, Rest);
  // An empty label would match the first file system without one: an
  // arbitrary disk, never the one the user meant.
  if (Found.empty()) return vpNotFound;
  const std::string Root = FindDriveByLabel(Found, 0, Volumes);
  if (Root.empty()) return vpNotFound;
  Path = Root + Rest;
  Label = Found;
  return vpResolved;
}

bool VolumeLabelOf(std::string_view Path, std::string& Label) {
  if (Path.empty() || Path.front() != ':') return false;
  std::string Rest;
  Label = CutVolumeLabel(Path, Rest);
  return !Label.empty();
}

}  // namespace dz
