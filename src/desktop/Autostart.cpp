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
  std::string Exec = QuoteExecArgument(Target);
  for (const std::string& Arg : Arguments) Exec += ' ' + QuoteExecArgument(Arg);
  std::string Text = "[Desktop Entry]\nType=Application\nName=DeZedodiru\n";
  if (!Description.empty()) Text += "Comment=" + EscapeEntryValue(Description) + '\n';
  Text += "Exec=" + EscapeEntryValue(Exec) + '\n';
  if (!Icon.empty()) Text += "Icon=" + EscapeEntryValue(Icon) + '\n';
  Text += "Terminal=false\n";
  return Text;
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
  if (RegularFileExists(LinkFile)) return Change;
  if (const int Code = CreateShortcut(LinkFile, Target, AutostartArguments(), Description); Code != ErrSuccess) {
    Change.Checked = false;
    Change.Error = Tr("Error creating desktop shortcut!") + "\n" + GetSystemErrorText(Code);
  }
  return Change;
}

bool RefreshStartOnLogon(const std::string& LinkFile, const std::string& Target, const std::string& Description) {
  if (LinkFile.empty() || !RegularFileExists(LinkFile)) return false;
  CreateShortcut(LinkFile, Target, AutostartArguments(), Description);
  return true;
}

}  // namespace dz
