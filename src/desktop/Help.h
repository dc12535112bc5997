#pragma once
// Where the program's data lies (help pages, translations), and which help
// page stands for a topic. A build tree and a copy of the program in one
// folder keep the data beside the executable; an installed program keeps it
// in <prefix>/share/dezedodiru beside <prefix>/bin.

#include <string>

namespace dz {

// The topic of the watchdog's own help page.
inline constexpr const char* WatchdogHelpTopic = "zv-watchdog.html";

// ProgramDir + SubFolder when that folder exists, else the folder of that
// name in ProgramDir + "../share/dezedodiru" (which need not exist).
std::string ProgramDataFolder(const std::string& ProgramDir, const std::string& SubFolder);

// The folders of the help pages ("help") and of the message catalogs
// ("locale", as InitTranslation takes it).
std::string HelpFolder(const std::string& ProgramDir);
std::string LocaleFolder(const std::string& ProgramDir);

// The page for Topic (WatchdogHelpTopic when empty) in HelpDir: the one of
// the language LanguageCode (HelpDir + LanguageCode + "/" + Topic) when it
// exists, else HelpDir + Topic. Empty when there is no such page, or when
// Topic is not a plain file name.
std::string HelpFileName(const std::string& HelpDir, const std::string& Topic, const std::string& LanguageCode);

}  // namespace dz
