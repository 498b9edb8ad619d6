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

CairoCanvas::CairoCanvas(platform::PixelBuffer &pb, cairo_format_t format) {
    surface_ = cairo_image_surface_create_for_data(pb.baseAddress(), format, pb.width(),
                                                   pb.height(), int(pb.bytesPerRow()));
    cr_ = cairo_create(surface_);
}

CairoCanvas::~CairoCanvas() {
    cairo_destroy(cr_);
    cairo_surface_flush(surface_);
    cairo_surface_destroy(surface_);
}

platform::FloatImage pathCoverage(const Rect &region,
                                  const std::function<void(cairo_t *)> &addPath) {
    const int W = int(region.width), H = int(region.height);
    auto pb = platform::PixelBuffer::create(W, H, platform::PixelFormat::bgra8);
    if (!pb) return {};
    {
        CairoCanvas c(*pb);
        addPath(c.get());
        cairo_set_source_rgba(c.get(), 0, 0, 0, 1);
        cairo_fill(c.get());
        if (!c.ok()) return {};
    }
    platform::FloatImage cov =
        platform::FloatImage::makeUninitialised(int(region.x), int(region.y), W, H, 1);
    if (cov.empty()) return cov;
    for (int j = 0; j < H; ++j) {
        const std::uint8_t *s = pb->row(j);
        float *d = cov.row(j);
        for (int i = 0; i < W; ++i) d[i] = s[4 * i + 3] * (1.0f / 255);
    }
    return cov;
}

} // namespace qv::SceneRenderer
