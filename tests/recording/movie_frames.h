// Reads a movie's frames back for tests: each frame's time and the luma of its centre pixel.
#pragma once

#include <filesystem>
#include <vector>

namespace qv::testing {

struct FrameLuma {
    double ms = 0; // presentation time from the stream's first frame
    int luma = 0;  // the Y sample at the frame's centre
    bool key = false;
};

std::vector<FrameLuma> readCentreLuma(const std::filesystem::path &movie);

struct SoundTrack {
    int rate = 0;
    std::vector<float> samples; // the first channel, from the stream's start
};

SoundTrack readSound(const std::filesystem::path &movie);

// The times (ms) where the sound starts after a silence: the first sample above `threshold`
// after at least `silenceMs` of samples below it.
std::vector<double> soundOnsets(const SoundTrack &sound, float threshold, double silenceMs);

} // namespace qv::testing
