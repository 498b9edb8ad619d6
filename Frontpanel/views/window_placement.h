// Keeps a window on a screen: after a monitor was unplugged or the resolution changed, a window
// may sit wholly or partly outside every screen; it is moved (and shrunk if needed) into the
// available area of the screen it overlaps most, or the primary screen.
// Thread safety: GUI thread only.
#pragma once

#include <QList>
#include <QRect>

class QWidget;

namespace qv::ui::WindowPlacement {

// Where a window with frame `window` belongs, given the screens' available areas (the first is
// the primary). Unchanged when it lies inside one of them.
QRect placedOnScreen(const QRect &window, const QList<QRect> &screens);

// Moves the application's main window onto a screen; does nothing while it is hidden.
void ensureOnScreen(QWidget *window);

} // namespace qv::ui::WindowPlacement
