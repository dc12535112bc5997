#pragma once
// Light or dark: what the desktop prefers and which style the watchdog takes
// at start-up. The desktop is asked in turn through several sources (the
// settings portal, GNOME's setting, KDE's colour scheme); the window layer
// asks them, this part reads their answers and decides.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dz {

// One source's answer about the desktop's colour scheme.
enum class TColorScheme { csUnknown, csDark, csLight };

// The settings portal's "color-scheme" of "org.freedesktop.appearance":
// 1 prefers dark, 2 prefers light, 0 (no preference) and anything else say
// nothing.
TColorScheme ColorSchemeFromPortal(std::uint32_t Value);

// What `gsettings get org.gnome.desktop.interface color-scheme` prints:
// 'prefer-dark' or 'prefer-light'; 'default' and anything else say nothing.
TColorScheme ColorSchemeFromGnome(std::string_view Output);

// The text of KDE's kdeglobals: the window background of the colour scheme
// ("BackgroundNormal" of the section "Colors:Window", red,green,blue) is
// dark when its luminance is below the middle; without it the name of the
// scheme ("ColorScheme" of "General") is dark when it contains "dark". A
// file with neither says nothing.
TColorScheme ColorSchemeFromKdeGlobals(std::string_view Text);

// AppDataDir + "kdeglobals", where KDE keeps it.
std::string KdeGlobalsFile(const std::string& AppDataDir);

// Reads KdeGlobalsFile(AppDataDir); a missing or unreadable file says
// nothing.
TColorScheme KdeColorScheme(const std::string& AppDataDir);

// Asks the sources in order; the first that answers dark or light decides.
// False when none does.
bool ResolveSystemDarkMode(const std::vector<std::function<TColorScheme()>>& Sources);

// The style at start-up: dark with the option "dark"; otherwise, when the
// configuration file's "DarkMode" is set, dark exactly when the desktop
// prefers it (asked only then); otherwise light.
bool WantDarkStyle(bool DarkOption, bool ConfigDarkMode, const std::function<bool()>& IsSystemDarkMode);

}  // namespace dz
