// The watchdog's entry point. Monitoring and the window come with later
// versions; until then the program tells what it is and which options it
// will take.

#include <cstdio>
#include <string>

#include "base/SafeFormat.h"
#include "base/Translate.h"

namespace {

void ShowVersionAndOptions() {
  using dz::Tr;
  std::printf("%s\n", dz::SafeFormat("%s (%s %s)", DZ_INTERNAL_NAME, Tr("Version"), DZ_VERSION).c_str());
  std::printf("%s\n\n", Tr("File change monitoring with direct backup").c_str());
  std::printf("%s\n", Tr("Options (begin with / or -, may be abbreviated):").c_str());
  const struct { const char* Name; const char* Text; } Options[] = {
      {"hide", "start in the notification area"},
      {"dark", "use the dark style"},
      {"force", "start monitoring at once, in the background"},
      {"lang:CODE", "use the language with this two-letter code"},
      {"ini:DIR", "keep the settings file in DIR"},
      {"portable", "keep the settings file beside the program"},
  };
  for (const auto& Option : Options)
    std::printf("  /%-10s %s\n", Option.Name, Tr(Option.Text).c_str());
}

}  // namespace

int main() {
  ShowVersionAndOptions();
  return 0;
}
