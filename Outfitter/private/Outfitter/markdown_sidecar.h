// MarkdownSidecar: the short report left beside an exported movie when asked for: when the
// recording was made, its length, source and tracks, when it was exported, the mouse clicks and
// the zoom keyframes. Written after the movie is complete; its failures do not change the
// export's outcome.
// Thread safety: no shared state.
#pragma once

#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/recording.h"
#include "platform/core/result.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace qv::MarkdownSidecar {

// Writes "<movie>.md" (the movie's extension replaced) atomically; never throws, and fails
// naming the file and the problem. The recording folder is the folder that holds `clicksURL`.
Status write(const RecordingMeta &meta, const Edits &edits, const std::filesystem::path &clicksURL,
             const std::filesystem::path &videoURL);

// The report's text, with `exportedAt` as the export time (seconds since 1970); what write()
// stores. Separate so that it can be checked byte for byte.
std::string document(const RecordingMeta &meta, const Edits &edits,
                     const std::filesystem::path &clicksURL, std::time_t exportedAt);

// "%02d:%02d" of whole minutes (not wrapped at 60) and seconds.
std::string minuteSecond(std::int64_t ms);
// "yyyy-MM-dd HH:mm" in the local time zone.
std::string dateText(double secondsSince1970);

} // namespace qv::MarkdownSidecar
