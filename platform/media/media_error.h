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
    // Memory or threads ran out: no damaged file or wrong setting is to blame.
    static MediaError notEnoughMemory() {
        return failure("There is not enough memory to finish: close other programs or choose a "
                       "smaller preset, then try again.");
    }
    friend bool operator==(const MediaError &, const MediaError &) = default;
};

// For a catch (...) block: exhausted memory or threads (std::bad_alloc, a thread that could not
// be started, an image library's allocation failure) become notEnoughMemory(); anything else
// is a failure that says what was thrown.
MediaError currentExceptionAsError() noexcept;

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
