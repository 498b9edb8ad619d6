// Paths shared by everything this library draws with Cairo, and Cairo drawing into our bitmaps.
// Thread safety: a CairoCanvas belongs to one thread; the functions keep no state.
#pragma once

#include "platform/core/geometry.h"
#include "platform/image/float_image.h"
#include "platform/video/pixel_buffer.h"

#include <cairo.h>

#include <functional>

namespace qv::SceneRenderer {

// Adds a rounded rectangle (in the context's user space) as a closed sub-path. The radius is
// limited to half the shorter side; a radius of 0 or less (or NaN) gives square corners.
void roundedRectPath(cairo_t *cr, double x, double y, double w, double h, double r);

// Cairo drawing straight into a pixel buffer: ARGB32 is premultiplied B, G, R, A in memory on
// little-endian machines, the layout of our BGRA8 buffers. Cairo's y runs down from row 0.
// Lifetime: the buffer must outlive the canvas; the drawing is flushed when the canvas dies.
class CairoCanvas {
public:
    explicit CairoCanvas(platform::PixelBuffer &pb, cairo_format_t format = CAIRO_FORMAT_ARGB32);
    ~CairoCanvas();
    CairoCanvas(const CairoCanvas &) = delete;
    CairoCanvas &operator=(const CairoCanvas &) = delete;
    cairo_t *get() const { return cr_; }
    bool ok() const { return cairo_status(cr_) == CAIRO_STATUS_SUCCESS; }

private:
    cairo_surface_t *surface_;
    cairo_t *cr_;
};

// Coverage of a filled path as a one-channel working image over `region` (whole pixels, y-up
// canvas space). `addPath` adds the path in Cairo's space for the region: origin at the
// region's top-left corner, y down. Empty when the region has no pixels or memory runs out.
platform::FloatImage pathCoverage(const Rect &region,
                                  const std::function<void(cairo_t *)> &addPath);

} // namespace qv::SceneRenderer
