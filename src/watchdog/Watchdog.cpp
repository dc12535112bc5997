#include "watchdog/Watchdog.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "base/CaseFold.h"
#include "base/Translate.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "platform/FileIo.h"
#include "settings/IniNameCodec.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/BackupThread.h"

namespace dz {

namespace {

constexpr std::string_view SecConfig = "Config";

struct TUnitRule {
  const char* Text;
  std::int32_t MinValue;
  std::int32_t MaxValue;
  std::int32_t Step;
  std::int32_t ChosenValue;  // when the user picks the unit
  std::int32_t Seconds;      // per unit of the value
};

constexpr TUnitRule UnitRules[] = {
    {"seconds", 5, 295, 5, 30, 1},
    {"minute(s)", 1, 360, 1, 10, 60},
    {"hour(s)", 1, 12, 1, 1, 3600},
};

// A unit index from the window that is out of range is taken as the nearest
// unit.
TIntervalUnit ValidUnit(TIntervalUnit Unit) {
  return static_cast<TIntervalUnit>(std::clamp(static_cast<int>(Unit), 0, static_cast<int>(std::size(UnitRules)) - 1));
}

const TUnitRule& RuleOf(TIntervalUnit Unit) { return UnitRules[ValidUnit(Unit)]; }

// The controls for Unit with Value, held to the unit's range.
TIntervalDisplay UnitDisplay(TIntervalUnit Unit, std::int32_t Value, bool Periodic) {
  const TUnitRule& Rule = RuleOf(Unit);
  TIntervalDisplay Display;
  Display.Periodic = Periodic;
  Display.Unit = ValidUnit(Unit);
  Display.Value = std::clamp(Value, Rule.MinValue, Rule.MaxValue);
  Display.MinValue = Rule.MinValue;
  Display.MaxValue = Rule.MaxValue;
  Display.Step = Rule.Step;
  Display.Hint = Tr("Number of ") + IntervalUnitText(Display.Unit);
  return Display;
}

std::string MonitorSection(std::size_t Index) { return "Monitor" + ZeroPadInt(static_cast<std::int64_t>(Index), 2); }

std::string FileKey(std::size_t Index) { return "File" + ZeroPadInt(static_cast<std::int64_t>(Index), 3); }

std::string DirItemText(std::size_t Position, const std::string& Dir) {
  return ZeroPadInt(static_cast<std::int64_t>(Position), 2) + ": " + Dir;
}

std::string ReadName(const TUnicodeIniFile& Ini, std::string_view Section, std::string_view Ident,
                     std::string_view Default) {
  return DecodeIniName(Ini.ReadString(Section, Ident, EncodeIniName(Default)));
}

void WriteName(TUnicodeIniFile& Ini, std::string_view Section, std::string_view Ident, std::string_view Name) {
  Ini.WriteString(Section, Ident, EncodeIniName(Name));
}

// J when Name is the key FileKey(J), found as the document finds keys
// (without regard to case); -1 for any other name.
std::int64_t FileKeyIndex(std::string_view Name) {
  constexpr std::string_view Prefix = "File";
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

// The names under the keys File000 to File<Count - 1> of a section, read in
// one pass over its lines rather than by looking up each number: Count comes
// from the file and may be far larger than the section. A list of many
// thousand names is sorted once instead of growing by insertion.
void LoadPendingFiles(const std::vector<std::string>& Lines, std::int32_t Count, TMatchList& FileList) {
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
  FileList.Assign(std::move(Files));
}

}  // namespace

// --- the interval model -------------------------------------------------------

std::string IntervalUnitText(TIntervalUnit Unit) { return Tr(RuleOf(Unit).Text); }

TIntervalDisplay IntervalDisplayFor(std::int32_t Seconds) {
  if (Seconds < 1)
    return UnitDisplay(iuMinutes, RuleOf(iuMinutes).ChosenValue, false);
  if (Seconds > 7199)
    Seconds -= Seconds % 3600;
  else if (Seconds > 299)
    Seconds -= Seconds % 60;
  if (Seconds % 3600 == 0)
    return UnitDisplay(iuHours, Seconds / 3600, true);
  if (Seconds % 60 != 0)
    return UnitDisplay(iuSeconds, Seconds, true);
  return UnitDisplay(iuMinutes, Seconds / 60, true);
}

TIntervalDisplay IntervalDisplayForUnit(const TIntervalDisplay& Current, TIntervalUnit Unit) {
  return UnitDisplay(Unit, RuleOf(Unit).ChosenValue, Current.Periodic);
}

std::int32_t IntervalSeconds(const TIntervalDisplay& Interval) {
  if (!Interval.Periodic)
    return -1;
  return Interval.Value * RuleOf(Interval.Unit).Seconds;
}

// --- the controller -----------------------------------------------------------

TWatchdog::TWatchdog(TWatchdogView& View, TLogSink& Log, TMainThreadQueue& Queue, TWatchdogSetup Setup,
                     TDirWatchBackendFactory WatchBackend)
    : FView(View),
      FLog(Log),
      FQueue(Queue),
      FWatchBackend(std::move(WatchBackend)),
      FSetup(std::move(Setup)),
      FJobDir(DirWithDelimiter(JoinPath(FSetup.UserPath, "ZentApp"))),
      FInterval(IntervalDisplayFor(DefaultBuInterval)) {
  const TClientSize Designed = FView.DesignedClientSize();
  FDHeight = Designed.Height;
  FDWidth = Designed.Width;
}

// The watchers go first: their handlers call into this object.
TWatchdog::~TWatchdog() {
  for (const auto& Task : FMonTasks) Task->DirWatch.reset();
}

void TWatchdog::LoadSettings() {
  const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(FSetup.IniName);

  TWindowPlacement Placement = FView.GetWindowPlacement();
  Placement.Top = Ini.ReadInteger(SecConfig, "Top", Placement.Top);
  Placement.Left = Ini.ReadInteger(SecConfig, "Left", Placement.Left);
  Placement.ClientHeight = std::max(Ini.ReadInteger(SecConfig, "Height", Placement.ClientHeight), FDHeight);
  Placement.ClientWidth = Ini.ReadInteger(SecConfig, "Width", Placement.ClientWidth);
  FView.SetWindowPlacement(Placement);

  FJobDir = ReadName(Ini, SecConfig, "JobDir", FJobDir);
  FBuInterval = Ini.ReadInteger(SecConfig, "Interval", DefaultBuInterval);
  FSysTray = Ini.ReadBool(SecConfig, "SysTray", false);
  FView.SetSysTrayChecked(FSysTray);
  FWriteLog = Ini.ReadBool(SecConfig, "WriteLog", false);
  FView.SetWriteLogChecked(FWriteLog);

  const auto Count = static_cast<std::size_t>(
      std::clamp<std::int32_t>(Ini.ReadInteger(SecConfig, "Count", 0), 0, static_cast<std::int32_t>(MaxMonTasks)));
  for (std::size_t I = 0; I < Count; ++I) {
    const std::string Section = MonitorSection(I);
    std::string Task = ReadName(Ini, Section, "BackupTask", "");
    if (Task.empty() || !RegularFileExists(Task))
      continue;
    auto Entry = std::make_unique<TMonTask>(std::move(Task), ReadName(Ini, Section, "Directory", ""));
    // A hand-edited value outside what the spin button offers is held as
    // the button would hold it.
    Entry->RetainBak = std::clamp<std::int32_t>(Ini.ReadInteger(Section, "RetainBak", 0), 0, TBackupThread::MaxRetain);
    Entry->MonStatus = Ini.ReadBool(Section, "Enabled", true) ? mtEnabled : mtDisabled;
    LoadPendingFiles(Ini.ReadSectionValues(Section), Ini.ReadInteger(Section, "Count", 0), Entry->FileList);
    const auto Pending = static_cast<std::int32_t>(Entry->FileList.Count());
    if (AddMonTask(std::move(Entry)) == atAdded)
      FFileCount += Pending;
  }

  FInterval = IntervalDisplayFor(FBuInterval);
  FView.ShowInterval(FInterval);
}

void TWatchdog::SaveSettings() {
  try {
    TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(FSetup.IniName, false);
    Ini.EraseSection("Global");
    Ini.WriteProgramInfo("Program", FSetup.ProgramName);
    Ini.WriteProgramInfo("Version", FSetup.ProgramVersion);

    const TWindowPlacement Placement = FView.GetWindowPlacement();
    Ini.WriteInteger(SecConfig, "Top", Placement.Top);
    Ini.WriteInteger(SecConfig, "Left", Placement.Left);
    Ini.WriteInteger(SecConfig, "Height", Placement.ClientHeight);
    Ini.WriteInteger(SecConfig, "Width", Placement.ClientWidth);
    WriteName(Ini, SecConfig, "JobDir", FJobDir);
    Ini.WriteInteger(SecConfig, "Interval", GetIntervalSeconds());
    Ini.WriteBool(SecConfig, "SysTray", FSysTray);
    Ini.WriteBool(SecConfig, "WriteLog", FWriteLog);
    Ini.WriteInteger(SecConfig, "Count", static_cast<std::int32_t>(FMonTasks.size()));

    // Every section is erased, not only those with keys: a section that is
    // rewritten in place rather than appended would move at the next save.
    for (std::size_t I = 0; I < MaxMonTasks; ++I) {
      const std::string Section = MonitorSection(I);
      Ini.EraseSection(Section);
      if (I >= FMonTasks.size())
        continue;
      const TMonTask& Task = *FMonTasks[I];
      WriteName(Ini, Section, "BackupTask", Task.BuTask);
      WriteName(Ini, Section, "Directory", Task.Dir);
      Ini.WriteInteger(Section, "RetainBak", Task.RetainBak);
      Ini.WriteBool(Section, "Enabled", Task.MonStatus == mtEnabled);
      Ini.WriteInteger(Section, "Count", static_cast<std::int32_t>(Task.FileList.Count()));
      for (std::size_t J = 0; J < Task.FileList.Count(); ++J)
        WriteName(Ini, Section, FileKey(J), Task.FileList[J]);
    }
    Ini.UpdateFile();
  } catch (const EWriteError& E) {
    FView.ShowMessage(E.what());
  } catch (const EFOpenError& E) {
    // The file is there but cannot be read: writing it anyway would drop
    // whatever else it holds.
    FView.ShowMessage(E.what());
  }
}

TAddTaskResult TWatchdog::AddMonTask(std::unique_ptr<TMonTask> Task) {
  if (FMonTasks.size() >= MaxMonTasks)
    return atListFull;
  FMonTasks.push_back(std::move(Task));
  const TMonTask& Added = *FMonTasks.back();
  FView.AddDirItem(DirItemText(FMonTasks.size(), Added.Dir), Added.MonStatus == mtEnabled);
  return atAdded;
}

void TWatchdog::RenumberDirList() {
  for (std::size_t I = 0; I < FMonTasks.size(); ++I)
    FView.SetDirItem(I, DirItemText(I + 1, FMonTasks[I]->Dir), FMonTasks[I]->MonStatus == mtEnabled);
}

void TWatchdog::PeriodicClicked(bool Checked) {
  FInterval.Periodic = Checked;
  FBuInterval = GetIntervalSeconds();
  FView.ShowInterval(FInterval);
}

void TWatchdog::IntervalUnitChosen(TIntervalUnit Unit) {
  FInterval = IntervalDisplayForUnit(FInterval, Unit);
  FView.ShowInterval(FInterval);
}

void TWatchdog::IntervalValueChanged(std::int32_t Value) {
  const std::int32_t Held = std::clamp(Value, FInterval.MinValue, FInterval.MaxValue);
  FInterval.Value = Held;
  if (Held != Value)
    FView.ShowInterval(FInterval);
}

}  // namespace dz
