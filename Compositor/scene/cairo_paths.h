// Paths shared by everything this library draws with Cairo.
#pragma once

#include <cairo.h>

namespace qv::SceneRenderer {

// Adds a rounded rectangle (in the context's user space) as a closed sub-path. The radius is
// limited to half the shorter side; a radius of 0 or less (or NaN) gives square corners.
void roundedRectPath(cairo_t *cr, double x, double y, double w, double h, double r);

} // namespace qv::SceneRenderer
