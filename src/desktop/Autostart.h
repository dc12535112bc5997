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

// Whether the desktop starts the entry Text at logon: not when its
// "[Desktop Entry]" group says "Hidden=true" or
// "X-GNOME-Autostart-enabled=false" (how desktops' settings switch an
// autostart entry off without deleting it).
bool AutostartEntryEnabled(const std::string& Text);

// The entry Text pointed at Target: in its "[Desktop Entry]" group the
// Exec key becomes Target with Arguments and a TryExec key, where there is
// one, Target; with Enable the keys that switch it off go. Every other line
// stays as it is. A text without that group gives a whole new entry.
std::string PointAutostartEntryAt(const std::string& Text, const std::string& Target,
                                  const std::vector<std::string>& Arguments, const std::string& Description,
                                  bool Enable);

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
// written unless one exists, and one the desktop has switched off is
// switched on again (its other keys kept); when that fails, the check mark
// goes off again and Error holds "Error creating desktop shortcut!", a line
// break and the system's text.
TStartOnLogonChange SetStartOnLogon(bool Wanted, const std::string& LinkFile, const std::string& Target,
                                    const std::string& Description);

// At start-up: an existing entry is pointed at the current executable
// (only its Exec and TryExec keys change; failures are ignored). The
// result is the menu's check mark: true when the entry exists and the
// desktop has not switched it off.
bool RefreshStartOnLogon(const std::string& LinkFile, const std::string& Target, const std::string& Description);

}  // namespace dz
