#include "base/Translate.h"

#include <libintl.h>

namespace dz {

void InitTranslation(const std::string& LocaleDir) {
  for (const char* Domain : {TdDefault, TdDialogs, TdUnits}) {
    bindtextdomain(Domain, LocaleDir.c_str());
    bind_textdomain_codeset(Domain, "UTF-8");
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
