#pragma once
// The window's light and dark looks. Both are the Fusion style: the light
// one with its standard palette, the dark one with a dark palette of ours.
// Fusion looks the same on every desktop, so the window's own drawing (the
// owner-drawn directory list) can rely on the colours it gets here.

#include <QColor>

#include <string>

class QApplication;

namespace dz::ui {

// Switches App to the light or the dark look; does nothing when that look is
// active already.
void ApplyStyle(QApplication& App, bool Dark);

// True while the dark look is active.
bool DarkStyleActive();

// The style elements the window draws with: the background and text of the
// selected list item and of the others.
inline constexpr int SeSelectedBack = 5;
inline constexpr int SeItemBack = 20;
inline constexpr int SeSelectedText = 23;
inline constexpr int SeItemText = 43;

// The dark look's colour for a background element (SeSelectedBack,
// SeItemBack) or a text element (SeSelectedText, SeItemText); Default while
// the light look is active or for any other element, so that the light look
// keeps the window's own colours.
QColor StyleColor(int Element, const QColor& Default);
QColor StyleFontColor(int Element, const QColor& Default);

// Whether the desktop prefers dark: the settings portal, then GNOME's
// setting, then KDE's colour scheme in AppDataDir; false when none answers.
// Each question gives up after a fraction of a second.
bool IsSystemDarkMode(const std::string& AppDataDir);

// The look at start-up: dark with the option "dark"; otherwise, when
// "DarkMode" of the configuration file ConfigFile is set, the desktop's
// preference; otherwise light. Returns whether the dark look was chosen.
bool ApplyStartStyle(QApplication& App, bool DarkOption, const std::string& ConfigFile, const std::string& AppDataDir);

}  // namespace dz::ui
