// Rendered wallpapers, one per (preset identity, whole-pixel width, whole-pixel height), kept
// for the life of the process: a whole export asks for the same wallpaper thousands of times.
//
// Thread safety: the process-wide table is guarded by its own mutex, held while a missing
// wallpaper renders, so a second request for the same key finds the first one's result. A
// picture preset takes the picture table's lock inside (order: this table, then pictures).
// Lifetime: entries are never removed; the number of distinct (preset, size) pairs a process
// uses is small.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/geometry.h"
#include "platform/image/image.h"

#include <cstddef>
#include <optional>
#include <string>

namespace qv::WallpaperCache {

struct Key {
    std::string id;
    int w = 0, h = 0;
    friend bool operator==(const Key &, const Key &) = default;
};

// The preset's wallpaper as a bitmap at the origin covering the size truncated to whole pixels.
// The size must be finite and at least one pixel (else null). Rendered and rasterised once per
// key: the identity stands for one look for the life of the process.
platform::ImageRef image(const Edits::WallpaperPreset &preset, Size size);

// The preset with this identity (the first preset when absent or unknown) rendered as a bitmap,
// uncached. Null when there are no presets or it cannot be rendered.
platform::ImageRef bitmap(const std::optional<std::string> &presetId, Size size);

// How many wallpapers the table holds and how many renders it has made; for diagnostics.
struct Stats {
    std::size_t entries = 0;
    std::size_t renders = 0;
};
Stats stats();

} // namespace qv::WallpaperCache
