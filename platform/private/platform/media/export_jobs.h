// The two kinds of work an export session runs on its thread. Internal to platform/media.
#pragma once

#include "platform/media/asset.h"
#include "platform/media/export_session.h"
#include "platform/media/media_error.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace qv::platform::media {

using ProgressSink = std::function<void(double fraction)>;

// Decode, compose, convert, encode and mux; nullopt on success.
std::optional<MediaError>
runCompositionExport(const Asset &asset, const VideoComposition &composition, const AudioMix *mix,
                     const ExportPresetSettings &settings, const std::filesystem::path &url,
                     FileType fileType, const CancellationFlag &cancelled,
                     const ProgressSink &progress);

// Copies the first video track and every audio track unchanged.
std::optional<MediaError> runPassthroughExport(const Asset &asset, const std::filesystem::path &url,
                                               FileType fileType, const CancellationFlag &cancelled,
                                               const ProgressSink &progress);

} // namespace qv::platform::media
