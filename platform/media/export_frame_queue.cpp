#include "platform/media/export_frame_queue.h"

#include <algorithm>

namespace qv::platform::media {

bool ExportFrameQueue::reserve(std::int64_t index) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || index - encoded_ < capacity_; });
    return !closed_;
}

void ExportFrameQueue::deliver(std::int64_t index, Outcome outcome) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        frames_.insert_or_assign(index, std::move(outcome));
    }
    changed_.notify_all();
}

void ExportFrameQueue::ranOutOfMemory() noexcept {
    {
        std::lock_guard lock(mutex_);
        outOfMemory_ = true;
    }
    changed_.notify_all();
}

ExportFrameQueue::Wait ExportFrameQueue::take(std::int64_t index,
                                              std::chrono::steady_clock::time_point deadline,
                                              Outcome &out) {
    std::unique_lock lock(mutex_);
    const bool woken = changed_.wait_until(
        lock, deadline, [&] { return closed_ || outOfMemory_ || frames_.contains(index); });
    if (closed_) return Wait::closed;
    if (!woken) return Wait::timedOut;
    auto it = frames_.find(index);
    if (it == frames_.end()) return Wait::outOfMemory;
    out = std::move(it->second);
    frames_.erase(it);
    return Wait::ready;
}

void ExportFrameQueue::encoded(std::int64_t index) {
    {
        std::lock_guard lock(mutex_);
        encoded_ = std::max(encoded_, index + 1);
    }
    changed_.notify_all();
}

void ExportFrameQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        frames_.clear();
    }
    changed_.notify_all();
}

bool ExportFrameQueue::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

} // namespace qv::platform::media
