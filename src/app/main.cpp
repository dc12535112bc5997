// The watchdog's entry point. It opens its window when a display can be
// opened; with the option "console", or without a display (a server, an
// ssh session), it runs on the console, and says so in the second case.

#include <cstdio>
#include <string>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "console/ConsoleApp.h"
#include "desktop/Help.h"
#include "platform/Console.h"
#include "platform/Display.h"
#include "platform/Environment.h"
#include "settings/ProgramLocations.h"
#include "ui/window/WindowApp.h"
#include "watchdog/CommandLine.h"

namespace {

void ShowVersionAndOptions() {
  using dz::Tr;
  std::printf("%s\n", dz::SafeFormat("%s (%s %s)", DZ_INTERNAL_NAME, Tr("Version"), DZ_VERSION).c_str());
  std::printf("%s\n\n", Tr("File change monitoring with direct backup").c_str());
  std::printf("%s\n", Tr("Options (begin with / or -, may be abbreviated):").c_str());
  const struct { const char* Name; const char* Text; } Options[] = {
      {"hide", dz::TrMark("start in the notification area")},
      {"dark", dz::TrMark("use the dark style")},
      {"force", dz::TrMark("start monitoring at once, in the background")},
      {"console", dz::TrMark("run without a window; commands b, s, q on standard input")},
      {"add:TASK", dz::TrMark("monitor the source directory of this backup task")},
      {"lang:CODE", dz::TrMark("use the language with this two-letter code")},
      {"ini:DIR/", dz::TrMark("keep the settings file in DIR")},
      {"portable", dz::TrMark("keep the configuration file beside the program")},
      {"help", dz::TrMark("show this list (also /?)")},
  };
  for (const auto& Option : Options)
    std::printf("  /%-10s %s\n", Option.Name, Tr(Option.Text).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a file: a closed standard stream would hand its
  // number to that file, and the console's output with it.
  dz::OpenMissingStandardStreams();

  const dz::TLocationInputs Inputs = dz::ProcessLocationInputs(argc, argv);
  const dz::TCommandLine CommandLine = dz::ParseCommandLine(Inputs.Args);
  const dz::TProgramLocations Locations = dz::FindProgramLocations(Inputs);
  dz::SelectMessageLanguage(Locations.LanguageCode);
  dz::InitTranslation(dz::LocaleFolder(Locations.ProgramDir));

  if (CommandLine.Help) {
    ShowVersionAndOptions();
    return 0;
  }
  if (!CommandLine.Console) {
    // Asked before the toolkit starts: one that cannot connect ends the process.
    if (dz::WindowCanBeOpened()) return dz::ui::RunWindowProgram(argc, argv, Locations, CommandLine);
    std::fprintf(stderr, "%s\n", dz::Tr("No display can be opened; the watchdog runs on the console.").c_str());
  }
  return dz::RunConsoleProgram(Locations, CommandLine);
}
