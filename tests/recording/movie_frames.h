// Reads a movie's frames back for tests: each frame's time and the luma of its centre pixel.
#pragma once

#include <filesystem>
#include <vector>

namespace qv::testing {

struct FrameLuma {
    double ms = 0; // presentation time from the stream's first frame
    int luma = 0;  // the Y sample at the frame's centre
};

std::vector<FrameLuma> readCentreLuma(const std::filesystem::path &movie);

} // namespace qv::testing
