#pragma once
// The command-line forms of ZentApp, for scripts and tests (no window):
//
//   ZentApp --new TASK --source DIR [--source DIR...] --dest DIR
//           [--compress none|gz|zip] [--exclude EXT,EXT] [--structure full|drives]
//           [--replace]
//   ZentApp --check TASK
//   ZentApp --help
//
// Values follow their option as the next argument or after "=".

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace dz {

// Exit codes of the command-line forms. "--check" exits with the task
// check's own code instead (0 usable, 1 invalid settings, 2 not found,
// 3 unreadable).
enum TTaskEditExit : int {
  teOk = 0,
  teNoForm = 2,        // no command-line form given and no window to open
  teUsage = 4,         // the arguments are not a valid form
  teTaskRefused = 5,   // "--new": the task would have errors; nothing written
  teWriteFailed = 6,   // "--new": the task file cannot be written, or exists
};

// Runs the command-line form in Args (the parameters without the program's
// own name), printing to Out and Err, and returns its exit code; nothing
// when Args hold no command-line form ("--new", "--check" or "--help"), so
// that the window can take over. Relative paths are taken relative to
// CurrentDir.
std::optional<int> RunTaskEditCommandLine(const std::vector<std::string>& Args, std::ostream& Out,
                                          std::ostream& Err, const std::string& CurrentDir);

}  // namespace dz
