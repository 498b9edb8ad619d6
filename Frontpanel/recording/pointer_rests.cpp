#include "Frontpanel/recording/pointer_rests.h"

#include "platform/core/atomic_file.h"

#include <algorithm>

namespace qv::frontpanel {

std::vector<CursorFile::Sample> withPointerRests(const std::vector<CursorFile::Sample> &samples) {
    std::vector<CursorFile::Sample> out;
    out.reserve(samples.size());
    for (const CursorFile::Sample &s : samples) {
        if (!out.empty()) {
            const CursorFile::Sample last = out.back();
            if (s.tMs - last.tMs > kPointerRestMs && (last.x != s.x || last.y != s.y)) {
                CursorFile::Sample held = last;
                held.tMs = std::max(s.tMs - kPointerHoldMs, last.tMs + 1);
                out.push_back(std::move(held));
            }
        }
        out.push_back(s);
    }
    return out;
}

Status markPointerRests(const std::filesystem::path &folder) {
    std::error_code ec;
    if (!std::filesystem::exists(folder / CursorFile::fileName, ec)) return Ok{};
    auto file = CursorFile::load(folder);
    if (!file) return file.error();
    file->samples = withPointerRests(file->samples);
    auto json = file->encode();
    if (!json) return json.error();
    return platform::writeFileAtomically(folder / CursorFile::fileName, *json);
}

} // namespace qv::frontpanel
