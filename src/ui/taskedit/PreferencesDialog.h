#pragma once
// The preferences the watchdog takes from the main application: the drive
// folder pattern, the types never compressed, the log folder and the print
// margins ("ZentApp.ini"), the language and whether to follow the desktop's
// dark preference ("ZentApp.cfg").

#include <QDialog>

#include <string>

#include "taskedit/MainAppPreferences.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;

namespace dz::ui {

class TTaskEditDialogs;

class TPreferencesDialog : public QDialog {
  Q_OBJECT
public:
  TPreferencesDialog(TTaskEditDialogs& Dialogs, const TMainAppPreferences& Prefs, std::string IniFile,
                     std::string ConfigFile, QWidget* Parent = nullptr);

  // The preferences as the fields show them.
  TMainAppPreferences Preferences() const;
  // Writes both files and closes with Accepted; false (after telling the
  // user) when they cannot be written.
  bool Save();

private:
  TTaskEditDialogs& FDialogs;
  std::string FIniFile;
  std::string FConfigFile;
  QLineEdit* edDriveId;
  QLineEdit* edNoCompress;
  QLineEdit* edProtDir;
  QDoubleSpinBox* FMargins[4];
  QComboBox* cbLanguage;
  QCheckBox* cxDarkMode;
};

}  // namespace dz::ui
