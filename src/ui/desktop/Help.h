#pragma once
// The help pages, opened in the desktop's web browser.

#include <string>

#include "desktop/Help.h"

class QWidget;

namespace dz::ui {

// Opens the page of Topic (the watchdog's page when empty) in the language
// LanguageCode where there is one. False when there is no such page or the
// desktop cannot open it.
bool OpenHelpTopic(const std::string& Topic = WatchdogHelpTopic, const std::string& LanguageCode = std::string());

// OpenHelpTopic, and when that fails the message "Help is not available on
// this system!" in a message window over Parent, which does not wait for
// the user to close it.
void ShowHelp(QWidget* Parent, const std::string& Topic = WatchdogHelpTopic,
              const std::string& LanguageCode = std::string());

}  // namespace dz::ui
