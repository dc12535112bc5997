#include "settings/MainAppSettings.h"

#include "base/CaseFold.h"
#include "base/CommaText.h"
#include "base/MatchList.h"
#include "base/SystemTraits.h"
#include "filesys/PathUtils.h"
#include "platform/Environment.h"
#include "platform/FileIo.h"
#include "platform/SysError.h"
#include "settings/PathConventions.h"
#include "settings/ProgramLocations.h"
#include "settings/UnicodeIniFile.h"

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace dz {

std::string MainAppExeName() {
  return std::string("ZentApp") + SystemExecutableExtension;
}

std::string MainAppIniFile(const std::string& SettingsDir) {
  return JoinPath(SettingsDir, ReplaceExtension(MainAppExeName(), "ini"));
}

std::string FindZvPath(const std::string& CurrentDir, const std::string& ProgramDir,
                       const std::string& MachineRegistryFile, std::string_view SearchPath) {
  for (const std::string* Dir : {&CurrentDir, &ProgramDir}) {
    if (Dir->empty()) continue;
    const std::string Candidate = JoinPath(*Dir, MainAppExeName());
    if (IsExecutableFile(Candidate)) return Candidate;
  }

  const std::string Registered = ReadRegistryValue(MachineRegistryFile, "Program");
  if (!Registered.empty() && IsExecutableFile(Registered)) return Registered;

  // An empty entry of PATH stands for the current directory, which has been
  // searched already.
  std::size_t Start = 0;
  while (Start <= SearchPath.size()) {
    std::size_t End = SearchPath.find(SystemPathListSeparator, Start);
    if (End == std::string_view::npos) End = SearchPath.size();
    const std::string_view Dir = SearchPath.substr(Start, End - Start);
    if (!Dir.empty()) {
      const std::string Candidate = JoinPath(MakeAbsolutePath(CurrentDir, Dir), MainAppExeName());
      if (IsExecutableFile(Candidate)) return Candidate;
    }
    Start = End + 1;
  }
  return std::string();
}

std::string CombineNoCompress(std::string_view UserList) {
  TMatchList Types(TListCompare::lcIgnoreCase);
  for (const std::string_view List : {UserList, std::string_view(BuiltInNoCompress)}) {
    for (const std::string& Type : SplitCommaText(List)) {
      if (!Type.empty()) Types.Add(Type);
    }
  }
  return JoinCommaText(Types.Items());
}

namespace {

bool ParseMillimetres(std::string Text, double& Value) {
  for (char& C : Text)
    if (C == ',') C = '.';
  double Parsed = 0;
  const char* End = Text.data() + Text.size();
  const auto [Ptr, Error] = std::from_chars(Text.data(), End, Parsed, std::chars_format::fixed);
  if (Text.empty() || Error != std::errc() || Ptr != End || !std::isfinite(Parsed) || Parsed < 0 ||
      Parsed > MaxPrinterMargin)
    return false;
  Value = Parsed;
  return true;
}

}  // namespace

TPrinterMargins PrinterMarginsFrom(const std::vector<std::pair<std::string, std::string>>& Section) {
  TPrinterMargins Margins;
  const std::pair<const char*, double*> Keys[] = {
      {"Left", &Margins.Left}, {"Top", &Margins.Top}, {"Right", &Margins.Right}, {"Bottom", &Margins.Bottom}};
  for (const auto& [Key, Value] : Section) {
    for (const auto& [Name, Field] : Keys) {
      double Parsed = 0;
      if (SameText(Key, Name) && ParseMillimetres(Value, Parsed)) *Field = Parsed;
    }
  }
  return Margins;
}

TMainAppSettings ReadMainAppSettings(const std::string& SettingsDir, std::string_view LanguageCode) {
  TMainAppSettings Settings;
  Settings.DriveId = DefaultDriveId(LanguageCode);
  // Without the main application's list the built-in one stands: a
  // compressed copy of a JPEG or a gzip file is only slower, never smaller.
  Settings.NoCompress = CombineNoCompress("");

  const std::string FileName = MainAppIniFile(SettingsDir);
  if (RegularFileExists(FileName)) {
    try {
      const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(FileName);
      Settings.Found = true;
      Settings.DriveId = Ini.ReadString("Config", "DriveId", Settings.DriveId);
      Settings.NoCompress = CombineNoCompress(Ini.ReadString("Config", "NoCompress", ""));
      Settings.LogDir = Ini.ReadString("Config", "ProtDir", "");
      for (const std::string& Line : Ini.ReadSectionValues("Printer")) {
        const std::size_t Equals = Line.find('=');
        if (Equals != std::string::npos) Settings.Printer.emplace_back(Line.substr(0, Equals), Line.substr(Equals + 1));
      }
      Settings.Margins = PrinterMarginsFrom(Settings.Printer);
    } catch (const EStreamError&) {
      // Read as missing: the defaults stand.
    }
  }

  if (Settings.LogDir.empty() || !DirectoryExists(Settings.LogDir)) Settings.LogDir = SettingsDir;
  return Settings;
}

bool ConfigWantsDarkMode(const std::string& ConfigFile) {
  try {
    return ReadIniBool(ConfigFile, "Config", "DarkMode", false);
  } catch (const EStreamError&) {
    return false;
  }
}

}  // namespace dz
