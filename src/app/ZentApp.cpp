// The task editor's entry point: ZentApp writes and checks the backup tasks
// that the watchdog runs. The command-line forms work without a window;
// the others open the list of the task folder or the editor on one task.

#include <iostream>
#include <optional>
#include <string>

#include "base/BuildInfo.h"
#include "base/Translate.h"
#include "desktop/Help.h"
#include "desktop/ProgramVersion.h"
#include "platform/Console.h"
#include "platform/Display.h"
#include "platform/Environment.h"
#include "settings/ProgramLocations.h"
#include "taskedit/TaskEditCommandLine.h"
#include "ui/taskedit/TaskEditApp.h"

namespace {

// What the watchdog's "Version info" shows of the package: read from this
// file, never by running it.
constexpr std::string_view InternalName = "Zentivo";
[[gnu::used]] constexpr auto ZentAppVersionMark =
    dz::VersionMark<dz::VersionMarkSize(InternalName, dz::BuildFileVersion)>(InternalName, dz::BuildFileVersion);

}  // namespace

int main(int argc, char** argv) {
  dz::OpenMissingStandardStreams();

  const dz::TLocationInputs Inputs = dz::ProcessLocationInputs(argc, argv);
  const dz::TProgramLocations Locations = dz::FindProgramLocations(Inputs);
  dz::SelectMessageLanguage(Locations.LanguageCode);
  dz::InitTranslation(dz::LocaleFolder(Locations.ProgramDir));

  if (const std::optional<int> Code = dz::RunTaskEditCommandLine(Inputs.Args, std::cout, std::cerr, Inputs.CurrentDir))
    return *Code;
  const dz::ui::TTaskEditWindowArgs WindowArgs = dz::ui::ParseTaskEditWindowArgs(Inputs.Args);
  if (!dz::WindowCanBeOpened()) {
    std::cerr << dz::Tr("No display can be opened for the task editor's window; ZentApp --help lists the forms "
                        "that work without one.")
              << "\n";
    return dz::ui::ewNoDisplay;
  }
  return dz::ui::RunTaskEditWindow(argc, argv, Locations, WindowArgs, Inputs.CurrentDir);
}
