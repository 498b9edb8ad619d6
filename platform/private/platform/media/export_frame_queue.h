// Where composed frames wait, by frame index, between the compositor and the encoder, and the
// one bound on how far decoding and compositing run ahead of encoding: frame i may be requested
// only once fewer than `capacity` frames are between it and the first frame not yet encoded.
// Every change wakes the waiters, and so does close(), which a cancel or a failure on either
// side calls: nobody polls.
//
// Thread safety: every member may be called from any thread. Lifetime: the requests in flight
// hold it by shared_ptr, so a frame finished after the export gave up lands here harmlessly.
#pragma once

#include "platform/media/video_compositing.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <variant>

namespace qv::platform::media {

class ExportFrameQueue {
public:
    using Outcome = std::variant<PixelBufferRef, CompositionError>;

    explicit ExportFrameQueue(std::int64_t capacity) : capacity_(capacity) {}

    // Waits until frame `index` may be requested; false once the queue is closed.
    bool reserve(std::int64_t index);
    // A frame finished by the compositor, with its picture or its error; ignored once closed.
    // Throws std::bad_alloc when the frame cannot be stored.
    void deliver(std::int64_t index, Outcome outcome);
    // A frame finished when not even its outcome could be stored: every wait for a frame that is
    // not here ends with Wait::outOfMemory. Allocates nothing.
    void ranOutOfMemory() noexcept;

    enum class Wait { ready, closed, timedOut, outOfMemory };
    // Waits for frame `index` until `deadline`; with Wait::ready `out` holds it.
    Wait take(std::int64_t index, std::chrono::steady_clock::time_point deadline, Outcome &out);
    // Frames up to `index` are encoded: as many more may be requested.
    void encoded(std::int64_t index);

    // Ends every wait, now and later.
    void close();
    bool isClosed() const;

private:
    const std::int64_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::int64_t, Outcome> frames_;
    std::int64_t encoded_ = 0; // frames [0, encoded_) are encoded
    bool closed_ = false;
    bool outOfMemory_ = false;
};

} // namespace qv::platform::media
