#include "ui/dialogs/QtFileFilter.h"

#include <QStringList>

namespace dz::ui {

QString QtFileFilter(std::string_view Filter) {
  const QStringList Parts = QString::fromUtf8(Filter.data(), static_cast<qsizetype>(Filter.size())).split(u'|');
  QStringList Entries;
  for (qsizetype I = 0; I < Parts.size(); I += 2) {
    const QString Name = Parts[I].trimmed();
    QString Patterns = I + 1 < Parts.size() ? Parts[I + 1].trimmed() : QString();
    Patterns.replace(u';', u' ');
    Patterns = Patterns.simplified();
    if (Patterns.isEmpty()) Patterns = QStringLiteral("*");
    if (Name.isEmpty() && I + 1 >= Parts.size()) continue;
    Entries << QStringLiteral("%1 (%2)").arg(Name.isEmpty() ? Patterns : Name, Patterns);
  }
  return Entries.join(QStringLiteral(";;"));
}

}  // namespace dz::ui
