#include "ui/desktop/Help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "base/Translate.h"

namespace dz::ui {

bool OpenHelpTopic(const std::string& Topic, const std::string& LanguageCode) {
  const std::string ProgramDir = QCoreApplication::applicationDirPath().toStdString();
  const std::string Page = HelpFileName(HelpFolder(ProgramDir), Topic, LanguageCode);
  if (Page.empty()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(Page)));
}

void ShowHelp(QWidget* Parent, const std::string& Topic, const std::string& LanguageCode) {
  if (OpenHelpTopic(Topic, LanguageCode)) return;
  auto* Box = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(),
                              QString::fromStdString(Tr("Help is not available on this system!")), QMessageBox::Ok,
                              Parent);
  Box->setAttribute(Qt::WA_DeleteOnClose);
  Box->open();
}

}  // namespace dz::ui
