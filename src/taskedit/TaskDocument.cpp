#include "taskedit/TaskDocument.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/CaseFold.h"
#include "base/CommaText.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/TaskReader.h"

namespace dz {

namespace {

constexpr std::string_view SecGlobal = "Global";
constexpr std::string_view SubDirPrefix = "SubDir";

// The keys of "Global" the document holds as fields; KeptText never has them.
constexpr std::array<std::string_view, 7> GlobalKeys = {"Destination",   "DestMode",    "DriveId",  "Compress",
                                                        "CompressAsZip", "NoCompTypes", "DirCount"};
constexpr std::array<std::string_view, 10> SourceKeys = {"Source",  "FilterMode", "Regular",     "Filter",
                                                         "BackupMode", "Include", "Exclude",     "IncludeDirs",
                                                         "SubCount",   "DirFilter"};

bool IsSourceKey(std::string_view Name) {
  return std::any_of(SourceKeys.begin(), SourceKeys.end(), [Name](std::string_view Key) { return SameText(Key, Name); }) ||
         ParseTaskIndexedName(Name, SubDirPrefix).has_value();
}

TFilterMode FilterModeOf(std::int32_t Value) {
  return Value == fmInclude ? fmInclude : Value == fmExclude ? fmExclude : fmOff;
}

// A list with one empty item (names without an extension) would be written
// as an empty value, which reads as no item at all.
std::string ExtensionsText(const std::vector<std::string>& Items) {
  if (Items.size() == 1 && Items.front().empty()) return "\"\"";
  return JoinCommaText(Items);
}

std::string WithoutEnclosingQuotes(std::string Value) {
  if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"') return Value.substr(1, Value.size() - 2);
  return Value;
}

// The reader trims values; quotes keep blanks at the ends of a folder name.
std::string SubDirText(const std::string& Dir) {
  const bool Blanks = !Dir.empty() && (static_cast<unsigned char>(Dir.front()) <= ' ' ||
                                       static_cast<unsigned char>(Dir.back()) <= ' ');
  const bool Quoted = Dir.size() >= 2 && Dir.front() == '"' && Dir.back() == '"';
  return Blanks || Quoted ? "\"" + Dir + "\"" : Dir;
}

// "#" before an expression; "##" before a mask list that begins with "#". An
// expression that begins with "#" itself gets the escaped form "\#", which
// matches the same names.
}  // namespace

std::string DirFilterValue(const TTaskSourceEntry& Entry) {
  if (Entry.DirFilter.empty()) return {};
  if (Entry.DirFilterRegular) return Entry.DirFilter.front() == '#' ? "#\\" + Entry.DirFilter : "#" + Entry.DirFilter;
  return Entry.DirFilter.front() == '#' ? "#" + Entry.DirFilter : Entry.DirFilter;
}

namespace {

void ReadDirFilterValue(std::string Value, TTaskSourceEntry& Entry) {
  Entry.DirFilterRegular = false;
  if (!Value.empty() && Value.front() == '#') {
    Entry.DirFilterRegular = Value.size() >= 2 && Value[1] != '#';
    Value.erase(0, 1);
  }
  Entry.DirFilter = std::move(Value);
}

TTaskSourceEntry ReadSourceEntry(const TUnicodeIniFile& Ini, const std::string& Section) {
  TTaskSourceEntry Entry;
  Entry.Source = Ini.ReadString(Section, "Source", "");
  Entry.FilterMode = FilterModeOf(Ini.ReadInteger(Section, "FilterMode", 0));
  Entry.Regular = Ini.ReadBool(Section, "Regular", false);
  Entry.Filter = Ini.ReadString(Section, "Filter", "");
  Entry.IncludeExts = Ini.ReadInteger(Section, "BackupMode", 0) == 0;
  Entry.Include = SplitCommaText(Ini.ReadString(Section, "Include", ""));
  Entry.Exclude = SplitCommaText(Ini.ReadString(Section, "Exclude", ""));
  Entry.IncludeDirs = Ini.ReadBool(Section, "IncludeDirs", false);
  for (const int Index : TaskSubDirIndexes(Ini, Section))
    Entry.SubDirs.push_back(WithoutEnclosingQuotes(Ini.ReadString(Section, TaskIndexedName(SubDirPrefix, Index), "")));
  ReadDirFilterValue(Ini.ReadString(Section, "DirFilter", ""), Entry);
  // Lines without "=" are never found as keys by anybody; only keys are kept.
  for (const std::string& Line : Ini.ReadSectionValues(Section)) {
    const std::size_t Equals = Line.find('=');
    if (Equals == std::string::npos) continue;
    std::string Name = Line.substr(0, Equals);
    if (IsSourceKey(Name)) continue;
    // The first key of a name is the one every reader finds.
    const bool Seen = std::any_of(Entry.OtherKeys.begin(), Entry.OtherKeys.end(),
                                  [&Name](const auto& Key) { return SameText(Key.first, Name); });
    if (!Seen) Entry.OtherKeys.emplace_back(std::move(Name), Line.substr(Equals + 1));
  }
  return Entry;
}

void WriteSourceEntry(TUnicodeIniFile& Ini, const std::string& Section, const TTaskSourceEntry& Entry) {
  Ini.WriteString(Section, "Source", Entry.Source);
  Ini.WriteInteger(Section, "FilterMode", Entry.FilterMode);
  Ini.WriteBool(Section, "Regular", Entry.Regular);
  Ini.WriteString(Section, "Filter", Entry.Filter);
  Ini.WriteInteger(Section, "BackupMode", Entry.IncludeExts ? 0 : 1);
  Ini.WriteString(Section, "Include", ExtensionsText(Entry.Include));
  Ini.WriteString(Section, "Exclude", ExtensionsText(Entry.Exclude));
  Ini.WriteBool(Section, "IncludeDirs", Entry.IncludeDirs);
  Ini.WriteInteger(Section, "SubCount", static_cast<std::int32_t>(Entry.SubDirs.size()));
  for (std::size_t I = 0; I < Entry.SubDirs.size(); ++I)
    Ini.WriteString(Section, TaskIndexedName(SubDirPrefix, static_cast<int>(I)), SubDirText(Entry.SubDirs[I]));
  Ini.WriteString(Section, "DirFilter", DirFilterValue(Entry));
  for (const auto& [Name, Value] : Entry.OtherKeys)
    if (!IsSourceKey(Name)) Ini.WriteString(Section, Name, Value);
}

// The watchdog cannot use a task that backs up to FTP or encrypts: the
// switches are turned off rather than left to make the task unusable.
void SwitchOffUnusable(TUnicodeIniFile& Ini, std::vector<std::string>* Notes) {
  if (Ini.ReadBool(SecGlobal, "FtpBackup", false)) {
    Ini.WriteBool(SecGlobal, "FtpBackup", false);
    if (Notes) Notes->push_back(Tr("The task backed up to an FTP server; it now backs up to its destination folder."));
  }
  if (Ini.ReadInteger(SecGlobal, "Encrypt", 0) != 0) {
    Ini.WriteInteger(SecGlobal, "Encrypt", 0);
    if (Notes) Notes->push_back(Tr("The task encrypted its copies; encryption is now switched off."));
  }
}

}  // namespace

std::string SourceSectionName(int Index) { return TaskIndexedName("Dir", Index); }

TTaskDocument NewTaskDocument(const std::vector<std::string>& Sources, const std::string& Destination) {
  TTaskDocument Doc;
  Doc.Destination = Destination;
  for (const std::string& Source : Sources) {
    TTaskSourceEntry Entry;
    Entry.Source = Source;
    Entry.IncludeExts = false;  // exclude nothing: every file
    Doc.Sources.push_back(std::move(Entry));
  }
  return Doc;
}

TTaskDocument ReadTaskDocument(const std::string& FileName) {
  TUnicodeIniFile Ini = OpenTaskFile(FileName);
  TTaskDocument Doc;
  Doc.Destination = Ini.ReadString(SecGlobal, "Destination", "");
  Doc.DestMode = Ini.ReadInteger(SecGlobal, "DestMode", 0);
  Doc.DriveId = Ini.ReadString(SecGlobal, "DriveId", "");
  if (Ini.ReadBool(SecGlobal, "Compress", false))
    Doc.Compression = Ini.ReadBool(SecGlobal, "CompressAsZip", false) ? cmZip : cmGzip;
  const std::string NoComp = Ini.ReadString(SecGlobal, "NoCompTypes", "");
  Doc.CompressEverything = NoComp == "#";
  if (!Doc.CompressEverything) Doc.NoCompTypes = SplitCommaText(NoComp);

  for (const int Index : TaskSourceIndexes(Ini)) {
    const std::string Section = SourceSectionName(Index);
    Doc.Sources.push_back(ReadSourceEntry(Ini, Section));
    Ini.EraseSection(Section);
  }
  for (const std::string_view Key : GlobalKeys) Ini.DeleteKey(SecGlobal, Key);
  SwitchOffUnusable(Ini, &Doc.Notes);
  Doc.KeptText = Ini.SaveToBytes();
  return Doc;
}

TUnicodeIniFile TaskDocumentIni(const TTaskDocument& Doc) {
  TUnicodeIniFile Ini;
  if (Doc.KeptText.empty())
    Ini.WriteString("Unicode", "Encoding", "UTF-16LE");  // the marker of a file the INI writer makes
  else
    Ini.LoadFromBytes(Doc.KeptText);

  Ini.WriteString(SecGlobal, "Destination", Doc.Destination.empty() ? std::string() : DirWithDelimiter(Doc.Destination));
  Ini.WriteInteger(SecGlobal, "DestMode", Doc.DestMode);
  if (Doc.DriveId.empty())
    Ini.DeleteKey(SecGlobal, "DriveId");
  else
    Ini.WriteString(SecGlobal, "DriveId", Doc.DriveId);
  Ini.WriteBool(SecGlobal, "Compress", Doc.Compression != cmNone);
  Ini.WriteBool(SecGlobal, "CompressAsZip", Doc.Compression == cmZip);
  Ini.WriteString(SecGlobal, "NoCompTypes", Doc.CompressEverything ? std::string("#") : ExtensionsText(Doc.NoCompTypes));
  SwitchOffUnusable(Ini, nullptr);
  Ini.WriteInteger(SecGlobal, "DirCount", static_cast<std::int32_t>(Doc.Sources.size()));
  for (std::size_t I = 0; I < Doc.Sources.size(); ++I) {
    const std::string Section = SourceSectionName(static_cast<int>(I));
    // A section of that name kept from the file (beyond its old count) would
    // mix its keys into the source's.
    Ini.EraseSection(Section);
    WriteSourceEntry(Ini, Section, Doc.Sources[I]);
  }
  return Ini;
}

void WriteTaskDocument(const TTaskDocument& Doc, const std::string& FileName) {
  TUnicodeIniFile File = TUnicodeIniFile::CreateForWrite(FileName, true);
  File.LoadFromBytes(TaskDocumentIni(Doc).SaveToBytes());
  File.UpdateFile();
}

}  // namespace dz
