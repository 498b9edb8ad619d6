// meta.json reader: any bytes give a value or an error, never a crash; an accepted value keeps
// the reader's own guarantees and survives being written and read again.
#include "fuzz_check.h"
#include "interfaces/persistence/recording.h"
#include "interfaces/persistence/window_crop.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto meta = qv::RecordingMeta::decode(qv::fuzz::text(data, size), "meta.json");
    if (!meta) return 0;
    QV_FUZZ_CHECK(meta->durationMs >= 0);
    QV_FUZZ_CHECK(meta->width > 0 && meta->height > 0);
    QV_FUZZ_CHECK(qv::isContainedFileName(meta->id));
    QV_FUZZ_CHECK(!meta->windowCropFile || qv::isContainedFileName(*meta->windowCropFile));
    const auto again = qv::RecordingMeta::decode(meta->encode(), "meta.json");
    QV_FUZZ_CHECK(again && *again == *meta);
    return 0;
}
