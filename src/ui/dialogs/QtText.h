#pragma once
// Small helpers of the dialogs' code: texts cross from the core's UTF-8 to
// Qt here. Translated texts are written Qs(Tr("...")), so that xgettext
// finds them by the keyword Tr.

#include <QString>

#include <string>

#include "base/Translate.h"

namespace dz::ui {

inline QString Qs(const std::string& Text) { return QString::fromStdString(Text); }
inline std::string Std(const QString& Text) { return Text.toStdString(); }

// Widget with its objectName set, by which tests and style sheets find it.
template <class T>
T* Named(T* Widget, const char* Name) {
  Widget->setObjectName(QString::fromLatin1(Name));
  return Widget;
}

}  // namespace dz::ui
