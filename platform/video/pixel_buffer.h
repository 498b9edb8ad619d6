// Reference-counted pixel buffers: the frames that flow between decoder, compositor and encoder.
//
// Thread safety: the buffer's geometry is immutable; its pixels and lineage are not
// synchronised. Whoever holds a buffer agrees with the other holders on who writes when, as the
// contract below says.
// Lifetime: shared; the memory lives as long as the last PixelBuffer or Texture aliasing it.
//
// Frame lineage and reuse, for every producer (decoder, compositor) and consumer (compositor,
// writer):
//  1. A producer sets a buffer's lineage while it alone holds the buffer, on its own thread,
//     before it hands the buffer to anyone (a request, a texture the device draws into, a
//     caller). Handing over (a queue, a mutex, a finished request) publishes pixels and lineage
//     together. Once handed over, neither changes while anyone else holds the buffer.
//  2. The lineage describes the pixels the buffer holds once the producer's work on it is done:
//     outside `changed`, each row equals that row of frame `parent`. A buffer whose pixels are
//     changed without a new lineage carries none; a buffer the device failed to finish is not
//     reused.
//  3. Consumers only read. A consumer that keeps work derived from a frame (the writer's last
//     YUV picture, the compositor's last output) keys it by lineage id and redoes only what
//     `FrameLineage::changesSince` names.
//  4. A producer draws over a buffer it made before only when nobody else holds it any more
//     (FrameRing::reusable), taking a reference first so that every earlier holder's reads
//     happen before its writes.
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
    // True when its rows start on `kSurfaceAlignment`-byte boundaries: the layout the device's
    // textures have, so a texture can alias the buffer and the vector code stream whole rows
    // into it without a copy. Every buffer made by create() has it; wrapped memory has it when
    // its address and row stride are multiples of the alignment.
    static constexpr std::size_t kSurfaceAlignment = 64;
    bool isSurfaceBacked() const noexcept {
        return reinterpret_cast<std::uintptr_t>(base_) % kSurfaceAlignment == 0 &&
               stride_ % kSurfaceAlignment == 0;
    }

    // What the pixels are relative to an earlier frame of the same stream; null when nothing
    // is known (see the contract below).
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
