// Reads single frames of a video file as BGRA pixel buffers: the random-access reader behind
// `quillvane frame` and the tests. Sequential export decoding lives with the export session.
// Thread safety: one thread at a time per reader. Lifetime: owns its decoder state.
#pragma once

#include "platform/core/geometry.h"
#include "platform/core/result.h"
#include "platform/video/pixel_buffer.h"

#include <filesystem>
#include <memory>

namespace qv::platform::media {

class VideoFrameReader {
public:
    static Result<std::unique_ptr<VideoFrameReader>> open(const std::filesystem::path &file);
    ~VideoFrameReader();
    VideoFrameReader(const VideoFrameReader &) = delete;
    VideoFrameReader &operator=(const VideoFrameReader &) = delete;

    Size size() const noexcept;
    double durationSeconds() const noexcept;

    // The frame on screen at the given time: the last one that starts at or before it (the
    // first frame for earlier times, the last for later ones).
    Result<PixelBufferRef> frameAt(double seconds);

private:
    struct State;
    explicit VideoFrameReader(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

} // namespace qv::platform::media
