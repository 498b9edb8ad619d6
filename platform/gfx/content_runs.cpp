#include "platform/gfx/device.h"

#include <cstring>

namespace qv::platform::gfx {

std::shared_ptr<const ContentRuns> computeContentRuns(const PixelBuffer &buffer) {
    if (buffer.format() != PixelFormat::bgra8) return nullptr;
    auto runs = std::make_shared<ContentRuns>();
    runs->rowStart.reserve(static_cast<std::size_t>(buffer.height()) + 1);
    for (int y = 0; y < buffer.height(); ++y) {
        runs->rowStart.push_back(static_cast<std::uint32_t>(runs->runs.size()));
        const std::uint8_t *row = buffer.row(y);
        int start = -1;
        for (int x = 0; x < buffer.width(); ++x) {
            std::uint32_t px;
            std::memcpy(&px, row + 4 * x, 4);
            if (px && start < 0) start = x;
            if (!px && start >= 0) {
                runs->runs.emplace_back(start, x);
                start = -1;
            }
        }
        if (start >= 0) runs->runs.emplace_back(start, buffer.width());
    }
    runs->rowStart.push_back(static_cast<std::uint32_t>(runs->runs.size()));
    return runs;
}

} // namespace qv::platform::gfx
