#include "watchdog/WatchdogSettings.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "base/CaseFold.h"
#include "filesys/NumberUtils.h"
#include "settings/IniNameCodec.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/BackupThread.h"

namespace dz {

namespace {

// The keys of the file, in one place.
constexpr std::string_view SecConfig = "Config";
constexpr std::string_view KeyTop = "Top";
constexpr std::string_view KeyLeft = "Left";
constexpr std::string_view KeyHeight = "Height";
constexpr std::string_view KeyWidth = "Width";
constexpr std::string_view KeyJobDir = "JobDir";
constexpr std::string_view KeyInterval = "Interval";
constexpr std::string_view KeySysTray = "SysTray";
constexpr std::string_view KeyWriteLog = "WriteLog";
constexpr std::string_view KeyCount = "Count";
// Seconds since 1970-01-01 UTC of the last save.
constexpr std::string_view KeyLastSave = "LastSave";
constexpr std::string_view KeyBackupTask = "BackupTask";
constexpr std::string_view KeyDirectory = "Directory";
constexpr std::string_view KeyRetainBak = "RetainBak";
constexpr std::string_view KeyEnabled = "Enabled";
constexpr std::string_view FilePrefix = "File";

std::string MonitorSection(std::size_t Index) { return "Monitor" + ZeroPadInt(static_cast<std::int64_t>(Index), 2); }

std::string FileKey(std::size_t Index) {
  return std::string(FilePrefix) + ZeroPadInt(static_cast<std::int64_t>(Index), 3);
}

std::optional<std::int32_t> ReadOptionalInteger(const TUnicodeIniFile& Ini, std::string_view Ident) {
  if (!Ini.ValueExists(SecConfig, Ident))
    return std::nullopt;
  return Ini.ReadInteger(SecConfig, Ident, 0);
}

std::string ReadName(const TUnicodeIniFile& Ini, std::string_view Section, std::string_view Ident) {
  return DecodeIniName(Ini.ReadString(Section, Ident, ""));
}

void WriteName(TUnicodeIniFile& Ini, std::string_view Section, std::string_view Ident, std::string_view Name) {
  Ini.WriteString(Section, Ident, EncodeIniName(Name));
}

// J when Name is the key FileKey(J), found as the document finds keys
// (without regard to case); -1 for any other name.
std::int64_t FileKeyIndex(std::string_view Name) {
  if (Name.size() < FilePrefix.size() + 3 || Name.size() > FilePrefix.size() + 10 ||
      !SameText(Name.substr(0, FilePrefix.size()), FilePrefix))
    return -1;
  const std::string_view Digits = Name.substr(FilePrefix.size());
  if (Digits.size() > 3 && Digits.front() == '0')
    return -1;  // File0001 is not how index 1 is written, so it is never read
  std::int64_t Index = 0;
  for (const char C : Digits) {
    if (C < '0' || C > '9')
      return -1;
    Index = Index * 10 + (C - '0');
  }
  return Index;
}

// The names under the keys File000 to File<Count - 1> of a section, read in
// one pass over its lines rather than by looking up each number: Count comes
// from the file and may be far larger than the section.
std::vector<std::string> LoadPendingFiles(const std::vector<std::string>& Lines, std::int32_t Count) {
  struct TFileLine {
    std::int64_t Index;
    std::string_view Value;
  };
  std::vector<TFileLine> Found;
  for (const std::string& Line : Lines) {
    const std::size_t Eq = Line.find('=');
    if (Eq == std::string::npos)
      continue;
    const std::int64_t Index = FileKeyIndex(std::string_view(Line).substr(0, Eq));
    if (Index >= 0 && Index < Count)
      Found.push_back({Index, std::string_view(Line).substr(Eq + 1)});
  }
  // A key that occurs twice counts with its first value, as a lookup finds it.
  auto ByIndex = [](const TFileLine& A, const TFileLine& B) { return A.Index < B.Index; };
  std::stable_sort(Found.begin(), Found.end(), ByIndex);
  Found.erase(std::unique(Found.begin(), Found.end(),
                          [](const TFileLine& A, const TFileLine& B) { return A.Index == B.Index; }),
              Found.end());

  std::vector<std::string> Files;
  Files.reserve(Found.size());
  for (const TFileLine& File : Found) {
    std::string Name = DecodeIniName(File.Value);
    if (!Name.empty())
      Files.push_back(std::move(Name));
  }
  return Files;
}

}  // namespace

TWatchdogSettings LoadWatchdogSettings(const std::string& IniName) {
  const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(IniName);
  TWatchdogSettings S;
  S.Top = ReadOptionalInteger(Ini, KeyTop);
  S.Left = ReadOptionalInteger(Ini, KeyLeft);
  S.ClientHeight = ReadOptionalInteger(Ini, KeyHeight);
  S.ClientWidth = ReadOptionalInteger(Ini, KeyWidth);
  if (Ini.ValueExists(SecConfig, KeyJobDir))
    S.JobDir = ReadName(Ini, SecConfig, KeyJobDir);
  S.Interval = Ini.ReadInteger(SecConfig, KeyInterval, DefaultBuInterval);
  S.SysTray = Ini.ReadBool(SecConfig, KeySysTray, false);
  S.WriteLog = Ini.ReadBool(SecConfig, KeyWriteLog, false);
  if (Ini.ValueExists(SecConfig, KeyLastSave))
    S.LastSave = std::chrono::system_clock::time_point(std::chrono::seconds(Ini.ReadInt64(SecConfig, KeyLastSave, 0)));

  const auto Count = static_cast<std::size_t>(
      std::clamp<std::int32_t>(Ini.ReadInteger(SecConfig, KeyCount, 0), 0, static_cast<std::int32_t>(MaxMonTasks)));
  for (std::size_t I = 0; I < Count; ++I) {
    const std::string Section = MonitorSection(I);
    TStoredMonTask Entry;
    Entry.BuTask = ReadName(Ini, Section, KeyBackupTask);
    if (Entry.BuTask.empty())
      continue;
    Entry.Dir = ReadName(Ini, Section, KeyDirectory);
    // A hand-edited value outside what the spin button offers is held as
    // the button would hold it.
    Entry.RetainBak = std::clamp<std::int32_t>(Ini.ReadInteger(Section, KeyRetainBak, 0), 0, TBackupThread::MaxRetain);
    Entry.Enabled = Ini.ReadBool(Section, KeyEnabled, true);
    Entry.Files = LoadPendingFiles(Ini.ReadSectionValues(Section), Ini.ReadInteger(Section, KeyCount, 0));
    S.MonTasks.push_back(std::move(Entry));
  }
  return S;
}

void SaveWatchdogSettings(const std::string& IniName, const TWatchdogSettings& S, const std::string& ProgramName,
                          const std::string& ProgramVersion) {
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(IniName, false);
  Ini.EraseSection("Global");
  Ini.WriteProgramInfo("Program", ProgramName);
  Ini.WriteProgramInfo("Version", ProgramVersion);

  auto WriteOptional = [&Ini](std::string_view Ident, const std::optional<std::int32_t>& Value) {
    if (Value)
      Ini.WriteInteger(SecConfig, Ident, *Value);
  };
  WriteOptional(KeyTop, S.Top);
  WriteOptional(KeyLeft, S.Left);
  WriteOptional(KeyHeight, S.ClientHeight);
  WriteOptional(KeyWidth, S.ClientWidth);
  if (S.JobDir)
    WriteName(Ini, SecConfig, KeyJobDir, *S.JobDir);
  Ini.WriteInteger(SecConfig, KeyInterval, S.Interval);
  Ini.WriteBool(SecConfig, KeySysTray, S.SysTray);
  Ini.WriteBool(SecConfig, KeyWriteLog, S.WriteLog);
  const std::size_t Count = std::min(S.MonTasks.size(), MaxMonTasks);
  Ini.WriteInteger(SecConfig, KeyCount, static_cast<std::int32_t>(Count));
  if (S.LastSave)
    Ini.WriteInt64(SecConfig, KeyLastSave,
                   std::chrono::duration_cast<std::chrono::seconds>(S.LastSave->time_since_epoch()).count());

  // Every section is erased, not only those with keys: a section that is
  // rewritten in place rather than appended would move at the next save.
  for (std::size_t I = 0; I < MaxMonTasks; ++I) {
    const std::string Section = MonitorSection(I);
    Ini.EraseSection(Section);
    if (I >= Count)
      continue;
    const TStoredMonTask& Entry = S.MonTasks[I];
    WriteName(Ini, Section, KeyBackupTask, Entry.BuTask);
    WriteName(Ini, Section, KeyDirectory, Entry.Dir);
    Ini.WriteInteger(Section, KeyRetainBak, Entry.RetainBak);
    Ini.WriteBool(Section, KeyEnabled, Entry.Enabled);
    Ini.WriteInteger(Section, KeyCount, static_cast<std::int32_t>(Entry.Files.size()));
    for (std::size_t J = 0; J < Entry.Files.size(); ++J) WriteName(Ini, Section, FileKey(J), Entry.Files[J]);
  }
  Ini.UpdateFile();
}

}  // namespace dz
