#include "desktop/Autostart.h"

#include "base/Translate.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "platform/Environment.h"
#include "platform/FileIo.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"

namespace dz {

namespace {

constexpr const char* AutostartEntryFileName = "DeZedodiru.desktop";

// The characters that the desktop-entry rules reserve in an Exec argument.
bool IsReservedInExec(char C) {
  switch (C) {
    case ' ': case '\t': case '\n': case '"': case '\'': case '\\': case '>': case '<': case '~':
    case '|': case '&': case ';': case '$': case '*': case '?': case '#': case '(': case ')': case '`':
      return true;
    default:
      return false;
  }
}

constexpr std::string_view EntryGroup = "[Desktop Entry]";

std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t' || Text.back() == '\r')) Text.remove_suffix(1);
  return Text;
}

// One line of an entry: a group header, a key with its value, or anything
// else (comments, blank lines), which is kept as it is.
struct TEntryLine {
  std::string_view Text;   // without the line break
  std::string_view Group;  // the header of a group line, else empty
  std::string_view Key;    // the key of a "Key=Value" line, else empty
  std::string_view Value;
};

// The lines of Text; InEntryGroup[i] says whether line i lies in the
// "[Desktop Entry]" group.
std::vector<TEntryLine> SplitEntry(std::string_view Text, std::vector<bool>& InEntryGroup) {
  std::vector<TEntryLine> Lines;
  bool InGroup = false;
  while (!Text.empty()) {
    const std::size_t End = Text.find('\n');
    TEntryLine Line;
    Line.Text = Text.substr(0, End);
    Text.remove_prefix(End == std::string_view::npos ? Text.size() : End + 1);
    const std::string_view Body = Trimmed(Line.Text);
    if (!Body.empty() && Body.front() == '[') {
      Line.Group = Body;
      InGroup = Body == EntryGroup;
    } else if (const std::size_t Equals = Body.find('='); Equals != std::string_view::npos && Body.front() != '#') {
      Line.Key = Trimmed(Body.substr(0, Equals));
      Line.Value = Trimmed(Body.substr(Equals + 1));
    }
    Lines.push_back(Line);
    InEntryGroup.push_back(InGroup && Line.Group.empty());
  }
  return Lines;
}

bool SwitchesEntryOff(const TEntryLine& Line) {
  return (Line.Key == "Hidden" && Line.Value == "true") ||
         (Line.Key == "X-GNOME-Autostart-enabled" && Line.Value == "false");
}

std::string ExecValue(const std::string& Target, const std::vector<std::string>& Arguments) {
  std::string Exec = QuoteExecArgument(Target);
  for (const std::string& Arg : Arguments) Exec += ' ' + QuoteExecArgument(Arg);
  return EscapeEntryValue(Exec);
}

}  // namespace

std::string AutostartFileName(const std::string& StartupDir) {
  if (StartupDir.empty()) return std::string();
  return JoinPath(StartupDir, AutostartEntryFileName);
}

std::vector<std::string> AutostartArguments() { return {"/hide", "/force"}; }

std::string QuoteExecArgument(std::string_view Arg) {
  bool Quote = Arg.empty();
  for (const char C : Arg) Quote = Quote || IsReservedInExec(C);
  std::string Out;
  if (Quote) Out += '"';
  for (const char C : Arg) {
    if (C == '%') {
      Out += "%%";
      continue;
    }
    if (Quote && (C == '"' || C == '`' || C == '$' || C == '\\')) Out += '\\';
    Out += C;
  }
  if (Quote) Out += '"';
  return Out;
}

std::string EscapeEntryValue(std::string_view Text) {
  std::string Out;
  for (const char C : Text) {
    switch (C) {
      case '\\': Out += "\\\\"; break;
      case '\n': Out += "\\n"; break;
      case '\t': Out += "\\t"; break;
      case '\r': Out += "\\r"; break;
      default: Out += C;
    }
  }
  return Out;
}

std::string AutostartEntryText(const std::string& Target, const std::vector<std::string>& Arguments,
                               const std::string& Description, const std::string& Icon) {
  std::string Text = std::string(EntryGroup) + "\nType=Application\nName=DeZedodiru\n";
  if (!Description.empty()) Text += "Comment=" + EscapeEntryValue(Description) + '\n';
  Text += "Exec=" + ExecValue(Target, Arguments) + '\n';
  if (!Icon.empty()) Text += "Icon=" + EscapeEntryValue(Icon) + '\n';
  Text += "Terminal=false\n";
  return Text;
}

bool AutostartEntryEnabled(const std::string& Text) {
  std::vector<bool> InEntryGroup;
  const std::vector<TEntryLine> Lines = SplitEntry(Text, InEntryGroup);
  for (std::size_t I = 0; I < Lines.size(); ++I)
    if (InEntryGroup[I] && SwitchesEntryOff(Lines[I])) return false;
  return true;
}

std::string PointAutostartEntryAt(const std::string& Text, const std::string& Target,
                                  const std::vector<std::string>& Arguments, const std::string& Description,
                                  bool Enable) {
  std::vector<bool> InEntryGroup;
  const std::vector<TEntryLine> Lines = SplitEntry(Text, InEntryGroup);
  bool HasGroup = false;
  for (const TEntryLine& Line : Lines) HasGroup = HasGroup || Line.Group == EntryGroup;
  if (!HasGroup) return AutostartEntryText(Target, Arguments, Description, AppIconName);
  bool HasExec = false;
  for (std::size_t I = 0; I < Lines.size(); ++I) HasExec = HasExec || (InEntryGroup[I] && Lines[I].Key == "Exec");
  std::string Out;
  bool ExecWritten = false;
  for (std::size_t I = 0; I < Lines.size(); ++I) {
    const TEntryLine& Line = Lines[I];
    if (InEntryGroup[I] && Enable && SwitchesEntryOff(Line)) continue;
    if (InEntryGroup[I] && Line.Key == "Exec") {
      if (ExecWritten) continue;  // a second Exec key would be a broken entry
      Out += "Exec=" + ExecValue(Target, Arguments) + '\n';
      ExecWritten = true;
      continue;
    }
    if (InEntryGroup[I] && Line.Key == "TryExec") {
      Out += "TryExec=" + EscapeEntryValue(Target) + '\n';
      continue;
    }
    Out += Line.Text;
    Out += '\n';
    // An entry without an Exec key starts nothing: it gets ours.
    if (Line.Group == EntryGroup && !HasExec && !ExecWritten) {
      Out += "Exec=" + ExecValue(Target, Arguments) + '\n';
      ExecWritten = true;
    }
  }
  return Out;
}

int CreateShortcut(const std::string& LinkFile, const std::string& Target, const std::vector<std::string>& Arguments,
                   const std::string& Description) {
  if (LinkFile.empty()) return ErrPathNotFound;
  // A directory of that name would be taken for the entry by nobody.
  if (DirectoryExists(LinkFile)) return ErrAccessDenied;
  if (const int Code = ForceDirectories(ExtractFileDir(LinkFile)); Code != ErrSuccess) return Code;
  return ReplaceFileAtomically(LinkFile, AutostartEntryText(Target, Arguments, Description, AppIconName));
}

TStartOnLogonChange SetStartOnLogon(bool Wanted, const std::string& LinkFile, const std::string& Target,
                                    const std::string& Description) {
  TStartOnLogonChange Change;
  if (!Wanted) {
    if (!LinkFile.empty()) UnlinkPath(LinkFile);
    return Change;
  }
  Change.Checked = true;
  int Code = ErrSuccess;
  if (!RegularFileExists(LinkFile)) {
    Code = CreateShortcut(LinkFile, Target, AutostartArguments(), Description);
  } else {
    std::string Text;
    if (ReadWholeFile(LinkFile, Text) != ErrSuccess || AutostartEntryEnabled(Text)) return Change;
    // Switched off in the desktop's settings: on again, the rest kept.
    Code = ReplaceFileAtomically(LinkFile, PointAutostartEntryAt(Text, Target, AutostartArguments(), Description, true));
  }
  if (Code != ErrSuccess) {
    Change.Checked = false;
    Change.Error = Tr("Error creating desktop shortcut!") + "\n" + GetSystemErrorText(Code);
  }
  return Change;
}

bool RefreshStartOnLogon(const std::string& LinkFile, const std::string& Target, const std::string& Description) {
  if (LinkFile.empty() || !RegularFileExists(LinkFile)) return false;
  std::string Text;
  if (ReadWholeFile(LinkFile, Text) != ErrSuccess) return true;
  const std::string Pointed = PointAutostartEntryAt(Text, Target, AutostartArguments(), Description, false);
  if (Pointed != Text) ReplaceFileAtomically(LinkFile, Pointed);
  return AutostartEntryEnabled(Text);
}

}  // namespace dz
