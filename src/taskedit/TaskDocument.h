#pragma once
// A backup task file (".buj") as plain data, for the task editor: the keys
// the watchdog reads, each as a field, and everything else of the file kept
// so that writing the task back loses nothing another program put there.
//
// Reading and writing go through the watchdog's own INI document, so a task
// written here is read back by the watchdog's task reader with every field
// as set (tests/taskedit proves it for a table of combinations).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "filters/TextFilter.h"

namespace dz {

class TUnicodeIniFile;

// "DestMode": where a copy goes below the destination.
enum TDestStructure : std::int32_t {
  dsDriveFolders = 0,  // a folder per source drive, named by "DriveId"
  dsFullPath = 1,      // the source's whole path below the destination
};

// "Compress" and "CompressAsZip".
enum TCompression : std::int32_t { cmNone = 0, cmGzip = 1, cmZip = 2 };

// One source directory: a "DirNNN" section.
struct TTaskSourceEntry {
  std::string Source;

  // The file filter: "FilterMode", "Regular", "Filter" (masks separated by
  // "|", or one regular expression).
  TFilterMode FilterMode = fmOff;
  bool Regular = false;
  std::string Filter;

  // The extension rule: "BackupMode" 0 backs up only the extensions of
  // Include, any other value all but those of Exclude. Both lists are kept,
  // so switching the rule back and forth loses neither. Extensions are
  // written without the dot; an empty item stands for names without one.
  bool IncludeExts = false;
  std::vector<std::string> Include;
  std::vector<std::string> Exclude;

  // The sub-directory rule: "IncludeDirs" says whether the listed
  // sub-directories (relative to Source, "SubCount" and "SubDirNNN") and
  // the directory names matching DirFilter are the only ones backed up
  // (true) or the ones left out (false).
  bool IncludeDirs = false;
  std::vector<std::string> SubDirs;
  // "DirFilter": empty for none; masks separated by "," or "|", or one
  // regular expression when DirFilterRegular.
  bool DirFilterRegular = false;
  std::string DirFilter;

  // The section's keys the editor does not model, in order, written back
  // unchanged.
  std::vector<std::pair<std::string, std::string>> OtherKeys;

  friend bool operator==(const TTaskSourceEntry&, const TTaskSourceEntry&) = default;
};

struct TTaskDocument {
  // "Destination": a folder, or a volume-label path (":LABEL:/rest").
  // Written with a trailing delimiter.
  std::string Destination;
  std::int32_t DestMode = dsFullPath;
  // "DriveId": the drive-folder pattern of dsDriveFolders; empty leaves the
  // key out, so the main application's default pattern applies.
  std::string DriveId;
  TCompression Compression = cmNone;
  // "NoCompTypes": the extensions never compressed. CompressEverything
  // writes "#"; otherwise an empty list leaves the choice to the main
  // application's list.
  bool CompressEverything = false;
  std::vector<std::string> NoCompTypes;

  std::vector<TTaskSourceEntry> Sources;

  // What reading the file changed or found, translated, for the user to see
  // (an FTP or encryption switch turned off).
  std::vector<std::string> Notes;
  // The rest of the file as read (UTF-16LE text with byte-order mark, as the
  // INI document saves it): sections and "Global" keys the editor does not
  // model. Empty for a new task.
  std::string KeptText;

  friend bool operator==(const TTaskDocument&, const TTaskDocument&) = default;
};

// A new task with the safe defaults: every file of every source is backed up
// (extension rule "exclude" with an empty list, no file filter, no
// sub-directory rule), uncompressed, with the full original structure.
TTaskDocument NewTaskDocument(const std::vector<std::string>& Sources, const std::string& Destination);

// Reads a task file. Raises EFOpenError when it exists but cannot be read
// (a missing file reads as an empty task). An FTP destination or encryption
// switched on is switched off, with a note: the watchdog can use neither.
TTaskDocument ReadTaskDocument(const std::string& FileName);

// Writes the document to FileName as UTF-16LE with byte-order mark; the file
// is replaced only once the new one is complete. Raises EWriteError.
void WriteTaskDocument(const TTaskDocument& Doc, const std::string& FileName);

// The document as the INI text WriteTaskDocument writes, in memory.
TUnicodeIniFile TaskDocumentIni(const TTaskDocument& Doc);

// The "DirFilter" value of an entry: "#" before an expression, "##" before
// a mask list that begins with "#", empty for none.
std::string DirFilterValue(const TTaskSourceEntry& Entry);

// The section name of source Index: "Dir" and at least three digits.
std::string SourceSectionName(int Index);

}  // namespace dz
