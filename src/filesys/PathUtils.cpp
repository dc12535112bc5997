#include "filesys/PathUtils.h"

#include "base/CaseFold.h"
#include "base/Utf.h"

namespace dz {

namespace {

constexpr auto npos = std::string_view::npos;

bool EndsWithDelimiter(std::string_view Path, const TPathStyle& Style) {
  return !Path.empty() && Path.back() == Style.Delimiter;
}

// Index of the dot that starts the extension of FileName, or npos.
std::size_t ExtensionDot(std::string_view FileName, const TPathStyle& Style) {
  const std::size_t Dot = FileName.rfind('.');
  if (Dot == npos)
    return npos;
  const std::size_t Delim = FileName.rfind(Style.Delimiter);
  if (Delim != npos && Delim > Dot)
    return npos;
  return Dot;
}

// Byte length of the beginning of Text that equals Prefix as the style
// compares names, or npos when Text does not begin with Prefix. Without
// regard to case the two can differ in length (a letter and its folded form
// need not take the same number of bytes), so the walk goes by code point.
std::size_t MatchedPrefixLength(std::string_view Text, std::string_view Prefix, const TPathStyle& Style) {
  if (!Style.IgnoreCase)
    return Text.starts_with(Prefix) ? Prefix.size() : npos;
  std::size_t TextPos = 0;
  std::size_t PrefixPos = 0;
  while (PrefixPos < Prefix.size()) {
    if (TextPos >= Text.size())
      return npos;
    const std::size_t TextStart = TextPos;
    const std::size_t PrefixStart = PrefixPos;
    const char32_t A = DecodeUtf8(Text, TextPos);
    const char32_t B = DecodeUtf8(Prefix, PrefixPos);
    if (A == U'\uFFFD' && B == U'\uFFFD') {
      // Invalid bytes all decode to U+FFFD; only the bytes themselves tell
      // two such names apart.
      if (Text.substr(TextStart, TextPos - TextStart) != Prefix.substr(PrefixStart, PrefixPos - PrefixStart))
        return npos;
    } else if (FoldCase(A) != FoldCase(B)) {
      return npos;
    }
  }
  return TextPos;
}

bool IsLowSurrogate(char16_t Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

}  // namespace

std::string DirWithDelimiter(std::string_view Dir, const TPathStyle& Style) {
  std::string Result(Dir);
  if (!Result.empty() && Result.back() != Style.Delimiter)
    Result += Style.Delimiter;
  return Result;
}

std::string JoinPath(std::string_view Path, std::string_view Name, const TPathStyle& Style) {
  if (Name.empty())
    return std::string(Path);
  if (Path.empty())
    return std::string(Name);
  std::string Result = DirWithDelimiter(Path, Style);
  Result += Name;
  return Result;
}

std::string GetExtension(std::string_view FileName, const TPathStyle& Style) {
  const std::size_t Dot = ExtensionDot(FileName, Style);
  return Dot == npos ? std::string() : std::string(FileName.substr(Dot + 1));
}

std::string RemoveExtension(std::string_view FileName, const TPathStyle& Style) {
  return std::string(FileName.substr(0, ExtensionDot(FileName, Style)));
}

std::string ReplaceExtension(std::string_view FileName, std::string_view Ext, const TPathStyle& Style) {
  if (FileName.empty())
    return {};
  if (Ext.starts_with('.'))
    Ext.remove_prefix(1);
  std::string Result = RemoveExtension(FileName, Style);
  if (!Ext.empty()) {
    Result += '.';
    Result += Ext;
  }
  return Result;
}

std::string InsertBeforeExtension(std::string_view FileName, std::string_view Text, const TPathStyle& Style) {
  std::string Result = RemoveExtension(FileName, Style);
  Result += Text;
  const std::string Ext = GetExtension(FileName, Style);
  if (!Ext.empty()) {
    Result += '.';
    Result += Ext;
  }
  return Result;
}

std::string ComposeFileName(std::string_view Dir, std::string_view Name, std::string_view DefExt,
                            const TPathStyle& Style) {
  if (DefExt.starts_with('.'))
    DefExt.remove_prefix(1);
  std::string FullName(Name);
  if (Name.find('.') == npos && !DefExt.empty()) {
    FullName += '.';
    FullName += DefExt;
  }
  if (IsAbsolutePath(FullName, Style) || Dir.empty())
    return FullName;
  return DirWithDelimiter(Dir, Style) + FullName;
}

bool IsAbsolutePath(std::string_view Path, const TPathStyle& Style) {
  if (Path.empty())
    return false;
  if (Path.front() == Style.Delimiter)
    return true;
  return Style.HasDrives && Path.find(':') != npos;
}

std::string MakeAbsolutePath(std::string_view Dir, std::string_view Name, const TPathStyle& Style) {
  if (IsAbsolutePath(Name, Style))
    return std::string(Name);
  return DirWithDelimiter(Dir, Style) + std::string(Name);
}

bool IsSubPath(std::string_view Base, std::string_view Path, const TPathStyle& Style) {
  if (Base.empty())
    return false;
  return MatchedPrefixLength(DirWithDelimiter(Path, Style), DirWithDelimiter(Base, Style), Style) != npos;
}

std::string RelativePath(std::string_view Base, std::string_view Path, const TPathStyle& Style) {
  const std::string BaseDir = DirWithDelimiter(Base, Style);
  const std::string PathDir = DirWithDelimiter(Path, Style);
  const std::size_t Matched = MatchedPrefixLength(PathDir, BaseDir, Style);
  if (Matched == PathDir.size())
    return {};
  if (Base.empty() || Matched == npos)
    return std::string(Path);
  // Matched < PathDir.size() here, and PathDir is Path plus at most one
  // delimiter, so Matched lies within Path.
  return std::string(Path.substr(Matched));
}

std::string ExtractFileName(std::string_view Path, const TPathStyle& Style) {
  const std::size_t Cut = Style.HasDrives ? Path.find_last_of(std::string{Style.Delimiter, ':'})
                                          : Path.rfind(Style.Delimiter);
  return std::string(Cut == std::string_view::npos ? Path : Path.substr(Cut + 1));
}

std::string ExtractFileDir(std::string_view Path, const TPathStyle& Style) {
  const std::size_t Cut = Path.rfind(Style.Delimiter);
  if (Cut == std::string_view::npos)
    return {};
  return std::string(Path.substr(0, Cut == 0 ? 1 : Cut));
}

std::string DrivePart(std::string_view Path, const TPathStyle& Style) {
  if (!Style.HasDrives || Path.empty())
    return {};
  const char Delim = Style.Delimiter;
  if (Path.size() >= 2 && Path[0] == Delim && Path[1] == Delim) {
    const std::size_t Third = Path.find(Delim, 2);
    if (Third != npos) {
      const std::size_t Fourth = Path.find(Delim, Third + 1);
      if (Fourth != npos)
        return std::string(Path.substr(0, Fourth));
    }
    if (EndsWithDelimiter(Path, Style))
      Path.remove_suffix(1);
    return std::string(Path);
  }
  std::size_t AfterFirst = 0;
  DecodeUtf8(Path, AfterFirst);
  if (AfterFirst < Path.size() && Path[AfterFirst] == ':')
    return std::string(Path.substr(0, AfterFirst + 1));
  return {};
}

std::string PathWithoutDrive(std::string_view Path, const TPathStyle& Style) {
  if (!Style.HasDrives) {
    const std::size_t First = Path.find_first_not_of(Style.Delimiter);
    return First == npos ? std::string() : std::string(Path.substr(First));
  }
  const std::string Drive = DrivePart(Path, Style);
  if (Drive.empty())
    return std::string(Path);
  return RelativePath(Drive, Path, Style);
}

std::string ShortenPath(std::string_view Path, int MaxLen, const TPathStyle& Style) {
  if (MaxLen <= 3)
    return std::string(Path);
  const std::u16string Units = Utf8ToUtf16(Path);
  const std::size_t Len = Units.size();
  const auto Max = static_cast<std::size_t>(MaxLen);
  if (Len < Max)
    return std::string(Path);

  const auto Delim = static_cast<char16_t>(static_cast<unsigned char>(Style.Delimiter));
  // Positions below count from 1 and a character at position P is
  // Units[P - 1]. A trailing delimiter stays part of the last component.
  std::size_t LastDelim = Len;
  if (Units[LastDelim - 1] == Delim)
    --LastDelim;
  while (LastDelim > 0 && Units[LastDelim - 1] != Delim)
    --LastDelim;

  if (LastDelim > 0) {
    const std::size_t TailLen = Len - LastDelim + 1;
    for (std::size_t Pos = LastDelim - 1; Pos > 0; --Pos) {
      if (Units[Pos - 1] != Delim)
        continue;
      if (Pos + 3 + TailLen <= Max) {
        std::u16string Result = Units.substr(0, Pos);
        Result += u"...";
        Result += Units.substr(LastDelim - 1);
        return Utf16ToUtf8(Result);
      }
    }
  }

  // The tail form keeps the last MaxLen - 2 units. Starting inside a
  // surrogate pair would leave half a character, so the start moves past it.
  std::size_t Start = Len - Max + 2;
  if (Start > 0 && IsLowSurrogate(Units[Start]))
    ++Start;
  return Utf16ToUtf8(u"..." + Units.substr(Start));
}

bool IsRegularName(std::string_view Name) { return Name != "." && Name != ".."; }

std::string SlashesToBackslashes(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result)
    if (C == '/')
      C = '\\';
  return Result;
}

}  // namespace dz
