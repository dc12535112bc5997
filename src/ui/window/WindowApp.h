#pragma once
// The watchdog with its window: the application object, the main-thread
// queue on its event loop, the window and the controller, the start as the
// command line asks (hide, force), and the end.

#include "settings/ProgramLocations.h"
#include "watchdog/CommandLine.h"

namespace dz::ui {

// Runs the program with its window until it ends; the result is the exit
// code (0, or 2 when the settings file cannot be read).
int RunWindowProgram(int& Argc, char** Argv, const TProgramLocations& Locations, const TCommandLine& CommandLine);

}  // namespace dz::ui
