#include "taskedit/MainAppPreferences.h"

#include <charconv>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/UnicodeIniFile.h"

namespace dz {

namespace {

constexpr std::string_view MarginKeys[] = {"Left", "Top", "Right", "Bottom"};

double* MarginField(TPrinterMargins& Margins, std::size_t Index) {
  double* const Fields[] = {&Margins.Left, &Margins.Top, &Margins.Right, &Margins.Bottom};
  return Fields[Index];
}

// The shortest text that reads back as the same number, with "." whatever
// the locale.
std::string MillimetresText(double Value) {
  char Buffer[64];
  const auto [End, Error] = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
  return Error == std::errc() ? std::string(Buffer, End) : std::string("0");
}

void WriteOrDelete(TUnicodeIniFile& Ini, std::string_view Section, std::string_view Key, const std::string& Value) {
  if (Value.empty())
    Ini.DeleteKey(Section, Key);
  else
    Ini.WriteString(Section, Key, Value);
}

}  // namespace

TMainAppPreferences ReadMainAppPreferences(const std::string& IniFile, const std::string& ConfigFile) {
  TMainAppPreferences Prefs;
  const TUnicodeIniFile Ini = TUnicodeIniFile::CreateForRead(IniFile);
  Prefs.DriveId = Ini.ReadString("Config", "DriveId", "");
  Prefs.NoCompress = Ini.ReadString("Config", "NoCompress", "");
  Prefs.ProtDir = Ini.ReadString("Config", "ProtDir", "");
  std::vector<std::pair<std::string, std::string>> Printer;
  for (const std::string_view Key : MarginKeys)
    if (Ini.ValueExists("Printer", Key)) Printer.emplace_back(std::string(Key), Ini.ReadString("Printer", Key, ""));
  Prefs.Margins = PrinterMarginsFrom(Printer);

  const TUnicodeIniFile Config = TUnicodeIniFile::CreateForRead(ConfigFile);
  Prefs.LangID = Config.ReadString("Language", "LangID", "");
  Prefs.DarkMode = Config.ReadBool("Config", "DarkMode", false);
  return Prefs;
}

void WriteMainAppPreferences(const TMainAppPreferences& Prefs, const std::string& IniFile,
                             const std::string& ConfigFile) {
  TUnicodeIniFile Ini = TUnicodeIniFile::CreateForWrite(IniFile, false);
  WriteOrDelete(Ini, "Config", "DriveId", Prefs.DriveId);
  WriteOrDelete(Ini, "Config", "NoCompress", Prefs.NoCompress);
  WriteOrDelete(Ini, "Config", "ProtDir", Prefs.ProtDir);
  TPrinterMargins Margins = Prefs.Margins;
  for (std::size_t I = 0; I < std::size(MarginKeys); ++I)
    Ini.WriteString("Printer", MarginKeys[I], MillimetresText(*MarginField(Margins, I)));

  TUnicodeIniFile Config = TUnicodeIniFile::CreateForWrite(ConfigFile, false);
  WriteOrDelete(Config, "Language", "LangID", Prefs.LangID);
  Config.WriteBool("Config", "DarkMode", Prefs.DarkMode);

  // Both documents are complete before either file is touched.
  Ini.UpdateFile();
  Config.UpdateFile();
}

}  // namespace dz
