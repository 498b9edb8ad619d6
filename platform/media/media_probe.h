// What an editor needs to know about a source file before it builds a composition on it.
// Thread safety: no shared state.
#pragma once

#include "platform/core/geometry.h"
#include "platform/core/result.h"
#include "platform/media/video_compositing.h"

#include <filesystem>

namespace qv::platform::media {

struct VideoStreamInfo {
    Size size;
    Time frameDuration{1, 30}; // from the stream's average frame rate
    double durationSeconds = 0;
};

struct AudioStreamInfo {
    int channels = 0;
    int sampleRate = 0;
    double durationSeconds = 0;
};

// Fails, naming the file, when it cannot be opened or has no decodable stream of the kind.
Result<VideoStreamInfo> probeVideo(const std::filesystem::path &file);
Result<AudioStreamInfo> probeAudio(const std::filesystem::path &file);

} // namespace qv::platform::media
