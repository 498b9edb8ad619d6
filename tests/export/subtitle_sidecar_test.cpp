// The caption file: cue order, times and text, byte for byte.
#include "Outfitter/subtitle_sidecar.h"

#include "export_fixtures.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

Edits::Caption caption(std::int64_t start, std::int64_t end, std::string text) {
    return {"", start, end, std::move(text), std::nullopt};
}

TEST(SubtitleSidecar, CuesAreSortedStablyNumberedAndTrimmed) {
    const std::vector<Edits::Caption> captions = {
        caption(5000, 6000, "third"),
        caption(1000, 2000, "  first\n"),
        caption(3000, 3500, " \t\n"),
        caption(1000, 1500, "second\nline two"),
        caption(7000, 7000, "\u00a0last\u2003"),
    };
    EXPECT_EQ(SubtitleSidecar::document(captions),
              "1\n00:00:01,000 --> 00:00:02,000\nfirst\n\n"
              "2\n00:00:01,000 --> 00:00:01,500\nsecond\nline two\n\n"
              "3\n00:00:05,000 --> 00:00:06,000\nthird\n\n"
              "4\n00:00:07,000 --> 00:00:07,001\nlast\n\n");
}

TEST(SubtitleSidecar, CueTimes) {
    EXPECT_EQ(SubtitleSidecar::cueTime(3723004), "01:02:03,004");
    EXPECT_EQ(SubtitleSidecar::cueTime(0), "00:00:00,000");
    EXPECT_EQ(SubtitleSidecar::cueTime(100 * 3600000LL + 5), "100:00:00,005");
    // An end not after the start lasts a millisecond; a cue wholly before 0 is 0 to 0.
    EXPECT_EQ(SubtitleSidecar::document({caption(5000, 4000, "x")}),
              "1\n00:00:05,000 --> 00:00:05,001\nx\n\n");
    EXPECT_EQ(SubtitleSidecar::document({caption(-500, -200, "x")}),
              "1\n00:00:00,000 --> 00:00:00,000\nx\n\n");
    EXPECT_EQ(SubtitleSidecar::document({caption(-500, 200, "x")}),
              "1\n00:00:00,000 --> 00:00:00,200\nx\n\n");
}

TEST(SubtitleSidecar, Trimming) {
    EXPECT_EQ(SubtitleSidecar::trimmed(" \r\n a b \n "), "a b");
    EXPECT_EQ(SubtitleSidecar::trimmed("\u3000\u2028é\u00a0"), "é");
    EXPECT_EQ(SubtitleSidecar::trimmed("   "), "");
    EXPECT_EQ(SubtitleSidecar::trimmed(""), "");
    EXPECT_EQ(SubtitleSidecar::trimmed("line\nbreak"), "line\nbreak");
}

TEST(SubtitleSidecar, WritesBesideTheMovieOrNotAtAll) {
    testing::TempDir dir;
    const auto movie = dir.path() / "demo.mp4";
    ASSERT_TRUE(SubtitleSidecar::write({caption(0, 10, "hi")}, movie));
    EXPECT_EQ(testing::slurp(dir.path() / "demo.srt"), "1\n00:00:00,000 --> 00:00:00,010\nhi\n\n");
    // Only blank captions: nothing is written and the old file stays.
    EXPECT_TRUE(SubtitleSidecar::write({caption(0, 10, " \n")}, movie));
    EXPECT_EQ(testing::slurp(dir.path() / "demo.srt"), "1\n00:00:00,000 --> 00:00:00,010\nhi\n\n");
    EXPECT_TRUE(SubtitleSidecar::write({}, dir.path() / "other.mp4"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "other.srt"));
    // A folder that does not exist: nothing, and an error naming the file.
    auto failed = SubtitleSidecar::write({caption(0, 10, "hi")}, dir.path() / "missing" / "x.mp4");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message.rfind((dir.path() / "missing" / "x.srt").string() + ": ", 0),
              0u)
        << failed.error().message;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    // No temporary files are left over.
    int files = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1);
}

} // namespace
} // namespace qv

namespace qv {
namespace {

// Captions are stored in source time; the file's cues are on the edited timeline.
struct TimelineCase {
    const char *name;
    std::string edits; // edits.json members, without braces
    std::int64_t sourceDurationMs;
    std::vector<std::pair<std::int64_t, std::int64_t>> captions; // source ms
    std::vector<std::pair<std::int64_t, std::int64_t>> cues;     // timeline ms
};

void PrintTo(const TimelineCase &c, std::ostream *os) {
    *os << c.name;
}

class CaptionsOnTimeline : public ::testing::TestWithParam<TimelineCase> {};

TEST_P(CaptionsOnTimeline, MapThroughTrimsCutsAndSpeeds) {
    const TimelineCase &c = GetParam();
    auto edits = Edits::decode("{" + c.edits + "}", "edits.json");
    ASSERT_TRUE(edits) << edits.error().message;
    std::vector<Edits::Caption> captions;
    for (auto [start, end] : c.captions) captions.push_back(caption(start, end, "x"));
    const auto mapped = SubtitleSidecar::captionsOnTimeline(
        captions, SegmentMap::make(*edits, c.sourceDurationMs), c.sourceDurationMs);
    std::vector<std::pair<std::int64_t, std::int64_t>> cues;
    for (const auto &m : mapped) cues.emplace_back(m.startMs, m.endMs);
    EXPECT_EQ(cues, c.cues);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptionsOnTimeline,
    ::testing::Values(
        TimelineCase{"Unedited",
                     "",
                     10000,
                     {{1000, 2000}, {9500, 12000}, {15000, 16000}},
                     {{1000, 2000}, {9500, 12000}, {15000, 16000}}},
        // A one-second trim and a 1.4 s cut: cues move earlier by what was removed before them.
        TimelineCase{"TrimAndCut",
                     R"("trimStartMs": 1000, "cuts": [{"startMs": 2000, "endMs": 3400}])",
                     10000,
                     {{1500, 1800}, {4000, 5000}, {500, 900}, {2100, 3000}},
                     {{500, 800}, {1600, 2600}}},
        TimelineCase{"CutInsideCaption",
                     R"("cuts": [{"startMs": 2000, "endMs": 3000}])",
                     10000,
                     {{1000, 4000}},
                     {{1000, 2000}, {2000, 3000}}},
        TimelineCase{"ClippedToTheKeptRange",
                     R"("trimStartMs": 1000, "trimEndMs": 5000)",
                     10000,
                     {{500, 1500}, {4500, 7000}, {6000, 7000}},
                     {{0, 500}, {3500, 4000}}},
        // Twice as fast from 2 s to 4 s: that stretch takes one second of output.
        TimelineCase{"SpeedChange",
                     R"("speeds": [{"startMs": 2000, "endMs": 4000, "rate": 2}])",
                     10000,
                     {{1000, 3000}, {4000, 5000}, {2500, 2500}},
                     {{1000, 2500}, {3000, 4000}, {2250, 2251}}},
        TimelineCase{"PastTheEndWhenTrimmed", R"("trimEndMs": 8000)", 10000, {{9000, 9500}}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qv
