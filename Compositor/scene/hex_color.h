// Colour texts of the edit document.
#pragma once

#include <string_view>

namespace qv::SceneRenderer {

// Six hexadecimal digits with an optional leading "#" to straight RGB in 0..1; anything else
// is black.
struct RGB {
    double r = 0, g = 0, b = 0;
    friend bool operator==(const RGB &, const RGB &) = default;
};
RGB hexColor(std::string_view text) noexcept;

} // namespace qv::SceneRenderer
