#include "settings/ProgramLocations.h"

#include "base/BuildInfo.h"
#include "base/CaseFold.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "filesys/FileUtils.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "platform/Environment.h"
#include "platform/FileIo.h"
#include "platform/SysError.h"
#include "settings/MainAppSettings.h"
#include "settings/UnicodeIniFile.h"

#include <chrono>
#include <string>
#include <vector>

namespace dz {

namespace {

constexpr const char* ConfigFileName = "ZentApp.cfg";
constexpr const char* CurrentAppFolder = "ZentApp6";
constexpr const char* PreviousAppFolder = "ZentApp5";
constexpr const char* RegistrySection = "ZentivoCore6";

// Up to and including the last delimiter; empty for a bare name.
std::string DirectoryPart(std::string_view Path) {
  const std::size_t Last = Path.rfind(PathDelimiter);
  return Last == std::string_view::npos ? std::string() : std::string(Path.substr(0, Last + 1));
}

// The first Count characters (code points, not bytes) of Text.
std::string FirstCharacters(std::string_view Text, std::size_t Count) {
  std::size_t Pos = 0;
  for (std::size_t I = 0; I < Count && Pos < Text.size(); ++I) DecodeUtf8(Text, Pos);
  return std::string(Text.substr(0, Pos));
}

bool SameFileName(std::string_view A, std::string_view B) {
  return NativePathStyle.IgnoreCase ? SameText(A, B) : A == B;
}

bool IsAsciiLetter(char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }

// The copy keeps the older file's time and permissions. It is only made
// where no settings file exists yet, so a copy that fails half-way is
// removed again: a truncated settings file would load as a short list.
void CopyFileIgnoringFailure(const std::string& From, const std::string& To) {
  try {
    CopySingleFile(From, To, -1, 262144);
  } catch (const ECopyError&) {
    XlDeleteExistingFile(To, true);
  }
}

}  // namespace

bool MatchesOption(std::string_view Param, std::string_view Keyword) {
  return Param.size() <= Keyword.size() && AsciiLower(Param) == Keyword.substr(0, Param.size());
}

bool MatchesValueOption(std::string& Param, std::string_view Keyword) {
  const std::size_t Colon = Param.find(':');
  if (Colon == std::string::npos || !MatchesOption(std::string_view(Param).substr(0, Colon), Keyword)) return false;
  Param.erase(0, Colon + 1);
  return true;
}

std::string ExpandEnvironmentNames(std::string_view Text, const TEnvironmentReader& GetEnv) {
  std::string Result;
  std::size_t Pos = 0;
  for (;;) {
    const std::size_t Open = Text.find('%', Pos);
    const std::size_t Close = Open == std::string_view::npos ? Open : Text.find('%', Open + 1);
    if (Close == std::string_view::npos) break;
    Result += Text.substr(Pos, Open - Pos);
    Result += GetEnv(std::string(Text.substr(Open + 1, Close - Open - 1)));
    Pos = Close + 1;
  }
  Result += Text.substr(Pos);
  return Result;
}

std::string AppDataFolder(const TEnvironmentReader& GetEnv, const std::string& Home) {
  const std::string ConfigHome = GetEnv("XDG_CONFIG_HOME");
  if (IsAbsolutePath(ConfigHome)) return DirWithDelimiter(ConfigHome);
  if (Home.empty()) return std::string();
  return DirWithDelimiter(JoinPath(Home, ".config"));
}

std::string DocumentsDirFromUserDirs(std::string_view Text, const std::string& Home) {
  static constexpr std::string_view Key = "XDG_DOCUMENTS_DIR=";
  static constexpr std::string_view HomePrefix = "$HOME/";
  std::string Found;
  std::size_t LineStart = 0;
  while (LineStart < Text.size()) {
    std::size_t LineEnd = Text.find('\n', LineStart);
    if (LineEnd == std::string_view::npos) LineEnd = Text.size();
    std::string_view Line = Text.substr(LineStart, LineEnd - LineStart);
    LineStart = LineEnd + 1;

    while (!Line.empty() && (Line.front() == ' ' || Line.front() == '\t')) Line.remove_prefix(1);
    if (!Line.starts_with(Key)) continue;
    Line.remove_prefix(Key.size());

    // A shell word: quoted up to the closing quote, or bare up to a blank;
    // a backslash takes the next character as it is.
    const bool Quoted = !Line.empty() && Line.front() == '"';
    if (Quoted) Line.remove_prefix(1);
    std::string Value;
    for (std::size_t I = 0; I < Line.size(); ++I) {
      const char C = Line[I];
      if (Quoted ? C == '"' : (C == ' ' || C == '\t' || C == '\r' || C == '#')) break;
      if (C == '\\' && I + 1 < Line.size()) {
        Value += Line[++I];
      } else if (C != '\r') {
        Value += C;
      }
    }

    // As the desktop's own lookup does: only "$HOME/..." and absolute paths
    // count, and the last valid line wins.
    if (Value.starts_with(HomePrefix) && !Home.empty())
      Found = JoinPath(Home, std::string_view(Value).substr(HomePrefix.size()));
    else if (IsAbsolutePath(Value))
      Found = Value;
  }
  return DirWithDelimiter(Found);
}

std::string DocumentsFolder(const std::string& AppDataDir, const std::string& Home) {
  if (!AppDataDir.empty()) {
    std::string Text;
    if (ReadWholeFile(JoinPath(AppDataDir, "user-dirs.dirs"), Text) == ErrSuccess) {
      std::string Dir = DocumentsDirFromUserDirs(Text, Home);
      if (!Dir.empty()) return Dir;
    }
  }
  if (Home.empty()) return std::string();
  return DirWithDelimiter(JoinPath(Home, "Documents"));
}

std::string StartupFolder(const std::string& AppDataDir) {
  if (AppDataDir.empty()) return std::string();
  return DirWithDelimiter(JoinPath(AppDataDir, "autostart"));
}

std::string UserRegistryFile(const std::string& AppDataDir) {
  if (AppDataDir.empty()) return std::string();
  return JoinPath(JoinPath(AppDataDir, RegistrySection), "registry.ini");
}

std::string MachineRegistryFile(const std::string& MachineConfigDir) {
  if (MachineConfigDir.empty()) return std::string();
  return JoinPath(JoinPath(MachineConfigDir, RegistrySection), "registry.ini");
}

std::string ReadRegistryValue(const std::string& RegistryFile, std::string_view Name) {
  if (RegistryFile.empty()) return std::string();
  try {
    return TUnicodeIniFile::CreateForRead(RegistryFile).ReadString(RegistrySection, Name, "");
  } catch (const EStreamError&) {
    return std::string();
  }
}

std::string LanguageFromLocale(std::string_view Locale) {
  const std::string_view Language = Locale.substr(0, Locale.find_first_of("_.@"));
  if (Language.size() != 2 || !IsAsciiLetter(Language[0]) || !IsAsciiLetter(Language[1])) return "en";
  return AsciiLower(Language);
}

std::string SystemLanguageCode(const TEnvironmentReader& GetEnv) {
  // LANGUAGE is a priority list; its first entry is what the user reads best.
  const std::string Languages = GetEnv("LANGUAGE");
  std::size_t Start = 0;
  while (Start < Languages.size()) {
    std::size_t End = Languages.find(':', Start);
    if (End == std::string::npos) End = Languages.size();
    if (End > Start) return LanguageFromLocale(std::string_view(Languages).substr(Start, End - Start));
    Start = End + 1;
  }
  for (const char* Name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string Locale = GetEnv(Name);
    if (!Locale.empty()) return LanguageFromLocale(Locale);
  }
  return "en";
}

std::string ConfiguredLanguageCode(const std::string& ConfigFile) {
  try {
    return FirstCharacters(TUnicodeIniFile::CreateForRead(ConfigFile).ReadString("Language", "LangID", ""), 2);
  } catch (const EStreamError&) {
    return std::string();
  }
}

TConfigChoice LocateConfigFile(const std::vector<std::string>& Args, const std::string& IniPathValue,
                               const std::string& AppDataDir, const std::string& ProgramDir,
                               const std::string& CurrentDir, const TEnvironmentReader& GetEnv) {
  TConfigChoice Choice;
  const std::string Base = IniPathValue.empty() ? DirWithDelimiter(CurrentAppFolder) : IniPathValue;
  Choice.ConfigFile = JoinPath(MakeAbsolutePath(AppDataDir, Base), ConfigFileName);

  std::string IniPath;
  for (const std::string& Arg : Args) {
    if (Arg.empty() || (Arg[0] != '/' && Arg[0] != '-')) continue;
    std::string Param = Arg.substr(1);
    if (MatchesValueOption(Param, "lang")) {
      Choice.CommandLineLanguage = FirstCharacters(Param, 2);
    } else if (MatchesValueOption(Param, "ini")) {
      IniPath = ExpandEnvironmentNames(Param, GetEnv);
      Choice.IniValue = IniPath;
    } else if (MatchesOption(Param, "portable")) {
      Choice.Portable = true;
      if (IniPath.empty()) IniPath = ProgramDir;
    }
  }
  if (IniPath.empty()) return Choice;

  if (IniPath.back() == PathDelimiter) {
    Choice.ConfigFile = IniPath + ExtractFileName(Choice.ConfigFile);
    return Choice;
  }
  const std::string Name =
      Choice.Portable ? ReplaceExtension(ExtractFileName(IniPath), "cfg") : ExtractFileName(Choice.ConfigFile);
  const bool HasDirectory = IniPath.find(PathDelimiter) != std::string::npos;
  std::string Dir;
  if (IsAbsolutePath(IniPath))
    Dir = DirectoryPart(IniPath);
  else if (Choice.Portable)
    Dir = JoinPath(ProgramDir, DirectoryPart(IniPath));
  else if (!HasDirectory)
    Dir = DirectoryPart(Choice.ConfigFile);
  else
    Dir = MakeAbsolutePath(CurrentDir, DirectoryPart(IniPath));
  Choice.ConfigFile = JoinPath(Dir, Name);
  return Choice;
}

std::string IniOptionSettingsDir(const std::string& IniValue, const std::string& CurrentDir) {
  if (IniValue.empty()) return std::string();
  const std::string Dir = MakeAbsolutePath(CurrentDir, IniValue);
  if (IniValue.back() != PathDelimiter && !DirectoryExists(Dir)) return std::string();
  return DirWithDelimiter(Dir);
}

std::string PrepareSettingsDirectory(const std::string& IniPathValue, const std::string& AppPath) {
  const std::string& Wanted = IniPathValue.empty() ? AppPath : IniPathValue;
  if (ForceDirectories(Wanted) == ErrSuccess) return DirWithDelimiter(Wanted);
  // Without its folder the settings could not be saved at the end of the
  // run, so the default folder is made to exist too.
  if (!IniPathValue.empty()) ForceDirectories(AppPath);
  return DirWithDelimiter(AppPath);
}

void CarryOverSettingsFile(const std::string& IniName, const std::string& AppPath,
                           const std::string& AppDataDir) {
  const std::string Name = ExtractFileName(IniName);
  const std::string Default = JoinPath(AppPath, Name);
  if (SameFileName(Default, IniName) || SameFile(DirectoryPart(Default), DirectoryPart(IniName))) return;
  if (RegularFileExists(IniName)) return;

  if (RegularFileExists(Default)) {
    CopyFileIgnoringFailure(Default, IniName);
    return;
  }
  if (AppDataDir.empty()) return;
  const std::string Previous = JoinPath(JoinPath(AppDataDir, PreviousAppFolder), Name);
  if (RegularFileExists(Previous)) CopyFileIgnoringFailure(Previous, IniName);
}

std::string ShortVersion(std::string_view FileVersion, int N) {
  std::vector<std::string_view> Parts;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t Dot = FileVersion.find('.', Start);
    Parts.push_back(FileVersion.substr(Start, Dot == std::string_view::npos ? Dot : Dot - Start));
    if (Dot == std::string_view::npos) break;
    Start = Dot + 1;
  }
  Parts.pop_back();  // the build number
  std::string Result;
  for (std::size_t I = 0; I < Parts.size() && static_cast<int>(I) < N; ++I) {
    if (I > 0) Result += '.';
    Result += Parts[I];
  }
  return Result;
}

std::string VersionText(int N) {
  const std::string Version = ShortVersion(BuildFileVersion, N);
  return Tr("Version") + " " + (Version.empty() ? std::string(" - Vers. 1.1") : Version);
}

std::string BitnessText() {
  return sizeof(void*) == 8 ? Tr(" - 64-bit") : Tr(" - 32-bit");
}

std::string ProgVersName() {
  return std::string(BuildInternalName) + " (" + VersionText(3) + ")";
}

std::string FileDateText(const std::string& FileName) {
  std::chrono::system_clock::time_point Time;
  TLocalTime Local;
  if (!FileModificationTime(FileName, Time) || !LocalTimeOf(Time, Local)) return std::string();
  return ZeroPadInt(Local.Year, 4) + "-" + ZeroPadInt(Local.Month, 2) + "-" + ZeroPadInt(Local.Day, 2);
}

TLocationInputs ProcessLocationInputs(int Argc, const char* const* Argv) {
  TLocationInputs In;
  for (int I = 1; I < Argc; ++I) In.Args.emplace_back(Argv[I]);
  In.CurrentDir = CurrentDirectory();
  In.ExeFileName = ExecutableFileName();
  // Without /proc the name the program was started by is the best guess; it
  // names a directory only when it holds a delimiter.
  if (In.ExeFileName.empty() && Argc > 0 && Argv[0] != nullptr && std::string_view(Argv[0]).find(PathDelimiter) != std::string_view::npos)
    In.ExeFileName = MakeAbsolutePath(In.CurrentDir, Argv[0]);
  In.Home = HomeDirectory();
  In.GetEnv = [](const std::string& Name) { return EnvVar(Name); };
  return In;
}

TProgramLocations FindProgramLocations(const TLocationInputs& In) {
  TProgramLocations L;
  L.ProgramDir = DirectoryPart(In.ExeFileName);
  L.ProgramName = RemoveExtension(ExtractFileName(In.ExeFileName));
  if (L.ProgramName.empty()) L.ProgramName = BuildInternalName;
  L.AppDataDir = AppDataFolder(In.GetEnv, In.Home);
  L.AppPath = L.AppDataDir.empty() ? L.ProgramDir : DirWithDelimiter(JoinPath(L.AppDataDir, CurrentAppFolder));
  L.UserPath = DocumentsFolder(L.AppDataDir, In.Home);
  L.StartupDir = StartupFolder(L.AppDataDir);
  L.JobDir = DirWithDelimiter(JoinPath(L.UserPath, "ZentApp"));

  const std::string IniPathValue = ReadRegistryValue(UserRegistryFile(L.AppDataDir), "IniPath");
  const TConfigChoice Config =
      LocateConfigFile(In.Args, IniPathValue, L.AppDataDir, L.ProgramDir, In.CurrentDir, In.GetEnv);
  L.ConfigFile = Config.ConfigFile;
  L.Portable = Config.Portable;
  std::string Language = Config.CommandLineLanguage;
  if (Language.empty()) Language = ConfiguredLanguageCode(L.ConfigFile);
  if (Language.empty()) Language = SystemLanguageCode(In.GetEnv);
  // Catalog folders are named in lower case, and Linux file names are
  // case-sensitive.
  L.LanguageCode = AsciiLower(Language);

  L.ZvPath = FindZvPath(In.CurrentDir, L.ProgramDir, MachineRegistryFile(In.MachineConfigDir), In.GetEnv("PATH"));

  const std::string IniDir = IniOptionSettingsDir(Config.IniValue, In.CurrentDir);
  L.SettingsDir = PrepareSettingsDirectory(IniDir.empty() ? IniPathValue : IniDir, L.AppPath);
  L.IniName = L.SettingsDir + L.ProgramName + ".ini";
  if (IniDir.empty()) CarryOverSettingsFile(L.IniName, L.AppPath, L.AppDataDir);
  L.MainAppIniName = MainAppIniFile(L.SettingsDir);
  L.ProgVersDate = FileDateText(In.ExeFileName);
  return L;
}

}  // namespace dz
