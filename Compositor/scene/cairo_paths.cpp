#include "Compositor/scene/cairo_paths.h"

#include <algorithm>
#include <numbers>

namespace qv::SceneRenderer {

void roundedRectPath(cairo_t *cr, double x, double y, double w, double h, double r) {
    const double pi = std::numbers::pi;
    r = std::min(r, 0.5 * std::min(w, h));
    cairo_new_sub_path(cr);
    if (!(r > 0)) { // NaN too
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    cairo_arc(cr, x + w - r, y + r, r, -pi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, pi / 2);
    cairo_arc(cr, x + r, y + h - r, r, pi / 2, pi);
    cairo_arc(cr, x + r, y + r, r, pi, 3 * pi / 2);
    cairo_close_path(cr);
}

} // namespace qv::SceneRenderer
