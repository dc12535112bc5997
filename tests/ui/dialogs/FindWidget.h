#pragma once
// The dialogs' widgets are found by objectName; a missing one ends the test
// program at once, naming it, rather than crashing on a null pointer.

#include <QString>
#include <QWidget>

namespace dz::ui::test {

template <class T>
T* Child(const QWidget& Parent, const char* Name) {
  T* Widget = Parent.findChild<T*>(QString::fromLatin1(Name));
  if (!Widget) qFatal("no widget %s", Name);
  return Widget;
}

}  // namespace dz::ui::test
