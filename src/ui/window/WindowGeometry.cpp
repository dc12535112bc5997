#include "ui/window/WindowGeometry.h"

#include <algorithm>

namespace dz::ui {

QRect FitOntoScreens(const QRect& Frame, const QList<QRect>& Available, const QRect& Primary) {
  // The strip a user grabs to move the window: the title bar's height, and
  // at least this much of it visible.
  constexpr int TitleHeight = 24;
  constexpr int Grab = 48;
  const QRect Title(Frame.left(), Frame.top(), Frame.width(), TitleHeight);
  for (const QRect& Area : Available) {
    const QRect Seen = Title.intersected(Area);
    if (Seen.width() >= std::min(Grab, Frame.width()) && Seen.height() >= TitleHeight / 2) return Frame;
  }
  const QSize Size(std::min(Frame.width(), Primary.width()), std::min(Frame.height(), Primary.height()));
  QRect Moved(QPoint(0, 0), Size);
  Moved.moveCenter(Primary.center());
  return Moved;
}

QPoint StatusDialogPosition(const QRect& Screen, const QRect& Available, const QSize& Dialog, int Margin) {
  if (Available.left() > Screen.left())
    return {Available.left() + Margin, Available.bottom() + 1 - Margin - Dialog.height()};
  if (Available.top() > Screen.top())
    return {Available.right() + 1 - Margin - Dialog.width(), Available.top() + Margin};
  return {Available.right() + 1 - Margin - Dialog.width(), Available.bottom() + 1 - Margin - Dialog.height()};
}

}  // namespace dz::ui
