#include "ui/taskedit/TaskEditDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include <exception>

#include "base/Translate.h"
#include "taskedit/MainAppPreferences.h"
#include "taskedit/TaskDocument.h"
#include "ui/desktop/Help.h"
#include "ui/dialogs/QtText.h"
#include "ui/taskedit/PreferencesDialog.h"
#include "ui/taskedit/TaskEditorDialog.h"

namespace dz::ui {

void TQtTaskEditDialogs::Message(QWidget* Parent, const QString& Text) {
  QMessageBox::information(Parent, QStringLiteral("ZentApp"), Text);
}

bool TQtTaskEditDialogs::Question(QWidget* Parent, const QString& Text) {
  return QMessageBox::question(Parent, QStringLiteral("ZentApp"), Text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> TQtTaskEditDialogs::ChooseFolder(QWidget* Parent, const QString& Title,
                                                            const std::string& Start) {
  const QString Dir = QFileDialog::getExistingDirectory(Parent, Title, Qs(Start));
  if (Dir.isEmpty()) return std::nullopt;
  return Std(Dir);
}

std::optional<std::string> TQtTaskEditDialogs::AskTaskName(QWidget* Parent, const QString& Title,
                                                           const QString& Default) {
  bool Ok = false;
  const QString Name =
      QInputDialog::getText(Parent, Title, Qs(Tr("Name of the task file:")), QLineEdit::Normal, Default, &Ok);
  if (!Ok || Name.trimmed().isEmpty()) return std::nullopt;
  return Std(Name);
}

bool TQtTaskEditDialogs::EditTask(QWidget* Parent, const std::string& FileName, const TTaskDocument& Doc) {
  TTaskEditorDialog Editor(*this, FileName, Doc, Parent);
  return Editor.exec() == QDialog::Accepted;
}

bool TQtTaskEditDialogs::EditPreferences(QWidget* Parent) {
  TMainAppPreferences Prefs;
  try {
    Prefs = ReadMainAppPreferences(FSetup.MainAppIniName, FSetup.ConfigFile);
  } catch (const std::exception& E) {
    // Writing defaults over a file that cannot be read would lose it.
    Message(Parent, Qs(E.what()));
    return false;
  }
  TPreferencesDialog Dialog(*this, Prefs, FSetup.MainAppIniName, FSetup.ConfigFile, Parent);
  return Dialog.exec() == QDialog::Accepted;
}

void TQtTaskEditDialogs::OpenHelp(QWidget* Parent) { ShowHelp(Parent, TaskEditHelpTopic, FSetup.LanguageCode); }

}  // namespace dz::ui
