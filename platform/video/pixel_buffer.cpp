#include "platform/video/pixel_buffer.h"

#include <cstdlib>
#include <limits>
#include <new>

namespace qv::platform {

namespace {

constexpr std::size_t rowAlignment = PixelBuffer::kSurfaceAlignment;

// Row stride rounded up to the alignment, or 0 when the arithmetic would overflow.
std::size_t alignedStride(int width, PixelFormat format) {
    const auto bytes = static_cast<std::size_t>(width) * bytesPerPixel(format);
    if (bytes > std::numeric_limits<std::size_t>::max() - (rowAlignment - 1)) return 0;
    return (bytes + rowAlignment - 1) / rowAlignment * rowAlignment;
}

} // namespace

PixelBuffer::PixelBuffer(int w, int h, PixelFormat f, std::uint8_t *base, std::size_t stride,
                         std::shared_ptr<void> owner) noexcept
    : width_(w), height_(h), format_(f), base_(base), stride_(stride), owner_(std::move(owner)) {
}

PixelBuffer::~PixelBuffer() = default;

PixelBufferRef PixelBuffer::create(int width, int height, PixelFormat format) {
    if (width < 1 || height < 1) return nullptr;
    const std::size_t stride = alignedStride(width, format);
    if (stride == 0) return nullptr;
    // Keep the total addressable through a ptrdiff_t so row pointers stay well defined.
    const auto maxBytes = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    if (stride > (maxBytes - rowAlignment) / static_cast<std::size_t>(height)) return nullptr;
    const std::size_t total = stride * static_cast<std::size_t>(height);

    // calloc hands back zeroed pages without touching them for large frames; the extra bytes let
    // the first row start on the alignment boundary.
    void *memory = std::calloc(1, total + rowAlignment);
    if (!memory) return nullptr;
    std::shared_ptr<void> owner(memory, [](void *p) { std::free(p); });
    const auto address = reinterpret_cast<std::uintptr_t>(memory);
    auto *base = reinterpret_cast<std::uint8_t *>((address + rowAlignment - 1) / rowAlignment *
                                                  rowAlignment);
    return PixelBufferRef(new PixelBuffer(width, height, format, base, stride, std::move(owner)));
}

PixelBufferRef PixelBuffer::wrap(int width, int height, PixelFormat format, std::uint8_t *base,
                                 std::size_t bytesPerRow, std::shared_ptr<void> keepAlive) {
    if (width < 1 || height < 1 || !base) return nullptr;
    const auto minRow = static_cast<std::size_t>(width) * bytesPerPixel(format);
    if (bytesPerRow < minRow) return nullptr;
    return PixelBufferRef(
        new PixelBuffer(width, height, format, base, bytesPerRow, std::move(keepAlive)));
}

} // namespace qv::platform
