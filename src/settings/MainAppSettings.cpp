#include "settings/MainAppSettings.h"

#include "base/CommaText.h"
#include "base/MatchList.h"
#include "filesys/PathUtils.h"
#include "platform/Environment.h"
#include "platform/FileIo.h"
#include "platform/SysError.h"
#include "platform/SystemTraits.h"
#include "settings/PathConventions.h"
#include "settings/ProgramLocations.h"
#include "settings/UnicodeIniFile.h"

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

TMainAppSettings ReadMainAppSettings(const std::string& SettingsDir, std::string_view LanguageCode) {
  TMainAppSettings Settings;
  Settings.DriveId = DefaultDriveId(LanguageCode);

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
