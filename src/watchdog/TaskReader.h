#pragma once
// Reads the backup task files of the main application ("buj" INI files).
// The watchdog takes destination, directory layout, compression and filters
// of a monitored directory from its task; it never writes a task file.
//
// A task file comes from outside and is read as untrusted input: the counts
// it states ("DirCount", "SubCount") only bound the indexes that are looked
// at, they never drive a loop or an allocation, so a count of two billion
// costs no more than the sections and keys that are really there.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filesys/PathUtils.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"

namespace dz {

// Result of CheckTaskFile. The numbers are what callers and the window show.
enum TTaskCheck : int {
  tcUsable = 0,
  tcInvalidSettings = 1,
  tcNotFound = 2,
  tcUnreadable = 3,
};

// One usable source directory of a task, with the index of its "Dir" section.
struct TTaskSource {
  std::string Dir;
  int Index = 0;

  friend bool operator==(const TTaskSource&, const TTaskSource&) = default;
};

// The main window's values that stand in for keys a task file leaves out.
struct TTaskDefaults {
  std::string DriveId;     // drive-folder pattern for a task without "DriveId"
  std::string NoCompress;  // comma list used when "NoCompTypes" is empty
};

// A task file larger than this is refused as unreadable. Real tasks have a
// few kilobytes; the limit keeps a stray or hostile file from taking the
// memory of a program that runs for days in the background.
inline constexpr std::uintmax_t MaxTaskFileSize = std::uintmax_t{16} << 20;

// Whether the watchdog can use the task at all. A usable task has no FTP
// destination, no encryption, no placeholders in its destination and a
// directory mode of at most 1. When List is given, the task also needs a
// "DirCount" other than 0, and every source that names an existing
// directory is appended to List in the order of the section indexes (none
// for a negative count).
// When Reasons is given, it receives one translated sentence for every
// condition that makes the task unusable (the system's message for a file
// that cannot be read).
// Never raises.
TTaskCheck CheckTaskFile(const std::string& FileName, std::vector<TTaskSource>* List = nullptr,
                         std::vector<std::string>* Reasons = nullptr);

// Loads a task file for reading as the watchdog does: what is not a plain
// file or is larger than MaxTaskFileSize is refused. Raises EFOpenError
// when the file exists but cannot be read; a missing file is an empty task.
TUnicodeIniFile OpenTaskFile(const std::string& FileName);

// Section and key names with an index, as task files write them ("Dir000",
// "SubDir012"), and the index of such a name (nullopt for any other name,
// another prefix, or another spelling of the index such as Dir0001).
std::string TaskIndexedName(std::string_view Prefix, int Index);
std::optional<int> ParseTaskIndexedName(std::string_view Name, std::string_view Prefix);

// The indexes of the source sections the watchdog reads: the "Dir"
// sections below "DirCount" that hold a key, ascending.
std::vector<int> TaskSourceIndexes(const TUnicodeIniFile& Ini);
// The indexes of the "SubDir" keys of Section below its "SubCount",
// ascending.
std::vector<int> TaskSubDirIndexes(const TUnicodeIniFile& Ini, std::string_view Section);

// True when the destination holds two "%" signs (an environment-variable or
// date placeholder the watchdog cannot resolve).
bool HasPlaceholders(const TUnicodeIniFile& Ini);
bool DestinationHasPlaceholders(std::string_view Destination);

// The filters of the source section Section, as the watchdog uses them:
// file filter, extension rule, sub-directory list and sub-directory filter.
// A filter that cannot be used lets everything through; never raises.
void ReadSourceFilters(const TUnicodeIniFile& Ini, std::string_view Section, TMonFilter& Filter);

// Sets a file filter from the values "Regular", "FilterMode" and "Filter" of
// a source section, and a sub-directory filter from a "DirFilter" value, as
// ReadSourceFilters does. When the text cannot be used, the filter is left
// as the watchdog would use it (letting everything through) and then
// EFilterError is raised, for callers that tell the user why.
void SetTaskFileFilter(TTextFilter& Filter, bool Regular, std::int32_t Mode, std::string Text);
void SetTaskDirFilter(TTextFilter& Filter, std::string_view Value);

// Takes the settings of Task.Dir's source section of Task.BuTask over into
// Task. 0 on success; 2 when the file cannot be read, does not list the
// directory or the directory is missing: the problem then goes to Log as one
// line and MonStatus becomes mtInvalid (the codes are those of
// TMonTaskStatus: 0 mtEnabled, 2 mtInvalid), except for a missing
// directory, which is no fault of the entry: MonStatus stays and
// Task.Unavailable says why. A success leaves MonStatus as it was. Never
// raises for bad task files or illegal filters.
int ReadTaskSettings(TMonTask& Task, const TTaskDefaults& Defaults, TLogSink& Log);

// The explanation shown when a task is refused with tcInvalidSettings: four
// lines joined by CR LF.
std::string InvalidTaskMessage(const std::string& FileName);

// Text of a task's directory-structure mode.
std::string DestModeText(int Mode);

// Whether a monitored directory and a task's "Source" name the same
// directory: compared as Style compares file names (byte for byte in POSIX
// style, without regard to case in Windows style), and a trailing delimiter
// on either side makes no difference.
bool SameSourceDir(std::string_view A, std::string_view B, const TPathStyle& Style = NativePathStyle);

}  // namespace dz
