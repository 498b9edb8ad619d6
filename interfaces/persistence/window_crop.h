// Where the live window lay inside the capture over time, for window recordings.
// Immutable value.
#pragma once

#include "platform/core/document_file.h"
#include "platform/core/geometry.h"
#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct WindowCrop {
    struct Sample {
        std::int64_t tMs = 0;
        double x = 0, y = 0, width = 0, height = 0; // capture pixels, origin top-left
        friend bool operator==(const Sample &, const Sample &) = default;
    };

    int captureWidth = 0;
    int captureHeight = 0;
    std::optional<std::string> canvasMode; // "initial" or "maxObserved"
    std::vector<Sample> samples;           // ascending tMs, at least one

    // The last sample at or before the time (the first before the first); the whole capture
    // when there are no samples.
    Sample sample(std::int64_t atSourceMs) const noexcept;
    // "maxObserved": the largest width and height seen; otherwise the first sample's size.
    std::optional<Size> canonicalSize() const noexcept;
    bool isMaxObserved() const noexcept { return canvasMode == std::string("maxObserved"); }

    static Result<WindowCrop> decode(std::string_view json, const std::string &source);
    std::string encode() const;
    // Absent when the file is missing, unreadable or its name leaves the folder.
    static std::optional<WindowCrop> read(const std::filesystem::path &directory,
                                          const std::string &fileName);
    // Like read, with the reason when it fails.
    static Result<WindowCrop> load(const std::filesystem::path &directory,
                                   const std::string &fileName);

    friend bool operator==(const WindowCrop &, const WindowCrop &) = default;
};

// True when a file name read from a document stays inside its folder: not empty, not absolute,
// no "." or ".." component, no separators.
using platform::isContainedFileName;

} // namespace qv
