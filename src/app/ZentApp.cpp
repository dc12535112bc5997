// The task editor's entry point: ZentApp writes and checks the backup tasks
// that the watchdog runs. The command-line forms work without a window; the
// window forms (ZentApp alone, ZentApp TASK /edit) are not there yet.

#include <iostream>
#include <optional>
#include <string>

#include "base/Translate.h"
#include "desktop/Help.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "settings/ProgramLocations.h"
#include "taskedit/TaskEditCommandLine.h"

int main(int argc, char** argv) {
  dz::OpenMissingStandardStreams();

  const dz::TLocationInputs Inputs = dz::ProcessLocationInputs(argc, argv);
  const dz::TProgramLocations Locations = dz::FindProgramLocations(Inputs);
  dz::InitTranslation(dz::LocaleFolder(Locations.ProgramDir), Locations.LanguageCode);

  if (const std::optional<int> Code = dz::RunTaskEditCommandLine(Inputs.Args, std::cout, std::cerr, Inputs.CurrentDir))
    return *Code;
  std::cerr << dz::Tr("The task editor's window is not available yet; ZentApp --help lists the command-line forms.")
            << "\n";
  return dz::teNoForm;
}
