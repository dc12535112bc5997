#include "taskedit/TaskEditCommandLine.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "base/CommaText.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "settings/PathConventions.h"
#include "settings/UnicodeIniFile.h"
#include "taskedit/TaskDocument.h"
#include "taskedit/TaskValidation.h"
#include "watchdog/TaskReader.h"

namespace dz {

namespace {

constexpr std::string_view FormOptions[] = {"--new", "--check", "--help"};
constexpr std::string_view ValueOptions[] = {"--new",     "--check",   "--source",   "--dest",
                                             "--compress", "--exclude", "--structure"};

struct TOption {
  std::string Name;
  std::string Value;
};

bool IsForm(std::string_view Arg) {
  return std::any_of(std::begin(FormOptions), std::end(FormOptions), [Arg](std::string_view Form) {
    return Arg == Form || (Arg.starts_with(Form) && Arg.size() > Form.size() && Arg[Form.size()] == '=');
  });
}

bool TakesValue(std::string_view Name) {
  return std::find(std::begin(ValueOptions), std::end(ValueOptions), Name) != std::end(ValueOptions);
}

void PrintUsage(std::ostream& Out) {
  Out << Tr("Writes and checks backup tasks for DeZedodiru.") << "\n\n"
      << "  ZentApp --new TASK --source DIR [--source DIR...] --dest DIR\n"
      << "          [--compress none|gz|zip] [--exclude EXT,EXT] [--structure full|drives] [--replace]\n"
      << "      " << Tr("writes a new task that backs up every file of the sources") << "\n"
      << "  ZentApp --check TASK\n"
      << "      " << Tr("prints whether DeZedodiru can use the task, and why not; exits with that code") << "\n"
      << "  ZentApp --help\n"
      << "      " << Tr("shows this text") << "\n";
}

// The options of Args in order; false, with a message, for an argument that
// is no option or an option without its value.
bool SplitOptions(const std::vector<std::string>& Args, std::vector<TOption>& Options, std::ostream& Err) {
  for (std::size_t I = 0; I < Args.size(); ++I) {
    const std::string& Arg = Args[I];
    const std::size_t Equals = Arg.find('=');
    TOption Option{Arg.substr(0, Equals), Equals == std::string::npos ? std::string() : Arg.substr(Equals + 1)};
    const bool Known = TakesValue(Option.Name) || Option.Name == "--help" || Option.Name == "-h" ||
                       Option.Name == "--replace";
    if (!Known) {
      Err << SafeFormat(Tr("Unknown argument: %s"), Arg) << "\n";
      return false;
    }
    if (TakesValue(Option.Name) && Equals == std::string::npos) {
      if (I + 1 >= Args.size()) {
        Err << SafeFormat(Tr("The option %s needs a value."), Option.Name) << "\n";
        return false;
      }
      Option.Value = Args[++I];
    }
    Options.push_back(std::move(Option));
  }
  return true;
}

std::string CheckCodeText(TTaskCheck Code) {
  switch (Code) {
    case tcUsable: return Tr("The task can be used by DeZedodiru.");
    case tcInvalidSettings: return Tr("The task has settings that DeZedodiru cannot use.");
    case tcNotFound: return Tr("The task file was not found.");
    case tcUnreadable: return Tr("The task file cannot be read.");
  }
  return {};
}

std::string FindingText(const TTaskFinding& Finding) {
  return (Finding.Level == flError ? Tr("Error: ") : Tr("Warning: ")) + Finding.Text;
}

int RunCheck(const std::string& Task, std::ostream& Out) {
  std::vector<TTaskSource> Sources;
  std::vector<std::string> Reasons;
  TTaskCheck Code = CheckTaskFile(Task, &Sources, &Reasons);
  // The watchdog takes a task without a usable destination, and then fails
  // at every backup: what the editor says of the destination counts here
  // too (placeholders the check has named already).
  if (Code == tcUsable || Code == tcInvalidSettings) {
    try {
      const TTaskDocument Doc = ReadTaskDocument(Task);
      if (!DestinationHasPlaceholders(Doc.Destination))
        for (const TTaskFinding& Finding : ValidateTask(Doc)) {
          if (Finding.Field != tfDestination) continue;
          Reasons.push_back(FindingText(Finding));
          if (Finding.Level == flError) Code = tcInvalidSettings;
        }
    } catch (const EStreamError&) {
      // What cannot be read was judged by the check.
    }
  }
  Out << Code << ": " << CheckCodeText(Code) << "\n";
  for (const std::string& Reason : Reasons) Out << "  " << Reason << "\n";
  for (const TTaskSource& Source : Sources)
    Out << "  " << SafeFormat(Tr("Source directory: %s"), Source.Dir) << "\n";
  return Code;
}

struct TNewTask {
  std::string Task;
  std::vector<std::string> Sources;
  std::string Dest;
  TCompression Compression = cmNone;
  std::vector<std::string> Exclude;
  TDestStructure Structure = dsFullPath;
  bool Replace = false;
};

// A volume-label destination stays as it is; every other path becomes
// absolute, since the watchdog finds a monitored directory by its full path.
std::string FullPath(const std::string& CurrentDir, const std::string& Path) {
  std::string Label;
  if (Path.empty() || VolumeLabelOf(Path, Label)) return Path;
  return MakeAbsolutePath(CurrentDir, Path);
}

bool ParseNewTask(const std::vector<TOption>& Options, const std::string& CurrentDir, TNewTask& New,
                  std::ostream& Err) {
  for (const TOption& Option : Options) {
    if (Option.Name == "--new") {
      New.Task = FullPath(CurrentDir, Option.Value);
    } else if (Option.Name == "--source") {
      New.Sources.push_back(FullPath(CurrentDir, Option.Value));
    } else if (Option.Name == "--dest") {
      New.Dest = FullPath(CurrentDir, Option.Value);
    } else if (Option.Name == "--compress") {
      if (Option.Value == "none") New.Compression = cmNone;
      else if (Option.Value == "gz") New.Compression = cmGzip;
      else if (Option.Value == "zip") New.Compression = cmZip;
      else {
        Err << SafeFormat(Tr("--compress takes none, gz or zip, not \"%s\"."), Option.Value) << "\n";
        return false;
      }
    } else if (Option.Name == "--structure") {
      if (Option.Value == "full") New.Structure = dsFullPath;
      else if (Option.Value == "drives") New.Structure = dsDriveFolders;
      else {
        Err << SafeFormat(Tr("--structure takes full or drives, not \"%s\"."), Option.Value) << "\n";
        return false;
      }
    } else if (Option.Name == "--exclude") {
      for (std::string Ext : SplitCommaText(Option.Value)) {
        if (Ext.starts_with("*.")) Ext.erase(0, 2);
        else if (Ext.starts_with('.')) Ext.erase(0, 1);
        if (!Ext.empty()) New.Exclude.push_back(std::move(Ext));
      }
    } else if (Option.Name == "--replace") {
      New.Replace = true;
    } else {
      Err << SafeFormat(Tr("The option %s does not belong to --new."), Option.Name) << "\n";
      return false;
    }
  }
  if (New.Task.empty() || New.Sources.empty() || New.Dest.empty()) {
    Err << Tr("--new needs a task file, at least one --source and a --dest.") << "\n";
    return false;
  }
  return true;
}

int RunNew(const TNewTask& New, std::ostream& Out, std::ostream& Err) {
  TTaskDocument Doc = NewTaskDocument(New.Sources, New.Dest);
  Doc.Compression = New.Compression;
  Doc.DestMode = New.Structure;
  for (TTaskSourceEntry& Entry : Doc.Sources) Entry.Exclude = New.Exclude;

  const std::vector<TTaskFinding> Findings = ValidateTask(Doc);
  for (const TTaskFinding& Finding : Findings) Err << FindingText(Finding) << "\n";
  if (HasErrors(Findings)) {
    Err << SafeFormat(Tr("The task \"%s\" was not written."), New.Task) << "\n";
    return teTaskRefused;
  }
  if (!New.Replace && XlFileExists(New.Task, false)) {
    Err << SafeFormat(Tr("The task file \"%s\" exists already; give --replace to overwrite it."), New.Task) << "\n";
    return teWriteFailed;
  }
  try {
    WriteTaskDocument(Doc, New.Task);
  } catch (const EStreamError& E) {
    Err << E.what() << "\n";
    return teWriteFailed;
  }
  Out << SafeFormat(Tr("Task written: %s"), New.Task) << "\n";
  return teOk;
}

}  // namespace

std::optional<int> RunTaskEditCommandLine(const std::vector<std::string>& Args, std::ostream& Out,
                                          std::ostream& Err, const std::string& CurrentDir) {
  if (std::none_of(Args.begin(), Args.end(), [](const std::string& Arg) { return IsForm(Arg); })) return std::nullopt;

  std::vector<TOption> Options;
  if (!SplitOptions(Args, Options, Err)) {
    Err << Tr("ZentApp --help lists the forms.") << "\n";
    return teUsage;
  }
  const auto Count = [&Options](std::string_view Name) {
    return std::count_if(Options.begin(), Options.end(), [Name](const TOption& O) { return O.Name == Name; });
  };
  if (Count("--help") + Count("-h") > 0) {
    PrintUsage(Out);
    return teOk;
  }
  if (Count("--new") + Count("--check") != 1) {
    Err << Tr("Give either --new or --check, once.") << "\n" << Tr("ZentApp --help lists the forms.") << "\n";
    return teUsage;
  }
  if (Count("--check") == 1) {
    if (Options.size() != 1) {
      Err << Tr("--check takes the task file and nothing else.") << "\n";
      return teUsage;
    }
    return RunCheck(FullPath(CurrentDir, Options.front().Value), Out);
  }
  TNewTask New;
  if (!ParseNewTask(Options, CurrentDir, New, Err)) {
    Err << Tr("ZentApp --help lists the forms.") << "\n";
    return teUsage;
  }
  return RunNew(New, Out, Err);
}

}  // namespace dz
