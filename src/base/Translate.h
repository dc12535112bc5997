#pragma once
// The one call through which every user-visible text passes. The key is the
// English text; gettext looks it up in the catalog of the text domain
// ("default" for messages, "dialogs" for the generic dialogs, "Units" for
// unit names) of the chosen language, and the key itself is the result when
// there is no catalog or no entry.

#include <string>

namespace dz {

inline constexpr const char* TdDefault = "default";
inline constexpr const char* TdDialogs = "dialogs";
inline constexpr const char* TdUnits = "Units";

// Points the three text domains at LocaleDir (<LocaleDir>/<lang>/LC_MESSAGES/
// <domain>.mo) in the language the platform layer selected before
// (SelectMessageLanguage of platform/Environment.h; without it the language
// of the environment). Call once, on the main thread, before any text is
// shown.
void InitTranslation(const std::string& LocaleDir);

std::string Tr(const char* Text, const char* Domain = TdDefault);

// Marks a text that is kept in a table or a constant and translated later,
// through Tr on a variable, so that the catalog tools find it (their keyword
// list holds TrMark). Gives the text back unchanged.
constexpr const char* TrMark(const char* Text) { return Text; }
inline std::string Tr(const std::string& Text, const char* Domain = TdDefault) { return Tr(Text.c_str(), Domain); }

}  // namespace dz
