#pragma once
// Pure string functions that build and take apart path names. None of them
// touches the file system, fails or raises.
//
// Every helper is written once over a path style. The Windows style has "\"
// as its only delimiter (a "/" is an ordinary character there), drive parts
// (C:, \\server\share, \\?\C:, \\?\Volume{...}) and compares without regard
// to case. The POSIX style has "/" as its delimiter, no drive part and
// compares byte for byte, because two Linux file names that differ only in
// case name two files. The program works in the native style; the other one
// exists so that paths from task files written on Windows can be handled and
// so that both are tested on every machine.
//
// Lengths that the helpers compare against a limit (ShortenPath) are counted
// in UTF-16 code units, as the Windows file system counts them.

#include <string>
#include <string_view>

#include "base/SystemTraits.h"

namespace dz {

struct TPathStyle {
  char Delimiter;
  bool HasDrives;   // drive letters, UNC shares and the \\?\ forms
  bool IgnoreCase;  // names compare as the file system compares them
};

inline constexpr TPathStyle WindowsPathStyle{'\\', true, true};
inline constexpr TPathStyle PosixPathStyle{'/', false, false};
inline constexpr TPathStyle NativePathStyle = SystemUsesWindowsPaths ? WindowsPathStyle : PosixPathStyle;
inline constexpr char PathDelimiter = NativePathStyle.Delimiter;

// Dir with a delimiter appended unless it ends with one; empty stays empty
// (a lone delimiter would name the root).
std::string DirWithDelimiter(std::string_view Dir, const TPathStyle& Style = NativePathStyle);

// Path, a delimiter when needed, then Name unchanged (even when it begins
// with a delimiter). An empty side gives the other one.
std::string JoinPath(std::string_view Path, std::string_view Name, const TPathStyle& Style = NativePathStyle);

// The extension is the text after the last "." behind the last delimiter; a
// "." inside a directory name never starts one, and a name that begins with
// "." has one (.profile has the extension profile).
//
// The extension without its dot; empty when there is none or the name ends
// in ".".
std::string GetExtension(std::string_view FileName, const TPathStyle& Style = NativePathStyle);

// FileName without its extension and the dot before it; a trailing "." is
// removed as well, so that text inserted before the extension never
// produces two dots in a row.
std::string RemoveExtension(std::string_view FileName, const TPathStyle& Style = NativePathStyle);

// FileName with Ext (one leading "." ignored) as its extension; an empty Ext
// removes the extension. An empty FileName stays empty.
std::string ReplaceExtension(std::string_view FileName, std::string_view Ext,
                             const TPathStyle& Style = NativePathStyle);

// Text goes before the extension, never after it: report.txt and .bak-2 give
// report.bak-2.txt. This is how numbered previous versions are named.
std::string InsertBeforeExtension(std::string_view FileName, std::string_view Text,
                                  const TPathStyle& Style = NativePathStyle);

// A file name from a default directory, a name and a default extension
// (one leading "." ignored). The extension is added only when Name holds no
// "." anywhere, directory part included. An absolute Name or an empty Dir
// gives Name alone; otherwise Dir and Name are joined.
std::string ComposeFileName(std::string_view Dir, std::string_view Name, std::string_view DefExt,
                            const TPathStyle& Style = NativePathStyle);

// Windows style: not empty and begins with "\" or holds a ":" anywhere
// (C:file is absolute). POSIX style: begins with "/".
bool IsAbsolutePath(std::string_view Path, const TPathStyle& Style = NativePathStyle);

// Name when it is absolute, otherwise Name below Dir.
std::string MakeAbsolutePath(std::string_view Dir, std::string_view Name,
                             const TPathStyle& Style = NativePathStyle);

// True when Path lies inside Base or is Base itself. Both are compared with a
// final delimiter, so C:\DataX is not inside C:\Data. An empty Base contains
// nothing.
bool IsSubPath(std::string_view Base, std::string_view Path, const TPathStyle& Style = NativePathStyle);

// Empty when Path is Base; the rest of Path behind Base and its delimiter
// when Path lies inside Base; Path unchanged otherwise.
std::string RelativePath(std::string_view Base, std::string_view Path,
                         const TPathStyle& Style = NativePathStyle);

// The drive part: the first two characters when the second is ":" (C:); for
// a path that begins with two backslashes the text up to the fourth
// backslash (\\server\share, \\?\C:, \\?\Volume{GUID}), or the whole path
// without a final backslash when there is no fourth one. Empty for any
// other path, and always empty in POSIX style.
std::string DrivePart(std::string_view Path, const TPathStyle& Style = NativePathStyle);

// The name behind the last delimiter (in Windows style also behind a drive's
// ":"); Path itself when it has none.
std::string ExtractFileName(std::string_view Path, const TPathStyle& Style = NativePathStyle);
// The folder part of Path without the delimiter behind it; the root keeps its
// delimiter ("/"); empty for a bare name.
std::string ExtractFileDir(std::string_view Path, const TPathStyle& Style = NativePathStyle);

// Path without its drive part and the delimiter behind it, so that a source
// path can be placed below a destination directory. In POSIX style, which
// has no drives, the leading delimiters are removed instead.
std::string PathWithoutDrive(std::string_view Path, const TPathStyle& Style = NativePathStyle);

// Path shortened for display to about MaxLen UTF-16 code units by putting
// "..." in place of middle directories; the beginning that fits and the whole
// last component stay. When no directory can be dropped the result is "..."
// and the last MaxLen - 2 units (one longer than MaxLen). Unchanged when
// MaxLen <= 3 or the path is shorter than MaxLen. A character outside the
// Basic Multilingual Plane is never cut in half.
std::string ShortenPath(std::string_view Path, int MaxLen, const TPathStyle& Style = NativePathStyle);

// False for the directory pseudo-entries "." and "..", true otherwise (the
// empty name included).
bool IsRegularName(std::string_view Name);

// Every "/" replaced by "\", whatever the style.
std::string SlashesToBackslashes(std::string_view Text);

}  // namespace dz
