// Window-crop reader: an accepted file samples to drawable rectangles at any time, the sample
// is the last one at or before that time, and the file survives being written and read again.
#include "fuzz_check.h"
#include "interfaces/persistence/window_crop.h"

#include <vector>

namespace {

using qv::fuzz::drawable;
using qv::fuzz::saturatingAdd;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
// Bounds the per-input work on files with very many samples.
constexpr std::size_t kSampledEntries = 128;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto crop = qv::WindowCrop::decode(qv::fuzz::text(data, size), "crop.json");
    if (!crop) return 0;
    QV_FUZZ_CHECK(crop->captureWidth > 0 && crop->captureHeight > 0);
    QV_FUZZ_CHECK(!crop->samples.empty());

    std::vector<std::int64_t> times{kMin, -1, 0, kMax};
    for (std::size_t i = 0; i < crop->samples.size() && i < kSampledEntries; ++i) {
        const std::int64_t t = crop->samples[i].tMs;
        times.insert(times.end(), {saturatingAdd(t, -1), t, saturatingAdd(t, 1)});
    }
    const auto &first = crop->samples.front();
    for (std::int64_t t : times) {
        const auto s = crop->sample(t);
        QV_FUZZ_CHECK(drawable(s.x) && drawable(s.y));
        QV_FUZZ_CHECK(drawable(s.width) && drawable(s.height));
        QV_FUZZ_CHECK(s.width >= 0 && s.height >= 0);
        QV_FUZZ_CHECK(s.tMs <= t || s == first);
    }

    const auto canonical = crop->canonicalSize();
    QV_FUZZ_CHECK(canonical.has_value());
    QV_FUZZ_CHECK(drawable(canonical->width) && drawable(canonical->height));
    QV_FUZZ_CHECK(canonical->width >= 0 && canonical->height >= 0);

    const auto again = qv::WindowCrop::decode(crop->encode(), "crop.json");
    QV_FUZZ_CHECK(again && *again == *crop);
    return 0;
}
