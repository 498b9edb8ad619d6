// Documents written by someone else, or by nobody sane: every reader turns them into an error
// that names the file and member, never a crash, and every consumer of a document it accepted
// stays defined.
#include "interfaces/persistence/edits.h"
#include "interfaces/persistence/recording.h"
#include "interfaces/persistence/segment_map.h"
#include "interfaces/persistence/window_crop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace qv {
namespace {

struct Reader {
    const char *name;
    const char *valid; // a valid document with "@" where a number goes
    std::function<Result<bool>(const std::string &)> decode;
};

template <class T> std::function<Result<bool>(const std::string &)> decoder() {
    return [](const std::string &json) -> Result<bool> {
        auto r = T::decode(json, "doc.json");
        if (!r) return r.error();
        return true;
    };
}

const Reader readers[] = {
    {"meta", R"({"id":"r","durationMs":@,"width":64,"height":48})", decoder<RecordingMeta>()},
    {"edits", R"({"trimStartMs":@})", decoder<Edits>()},
    {"window crop",
     R"({"captureWidth":64,"captureHeight":48,"samples":[{"tMs":@,"x":0,"y":0,"width":10,"height":10}]})",
     decoder<WindowCrop>()},
};

std::string with(const char *pattern, const std::string &number) {
    std::string s = pattern;
    s.replace(s.find('@'), 1, number);
    return s;
}

TEST(HostileInput, NumbersBeyondRangeAreErrorsInEveryReader) {
    for (const Reader &r : readers) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(r.decode(with(r.valid, "1000")))
            << r.decode(with(r.valid, "1000")).error().message;
        // Too large for a double, in a known member and in one the reader does not know.
        for (const std::string &doc :
             {with(r.valid, "1e400"), with(r.valid, "1000").insert(1, R"("future":-1e400,)"),
              with(r.valid, "9223372036854775807"), with(r.valid, "1e300"),
              with(r.valid, "18446744073709551615")}) {
            SCOPED_TRACE(doc);
            auto result = r.decode(doc);
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().message.rfind("doc.json: ", 0), 0u) << result.error().message;
        }
    }
}

TEST(HostileInput, GeometryMustFitInSinglePrecision) {
    const std::string crop =
        R"({"captureWidth":64,"captureHeight":48,"samples":[{"tMs":0,"x":0,"y":0,"width":10,"height":1e39}]})";
    auto r = WindowCrop::decode(crop, "crop.json");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().message.find("samples[0].height"), std::string::npos) << r.error().message;
    auto e = Edits::decode(R"({"scene":{"shadowBlur":1e39}})", "edits.json");
    ASSERT_FALSE(e);
    EXPECT_NE(e.error().message.find("scene.shadowBlur"), std::string::npos) << e.error().message;
}

TEST(HostileInput, TheTimeMapSaturatesInsteadOfOverflowing) {
    constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    Edits edits;
    edits.speeds = {{10, huge, 0.001}, {0, 10, 1000}};
    edits.cuts = {{huge - 5, huge}};
    const SegmentMap map = SegmentMap::make(edits, huge);
    EXPECT_GT(map.timelineDurationMs(), 0);
    std::int64_t previous = std::numeric_limits<std::int64_t>::min();
    for (std::int64_t t : {std::int64_t(0), std::int64_t(1), std::int64_t(1000), huge / 4, huge / 2,
                           huge - 1, huge}) {
        const std::int64_t source = map.sourceTime(t);
        EXPECT_GE(source, previous) << t;
        EXPECT_GE(source, 0);
        EXPECT_LT(source, huge);
        previous = source;
    }
}

TEST(HostileInput, MaskKeyframesOneMillisecondApartAtExtremeTimesStayFinite) {
    // 2^53 and 2^53 + 1 are the same double: the fraction between them must not be 0 / 0.
    constexpr std::int64_t t = std::int64_t(1) << 53;
    const Edits::Mask mask{
        "m", 0, t + 1, Edits::MaskStyle::solid, {{t, 0, 0, 0.5, 0.5}, {t + 1, 1, 1, 0.5, 0.5}}};
    for (std::int64_t at : {t - 1, t, t + 1}) {
        const auto r = mask.resolvedRect(at);
        EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y)) << at;
        EXPECT_GE(r.x, 0);
        EXPECT_LE(r.x, 1);
    }
}

} // namespace
} // namespace qv
