// Writes a movie file: BGRA frames converted and encoded as video, planar float sound encoded
// as audio, both muxed into an MPEG-4 or QuickTime file. The file is built under a temporary
// name beside the destination and renamed over it only by finish(), so a failed or abandoned
// write never leaves a partial movie in place of a good one.
//
// Thread safety: one thread at a time. Lifetime: destroying an unfinished writer removes its
// temporary file.
#pragma once

#include "platform/core/geometry.h"
#include "platform/core/partial_file.h"
#include "platform/core/result.h"
#include "platform/media/video_compositing.h"
#include "platform/media/yuv_convert.h"
#include "platform/video/pixel_buffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv::platform::media {

enum class FileType { mpeg4, quickTimeMovie };

struct VideoEncoderSettings {
    std::string codec;       // FFmpeg encoder name: "libx264", "libx265", "prores_ks"
    std::string pixelFormat; // what the encoder is fed: "nv12", "yuv420p", "yuv422p10le"
    // Encoder options by name ("preset", "crf", "profile", "x265-params" ...).
    std::vector<std::pair<std::string, std::string>> options;
    std::string codecTag; // four characters for the container, or empty for its default
    int threads = 0;      // 0: the encoder's own choice for this machine
};

struct AudioEncoderSettings {
    std::string codec;        // "aac" or "pcm_s16le"
    std::int64_t bitRate = 0; // for compressed codecs
};

class MovieWriter {
public:
    struct Settings {
        FileType fileType = FileType::mpeg4;
        int width = 0, height = 0;
        Time frameDuration{1, 30};
        VideoEncoderSettings video; // an empty codec name writes sound only
        std::optional<AudioEncoderSettings> audio;
        int sampleRate = 48000;
        int audioChannels = 2;
        // Every output is tagged with its colours; BT.709 in limited range.
        YuvColorimetry colorimetry{YuvMatrix::bt709, false};
    };

    static Result<std::unique_ptr<MovieWriter>> create(const std::filesystem::path &destination,
                                                       const Settings &settings);
    ~MovieWriter();
    MovieWriter(const MovieWriter &) = delete;
    MovieWriter &operator=(const MovieWriter &) = delete;

    // Frame n of the movie (counted from 0) starts at n × frameDuration. The frame must have
    // the movie's size.
    Status appendVideo(const PixelBuffer &frame);
    // The same, for frame `frameNumber`: numbers may skip (a live capture that missed frames
    // leaves the earlier picture showing) but must increase.
    Status appendVideo(const PixelBuffer &frame, std::int64_t frameNumber);
    // Sound in the writer's sample rate and channel count; ignored when the movie has none.
    Status appendAudio(const float *const *planes, int count);

    // The number the next appended frame gets: one past the last frame written.
    std::int64_t videoFrameCount() const noexcept;
    std::int64_t audioSampleCount() const noexcept;
    bool hasAudio() const noexcept;

    // Flushes the encoders, completes the file and moves it to the destination.
    Status finish();
    // Removes the temporary file; the destination is left as it was.
    void abandon() noexcept;

private:
    struct State;
    explicit MovieWriter(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

} // namespace qv::platform::media
