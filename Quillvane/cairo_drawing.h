// Small Cairo drawing helpers shared by the synthetic desktop pictures of the demos.
#pragma once

#include <cairo.h>

#include <numbers>

namespace qv::demo {

// Adds a rounded rectangle (y down) as a closed sub-path.
inline void roundedRect(cairo_t *cr, double x, double y, double w, double h, double r) {
    const double pi = std::numbers::pi;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -pi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, pi / 2);
    cairo_arc(cr, x + r, y + h - r, r, pi / 2, pi);
    cairo_arc(cr, x + r, y + r, r, pi, 3 * pi / 2);
    cairo_close_path(cr);
}

} // namespace qv::demo
