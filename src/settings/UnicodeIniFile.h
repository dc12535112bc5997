#pragma once
// The INI document through which every settings and task file is read and
// written. The whole file is loaded when the document is created; reads and
// writes then work on memory, and a document opened for writing is written
// back whole, as UTF-16LE with a byte-order mark, by UpdateFile().
//
// Saving is an explicit call rather than the destructor's job: a destructor
// cannot report a failed save, and a document abandoned while an exception
// unwinds must not overwrite the file with half-made settings.
//
// Format, as read: the byte-order mark decides the encoding (UTF-8, UTF-16LE,
// UTF-16BE); without one the bytes are UTF-8 when they are valid UTF-8 and
// Windows-1252 otherwise. Lines end at CR LF, CR or LF and are trimmed of
// every character from 0 to 32 at both ends; empty lines, lines beginning
// with ";" and lines before the first section are dropped. "[name]" opens a
// section (duplicates are kept); "name=value" is a key, stored with the blanks
// around "=" removed; any other line is kept as it is and never found as a
// key. Names compare without regard to case, and every lookup finds the first
// section and the first key of a name.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dz {

// A file could not be read or written. ErrorCode() is the system error code
// (SysError.h) of the failed operation.
class EStreamError : public std::runtime_error {
public:
  EStreamError(const std::string& Message, int ErrorCode) : std::runtime_error(Message), FErrorCode(ErrorCode) {}
  int ErrorCode() const noexcept { return FErrorCode; }

private:
  int FErrorCode;
};

// An existing file could not be read when the document was created.
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

// UpdateFile() could not write the file; the message is "Error writing to
// "<file name>"" and the file on disk is as it was before the call.
class EWriteError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

// The text of an INI file's bytes as UTF-8, as the document reads it: by its
// byte-order mark (UTF-8, UTF-16LE or BE); without one as UTF-8 when the
// bytes are valid UTF-8, else as Windows-1252.
std::string DecodeIniFileText(std::string_view Bytes);

// A line, a section's name, a key or a value without what the document
// drops around it: blanks and every other character up to 32.
std::string_view TrimIniText(std::string_view S);

class TUnicodeIniFile {
public:
  // An empty document bound to no file, which never writes: for text that is
  // held in memory (LoadFromBytes).
  TUnicodeIniFile() = default;

  // Loads FileName (empty or missing: an empty document) for reading only:
  // UpdateFile() does nothing, whatever was changed in memory.
  // Raises EFOpenError when the file exists but cannot be read.
  static TUnicodeIniFile CreateForRead(const std::string& FileName);

  // Loads FileName for writing. ClearEntries starts from an empty document.
  // Makes sure of the marker that tells other readers the file is UTF-16: a
  // section "Unicode" with the key "Encoding" = "UTF-16LE", unless that key
  // already has a value (which is then kept, whatever it says).
  // Raises EFOpenError when the file exists but cannot be read.
  static TUnicodeIniFile CreateForWrite(const std::string& FileName, bool ClearEntries);

  // A moved-from document is empty and read-only, so that a stray
  // UpdateFile() on it cannot wipe the file.
  TUnicodeIniFile(TUnicodeIniFile&& Other) noexcept;
  TUnicodeIniFile& operator=(TUnicodeIniFile&& Other) noexcept;
  TUnicodeIniFile(const TUnicodeIniFile&) = delete;
  TUnicodeIniFile& operator=(const TUnicodeIniFile&) = delete;
  ~TUnicodeIniFile() = default;

  const std::string& FileName() const { return FFileName; }
  bool ReadOnly() const { return FReadOnly; }

  // Writes a writable document to its file: the new content goes to a file
  // beside the old one, which replaces the old file only once it is complete
  // on disk. Raises EWriteError when that fails; the old file is then left as
  // it was. Does nothing for a read-only document.
  void UpdateFile();

  // Replaces the whole document by the text in Bytes, read as a file is.
  // Never fails: damaged text loads what can be made of it.
  void LoadFromBytes(std::string_view Bytes);
  // The bytes UpdateFile() writes: FF FE, then for each section its header,
  // its lines and an empty line, every line ending in CR LF, in UTF-16LE.
  std::string SaveToBytes() const;

  // The text after the first "=" of the key; Default when the section or the
  // key is missing.
  std::string ReadString(std::string_view Section, std::string_view Ident, std::string_view Default) const;
  // Replaces an existing key's line in place, or appends the key to its
  // section, appending a missing section to the document. The value is kept
  // as given in memory; blanks around it go at the next load.
  void WriteString(std::string_view Section, std::string_view Ident, std::string_view Value);

  // "0x" or "0X" (followed by more) and "$" introduce hexadecimal digits;
  // otherwise an optional sign and decimal digits. Anything else, an empty
  // value or a number out of range gives Default.
  std::int32_t ReadInteger(std::string_view Section, std::string_view Ident, std::int32_t Default) const;
  void WriteInteger(std::string_view Section, std::string_view Ident, std::int32_t Value);
  std::int64_t ReadInt64(std::string_view Section, std::string_view Ident, std::int64_t Default) const;
  void WriteInt64(std::string_view Section, std::string_view Ident, std::int64_t Value);
  // Any non-zero number is true; a value that is no number gives Default.
  bool ReadBool(std::string_view Section, std::string_view Ident, bool Default) const;
  void WriteBool(std::string_view Section, std::string_view Ident, bool Value);

  // True when the section holds at least one line; an empty section counts
  // as absent.
  bool SectionExists(std::string_view Section) const;
  bool ValueExists(std::string_view Section, std::string_view Ident) const;

  // Removes every section of that name with all its lines, so that a
  // duplicate cannot take the erased section's place.
  void EraseSection(std::string_view Section);
  // Removes the key from the section, duplicates of it included, so that an
  // older duplicate cannot take its place.
  void DeleteKey(std::string_view Section, std::string_view Ident);
  // Removes all lines of the section but keeps the section; a missing
  // section stays missing.
  void EraseSectionValues(std::string_view Section);

  // The key names of the section, in order.
  std::vector<std::string> ReadSection(std::string_view Section) const;
  // All section names in order, duplicates included.
  std::vector<std::string> ReadSections() const;
  // The section's stored lines in order: "name=value" for keys, other lines
  // as they are.
  std::vector<std::string> ReadSectionValues(std::string_view Section) const;

  // Writes Ident into the marker section "Unicode", where the writing
  // program names itself.
  void WriteProgramInfo(std::string_view Ident, std::string_view Value);

private:
  struct TLine {
    std::string Text;                         // "name=value", or a line without "="
    std::size_t NameLength = std::string::npos;  // npos: not a key
    bool Erased = false;

    bool IsKey() const { return !Erased && NameLength != std::string::npos; }
    std::string_view Name() const { return std::string_view(Text).substr(0, NameLength); }
    std::string_view Value() const { return std::string_view(Text).substr(NameLength + 1); }
  };

  // Deleted lines are only marked, and swept out once they make up half of
  // the section, so that deleting the keys of a large section one by one
  // stays linear.
  struct TSection {
    std::string Name;
    std::vector<TLine> Lines;
    std::unordered_map<std::string, std::size_t> KeyIndex;  // folded name -> first key line
    std::size_t ErasedLines = 0;
    bool HasDuplicateKeys = false;

    void AddLine(std::string Text, std::size_t NameLength);
    void Compact();
    bool HasLines() const { return Lines.size() > ErasedLines; }
  };

  TSection& AddSection(std::string Name);
  void RebuildSectionIndex();
  const TSection* FindSection(std::string_view Name) const;
  TSection* FindSection(std::string_view Name);
  const TLine* FindKey(std::string_view Section, std::string_view Ident) const;
  void Load(const std::string& FileName);

  std::vector<TSection> FSections;
  std::unordered_map<std::string, std::size_t> FSectionIndex;  // folded name -> first section
  std::string FFileName;
  bool FReadOnly = true;
};

// Reads one Boolean from FileName without keeping the document: for single
// values from files that the program does not otherwise open. Reads as
// CreateForRead does, and raises EFOpenError as it does.
bool ReadIniBool(const std::string& FileName, std::string_view Section, std::string_view Ident, bool Default);

}  // namespace dz
