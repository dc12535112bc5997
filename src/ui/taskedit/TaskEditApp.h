#pragma once
// The task editor's window forms: "ZentApp" alone opens the list of the
// task folder, "ZentApp TASK /edit" the editor on one task, which ends the
// program with the exit code the watchdog waits for.

#include <string>
#include <vector>

#include "settings/ProgramLocations.h"

namespace dz::ui {

// Exit codes of the window forms.
enum TTaskEditWindowExit : int {
  ewSaved = 0,      // the editor saved the task (the list: it was closed)
  ewNotSaved = 1,   // Cancel, closed without saving, or not created
  ewNoDisplay = 2,  // no window can be opened
};

struct TTaskEditWindowArgs {
  bool Edit = false;  // "edit", or a task file given: the editor alone
  bool Dark = false;  // "dark"
  std::string Task;   // the first parameter that is not an option
};

// The window forms' options, matched as the watchdog matches its own ("/"
// or "-", any abbreviation). The options of the program's locations
// ("lang", "ini", "portable") and unknown ones pass without a word. A
// parameter that begins with "/" and holds another "/" before any ":" is an
// absolute path, not an option.
TTaskEditWindowArgs ParseTaskEditWindowArgs(const std::vector<std::string>& Args);

// Runs the window form until it ends and returns the exit code. A relative
// task file is taken from CurrentDir.
int RunTaskEditWindow(int& Argc, char** Argv, const TProgramLocations& Locations, const TTaskEditWindowArgs& Args,
                      const std::string& CurrentDir);

}  // namespace dz::ui
