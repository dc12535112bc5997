#pragma once
// The main application's preferences that the watchdog reads: its settings
// file "ZentApp.ini" (section "Config": "DriveId", "NoCompress", "ProtDir";
// section "Printer": the print margins) and its configuration file
// "ZentApp.cfg" (section "Language": "LangID"; section "Config":
// "DarkMode"). The paths are those the watchdog reads them from:
// TProgramLocations::MainAppIniName and ::ConfigFile.
//
// Writing changes only these keys; everything else in the files stays.

#include <string>

#include "settings/MainAppSettings.h"

namespace dz {

struct TMainAppPreferences {
  // Empty values leave the key out, so the watchdog's defaults apply: the
  // drive pattern of the language, the built-in list of compressed types,
  // the settings directory for log files.
  std::string DriveId;
  std::string NoCompress;  // comma list of extensions
  std::string ProtDir;     // folder of the log files
  TPrinterMargins Margins;
  std::string LangID;      // two-letter language code; empty: the desktop's
  bool DarkMode = false;   // follow the desktop's dark preference

  friend bool operator==(const TMainAppPreferences&, const TMainAppPreferences&) = default;
};

// The values as they stand in the files (missing files or keys give the
// empty values and default margins). Raises EFOpenError when a file exists
// but cannot be read.
TMainAppPreferences ReadMainAppPreferences(const std::string& IniFile, const std::string& ConfigFile);

// Writes both files, each replaced only once complete. Raises EStreamError
// (EWriteError when a file cannot be written).
void WriteMainAppPreferences(const TMainAppPreferences& Prefs, const std::string& IniFile,
                             const std::string& ConfigFile);

}  // namespace dz
