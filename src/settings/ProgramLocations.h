#pragma once
// Where the watchdog's files are and which language it speaks, worked out
// once at start-up: the settings directory and file (shared with the main
// application, Zentivo), Zentivo's configuration file, the default task
// folder, the two-letter language code, and the texts that name the program
// and its version. Also the matching rule for every command-line option.
//
// Linux counterparts of the Windows places:
//  - application-data folder: $XDG_CONFIG_HOME, else ~/.config
//    (an XDG_CONFIG_HOME that is not absolute is ignored, as XDG requires);
//  - documents folder: XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs,
//    else ~/Documents;
//  - start-up folder: the autostart folder of the application-data folder;
//  - Zentivo's registry key "Software\ZentivoCore6": the section
//    "ZentivoCore6" of registry.ini in the folder "ZentivoCore6", below the
//    application-data folder for the current user and below /etc/xdg for
//    the machine;
//  - the system's language: the locale environment.
//
// The computation takes its inputs as arguments (TLocationInputs), so that
// it can be driven without a real process start; ProcessLocationInputs()
// collects them from the running process.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dz {

// The value of an environment variable; empty when it is not set.
using TEnvironmentReader = std::function<std::string(const std::string& Name)>;

// ---- Command-line options ---------------------------------------------
// An argument is an option when it begins with "/" or "-"; the functions get
// it with that character removed. Keywords are lower case.

// True when Param, in lower case, is the beginning of Keyword: any
// abbreviation matches ("h" to "hide" match "hide"), and so does an empty
// Param; a Param longer than Keyword matches nothing.
bool MatchesOption(std::string_view Param, std::string_view Keyword);

// For options with a value, "keyword:value": true when Param holds a ":" and
// the text before the first one matches Keyword as above; Param is then
// replaced by the value.
bool MatchesValueOption(std::string& Param, std::string_view Keyword);

// Text with every name enclosed in two "%" signs replaced, signs included,
// by the value of that environment variable (empty when it is not set). A
// "%" without a partner stays as it is.
std::string ExpandEnvironmentNames(std::string_view Text, const TEnvironmentReader& GetEnv);

// ---- System folders ----------------------------------------------------
// Each ends with the delimiter, or is empty when it cannot be named.

// $XDG_CONFIG_HOME when it is absolute, else Home + ".config".
std::string AppDataFolder(const TEnvironmentReader& GetEnv, const std::string& Home);

// XDG_DOCUMENTS_DIR in the text of a user-dirs.dirs file (a shell fragment:
// XDG_DOCUMENTS_DIR="$HOME/Documents"), with "$HOME" replaced by Home.
// Empty when the text does not set it to "$HOME/..." or an absolute path.
std::string DocumentsDirFromUserDirs(std::string_view Text, const std::string& Home);

// The documents folder named in AppDataDir + "user-dirs.dirs", else
// Home + "Documents".
std::string DocumentsFolder(const std::string& AppDataDir, const std::string& Home);

// AppDataDir + "autostart".
std::string StartupFolder(const std::string& AppDataDir);

// ---- Zentivo's registry values -------------------------------------------

inline constexpr const char* DefaultMachineConfigDir = "/etc/xdg";

// The file that stands for the key "Software\ZentivoCore6" of the current
// user, and the one of the machine.
std::string UserRegistryFile(const std::string& AppDataDir);
std::string MachineRegistryFile(const std::string& MachineConfigDir);

// The value Name of such a file; empty when the file, the section or the
// value is missing or the file cannot be read.
std::string ReadRegistryValue(const std::string& RegistryFile, std::string_view Name);

// ---- Language ------------------------------------------------------------

// The two-letter code of a locale name: the letters before "_", "." or "@"
// in lower case ("de_DE.UTF-8" gives "de"); "en" for "C", "POSIX" and for
// anything that does not begin with exactly two ASCII letters.
std::string LanguageFromLocale(std::string_view Locale);

// The language of the locale environment: the first of LANGUAGE (its first
// entry), LC_ALL, LC_MESSAGES and LANG that is set and not empty; "en" when
// none is.
std::string SystemLanguageCode(const TEnvironmentReader& GetEnv);

// "LangID" of the section "Language" of a configuration file, cut to its
// first two characters; empty when there is none.
std::string ConfiguredLanguageCode(const std::string& ConfigFile);

// ---- Configuration file and language -------------------------------------

struct TConfigChoice {
  std::string ConfigFile;      // full path of Zentivo's configuration file
  std::string CommandLineLanguage;  // from the option "lang", or empty
  bool Portable = false;       // the option "portable" was given
  // The value of the last option "ini", its variables expanded; empty
  // without one.
  std::string IniValue;
};

// Zentivo's configuration file after the options "lang", "ini" and
// "portable" of Args (the parameters without the program's own name).
// IniPathValue is the user's "IniPath" registry value.
TConfigChoice LocateConfigFile(const std::vector<std::string>& Args, const std::string& IniPathValue,
                               const std::string& AppDataDir, const std::string& ProgramDir,
                               const std::string& CurrentDir, const TEnvironmentReader& GetEnv);

// ---- Settings directory and file ------------------------------------------

// The settings directory that the option "ini" chooses, ending with the
// delimiter; empty without the option. Linux has no per-run registry value,
// so an "ini" value that names a directory (it ends with the delimiter or
// an existing directory has that name) places the settings file there too,
// relative to CurrentDir; a value that names a file acts on the
// configuration file only.
std::string IniOptionSettingsDir(const std::string& IniValue, const std::string& CurrentDir);

// The settings directory, ending with the delimiter: IniPathValue when it is
// not empty, else AppPath; created with all missing parents. When that fails
// AppPath is used, and created if it can be.
std::string PrepareSettingsDirectory(const std::string& IniPathValue, const std::string& AppPath);

// Takes over a settings file from an earlier place when IniName does not
// exist yet: the file of the same name in AppPath, or else the one in the
// previous version's folder AppDataDir + "ZentApp5". Nothing is taken over
// when IniName lies in AppPath itself. A failed copy is ignored.
void CarryOverSettingsFile(const std::string& IniName, const std::string& AppPath,
                           const std::string& AppDataDir);

// ---- Version texts -------------------------------------------------------

// The first N dotted components of FileVersion without its last component
// ("1.2.3.4" with N = 2 gives "1.2").
std::string ShortVersion(std::string_view FileVersion, int N);

// "Version" (translated), a blank and ShortVersion of this build's version.
std::string VersionText(int N);

// " - 64-bit" or " - 32-bit", after the width of this build's pointers.
std::string BitnessText();

// The internal name, " (", VersionText(3), ")".
std::string ProgVersName();

// The local date of a file's last change, as yyyy-mm-dd; empty when the file
// cannot be queried.
std::string FileDateText(const std::string& FileName);

// ---- Everything at start-up -----------------------------------------------

struct TLocationInputs {
  std::vector<std::string> Args;   // command-line parameters, without the program's name
  std::string ExeFileName;         // full path of the running executable
  std::string CurrentDir;
  std::string Home;                // empty when unknown
  TEnvironmentReader GetEnv = [](const std::string&) { return std::string(); };
  std::string MachineConfigDir = DefaultMachineConfigDir;
};

// The inputs of the running process.
TLocationInputs ProcessLocationInputs(int Argc, const char* const* Argv);

struct TProgramLocations {
  std::string ProgramDir;        // the executable's directory
  std::string ProgramName;       // the executable's name without extension
  std::string AppDataDir;        // the per-user application-data folder
  std::string AppPath;           // AppDataDir + "ZentApp6", or ProgramDir
  std::string UserPath;          // the documents folder
  std::string StartupDir;        // programs started at logon
  std::string SettingsDir;       // also the default log folder
  std::string IniName;           // SettingsDir + ProgramName + ".ini"
  std::string MainAppIniName;    // Zentivo's settings file in SettingsDir
  std::string ConfigFile;        // Zentivo's configuration file
  std::string JobDir;            // default task folder: UserPath + "ZentApp"
  std::string LanguageCode;      // two letters
  bool Portable = false;
  std::string ZvPath;            // Zentivo's executable; empty when not found
  std::string ProgVersDate;      // the executable's date
};

// Works out every location, creates the settings directory and takes over
// an older settings file (not into a directory chosen by the option "ini":
// a separate run must not start with the user's own list). The translated
// texts (ProgVersName) are left to the caller, who switches the translation
// to LanguageCode first.
TProgramLocations FindProgramLocations(const TLocationInputs& In);

}  // namespace dz
