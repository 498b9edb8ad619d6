// How the media layer reports a failed or cancelled operation, and how a caller asks a running
// one to stop.
// Thread safety: MediaError is a plain value; CancellationFlag may be set and read from any
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

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

// Shared between whoever may cancel and the work that checks; cancelling is permanent. Work that
// waits on something else registers a wake-up, so that a cancel ends its wait at once.
class CancellationFlag {
public:
    CancellationFlag() = default;
    CancellationFlag(const CancellationFlag &) = delete;
    CancellationFlag &operator=(const CancellationFlag &) = delete;

    void cancel();
    bool isCancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

    // Calls the wake-up once the flag is cancelled, for as long as it lives; destroying it waits
    // for a call in progress. A wake-up must not register or drop wake-ups itself.
    class WakeUp {
    public:
        WakeUp(WakeUp &&other) noexcept
            : flag_(std::exchange(other.flag_, nullptr)), id_(other.id_) {}
        WakeUp(const WakeUp &) = delete;
        WakeUp &operator=(const WakeUp &) = delete;
        WakeUp &operator=(WakeUp &&) = delete;
        ~WakeUp();

    private:
        friend class CancellationFlag;
        WakeUp(const CancellationFlag *flag, std::uint64_t id) : flag_(flag), id_(id) {}
        const CancellationFlag *flag_;
        std::uint64_t id_;
    };
    // When the flag is cancelled already, `wake` is called at once, on this thread.
    [[nodiscard]] WakeUp onCancel(std::function<void()> wake) const;

private:
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    mutable std::map<std::uint64_t, std::function<void()>> wakeUps_;
    mutable std::uint64_t nextId_ = 1;
};
using CancellationFlagRef = std::shared_ptr<CancellationFlag>;

} // namespace qv::platform::media
