// Zoom scale and centre as a function of source time. Each zoom eases in, holds and eases out
// (the curve is documented in docs/formats.md). Immutable value.
#pragma once

#include "interfaces/persistence/edits.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

class ZoomPath {
public:
    struct Transform {
        double scale = 1;
        double cx = 0, cy = 0; // source-screen pixels, origin top-left
        friend bool operator==(const Transform &, const Transform &) = default;
    };

    ZoomPath() = default;
    ZoomPath(std::vector<Edits::Zoom> zooms, Size screenSize);

    // Absent outside every zoom.
    std::optional<Transform> transform(std::int64_t atSourceMs) const noexcept;
    bool hasZoom() const noexcept { return !zooms_.empty(); }
    const std::vector<Edits::Zoom> &zooms() const noexcept { return zooms_; }

    // Length of the ease at each end of a zoom of the given duration.
    static std::int64_t easeMs(std::int64_t durationMs) noexcept;

    friend bool operator==(const ZoomPath &, const ZoomPath &) = default;

private:
    std::vector<Edits::Zoom> zooms_; // ascending start
    Size screenSize_;
};

} // namespace qv
