#include "desktop/Appearance.h"

#include <array>
#include <charconv>
#include <vector>

#include "base/CaseFold.h"
#include "filesys/PathUtils.h"
#include "platform/FileIo.h"
#include "platform/SysError.h"
#include "settings/UnicodeIniFile.h"

namespace dz {

namespace {

std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t' || Text.front() == '\n' || Text.front() == '\r'))
    Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t' || Text.back() == '\n' || Text.back() == '\r'))
    Text.remove_suffix(1);
  return Text;
}

// "r,g,b" (a fourth part, the opacity, is ignored) with each part 0 to 255;
// false for anything else.
bool ParseRgb(std::string_view Text, std::array<int, 3>& Rgb) {
  std::vector<std::string_view> Parts;
  for (;;) {
    const std::size_t Comma = Text.find(',');
    Parts.push_back(Trimmed(Text.substr(0, Comma)));
    if (Comma == std::string_view::npos) break;
    Text.remove_prefix(Comma + 1);
  }
  if (Parts.size() != 3 && Parts.size() != 4) return false;
  for (std::size_t I = 0; I < Rgb.size(); ++I) {
    const std::string_view Part = Parts[I];
    const auto [End, Error] = std::from_chars(Part.data(), Part.data() + Part.size(), Rgb[I]);
    if (Part.empty() || Error != std::errc() || End != Part.data() + Part.size() || Rgb[I] < 0 || Rgb[I] > 255)
      return false;
  }
  return true;
}

}  // namespace

TColorScheme ColorSchemeFromPortal(std::uint32_t Value) {
  switch (Value) {
    case 1: return TColorScheme::csDark;
    case 2: return TColorScheme::csLight;
    default: return TColorScheme::csUnknown;
  }
}

TColorScheme ColorSchemeFromGnome(std::string_view Output) {
  std::string_view Value = Trimmed(Output);
  if (Value.size() >= 2 && Value.front() == '\'' && Value.back() == '\'') Value = Value.substr(1, Value.size() - 2);
  if (Value == "prefer-dark") return TColorScheme::csDark;
  if (Value == "prefer-light") return TColorScheme::csLight;
  return TColorScheme::csUnknown;
}

TColorScheme ColorSchemeFromKdeGlobals(std::string_view Text) {
  TUnicodeIniFile Ini;
  Ini.LoadFromBytes(Text);
  std::array<int, 3> Rgb{};
  if (ParseRgb(Ini.ReadString("Colors:Window", "BackgroundNormal", ""), Rgb)) {
    // Relative luminance with the sRGB weights; the middle grey 128 counts as
    // light.
    const int Luminance = (2126 * Rgb[0] + 7152 * Rgb[1] + 722 * Rgb[2]) / 10000;
    return Luminance < 128 ? TColorScheme::csDark : TColorScheme::csLight;
  }
  const std::string Scheme = Ini.ReadString("General", "ColorScheme", "");
  if (Scheme.empty()) return TColorScheme::csUnknown;
  return FoldCase(Scheme).find("dark") != std::string::npos ? TColorScheme::csDark : TColorScheme::csLight;
}

std::string KdeGlobalsFile(const std::string& AppDataDir) {
  if (AppDataDir.empty()) return std::string();
  return JoinPath(AppDataDir, "kdeglobals");
}

TColorScheme KdeColorScheme(const std::string& AppDataDir) {
  const std::string File = KdeGlobalsFile(AppDataDir);
  std::string Text;
  if (File.empty() || ReadWholeFile(File, Text) != ErrSuccess) return TColorScheme::csUnknown;
  return ColorSchemeFromKdeGlobals(Text);
}

bool ResolveSystemDarkMode(const std::vector<std::function<TColorScheme()>>& Sources) {
  for (const auto& Source : Sources) {
    if (!Source) continue;
    switch (Source()) {
      case TColorScheme::csDark: return true;
      case TColorScheme::csLight: return false;
      case TColorScheme::csUnknown: break;
    }
  }
  return false;
}

bool WantDarkStyle(bool DarkOption, bool ConfigDarkMode, const std::function<bool()>& IsSystemDarkMode) {
  if (DarkOption) return true;
  if (ConfigDarkMode) return IsSystemDarkMode && IsSystemDarkMode();
  return false;
}

}  // namespace dz
