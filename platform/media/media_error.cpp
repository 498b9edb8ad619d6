#include "platform/media/media_error.h"

#include <cerrno>
#include <exception>
#include <new>
#include <string_view>
#include <system_error>

namespace qv::platform::media {

MediaError currentExceptionAsError() noexcept {
    try {
        try {
            throw;
        } catch (const std::bad_alloc &) {
            return MediaError::notEnoughMemory();
        } catch (const std::system_error &e) {
            // Thread creation reports EAGAIN when no more threads (or their stacks) fit.
            const int code = e.code().value();
            if (code == EAGAIN || code == ENOMEM) return MediaError::notEnoughMemory();
            return MediaError::failure(std::string("Unexpected failure: ") + e.what());
        } catch (const std::exception &e) {
            const std::string_view what = e.what();
            if (what.find("Insufficient memory") != std::string_view::npos ||
                what.find("pthread_create") != std::string_view::npos ||
                what.find("Failed to allocate") != std::string_view::npos)
                return MediaError::notEnoughMemory();
            return MediaError::failure(std::string("Unexpected failure: ") + e.what());
        } catch (...) {
            return MediaError::failure("Unexpected failure");
        }
    } catch (...) {
        // Building the message itself ran out of memory.
        return MediaError{MediaError::Code::failed, {}};
    }
}

void CancellationFlag::cancel() {
    cancelled_.store(true, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    for (auto &[id, wake] : wakeUps_) wake();
}

CancellationFlag::WakeUp CancellationFlag::onCancel(std::function<void()> wake) const {
    std::unique_lock lock(mutex_);
    const std::uint64_t id = nextId_++;
    if (isCancelled()) {
        lock.unlock();
        wake();
    } else {
        wakeUps_.emplace(id, std::move(wake));
    }
    return WakeUp(this, id);
}

CancellationFlag::WakeUp::~WakeUp() {
    if (!flag_) return;
    std::lock_guard lock(flag_->mutex_);
    flag_->wakeUps_.erase(id_);
}

} // namespace qv::platform::media
