#include "ui/taskedit/PreferencesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <utility>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "ui/dialogs/QtText.h"
#include "ui/taskedit/TaskEditDialogs.h"

namespace dz::ui {

TPreferencesDialog::TPreferencesDialog(TTaskEditDialogs& Dialogs, const TMainAppPreferences& Prefs,
                                       std::string IniFile, std::string ConfigFile, QWidget* Parent)
    : QDialog(Parent), FDialogs(Dialogs), FIniFile(std::move(IniFile)), FConfigFile(std::move(ConfigFile)) {
  setObjectName(QStringLiteral("PreferencesDialog"));
  setWindowTitle(Qs(Tr("Preferences")));
  auto* Layout = new QVBoxLayout(this);

  auto* Backup = Named(new QGroupBox(Qs(Tr("Backups"))), "gbBackup");
  auto* BackupForm = new QFormLayout(Backup);
  edDriveId = Named(new QLineEdit(Qs(Prefs.DriveId)), "edDriveId");
  edDriveId->setPlaceholderText(Qs(Tr("the language's pattern")));
  BackupForm->addRow(Qs(Tr("Drive folder name (? for the drive):")), edDriveId);
  edNoCompress = Named(new QLineEdit(Qs(Prefs.NoCompress)), "edNoCompress");
  edNoCompress->setPlaceholderText(Qs(Tr("the built-in list of compressed types")));
  BackupForm->addRow(Qs(Tr("Never compress these types:")), edNoCompress);
  auto* ProtRow = new QWidget;
  auto* ProtLayout = new QHBoxLayout(ProtRow);
  ProtLayout->setContentsMargins(0, 0, 0, 0);
  edProtDir = Named(new QLineEdit(Qs(Prefs.ProtDir)), "edProtDir");
  edProtDir->setPlaceholderText(Qs(Tr("the settings folder")));
  auto* btProtDir = Named(new QPushButton(QStringLiteral("...")), "btProtDir");
  btProtDir->setToolTip(Qs(Tr("Choose a folder")));
  btProtDir->setFixedWidth(32);
  ProtLayout->addWidget(edProtDir, 1);
  ProtLayout->addWidget(btProtDir);
  BackupForm->addRow(Qs(Tr("Folder of the log files:")), ProtRow);
  connect(btProtDir, &QPushButton::clicked, this, [this] {
    if (const auto Dir = FDialogs.ChooseFolder(this, Qs(Tr("Folder of the log files")), Std(edProtDir->text())))
      edProtDir->setText(Qs(*Dir));
  });
  Layout->addWidget(Backup);

  auto* Printer = Named(new QGroupBox(Qs(Tr("Print margins (mm)"))), "gbPrinter");
  auto* PrinterForm = new QFormLayout(Printer);
  const char* Names[4] = {"sbMarginLeft", "sbMarginTop", "sbMarginRight", "sbMarginBottom"};
  const std::string Labels[4] = {Tr("Left:"), Tr("Top:"), Tr("Right:"), Tr("Bottom:")};
  const double Values[4] = {Prefs.Margins.Left, Prefs.Margins.Top, Prefs.Margins.Right, Prefs.Margins.Bottom};
  for (int I = 0; I < 4; ++I) {
    FMargins[I] = Named(new QDoubleSpinBox, Names[I]);
    FMargins[I]->setRange(0, MaxPrinterMargin);
    FMargins[I]->setDecimals(1);
    FMargins[I]->setValue(Values[I]);
    PrinterForm->addRow(Qs(Labels[I]), FMargins[I]);
  }
  Layout->addWidget(Printer);

  auto* Look = Named(new QGroupBox(Qs(Tr("Language and look"))), "gbLook");
  auto* LookForm = new QFormLayout(Look);
  cbLanguage = Named(new QComboBox, "cbLanguage");
  cbLanguage->addItem(Qs(Tr("the desktop's language")), QString());
  cbLanguage->addItem(QStringLiteral("English"), QStringLiteral("en"));
  cbLanguage->addItem(QStringLiteral("Deutsch"), QStringLiteral("de"));
  const int Found = cbLanguage->findData(Qs(Prefs.LangID));
  if (Found >= 0) {
    cbLanguage->setCurrentIndex(Found);
  } else {
    // A language of another installation is kept as it is.
    cbLanguage->addItem(Qs(Prefs.LangID), Qs(Prefs.LangID));
    cbLanguage->setCurrentIndex(cbLanguage->count() - 1);
  }
  LookForm->addRow(Qs(Tr("Language:")), cbLanguage);
  cxDarkMode = Named(new QCheckBox(Qs(Tr("Dark when the desktop is dark"))), "cxDarkMode");
  cxDarkMode->setChecked(Prefs.DarkMode);
  LookForm->addRow(QString(), cxDarkMode);
  Layout->addWidget(Look);

  auto* Buttons = Named(new QDialogButtonBox, "bbButtons");
  auto* Save = Named(Buttons->addButton(Qs(Tr("Save")), QDialogButtonBox::AcceptRole), "btSave");
  auto* Cancel = Named(Buttons->addButton(Qs(Tr("Cancel")), QDialogButtonBox::RejectRole), "btCancel");
  Save->setDefault(true);
  connect(Save, &QPushButton::clicked, this, [this] { this->Save(); });
  connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
  Layout->addWidget(Buttons);
}

TMainAppPreferences TPreferencesDialog::Preferences() const {
  TMainAppPreferences Prefs;
  Prefs.DriveId = Std(edDriveId->text().trimmed());
  Prefs.NoCompress = Std(edNoCompress->text().trimmed());
  Prefs.ProtDir = Std(edProtDir->text().trimmed());
  Prefs.Margins = {FMargins[0]->value(), FMargins[1]->value(), FMargins[2]->value(), FMargins[3]->value()};
  Prefs.LangID = Std(cbLanguage->currentData().toString());
  Prefs.DarkMode = cxDarkMode->isChecked();
  return Prefs;
}

bool TPreferencesDialog::Save() {
  try {
    WriteMainAppPreferences(Preferences(), FIniFile, FConfigFile);
  } catch (const std::exception& E) {
    FDialogs.Message(this, Qs(SafeFormat(Tr("The preferences cannot be saved: %s"), E.what())));
    return false;
  }
  accept();
  return true;
}

}  // namespace dz::ui
