// Image operations: what scene decoration and wallpapers are built from. Working images are
// FloatImage (premultiplied, y-up, see float_image.h); bitmaps are Image (BGRA8, premultiplied).
// An operation returns a new image and leaves its inputs alone, unless its name says it draws
// into one. A result that cannot be made (no memory, nothing left after a crop) is an empty
// FloatImage or a null ImageRef.
//
// Edges: operations that read around a pixel (blur, distortions, resampling) either clamp to the
// image's edge pixels (EdgeMode::clamp, the extent stays the same) or see transparency beyond the
// extent (EdgeMode::transparent).
//
// Thread safety: no shared state; any thread. Large images are processed on OpenCV's worker
// threads.
#pragma once

#include "platform/core/geometry.h"
#include "platform/image/float_image.h"
#include "platform/image/image.h"

#include <array>
#include <vector>

namespace qv::platform {

// Straight (not premultiplied) colour, components 0..1.
struct Color {
    double r = 0, g = 0, b = 0, a = 1;
    friend constexpr bool operator==(const Color &, const Color &) = default;
};

// Maps y-up points: x' = a x + c y + tx, y' = b x + d y + ty.
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    static constexpr Affine scale(double sx, double sy) noexcept { return {sx, 0, 0, sy, 0, 0}; }
    static constexpr Affine translation(double dx, double dy) noexcept {
        return {1, 0, 0, 1, dx, dy};
    }
    constexpr Point apply(Point p) const noexcept {
        return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty};
    }
    // This transform followed by `then`.
    constexpr Affine followedBy(const Affine &t) const noexcept {
        return {t.a * a + t.c * b, t.b * a + t.d * b,          t.a * c + t.c * d,
                t.b * c + t.d * d, t.a * tx + t.c * ty + t.tx, t.b * tx + t.d * ty + t.ty};
    }
};

enum class EdgeMode { clamp, transparent };

// --- Bitmaps and working images ---

// The bitmap as a working image (extent origin rounded to whole pixels).
FloatImage toFloat(const Image &image);
// Only the part of the bitmap inside `region` (rounded outwards); empty when they do not meet.
FloatImage toFloat(const Image &image, Rect region);

// Rasterises working images into bitmaps. Stateless: one shared instance serves everyone.
class ImageContext {
public:
    // The region (rounded outwards to whole pixels) of the image as a new bitmap placed at the
    // region's origin; outside the image it is transparent. Rounding to 8 bits uses a fixed
    // 4 × 4 ordered dither so that smooth ramps do not band; values that are whole bytes come out
    // exactly, and the same input always gives the same bits. Null for an empty region or when
    // memory runs out.
    ImageRef createImage(const FloatImage &image, Rect region) const;
};

// --- Geometry ---

// The part of the image inside the rectangle (rounded outwards to whole pixels).
FloatImage crop(const FloatImage &image, Rect rect);
// Moves by whole pixels (no resampling).
FloatImage translated(FloatImage image, int dx, int dy);
// How a strong reduction is sampled: averaged down first, so that thin details do not alias, or
// with the bilinear taps alone (what a per-pixel shader that samples once does).
enum class Reduction { average, bilinear };
// The image transformed by `toDest`, sampled bilinearly over `region` (rounded outwards).
FloatImage affineResample(const FloatImage &image, const Affine &toDest, Rect region,
                          EdgeMode edges, Reduction reduction = Reduction::average);
ImageRef affineResample(const Image &image, const Affine &toDest, Rect region, EdgeMode edges,
                        Reduction reduction = Reduction::average);

// --- Compositing ---

// `top` over `bottom` (premultiplied over rule) on the union of their extents.
FloatImage compositeOver(const FloatImage &top, const FloatImage &bottom);
ImageRef compositeOver(const Image &top, const Image &bottom);
// Draws `top` over `dst` where they overlap; `dst` keeps its extent.
void drawOver(FloatImage &dst, const FloatImage &top);
// Every channel (and so the opacity) times `factor`, clamped to 0..1.
void multiplyAlpha(FloatImage &image, double factor);
// Every pixel times the mask's opacity (its only channel or its alpha) at the same place;
// pixels outside the mask's extent become transparent.
void multiplyByMask(FloatImage &image, const FloatImage &mask);

// Rows applied to the straight colour (r, g, b, a), plus a bias; the result is clamped to 0..1
// and premultiplied again.
struct ColorMatrix {
    std::array<double, 4> r{1, 0, 0, 0}, g{0, 1, 0, 0}, b{0, 0, 1, 0}, a{0, 0, 0, 1};
    std::array<double, 4> bias{0, 0, 0, 0};
};
FloatImage colorMatrix(const FloatImage &image, const ColorMatrix &m);

// fg × mask + bg × (1 − mask) over bg's extent. The mask's opacity is used (its only channel or
// its alpha); where the mask or fg has no pixels they count as transparent.
FloatImage blendWithMask(const FloatImage &fg, const FloatImage &bg, const FloatImage &mask);

// --- Filters ---

// Gaussian blur with standard deviation `radius`. Its cost does not grow with the radius (large
// radii are blurred on an averaged-down copy with running-sum box filters). Clamped edges keep
// the extent; transparent edges grow it by the blur's reach. A radius under 0.5 (or not a
// number) returns the image unchanged.
FloatImage gaussianBlur(const FloatImage &image, double radius, EdgeMode edges);

// Inside `radius` of `centre` the picture bulges out (scale > 0) or pinches in (scale < 0),
// smoothly fading to no change at the radius. Edges clamped; same extent.
FloatImage bumpDistortion(const FloatImage &image, Point centre, double radius, double scale);
// Inside `radius` of `centre` the picture turns about the centre: by `angle` radians at the
// centre, fading smoothly to no turn at the radius. Edges clamped; same extent.
FloatImage vortexDistortion(const FloatImage &image, Point centre, double radius, double angle);

// Several distortions in a row, resampled once. Each step sees its input with clamped edges,
// exactly as applying them one after another would, but the picture is interpolated a single
// time (sharper, and one pass over the pixels instead of one per step).
class Distortions {
public:
    Distortions &bump(Point centre, double radius, double scale);
    Distortions &vortex(Point centre, double radius, double angle);
    FloatImage applyTo(const FloatImage &image) const;

private:
    struct Step {
        bool vortex;
        Point centre;
        double radius, amount;
    };
    std::vector<Step> steps_;
};

// Recolours by brightness: each pixel's luminance (0..1) picks a colour along the strip's top row
// (left = 0, right = 1, linear between its pixels); the pixel's opacity is kept.
FloatImage colorMap(const FloatImage &image, const FloatImage &strip);

// --- Generators ---

// One colour over `region` (rounded outwards).
FloatImage solidColor(Rect region, Color c);
// Coverage (one channel) of the rounded rectangle `shape` with corner `radius`, over `region`:
// 1 inside, 0 outside, a one-pixel ramp across the edge, measured at pixel centres.
FloatImage roundedRectCoverage(Rect region, Rect shape, double radius);
// Coverage of the triangle with its apex at the top middle of `shape` and its base along the
// bottom edge, over `region`: 1 where the pixel centre is inside or on an edge, else 0.
FloatImage triangleCoverage(Rect region, Rect shape);
// A ring of colour `c` drawn over `dst`: full inside `lineWidth` around the circle of `radius`
// about `centre`, fading to nothing over `softness` pixels on each side (coverage
// clamp(0.5 - (|d - radius| - lineWidth / 2) / softness)).
void drawRing(FloatImage &dst, Point centre, double radius, double lineWidth, double softness,
              Color c);

enum class GradientRamp {
    linear, // colour proportional to the position between the ends
    smooth, // eased in and out at the ends (smoothstep)
};
// Colour c0 at p0 to c1 at p1, constant beyond the ends, over `region` (rounded outwards). Empty
// when the two points coincide: such a gradient has no direction.
FloatImage linearGradient(Rect region, Point p0, Color c0, Point p1, Color c1,
                          GradientRamp ramp = GradientRamp::linear);
// c0 inside radius r0 of the centre, c1 beyond r1, linear in between (premultiplied), over
// `region`. Empty when r1 <= r0.
FloatImage radialGradient(Rect region, Point centre, double r0, Color c0, double r1, Color c1);
// The same gradient drawn over `dst` (premultiplied over rule) without an intermediate image;
// only the square of radius r1 is touched when c1 is transparent.
void drawRadialGradient(FloatImage &dst, Point centre, double r0, Color c0, double r1, Color c1);

} // namespace qv::platform
