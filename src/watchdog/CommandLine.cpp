#include "watchdog/CommandLine.h"

#include "settings/ProgramLocations.h"

namespace dz {

TCommandLine ParseCommandLine(const std::vector<std::string>& Args) {
  TCommandLine Result;
  for (const std::string& Arg : Args) {
    if (Arg.empty() || (Arg[0] != '/' && Arg[0] != '-')) continue;
    std::string Param = Arg.substr(1);
    // The first keyword that matches wins, so an empty rest ("/" alone) is
    // "hide", and "/h" stays "hide" although "help" begins with it too.
    if (MatchesOption(Param, "hide")) {
      Result.Hide = true;
    } else if (MatchesOption(Param, "dark")) {
      Result.Dark = true;
    } else if (MatchesOption(Param, "force")) {
      Result.Force = true;
    } else if (MatchesOption(Param, "console")) {
      Result.Console = true;
    } else if (Param == "?" || MatchesOption(Param, "help")) {
      Result.Help = true;
    } else if (MatchesValueOption(Param, "add")) {
      Result.AddTasks.push_back(Param);
    }
  }
  return Result;
}

}  // namespace dz
