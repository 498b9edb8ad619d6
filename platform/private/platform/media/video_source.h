// Decodes a video file and hands out the frame on screen at each requested source millisecond
// as a BGRA pixel buffer. Made for times that mostly increase, as an export asks for them:
// decoding forward is what keeps it fast, and a jump of more than two seconds ahead (a cut)
// seeks instead of decoding through. A time before the current frame (a preview going back)
// seeks back to the key frame before it and decodes forward from there.
//
// Thread safety: one thread at a time. Lifetime: the buffers it returns may outlive it.
#pragma once

#include "platform/core/geometry.h"
#include "platform/core/result.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace qv::platform::media {

class SequentialVideoSource {
public:
    static Result<std::unique_ptr<SequentialVideoSource>> open(const std::filesystem::path &file);
    ~SequentialVideoSource();
    SequentialVideoSource(const SequentialVideoSource &) = delete;
    SequentialVideoSource &operator=(const SequentialVideoSource &) = delete;

    Size size() const noexcept;

    // The frame on screen during the source millisecond: the last frame that starts before
    // ms + 1 (times are counted from the stream's start), or the first frame for earlier
    // times. After the last frame the last frame stays, unless the file stops well before the
    // length it states, which is reported as a truncated file. Damaged data is an error too.
    Result<PixelBufferRef> frameAt(std::int64_t sourceMs);

private:
    struct State;
    explicit SequentialVideoSource(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

} // namespace qv::platform::media
