#include "ui/window/WindowDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "desktop/Autostart.h"
#include "desktop/Process.h"
#include "settings/ProgramLocations.h"
#include "ui/dialogs/QtFileFilter.h"
#include "ui/dialogs/ShowFilterDialog.h"
#include "ui/dialogs/ShowTextDialog.h"
#include "ui/desktop/Help.h"
#include "ui/window/WindowWidgets.h"

namespace dz::ui {

namespace {

constexpr int RunWaitStepMs = 100;

}  // namespace

TQtWindowDialogs::TQtWindowDialogs(TDesktopSetup Setup)
    : FSetup(std::move(Setup)), FRunEnds(std::make_unique<QObject>()) {}

TQtWindowDialogs::~TQtWindowDialogs() {
  FRunWait.request_stop();
  if (FRunWait.joinable()) FRunWait.join();
}

QString Q(const std::string& Text) {
  QString Result = QString::fromStdString(Text);
  Result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return Result;
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

void TQtWindowDialogs::ShowFilterSettings(QWidget* Parent, const TFilterDisplay& Display) {
  TShowFilterDialog Dialog(Parent);
  Dialog.Execute(Display);
}

void TQtWindowDialogs::ShowLogFile(QWidget* Parent, const std::string& LogDir) {
  dz::ui::ShowLogFile(Parent, LogDir, FSetup.Margins);
}

void TQtWindowDialogs::OpenHelp(QWidget* Parent) { ShowHelp(Parent, WatchdogHelpTopic, FSetup.LanguageCode); }

bool TQtWindowDialogs::SetStartOnLogon(QWidget* Parent, bool On) {
  const TStartOnLogonChange Change = dz::SetStartOnLogon(On, FSetup.AutostartFile, FSetup.Executable, ProgVersName());
  if (!Change.Error.empty()) QMessageBox::critical(Parent, Q(ProgVersName()), Q(Change.Error));
  FSetup.StartsOnLogon = Change.Checked;
  return Change.Checked == On;
}

void TQtWindowDialogs::StartMainApplication(QWidget*, const std::vector<std::string>& Args,
                                            std::function<void(const TProcessOutcome&)> Ended) {
  TChildProcess Child;
  try {
    Child = StartProcess(Args, std::string());
  } catch (const EProcessError& E) {
    Ended({false, 0, E.what()});
    return;
  }
  // The previous run has delivered its end: its thread is finishing.
  if (FRunWait.joinable()) FRunWait.join();
  QObject* Receiver = FRunEnds.get();
  FRunWait = std::jthread([Child = std::move(Child), Ended = std::move(Ended), Receiver](std::stop_token Stop) mutable {
    for (;;) {
      // Short waits, so that the window's end is not held up by a program
      // that stays open; a child let go of is collected in the background.
      const int Result = WaitForProcess(Child, RunWaitStepMs, false);
      if (Result == WaitTimeout) {
        if (Stop.stop_requested()) return;
        continue;
      }
      QMetaObject::invokeMethod(
          Receiver, [Ended = std::move(Ended), Result] { Ended({true, Result, {}}); }, Qt::QueuedConnection);
      return;
    }
  });
}

void TQtWindowDialogs::OpenMainApplication(QWidget* Parent) {
  if (FSetup.ZvPath.empty()) return;  // not found: there is nothing to open
  try {
    TChildProcess Child = StartProcess({FSetup.ZvPath}, std::string());
    // Let go of it at once: its end is collected in the background.
    WaitForProcess(Child, 1, true);
  } catch (const EProcessError& E) {
    QMessageBox::warning(Parent, Q(ProgVersName()), Q(SafeFormat(Tr("Error on executing Zentivo: %s"), E.what())));
  }
}

}  // namespace dz::ui
