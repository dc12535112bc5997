#pragma once
// Start on logon. Desktops that follow the freedesktop.org rules start every
// program that has a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart) when the user logs on; the watchdog's entry
// "DeZedodiru.desktop" there starts the running executable with the options
// "/hide /force".

#include <string>
#include <string_view>
#include <vector>

namespace dz {

// The name the application's icon is installed under (hicolor theme).
inline constexpr const char* AppIconName = "dezedodiru";

// StartupDir + "DeZedodiru.desktop"; empty when StartupDir is.
std::string AutostartFileName(const std::string& StartupDir);

// The options the entry starts the program with: "/hide" and "/force".
std::vector<std::string> AutostartArguments();

// One argument of an Exec key: as it is when it holds only characters
// without meaning there, else in double quotes with '"', '`', '$' and '\'
// escaped by a backslash. A '%' is doubled in either case, as it would
// otherwise start a field code.
std::string QuoteExecArgument(std::string_view Arg);

// Text as the value of a desktop-entry key: '\', line breaks, tabs and
// carriage returns written as escapes.
std::string EscapeEntryValue(std::string_view Text);

// The whole desktop entry: Target with Arguments as its Exec key, Icon, and
// Description as the comment.
std::string AutostartEntryText(const std::string& Target, const std::vector<std::string>& Arguments,
                               const std::string& Description, const std::string& Icon);

// Writes the entry LinkFile (replaced atomically; its folder created when
// missing). 0 or the system error code of the failure.
int CreateShortcut(const std::string& LinkFile, const std::string& Target, const std::vector<std::string>& Arguments,
                   const std::string& Description);

// The outcome of switching start on logon from the menu.
struct TStartOnLogonChange {
  bool Checked = false;  // the menu entry's new check mark
  std::string Error;     // the message to show; empty when there is none
};

// The menu entry was switched to Wanted. Off: the entry is deleted (a
// failure or a missing entry changes nothing visible). On: an entry is
// written unless one exists; when that fails, the check mark goes off again
// and Error holds "Error creating desktop shortcut!", a line break and the
// system's text.
TStartOnLogonChange SetStartOnLogon(bool Wanted, const std::string& LinkFile, const std::string& Target,
                                    const std::string& Description);

// At start-up: true when the entry exists, which is then written again so
// that it starts the current executable (failures are ignored).
bool RefreshStartOnLogon(const std::string& LinkFile, const std::string& Target, const std::string& Description);

}  // namespace dz
