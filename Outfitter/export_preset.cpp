#include "Outfitter/export_preset.h"

#include <algorithm>

namespace qv {

namespace {

namespace media = platform::media;

struct PresetRow {
    ExportPreset::Case preset;
    std::string_view rawValue;
    std::string_view title;
    const char *sessionPreset;
    media::FileType fileType;
    std::string_view extension;
    media::VideoEncoderSettings video;
    media::AudioEncoderSettings audio;
};

// Every encoder picks its own thread count for the machine (threads 0).
const std::array<PresetRow, 4> &presetTable() {
    static const std::array<PresetRow, 4> rows{{
        {ExportPreset::web,
         "web",
         "Web (H.264)",
         "HighestQuality",
         media::FileType::mpeg4,
         "mp4",
         {"libx264", "nv12", {{"preset", "slow"}, {"crf", "18"}, {"profile", "high"}}, "", 0},
         {"aac", 192000}},
        // x264's veryfast keeps the lookahead, and so the memory of a 1080p export, small.
        {ExportPreset::compact,
         "compact",
         "Compact (H.264)",
         "MediumQuality",
         media::FileType::mpeg4,
         "mp4",
         {"libx264", "nv12", {{"preset", "veryfast"}, {"crf", "23"}, {"profile", "high"}}, "", 0},
         {"aac", 128000}},
        {ExportPreset::proRes,
         "proRes",
         "ProRes (archival)",
         "ProRes422LPCM",
         media::FileType::quickTimeMovie,
         "mov",
         {"prores_ks", "yuv422p10le", {{"profile", "standard"}}, "", 0},
         {"pcm_s16le", 0}},
        // Tagged hvc1, the form common players accept in MPEG-4.
        {ExportPreset::hevc,
         "hevc",
         "HEVC (small)",
         "HEVCHighestQuality",
         media::FileType::mpeg4,
         "mp4",
         {"libx265",
          "yuv420p",
          {{"preset", "medium"}, {"crf", "20"}, {"x265-params", "log-level=error"}},
          "hvc1",
          0},
         {"aac", 192000}},
    }};
    return rows;
}

const PresetRow &rowOf(ExportPreset::Case c) {
    const auto &rows = presetTable();
    return *std::find_if(rows.begin(), rows.end(),
                         [c](const PresetRow &r) { return r.preset == c; });
}

} // namespace

std::optional<ExportPreset> ExportPreset::fromRawValue(std::string_view rawValue) noexcept {
    for (const PresetRow &row : presetTable())
        if (row.rawValue == rawValue) return ExportPreset(row.preset);
    return std::nullopt;
}

const std::array<ExportPreset, 4> &ExportPreset::allCases() noexcept {
    static const std::array<ExportPreset, 4> cases{web, compact, proRes, hevc};
    return cases;
}

std::string_view ExportPreset::rawValue() const noexcept {
    return rowOf(case_).rawValue;
}

std::string_view ExportPreset::title() const noexcept {
    return rowOf(case_).title;
}

const char *ExportPreset::sessionPresetName() const noexcept {
    return rowOf(case_).sessionPreset;
}

media::ExportPresetSettings ExportPreset::sessionSettings() const {
    const PresetRow &row = rowOf(case_);
    return {row.sessionPreset, false, row.video, row.audio};
}

media::ExportPresetSettings ExportPreset::passthroughSettings() {
    return {kPassthroughSessionPreset, true, {}, {}};
}

platform::media::FileType ExportPreset::fileType() const noexcept {
    return rowOf(case_).fileType;
}

std::string_view ExportPreset::fileExtension() const noexcept {
    return rowOf(case_).extension;
}

} // namespace qv
