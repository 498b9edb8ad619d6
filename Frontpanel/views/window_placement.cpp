#include "Frontpanel/views/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace qv::ui::WindowPlacement {

QRect placedOnScreen(const QRect &window, const QList<QRect> &screens) {
    if (screens.isEmpty()) return window;
    const QRect *best = &screens.front();
    qint64 bestArea = -1;
    for (const QRect &s : screens) {
        if (s.contains(window)) return window;
        const QRect overlap = s.intersected(window);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = &s;
        }
    }
    const QRect &s = *best;
    const int w = std::min(window.width(), s.width()), h = std::min(window.height(), s.height());
    const int x = std::clamp(window.x(), s.left(), s.left() + s.width() - w);
    const int y = std::clamp(window.y(), s.top(), s.top() + s.height() - h);
    return {x, y, w, h};
}

void ensureOnScreen(QWidget *window) {
    if (!window || !window->isVisible()) return;
    QList<QRect> screens;
    if (QScreen *primary = QGuiApplication::primaryScreen())
        screens.push_back(primary->availableGeometry());
    for (QScreen *screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            screens.push_back(screen->availableGeometry());
    const QRect frame = window->frameGeometry();
    const QRect placed = placedOnScreen(frame, screens);
    if (placed == frame) return;
    const QSize decoration = frame.size() - window->geometry().size();
    window->resize(placed.size() - decoration);
    window->move(placed.topLeft());
}

} // namespace qv::ui::WindowPlacement
