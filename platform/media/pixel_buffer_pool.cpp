#include "platform/media/pixel_buffer_pool.h"

#include <cstdlib>

namespace qv::platform::media {

namespace {
constexpr std::size_t alignment = 64;
}

PixelBufferPool::PixelBufferPool(int width, int height, PixelFormat format, std::size_t maxIdle)
    : width_(width), height_(height), format_(format),
      stride_((static_cast<std::size_t>(width) * bytesPerPixel(format) + alignment - 1) /
              alignment * alignment),
      bytes_(stride_ * static_cast<std::size_t>(height)), maxIdle_(maxIdle) {
}

std::shared_ptr<PixelBufferPool> PixelBufferPool::make(int width, int height, PixelFormat format,
                                                       std::size_t maxIdle) {
    if (width < 1 || height < 1 || width > 32768 || height > 32768) return nullptr;
    return std::shared_ptr<PixelBufferPool>(new PixelBufferPool(width, height, format, maxIdle));
}

PixelBufferPool::~PixelBufferPool() {
    for (void *p : idle_) std::free(p);
}

std::size_t PixelBufferPool::idleCount() const {
    std::lock_guard lock(mutex_);
    return idle_.size();
}

void PixelBufferPool::giveBack(void *memory) {
    {
        std::lock_guard lock(mutex_);
        if (idle_.size() < maxIdle_) {
            idle_.push_back(memory);
            return;
        }
    }
    std::free(memory);
}

PixelBufferRef PixelBufferPool::get() {
    void *memory = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            memory = idle_.back();
            idle_.pop_back();
        }
    }
    if (!memory) memory = std::aligned_alloc(alignment, bytes_);
    if (!memory) return nullptr;
    std::weak_ptr<PixelBufferPool> weak = weak_from_this();
    std::shared_ptr<void> owner(memory, [weak](void *p) {
        if (auto pool = weak.lock())
            pool->giveBack(p);
        else
            std::free(p);
    });
    return PixelBuffer::wrap(width_, height_, format_, static_cast<std::uint8_t *>(memory), stride_,
                             std::move(owner));
}

} // namespace qv::platform::media
