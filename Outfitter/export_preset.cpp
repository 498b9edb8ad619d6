#include "Outfitter/export_preset.h"

#include "platform/media/export_session.h"

namespace qv {

namespace ExportPresetName = platform::media::ExportPresetName;

std::optional<ExportPreset> ExportPreset::fromRawValue(std::string_view rawValue) noexcept {
    for (ExportPreset p : allCases())
        if (p.rawValue() == rawValue) return p;
    return std::nullopt;
}

const std::array<ExportPreset, 4> &ExportPreset::allCases() noexcept {
    static const std::array<ExportPreset, 4> cases{web, compact, proRes, hevc};
    return cases;
}

std::string_view ExportPreset::rawValue() const noexcept {
    switch (case_) {
    case web:
        return "web";
    case compact:
        return "compact";
    case proRes:
        return "proRes";
    case hevc:
        return "hevc";
    }
    return "web";
}

std::string_view ExportPreset::title() const noexcept {
    switch (case_) {
    case web:
        return "Web (H.264)";
    case compact:
        return "Compact (H.264)";
    case proRes:
        return "ProRes (archival)";
    case hevc:
        return "HEVC (small)";
    }
    return "Web (H.264)";
}

const char *ExportPreset::sessionPresetName() const noexcept {
    switch (case_) {
    case web:
        return ExportPresetName::highestQuality;
    case compact:
        return ExportPresetName::mediumQuality;
    case proRes:
        return ExportPresetName::proRes422LPCM;
    case hevc:
        return ExportPresetName::hevcHighestQuality;
    }
    return ExportPresetName::highestQuality;
}

// Both are decided by the raw value, as the format list says: only "proRes" is QuickTime.
platform::media::FileType ExportPreset::fileType() const noexcept {
    return rawValue() == "proRes" ? platform::media::FileType::quickTimeMovie
                                  : platform::media::FileType::mpeg4;
}

std::string_view ExportPreset::fileExtension() const noexcept {
    return rawValue() == "proRes" ? "mov" : "mp4";
}

} // namespace qv
