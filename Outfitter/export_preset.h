// ExportPreset: the closed list of output formats of an export. Each case maps to an export
// session preset and the encoder settings behind it (docs/export.md lists them), a container
// file type and a file extension; one table in export_preset.cpp holds them all.
// Thread safety: a plain value.
#pragma once

#include "platform/media/export_session.h"
#include "platform/media/movie_writer.h"

#include <array>
#include <optional>
#include <string_view>

namespace qv {

class ExportPreset {
public:
    enum Case : unsigned char { web, compact, proRes, hevc };

    constexpr ExportPreset(Case c) noexcept : case_(c) {}

    // The case whose raw value is exactly the text (case-sensitive); nullopt for any other text.
    static std::optional<ExportPreset> fromRawValue(std::string_view rawValue) noexcept;
    // Every case, in declaration order.
    static const std::array<ExportPreset, 4> &allCases() noexcept;

    constexpr Case value() const noexcept { return case_; }
    std::string_view rawValue() const noexcept;
    std::string_view id() const noexcept { return rawValue(); }
    std::string_view title() const noexcept;

    // The export session preset name for this case (passthrough is chosen by the engine).
    const char *sessionPresetName() const noexcept;
    // What the export session writes for this case.
    platform::media::ExportPresetSettings sessionSettings() const;
    // The stream copy the engine picks when the edit changes nothing.
    static platform::media::ExportPresetSettings passthroughSettings();
    static constexpr const char *kPassthroughSessionPreset = "Passthrough";
    // QuickTime for "proRes", MPEG-4 for every other case.
    platform::media::FileType fileType() const noexcept;
    // "mov" for "proRes", "mp4" for every other case.
    std::string_view fileExtension() const noexcept;

    friend constexpr bool operator==(ExportPreset a, ExportPreset b) noexcept {
        return a.case_ == b.case_;
    }

private:
    Case case_;
};

} // namespace qv

template <> struct std::hash<qv::ExportPreset> {
    std::size_t operator()(qv::ExportPreset p) const noexcept {
        return static_cast<std::size_t>(p.value());
    }
};
