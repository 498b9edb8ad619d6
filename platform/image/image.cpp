#include "platform/image/image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qv::platform {

ImageRef Image::make(PixelBufferRef bitmap, Point origin) {
    if (!bitmap || bitmap->format() != PixelFormat::bgra8) return nullptr;
    return std::make_shared<const Image>(std::move(bitmap), origin);
}

ImageRef Image::solid(int width, int height, double r, double g, double b, double a) {
    auto pb = PixelBuffer::create(width, height, PixelFormat::bgra8);
    if (!pb) return nullptr;
    auto byte = [](double v) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
    };
    a = std::clamp(a, 0.0, 1.0);
    const std::uint8_t px[4] = {byte(b * a), byte(g * a), byte(r * a), byte(a)};
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = pb->row(y);
        for (int x = 0; x < width; ++x) std::memcpy(row + 4 * x, px, 4);
    }
    return make(std::move(pb));
}

void renderImage(const Image &image, gfx::Texture &target) {
    PixelBuffer &dst = target.buffer();
    const PixelBuffer &src = image.bitmap();
    const int W = dst.width(), H = dst.height();
    const int bpp = bytesPerPixel(dst.format());
    const int ox = static_cast<int>(std::lround(image.extent().x));
    const int oy = static_cast<int>(std::lround(image.extent().y));
    // Source row r covers y-up row (oy + src.height - 1 - r); target row j covers y-up H - 1 - j.
    for (int j = 0; j < H; ++j) {
        std::uint8_t *out = dst.row(j);
        std::memset(out, 0, static_cast<std::size_t>(W) * bpp);
        const int yUp = H - 1 - j;
        const int r = oy + src.height() - 1 - yUp;
        if (r < 0 || r >= src.height() || bpp != 4) continue;
        const int x0 = std::max(0, ox), x1 = std::min(W, ox + src.width());
        if (x1 <= x0) continue;
        std::memcpy(out + 4 * x0, src.row(r) + 4 * (x0 - ox),
                    static_cast<std::size_t>(x1 - x0) * 4);
    }
}

} // namespace qv::platform
