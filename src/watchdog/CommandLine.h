#pragma once
// The watchdog's own command-line options. Every parameter that begins with
// "/" or "-" is an option; the rest of it is matched as an abbreviation of a
// keyword (MatchesOption), so "/f", "-FORCE" and "/Force" are all "force".
// The options of the program's locations ("lang", "ini", "portable") are
// read by FindProgramLocations and pass here without a word, as do unknown
// ones.

#include <string>
#include <vector>

namespace dz {

struct TCommandLine {
  bool Hide = false;     // "hide": keep running in the background
  bool Dark = false;     // "dark": the dark style
  bool Force = false;    // "force": start monitoring at once
  bool Console = false;  // "console": run without a window
  bool Help = false;     // "help" (at least "he") or "?": list the options
  // The task files of every "add:<task file>", in the order given.
  std::vector<std::string> AddTasks;
};

// Args are the parameters without the program's own name.
TCommandLine ParseCommandLine(const std::vector<std::string>& Args);

}  // namespace dz
