// The three track-file readers, each given the same bytes: an accepted file holds drawable
// positions and survives being written and read again.
#include "Handtrace/track_files.h"
#include "fuzz_check.h"

namespace {

using qv::fuzz::drawable;

template <class Record> void checkPosition(const Record &r) {
    QV_FUZZ_CHECK(drawable(r.x) && drawable(r.y));
    QV_FUZZ_CHECK(drawable(r.screenW) && drawable(r.screenH));
}

template <class File> void checkRoundTrip(const File &file) {
    const auto text = file.encode();
    QV_FUZZ_CHECK(text.ok());
    const auto again = File::decode(*text);
    QV_FUZZ_CHECK(again && *again == file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text = qv::fuzz::text(data, size);

    if (const auto clicks = qv::ClicksFile::decode(text)) {
        for (const auto &c : clicks->clicks) checkPosition(c);
        checkRoundTrip(*clicks);
    }
    if (const auto cursor = qv::CursorFile::decode(text)) {
        for (const auto &s : cursor->samples) checkPosition(s);
        checkRoundTrip(*cursor);
    }
    if (const auto keys = qv::KeysFile::decode(text)) checkRoundTrip(*keys);
    return 0;
}
