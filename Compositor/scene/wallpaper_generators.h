// The procedural wallpaper generators, one per preset kind, and the seeded sequence that makes
// each preset's picture depend on nothing but its identity and the canvas size.
// Pure functions; any thread (the picture kind takes the picture table's lock).
#pragma once

#include "Compositor/scene/hex_color.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/float_image.h"
#include "platform/image/image.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::SceneRenderer {

// The preset's random sequence: seeded with the 64-bit FNV-1a hash of the identity's UTF-8
// bytes, stepped by a 64-bit linear congruential generator; each number is 16 bits of the state
// scaled to 0..1. The same on every machine.
class WallpaperRandom {
public:
    explicit WallpaperRandom(std::string_view identity) noexcept : state_(seedOf(identity)) {}
    static std::uint64_t seedOf(std::string_view identity) noexcept;
    // The next number u in 0..1 (both ends included).
    double next() noexcept;

private:
    std::uint64_t state_;
};

enum class WallpaperKind { softBlobs = 0, flow = 1, waves = 2, picture = 3 };
// Kinds 3 and above are pictures; a negative kind is treated as the first.
WallpaperKind wallpaperKind(int kind) noexcept;
// The kind's short name, as benchmarks and the contact sheet show it ("blobs", "flow", ...).
const char *wallpaperKindName(WallpaperKind kind) noexcept;

// One blob of the soft-blobs kind: where it sits, how far it reaches, its colour.
struct Blob {
    RGB colour;
    Point centre;
    double radius = 0;
};
// The blobs of a preset on a W × H canvas, in drawing order (none without colours).
std::vector<Blob> softBlobPlan(const Edits::WallpaperPreset &preset, int W, int H);

// The generators, on the canvas (0, 0, W, H), W and H at least 1. Empty only when memory runs
// out.
platform::FloatImage softBlobsWallpaper(const Edits::WallpaperPreset &preset, int W, int H);
platform::FloatImage flowWallpaper(const Edits::WallpaperPreset &preset, int W, int H);
platform::FloatImage wavesWallpaper(const Edits::WallpaperPreset &preset, int W, int H);
platform::FloatImage pictureWallpaper(const Edits::WallpaperPreset &preset, int W, int H);

// The preset's wallpaper on the canvas (0, 0, W, H), W and H the size truncated to whole
// pixels; not cached here (WallpaperCache keeps them). Empty below one pixel.
platform::FloatImage wallpaperImage(const Edits::WallpaperPreset &preset, Size size);

// The first preset with this identity, else the first preset; null when the list is empty.
const Edits::WallpaperPreset *wallpaperPreset(std::string_view id);

// Whole pixels of a requested size: truncated; false for sizes below one pixel, not finite or
// too large to address.
bool canvasPixels(Size size, int &W, int &H) noexcept;

// The image scaled uniformly by max(rect width / image width, rect height / image height),
// centred on the rect and cropped to it (bilinear; the rect is rounded to whole pixels).
platform::ImageRef aspectFillImage(const platform::Image &image, Rect rect);

} // namespace qv::SceneRenderer
