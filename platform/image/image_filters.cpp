// Blur, distortions and the colour map.
#include "platform/image/cv_bridge.h"
#include "platform/image/image_ops.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace qv::platform {

using namespace detail;

namespace {

// Widths of three box filters whose succession approximates a Gaussian of standard deviation
// sigma (each odd, differing by at most 2).
std::array<int, 3> boxWidths(double sigma) {
    constexpr int n = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int wl = int(std::floor(ideal));
    if (wl % 2 == 0) --wl;
    wl = std::max(wl, 1);
    const int wu = wl + 2;
    const double mIdeal =
        (12 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4);
    const int m = int(std::lround(mIdeal));
    std::array<int, 3> w{};
    for (int i = 0; i < n; ++i) w[i] = i < m ? wl : wu;
    return w;
}

// Blurs `m` in place: three running-sum box filters, so the cost per pixel is the same for
// every radius.
void boxGauss(cv::Mat &m, double sigma, int border) {
    if (!(sigma >= 0.3)) return;
    cv::Mat tmp;
    for (int w : boxWidths(sigma)) {
        if (w <= 1) continue;
        cv::blur(m, tmp, cv::Size(w, w), cv::Point(-1, -1), border);
        std::swap(m, tmp);
    }
}

// Remaps the image through `sourceOf` (y-up destination point to y-up source point), clamping
// at the edges.
template <class F> FloatImage distort(const FloatImage &image, F sourceOf) {
    if (image.empty()) return {};
    FloatImage out = FloatImage::makeUninitialised(image.x(), image.y(), image.width(),
                                                   image.height(), image.channels());
    if (out.empty()) return out;
    const int W = image.width(), H = image.height();
    cv::Mat mx(H, W, CV_32FC1), my(H, W, CV_32FC1);
    const double x0 = image.x(), top = double(image.y()) + H;
    forRows(H, [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            float *px = mx.ptr<float>(j), *py = my.ptr<float>(j);
            const double y = top - j - 0.5;
            for (int i = 0; i < W; ++i) {
                const Point q = sourceOf(Point{x0 + i + 0.5, y});
                px[i] = float(q.x - x0 - 0.5);
                py[i] = float(top - q.y - 0.5);
            }
        }
    });
    cv::Mat dst = mat(out);
    cv::remap(mat(image), dst, mx, my, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}

} // namespace

FloatImage gaussianBlur(const FloatImage &image, double radius, EdgeMode edges) {
    if (image.empty()) return {};
    if (!(radius >= 0.5) || !std::isfinite(radius)) return image.clone();
    const double sigma = std::min(radius, 1e5);
    const bool clamp = edges == EdgeMode::clamp;
    const int pad = clamp ? 0 : int(std::ceil(3 * sigma)) + 1;
    const int border = clamp ? cv::BORDER_REPLICATE : cv::BORDER_CONSTANT;

    FloatImage out =
        FloatImage::makeUninitialised(image.x() - pad, image.y() - pad, image.width() + 2 * pad,
                                      image.height() + 2 * pad, image.channels());
    if (out.empty()) return out;
    cv::Mat dst = mat(out);
    cv::Mat work;
    if (pad)
        cv::copyMakeBorder(mat(image), work, pad, pad, pad, pad, cv::BORDER_CONSTANT,
                           cv::Scalar::all(0));
    else
        work = mat(image).clone();

    // Wide blurs run on a copy averaged down by f: averaging and the bilinear enlargement
    // afterwards add a spread of about f²/4 (in variance), which the small blur leaves out.
    const int f = std::max(1, int(sigma / 8));
    if (f == 1) {
        boxGauss(work, sigma, border);
        work.copyTo(dst);
        return out;
    }
    const int sw = std::max(1, int(std::lround(double(work.cols) / f)));
    const int sh = std::max(1, int(std::lround(double(work.rows) / f)));
    cv::Mat small;
    cv::resize(work, small, cv::Size(sw, sh), 0, 0, cv::INTER_AREA);
    const double scale = double(work.cols) / sw;
    boxGauss(small, std::sqrt(std::max(sigma * sigma - scale * scale / 4, 0.25)) / scale, border);
    cv::resize(small, dst, dst.size(), 0, 0, cv::INTER_LINEAR);
    return out;
}

Distortions &Distortions::bump(Point centre, double radius, double scale) {
    if (radius > 0 && std::isfinite(radius) && std::isfinite(scale) && scale != 0)
        steps_.push_back({false, centre, radius, scale});
    return *this;
}

Distortions &Distortions::vortex(Point centre, double radius, double angle) {
    if (radius > 0 && std::isfinite(radius) && std::isfinite(angle) && angle != 0)
        steps_.push_back({true, centre, radius, angle});
    return *this;
}

FloatImage Distortions::applyTo(const FloatImage &image) const {
    if (steps_.empty()) return image.clone();
    // Edge pixel centres: where clamped sampling stops.
    const double x0 = image.x() + 0.5, x1 = image.x() + image.width() - 0.5;
    const double y0 = image.y() + 0.5, y1 = image.y() + image.height() - 0.5;
    return distort(image, [&](Point p) {
        // The last step is sampled first: its source point is where the step before it is read.
        for (auto s = steps_.rbegin(); s != steps_.rend(); ++s) {
            const double dx = p.x - s->centre.x, dy = p.y - s->centre.y;
            const double d2 = dx * dx + dy * dy;
            if (d2 < s->radius * s->radius) {
                const double u = 1 - std::sqrt(d2) / s->radius; // 1 at the centre, 0 at the edge
                const double w = u * u * (3 - 2 * u);
                if (s->vortex) {
                    const float th = float(s->amount * w);
                    const double cs = std::cos(th), sn = std::sin(th);
                    p = {s->centre.x + dx * cs - dy * sn, s->centre.y + dx * sn + dy * cs};
                } else {
                    const double k = 1 - s->amount * w;
                    p = {s->centre.x + dx * k, s->centre.y + dy * k};
                }
            }
            p = {std::clamp(p.x, x0, x1), std::clamp(p.y, y0, y1)};
        }
        return p;
    });
}

FloatImage bumpDistortion(const FloatImage &image, Point c, double radius, double scale) {
    return Distortions().bump(c, radius, scale).applyTo(image);
}

FloatImage vortexDistortion(const FloatImage &image, Point c, double radius, double angle) {
    return Distortions().vortex(c, radius, angle).applyTo(image);
}

FloatImage colorMap(const FloatImage &image, const FloatImage &strip) {
    if (image.empty() || image.channels() != 4 || strip.empty() || strip.channels() != 4) return {};
    FloatImage out =
        FloatImage::makeUninitialised(image.x(), image.y(), image.width(), image.height(), 4);
    if (out.empty()) return out;
    // A table fine enough that its steps vanish under the 8-bit output.
    constexpr int N = 1024;
    std::vector<std::array<float, 4>> lut(N + 1);
    const float *s = strip.row(0);
    const int sw = strip.width();
    for (int k = 0; k <= N; ++k) {
        const double x = double(k) / N * (sw - 1);
        const int i0 = std::min(int(x), sw - 1), i1 = std::min(i0 + 1, sw - 1);
        const double f = x - i0;
        for (int ch = 0; ch < 4; ++ch)
            lut[k][ch] = float(s[4 * i0 + ch] * (1 - f) + s[4 * i1 + ch] * f);
    }
    forRows(image.height(), [&](int j0, int j1) {
        for (int j = j0; j < j1; ++j) {
            const float *p = image.row(j);
            float *d = out.row(j);
            for (int i = 0; i < image.width(); ++i) {
                const float a = p[4 * i + 3];
                float l = 0;
                if (a > 0)
                    l = (0.0722f * p[4 * i] + 0.7152f * p[4 * i + 1] + 0.2126f * p[4 * i + 2]) / a;
                const float x = std::clamp(l, 0.0f, 1.0f) * N;
                const int k = std::min(int(x), N - 1);
                const float f = x - k;
                for (int ch = 0; ch < 4; ++ch)
                    d[4 * i + ch] = (lut[k][ch] * (1 - f) + lut[k + 1][ch] * f) * a;
            }
        }
    });
    return out;
}

} // namespace qv::platform
