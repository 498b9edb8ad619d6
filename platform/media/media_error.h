// How the media layer reports a failed or cancelled operation, and how a caller asks a running
// one to stop.
// Thread safety: MediaError is a plain value; CancellationFlag may be set and read from any
// thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace qv::platform::media {

struct MediaError {
    enum class Code { cancelled, failed };
    Code code = Code::failed;
    // Shown to the user as it is: names the file or step and what went wrong.
    std::string localizedDescription;

    bool isCancellation() const noexcept { return code == Code::cancelled; }
    static MediaError cancellation() { return {Code::cancelled, "The operation was cancelled."}; }
    static MediaError failure(std::string description) {
        return {Code::failed, std::move(description)};
    }
    friend bool operator==(const MediaError &, const MediaError &) = default;
};

// Shared between whoever may cancel and the work that checks; cancelling is permanent.
class CancellationFlag {
public:
    void cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
    bool isCancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> cancelled_{false};
};
using CancellationFlagRef = std::shared_ptr<CancellationFlag>;

} // namespace qv::platform::media
