// SubtitleSidecar: the edit's captions as a SubRip file beside the exported movie, written after
// every successful export that has captions with text. Its failures do not change the export's
// outcome.
// Thread safety: no shared state.
#pragma once

#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/segment_map.h"
#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::SubtitleSidecar {

// The captions moved from source time onto the output's timeline: dropped where trims and cuts
// remove them wholly, clipped to what is kept, split where a cut falls inside one, stretched or
// squeezed by speed changes. A map that leaves the source unchanged leaves them as they are,
// even past the recording's end.
std::vector<Edits::Caption> captionsOnTimeline(const std::vector<Edits::Caption> &captions,
                                               const SegmentMap &segments,
                                               std::int64_t sourceDurationMs);

// Writes "<movie>.srt" atomically; writes nothing (and leaves an existing file alone) when no
// caption has text. Never throws; fails naming the file and the problem.
Status write(const std::vector<Edits::Caption> &captions, const std::filesystem::path &videoURL);

// The file's text, or nullopt when no caption has text.
std::optional<std::string> document(const std::vector<Edits::Caption> &captions);

// "HH:MM:SS,mmm", hours not wrapped.
std::string cueTime(std::int64_t ms);
// The text without white space and line breaks at either end (Unicode white space included).
std::string_view trimmed(std::string_view text);

} // namespace qv::SubtitleSidecar
