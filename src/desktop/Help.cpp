#include "desktop/Help.h"

#include "filesys/PathUtils.h"
#include "platform/FileIo.h"

namespace dz {

namespace {

// Topics come from the program itself; still, a name that steps out of the
// help folder never reaches the browser.
bool IsPlainName(const std::string& Name) {
  return !Name.empty() && Name != "." && Name != ".." && Name.find('/') == std::string::npos &&
         Name.find('\\') == std::string::npos;
}

}  // namespace

std::string ProgramDataFolder(const std::string& ProgramDir, const std::string& SubFolder) {
  const std::string Beside = JoinPath(ProgramDir, SubFolder);
  if (DirectoryExists(Beside)) return Beside;
  return JoinPath(JoinPath(JoinPath(ProgramDir, ".."), "share/dezedodiru"), SubFolder);
}

std::string HelpFolder(const std::string& ProgramDir) { return ProgramDataFolder(ProgramDir, "help"); }

std::string LocaleFolder(const std::string& ProgramDir) { return ProgramDataFolder(ProgramDir, "locale"); }

std::string HelpFileName(const std::string& HelpDir, const std::string& Topic, const std::string& LanguageCode) {
  const std::string Page = Topic.empty() ? std::string(WatchdogHelpTopic) : Topic;
  if (HelpDir.empty() || !IsPlainName(Page)) return std::string();
  if (IsPlainName(LanguageCode)) {
    const std::string Translated = JoinPath(JoinPath(HelpDir, LanguageCode), Page);
    if (RegularFileExists(Translated)) return Translated;
  }
  const std::string Plain = JoinPath(HelpDir, Page);
  return RegularFileExists(Plain) ? Plain : std::string();
}

}  // namespace dz
