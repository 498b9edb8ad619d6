// The edit document of a recording: everything the user changed about its look and timing.
// A plain value: copy it freely; it is compared member by member.
// Thread safety: immutable values may be read from any thread.
#pragma once

#include "platform/core/geometry.h"
#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct Edits {
    enum class BackgroundKind { wallpaper, gradient, solid, image };
    enum class ChromeStyle { none, minimal, browser };
    enum class WebcamPosition {
        cornerTL,
        cornerTR,
        cornerBL,
        cornerBR,
        sideLeft,
        sideRight,
        full,
        hidden
    };
    enum class WebcamShape { circle, roundedSquare, square, triangle };
    enum class ClickEffect { none, ring, ripple, shockwave };
    enum class CursorShape { arrow, heart, dot, ring, crosshair };
    enum class BadgePosition { left, center, right };
    enum class MaskStyle { blur, solid };

    // The visible part of the source as fractions of its width and height, origin top-left.
    struct Crop {
        double x = 0, y = 0, width = 1, height = 1;

        struct Geometry {
            Rect ciCropRect;  // source pixels, y-up
            Size contentSize; // size of ciCropRect
        };
        // Clamps the fractions into the source; a crop with no area falls back to the whole
        // source so that a frame is never empty because of a bad document.
        Geometry ciGeometry(Size screenSize) const noexcept;

        friend bool operator==(const Crop &, const Crop &) = default;
    };

    struct Scene {
        BackgroundKind backgroundKind = BackgroundKind::wallpaper;
        std::string wallpaperId;
        std::string gradientFrom = "#4F46E5";
        std::string gradientTo = "#EC4899";
        double gradientAngle = 45;
        std::string backgroundColor = "#1E1E2E";
        Crop crop;
        double paddingPercent = 8;
        double frameRadius = 16;
        double shadowBlur = 40;
        double shadowOffset = 12;
        double shadowStrength = 0.45;
        ChromeStyle chromeStyle = ChromeStyle::none;
        bool showBorder = false;
        WebcamPosition webcamPosition = WebcamPosition::cornerBR;
        WebcamShape webcamShape = WebcamShape::circle;
        double webcamSize = 0.22;
        bool webcamRemoveBackground = false;
        double webcamTransitionMs = 300;
        double cursorSmoothing = 0.5;
        double cursorSize = 1.5;
        ClickEffect clickEffect = ClickEffect::ripple;
        CursorShape cursorShape = CursorShape::arrow;
        bool cursorFilled = true;
        std::string cursorFill = "#000000";
        bool cursorOutline = true;
        std::string cursorOutlineColor = "#FFFFFF";
        bool cursorShadow = true;
        bool showKeystrokes = true;
        BadgePosition keystrokePosition = BadgePosition::center;
        double keystrokeScale = 1;
        bool showCaptions = true;
        BadgePosition captionPosition = BadgePosition::center;
        double captionScale = 1;

        friend bool operator==(const Scene &, const Scene &) = default;
    };

    // A mask rectangle at one time, fractions of the visible content, origin top-left.
    struct MaskKeyframe {
        std::int64_t tMs = 0;
        double x = 0, y = 0, width = 0, height = 0;
        friend bool operator==(const MaskKeyframe &, const MaskKeyframe &) = default;
    };

    struct Mask {
        std::string id;
        std::int64_t startMs = 0; // inclusive
        std::int64_t endMs = 0;   // inclusive
        MaskStyle style = MaskStyle::solid;
        std::vector<MaskKeyframe> keyframes; // ascending tMs, at least one

        struct Resolved {
            double x = 0, y = 0, width = 0, height = 0;
            friend bool operator==(const Resolved &, const Resolved &) = default;
        };
        // Held before the first and after the last keyframe, linear in between; no keyframes
        // give an empty rectangle.
        Resolved resolvedRect(std::int64_t atSourceMs) const noexcept;

        friend bool operator==(const Mask &, const Mask &) = default;
    };

    struct Caption {
        std::string id;
        std::int64_t startMs = 0; // inclusive
        std::int64_t endMs = 0;   // inclusive
        std::string text;
        std::optional<double> scale;
        friend bool operator==(const Caption &, const Caption &) = default;
    };

    struct Zoom {
        std::int64_t startMs = 0;
        std::int64_t durationMs = 0;
        double scale = 2;
        int source = 1;                      // 0 for an automatic zoom
        double centerX = 0.5, centerY = 0.5; // fractions of the source, origin top-left
        friend bool operator==(const Zoom &, const Zoom &) = default;
    };

    struct CameraBlock {
        std::string id;
        std::int64_t startMs = 0;
        std::int64_t endMs = 0; // inclusive
        WebcamPosition position = WebcamPosition::cornerBR;
        WebcamShape shape = WebcamShape::circle;
        double size = 0.22;
        friend bool operator==(const CameraBlock &, const CameraBlock &) = default;
    };

    // A source range removed from the output.
    struct Cut {
        std::int64_t startMs = 0;
        std::int64_t endMs = 0; // exclusive
        friend bool operator==(const Cut &, const Cut &) = default;
    };

    // A source range played at another speed (2 = twice as fast).
    struct SpeedRange {
        std::int64_t startMs = 0;
        std::int64_t endMs = 0; // exclusive
        double rate = 1;
        friend bool operator==(const SpeedRange &, const SpeedRange &) = default;
    };

    struct WallpaperPreset {
        std::string id;
        int kind = 0; // 0 to 2 generated, 3 resource picture
        std::vector<std::string> colors;
        std::optional<std::string> pictureName;
        friend bool operator==(const WallpaperPreset &, const WallpaperPreset &) = default;
    };

    Scene scene;
    std::int64_t trimStartMs = 0;
    std::optional<std::int64_t> trimEndMs; // exclusive; absent = to the end
    std::vector<Cut> cuts;
    std::vector<SpeedRange> speeds;
    std::vector<Zoom> zooms;
    std::vector<Caption> captions;
    std::vector<Mask> masks;
    std::vector<CameraBlock> cameraBlocks;

    const Scene &effectiveScene() const noexcept { return scene; }

    // `Edits.default`: the document used when none is stored (`default` is a C++ keyword).
    static const Edits &defaults();
    // The ordered, non-empty list of built-in wallpaper presets.
    static const std::vector<WallpaperPreset> &wallpaperPresets();

    // True when exporting with this document would give the recording back unchanged.
    bool isPassthroughEligible(std::int64_t sourceDurationMs) const;

    // JSON coding; `source` names the file in error messages.
    static Result<Edits> decode(std::string_view json, const std::string &source);
    std::string encode() const;
    // Like encode, but fails, naming `source` and the member, when a number is not finite
    // (JSON cannot hold one); write() uses this.
    Result<std::string> encodeChecked(const std::string &source) const;
    static Result<Edits> read(const std::filesystem::path &file);
    // The recording folder's "edits.json": nullopt when there is none, an error naming the file,
    // member and problem when it exists but cannot be read or decoded.
    static Result<std::optional<Edits>> readFromRecording(const std::filesystem::path &directory);
    static constexpr const char *fileName = "edits.json";
    // Atomic: a temporary file in the same folder, flushed, then renamed over the target.
    Status write(const std::filesystem::path &file) const;

    friend bool operator==(const Edits &, const Edits &) = default;
};

// Raw values of the document's enumerations, as stored in "edits.json".
std::string_view rawValue(Edits::BackgroundKind v) noexcept;
std::string_view rawValue(Edits::ChromeStyle v) noexcept;
std::string_view rawValue(Edits::WebcamPosition v) noexcept;
std::string_view rawValue(Edits::WebcamShape v) noexcept;
std::string_view rawValue(Edits::ClickEffect v) noexcept;
std::string_view rawValue(Edits::CursorShape v) noexcept;
std::string_view rawValue(Edits::BadgePosition v) noexcept;
std::string_view rawValue(Edits::MaskStyle v) noexcept;

} // namespace qv
