// Decodes a video file front to back for an export and hands out the frame on screen at each
// requested source millisecond as a BGRA pixel buffer. Unlike VideoFrameReader it never seeks
// backwards: an export asks for non-decreasing times, and decoding forward is what keeps it
// fast. A jump of more than two seconds ahead (a cut) seeks instead of decoding through.
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
