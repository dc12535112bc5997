#pragma once
// What the watchdog takes from the main application, Zentivo: its executable,
// a few values of its settings file (the default drive-folder pattern, the
// file types never to compress, the log folder, the print margins of the log
// viewer) and the dark-mode switch of its configuration file. The watchdog
// only reads these files; Zentivo writes them.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dz {

// Zentivo's executable: "ZentApp" with the system's extension for programs.
std::string MainAppExeName();

// File types that are compressed already, so that compressing them again
// costs time and saves nothing.
inline constexpr const char* BuiltInNoCompress =
    "7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,"
    "otp,ots,ott,pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx";

// Zentivo's settings file in the settings directory: its executable's name
// with the extension "ini".
std::string MainAppIniFile(const std::string& SettingsDir);

// Zentivo's executable, first hit wins: MainAppExeName in CurrentDir, then in
// ProgramDir, then the "Program" value of the machine's registry file, then
// MainAppExeName in the directories of SearchPath (the value of PATH). Only
// a regular file this process may execute counts. Empty when none is found.
std::string FindZvPath(const std::string& CurrentDir, const std::string& ProgramDir,
                       const std::string& MachineRegistryFile, std::string_view SearchPath);

// UserList, then the built-in list, as a comma list sorted and without
// duplicates, compared without regard to case. Of two spellings of one type
// the first one met stays, so a spelling of the user's wins over the built-in
// one. Empty items are dropped: an empty type would stand for every file
// without an extension.
std::string CombineNoCompress(std::string_view UserList);

// The page margins of the log viewer's printout, in millimetres: the keys
// "Left", "Top", "Right" and "Bottom" of the section "Printer".
struct TPrinterMargins {
  double Left = 20;
  double Top = 15;
  double Right = 15;
  double Bottom = 15;

  bool operator==(const TPrinterMargins&) const = default;
};
inline constexpr double MaxPrinterMargin = 100;

// The margins of a "Printer" section (key, value pairs; keys compared
// without regard to case, as INI keys are). A value is a number of
// millimetres, with "." or "," before the decimals; one that is missing, no
// number, negative or above MaxPrinterMargin keeps its default, so a
// damaged file cannot leave no room on the page.
TPrinterMargins PrinterMarginsFrom(const std::vector<std::pair<std::string, std::string>>& Section);

struct TMainAppSettings {
  bool Found = false;             // the settings file exists
  std::string DriveId;            // default drive-folder pattern
  std::string NoCompress;         // comma list; the built-in one without the file
  std::string LogDir;             // an existing directory
  // The section "Printer" as it stands, for the print settings of the log
  // viewer.
  std::vector<std::pair<std::string, std::string>> Printer;
  TPrinterMargins Margins;        // read from Printer
};

// Reads Zentivo's settings file in SettingsDir when it exists, with the
// defaults DefaultDriveId(LanguageCode) for the drive pattern and SettingsDir
// for a log folder that is not set or does not exist. A file that exists but
// cannot be read is treated as missing.
TMainAppSettings ReadMainAppSettings(const std::string& SettingsDir, std::string_view LanguageCode);

// "DarkMode" of the section "Config" of Zentivo's configuration file; false
// when the file is missing or cannot be read.
bool ConfigWantsDarkMode(const std::string& ConfigFile);

}  // namespace dz
