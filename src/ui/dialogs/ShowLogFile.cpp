#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "base/SafeFormat.h"
#include "ui/dialogs/QtFileFilter.h"
#include "ui/dialogs/QtText.h"
#include "ui/dialogs/ShowTextDialog.h"

namespace dz::ui {

TShowLogResult ShowLogFile(QWidget* Parent, const std::string& LogDir, const TPrinterMargins& Margins,
                           const TLogFileHooks& Hooks) {
  const QString Dir = Qs(LogDir);
  const auto Message = [&](const QString& Text) {
    if (Hooks.Message)
      Hooks.Message(Parent, Text);
    else
      QMessageBox::information(Parent, Qs(LogViewerOptions(Margins).Title), Text);
  };

  // The newest log first: that of today, when there is one. Without any
  // log here the dialog still opens in this folder: older logs may lie
  // elsewhere (another log folder, a copy).
  const QFileInfoList Logs = QDir(Dir).entryInfoList({QStringLiteral("DeZedodiru*.log")}, QDir::Files | QDir::Readable,
                                                     QDir::Time);
  const QString Caption = Qs(Tr("Select log file"));
  const QString Filter = QtFileFilter(SafeFormat(Tr("Watchdog logs|*.%s|all|*.*"), "log"));
  const QString Start = Logs.isEmpty() ? QDir(Dir).absolutePath() : Logs.constFirst().absoluteFilePath();
  QString Chosen;
  if (Hooks.ChooseFile) {
    Chosen = Hooks.ChooseFile(Parent, Caption, Start, Filter);
  } else {
    QFileDialog Dialog(Parent, Caption, Dir, Filter);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    Dialog.setDefaultSuffix(QStringLiteral("log"));
    if (!Logs.isEmpty()) Dialog.selectFile(Start);
    if (Dialog.exec() == QDialog::Accepted && !Dialog.selectedFiles().isEmpty())
      Chosen = Dialog.selectedFiles().constFirst();
  }
  if (Chosen.isEmpty()) return TShowLogResult::slCancelled;

  TShowTextDialog Viewer(LogViewerOptions(Margins), Parent);
  if (!Viewer.LoadFile(Chosen)) {
    Message(Viewer.LastError());
    return TShowLogResult::slUnreadable;
  }
  if (Hooks.Run)
    Hooks.Run(Viewer);
  else
    Viewer.exec();
  return TShowLogResult::slShown;
}

}  // namespace dz::ui
