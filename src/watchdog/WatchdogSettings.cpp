#include "watchdog/WatchdogSettings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
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
constexpr std::string_view KeyFailedCount = "FailedCount";
constexpr std::string_view FailedPrefix = "Failed";

std::string MonitorSection(std::size_t Index) { return "Monitor" + ZeroPadInt(static_cast<std::int64_t>(Index), 2); }

std::string IndexedKey(std::string_view Prefix, std::size_t Index) {
  return std::string(Prefix) + ZeroPadInt(static_cast<std::int64_t>(Index), 3);
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

// J when Name is the key IndexedKey(Prefix, J), found as the document finds
// keys (without regard to case); -1 for any other name.
std::int64_t IndexedKeyIndex(std::string_view Name, std::string_view Prefix) {
  if (Name.size() < Prefix.size() + 3 || Name.size() > Prefix.size() + 10 ||
      !SameText(Name.substr(0, Prefix.size()), Prefix))
    return -1;
  const std::string_view Digits = Name.substr(Prefix.size());
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

// The values under the keys Prefix000 to Prefix<Count - 1> of a section,
// read in one pass over its lines rather than by looking up each number:
// Count comes from the file and may be far larger than the section.
std::vector<std::string_view> LoadIndexedValues(const std::vector<std::string>& Lines, std::string_view Prefix,
                                                std::int32_t Count) {
  struct TFileLine {
    std::int64_t Index;
    std::string_view Value;
  };
  std::vector<TFileLine> Found;
  for (const std::string& Line : Lines) {
    const std::size_t Eq = Line.find('=');
    if (Eq == std::string::npos)
      continue;
    const std::int64_t Index = IndexedKeyIndex(std::string_view(Line).substr(0, Eq), Prefix);
    if (Index >= 0 && Index < Count)
      Found.push_back({Index, std::string_view(Line).substr(Eq + 1)});
  }
  // A key that occurs twice counts with its first value, as a lookup finds it.
  auto ByIndex = [](const TFileLine& A, const TFileLine& B) { return A.Index < B.Index; };
  std::stable_sort(Found.begin(), Found.end(), ByIndex);
  Found.erase(std::unique(Found.begin(), Found.end(),
                          [](const TFileLine& A, const TFileLine& B) { return A.Index == B.Index; }),
              Found.end());

  std::vector<std::string_view> Values;
  Values.reserve(Found.size());
  for (const TFileLine& File : Found) Values.push_back(File.Value);
  return Values;
}

std::vector<std::string> LoadPendingFiles(const std::vector<std::string>& Lines, std::int32_t Count) {
  std::vector<std::string> Files;
  for (const std::string_view Value : LoadIndexedValues(Lines, FilePrefix, Count)) {
    std::string Name = DecodeIniName(Value);
    if (!Name.empty())
      Files.push_back(std::move(Name));
  }
  return Files;
}

std::string FailedFileValue(const TFailedFile& File) {
  return std::to_string(File.Failures) + "," + std::to_string(File.Wait) + "," + std::to_string(File.ErrorCode) +
         "," + EncodeIniName(File.Name);
}

// A record written by FailedFileValue; nothing when the value is damaged.
std::optional<TFailedFile> ParseFailedFile(std::string_view Value) {
  std::int64_t Numbers[3];
  for (std::int64_t& Number : Numbers) {
    const std::size_t Comma = Value.find(',');
    if (Comma == std::string_view::npos)
      return std::nullopt;
    const auto [End, Error] = std::from_chars(Value.data(), Value.data() + Comma, Number);
    if (Error != std::errc() || End != Value.data() + Comma || Number < INT32_MIN || Number > INT32_MAX)
      return std::nullopt;
    Value.remove_prefix(Comma + 1);
  }
  TFailedFile File;
  File.Failures = static_cast<std::int32_t>(std::clamp<std::int64_t>(Numbers[0], 1, MaxRetries + 1));
  File.Wait = static_cast<std::int32_t>(std::clamp<std::int64_t>(Numbers[1], -1, std::int64_t{1} << MaxRetries));
  File.ErrorCode = static_cast<int>(Numbers[2]);
  File.Name = DecodeIniName(Value);
  if (File.Name.empty())
    return std::nullopt;
  return File;
}

std::vector<TFailedFile> LoadFailedFiles(const std::vector<std::string>& Lines, std::int32_t Count) {
  std::vector<TFailedFile> Failed;
  for (const std::string_view Value : LoadIndexedValues(Lines, FailedPrefix, Count))
    if (std::optional<TFailedFile> File = ParseFailedFile(Value))
      Failed.push_back(std::move(*File));
  return Failed;
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
    const std::vector<std::string> Lines = Ini.ReadSectionValues(Section);
    Entry.Files = LoadPendingFiles(Lines, Ini.ReadInteger(Section, KeyCount, 0));
    Entry.Failed = LoadFailedFiles(Lines, Ini.ReadInteger(Section, KeyFailedCount, 0));
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
    for (std::size_t J = 0; J < Entry.Files.size(); ++J)
      WriteName(Ini, Section, IndexedKey(FilePrefix, J), Entry.Files[J]);
    if (Entry.Failed.empty())
      continue;
    Ini.WriteInteger(Section, KeyFailedCount, static_cast<std::int32_t>(Entry.Failed.size()));
    for (std::size_t J = 0; J < Entry.Failed.size(); ++J)
      Ini.WriteString(Section, IndexedKey(FailedPrefix, J), FailedFileValue(Entry.Failed[J]));
  }
  Ini.UpdateFile();
}

}  // namespace dz
