#include "Compositor/scene/hex_color.h"

#include <cctype>

namespace qv::SceneRenderer {

RGB hexColor(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    if (text.size() != 6) return {};
    unsigned value = 0;
    for (char c : text) {
        const unsigned char uc = static_cast<unsigned char>(c);
        if (!std::isxdigit(uc)) return {};
        value = value * 16 + (std::isdigit(uc) ? uc - '0' : (std::tolower(uc) - 'a' + 10));
    }
    return {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0};
}

} // namespace qv::SceneRenderer
