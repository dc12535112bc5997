#include "watchdog/SettingsGuard.h"

#include <cstdint>

#include "base/CaseFold.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "platform/FileIo.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/WatchdogSettings.h"

namespace dz {

std::string SettingsFileDamage(std::string_view Bytes, std::string_view ProgramName) {
  if (Bytes.empty()) return Tr("the file is empty");
  const bool Utf16 = Bytes.starts_with("\xFF\xFE") || Bytes.starts_with("\xFE\xFF");
  const std::string Text = DecodeIniFileText(Bytes);
  if ((!Utf16 && Bytes.find('\0') != std::string_view::npos) || Text.find('\0') != std::string::npos)
    return Tr("the file is not text");

  // The format lets a section hold lines that are no keys (the document
  // keeps them), but nothing comes before the first section.
  std::size_t LineNumber = 0;
  std::size_t Stray = 0;  // the first line before any section, counted from 1
  bool InSection = false;
  for (std::size_t Pos = 0; Pos < Text.size() && !InSection;) {
    std::size_t End = Text.find_first_of("\r\n", Pos);
    if (End == std::string::npos) End = Text.size();
    ++LineNumber;
    const std::string_view Line = TrimIniText(std::string_view(Text).substr(Pos, End - Pos));
    Pos = End + (Text.compare(End, 2, "\r\n") == 0 ? 2 : 1);
    if (Line.empty() || Line.front() == ';') continue;
    if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']')
      InSection = true;
    else if (Stray == 0)
      Stray = LineNumber;
  }
  if (Stray != 0) return SafeFormat(Tr("line %u is not a setting"), static_cast<unsigned>(Stray));
  if (!InSection) return Tr("the file holds no settings");

  TUnicodeIniFile Ini;
  Ini.LoadFromBytes(Bytes);
  const bool Ours = SameText(Ini.ReadString("Unicode", "Program", ""), ProgramName);
  // Programs end every line, the last one too, with CR LF.
  if ((Ours || Utf16) && (Text.back() != '\n' || (Utf16 && Bytes.size() % 2 != 0))) return Tr("the file ends in the middle of a line");
  if (!Ours) return {};
  if (!Ini.ValueExists("Config", "Count")) return Tr("the file ends before its settings");

  // The sections are written in order, each with its keys and then its
  // pending files: what a cut leaves out shows in the last one it reached.
  const std::int32_t Dirs = Ini.ReadInteger("Config", "Count", 0);
  for (std::int32_t I = 0; I < Dirs && I < static_cast<std::int32_t>(MaxMonTasks); ++I) {
    const std::string Section = "Monitor" + ZeroPadInt(I, 2);
    if (!Ini.SectionExists(Section) || !Ini.ValueExists(Section, "Count"))
      return SafeFormat(Tr("the file ends before directory %u"), static_cast<unsigned>(I + 1));
    const std::int32_t Files = Ini.ReadInteger(Section, "Count", 0);
    const std::int32_t Failed = Ini.ReadInteger(Section, "FailedCount", 0);
    if ((Files > 0 && !Ini.ValueExists(Section, "File" + ZeroPadInt(Files - 1, 3))) ||
        (Failed > 0 && !Ini.ValueExists(Section, "Failed" + ZeroPadInt(Failed - 1, 3))))
      return SafeFormat(Tr("the file ends in the pending files of directory %u"), static_cast<unsigned>(I + 1));
  }
  return {};
}

void CheckSettingsFile(const std::string& IniName, std::string_view ProgramName) {
  std::string Bytes;
  if (ReadWholeFile(IniName, Bytes) != 0) return;
  const std::string Damage = SettingsFileDamage(Bytes, ProgramName);
  if (Damage.empty()) return;
  std::string Aside = IniName + ".damaged";
  int E = RenameNoReplace(IniName, Aside);
  for (int N = 2; E == ErrAlreadyExists && N < 1000; ++N) {
    Aside = IniName + ".damaged-" + std::to_string(N);
    E = RenameNoReplace(IniName, Aside);
  }
  if (E != 0)
    throw EFOpenError(SafeFormat(Tr("The settings file \"%s\" is damaged (%s) and could not be put aside: %s"),
                                 IniName, Damage, PlatformErrorText(E)),
                      E);
  throw EFOpenError(
      SafeFormat(Tr("The settings file \"%s\" is damaged (%s). It was kept as \"%s\"."), IniName, Damage, Aside),
      ErrInvalidData);
}

std::optional<std::string> LockSettingsFile(const std::string& IniName, std::string_view ProgramName,
                                            TInstanceLock& Lock) {
  std::int64_t Holder = 0;
  const int E = Lock.Acquire(JoinPath(ExtractFileDir(IniName), "." + ExtractFileName(IniName) + ".lock"), Holder);
  if (E == ErrSharingViolation) {
    if (Holder > 0)
      return SafeFormat(Tr("%s is already running with the settings file \"%s\" (process %s)."), ProgramName,
                        IniName, std::to_string(Holder));
    return SafeFormat(Tr("%s is already running with the settings file \"%s\"."), ProgramName, IniName);
  }
  // Only the holder of the lock knows that no save of the file runs.
  if (E == 0) RemoveStaleReplacements(IniName);
  return std::nullopt;
}

}  // namespace dz
