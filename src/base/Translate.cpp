#include "base/Translate.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace dz {

namespace {

// The code comes from the command line or a configuration file and ends up
// in a path that gettext builds; anything but a plain locale name is refused.
bool IsPlainLanguageCode(const std::string& Code) {
  if (Code.empty() || Code.size() > 32) return false;
  const auto IsLetter = [](char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); };
  if (!IsLetter(Code[0])) return false;
  for (const char C : Code) {
    if (!IsLetter(C) && !(C >= '0' && C <= '9') && C != '_' && C != '@' && C != '.') return false;
  }
  return true;
}

bool IsCLocale(const char* Name) {
  return Name == nullptr || std::strcmp(Name, "C") == 0 || std::strcmp(Name, "POSIX") == 0;
}

}  // namespace

void InitTranslation(const std::string& LocaleDir, const std::string& LanguageCode) {
  for (const char* Domain : {TdDefault, TdDialogs, TdUnits}) {
    bindtextdomain(Domain, LocaleDir.c_str());
    bind_textdomain_codeset(Domain, "UTF-8");
  }

  std::string Code = LanguageCode;
  for (char& C : Code) {
    if (C == '-') C = '_';  // "pt-BR" as the platform spells it: pt_BR
  }
  if (IsPlainLanguageCode(Code)) {
    // LANGUAGE selects the catalog by the bare code, whatever locales are
    // installed. GNU gettext ignores it while the message locale is "C",
    // the locale of every process that has not chosen one, so a neutral
    // UTF-8 locale is chosen for the messages only. Numbers and character
    // classes keep their locale.
    setenv("LANGUAGE", Code.c_str(), 1);
    if (IsCLocale(std::setlocale(LC_MESSAGES, nullptr))) {
      for (const char* Neutral : {"C.UTF-8", "C.utf8", "en_US.UTF-8", ""}) {
        const char* Chosen = std::setlocale(LC_MESSAGES, Neutral);
        if (Chosen && !IsCLocale(Chosen)) break;
      }
    }
  } else {
    std::setlocale(LC_MESSAGES, "");
  }
  // Also tells gettext that the language may have changed, so that it does
  // not answer from catalogs looked up before.
  textdomain(TdDefault);
}

std::string Tr(const char* Text, const char* Domain) {
  // gettext answers the empty key with the catalog's header entry.
  if (Text == nullptr || *Text == '\0') return std::string();
  return dgettext(Domain ? Domain : TdDefault, Text);
}

}  // namespace dz
