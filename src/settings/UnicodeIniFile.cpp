#include "settings/UnicodeIniFile.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/CaseFold.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "platform/FileIo.h"
#include "platform/SysError.h"

namespace dz {

namespace {

constexpr std::string_view MarkerSection = "Unicode";
constexpr std::string_view MarkerIdent = "Encoding";
constexpr std::string_view MarkerValue = "UTF-16LE";

bool HasPrefix(std::string_view S, std::string_view Prefix) {
  return S.size() >= Prefix.size() && S.substr(0, Prefix.size()) == Prefix;
}

// Decodes straight to UTF-8, through a small buffer and without a UTF-16
// string in between: settings files with many pending files run to tens of
// megabytes.
std::string DecodeUtf16(std::string_view Bytes, bool BigEndian) {
  // An odd last byte is half a code unit and carries no character.
  const std::size_t Count = Bytes.size() / 2;
  auto Unit = [&](std::size_t I) -> char32_t {
    const auto B0 = static_cast<unsigned char>(Bytes[2 * I]);
    const auto B1 = static_cast<unsigned char>(Bytes[2 * I + 1]);
    return BigEndian ? (char32_t{B0} << 8) | B1 : (char32_t{B1} << 8) | B0;
  };
  std::string Out;
  Out.reserve(Count + Count / 4);
  char Buffer[4096];
  std::size_t Used = 0;
  for (std::size_t I = 0; I < Count; ++I) {
    if (Used > sizeof(Buffer) - 4) {
      Out.append(Buffer, Used);
      Used = 0;
    }
    char32_t Cp = Unit(I);
    if (Cp < 0x80) {
      Buffer[Used++] = static_cast<char>(Cp);
      continue;
    }
    if (Cp >= 0xD800 && Cp <= 0xDFFF) {
      const char32_t Low = I + 1 < Count ? Unit(I + 1) : 0;
      if (Cp <= 0xDBFF && Low >= 0xDC00 && Low <= 0xDFFF) {
        Cp = 0x10000 + ((Cp - 0xD800) << 10) + (Low - 0xDC00);
        ++I;
      } else {
        Cp = 0xFFFD;  // a lone surrogate
      }
    }
    if (Cp < 0x800) {
      Buffer[Used++] = static_cast<char>(0xC0 | (Cp >> 6));
    } else if (Cp < 0x10000) {
      Buffer[Used++] = static_cast<char>(0xE0 | (Cp >> 12));
      Buffer[Used++] = static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    } else {
      Buffer[Used++] = static_cast<char>(0xF0 | (Cp >> 18));
      Buffer[Used++] = static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
      Buffer[Used++] = static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
    }
    Buffer[Used++] = static_cast<char>(0x80 | (Cp & 0x3F));
  }
  Out.append(Buffer, Used);
  return Out;
}

// Text inside the document is always valid UTF-8, so that a save writes
// back exactly what was read.
std::string RepairUtf8(std::string_view Bytes) {
  if (IsValidUtf8(Bytes))
    return std::string(Bytes);
  std::string Out;
  Out.reserve(Bytes.size() + Bytes.size() / 2);
  for (std::size_t Pos = 0; Pos < Bytes.size();)
    AppendUtf8(Out, DecodeUtf8(Bytes, Pos));
  return Out;
}

}  // namespace

std::string_view TrimIniText(std::string_view S) {
  const auto Trimmed = [](char C) { return static_cast<unsigned char>(C) <= 32; };
  while (!S.empty() && Trimmed(S.front()))
    S.remove_prefix(1);
  while (!S.empty() && Trimmed(S.back()))
    S.remove_suffix(1);
  return S;
}

std::string DecodeIniFileText(std::string_view Bytes) {
  if (HasPrefix(Bytes, "\xEF\xBB\xBF"))
    return RepairUtf8(Bytes.substr(3));
  if (HasPrefix(Bytes, "\xFF\xFE"))
    return DecodeUtf16(Bytes.substr(2), false);
  if (HasPrefix(Bytes, "\xFE\xFF"))
    return DecodeUtf16(Bytes.substr(2), true);
  // Linux has no ANSI code page; files from Windows without a mark are
  // mostly Windows-1252, and any byte sequence is valid there.
  if (IsValidUtf8(Bytes))
    return std::string(Bytes);
  return Cp1252ToUtf8(Bytes);
}

namespace {

// Appends Text to Out as UTF-16LE. The format has no escapes: a line break
// inside a name or a value would end the line, and the rest would be read
// back as keys or sections of its own (a file name made to contain
// "\n[Config]\n..." would rewrite settings). Each CR and LF is therefore
// written as U+FFFD. Bytes that are not UTF-8 become U+FFFD as well.
void AppendUtf16Le(std::string& Out, std::string_view Text) {
  auto Put = [&Out](char32_t Unit) {
    Out.push_back(static_cast<char>(Unit & 0xFF));
    Out.push_back(static_cast<char>(Unit >> 8));
  };
  for (std::size_t Pos = 0; Pos < Text.size();) {
    const auto B = static_cast<unsigned char>(Text[Pos]);
    if (B < 0x80) {
      ++Pos;
      Put(B == '\r' || B == '\n' ? 0xFFFD : B);
      continue;
    }
    const char32_t Cp = DecodeUtf8(Text, Pos);
    if (Cp >= 0x10000) {
      Put(0xD800 + ((Cp - 0x10000) >> 10));
      Put(0xDC00 + ((Cp - 0x10000) & 0x3FF));
    } else {
      Put(Cp);
    }
  }
}

int HexDigitValue(char C) {
  if (C >= '0' && C <= '9')
    return C - '0';
  if (C >= 'a' && C <= 'f')
    return C - 'a' + 10;
  if (C >= 'A' && C <= 'F')
    return C - 'A' + 10;
  return -1;
}

template <class T>
bool ParseIniNumber(std::string_view Text, T& Result) {
  constexpr std::uint64_t Max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
  bool Hex = false;
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Text.remove_prefix(2);
    Hex = true;
  } else if (!Text.empty() && Text[0] == '$') {
    Text.remove_prefix(1);
    Hex = true;
  }
  if (Hex) {
    if (Text.empty())
      return false;
    std::uint64_t V = 0;
    for (char C : Text) {
      const int D = HexDigitValue(C);
      if (D < 0 || V > (Max - static_cast<unsigned>(D)) / 16)
        return false;
      V = V * 16 + static_cast<unsigned>(D);
    }
    Result = static_cast<T>(V);
    return true;
  }

  bool Negative = false;
  if (!Text.empty() && (Text[0] == '+' || Text[0] == '-')) {
    Negative = Text[0] == '-';
    Text.remove_prefix(1);
  }
  if (Text.empty())
    return false;
  const std::uint64_t Limit = Negative ? Max + 1 : Max;
  std::uint64_t V = 0;
  for (char C : Text) {
    if (C < '0' || C > '9')
      return false;
    const auto D = static_cast<unsigned>(C - '0');
    if (V > (Limit - D) / 10)
      return false;
    V = V * 10 + D;
  }
  if (Negative && V != 0)
    Result = static_cast<T>(-static_cast<std::int64_t>(V - 1) - 1);
  else
    Result = static_cast<T>(V);
  return true;
}

}  // namespace

// --- sections ---------------------------------------------------------------

void TUnicodeIniFile::TSection::AddLine(std::string Text, std::size_t NameLength) {
  Lines.push_back(TLine{std::move(Text), NameLength, false});
  const TLine& Line = Lines.back();
  if (Line.IsKey() && !KeyIndex.try_emplace(FoldCase(Line.Name()), Lines.size() - 1).second)
    HasDuplicateKeys = true;
}

void TUnicodeIniFile::TSection::Compact() {
  std::erase_if(Lines, [](const TLine& Line) { return Line.Erased; });
  ErasedLines = 0;
  KeyIndex.clear();
  HasDuplicateKeys = false;
  for (std::size_t I = 0; I < Lines.size(); ++I)
    if (Lines[I].IsKey() && !KeyIndex.try_emplace(FoldCase(Lines[I].Name()), I).second)
      HasDuplicateKeys = true;
}

TUnicodeIniFile::TSection& TUnicodeIniFile::AddSection(std::string Name) {
  FSectionIndex.try_emplace(FoldCase(Name), FSections.size());
  FSections.emplace_back().Name = std::move(Name);
  return FSections.back();
}

void TUnicodeIniFile::RebuildSectionIndex() {
  FSectionIndex.clear();
  for (std::size_t I = 0; I < FSections.size(); ++I)
    FSectionIndex.try_emplace(FoldCase(FSections[I].Name), I);
}

const TUnicodeIniFile::TSection* TUnicodeIniFile::FindSection(std::string_view Name) const {
  const auto It = FSectionIndex.find(FoldCase(Name));
  return It == FSectionIndex.end() ? nullptr : &FSections[It->second];
}

TUnicodeIniFile::TSection* TUnicodeIniFile::FindSection(std::string_view Name) {
  return const_cast<TSection*>(std::as_const(*this).FindSection(Name));
}

const TUnicodeIniFile::TLine* TUnicodeIniFile::FindKey(std::string_view Section, std::string_view Ident) const {
  const TSection* S = FindSection(Section);
  if (!S)
    return nullptr;
  const auto It = S->KeyIndex.find(FoldCase(Ident));
  return It == S->KeyIndex.end() ? nullptr : &S->Lines[It->second];
}

// --- creation and files -----------------------------------------------------

TUnicodeIniFile::TUnicodeIniFile(TUnicodeIniFile&& Other) noexcept
    : FSections(std::move(Other.FSections)),
      FSectionIndex(std::move(Other.FSectionIndex)),
      FFileName(std::move(Other.FFileName)),
      FReadOnly(std::exchange(Other.FReadOnly, true)) {
  Other.FSections.clear();
  Other.FSectionIndex.clear();
  Other.FFileName.clear();
}

TUnicodeIniFile& TUnicodeIniFile::operator=(TUnicodeIniFile&& Other) noexcept {
  if (this != &Other) {
    FSections = std::move(Other.FSections);
    FSectionIndex = std::move(Other.FSectionIndex);
    FFileName = std::move(Other.FFileName);
    FReadOnly = std::exchange(Other.FReadOnly, true);
    Other.FSections.clear();
    Other.FSectionIndex.clear();
    Other.FFileName.clear();
  }
  return *this;
}

void TUnicodeIniFile::Load(const std::string& FileName) {
  FFileName = FileName;
  if (FileName.empty())
    return;
  std::string Data;
  const int Code = ReadWholeFile(FileName, Data);
  // A file that is not there yet is an empty document, also when its folder
  // is missing.
  if (Code == ErrFileNotFound || Code == ErrPathNotFound)
    return;
  if (Code != ErrSuccess) {
    const std::string Reason = PlatformErrorText(Code);
    throw EFOpenError(Reason.empty() ? SafeFormat(Tr("Cannot open file \"%s\""), FileName)
                                     : SafeFormat(Tr("Cannot open file \"%s\". %s"), FileName, Reason),
                      Code);
  }
  LoadFromBytes(Data);
}

TUnicodeIniFile TUnicodeIniFile::CreateForRead(const std::string& FileName) {
  TUnicodeIniFile Ini;
  Ini.Load(FileName);
  return Ini;
}

TUnicodeIniFile TUnicodeIniFile::CreateForWrite(const std::string& FileName, bool ClearEntries) {
  TUnicodeIniFile Ini;
  Ini.Load(FileName);
  Ini.FReadOnly = false;
  if (ClearEntries) {
    Ini.FSections.clear();
    Ini.FSectionIndex.clear();
  }
  // An existing marker is left as it is, whatever encoding it names.
  if (ClearEntries || !Ini.SectionExists(MarkerSection) || !Ini.ValueExists(MarkerSection, MarkerIdent))
    Ini.WriteString(MarkerSection, MarkerIdent, MarkerValue);
  return Ini;
}

void TUnicodeIniFile::UpdateFile() {
  if (FReadOnly)
    return;
  const int Code = FFileName.empty() ? ErrInvalidName : ReplaceFileAtomically(FFileName, SaveToBytes());
  if (Code != ErrSuccess)
    throw EWriteError(SafeFormat(Tr("Error writing to \"%s\""), FFileName), Code);
}

// --- text -------------------------------------------------------------------

void TUnicodeIniFile::LoadFromBytes(std::string_view Bytes) {
  FSections.clear();
  FSectionIndex.clear();
  const std::string Text = DecodeIniFileText(Bytes);
  const std::string_view All = Text;

  TSection* Current = nullptr;  // lines before the first section are dropped
  std::size_t Pos = 0;
  while (Pos < All.size()) {
    std::size_t End = Pos;
    while (End < All.size() && All[End] != '\r' && All[End] != '\n')
      ++End;
    const std::string_view Line = TrimIniText(All.substr(Pos, End - Pos));
    Pos = End + ((End + 1 < All.size() && All[End] == '\r' && All[End + 1] == '\n') ? 2 : 1);

    if (Line.empty() || Line.front() == ';')
      continue;
    if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']') {
      Current = &AddSection(std::string(TrimIniText(Line.substr(1, Line.size() - 2))));
      continue;
    }
    if (!Current)
      continue;
    const std::size_t Eq = Line.find('=');
    if (Eq == std::string_view::npos) {
      Current->AddLine(std::string(Line), std::string::npos);
      continue;
    }
    const std::string_view Name = TrimIniText(Line.substr(0, Eq));
    const std::string_view Value = TrimIniText(Line.substr(Eq + 1));
    std::string Stored;
    Stored.reserve(Name.size() + 1 + Value.size());
    Stored.append(Name).append(1, '=').append(Value);
    Current->AddLine(std::move(Stored), Name.size());
  }
}

std::string TUnicodeIniFile::SaveToBytes() const {
  // Every UTF-8 byte gives at most one UTF-16 unit.
  std::size_t Size = 2;
  for (const TSection& S : FSections) {
    Size += 2 * (S.Name.size() + 6);
    for (const TLine& Line : S.Lines)
      Size += 2 * (Line.Text.size() + 2);
  }
  std::string Bytes;
  Bytes.reserve(Size);
  Bytes.append("\xFF\xFE");
  const std::string_view LineEnd("\r\0\n\0", 4);
  for (const TSection& S : FSections) {
    Bytes.append("[\0", 2);
    AppendUtf16Le(Bytes, S.Name);
    Bytes.append("]\0", 2).append(LineEnd);
    for (const TLine& Line : S.Lines) {
      if (Line.Erased)
        continue;
      AppendUtf16Le(Bytes, Line.Text);
      Bytes.append(LineEnd);
    }
    Bytes.append(LineEnd);
  }
  return Bytes;
}

// --- values -----------------------------------------------------------------

std::string TUnicodeIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                        std::string_view Default) const {
  const TLine* Line = FindKey(Section, Ident);
  return std::string(Line ? Line->Value() : Default);
}

void TUnicodeIniFile::WriteString(std::string_view Section, std::string_view Ident, std::string_view Value) {
  TSection* S = FindSection(Section);
  if (!S)
    S = &AddSection(std::string(Section));
  std::string Text;
  Text.reserve(Ident.size() + 1 + Value.size());
  Text.append(Ident).append(1, '=').append(Value);
  const auto [It, IsNew] = S->KeyIndex.try_emplace(FoldCase(Ident), S->Lines.size());
  if (IsNew) {
    try {
      S->Lines.push_back(TLine{std::move(Text), Ident.size(), false});
    } catch (...) {
      S->KeyIndex.erase(It);  // no index entry may point past the lines
      throw;
    }
    return;
  }
  TLine& Line = S->Lines[It->second];
  Line.Text = std::move(Text);
  Line.NameLength = Ident.size();
}

std::int32_t TUnicodeIniFile::ReadInteger(std::string_view Section, std::string_view Ident,
                                          std::int32_t Default) const {
  const TLine* Line = FindKey(Section, Ident);
  std::int32_t Result = Default;
  if (!Line || !ParseIniNumber(Line->Value(), Result))
    return Default;
  return Result;
}

void TUnicodeIniFile::WriteInteger(std::string_view Section, std::string_view Ident, std::int32_t Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

std::int64_t TUnicodeIniFile::ReadInt64(std::string_view Section, std::string_view Ident, std::int64_t Default) const {
  const TLine* Line = FindKey(Section, Ident);
  std::int64_t Result = Default;
  if (!Line || !ParseIniNumber(Line->Value(), Result))
    return Default;
  return Result;
}

void TUnicodeIniFile::WriteInt64(std::string_view Section, std::string_view Ident, std::int64_t Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

bool TUnicodeIniFile::ReadBool(std::string_view Section, std::string_view Ident, bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TUnicodeIniFile::WriteBool(std::string_view Section, std::string_view Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

bool TUnicodeIniFile::SectionExists(std::string_view Section) const {
  const TSection* S = FindSection(Section);
  return S && S->HasLines();
}

bool TUnicodeIniFile::ValueExists(std::string_view Section, std::string_view Ident) const {
  return FindKey(Section, Ident) != nullptr;
}

void TUnicodeIniFile::EraseSection(std::string_view Section) {
  if (!FindSection(Section))
    return;
  const std::string Folded = FoldCase(Section);
  std::erase_if(FSections, [&](const TSection& S) { return FoldCase(S.Name) == Folded; });
  RebuildSectionIndex();
}

void TUnicodeIniFile::DeleteKey(std::string_view Section, std::string_view Ident) {
  TSection* S = FindSection(Section);
  if (!S)
    return;
  const std::string Folded = FoldCase(Ident);
  const auto It = S->KeyIndex.find(Folded);
  if (It == S->KeyIndex.end())
    return;
  auto Erase = [S](TLine& Line) {
    Line.Erased = true;
    std::string().swap(Line.Text);
    ++S->ErasedLines;
  };
  Erase(S->Lines[It->second]);
  S->KeyIndex.erase(It);
  if (S->HasDuplicateKeys)
    for (TLine& Line : S->Lines)
      if (Line.IsKey() && FoldCase(Line.Name()) == Folded)
        Erase(Line);
  if (2 * S->ErasedLines > S->Lines.size())
    S->Compact();
}

void TUnicodeIniFile::EraseSectionValues(std::string_view Section) {
  TSection* S = FindSection(Section);
  if (!S)
    return;
  S->Lines.clear();
  S->KeyIndex.clear();
  S->ErasedLines = 0;
  S->HasDuplicateKeys = false;
}

std::vector<std::string> TUnicodeIniFile::ReadSection(std::string_view Section) const {
  std::vector<std::string> Names;
  if (const TSection* S = FindSection(Section)) {
    Names.reserve(S->KeyIndex.size());
    for (const TLine& Line : S->Lines)
      if (Line.IsKey())
        Names.emplace_back(Line.Name());
  }
  return Names;
}

std::vector<std::string> TUnicodeIniFile::ReadSections() const {
  std::vector<std::string> Names;
  Names.reserve(FSections.size());
  for (const TSection& S : FSections)
    Names.push_back(S.Name);
  return Names;
}

std::vector<std::string> TUnicodeIniFile::ReadSectionValues(std::string_view Section) const {
  std::vector<std::string> Lines;
  if (const TSection* S = FindSection(Section)) {
    Lines.reserve(S->Lines.size() - S->ErasedLines);
    for (const TLine& Line : S->Lines)
      if (!Line.Erased)
        Lines.push_back(Line.Text);
  }
  return Lines;
}

void TUnicodeIniFile::WriteProgramInfo(std::string_view Ident, std::string_view Value) {
  WriteString(MarkerSection, Ident, Value);
}

bool ReadIniBool(const std::string& FileName, std::string_view Section, std::string_view Ident, bool Default) {
  return TUnicodeIniFile::CreateForRead(FileName).ReadBool(Section, Ident, Default);
}

}  // namespace dz
