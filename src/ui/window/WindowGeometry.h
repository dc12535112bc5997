#pragma once
// Where the window and the status dialog go on the screens: pure functions
// of rectangles, so that they can be tested without screens.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace dz::ui {

// The window at Frame (its frame's top left corner and its size) stays
// where it is when enough of its title bar lies on one of the screens'
// available areas to grab it; otherwise (a monitor that is gone, a changed
// arrangement) it moves onto the primary screen, centred, and a window
// larger than that screen is made to fit it. The result is the new frame.
QRect FitOntoScreens(const QRect& Frame, const QList<QRect>& Available, const QRect& Primary);

// The top left corner of a dialog of size Dialog near the taskbar: the
// taskbar's edge is where the screen's available area (Available) falls
// short of the whole screen (Screen). Taskbar at the left: the dialog's
// bottom left corner at the area's bottom left moved Margin right and up;
// at the top: its top right corner at the area's top right moved Margin
// left and down; otherwise (right, bottom, none) its bottom right corner at
// the area's bottom right moved Margin left and up.
QPoint StatusDialogPosition(const QRect& Screen, const QRect& Available, const QSize& Dialog, int Margin = 50);

}  // namespace dz::ui
