#include "watchdog/TaskReader.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include "base/CaseFold.h"
#include "base/CommaText.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "filesys/XlFileUtils.h"
#include "filesys/NumberUtils.h"
#include "filters/TextFilter.h"
#include "platform/FileIo.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"

namespace dz {

namespace {

constexpr std::string_view SecGlobal = "Global";
constexpr std::string_view DirPrefix = "Dir";
constexpr std::string_view SubDirPrefix = "SubDir";

// Section and key names carry their index as the main application writes
// it: at least three digits.
std::string IndexedName(std::string_view Prefix, int Index) {
  return std::string(Prefix) + ZeroPadInt(Index, 3);
}

// The index of a name written by IndexedName(Prefix, Index), or nullopt for
// any other name. The prefix compares without regard to case, as INI names
// do; the digits must be in the one form the writer produces, so Dir0001 is
// not another spelling of Dir001 (a lookup of Dir001 would never find it).
std::optional<int> ParseIndexedName(std::string_view Name, std::string_view Prefix) {
  std::size_t DigitsAt = Name.size();
  while (DigitsAt > 0 && Name[DigitsAt - 1] >= '0' && Name[DigitsAt - 1] <= '9') --DigitsAt;
  const std::string_view Digits = Name.substr(DigitsAt);
  if (Digits.size() < 3 || Digits.size() > 10) return std::nullopt;
  if (Digits.size() > 3 && Digits.front() == '0') return std::nullopt;
  if (!SameText(Name.substr(0, DigitsAt), Prefix)) return std::nullopt;
  std::int64_t Value = 0;
  for (const char C : Digits) Value = Value * 10 + (C - '0');
  if (Value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<int>(Value);
}

// The indexes below Count that the given names carry, ascending and each
// once. This is how a count from the file is honoured without looping up to
// it: only names that exist are looked at.
std::vector<int> IndexesBelow(const std::vector<std::string>& Names, std::string_view Prefix, std::int32_t Count) {
  std::vector<int> Indexes;
  for (const std::string& Name : Names) {
    const std::optional<int> Index = ParseIndexedName(Name, Prefix);
    if (Index && *Index < Count) Indexes.push_back(*Index);
  }
  std::sort(Indexes.begin(), Indexes.end());
  Indexes.erase(std::unique(Indexes.begin(), Indexes.end()), Indexes.end());
  return Indexes;
}

struct TSourceSection {
  int Index;
  std::string Source;
};

// The source sections below Count that hold at least one key, by index. A
// missing section is a source with an empty text, which names no
// directory, so leaving it out changes no result.
std::vector<TSourceSection> ReadSources(const TUnicodeIniFile& Ini, std::int32_t Count) {
  std::vector<TSourceSection> Sources;
  for (const int Index : IndexesBelow(Ini.ReadSections(), DirPrefix, Count)) {
    const std::string Section = IndexedName(DirPrefix, Index);
    if (Ini.SectionExists(Section)) Sources.push_back({Index, Ini.ReadString(Section, "Source", "")});
  }
  return Sources;
}

// Loads a task file for reading; raises as CreateForRead does. What is not
// a plain file, or too large to be a task, is refused before it is opened:
// opening a FIFO blocks until a writer comes, and reading a device such as
// /dev/zero never ends. A directory is left to CreateForRead, whose message
// says what it is.
TUnicodeIniFile OpenTaskFileChecked(const std::string& FileName) {
  TFileStatus Status;
  if (PathStatus(FileName, true, Status) != 0) {
    // Missing or unreadable: CreateForRead says which.
  } else if (Status.Kind == TFileKind::fkRegular) {
    if (static_cast<std::uint64_t>(Status.Size) > MaxTaskFileSize)
      throw EFOpenError(SafeFormat(Tr("Cannot open file \"%s\". %s"), FileName,
                                   Tr("The file is too large for a backup task")),
                        ErrInvalidData);
  } else if (Status.Kind != TFileKind::fkDirectory) {
    throw EFOpenError(SafeFormat(Tr("Cannot open file \"%s\". %s"), FileName, Tr("Not a regular file")),
                      ErrInvalidData);
  }
  return TUnicodeIniFile::CreateForRead(FileName);
}

// Nothing of that name (a link to nothing counts as nothing). A directory
// or a device of the task's name is there, but unreadable.
bool TaskFileMissing(const std::string& FileName) {
  TFileStatus Status;
  const int Error = PathStatus(FileName, true, Status);
  return Error == ErrFileNotFound || Error == ErrPathNotFound;
}

// A mode the program does not know lets every name through: a filter must
// never be the reason that a changed file misses its backup.
TFilterMode FilterModeFromFile(std::int32_t Value) {
  switch (Value) {
    case fmInclude: return fmInclude;
    case fmExclude: return fmExclude;
    default: return fmOff;
  }
}

void ReadFileFilter(const TUnicodeIniFile& Ini, const std::string& Section, TTextFilter& Filter) {
  try {
    SetTaskFileFilter(Filter, Ini.ReadBool(Section, "Regular", false), Ini.ReadInteger(Section, "FilterMode", 0),
                      Ini.ReadString(Section, "Filter", Ini.ReadBool(Section, "Regular", false) ? "." : "*"));
  } catch (const EFilterError&) {
    // The filter now lets everything through, which is what a task with a
    // broken filter should get.
  }
}

void ReadDirFilter(const TUnicodeIniFile& Ini, const std::string& Section, TTextFilter& Filter) {
  try {
    SetTaskDirFilter(Filter, Ini.ReadString(Section, "DirFilter", ""));
  } catch (const EFilterError&) {
  }
}

// Extensions are stored without their dot; a hand-written ".txt" or
// "*.txt" would otherwise never match any file. An empty item ("txt," or
// "txt,,doc", also "*." or ".") is the extension of names that have none,
// such as Makefile: dropping it would leave those files out of a backup
// that includes them. A list without any item stays empty.
std::vector<std::string> ReadExtensions(const TUnicodeIniFile& Ini, const std::string& Section, std::string_view Key) {
  std::vector<std::string> Exts;
  for (const std::string& Item : SplitCommaText(Ini.ReadString(Section, Key, ""))) {
    std::string_view Ext = Item;
    if (Ext.starts_with("*.")) Ext.remove_prefix(2);
    while (Ext.starts_with('.')) Ext.remove_prefix(1);
    Exts.emplace_back(Ext);
  }
  return Exts;
}

std::string WithoutEnclosingQuotes(std::string Value) {
  if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"') return Value.substr(1, Value.size() - 2);
  return Value;
}

// An empty entry would turn into the mask "*" and cover every directory:
// with excluded sub-directories nothing at all would be backed up. It names
// no sub-directory, so it is left out, as are absolute paths.
void ReadSubDirList(const TUnicodeIniFile& Ini, const std::string& Section, TMatchList& List) {
  List.Clear();
  const std::int32_t Count = Ini.ReadInteger(Section, "SubCount", 0);
  for (const int Index : IndexesBelow(Ini.ReadSection(Section), SubDirPrefix, Count)) {
    const std::string Dir = WithoutEnclosingQuotes(Ini.ReadString(Section, IndexedName(SubDirPrefix, Index), ""));
    if (!Dir.empty() && !IsAbsolutePath(Dir)) List.Add(Dir);
  }
}

// Step 5 of reading a task: the settings of source section Section.
void TakeOverSettings(const TUnicodeIniFile& Ini, const std::string& Section, const TTaskDefaults& Defaults,
                      TMonTask& Task) {
  Task.DestDir = DirWithDelimiter(Ini.ReadString(SecGlobal, "Destination", ""));
  const std::int32_t DestMode = Ini.ReadInteger(SecGlobal, "DestMode", 0);
  Task.DrvId = DestMode == 0 ? Ini.ReadString(SecGlobal, "DriveId", Defaults.DriveId) : std::string();
  Task.DestMode = DestMode;
  if (!Ini.ReadBool(SecGlobal, "Compress", false))
    Task.Compress = 0;
  else
    Task.Compress = Ini.ReadBool(SecGlobal, "CompressAsZip", false) ? 2 : 1;
  // "#" is how a task says that every file is compressed.
  const std::string NoComp = Ini.ReadString(SecGlobal, "NoCompTypes", "");
  if (NoComp == "#")
    Task.NoCompCommaText.clear();
  else
    Task.NoCompCommaText = NoComp.empty() ? Defaults.NoCompress : NoComp;

  ReadSourceFilters(Ini, Section, Task.MonFilter);
}

// Without trailing delimiters, but a root stays a root.
std::string_view WithoutTrailingDelimiters(std::string_view Dir, char Delimiter) {
  while (Dir.size() > 1 && Dir.back() == Delimiter) Dir.remove_suffix(1);
  return Dir;
}

}  // namespace

bool SameSourceDir(std::string_view A, std::string_view B, const TPathStyle& Style) {
  if (A.empty() || B.empty()) return false;
  A = WithoutTrailingDelimiters(A, Style.Delimiter);
  B = WithoutTrailingDelimiters(B, Style.Delimiter);
  return Style.IgnoreCase ? SameText(A, B) : A == B;
}

void SetTaskFileFilter(TTextFilter& Filter, bool Regular, std::int32_t Mode, std::string Text) {
  Filter.SetRegular(Regular);
  Filter.SetMode(FilterModeFromFile(Mode));
  if (Text == "*.*") Text = Filter.MatchAll();
  std::optional<EFilterError> Error;
  try {
    Filter.SetFilter(Text);
  } catch (const EFilterError& E) {
    Error = E;
  }
  // A file filter stores "*" as "*.*", which no longer matches names
  // without an extension (Makefile, README). A filter meant to let
  // everything through is switched off instead, so those names are backed
  // up as well.
  if (!Filter.Regular() && (Filter.Filter() == "*" || Filter.Filter() == "*.*")) Filter.SetMode(fmOff);
  if (Error) throw *Error;
}

// "DirFilter": empty for none, "#" before a regular expression ("##" stands
// for a mask list that begins with "#"), otherwise masks separated by
// commas.
void SetTaskDirFilter(TTextFilter& Filter, std::string_view Value) {
  std::string Text(Value);
  Filter.SetRegular(false);
  if (!Text.empty() && Text.front() == '#') {
    Filter.SetRegular(Text.size() >= 2 && Text[1] != '#');
    Text.erase(0, 1);
  }
  // Commas separate masks; in an expression they belong to it, as in a
  // count such as {2,4}.
  if (!Filter.Regular()) std::replace(Text.begin(), Text.end(), ',', '|');
  // A lone "#" leaves nothing to filter with; an empty mask list in include
  // mode would match every directory name instead.
  Filter.SetMode(Text.empty() ? fmOff : fmInclude);
  Filter.SetFilter(Text);
}

void ReadSourceFilters(const TUnicodeIniFile& Ini, std::string_view Section, TMonFilter& Filter) {
  const std::string Name(Section);
  ReadFileFilter(Ini, Name, Filter.FileFilter);
  Filter.IncludeExts = Ini.ReadInteger(Name, "BackupMode", 0) == 0;
  Filter.ExtList.Assign(ReadExtensions(Ini, Name, Filter.IncludeExts ? "Include" : "Exclude"));
  Filter.IncludeSubDirs = Ini.ReadBool(Name, "IncludeDirs", false);
  ReadSubDirList(Ini, Name, Filter.SubDirList);
  ReadDirFilter(Ini, Name, Filter.SubDirFilter);
}

TUnicodeIniFile OpenTaskFile(const std::string& FileName) { return OpenTaskFileChecked(FileName); }

std::string TaskIndexedName(std::string_view Prefix, int Index) { return IndexedName(Prefix, Index); }

std::optional<int> ParseTaskIndexedName(std::string_view Name, std::string_view Prefix) {
  return ParseIndexedName(Name, Prefix);
}

std::vector<int> TaskSourceIndexes(const TUnicodeIniFile& Ini) {
  std::vector<int> Indexes;
  for (const TSourceSection& Source : ReadSources(Ini, Ini.ReadInteger(SecGlobal, "DirCount", 0)))
    Indexes.push_back(Source.Index);
  return Indexes;
}

std::vector<int> TaskSubDirIndexes(const TUnicodeIniFile& Ini, std::string_view Section) {
  return IndexesBelow(Ini.ReadSection(Section), SubDirPrefix, Ini.ReadInteger(Section, "SubCount", 0));
}

bool DestinationHasPlaceholders(std::string_view Destination) {
  return MatchesMask(DirWithDelimiter(Destination), "*%*%*");
}

bool HasPlaceholders(const TUnicodeIniFile& Ini) {
  return DestinationHasPlaceholders(Ini.ReadString(SecGlobal, "Destination", ""));
}

TTaskCheck CheckTaskFile(const std::string& FileName, std::vector<TTaskSource>* List,
                         std::vector<std::string>* Reasons) {
  const auto Refuse = [Reasons](std::string Reason) {
    if (Reasons) Reasons->push_back(std::move(Reason));
  };
  if (TaskFileMissing(FileName)) {
    Refuse(Tr("The task file does not exist."));
    return tcNotFound;
  }
  try {
    const TUnicodeIniFile Ini = OpenTaskFileChecked(FileName);
    // Every condition is looked at, so that the reasons name them all.
    bool Usable = true;
    if (Ini.ReadBool(SecGlobal, "FtpBackup", false)) {
      Usable = false;
      Refuse(Tr("The task backs up to an FTP server."));
    }
    if (Ini.ReadInteger(SecGlobal, "DestMode", 0) > 1) {
      Usable = false;
      Refuse(Tr("The task's backup method is neither separate directories for drives nor the full original "
                "directory structure."));
    }
    if (Ini.ReadInteger(SecGlobal, "Encrypt", 0) != 0) {
      Usable = false;
      Refuse(Tr("The task encrypts its copies."));
    }
    if (HasPlaceholders(Ini)) {
      Usable = false;
      Refuse(Tr("The task's destination holds placeholders (two \"%\" signs)."));
    }
    if (Usable && List) {
      // Only a count of 0 is refused. A negative one lists no sources, and
      // the task is usable as one whose sources are all gone: no directory
      // is bound to it, since none is found among its sources.
      const std::int32_t Count = Ini.ReadInteger(SecGlobal, "DirCount", 0);
      if (Count == 0) {
        Usable = false;
        Refuse(Tr("The task names no source directory."));
      } else {
        for (TSourceSection& Source : ReadSources(Ini, Count))
          if (!Source.Source.empty() && XlDirectoryExists(Source.Source))
            List->push_back({std::move(Source.Source), Source.Index});
      }
    }
    return Usable ? tcUsable : tcInvalidSettings;
  } catch (const std::exception& E) {
    Refuse(E.what());
    return tcUnreadable;
  }
}

int ReadTaskSettings(TMonTask& Task, const TTaskDefaults& Defaults, TLogSink& Log) {
  std::optional<TUnicodeIniFile> Ini;
  try {
    Ini.emplace(OpenTaskFileChecked(Task.BuTask));
  } catch (const std::exception& E) {
    Log.AddLogLine(EscapeControls(Task.BuTask) + ": " + E.what());
    Task.MonStatus = mtInvalid;
    return 2;
  }

  std::optional<int> Index;
  for (const TSourceSection& Source : ReadSources(*Ini, Ini->ReadInteger(SecGlobal, "DirCount", 0))) {
    if (SameSourceDir(Task.Dir, Source.Source)) {
      Index = Source.Index;
      break;
    }
  }
  if (!Index) {
    Log.AddLogLine(SafeFormat(Tr("Directory \"%s\" not specified in %s!"), EscapeControls(Task.Dir),
                              EscapeControls(Task.BuTask)));
    Task.MonStatus = mtInvalid;
    return 2;
  }
  if (!XlDirectoryExists(Task.Dir)) {
    // Not a fault of the entry: its disk may not be mounted yet. It keeps
    // the user's check mark and is taken up again when the directory is back.
    Task.Unavailable = SafeFormat(Tr("Directory \"%s\" not found!"), EscapeControls(Task.Dir));
    Log.AddLogLine(Task.Unavailable);
    return 2;
  }
  TakeOverSettings(*Ini, IndexedName(DirPrefix, *Index), Defaults, Task);
  return 0;
}

std::string InvalidTaskMessage(const std::string& FileName) {
  return SafeFormat(Tr("The backup task \"%s\" has invalid settings!"), FileName) + "\r\n" +
         Tr("The following conditions must be met for DeZedodiru:") + "\r\n" + Tr("Backup method") + ": " +
         Tr("Separate files") + " - " + Tr("Separate directories for drives") + "\r\n" + Tr("or") + " " +
         Tr("Original full directory structure") + ", " + Tr("no FTP, no encryption, no placeholders");
}

std::string DestModeText(int Mode) {
  switch (Mode) {
    case 0: return Tr("Separate directories for drives");
    case 1: return Tr("Full original directory structure");
    default: return Tr("Invalid task configuration");
  }
}

}  // namespace dz
