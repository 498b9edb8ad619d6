// Paints the picture wallpapers shipped in Compositor/assets/Wallpapers: layered landscapes
// drawn with Cairo from fixed seeds, written as JPEG. Run scripts/make-wallpaper-pictures.sh;
// the output is the same on every run.
#include <cairo.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {

constexpr int W = 3840, H = 2160;
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};
Rgb hex(unsigned v) {
    return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0};
}
Rgb mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A small deterministic generator, so the pictures never change between runs.
struct Random {
    std::uint64_t s;
    double next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return double((s >> 33) & 0xFFFFFF) / double(0xFFFFFF);
    }
};

// A ridge line: a sum of a few sines with random phases; y in pixels from the top.
std::function<double(double)> ridge(Random &rnd, double base, double amp, double scale) {
    std::vector<std::array<double, 3>> waves;
    double a = amp;
    double f = scale;
    for (int k = 0; k < 5; ++k) {
        waves.push_back({a, f, rnd.next() * 2 * kPi});
        a *= 0.48;
        f *= 2.1;
    }
    return [=](double x) {
        double y = base;
        for (const auto &w : waves) y += w[0] * std::sin(x / W * w[1] * 2 * kPi + w[2]);
        return y;
    };
}

void fillBelow(cairo_t *cr, const std::function<double(double)> &line, Rgb top, Rgb bottom,
               double yTop) {
    cairo_new_path(cr);
    cairo_move_to(cr, 0, H);
    for (int x = 0; x <= W; x += 8) cairo_line_to(cr, x, line(x));
    cairo_line_to(cr, W, H);
    cairo_close_path(cr);
    cairo_pattern_t *p = cairo_pattern_create_linear(0, yTop, 0, H);
    cairo_pattern_add_color_stop_rgb(p, 0, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(p, 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void sky(cairo_t *cr, std::initializer_list<std::pair<double, Rgb>> stops) {
    cairo_pattern_t *p = cairo_pattern_create_linear(0, 0, 0, H);
    for (const auto &[t, c] : stops) cairo_pattern_add_color_stop_rgb(p, t, c.r, c.g, c.b);
    cairo_set_source(cr, p);
    cairo_paint(cr);
    cairo_pattern_destroy(p);
}

void sun(cairo_t *cr, double x, double y, double r, Rgb core, Rgb glow) {
    cairo_pattern_t *g = cairo_pattern_create_radial(x, y, r * 0.9, x, y, r * 5);
    cairo_pattern_add_color_stop_rgba(g, 0, glow.r, glow.g, glow.b, 0.55);
    cairo_pattern_add_color_stop_rgba(g, 1, glow.r, glow.g, glow.b, 0);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_set_source_rgb(cr, core.r, core.g, core.b);
    cairo_fill(cr);
}

void dunes(cairo_t *cr) {
    Random rnd{0x64756e6573ull};
    sky(cr, {{0, hex(0x3B2F63)}, {0.45, hex(0xC86B85)}, {0.72, hex(0xF6B17A)}});
    sun(cr, W * 0.68, H * 0.5, H * 0.07, hex(0xFFE3B0), hex(0xFFC38A));
    const Rgb near = hex(0x6E3B2A), far = hex(0xE29A6B);
    for (int k = 0; k < 6; ++k) {
        const double t = k / 5.0;
        const double base = H * (0.56 + 0.085 * k);
        const auto line = ridge(rnd, base, H * (0.035 + 0.012 * k), 1.2 + 0.25 * k);
        const Rgb c = mix(far, near, t);
        fillBelow(cr, line, mix(c, hex(0xFFD2A0), 0.25 * (1 - t)), mix(c, hex(0x2A1620), 0.35),
                  base - H * 0.08);
    }
}

void peaks(cairo_t *cr) {
    Random rnd{0x7065616b73ull};
    sky(cr, {{0, hex(0x0B1D3A)}, {0.5, hex(0x3D6D9E)}, {0.78, hex(0xB9D3E6)}});
    // Mist near the horizon.
    const Rgb haze = hex(0xC9DDEC), deep = hex(0x0E2035);
    for (int k = 0; k < 6; ++k) {
        const double t = k / 5.0;
        const double base = H * (0.45 + 0.09 * k);
        // Sharper ridges: the absolute value of a sine sum gives peaks.
        const auto soft = ridge(rnd, 0, H * (0.09 - 0.008 * k), 1.5 + 0.3 * k);
        const auto line = [=](double x) { return base - std::abs(soft(x)); };
        const Rgb c = mix(mix(haze, hex(0x4F7CA8), 0.3), deep, t);
        fillBelow(cr, line, c, mix(c, haze, 0.35 * (1 - t)), base - H * 0.1);
    }
}

void shore(cairo_t *cr) {
    Random rnd{0x73686f7265ull};
    sky(cr, {{0, hex(0x0F3B47)}, {0.55, hex(0x2E8C8A)}, {0.8, hex(0xA7E0C8)}});
    sun(cr, W * 0.3, H * 0.42, H * 0.055, hex(0xFFF7D6), hex(0xE9FFD9));
    const Rgb near = hex(0x062A2E), far = hex(0x5FB3A1);
    for (int k = 0; k < 5; ++k) {
        const double t = k / 4.0;
        const double base = H * (0.58 + 0.1 * k);
        const auto line = ridge(rnd, base, H * 0.02 * (1 + k * 0.5), 0.8 + 0.4 * k);
        const Rgb c = mix(far, near, t);
        fillBelow(cr, line, c, mix(c, hex(0x021A1C), 0.4), base - H * 0.05);
    }
}

bool writeJpeg(const std::string &path, cairo_surface_t *s) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = W, c.image_height = H, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 88, TRUE);
    jpeg_start_compress(&c, TRUE);
    cairo_surface_flush(s);
    const unsigned char *data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    std::vector<unsigned char> row(W * 3);
    for (int y = 0; y < H; ++y) {
        const unsigned char *p = data + std::size_t(y) * stride;
        for (int x = 0; x < W; ++x) {
            row[3 * x] = p[4 * x + 2], row[3 * x + 1] = p[4 * x + 1], row[3 * x + 2] = p[4 * x];
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: paint_wallpapers <output-folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    struct Picture {
        const char *name;
        void (*paint)(cairo_t *);
    };
    for (const Picture &p :
         {Picture{"dunes", dunes}, Picture{"peaks", peaks}, Picture{"shore", shore}}) {
        cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, W, H);
        cairo_t *cr = cairo_create(s);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
        p.paint(cr);
        cairo_destroy(cr);
        const std::string path = folder + "/" + p.name + ".jpg";
        const bool ok = writeJpeg(path, s);
        cairo_surface_destroy(s);
        if (!ok) {
            std::fprintf(stderr, "paint_wallpapers: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
