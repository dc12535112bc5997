// How SelectMessageLanguage tells gettext the language on POSIX systems:
// LANGUAGE, which the translation tests see only through the texts.

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/Environment.h"
#include "support/ScopedEnvironment.h"

namespace dz {
namespace {

TEST(MessageLanguageTest, PlainCodesBecomeTheLanguageOthersChangeNothing) {
  test::TScopedEnvironment Env;
  const std::string SavedMessages = std::setlocale(LC_MESSAGES, nullptr);
  const struct {
    const char* Code;
    const char* Language;  // LANGUAGE afterwards; "before" when left alone
  } Cases[] = {
      {"de", "de"},
      {"pt-BR", "pt_BR"},  // as the platform spells it
      {"sr@latin", "sr@latin"},
      {"de_DE", "de_DE"},
      {"", "before"},
      {"../de", "before"},
      {"de/LC_MESSAGES", "before"},
      {"1de", "before"},
      {"de de", "before"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Code);
    Env.Set("LANGUAGE", "before");
    SelectMessageLanguage(C.Code);
    EXPECT_EQ(EnvVar("LANGUAGE"), C.Language);
  }
  std::setlocale(LC_MESSAGES, SavedMessages.c_str());
}

}  // namespace
}  // namespace dz
