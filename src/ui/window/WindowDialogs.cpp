#include "ui/window/WindowDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "settings/ProgramLocations.h"
#include "ui/dialogs/QtFileFilter.h"
#include "ui/dialogs/ShowFilterDialog.h"
#include "ui/dialogs/ShowTextDialog.h"
#include "ui/window/WindowWidgets.h"

namespace dz::ui {

QString Q(const std::string& Text) {
  QString Result = QString::fromStdString(Text);
  Result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return Result;
}

void ShowNotAvailableYet(QWidget* Parent, const QString& What) {
  QMessageBox::information(Parent, Q(ProgVersName()), What + QStringLiteral(": ") + Q(Tr("not available yet")));
}

std::optional<std::string> TQtWindowDialogs::ChooseTaskFile(QWidget* Parent, const std::string& StartDir) {
  QFileDialog Dialog(Parent, Q(Tr("Select a backup task with the settings to be used")), QString::fromStdString(StartDir),
                     QtFileFilter(SafeFormat(Tr("Backup tasks|*.%s|all|*.*"), "buj")));
  Dialog.setObjectName(QStringLiteral("dlgOpenTask"));
  Dialog.setFileMode(QFileDialog::ExistingFile);
  Dialog.setDefaultSuffix(QStringLiteral("buj"));
  if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return std::nullopt;
  return Dialog.selectedFiles().front().toStdString();
}

std::optional<int> TQtWindowDialogs::SelectListItem(QWidget* Parent, QPoint At, const QString& Title,
                                                    const QString& Description, const QStringList& Items) {
  TSelectListItemDialog Dialog(Parent, Title, Description, Items);
  Dialog.move(At);
  if (Dialog.exec() != QDialog::Accepted || Dialog.Selected() < 0) return std::nullopt;
  return Dialog.Selected();
}

void TQtWindowDialogs::Message(QWidget* Parent, const QString& Text) {
  QMessageBox::information(Parent, Q(ProgVersName()), Text);
}

bool TQtWindowDialogs::Question(QWidget* Parent, const QString& Text) {
  QMessageBox Box(QMessageBox::Question, Q(ProgVersName()), Text, QMessageBox::NoButton, Parent);
  QPushButton* Yes = Box.addButton(Q(Tr("Yes")), QMessageBox::YesRole);
  Box.addButton(Q(Tr("No")), QMessageBox::NoRole);
  Box.exec();
  return Box.clickedButton() == Yes;
}

void TQtWindowDialogs::Information(QWidget* Parent, QPoint At, const QString& Title, const QString& Text) {
  QMessageBox Box(QMessageBox::Information, Title, Text, QMessageBox::Ok, Parent);
  Box.move(At);
  Box.exec();
}

void TQtWindowDialogs::ShowFilterSettings(QWidget* Parent, const TMonFilter& Filter) {
  TShowFilterDialog Dialog(Parent);
  Dialog.Execute(Filter);
}

void TQtWindowDialogs::ShowLogFile(QWidget* Parent, const std::string& LogDir) {
  dz::ui::ShowLogFile(Parent, LogDir, FMargins);
}

void TQtWindowDialogs::OpenHelp(QWidget* Parent) { ShowNotAvailableYet(Parent, Q(Tr("Help"))); }

bool TQtWindowDialogs::SetStartOnLogon(QWidget* Parent, bool) {
  ShowNotAvailableYet(Parent, Q(Tr("Start on logon")));
  return false;
}

TProcessOutcome TQtWindowDialogs::RunMainApplication(QWidget* Parent, const std::vector<std::string>&) {
  ShowNotAvailableYet(Parent, Q(Tr("Edit backup task")));
  return {};
}

void TQtWindowDialogs::OpenMainApplication(QWidget* Parent) { ShowNotAvailableYet(Parent, QStringLiteral("Zentivo")); }

}  // namespace dz::ui
