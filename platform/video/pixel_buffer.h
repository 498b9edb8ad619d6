// Reference-counted pixel buffers: the frames that flow between decoder, compositor and encoder.
//
// Thread safety: the buffer's geometry is immutable; its pixel memory is not synchronised.
// Whoever holds a buffer agrees with the other holders on who writes when (the frame pipeline
// writes an output buffer only on its render queue until the request is finished).
// Lifetime: shared; the memory lives as long as the last PixelBuffer or Texture aliasing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/video/frame_lineage.h"

namespace qv::platform {

enum class PixelFormat : std::uint32_t {
    bgra8 = 0x42475241, // 'BGRA': 8-bit B, G, R, A in memory, premultiplied alpha
    r8 = 0x4c303038,    // 'L008': one 8-bit channel
};

constexpr int bytesPerPixel(PixelFormat f) noexcept {
    return f == PixelFormat::bgra8 ? 4 : 1;
}

class PixelBuffer;
using PixelBufferRef = std::shared_ptr<PixelBuffer>;

class PixelBuffer {
public:
    // Allocates zeroed memory with rows aligned to 64 bytes. Returns null for a size below 1
    // pixel or one whose byte count overflows.
    static PixelBufferRef create(int width, int height, PixelFormat format);

    // Wraps caller-owned memory; `keepAlive` is released when the buffer dies (may be null when
    // the memory outlives the buffer). Returns null for inconsistent geometry.
    static PixelBufferRef wrap(int width, int height, PixelFormat format, std::uint8_t *base,
                               std::size_t bytesPerRow, std::shared_ptr<void> keepAlive);

    PixelBuffer(const PixelBuffer &) = delete;
    PixelBuffer &operator=(const PixelBuffer &) = delete;
    ~PixelBuffer();

    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    PixelFormat format() const noexcept { return format_; }
    std::size_t bytesPerRow() const noexcept { return stride_; }
    std::uint8_t *baseAddress() noexcept { return base_; }
    const std::uint8_t *baseAddress() const noexcept { return base_; }
    std::uint8_t *row(int y) noexcept { return base_ + stride_ * static_cast<std::size_t>(y); }
    const std::uint8_t *row(int y) const noexcept {
        return base_ + stride_ * static_cast<std::size_t>(y);
    }
    // Every buffer made here can be aliased by a device texture; a wrapped buffer can too.
    bool isSurfaceBacked() const noexcept { return true; }

    // Set by the producer once the pixels are final, before the buffer is shared; null when
    // nothing is known. A buffer whose pixels change afterwards must not carry one.
    const FrameLineageRef &lineage() const noexcept { return lineage_; }
    void setLineage(FrameLineageRef lineage) noexcept { lineage_ = std::move(lineage); }

private:
    PixelBuffer(int w, int h, PixelFormat f, std::uint8_t *base, std::size_t stride,
                std::shared_ptr<void> owner) noexcept;

    int width_;
    int height_;
    PixelFormat format_;
    std::uint8_t *base_;
    std::size_t stride_;
    std::shared_ptr<void> owner_;
    FrameLineageRef lineage_;
};

} // namespace qv::platform
