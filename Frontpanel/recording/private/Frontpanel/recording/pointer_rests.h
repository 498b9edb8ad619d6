// The pointer track as the player should see it. The input recorder writes a sample only when
// the pointer moved, so after a rest the next sample is the first one of the new place; drawn
// by interpolation, a warp (or a sudden move) would glide across the whole rest. A sample where
// the pointer rested, a tick before it moved, turns that glide into the jump it was.
#pragma once

#include "Handtrace/track_files.h"
#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace qv::frontpanel {

// A pointer that sent no sample for longer than this was at rest: a moving one reports many
// times a second.
inline constexpr std::int64_t kPointerRestMs = 100;
// How long before its next sample a resting pointer is held: one tick of the 60 Hz sampling.
inline constexpr std::int64_t kPointerHoldMs = 17;

// `samples` with a held sample before every sample that follows a rest at another place.
std::vector<CursorFile::Sample> withPointerRests(const std::vector<CursorFile::Sample> &samples);

// Rewrites the folder's "cursor.json" (atomically) with the rests marked. A folder without the
// file is left alone.
Status markPointerRests(const std::filesystem::path &folder);

} // namespace qv::frontpanel
