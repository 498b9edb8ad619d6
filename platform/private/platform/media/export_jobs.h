// The two kinds of work an export session runs on its thread. Internal to platform/media.
#pragma once

#include "platform/core/result.h"
#include "platform/media/asset.h"
#include "platform/media/export_session.h"
#include "platform/media/media_error.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace qv::platform::media {

using ProgressSink = std::function<void(double fraction)>;

// The jobs fail naming the file and the problem. A cancelled job fails too, with
// `cancelledText`; the session tells a cancellation by its flag, not by the text.
inline constexpr const char *cancelledText = "The operation was cancelled.";

// Decode, compose, convert, encode and mux.
Status runCompositionExport(const Asset &asset, const VideoComposition &composition,
                            const AudioMix *mix, const ExportPresetSettings &settings,
                            const std::filesystem::path &url, FileType fileType,
                            const CancellationFlag &cancelled, const ProgressSink &progress);

// Copies the first video track and every audio track unchanged.
Status runPassthroughExport(const Asset &asset, const std::filesystem::path &url, FileType fileType,
                            const CancellationFlag &cancelled, const ProgressSink &progress);

} // namespace qv::platform::media
