// The source frames of a composition's output frames, in any order, and the decoder under them.
#include "platform/media/composition_frame_source.h"
#include "platform/media/movie_writer.h"
#include "platform/media/video_source.h"

#include "export_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <random>

namespace qv::platform::media {
namespace {

using testing::capture;
using testing::haveCommand;
using testing::probeValue;
using testing::TempDir;

constexpr int kWidth = 64, kHeight = 32;

// Frame i is grey 8 × (i % 30) on the left half and 8 × (i / 30) on the right, so its pixels
// name it. A key frame every `keyInterval` frames gives the seeks something to find.
void writeNumberedVideo(const std::filesystem::path &file, int frames, int fps, int keyInterval) {
    MovieWriter::Settings s;
    s.width = kWidth;
    s.height = kHeight;
    s.frameDuration = {1, fps};
    s.video = {"libx264",
               "nv12",
               {{"preset", "ultrafast"}, {"qp", "0"}, {"g", std::to_string(keyInterval)}},
               "",
               1};
    auto writer = MovieWriter::create(file, s);
    ASSERT_TRUE(writer) << writer.error().message;
    auto frame = PixelBuffer::create(kWidth, kHeight, PixelFormat::bgra8);
    for (int i = 0; i < frames; ++i) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                std::uint8_t *p = frame->row(y) + 4 * x;
                p[0] = p[1] = p[2] = std::uint8_t(8 * (x < kWidth / 2 ? i % 30 : i / 30));
                p[3] = 255;
            }
        ASSERT_TRUE((*writer)->appendVideo(*frame));
    }
    ASSERT_TRUE((*writer)->finish());
}

int numberOf(const PixelBuffer &pb) {
    const auto level = [&](int x) {
        return int(std::lround(pb.row(kHeight / 2)[4 * x + 1] / 8.0));
    };
    return level(kWidth / 4) + 30 * level(3 * kWidth / 4);
}

std::vector<std::uint8_t> pixelsOf(const PixelBuffer &pb) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < pb.height(); ++y)
        out.insert(out.end(), pb.row(y), pb.row(y) + 4 * pb.width());
    return out;
}

class TrackInstruction final : public VideoCompositionInstruction {
public:
    TrackInstruction(TimeRange range, std::vector<TrackID> tracks)
        : range_(range), tracks_(std::move(tracks)) {}
    TimeRange timeRange() const override { return range_; }
    bool enablePostProcessing() const override { return false; }
    bool containsTweening() const override { return true; }
    std::optional<std::vector<TrackID>> requiredSourceTrackIDs() const override { return tracks_; }
    TrackID passthroughTrackID() const override { return invalidTrackID; }

private:
    TimeRange range_;
    std::vector<TrackID> tracks_;
};

// A 10 fps source of 40 frames; the composition plays its first 1.5 s, cuts to 2.5 s and plays
// on to its end, at 30 frames a second: 90 output frames.
struct CutComposition {
    Asset asset;
    VideoComposition composition;

    explicit CutComposition(const std::filesystem::path &file, Time frameDuration = {1, 30}) {
        asset.durationMs = 3000;
        asset.tracks.push_back(
            {1, MediaType::video, file, {{0, 1500, 1, 0, 1500}, {2500, 4000, 1, 1500, 1500}}});
        composition.renderSize = {kWidth, kHeight};
        composition.frameDuration = frameDuration;
        composition.instructions = {std::make_shared<TrackInstruction>(
            TimeRange{{0, 1000}, {3000, 1000}}, std::vector<TrackID>{1})};
    }
};

TEST(CompositionFrameSource, AnyOrderGivesTheSamePicturesAsForward) {
    TempDir dir;
    writeNumberedVideo(dir.path() / "v.mp4", 40, 10, 8);
    CutComposition cut(dir.path() / "v.mp4");
    auto opened = CompositionFrameSource::open(cut.asset, cut.composition);
    ASSERT_TRUE(opened) << opened.error().message;
    CompositionFrameSource &source = *opened.value();
    ASSERT_EQ(source.frameCount(), 90);

    std::vector<std::vector<std::uint8_t>> forward;
    for (std::int64_t i = 0; i < source.frameCount(); ++i) {
        auto frame = source.frame(i);
        ASSERT_TRUE(frame) << frame.error().message;
        EXPECT_EQ(frame->index, i);
        EXPECT_EQ(frame->time, (Time{i, 30}));
        ASSERT_TRUE(frame->instruction);
        ASSERT_EQ(frame->sources.size(), 1u);
        // Output frame 3 starts at 100 ms exactly, where source frame 1 starts: that one shows.
        const std::int64_t sourceMs = cut.asset.tracks[0].sourceTimeMs(i * 1000 / 30);
        EXPECT_EQ(numberOf(*frame->sources.at(1)), sourceMs / 100) << "output frame " << i;
        forward.push_back(pixelsOf(*frame->sources.at(1)));
    }

    std::vector<std::int64_t> descending(forward.size()), shuffled(forward.size());
    std::iota(descending.rbegin(), descending.rend(), 0);
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
    for (const auto &order : {descending, shuffled}) {
        for (std::int64_t i : order) {
            auto frame = source.frame(i);
            ASSERT_TRUE(frame) << frame.error().message;
            EXPECT_EQ(pixelsOf(*frame->sources.at(1)), forward[i]) << "output frame " << i;
        }
    }
}

// A source asked first for a frame far into the file seeks there instead of decoding from the
// start, and still goes back for earlier frames, also when the first frame it decoded was a key
// frame (output frame 66 shows source frame 32, a key frame).
TEST(CompositionFrameSource, AFirstFrameFarInAndThenEarlierOnes) {
    TempDir dir;
    writeNumberedVideo(dir.path() / "v.mp4", 40, 10, 8);
    CutComposition cut(dir.path() / "v.mp4");
    std::vector<std::vector<std::uint8_t>> forward;
    {
        auto opened = CompositionFrameSource::open(cut.asset, cut.composition);
        ASSERT_TRUE(opened) << opened.error().message;
        for (std::int64_t i = 0; i < (*opened)->frameCount(); ++i) {
            auto frame = (*opened)->frame(i);
            ASSERT_TRUE(frame) << frame.error().message;
            forward.push_back(pixelsOf(*frame->sources.at(1)));
        }
    }
    for (const std::int64_t first : {85, 66, 60}) {
        auto opened = CompositionFrameSource::open(cut.asset, cut.composition);
        ASSERT_TRUE(opened) << opened.error().message;
        for (const std::int64_t i : {first, std::int64_t{0}, first - 1, std::int64_t{10}}) {
            auto frame = (*opened)->frame(i);
            ASSERT_TRUE(frame) << frame.error().message;
            EXPECT_EQ(pixelsOf(*frame->sources.at(1)), forward[i])
                << "first " << first << ", then output frame " << i;
        }
    }
}

TEST(CompositionFrameSource, FrameOnScreenAtEachOutputMillisecond) {
    TempDir dir;
    writeNumberedVideo(dir.path() / "v.mp4", 40, 10, 8);
    struct Case {
        Time frameDuration;
        std::int64_t ms, frame;
    };
    // 30 fps: frame 1 starts at 33.3 ms, within millisecond 33; frame 3 at 100 ms exactly.
    // 10 fps: frame 3 starts at 300 ms exactly and is the frame of that millisecond.
    const Case cases[] = {{{1, 30}, -5, 0},    {{1, 30}, 0, 0},     {{1, 30}, 32, 0},
                          {{1, 30}, 33, 1},    {{1, 30}, 99, 2},    {{1, 30}, 100, 3},
                          {{1, 30}, 2999, 89}, {{1, 30}, 9000, 89}, {{1, 10}, 299, 2},
                          {{1, 10}, 300, 3},   {{1, 10}, 2999, 29}, {{1001, 30000}, 1001, 30}};
    for (const Case &c : cases) {
        CutComposition cut(dir.path() / "v.mp4", c.frameDuration);
        auto source = CompositionFrameSource::open(cut.asset, cut.composition);
        ASSERT_TRUE(source) << source.error().message;
        EXPECT_EQ((*source)->frameIndexAt(c.ms), c.frame)
            << c.ms << " ms at " << c.frameDuration.value << "/" << c.frameDuration.timescale;
    }
}

TEST(CompositionFrameSource, NamesWhatTheCompositionLacks) {
    TempDir dir;
    writeNumberedVideo(dir.path() / "v.mp4", 40, 10, 8);
    {
        CutComposition cut(dir.path() / "v.mp4");
        cut.composition.instructions = {std::make_shared<TrackInstruction>(
            TimeRange{{0, 1000}, {3000, 1000}}, std::vector<TrackID>{7})};
        auto source = CompositionFrameSource::open(cut.asset, cut.composition, "out.mp4");
        ASSERT_FALSE(source);
        EXPECT_EQ(source.error().message, "out.mp4: the composition has no video track 7");
    }
    {
        CutComposition cut(dir.path() / "v.mp4");
        cut.composition.instructions = {std::make_shared<TrackInstruction>(
            TimeRange{{0, 1000}, {1000, 1000}}, std::vector<TrackID>{1})};
        auto source = CompositionFrameSource::open(cut.asset, cut.composition);
        ASSERT_TRUE(source) << source.error().message;
        EXPECT_TRUE((*source)->frame(29));
        auto frame = (*source)->frame(31);
        ASSERT_FALSE(frame);
        EXPECT_EQ(frame.error().message, "no instruction covers the frame at 00:01.033");
        EXPECT_FALSE((*source)->frame(90));
        EXPECT_FALSE((*source)->frame(-1));
    }
    {
        CutComposition cut(dir.path() / "missing.mp4");
        auto source = CompositionFrameSource::open(cut.asset, cut.composition);
        ASSERT_FALSE(source);
        EXPECT_NE(source.error().message.find("missing.mp4"), std::string::npos)
            << source.error().message;
    }
}

// A full-range 4:2:0 picture (yuvj420p) keeps its levels: luma 20 and 235 stay 20 and 235
// rather than being stretched as limited range (to about 5 and 255).
TEST(SequentialVideoSource, DecodesFullRangePicturesAsFullRange) {
    if (!haveCommand("ffmpeg") || !haveCommand("ffprobe"))
        GTEST_SKIP() << "the ffmpeg command is needed to make a full-range movie";
    TempDir dir;
    const auto raw = dir.path() / "picture.yuv", movie = dir.path() / "full.mp4";
    {
        std::ofstream out(raw, std::ios::binary);
        std::vector<char> luma(kWidth * kHeight), chroma(kWidth * kHeight / 2, char(128));
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) luma[y * kWidth + x] = char(x < kWidth / 2 ? 20 : 235);
        for (int frame = 0; frame < 3; ++frame) {
            out.write(luma.data(), std::streamsize(luma.size()));
            out.write(chroma.data(), std::streamsize(chroma.size()));
        }
    }
    capture("ffmpeg -v error -y -f rawvideo -pix_fmt yuvj420p -s 64x32 -r 10 -i '" + raw.string() +
            "' -c:v libx264 -qp 0 -pix_fmt yuvj420p '" + movie.string() + "'");
    ASSERT_EQ(probeValue(movie, "-select_streams v:0", "stream=pix_fmt"), "yuvj420p");
    auto source = SequentialVideoSource::open(movie);
    ASSERT_TRUE(source) << source.error().message;
    for (std::int64_t ms : {0, 150, 250}) {
        auto frame = (*source)->frameAt(ms);
        ASSERT_TRUE(frame) << frame.error().message;
        const std::uint8_t *dark = (*frame)->row(16) + 4 * 8, *light = (*frame)->row(16) + 4 * 56;
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(dark[c], 20, 1) << ms << " ms";
            EXPECT_NEAR(light[c], 235, 1) << ms << " ms";
        }
    }
}

} // namespace
} // namespace qv::platform::media
