// Reuses the memory of same-sized pixel buffers. An export makes one 1080p BGRA buffer (8 MB)
// per decoded and per composed frame; allocating fresh, zeroed memory for each costs page
// faults and clearing that the encoder then has to wait for.
//
// Thread safety: get() may be called from any thread, and buffers may die on any thread.
// Lifetime: buffers may outlive the pool; their memory is then freed instead of kept.
#pragma once

#include "platform/video/pixel_buffer.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace qv::platform::media {

class PixelBufferPool : public std::enable_shared_from_this<PixelBufferPool> {
public:
    // Keeps at most `maxIdle` unused allocations.
    static std::shared_ptr<PixelBufferPool> make(int width, int height, PixelFormat format,
                                                 std::size_t maxIdle = 4);
    ~PixelBufferPool();

    // A buffer of the pool's size. Its contents are whatever the last user left; null when
    // memory runs out.
    PixelBufferRef get();

    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    std::size_t idleCount() const;

private:
    PixelBufferPool(int width, int height, PixelFormat format, std::size_t maxIdle);
    void giveBack(void *memory);

    int width_, height_;
    PixelFormat format_;
    std::size_t stride_;
    std::size_t bytes_;
    std::size_t maxIdle_;
    mutable std::mutex mutex_;
    std::vector<void *> idle_;
};
using PixelBufferPoolRef = std::shared_ptr<PixelBufferPool>;

} // namespace qv::platform::media
